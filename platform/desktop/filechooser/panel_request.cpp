#include "panel_request.hpp"

#include <cerrno>
#include <cstdlib>

namespace pw::desktop {

namespace {

// Larger fields than this are refused rather than allocated: no request or answer comes near it.
constexpr unsigned long kMaxFieldBytes = 16UL * 1024 * 1024;

const char* flag(bool value) { return value ? "1" : "0"; }

bool parseFlag(const std::string& value, bool* out) {
    if (value != "0" && value != "1") return false;
    *out = value == "1";
    return true;
}

void addText(PanelFields& fields, const char* key, const std::optional<std::string>& value) {
    if (value) fields.emplace_back(key, *value);
}

}  // namespace

std::string encodeFields(const PanelFields& fields) {
    std::string out;
    for (const auto& [key, value] : fields) {
        out += key;
        out += '\t';
        out += std::to_string(value.size());
        out += '\n';
        out += value;
        out += '\n';
    }
    return out;
}

std::optional<PanelFields> decodeFields(const std::string& bytes) {
    PanelFields fields;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t tab = bytes.find('\t', at);
        if (tab == std::string::npos || tab == at) return std::nullopt;
        const std::size_t eol = bytes.find('\n', tab);
        if (eol == std::string::npos) return std::nullopt;
        const std::string key = bytes.substr(at, tab - at);
        if (key.find('\n') != std::string::npos) return std::nullopt;
        const std::string digits = bytes.substr(tab + 1, eol - tab - 1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        errno = 0;
        const unsigned long length = std::strtoul(digits.c_str(), nullptr, 10);
        if (errno != 0 || length > kMaxFieldBytes) return std::nullopt;
        const std::size_t start = eol + 1;
        if (bytes.size() - start < length + 1 || bytes[start + length] != '\n') return std::nullopt;
        fields.emplace_back(key, bytes.substr(start, length));
        at = start + length + 1;
    }
    return fields;
}

std::string encodeRequest(const PanelRequest& request) {
    PanelFields fields;
    fields.emplace_back("kind", request.kind == PanelKind::Save ? "save" : "open");
    addText(fields, "title", request.title);
    addText(fields, "prompt", request.prompt);
    addText(fields, "name-label", request.nameFieldLabel);
    addText(fields, "name", request.nameFieldValue);
    addText(fields, "directory", request.directory);
    addText(fields, "file", request.filePath);
    fields.emplace_back("files", flag(request.canChooseFiles));
    fields.emplace_back("directories", flag(request.canChooseDirectories));
    fields.emplace_back("multiple", flag(request.allowMultipleSelections));
    fields.emplace_back("create-directories", flag(request.canCreateDirectories));
    for (const std::string& type : request.fileTypes) fields.emplace_back("type", type);
    return encodeFields(fields);
}

std::optional<PanelRequest> decodeRequest(const std::string& bytes) {
    const auto fields = decodeFields(bytes);
    if (!fields) return std::nullopt;
    PanelRequest request;
    bool haveKind = false;
    for (const auto& [key, value] : *fields) {
        bool ok = true;
        if (key == "kind") {
            ok = value == "open" || value == "save";
            request.kind = value == "save" ? PanelKind::Save : PanelKind::Open;
            haveKind = true;
        } else if (key == "title") {
            request.title = value;
        } else if (key == "prompt") {
            request.prompt = value;
        } else if (key == "name-label") {
            request.nameFieldLabel = value;
        } else if (key == "name") {
            request.nameFieldValue = value;
        } else if (key == "directory") {
            request.directory = value;
        } else if (key == "file") {
            request.filePath = value;
        } else if (key == "files") {
            ok = parseFlag(value, &request.canChooseFiles);
        } else if (key == "directories") {
            ok = parseFlag(value, &request.canChooseDirectories);
        } else if (key == "multiple") {
            ok = parseFlag(value, &request.allowMultipleSelections);
        } else if (key == "create-directories") {
            ok = parseFlag(value, &request.canCreateDirectories);
        } else if (key == "type") {
            request.fileTypes.push_back(value);
        } else {
            ok = false;
        }
        if (!ok) return std::nullopt;
    }
    if (!haveKind) return std::nullopt;
    return request;
}

std::string encodeAnswer(const PanelAnswer& answer) {
    PanelFields fields;
    fields.emplace_back("accepted", flag(answer.accepted));
    for (const std::string& path : answer.paths) fields.emplace_back("path", path);
    addText(fields, "selected-type", answer.selectedType);
    return encodeFields(fields);
}

std::optional<PanelAnswer> decodeAnswer(const std::string& bytes) {
    const auto fields = decodeFields(bytes);
    if (!fields) return std::nullopt;
    PanelAnswer answer;
    bool haveAccepted = false;
    for (const auto& [key, value] : *fields) {
        if (key == "accepted") {
            if (!parseFlag(value, &answer.accepted)) return std::nullopt;
            haveAccepted = true;
        } else if (key == "path") {
            answer.paths.push_back(value);
        } else if (key == "selected-type") {
            answer.selectedType = value;
        } else {
            return std::nullopt;
        }
    }
    // An accepted panel names at least one file; anything else is a broken answer.
    if (!haveAccepted || answer.accepted == answer.paths.empty()) return std::nullopt;
    return answer;
}

}  // namespace pw::desktop
