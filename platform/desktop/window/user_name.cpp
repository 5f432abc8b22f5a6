#include "user_name.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace desktop {

std::string fullNameFromGecos(const char* gecos, const char* login) {
    std::string name;
    if (gecos) name.assign(gecos, std::strcspn(gecos, ","));
    if (name.find_first_not_of(' ') == std::string::npos) name = login ? login : "";
    return name;
}

std::string currentUserFullName() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0) size = 16384;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    passwd entry{};
    passwd* found = nullptr;
    // ERANGE: an entry larger than the system's hint; grow and ask again.
    while (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (!found) return std::string();
    return fullNameFromGecos(found->pw_gecos, found->pw_name);
}

}  // namespace desktop
