// The current user's full name from the password database: the first comma-separated field of
// the GECOS entry (the others hold office and telephone), or the login name when that field is
// empty. The bytes are the database's own; the caller makes them safe for its consumer.
//
// Thread safety: any thread (getpwuid_r).
#pragma once

#include <string>

namespace desktop {

std::string fullNameFromGecos(const char* gecos, const char* login);

// Empty when the effective user has no password entry.
std::string currentUserFullName();

}  // namespace desktop
