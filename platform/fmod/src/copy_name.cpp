#include <algorithm>
#include <cstring>

#include "services.hpp"

namespace pw {

void copyName(const std::string& text, char* buffer, int size) {
    if (!buffer || size <= 0) return;
    const size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

}  // namespace pw
