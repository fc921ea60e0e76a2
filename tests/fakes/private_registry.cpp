#include "fakes/private_registry.h"

#ifdef _WIN32
#include "platform/win32/win32_support.h"

#include <aclapi.h>

#include "platform/registry_hive.h"

namespace ktr::testing {
using platform::to_utf8;
using platform::to_wide;

namespace {

const char* const kTestsKey = "Software\\Ktrsvc tests\\";

HKEY system_root(uint32_t root) {
    switch (root) {
    case platform::kHkeyCurrentUserRoot: return HKEY_CURRENT_USER;
    case platform::kHkeyLocalMachineRoot: return HKEY_LOCAL_MACHINE;
    default: return HKEY_USERS;
    }
}

bool set_access(const std::string& path, ACCESS_MODE mode, DWORD rights) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, to_wide(path).c_str(), 0, READ_CONTROL | WRITE_DAC, &h)) return false;
    wchar_t everyone[] = L"EVERYONE";
    EXPLICIT_ACCESS_W entry{};
    BuildExplicitAccessWithNameW(&entry, everyone, rights, mode, NO_INHERITANCE);
    PACL acl = nullptr;
    const bool ok = SetEntriesInAclW(1, &entry, nullptr, &acl) == ERROR_SUCCESS &&
                    SetSecurityInfo(h, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, acl,
                                    nullptr) == ERROR_SUCCESS;
    if (acl) LocalFree(acl);
    RegCloseKey(h);
    return ok;
}

} // namespace

PrivateRegistry::PrivateRegistry(const std::string& name)
    : key_(kTestsKey + name), env_("KTRSVC_REGISTRY_SANDBOX", ("HKEY_CURRENT_USER\\" + key_).c_str()) {
    RegDeleteTreeW(HKEY_CURRENT_USER, to_wide(key_).c_str());
}

PrivateRegistry::~PrivateRegistry() {
    allow_all();
    RegDeleteTreeW(HKEY_CURRENT_USER, to_wide(key_).c_str());
    // The common parent goes with the last test that used it (a key with subkeys is not deleted).
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Ktrsvc tests");
}

bool PrivateRegistry::deny(uint32_t root, const std::string& path) {
    // Each hive's tree is a subkey of this one; its roots are keys named as the roots are.
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, to_wide(key_).c_str(), 0, KEY_READ, &h)) return false;
    std::vector<std::string> trees;
    wchar_t tree[256];
    DWORD size = 256;
    for (DWORD i = 0; RegEnumKeyExW(h, i, tree, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, size = 256)
        trees.push_back(to_utf8(std::wstring(tree, size)));
    RegCloseKey(h);
    bool any = false;
    for (const std::string& name : trees) {
        std::string native = key_ + "\\" + name;
        if (root == platform::kHkeyLocalMachineRoot) native += "\\HKEY_LOCAL_MACHINE";
        else native += root == platform::kHkeyCurrentUserRoot ? "\\HKEY_USERS\\.DEFAULT" : "\\HKEY_USERS";
        if (!path.empty()) native += "\\" + path;
        // A tree without the key is passed over: the key cannot be opened there.
        constexpr DWORD kRights = KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS;
        if (!set_access(native, DENY_ACCESS, kRights | KEY_NOTIFY | DELETE)) continue;
        denied_.push_back(native);
        any = true;
    }
    return any;
}

bool PrivateRegistry::deny_own(const std::string& path) {
    const std::string native = key_ + "\\" + path;
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, to_wide(native).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                        nullptr))
        return false;
    RegCloseKey(h);
    if (!set_access(native, DENY_ACCESS, KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | DELETE)) return false;
    denied_.push_back(native);
    return true;
}

void PrivateRegistry::allow_all() {
    for (const std::string& path : denied_) set_access(path, GRANT_ACCESS, KEY_ALL_ACCESS);
    denied_.clear();
}

namespace system_registry {

bool exists(uint32_t root, const std::string& path) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(system_root(root), to_wide(path).c_str(), 0, READ_CONTROL, &h)) return false;
    RegCloseKey(h);
    return true;
}

std::optional<std::pair<uint32_t, std::string>> value(uint32_t root, const std::string& path, const std::string& name) {
    DWORD type = 0, size = 0;
    const std::wstring key = to_wide(path), value_name = to_wide(name);
    if (RegGetValueW(system_root(root), key.c_str(), value_name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr,
                     &size))
        return std::nullopt;
    std::string data(size, '\0');
    if (RegGetValueW(system_root(root), key.c_str(), value_name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type,
                     data.data(), &size))
        return std::nullopt;
    data.resize(size);
    return std::pair{static_cast<uint32_t>(type), data};
}

bool set_text(uint32_t root, const std::string& path, const std::string& name, const std::wstring& text) {
    return RegSetKeyValueW(system_root(root), to_wide(path).c_str(), to_wide(name).c_str(), REG_SZ, text.c_str(),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void delete_tree(uint32_t root, const std::string& path) { RegDeleteTreeW(system_root(root), to_wide(path).c_str()); }

} // namespace system_registry
} // namespace ktr::testing
#endif
