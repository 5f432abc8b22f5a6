#include "device_table.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace pw::dev {
namespace {

constexpr int kMaxChannels = 32;  // more than any sound server takes in one stream
constexpr long kMaxRate = 1000000;

struct Token {
    std::string key;
    std::string value;
};

// Splits one line into key=value tokens after the leading kind word. Returns false with `why`
// set when the line is malformed.
bool tokenize(const std::string& line, std::string* kind, std::vector<Token>* tokens,
              std::string* why) {
    size_t i = 0;
    const size_t n = line.size();
    auto skipSpace = [&] {
        while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    };
    skipSpace();
    while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') kind->push_back(line[i++]);
    for (;;) {
        skipSpace();
        if (i >= n) return true;
        Token t;
        while (i < n && line[i] != '=' && line[i] != ' ' && line[i] != '\t') t.key.push_back(line[i++]);
        if (i >= n || line[i] != '=') {
            *why = "expected key=value, found \"" + t.key + "\"";
            return false;
        }
        if (t.key.empty()) {
            *why = "a value without a key";
            return false;
        }
        ++i;  // '='
        if (i < n && line[i] == '"') {
            ++i;
            const size_t close = line.find('"', i);
            if (close == std::string::npos) {
                *why = "unterminated quote in the value of " + t.key;
                return false;
            }
            t.value = line.substr(i, close - i);
            i = close + 1;
            if (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
                *why = "text directly after the closing quote of " + t.key;
                return false;
            }
        } else {
            while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') t.value.push_back(line[i++]);
        }
        tokens->push_back(std::move(t));
    }
}

// Whole-string integer, decimal or 0x hex.
bool parseLong(const std::string& s, long lo, long hi, long* out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 0);
    if (errno != 0 || end == s.c_str() || *end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool parseDouble(const std::string& s, double lo, double hi, double* out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || end == s.c_str() || *end != '\0' || !(v >= lo && v <= hi)) return false;
    *out = v;
    return true;
}

class Parser {
public:
    Parser(const std::string& origin, std::vector<std::string>* problems)
        : origin_(origin), problems_(problems) {}

    void line(const std::string& raw, int number, DeviceTable* table) {
        number_ = number;
        std::string text = raw;
        // A '#' outside quotes starts a comment.
        bool quoted = false;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '"') quoted = !quoted;
            if (text[i] == '#' && !quoted) {
                text.resize(i);
                break;
            }
        }
        std::string kind, why;
        std::vector<Token> tokens;
        if (!tokenize(text, &kind, &tokens, &why)) {
            report(why + "; line skipped");
            return;
        }
        if (kind.empty()) return;  // blank or comment only
        if (kind == "output") {
            output(tokens, table);
        } else if (kind == "record") {
            record(tokens, table);
        } else if (kind == "cdrom") {
            cdrom(tokens, table);
        } else {
            report("unknown entry kind \"" + kind + "\"; line skipped");
        }
    }

private:
    void report(const std::string& what) {
        if (problems_) problems_->push_back(origin_ + ":" + std::to_string(number_) + ": " + what);
    }
    void badValue(const Token& t) {
        report("bad value \"" + t.value + "\" for " + t.key + "; key skipped");
    }
    bool haveName(const std::vector<Token>& tokens) {
        for (const Token& t : tokens)
            if (t.key == "name" && !t.value.empty()) return true;
        report("entry without a name; line skipped");
        return false;
    }

    void output(const std::vector<Token>& tokens, DeviceTable* table) {
        if (!haveName(tokens)) return;
        OutputEntry e;
        bool panelGiven = false;
        long v = 0;
        for (const Token& t : tokens) {
            if (t.key == "name") {
                e.info.name = t.value;
            } else if (t.key == "channels") {
                if (parseLong(t.value, 1, kMaxChannels, &v)) e.info.channels = static_cast<int>(v);
                else badValue(t);
            } else if (t.key == "minrate") {
                if (parseLong(t.value, 0, kMaxRate, &v)) e.info.minRate = static_cast<int>(v);
                else badValue(t);
            } else if (t.key == "maxrate") {
                if (parseLong(t.value, 0, kMaxRate, &v)) e.info.maxRate = static_cast<int>(v);
                else badValue(t);
            } else if (t.key == "caps") {
                if (parseLong(t.value, 0, 0x7fffffffL, &v)) e.info.caps = static_cast<FMOD_CAPS>(v);
                else badValue(t);
            } else if (t.key == "panel") {
                if (parseLong(t.value, FMOD_SPEAKERMODE_RAW, FMOD_SPEAKERMODE_PROLOGIC, &v)) {
                    e.info.controlPanelMode = static_cast<FMOD_SPEAKERMODE>(v);
                    panelGiven = true;
                } else {
                    badValue(t);
                }
            } else if (t.key == "init") {
                if (t.value == "ok") e.init = InitOutcome::Ok;
                else if (t.value == "fail58") e.init = InitOutcome::Fail58;
                else if (t.value == "fail") e.init = InitOutcome::Fail;
                else badValue(t);
            } else if (t.key == "sink") {
                if (t.value == "discard") {
                    e.sink = SinkKind::Discard;
                } else if (t.value == "memory") {
                    e.sink = SinkKind::Memory;
                } else if (t.value.rfind("wav:", 0) == 0 && t.value.size() > 4) {
                    e.sink = SinkKind::Wav;
                    e.sinkPath = t.value.substr(4);
                } else {
                    badValue(t);
                }
            } else if (t.key == "pacing") {
                if (t.value == "realtime") e.pacing = Pacing::Realtime;
                else if (t.value == "stepped") e.pacing = Pacing::Stepped;
                else badValue(t);
            } else {
                report("unknown key \"" + t.key + "\" for an output; key skipped");
            }
        }
        if (!panelGiven) e.info.controlPanelMode = speakerModeForChannels(e.info.channels);
        for (const OutputEntry& other : table->outputs)
            if (other.info.name == e.info.name) {
                report("a second output named \"" + e.info.name + "\"; the test hooks reach only the first");
                break;
            }
        table->outputs.push_back(std::move(e));
    }

    void record(const std::vector<Token>& tokens, DeviceTable* table) {
        if (!haveName(tokens)) return;
        RecordEntry e;
        long v = 0;
        for (const Token& t : tokens) {
            if (t.key == "name") {
                e.info.name = t.value;
            } else if (t.key == "input") {
                double f = 0;
                if (t.value.rfind("sine:", 0) == 0 && parseDouble(t.value.substr(5), 0.0, 1e6, &f)) {
                    e.input = InputKind::Sine;
                    e.frequency = f;
                } else if (t.value.rfind("wav:", 0) == 0 && t.value.size() > 4) {
                    e.input = InputKind::Wav;
                    e.path = t.value.substr(4);
                } else {
                    badValue(t);
                }
            } else if (t.key == "channels") {
                if (parseLong(t.value, 1, kMaxChannels, &v)) e.info.channels = static_cast<int>(v);
                else badValue(t);
            } else if (t.key == "rate") {
                if (parseLong(t.value, 1, kMaxRate, &v)) e.info.rate = static_cast<int>(v);
                else badValue(t);
            } else {
                report("unknown key \"" + t.key + "\" for a record input; key skipped");
            }
        }
        table->records.push_back(std::move(e));
    }

    void cdrom(const std::vector<Token>& tokens, DeviceTable* table) {
        if (!haveName(tokens)) return;
        CdDriveInfo e;
        for (const Token& t : tokens) {
            if (t.key == "name") e.name = t.value;
            else if (t.key == "image") e.image = t.value;
            else report("unknown key \"" + t.key + "\" for a cdrom; key skipped");
        }
        e.empty = e.image.empty();
        table->cdroms.push_back(std::move(e));
    }

    std::string origin_;
    std::vector<std::string>* problems_;
    int number_ = 0;
};

}  // namespace

FMOD_SPEAKERMODE speakerModeForChannels(int channels) {
    switch (channels) {
        case 1: return FMOD_SPEAKERMODE_MONO;
        case 2: return FMOD_SPEAKERMODE_STEREO;
        case 4: return FMOD_SPEAKERMODE_QUAD;
        case 5: return FMOD_SPEAKERMODE_SURROUND;
        case 6: return FMOD_SPEAKERMODE_5POINT1;
        case 8: return FMOD_SPEAKERMODE_7POINT1;
        default: return FMOD_SPEAKERMODE_RAW;
    }
}

DeviceTable parseDeviceTable(const std::string& text, const std::string& origin,
                             std::vector<std::string>* problems) {
    DeviceTable table;
    Parser parser(origin, problems);
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) parser.line(line, ++number, &table);
    return table;
}

DeviceTable loadDeviceTable(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "device table %s: cannot be read; no virtual devices\n", path.c_str());
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<std::string> problems;
    DeviceTable table = parseDeviceTable(text.str(), path, &problems);
    for (const std::string& p : problems) std::fprintf(stderr, "device table %s\n", p.c_str());
    return table;
}

}  // namespace pw::dev
