// The hive as the Windows registry itself. HKEY_CURRENT_USER is opened as HKEY_USERS\.DEFAULT, never as the
// caller's own profile, so that a desktop instance, the service under the system account and ktrsvc-reg
// meet in one key. The hive argument names no file here: it only tells private trees apart when
// KTRSVC_REGISTRY_SANDBOX is set (see registry_hive.h).
//
// Every call opens its key by path and closes it again, as the file hive does: a RegKey holds no system
// handle, so a key nobody closes leaks nothing in a service that runs for months. The registry has no
// transactions that Windows and Wine both offer, so a batch collects its value writes and applies them
// together at its end; other calls inside a batch apply what is collected first.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/win32_support.h"
#include "platform/pending_error.h"
#include "platform/registry_hive.h"
#include "platform/registry_hive_base.h"
#include "platform/text.h"

namespace ktr::platform {
namespace {

// The system's text for an error number, without the line end.
std::string system_message(LONG code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                                   nullptr);
    std::string text = n ? to_utf8(std::wstring_view(buffer, n)) : std::string();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}

// Registry types whose data is UTF-16 text; the hive's callers see them as UTF-8 bytes.
bool is_text_type(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::string data_from_registry(DWORD type, const BYTE* data, DWORD size) {
    if (!is_text_type(type)) return std::string(reinterpret_cast<const char*>(data), size);
    std::wstring wide(size / sizeof(wchar_t), L'\0');
    std::memcpy(wide.data(), data, wide.size() * sizeof(wchar_t));
    return to_utf8(wide);
}

HKEY predefined_root(std::string_view name) {
    switch (registry_root_from_name(name)) {
    case kHkeyCurrentUserRoot: return HKEY_CURRENT_USER;
    case kHkeyLocalMachineRoot: return HKEY_LOCAL_MACHINE;
    case kHkeyUsersRoot: return HKEY_USERS;
    default: return nullptr;
    }
}

// The key's name in a sandbox for a hive argument: the path with its separators made one kind, since a key
// name holds no backslash. Case does not matter, key names compare without it.
std::wstring sandbox_tag(std::string_view argument) {
    std::string tag;
    for (const char c : argument) {
        const char d = c == '\\' ? '/' : c;
        if (d == '/' && !tag.empty() && tag.back() == '/') continue;
        tag.push_back(d);
    }
    if (tag.empty()) tag = "(default)";
    // A key name holds at most 255 characters: a long path keeps its end and a hash of the whole.
    if (tag.size() > 200) {
        uint64_t hash = 14695981039346656037ull;
        for (const unsigned char c : to_lower(tag)) hash = (hash ^ c) * 1099511628211ull;
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
        tag = std::string(hex) + "~" + tag.substr(tag.size() - 150);
    }
    return to_wide(tag);
}

// Where a caller's key is in the system's registry: a predefined key and a path below it.
struct NativeKey {
    HKEY top = nullptr;
    std::wstring path;
    std::string name;    // the caller's view, for messages: root name and path
    std::wstring match;  // the compare form of top and path, for collected writes
    bool implicit = false;
};

struct PendingWrite {
    NativeKey key;
    std::string value_name;
    std::wstring folded_name;
    RegValue value;
};

std::wstring fold(std::wstring text) {
    if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// The process environment itself, so that whichever runtime call set the variable, it is seen.
std::optional<std::string> sandbox_variable() {
    const wchar_t* const name = L"KTRSVC_REGISTRY_SANDBOX";
    std::wstring value(256, L'\0');
    DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (n >= value.size()) {
        value.resize(n);
        n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    }
    if (n == 0 || n >= value.size()) return std::nullopt;
    value.resize(n);
    return to_utf8(value);
}

class Win32Hive final : public detail::HiveBase {
public:
    explicit Win32Hive(const std::string& argument) { open(argument); }
    ~Win32Hive() override {
        // Writes collected by a batch that never ended are still the caller's writes.
        batch_depth_ = 0;
        apply_pending();
    }

    const std::string& file_path() const override { return location_; }

    int32_t open_key(uint32_t root, std::string_view path, RegKey& key) override {
        NativeKey native;
        if (const int32_t rc = address(root, path, native); rc != kRegOk) return rc;
        HKEY h = nullptr;
        if (const LONG rc = open_native(native, KEY_READ, h); rc != ERROR_SUCCESS)
            return rc == ERROR_FILE_NOT_FOUND ? not_found("key " + native_path(path) + " not found")
                                              : failed(rc, native);
        RegCloseKey(h);
        fill_key(root, path, key);
        return kRegOk;
    }

    int32_t create_key(uint32_t root, std::string_view path, RegKey& key) override {
        NativeKey native;
        if (const int32_t rc = address(root, path, native); rc != kRegOk) return rc;
        HKEY h = nullptr;
        const LONG rc = RegCreateKeyExW(native.top, native.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_READ | KEY_WRITE | KEY_WOW64_64KEY, nullptr, &h, nullptr);
        if (rc != ERROR_SUCCESS) return failed(rc, native);
        RegCloseKey(h);
        fill_key(root, path, key);
        return kRegOk;
    }

    int32_t query_value(const RegKey& key, std::string_view value_name, RegValue& value) override {
        NativeKey native;
        if (const int32_t rc = check_key(key, native); rc != kRegOk) return rc;
        if (const PendingWrite* w = pending_for(native, value_name)) {
            value = w->value;
            return kRegOk;
        }
        HKEY h = nullptr;
        if (const LONG rc = open_native(native, KEY_QUERY_VALUE, h); rc != ERROR_SUCCESS)
            return rc == ERROR_FILE_NOT_FOUND ? value_not_found(value_name) : failed(rc, native);
        const std::wstring wide_name = to_wide(value_name);
        std::vector<BYTE> data(256);
        DWORD type = 0;
        LONG rc;
        for (;;) {
            DWORD size = static_cast<DWORD>(data.size());
            rc = RegQueryValueExW(h, wide_name.c_str(), nullptr, &type, data.data(), &size);
            if (rc == ERROR_MORE_DATA) {
                data.resize(std::max<size_t>(size, data.size() * 2));
                continue;
            }
            if (rc == ERROR_SUCCESS) data.resize(size);
            break;
        }
        RegCloseKey(h);
        if (rc == ERROR_FILE_NOT_FOUND) return value_not_found(value_name);
        if (rc != ERROR_SUCCESS) return failed(rc, native);
        value.type = type;
        value.data = data_from_registry(type, data.data(), static_cast<DWORD>(data.size()));
        return kRegOk;
    }

    int32_t set_value(const RegKey& key, std::string_view value_name, const RegValue& value) override {
        NativeKey native;
        if (const int32_t rc = check_key(key, native); rc != kRegOk) return rc;
        if (value.type != kRegSz && value.type != kRegDword) return invalid(kRegInvalidParameter);
        HKEY h = nullptr;
        if (const LONG rc = open_native(native, KEY_SET_VALUE, h); rc != ERROR_SUCCESS)
            return rc == ERROR_FILE_NOT_FOUND ? deleted(key) : failed(rc, native);
        if (batch_depth_ > 0) {
            // The key is there and may be written: the write itself waits for the batch's end.
            RegCloseKey(h);
            pending_.push_back({std::move(native), std::string(value_name), fold(to_wide(value_name)), value});
            return kRegOk;
        }
        const LONG rc = write_value(h, value_name, value);
        RegCloseKey(h);
        if (rc == ERROR_KEY_DELETED) return deleted(key);
        if (rc != ERROR_SUCCESS) return failed(rc, native);
        return kRegOk;
    }

    int32_t delete_value(const RegKey& key, std::string_view value_name) override {
        NativeKey native;
        if (const int32_t rc = check_key(key, native); rc != kRegOk) return rc;
        apply_pending();
        HKEY h = nullptr;
        if (const LONG rc = open_native(native, KEY_SET_VALUE, h); rc != ERROR_SUCCESS)
            return rc == ERROR_FILE_NOT_FOUND ? value_not_found(value_name) : failed(rc, native);
        const LONG rc = RegDeleteValueW(h, to_wide(value_name).c_str());
        RegCloseKey(h);
        if (rc == ERROR_FILE_NOT_FOUND) return value_not_found(value_name);
        if (rc != ERROR_SUCCESS) return failed(rc, native);
        return kRegOk;
    }

    int32_t enum_values(const RegKey& key, std::vector<std::pair<std::string, RegValue>>& values) override {
        values.clear();
        NativeKey native;
        if (const int32_t rc = check_key(key, native); rc != kRegOk) return rc;
        HKEY h = nullptr;
        // A key deleted meanwhile lists nothing, as an empty one does.
        if (const LONG rc = open_native(native, KEY_QUERY_VALUE, h); rc != ERROR_SUCCESS)
            return rc == ERROR_FILE_NOT_FOUND ? kRegOk : failed(rc, native);
        std::vector<wchar_t> name(256);
        std::vector<BYTE> data(1024);
        LONG rc = ERROR_SUCCESS;
        for (DWORD index = 0;;) {
            DWORD name_size = static_cast<DWORD>(name.size());
            DWORD data_size = static_cast<DWORD>(data.size());
            DWORD type = 0;
            rc = RegEnumValueW(h, index, name.data(), &name_size, nullptr, &type, data.data(), &data_size);
            if (rc == ERROR_MORE_DATA) {
                // Neither the name nor the data says which was short: grow both to what the key holds.
                DWORD max_name = 0, max_data = 0;
                RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &max_name,
                                 &max_data, nullptr, nullptr);
                name.resize(std::max<size_t>(max_name + 1, name.size() * 2));
                data.resize(std::max<size_t>(max_data, data.size() * 2));
                continue;
            }
            if (rc != ERROR_SUCCESS) break;
            RegValue v;
            v.type = type;
            v.data = data_from_registry(type, data.data(), data_size);
            values.emplace_back(to_utf8(std::wstring_view(name.data(), name_size)), std::move(v));
            ++index;
        }
        RegCloseKey(h);
        if (rc != ERROR_NO_MORE_ITEMS) {
            values.clear();
            return rc == ERROR_KEY_DELETED ? kRegOk : failed(rc, native);
        }
        overlay_pending(native, values);
        return kRegOk;
    }

    int32_t enum_subkeys(const RegKey& key, std::vector<std::string>& names) override {
        names.clear();
        NativeKey native;
        if (const int32_t rc = check_key(key, native); rc != kRegOk) return rc;
        HKEY h = nullptr;
        if (const LONG rc = open_native(native, KEY_ENUMERATE_SUB_KEYS, h); rc != ERROR_SUCCESS)
            return rc == ERROR_FILE_NOT_FOUND ? kRegOk : failed(rc, native);
        wchar_t name[256];  // the longest key name the registry allows, and its NUL
        LONG rc = ERROR_SUCCESS;
        for (DWORD index = 0;; ++index) {
            DWORD size = 256;
            rc = RegEnumKeyExW(h, index, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (rc != ERROR_SUCCESS) break;
            names.push_back(to_utf8(std::wstring_view(name, size)));
        }
        RegCloseKey(h);
        if (rc != ERROR_NO_MORE_ITEMS) {
            names.clear();
            return rc == ERROR_KEY_DELETED ? kRegOk : failed(rc, native);
        }
        std::sort(names.begin(), names.end(),
                  [](const std::string& a, const std::string& b) { return to_lower(a) < to_lower(b); });
        return kRegOk;
    }

    int32_t delete_key(uint32_t root, std::string_view path) override {
        NativeKey native;
        if (const int32_t rc = address(root, path, native); rc != kRegOk) return rc;
        // A root, and HKEY_USERS\.DEFAULT that stands for one, is never deleted: on a real system that would
        // empty the system account's profile.
        if (native.implicit) return invalid(kRegInvalidParameter);
        apply_pending();
        // Not one change: a failure part way (a subkey that may not be deleted) leaves the rest deleted.
        const LONG rc = RegDeleteTreeW(native.top, native.path.c_str());
        if (rc == ERROR_FILE_NOT_FOUND) return not_found("key " + native_path(path) + " not found");
        if (rc != ERROR_SUCCESS) return failed(rc, native);
        return kRegOk;
    }

    bool begin_batch() override {
        if (!usable()) return false;
        ++batch_depth_;
        return true;
    }

    void end_batch() override {
        if (batch_depth_ == 0) return;
        if (--batch_depth_ == 0) apply_pending();
    }

private:
    void open(const std::string& argument) {
        const std::optional<std::string> sandbox = sandbox_variable();
        if (!sandbox) {
            location_ = "HKEY_USERS\\.DEFAULT";
            HKEY h = nullptr;
            const LONG rc = RegOpenKeyExW(HKEY_USERS, L".DEFAULT", 0, KEY_READ | KEY_WOW64_64KEY, &h);
            if (rc != ERROR_SUCCESS) return broken(rc);
            RegCloseKey(h);
            users_ = {HKEY_USERS, L""};
            machine_ = {HKEY_LOCAL_MACHINE, L""};
            clear_pending_error();
            return;
        }
        // A private tree per hive argument: HKEY_USERS and HKEY_LOCAL_MACHINE as keys of their own.
        std::string tree = *sandbox;
        while (!tree.empty() && tree.back() == '\\') tree.pop_back();
        const size_t slash = tree.find('\\');
        const HKEY top = predefined_root(std::string_view(tree).substr(0, slash));
        std::wstring base = slash == std::string::npos ? std::wstring() : to_wide(tree.substr(slash + 1));
        if (!base.empty()) base += L'\\';
        base += sandbox_tag(argument);
        location_ = registry_root_name(registry_root_from_name(tree.substr(0, slash))) + "\\" + to_utf8(base);
        if (!top) {
            location_ = tree;
            status_ = kRegCantOpen;
            status_text_ = "KTRSVC_REGISTRY_SANDBOX names no registry root";
            set_pending_error(status_, describe(location_, status_text_));
            return;
        }
        sandbox_ = true;
        users_ = {top, base + L"\\HKEY_USERS"};
        machine_ = {top, base + L"\\HKEY_LOCAL_MACHINE"};
        for (const std::wstring& made : {users_.second + L"\\.DEFAULT", machine_.second}) {
            HKEY h = nullptr;
            const LONG rc = RegCreateKeyExW(top, made.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            KEY_READ | KEY_WRITE | KEY_WOW64_64KEY, nullptr, &h, nullptr);
            if (rc != ERROR_SUCCESS) return broken(rc);
            RegCloseKey(h);
        }
        clear_pending_error();
    }

    void broken(LONG rc) {
        status_ = rc == ERROR_ACCESS_DENIED ? kRegAccessDenied : kRegCantOpen;
        status_text_ = system_message(rc);
        set_pending_error(status_, describe(location_, status_text_));
    }

    bool usable() {
        if (status_ == kRegOk) return true;
        set_pending_error(status_, describe(location_, status_text_));
        return false;
    }

    static std::string describe(const std::string& where, const std::string& what) {
        return "registry " + where + ": " + what;
    }

    static std::string native_path(std::string_view path) {
        while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
        while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
        return std::string(path);
    }

    int32_t resolve(uint32_t root, std::string_view path, NativeKey& out) const {
        const std::string trimmed = native_path(path);
        if (trimmed.find("\\\\") != std::string::npos) return kRegInvalidParameter;
        std::pair<HKEY, std::wstring> base;
        std::wstring rest = to_wide(trimmed);
        switch (root) {
        case kHkeyCurrentUserRoot:
            base = users_;
            rest = rest.empty() ? std::wstring(L".DEFAULT") : L".DEFAULT\\" + rest;
            break;
        case kHkeyUsersRoot: base = users_; break;
        case kHkeyLocalMachineRoot: base = machine_; break;
        default: return kRegInvalidParameter;
        }
        out.top = base.first;
        out.path = base.second;
        if (!out.path.empty() && !rest.empty()) out.path += L'\\';
        out.path += rest;
        out.name = registry_root_name(root) + (trimmed.empty() ? "" : "\\" + trimmed);
        const std::wstring folded_rest = fold(rest);
        out.implicit = folded_rest.empty() || (root != kHkeyLocalMachineRoot && folded_rest == L".DEFAULT");
        out.match = std::to_wstring(reinterpret_cast<uintptr_t>(out.top)) + L":" + fold(out.path);
        return kRegOk;
    }

    LONG open_native(const NativeKey& native, REGSAM access, HKEY& h) {
        LONG rc = RegOpenKeyExW(native.top, native.path.c_str(), 0, access | KEY_WOW64_64KEY, &h);
        // A sandbox's own HKEY_USERS\.DEFAULT is always there, as the system's is.
        if (rc == ERROR_FILE_NOT_FOUND && sandbox_ && native.implicit)
            rc = RegCreateKeyExW(native.top, native.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 access | KEY_WOW64_64KEY, nullptr, &h, nullptr);
        return rc;
    }

    static LONG write_value(HKEY h, std::string_view value_name, const RegValue& value) {
        if (value.type == kRegSz) {
            const std::wstring text = to_wide(value.data);
            return RegSetValueExW(h, to_wide(value_name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                                  static_cast<DWORD>(text.size() * sizeof(wchar_t)));
        }
        return RegSetValueExW(h, to_wide(value_name).c_str(), 0, value.type,
                              reinterpret_cast<const BYTE*>(value.data.data()), static_cast<DWORD>(value.data.size()));
    }

    const PendingWrite* pending_for(const NativeKey& native, std::string_view value_name) const {
        if (pending_.empty()) return nullptr;
        const std::wstring folded = fold(to_wide(value_name));
        for (auto it = pending_.rbegin(); it != pending_.rend(); ++it)
            if (it->key.match == native.match && it->folded_name == folded) return &*it;
        return nullptr;
    }

    void overlay_pending(const NativeKey& native, std::vector<std::pair<std::string, RegValue>>& values) const {
        for (const PendingWrite& w : pending_) {
            if (w.key.match != native.match) continue;
            auto it = std::find_if(values.begin(), values.end(),
                                   [&](const auto& v) { return fold(to_wide(v.first)) == w.folded_name; });
            if (it != values.end()) it->second = w.value;
            else values.emplace_back(w.value_name, w.value);
        }
    }

    // Writes what a batch collected, one key open at a time; a failure is left in the pending error.
    void apply_pending() {
        if (batch_depth_ > 0 || pending_.empty()) {
            if (batch_depth_ == 0) pending_.clear();
            return;
        }
        std::vector<PendingWrite> writes;
        writes.swap(pending_);
        HKEY h = nullptr;
        const NativeKey* open = nullptr;
        for (const PendingWrite& w : writes) {
            if (!open || open->match != w.key.match) {
                if (h) RegCloseKey(h);
                h = nullptr;
                open = &w.key;
                if (const LONG rc = open_native(w.key, KEY_SET_VALUE, h); rc != ERROR_SUCCESS) {
                    failed(rc, w.key);
                    h = nullptr;
                    continue;
                }
            }
            if (!h) continue;
            if (const LONG rc = write_value(h, w.value_name, w.value); rc != ERROR_SUCCESS) failed(rc, w.key);
        }
        if (h) RegCloseKey(h);
    }

    // The key a root and path name, in a usable hive.
    int32_t address(uint32_t root, std::string_view path, NativeKey& native) {
        if (!usable()) return status_;
        return invalid(resolve(root, path, native));
    }

    int32_t check_key(const RegKey& key, NativeKey& native) {
        if (!usable()) return status_;
        if (!key.is_open()) return not_open();
        return invalid(resolve(key.root, key.path, native));
    }

    // A system error: its number is the hive's status number (the hive's codes are the system's own).
    int32_t failed(LONG rc, const NativeKey& native) {
        set_pending_error(static_cast<int32_t>(rc), describe(native.name, system_message(rc)));
        return static_cast<int32_t>(rc);
    }

    int32_t value_not_found(std::string_view value_name) {
        return not_found("value " + std::string(value_name) + " not found");
    }

    std::string location_;
    // Where HKEY_USERS and HKEY_LOCAL_MACHINE are: the system's own, or a sandbox's keys.
    std::pair<HKEY, std::wstring> users_{HKEY_USERS, L""};
    std::pair<HKEY, std::wstring> machine_{HKEY_LOCAL_MACHINE, L""};
    bool sandbox_ = false;
    int batch_depth_ = 0;
    std::vector<PendingWrite> pending_;
};

} // namespace

// No other program holds the registry locked: there is nothing to wait for.
void set_registry_lock_wait(int) {}

std::unique_ptr<RegistryHive> open_registry_hive(const std::string& path) {
    return std::make_unique<Win32Hive>(path);
}

} // namespace ktr::platform
