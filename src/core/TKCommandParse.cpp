// Splitting a command line into its name and arguments, and the argument conversions.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "TKCommand.h"

bool splitCommand(const char* text, CommandLine* out) {
    const std::size_t length = std::strlen(text);
    const char* open = std::strchr(text, '(');
    const std::size_t p = (open && open != text) ? static_cast<std::size_t>(open - text) : length;
    const std::size_t e = (length > 1 && text[length - 1] == ')') ? length - 1 : length;

    if (p >= kCommandTextLimit) return false;
    out->name.assign(text, p);
    out->arguments.clear();
    if (p > e || e == p + 1) return true;

    std::size_t start = p + 1;
    for (std::size_t i = p; i <= e && i < length; ++i) {
        if (text[i] != ',' && text[i] != ')') continue;
        const std::size_t size = i - start;
        if (size >= kCommandTextLimit || out->arguments.size() == kCommandMaxArguments) return false;
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
