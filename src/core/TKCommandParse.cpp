// Splitting a command line into its name and arguments, and the argument conversions.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "TKCommand.h"

namespace {

// Characters (code points) in `bytes` bytes of UTF-8: a lead byte and the continuation bytes it
// announces are one character. A byte that starts no well-formed sequence counts as a character
// of its own, so text that is not UTF-8 is never counted short.
std::size_t characters(const char* text, std::size_t bytes) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < bytes; ++count) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0xC2 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 1;
        std::size_t n = 1;
        while (n < length && i + n < bytes && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
        i += n == length ? length : 1;
    }
    return count;
}

}  // namespace

bool splitCommand(const char* text, CommandLine* out) {
    const std::size_t length = std::strlen(text);
    const char* open = std::strchr(text, '(');
    const std::size_t p = (open && open != text) ? static_cast<std::size_t>(open - text) : length;
    const std::size_t e = (length > 1 && text[length - 1] == ')') ? length - 1 : length;

    if (characters(text, p) >= kCommandTextLimit) return false;
    out->name.assign(text, p);
    out->arguments.clear();
    if (p > e || e == p + 1) return true;

    std::size_t start = p + 1;
    for (std::size_t i = p; i <= e && i < length; ++i) {
        if (text[i] != ',' && text[i] != ')') continue;
        const std::size_t size = i - start;
        if (characters(text + start, size) >= kCommandTextLimit || out->arguments.size() == kCommandMaxArguments)
            return false;
        out->arguments.emplace_back(text + start, size);
        start = i + 1;
    }
    return true;
}

int commandInt(const std::string& argument) {
    const long value = std::strtol(argument.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

double commandReal(const std::string& argument) { return std::strtod(argument.c_str(), nullptr); }

bool commandFlag(const std::string& argument) { return argument == "true"; }
