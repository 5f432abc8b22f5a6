// The full name taken from a GECOS field.
#include <gtest/gtest.h>

#include "user_name.hpp"

namespace {

TEST(FullNameFromGecos, FirstFieldOrLoginName) {
    struct Case {
        const char* gecos;
        const char* login;
        const char* name;
    } cases[] = {
        {"Ada Lovelace,Room 12,555-0100,555-0101,other", "ada", "Ada Lovelace"},
        {"Ada Lovelace", "ada", "Ada Lovelace"},
        {"Zo\xc3\xab \xc3\x85ngstr\xc3\xb6m,,", "zoe", "Zo\xc3\xab \xc3\x85ngstr\xc3\xb6m"},
        {"", "ada", "ada"},
        {",Room 12", "ada", "ada"},
        {"   ,Room 12", "ada", "ada"},
        {nullptr, "ada", "ada"},
        {nullptr, nullptr, ""},
        {"\xff\xfe raw bytes", "x", "\xff\xfe raw bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gecos ? c.gecos : "(null)");
        EXPECT_EQ(desktop::fullNameFromGecos(c.gecos, c.login), c.name);
    }
}

}  // namespace
