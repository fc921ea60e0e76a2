// A test's own registry. On Windows the hive is the system's registry, so a test points
// KTRSVC_REGISTRY_SANDBOX at HKEY_CURRENT_USER\Software\Ktrsvc tests\<name>: every hive it opens (and every
// program it runs opens) gets a private tree there, removed with everything in it when the object goes.
// Elsewhere the hive is a file in the test's temporary folder and this does nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fakes/scoped_env.h"

namespace ktr::testing {

#ifdef _WIN32
class PrivateRegistry : NoCopy {
public:
    // name: a key name of the test's own, e.g. its temporary folder's name.
    explicit PrivateRegistry(const std::string& name);
    ~PrivateRegistry();

    // The variable's value: the key all trees are under.
    const std::string& key() const { return key_; }
    // Takes every right but reading and changing the rights from everyone on a key of the hives opened so
    // far, in every tree that has it (false when none has); given back by allow_all() or at the end.
    bool deny(uint32_t root, const std::string& path);
    // Makes the subkey path of this object's key, which no one may then make subkeys in.
    bool deny_own(const std::string& path);
    void allow_all();

private:
    std::string key_;
    ScopedEnv env_;
    std::vector<std::string> denied_;  // below HKEY_CURRENT_USER
};

// The system's registry as the process itself sees it, past the hive: HKEY_CURRENT_USER is the caller's
// own profile here. Text goes in and comes out as the registry holds it (UTF-16).
namespace system_registry {
bool exists(uint32_t root, const std::string& path);
// The value's type and bytes.
std::optional<std::pair<uint32_t, std::string>> value(uint32_t root, const std::string& path, const std::string& name);
bool set_text(uint32_t root, const std::string& path, const std::string& name, const std::wstring& text);
void delete_tree(uint32_t root, const std::string& path);
} // namespace system_registry
#else
class PrivateRegistry {
public:
    explicit PrivateRegistry(const std::string&) {}
};
#endif

} // namespace ktr::testing
