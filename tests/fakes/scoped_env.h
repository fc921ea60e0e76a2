// What a test changes in the process's state, put back when the test's object goes.
#pragma once

#include <cstdlib>
#include <functional>
#include <string>

namespace ktr::testing {

// Runs the undo action at the end of the scope; the scoped helpers of the fakes build on it.
class OnScopeEnd {
public:
    explicit OnScopeEnd(std::function<void()> undo) : undo_(std::move(undo)) {}
    ~OnScopeEnd() { undo_(); }
    OnScopeEnd(const OnScopeEnd&) = delete;
    OnScopeEnd& operator=(const OnScopeEnd&) = delete;

private:
    std::function<void()> undo_;
};

// Sets (or, given nullptr, removes) an environment variable for the life of the object.
struct ScopedEnv : OnScopeEnd {
    ScopedEnv(const std::string& name, const char* value) : OnScopeEnd(restore(name)) {
        value ? ::setenv(name.c_str(), value, 1) : ::unsetenv(name.c_str());
    }
    // Puts back the value the variable has now, or removes it again.
    static std::function<void()> restore(const std::string& name) {
        if (const char* old = std::getenv(name.c_str()))
            return [name, old = std::string(old)] { ::setenv(name.c_str(), old.c_str(), 1); };
        return [name] { ::unsetenv(name.c_str()); };
    }
};

} // namespace ktr::testing
