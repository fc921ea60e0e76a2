// A test's own registry. On Windows the hive is the system's registry, so a test points
// KTRSVC_REGISTRY_SANDBOX at HKEY_CURRENT_USER\Software\Ktrsvc tests\<name> and every hive it opens gets a
// private tree there, removed with everything in it when the object goes. Elsewhere the hive is a file in
// the test's temporary folder and this does nothing.
#pragma once

#include <string>

#include "fakes/scoped_env.h"

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>

#include <vector>

#include "platform/registry_hive.h"
#endif

namespace ktr::testing {

#ifdef _WIN32
class PrivateRegistry {
public:
    // name: a key name of its own for the test, e.g. its temporary folder's name.
    explicit PrivateRegistry(const std::string& name)
        : key_(L"Software\\Ktrsvc tests\\" + wide(name)),
          env_("KTRSVC_REGISTRY_SANDBOX", ("HKEY_CURRENT_USER\\Software\\Ktrsvc tests\\" + name).c_str()) {
        RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    }
    ~PrivateRegistry() {
        allow_all();
        RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    }
    PrivateRegistry(const PrivateRegistry&) = delete;
    PrivateRegistry& operator=(const PrivateRegistry&) = delete;

    // Takes every right but reading and changing the rights from everyone on a hive's key, in every hive's
    // tree that has it (at least one); given back by allow_all() or when the object goes.
    bool deny(uint32_t root, const std::string& path) {
        bool any = false;
        for (const std::wstring& native : hive_keys(root, path)) {
            if (!set_access(native, DENY_ACCESS,
                            KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS |
                                KEY_NOTIFY | DELETE))
                continue;
            denied_.push_back(native);
            any = true;
        }
        return any;
    }
    void allow_all() {
        for (const std::wstring& path : denied_) set_access(path, GRANT_ACCESS, KEY_ALL_ACCESS);
        denied_.clear();
    }
    // The same for a key of this tree's own, below HKEY_CURRENT_USER\Software\Ktrsvc tests\<name>.
    bool deny_own(const std::string& path) {
        const std::wstring native = key_ + L"\\" + wide(path);
        HKEY h = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, native.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr))
            return false;
        RegCloseKey(h);
        if (!set_access(native, DENY_ACCESS, KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | DELETE)) return false;
        denied_.push_back(native);
        return true;
    }

    static std::wstring wide(const std::string& text) {
        std::wstring out(text.size(), L'\0');
        const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                          static_cast<int>(out.size()));
        out.resize(static_cast<size_t>(n > 0 ? n : 0));
        return out;
    }

private:
    // Each hive's tree is a subkey of this one; its roots are keys named as the roots are.
    std::vector<std::wstring> hive_keys(uint32_t root, const std::string& path) const {
        std::vector<std::wstring> found;
        HKEY h = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_READ, &h)) return found;
        wchar_t tree[256];
        DWORD size = 256;
        for (DWORD i = 0; RegEnumKeyExW(h, i, tree, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++i, size = 256) {
            std::wstring native = key_ + L"\\" + std::wstring(tree, size);
            if (root == platform::kHkeyLocalMachineRoot) native += L"\\HKEY_LOCAL_MACHINE";
            else native += root == platform::kHkeyCurrentUserRoot ? L"\\HKEY_USERS\\.DEFAULT" : L"\\HKEY_USERS";
            if (!path.empty()) native += L"\\" + wide(path);
            HKEY exists = nullptr;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, native.c_str(), 0, READ_CONTROL, &exists) == ERROR_SUCCESS) {
                RegCloseKey(exists);
                found.push_back(native);
            }
        }
        RegCloseKey(h);
        return found;
    }

    static bool set_access(const std::wstring& native, ACCESS_MODE mode, DWORD rights) {
        HKEY h = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, native.c_str(), 0, READ_CONTROL | WRITE_DAC, &h)) return false;
        wchar_t everyone[] = L"EVERYONE";
        EXPLICIT_ACCESS_W entry{};
        BuildExplicitAccessWithNameW(&entry, everyone, rights, mode, NO_INHERITANCE);
        PACL acl = nullptr;
        bool ok = SetEntriesInAclW(1, &entry, nullptr, &acl) == ERROR_SUCCESS &&
                  SetSecurityInfo(h, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr) ==
                      ERROR_SUCCESS;
        if (acl) LocalFree(acl);
        RegCloseKey(h);
        return ok;
    }

    std::wstring key_;
    ScopedEnv env_;
    std::vector<std::wstring> denied_;
};
#else
class PrivateRegistry {
public:
    explicit PrivateRegistry(const std::string&) {}
};
#endif

} // namespace ktr::testing
