// One panel request as the library hands it to the panel helper, and the helper's answer, with the
// byte format both sides of the pipe speak.
//
// Format: a sequence of fields, each "<key>\t<length>\n<length bytes>\n". Values are byte strings
// (paths are file-system bytes, texts UTF-8) and may hold any byte, newlines included; a key may
// repeat (one "type" field per file type, one "path" field per chosen file), in order.
//
// Thread safety: plain values and pure functions.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pw::desktop {

enum class PanelKind { Open, Save };

struct PanelRequest {
    PanelKind kind = PanelKind::Open;
    // Each text is unset when Java passed null.
    std::optional<std::string> title;
    std::optional<std::string> prompt;          // the accept button's label
    std::optional<std::string> nameFieldLabel;  // save panel only
    std::optional<std::string> nameFieldValue;  // save panel only: the proposed file name
    std::optional<std::string> directory;       // the folder the panel starts in
    std::optional<std::string> filePath;        // carried, never shown (see panel_dialog.cpp)
    bool canChooseFiles = false;
    bool canChooseDirectories = false;
    bool allowMultipleSelections = false;
    bool canCreateDirectories = false;
    // Open panel: the allowed types. Save panel: the entries of the type popup.
    std::vector<std::string> fileTypes;
};

struct PanelAnswer {
    bool accepted = false;
    std::vector<std::string> paths;            // in the panel's order; empty unless accepted
    std::optional<std::string> selectedType;   // the save panel's popup title, also when cancelled
};

using PanelFields = std::vector<std::pair<std::string, std::string>>;

std::string encodeFields(const PanelFields& fields);
// nullopt for bytes that are not a whole sequence of well-formed fields (a truncated answer from a
// helper that died, for example).
std::optional<PanelFields> decodeFields(const std::string& bytes);

std::string encodeRequest(const PanelRequest& request);
// nullopt when a field is missing, unknown or has a bad value.
std::optional<PanelRequest> decodeRequest(const std::string& bytes);

std::string encodeAnswer(const PanelAnswer& answer);
std::optional<PanelAnswer> decodeAnswer(const std::string& bytes);

}  // namespace pw::desktop
