// The registry hive: keys under three roots, addressed by "\"-separated paths, holding string and 32-bit
// values. Key and value names compare case-insensitively (the first spelling is kept). HKEY_CURRENT_USER
// is the same key as HKEY_USERS\.DEFAULT: one account view, as a service running under the system
// account sees it.
//
// Several processes (the module, the registry tool, the console's programs) use one hive at the same
// time. Every single call that changes the hive is atomic and durable on return; a reader sees a value
// either whole or not at all. A hive file that cannot be read (not a hive, no permission) is never
// replaced: every call fails with kRegBadDb or kRegCantOpen and the file stays as it is.
//
// On Windows the hive is the system's registry (HKEY_CURRENT_USER opened as HKEY_USERS\.DEFAULT) and the
// file argument names nothing; file_path() is "HKEY_USERS\.DEFAULT". A key that cannot be opened fails its
// calls with the system's number (kRegAccessDenied, ...). The registry writes every value at once: a batch
// holds its value writes back until its end, and nothing waits for another program. For tests, and for
// trying the module out without touching the system's keys, KTRSVC_REGISTRY_SANDBOX names a key (e.g.
// HKEY_CURRENT_USER\Software\Ktrsvc tests); every hive argument (the same file however spelled) then gets
// a tree of its own below it, <key>\<argument with / for \>\HKEY_USERS and ...\HKEY_LOCAL_MACHINE, so
// each test's temporary folder is a fresh registry that the module and tools it runs share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ktr::platform {

inline constexpr uint32_t kHkeyCurrentUserRoot = 0x80000001u;
inline constexpr uint32_t kHkeyLocalMachineRoot = 0x80000002u;
inline constexpr uint32_t kHkeyUsersRoot = 0x80000003u;

inline constexpr uint32_t kRegSz = 1;     // string: the bytes as written (writers add one NUL)
inline constexpr uint32_t kRegDword = 4;  // 32-bit number: 4 bytes, little-endian

// Status codes, the platform's own numbers.
inline constexpr int32_t kRegOk = 0;
inline constexpr int32_t kRegNotFound = 2;           // key or value missing
inline constexpr int32_t kRegAccessDenied = 5;       // read-only hive or file
inline constexpr int32_t kRegInvalidHandle = 6;      // key not open
inline constexpr int32_t kRegInvalidParameter = 87;  // bad root, empty path part, bad type
inline constexpr int32_t kRegBadDb = 1009;           // the hive file is not a hive or is damaged
inline constexpr int32_t kRegCantOpen = 1011;        // the hive file cannot be opened
inline constexpr int32_t kRegCantWrite = 1013;       // a write failed (disk full, locked too long)
inline constexpr int32_t kRegKeyDeleted = 1018;      // the open key was deleted meanwhile

struct RegValue {
    uint32_t type = kRegSz;
    std::string data;  // raw bytes

    // A string value as the registry writers store it: the text and one terminating NUL.
    static RegValue sz(std::string_view text);
    static RegValue dword(uint32_t number);
    // The text of a string value without its trailing NULs (other types: their bytes).
    std::string text() const;
    // The number of a 32-bit value (0 when the data is not 4 bytes).
    uint32_t number() const;
};

// An open key: the root and the path as given, and a number that tells open keys apart in traces.
struct RegKey {
    uint32_t root = 0;
    std::string path;
    uint32_t handle = 0;  // 0: not open
    bool is_open() const { return handle != 0; }
};

class RegistryHive {
public:
    virtual ~RegistryHive() = default;

    // kRegOk when the hive can be used; otherwise the reason all calls fail, with its text.
    virtual int32_t status() const = 0;
    virtual std::string status_text() const = 0;
    virtual const std::string& file_path() const = 0;

    // Opens an existing key (an empty path is the root itself). Fills key on success.
    virtual int32_t open_key(uint32_t root, std::string_view path, RegKey& key) = 0;
    // Opens the key, creating it and any missing parent keys.
    virtual int32_t create_key(uint32_t root, std::string_view path, RegKey& key) = 0;
    virtual void close_key(RegKey& key) = 0;

    virtual int32_t query_value(const RegKey& key, std::string_view name, RegValue& value) = 0;
    virtual int32_t set_value(const RegKey& key, std::string_view name, const RegValue& value) = 0;
    virtual int32_t delete_value(const RegKey& key, std::string_view name) = 0;
    // The key's values in the order they were first written.
    virtual int32_t enum_values(const RegKey& key, std::vector<std::pair<std::string, RegValue>>& values) = 0;
    // The names of the key's direct subkeys, sorted case-insensitively.
    virtual int32_t enum_subkeys(const RegKey& key, std::vector<std::string>& names) = 0;
    // Deletes a key with all its subkeys and values. A root itself cannot be deleted.
    virtual int32_t delete_key(uint32_t root, std::string_view path) = 0;

    // Groups the writes until the matching end_batch into one atomic commit (nesting counts). Other
    // processes wait for the hive meanwhile, so keep batches short. false when the hive is unusable or
    // busy; the writes then commit one by one.
    virtual bool begin_batch() = 0;
    virtual void end_batch() = 0;
};

// Keeps a batch open for the life of the object.
class RegistryBatch {
public:
    explicit RegistryBatch(RegistryHive& hive) : hive_(hive), active_(hive.begin_batch()) {}
    ~RegistryBatch() {
        if (active_) hive_.end_batch();
    }
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;

private:
    RegistryHive& hive_;
    bool active_;
};

// The hive file: KTRSVC_REGISTRY when set, else registry.db in the program folder.
std::string registry_file_path();

// How long an access waits for another program's transaction on the hive before it fails (busy). The
// module's one thread must never stall on it, so the default is short; a tool run by hand may wait longer.
// Applies to hives opened afterwards.
inline constexpr int kModuleLockWaitMs = 250;
void set_registry_lock_wait(int ms);

// Opens a hive file (it is created when missing; an existing file is never replaced).
std::unique_ptr<RegistryHive> open_registry_hive(const std::string& path);

// The process's hive, opened at registry_file_path() on first use.
RegistryHive& registry_hive();
// Closes the process's hive; the next registry_hive() opens it again (tests, a changed location).
void close_registry_hive();

// The root's handle value from its name: "HKEY_CURRENT_USER"/"HKCU", "HKEY_LOCAL_MACHINE"/"HKLM",
// "HKEY_USERS"/"HKU" (any case); 0 when unknown. And the full name of a root.
uint32_t registry_root_from_name(std::string_view name);
std::string registry_root_name(uint32_t root);

} // namespace ktr::platform
