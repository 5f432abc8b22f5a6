#include "loopback_table.hpp"

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

#include "refs.hpp"

namespace pw::midi {
namespace {

struct Token {
    std::string key;
    std::optional<std::string> value;  // none for a bare word
};

// Splits a line into `key`, `key=value` and `key="quoted value"` tokens; false on an open quote.
bool tokenize(const std::string& line, std::vector<Token>* tokens) {
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        if (line[i] == '#') break;
        Token token;
        while (i < line.size() && line[i] != '=' && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            token.key += line[i++];
        if (i < line.size() && line[i] == '=') {
            ++i;
            std::string value;
            if (i < line.size() && line[i] == '"') {
                const std::size_t end = line.find('"', i + 1);
                if (end == std::string::npos) return false;
                value = line.substr(i + 1, end - i - 1);
                i = end + 1;
            } else {
                while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') value += line[i++];
            }
            token.value = value;
        }
        tokens->push_back(std::move(token));
    }
    return true;
}

}  // namespace

LoopbackTable parseLoopbackTable(const std::string& text, const std::string& origin, std::vector<std::string>* problems) {
    LoopbackTable table;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    auto report = [&](const std::string& what) {
        if (problems) problems->push_back(origin + ":" + std::to_string(number) + ": " + what);
    };
    while (std::getline(lines, line)) {
        ++number;
        std::vector<Token> tokens;
        if (!tokenize(line, &tokens)) {
            report("unterminated quote, line skipped");
            continue;
        }
        if (tokens.empty()) continue;
        const std::string kind = tokens[0].key;
        if (kind == "device") {
            if (table.topology.devices.size() > kRefFieldMax) {
                report("too many devices, line skipped");
                continue;
            }
            Device device;
            device.ref = makeRef(RefKind::Device, static_cast<std::uint32_t>(table.topology.devices.size()), 0);
            for (std::size_t t = 1; t < tokens.size(); ++t) {
                const Token& token = tokens[t];
                if (!token.value) report("'" + token.key + "' needs a value");
                else if (token.key == "name") device.name = token.value;
                else if (token.key == "manufacturer") device.manufacturer = token.value;
                else if (token.key == "model") device.model = token.value;
                else if (token.key == "id") device.deviceId = token.value;
                else report("unknown key '" + token.key + "'");
            }
            table.topology.devices.push_back(std::move(device));
            table.batch.emplace_back();
        } else if (kind == "entity") {
            if (table.topology.devices.empty()) {
                report("entity before any device, line skipped");
                continue;
            }
            Device& device = table.topology.devices.back();
            if (device.entities.size() > kRefFieldMax) {
                report("too many entities, line skipped");
                continue;
            }
            const auto d = refMajor(device.ref);
            const auto e = static_cast<std::uint32_t>(device.entities.size());
            Entity entity;
            entity.ref = makeRef(RefKind::Entity, d, e);
            unsigned batch = 1;
            for (std::size_t t = 1; t < tokens.size(); ++t) {
                const Token& token = tokens[t];
                if (token.key == "source" && !token.value) entity.source = makeRef(RefKind::Source, d, e);
                else if (token.key == "destination" && !token.value) entity.destination = makeRef(RefKind::Destination, d, e);
                else if (token.key == "name" && token.value) entity.name = token.value;
                else if (token.key == "batch" && token.value) {
                    try {
                        const unsigned long n = std::stoul(*token.value);
                        if (n >= 1 && n <= 1000) batch = static_cast<unsigned>(n);
                        else report("batch out of 1..1000");
                    } catch (const std::exception&) {
                        report("batch is not a number");
                    }
                } else {
                    report("unknown or malformed key '" + token.key + "'");
                }
            }
            device.entities.push_back(std::move(entity));
            table.batch.back().push_back(batch);
        } else {
            report("unknown entry '" + kind + "', line skipped");
        }
    }
    return table;
}

LoopbackTable loadLoopbackTable(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "MIDI loopback: cannot read the device table %s\n", path.c_str());
        return LoopbackTable{};
    }
    std::ostringstream text;
    text << file.rdbuf();
    std::vector<std::string> problems;
    LoopbackTable table = parseLoopbackTable(text.str(), path, &problems);
    for (const std::string& problem : problems) std::fprintf(stderr, "MIDI loopback: %s\n", problem.c_str());
    return table;
}

}  // namespace pw::midi
