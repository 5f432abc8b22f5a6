// Sets (or unsets) an environment variable for a scope and restores the previous value after.
//
// Thread safety: the environment is process-wide and setenv is not thread-safe; create and
// destroy these while no other thread of the test reads the environment (in practice: before a
// System is created and after it is released).
#pragma once

#include <optional>
#include <string>

namespace pw::test {

class ScopedEnv {
public:
    // `value` empty-optional: unset the variable for the scope.
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace pw::test
