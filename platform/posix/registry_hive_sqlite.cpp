// The hive as one SQLite database file. WAL journal and a busy timeout let several processes read and
// write at once; synchronous=FULL makes every commit durable.
#include <sqlite3.h>

#include <map>

#include "platform/pending_error.h"
#include "platform/registry_hive.h"
#include "platform/registry_hive_base.h"
#include "platform/text.h"

namespace ktr::platform {
namespace {

int g_lock_wait_ms = kModuleLockWaitMs;

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, root INTEGER NOT NULL, path TEXT NOT NULL,"
    " folded TEXT NOT NULL, UNIQUE(root, folded));"
    "CREATE TABLE IF NOT EXISTS vals(id INTEGER PRIMARY KEY, key_id INTEGER NOT NULL, name TEXT NOT NULL,"
    " folded TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key_id, folded));";

const char* const kFindKey = "SELECT id FROM keys WHERE root=?1 AND folded=?2";
const char* const kInsertKey = "INSERT OR IGNORE INTO keys(root, path, folded) VALUES(?1, ?2, ?3)";
const char* const kQueryValue =
    "SELECT v.type, v.data FROM vals v JOIN keys k ON k.id=v.key_id WHERE k.root=?1 AND k.folded=?2"
    " AND v.folded=?3";
// One statement, so a key deleted meanwhile by another process cannot leave an orphan value.
const char* const kSetValue =
    "INSERT INTO vals(key_id, name, folded, type, data) SELECT id, ?3, ?4, ?5, ?6 FROM keys"
    " WHERE root=?1 AND folded=?2 ON CONFLICT(key_id, folded) DO UPDATE SET type=excluded.type,"
    " data=excluded.data";
const char* const kDeleteValue =
    "DELETE FROM vals WHERE folded=?3 AND key_id=(SELECT id FROM keys WHERE root=?1 AND folded=?2)";
const char* const kEnumValues =
    "SELECT v.name, v.type, v.data FROM vals v JOIN keys k ON k.id=v.key_id WHERE k.root=?1 AND k.folded=?2"
    " ORDER BY v.id";
const char* const kEnumSubkeys =
    "SELECT path, folded FROM keys WHERE root=?1 AND folded<>'' AND substr(folded, 1, length(?2))=?2"
    " ORDER BY folded";
const char* const kDeleteTreeValues =
    "DELETE FROM vals WHERE key_id IN (SELECT id FROM keys WHERE root=?1 AND (folded=?2 OR"
    " substr(folded, 1, length(?3))=?3))";
const char* const kDeleteTreeKeys =
    "DELETE FROM keys WHERE root=?1 AND (folded=?2 OR substr(folded, 1, length(?3))=?3)";

// A key's place in the table: HKEY_CURRENT_USER is stored under HKEY_USERS\.DEFAULT.
struct KeyName {
    int64_t root = 0;
    std::string path;    // as spelled, without outer backslashes
    std::string folded;  // the compare form
};

// The roots and HKEY_USERS\.DEFAULT always exist; their rows are made when first needed.
bool implicit_key(const KeyName& name) {
    return name.folded.empty() || (name.root == kHkeyUsersRoot && name.folded == ".default");
}

int32_t resolve(uint32_t root, std::string_view path, KeyName& out) {
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    if (path.find("\\\\") != std::string_view::npos) return kRegInvalidParameter;
    std::string full;
    switch (root) {
    case kHkeyCurrentUserRoot:
        out.root = kHkeyUsersRoot;
        full = ".DEFAULT";
        if (!path.empty()) full += '\\';
        break;
    case kHkeyLocalMachineRoot:
    case kHkeyUsersRoot: out.root = root; break;
    default: return kRegInvalidParameter;
    }
    full += path;
    out.path = std::move(full);
    out.folded = to_lower(out.path);
    return kRegOk;
}

class Statement {
public:
    explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
    ~Statement() {
        if (stmt_) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return stmt_ != nullptr; }
    void bind(int index, int64_t v) { sqlite3_bind_int64(stmt_, index, v); }
    void bind(int index, std::string_view text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void bind_blob(int index, std::string_view bytes) {
        sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    }
    int step() { return sqlite3_step(stmt_); }
    int64_t column_int(int i) { return sqlite3_column_int64(stmt_, i); }
    std::string column_bytes(int i) {
        const void* p = sqlite3_column_blob(stmt_, i);
        const int n = sqlite3_column_bytes(stmt_, i);
        return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
    }

private:
    sqlite3_stmt* stmt_;
};

class SqliteHive final : public detail::HiveBase {
public:
    explicit SqliteHive(std::string path) : path_(std::move(path)) { open(); }
    ~SqliteHive() override {
        for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
        if (db_) sqlite3_close_v2(db_);
    }

    const std::string& file_path() const override { return path_; }

    int32_t open_key(uint32_t root, std::string_view path, RegKey& key) override {
        KeyName name;
        if (const int32_t rc = address(root, path, name); rc != kRegOk) return rc;
        // A root (and HKEY_CURRENT_USER's .DEFAULT) always exists.
        if (!implicit_key(name)) {
            int64_t id = 0;
            const int32_t rc = find_key(name, id);
            if (rc != kRegOk) return rc;
        }
        fill_key(root, path, key);
        return kRegOk;
    }

    int32_t create_key(uint32_t root, std::string_view path, RegKey& key) override {
        KeyName name;
        if (const int32_t rc = address(root, path, name); rc != kRegOk) return rc;
        if (!begin_write()) return report_db();
        int rc = SQLITE_DONE;
        size_t pos = 0;
        // Every ancestor gets its own row so that enumeration finds it.
        while (rc == SQLITE_DONE) {
            pos = name.path.find('\\', pos);
            const size_t len = pos == std::string::npos ? name.path.size() : pos;
            Statement st(prepare(kInsertKey));
            if (!st.ok()) {
                rc = SQLITE_ERROR;
                break;
            }
            st.bind(1, name.root);
            st.bind(2, std::string_view(name.path).substr(0, len));
            st.bind(3, std::string_view(name.folded).substr(0, len));
            rc = st.step();
            if (pos == std::string::npos) break;
            ++pos;
        }
        if (rc != SQLITE_DONE) {
            rollback_write();
            return report_db();
        }
        if (!commit_write()) return report_db();
        fill_key(root, path, key);
        return kRegOk;
    }

    int32_t query_value(const RegKey& key, std::string_view value_name, RegValue& value) override {
        KeyName name;
        if (const int32_t rc = check_key(key, name); rc != kRegOk) return rc;
        Statement st(prepare(kQueryValue));
        if (!st.ok()) return report_db();
        st.bind(1, name.root);
        st.bind(2, name.folded);
        st.bind(3, to_lower(value_name));
        const int rc = st.step();
        if (rc == SQLITE_DONE) return not_found("value " + std::string(value_name) + " not found");
        if (rc != SQLITE_ROW) return report_db();
        value.type = static_cast<uint32_t>(st.column_int(0));
        value.data = st.column_bytes(1);
        return kRegOk;
    }

    int32_t set_value(const RegKey& key, std::string_view value_name, const RegValue& value) override {
        KeyName name;
        if (const int32_t rc = check_key(key, name); rc != kRegOk) return rc;
        if (value.type != kRegSz && value.type != kRegDword) return invalid(kRegInvalidParameter);
        if (!begin_write()) return report_db();
        // The implicit keys get their row when they first hold a value.
        if (implicit_key(name)) {
            Statement ins(prepare(kInsertKey));
            if (!ins.ok()) return fail_write();
            ins.bind(1, name.root);
            ins.bind(2, name.path);
            ins.bind(3, name.folded);
            if (ins.step() != SQLITE_DONE) return fail_write();
        }
        Statement st(prepare(kSetValue));
        if (!st.ok()) return fail_write();
        st.bind(1, name.root);
        st.bind(2, name.folded);
        st.bind(3, value_name);
        st.bind(4, to_lower(value_name));
        st.bind(5, static_cast<int64_t>(value.type));
        st.bind_blob(6, value.data);
        if (st.step() != SQLITE_DONE) return fail_write();
        if (sqlite3_changes(db_) == 0) {
            rollback_write();
            return deleted(key);
        }
        if (!commit_write()) return report_db();
        return kRegOk;
    }

    int32_t delete_value(const RegKey& key, std::string_view value_name) override {
        KeyName name;
        if (const int32_t rc = check_key(key, name); rc != kRegOk) return rc;
        Statement st(prepare(kDeleteValue));
        if (!st.ok()) return report_db();
        st.bind(1, name.root);
        st.bind(2, name.folded);
        st.bind(3, to_lower(value_name));
        if (st.step() != SQLITE_DONE) return report_db();
        if (sqlite3_changes(db_) == 0) return not_found("value " + std::string(value_name) + " not found");
        return kRegOk;
    }

    int32_t enum_values(const RegKey& key, std::vector<std::pair<std::string, RegValue>>& values) override {
        values.clear();
        KeyName name;
        if (const int32_t rc = check_key(key, name); rc != kRegOk) return rc;
        Statement st(prepare(kEnumValues));
        if (!st.ok()) return report_db();
        st.bind(1, name.root);
        st.bind(2, name.folded);
        int rc;
        while ((rc = st.step()) == SQLITE_ROW) {
            RegValue v;
            v.type = static_cast<uint32_t>(st.column_int(1));
            v.data = st.column_bytes(2);
            values.emplace_back(st.column_bytes(0), std::move(v));
        }
        if (rc != SQLITE_DONE) return report_db();
        return kRegOk;
    }

    int32_t enum_subkeys(const RegKey& key, std::vector<std::string>& names) override {
        names.clear();
        KeyName name;
        if (const int32_t rc = check_key(key, name); rc != kRegOk) return rc;
        const std::string prefix = name.folded.empty() ? std::string() : name.folded + "\\";
        Statement st(prepare(kEnumSubkeys));
        if (!st.ok()) return report_db();
        st.bind(1, name.root);
        st.bind(2, prefix);
        int rc;
        while ((rc = st.step()) == SQLITE_ROW) {
            const std::string path = st.column_bytes(0);
            const std::string rest = path.substr(prefix.size());
            if (!rest.empty() && rest.find('\\') == std::string::npos) names.push_back(rest);
        }
        if (rc != SQLITE_DONE) return report_db();
        return kRegOk;
    }

    int32_t delete_key(uint32_t root, std::string_view path) override {
        KeyName name;
        if (const int32_t rc = address(root, path, name); rc != kRegOk) return rc;
        if (name.folded.empty()) return invalid(kRegInvalidParameter);
        if (!begin_write()) return report_db();
        int64_t id = 0;
        if (const int32_t rc = find_key(name, id); rc != kRegOk) {
            rollback_write();
            return rc;
        }
        const std::string prefix = name.folded + "\\";
        for (const char* sql : {kDeleteTreeValues, kDeleteTreeKeys}) {
            Statement st(prepare(sql));
            if (!st.ok()) return fail_write();
            st.bind(1, name.root);
            st.bind(2, name.folded);
            st.bind(3, prefix);
            if (st.step() != SQLITE_DONE) return fail_write();
        }
        if (!commit_write()) return report_db();
        return kRegOk;
    }

    bool begin_batch() override {
        if (!usable()) return false;
        if (batch_depth_ == 0 && !exec("BEGIN IMMEDIATE")) {
            // The failure is the caller's to ignore: the writes then commit one by one.
            return false;
        }
        ++batch_depth_;
        return true;
    }

    void end_batch() override {
        if (batch_depth_ == 0) return;
        if (--batch_depth_ == 0 && !exec("COMMIT")) exec("ROLLBACK");
    }

private:
    void open() {
        const int rc = sqlite3_open_v2(path_.c_str(), &db_,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            broken(kRegCantOpen, db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
            return;
        }
        sqlite3_extended_result_codes(db_, 0);
        sqlite3_busy_timeout(db_, g_lock_wait_ms);
        // A read-only file can still be read: the mode switch then fails and writes report access denied.
        exec("PRAGMA journal_mode=WAL");
        if (!usable()) return;
        exec("PRAGMA synchronous=FULL");
        if (!usable()) return;
        if (!exec(kSchema)) {
            if (!usable()) return;
            Statement st(prepare("SELECT id FROM keys LIMIT 0"));
            if (!st.ok()) {
                if (usable()) broken(kRegCantOpen, sqlite3_errmsg(db_));
                return;
            }
        }
        // Damage behind a good header shows only when the pages are read.
        sqlite3_stmt* check = nullptr;
        if (sqlite3_prepare_v2(db_, "PRAGMA quick_check(1)", -1, &check, nullptr) == SQLITE_OK) {
            const int step = sqlite3_step(check);
            std::string result;
            if (step == SQLITE_ROW && sqlite3_column_text(check, 0))
                result = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
            sqlite3_finalize(check);
            if (step == SQLITE_ROW && result != "ok") broken(kRegBadDb, "database disk image is malformed");
            else if (step != SQLITE_ROW) classify(step);
        }
        clear_pending_error();
    }

    bool usable() {
        if (status_ == kRegOk) return true;
        set_pending_error(status_, describe(status_text_));
        return false;
    }

    // The key a root and path name, in a usable hive.
    int32_t address(uint32_t root, std::string_view path, KeyName& name) {
        if (!usable()) return status_;
        return invalid(resolve(root, path, name));
    }

    std::string describe(const std::string& what) const { return "registry " + path_ + ": " + what; }

    void broken(int32_t code, std::string text) {
        status_ = code;
        status_text_ = std::move(text);
        set_pending_error(status_, describe(status_text_));
    }

    // Sorts an SQLite failure into a status; damage makes the hive unusable for good.
    int32_t classify(int rc) {
        const std::string text = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        int32_t code = kRegCantWrite;
        switch (rc & 0xFF) {
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT: broken(kRegBadDb, text); return kRegBadDb;
        case SQLITE_CANTOPEN: code = kRegCantOpen; break;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH: code = kRegAccessDenied; break;
        default: break;
        }
        set_pending_error(code, describe(text));
        return code;
    }

    int32_t report_db() {
        if (!usable()) return status_;
        return classify(sqlite3_errcode(db_));
    }

    bool exec(const char* sql) {
        char* msg = nullptr;
        const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &msg);
        sqlite3_free(msg);
        if (rc == SQLITE_OK) return true;
        classify(rc);
        return false;
    }

    sqlite3_stmt* prepare(const char* sql) {
        if (auto it = statements_.find(sql); it != statements_.end()) return it->second;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
            sqlite3_finalize(stmt);
            return nullptr;
        }
        statements_.emplace(sql, stmt);
        return stmt;
    }

    // Writes of more than one statement run in a transaction of their own unless a batch holds one.
    bool begin_write() { return batch_depth_ > 0 || exec("BEGIN IMMEDIATE"); }
    bool commit_write() {
        if (batch_depth_ > 0) return true;
        if (exec("COMMIT")) return true;
        const int32_t saved = pending_error().number;
        const std::string text = pending_error().description;
        exec("ROLLBACK");
        set_pending_error(saved, text);
        return false;
    }
    void rollback_write() {
        if (batch_depth_ == 0 && sqlite3_get_autocommit(db_) == 0) {
            char* msg = nullptr;
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, &msg);
            sqlite3_free(msg);
        }
    }
    int32_t fail_write() {
        const int32_t code = report_db();
        const std::string text = pending_error().description;
        rollback_write();
        set_pending_error(code, text);
        return code;
    }

    int32_t find_key(const KeyName& name, int64_t& id) {
        Statement st(prepare(kFindKey));
        if (!st.ok()) return report_db();
        st.bind(1, name.root);
        st.bind(2, name.folded);
        const int rc = st.step();
        if (rc == SQLITE_ROW) {
            id = st.column_int(0);
            return kRegOk;
        }
        if (rc == SQLITE_DONE) return not_found("key " + name.path + " not found");
        return report_db();
    }

    int32_t check_key(const RegKey& key, KeyName& name) {
        if (!usable()) return status_;
        if (!key.is_open()) return not_open();
        return invalid(resolve(key.root, key.path, name));
    }

    std::string path_;
    sqlite3* db_ = nullptr;
    int batch_depth_ = 0;
    std::map<const char*, sqlite3_stmt*> statements_;
};

} // namespace

void set_registry_lock_wait(int ms) { g_lock_wait_ms = ms; }

std::unique_ptr<RegistryHive> open_registry_hive(const std::string& path) {
    return std::make_unique<SqliteHive>(path);
}

} // namespace ktr::platform
