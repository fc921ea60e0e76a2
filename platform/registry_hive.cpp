#include "platform/registry_hive.h"

#include "platform/registry_hive_base.h"

#include "platform/files.h"
#include "platform/pending_error.h"
#include "platform/system.h"
#include "platform/text.h"

namespace ktr::platform {

RegValue RegValue::sz(std::string_view text) {
    RegValue v;
    v.type = kRegSz;
    v.data.assign(text);
    v.data.push_back('\0');
    return v;
}

RegValue RegValue::dword(uint32_t number) {
    RegValue v;
    v.type = kRegDword;
    for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<char>((number >> (8 * i)) & 0xFFu));
    return v;
}

std::string RegValue::text() const {
    size_t end = data.size();
    if (type == kRegSz)
        while (end > 0 && data[end - 1] == '\0') --end;
    return data.substr(0, end);
}

uint32_t RegValue::number() const {
    if (data.size() != 4) return 0;
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(data[static_cast<size_t>(i)]);
    return n;
}

std::string registry_file_path() {
    if (auto file = get_env("KTRSVC_REGISTRY"); file && !file->empty()) return *file;
    return join_path(program_folder(), "registry.db");
}

namespace {
std::unique_ptr<RegistryHive>& process_hive() {
    static std::unique_ptr<RegistryHive> hive;
    return hive;
}
} // namespace

RegistryHive& registry_hive() {
    auto& hive = process_hive();
    if (!hive) hive = open_registry_hive(registry_file_path());
    return *hive;
}

void close_registry_hive() { process_hive().reset(); }

uint32_t registry_root_from_name(std::string_view name) {
    const std::string upper = to_upper(name);
    if (upper == "HKEY_CURRENT_USER" || upper == "HKCU") return kHkeyCurrentUserRoot;
    if (upper == "HKEY_LOCAL_MACHINE" || upper == "HKLM") return kHkeyLocalMachineRoot;
    if (upper == "HKEY_USERS" || upper == "HKU") return kHkeyUsersRoot;
    return 0;
}

std::string registry_root_name(uint32_t root) {
    switch (root) {
    case kHkeyCurrentUserRoot: return "HKEY_CURRENT_USER";
    case kHkeyLocalMachineRoot: return "HKEY_LOCAL_MACHINE";
    case kHkeyUsersRoot: return "HKEY_USERS";
    default: return {};
    }
}

namespace detail {

int32_t HiveBase::invalid(int32_t rc) {
    if (rc != kRegOk) set_pending_error(rc, "invalid registry key or root");
    return rc;
}

int32_t HiveBase::not_found(const std::string& what) {
    set_pending_error(kRegNotFound, what);
    return kRegNotFound;
}

int32_t HiveBase::not_open() {
    set_pending_error(kRegInvalidHandle, "registry key is not open");
    return kRegInvalidHandle;
}

int32_t HiveBase::deleted(const RegKey& key) {
    set_pending_error(kRegKeyDeleted, "key " + key.path + " was deleted");
    return kRegKeyDeleted;
}

void HiveBase::fill_key(uint32_t root, std::string_view path, RegKey& key) {
    key.root = root;
    key.path.assign(path);
    key.handle = next_handle_++;
    if (next_handle_ == 0) next_handle_ = 1;
}

} // namespace detail
} // namespace ktr::platform
