// What a test changes in the process's state, put back when the test's object goes.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace ktr::testing {

// What owns a system object or undoes a change is neither copied nor moved: it would do so twice.
struct NoCopy {
    NoCopy() = default;
    NoCopy(const NoCopy&) = delete;
    NoCopy& operator=(const NoCopy&) = delete;
};

// Runs the undo action at the end of the scope; the scoped helpers of the fakes build on it.
class OnScopeEnd : NoCopy {
public:
    explicit OnScopeEnd(std::function<void()> undo) : undo_(std::move(undo)) {}
    ~OnScopeEnd() { undo_(); }

private:
    std::function<void()> undo_;
};

// Sets (or, given nullptr, removes) an environment variable of this process. On Windows the runtime's copy
// and the system's (which GetEnvironmentVariable and new processes see) change together; an empty value
// removes the variable there, as Windows keeps no empty ones.
inline void set_env(const std::string& name, const char* value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value ? value : "");
#else
    value ? ::setenv(name.c_str(), value, 1) : ::unsetenv(name.c_str());
#endif
}

struct ScopedEnv : OnScopeEnd {
    ScopedEnv(const std::string& name, const char* value) : OnScopeEnd(restore(name)) { set_env(name, value); }
    static std::function<void()> restore(const std::string& name) {
        if (const char* old = std::getenv(name.c_str()))
            return [name, old = std::string(old)] { set_env(name, old.c_str()); };
        return [name] { set_env(name, nullptr); };
    }
};

} // namespace ktr::testing
