// ktrsvc-reg: reads and edits the module's registry hive, as regedit and reg.exe do on Windows.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/pending_error.h"
#include "platform/registry_hive.h"

namespace {

using namespace ktr::platform;

constexpr const char* kUsage =
    "usage: ktrsvc-reg COMMAND ...\n"
    "  list KEY                      the key's values and subkeys\n"
    "  get KEY NAME                  one value, exactly as stored\n"
    "  set KEY NAME VALUE [--dword]  store a string (or a 32-bit number); the key is created\n"
    "  delete KEY [NAME]             delete one value, or the key with everything below it\n"
    "  export KEY                    the key and its subkeys as a REGEDIT4 file on standard output\n"
    "  import FILE                   apply a REGEDIT4 file (- for standard input)\n"
    "KEY starts with HKEY_CURRENT_USER (HKCU), HKEY_LOCAL_MACHINE (HKLM) or HKEY_USERS (HKU), e.g.\n"
    "  HKEY_USERS\\.DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Options\n"
    "The hive is KTRSVC_REGISTRY, else registry.db in KTRSVC_HOME (else the program's folder).\n";

struct Failure {
    std::string message;
};

[[noreturn]] void fail(std::string message) { throw Failure{std::move(message)}; }

struct KeyArg {
    uint32_t root = 0;
    std::string root_name;  // as written by the user, for messages
    std::string path;
};

KeyArg parse_key(const std::string& text) {
    const auto slash = text.find('\\');
    KeyArg k;
    k.root_name = text.substr(0, slash);
    k.root = registry_root_from_name(k.root_name);
    if (k.root == 0) fail("unknown root key in " + text);
    if (slash != std::string::npos) k.path = text.substr(slash + 1);
    while (!k.path.empty() && k.path.back() == '\\') k.path.pop_back();
    return k;
}

std::string full_name(uint32_t root, const std::string& path) {
    return path.empty() ? registry_root_name(root) : registry_root_name(root) + "\\" + path;
}

std::string type_name(uint32_t type) {
    if (type == kRegSz) return "REG_SZ";
    if (type == kRegDword) return "REG_DWORD";
    return "REG_" + std::to_string(type);
}

std::string shown(const RegValue& v) { return v.type == kRegDword ? std::to_string(v.number()) : v.text(); }

class Tool {
public:
    Tool() : hive_(registry_hive()) {
        if (hive_.status() != kRegOk)
            fail("registry " + hive_.file_path() + " cannot be used: " + hive_.status_text() +
                 " (the file is left as it is)");
    }

    RegKey open(const KeyArg& k) {
        RegKey key;
        const int32_t rc = hive_.open_key(k.root, k.path, key);
        if (rc == kRegNotFound) fail("key not found: " + full_name(k.root, k.path));
        if (rc != kRegOk) fail(pending_error().description);
        return key;
    }

    RegKey create(const KeyArg& k) {
        RegKey key;
        if (hive_.create_key(k.root, k.path, key) != kRegOk) fail(pending_error().description);
        return key;
    }

    std::vector<std::pair<std::string, RegValue>> values(const RegKey& key) {
        std::vector<std::pair<std::string, RegValue>> out;
        if (hive_.enum_values(key, out) != kRegOk) fail(pending_error().description);
        return out;
    }

    std::vector<std::string> subkeys(const RegKey& key) {
        std::vector<std::string> out;
        if (hive_.enum_subkeys(key, out) != kRegOk) fail(pending_error().description);
        return out;
    }

    void list(const KeyArg& k) {
        const RegKey key = open(k);
        std::cout << full_name(k.root, k.path) << "\n";
        for (const auto& [name, v] : values(key))
            std::cout << "    " << name << "    " << type_name(v.type) << "    " << shown(v) << "\n";
        for (const auto& sub : subkeys(key)) std::cout << full_name(k.root, k.path.empty() ? sub : k.path + "\\" + sub) << "\n";
    }

    void get(const KeyArg& k, const std::string& name) {
        const RegKey key = open(k);
        RegValue v;
        const int32_t rc = hive_.query_value(key, name, v);
        if (rc == kRegNotFound) fail("value not found: " + name + " in " + full_name(k.root, k.path));
        if (rc != kRegOk) fail(pending_error().description);
        std::cout << shown(v) << "\n";
    }

    void set(const KeyArg& k, const std::string& name, const std::string& text, bool dword) {
        RegValue v = RegValue::sz(text);
        if (dword) {
            char* end = nullptr;
            errno = 0;
            const long long n = std::strtoll(text.c_str(), &end, 0);
            if (text.empty() || *end != '\0' || errno != 0 || n < -2147483648LL || n > 4294967295LL)
                fail("not a 32-bit number: " + text);
            v = RegValue::dword(static_cast<uint32_t>(n));
        }
        const RegKey key = create(k);
        if (hive_.set_value(key, name, v) != kRegOk) fail(pending_error().description);
    }

    void remove(const KeyArg& k, const std::string* name) {
        if (!name) {
            if (k.path.empty()) fail("a root key cannot be deleted");
            const int32_t rc = hive_.delete_key(k.root, k.path);
            if (rc == kRegNotFound) fail("key not found: " + full_name(k.root, k.path));
            if (rc != kRegOk) fail(pending_error().description);
            return;
        }
        const RegKey key = open(k);
        const int32_t rc = hive_.delete_value(key, *name);
        if (rc == kRegNotFound) fail("value not found: " + *name + " in " + full_name(k.root, k.path));
        if (rc != kRegOk) fail(pending_error().description);
    }

    void export_key(const KeyArg& k) {
        open(k);
        std::cout << "REGEDIT4\n";
        export_tree(k.root, k.path);
    }

    void import_text(const std::string& text, const std::string& source);
    bool import_key_line(const std::string& line, const std::string& where, RegKey& key);
    void import_value_line(const std::string& line, const std::string& where, const RegKey& key);

private:
    static std::string quoted(const std::string& s) {
        std::string out = "\"";
        for (const char c : s) {
            if (c == '\\' || c == '"') out += '\\';
            out += c;
        }
        return out + "\"";
    }

    static bool plain_text(const std::string& s) {
        for (const char c : s)
            if (c == '\0' || c == '\r' || c == '\n') return false;
        return true;
    }

    static std::string hex_bytes(const std::string& data) {
        std::string out;
        char buf[4];
        for (size_t i = 0; i < data.size(); ++i) {
            std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(data[i]));
            if (i) out += ',';
            out += buf;
        }
        return out;
    }

    void export_tree(uint32_t root, const std::string& path) {
        RegKey key;
        if (hive_.open_key(root, path, key) != kRegOk) return;  // deleted meanwhile
        std::cout << "\n[" << full_name(root, path) << "]\n";
        for (const auto& [name, v] : values(key)) {
            std::cout << (name.empty() ? std::string("@") : quoted(name)) << "=";
            const std::string text = v.text();
            if (v.type == kRegDword && v.data.size() == 4) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "dword:%08x", v.number());
                std::cout << buf << "\n";
            } else if (v.type == kRegSz && plain_text(text)) {
                std::cout << quoted(text) << "\n";
            } else {
                std::cout << "hex(" << v.type << "):" << hex_bytes(v.data) << "\n";
            }
        }
        for (const auto& sub : subkeys(key)) export_tree(root, path.empty() ? sub : path + "\\" + sub);
    }

    RegistryHive& hive_;
};

// Reads a quoted .reg string starting at pos (on the opening quote); pos ends behind the closing quote.
bool read_quoted(const std::string& line, size_t& pos, std::string& out) {
    out.clear();
    if (pos >= line.size() || line[pos] != '"') return false;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '\\' && pos + 1 < line.size()) {
            out += line[++pos];
            continue;
        }
        if (c == '"') {
            ++pos;
            return true;
        }
        out += c;
    }
    return false;
}

bool parse_hex_bytes(const std::string& text, std::string& out) {
    out.clear();
    std::string digits;
    for (const char c : text) {
        if (c == ',' || c == ' ' || c == '\t') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.size() % 2 != 0) return false;
    for (size_t i = 0; i < digits.size(); i += 2)
        out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return true;
}

// The data of one value line ("text", dword:hex, hex(type):bytes); where prefixes each failure message.
RegValue parse_value_data(const std::string& data, const std::string& where) {
    RegValue v;
    if (!data.empty() && data.front() == '"') {
        std::string s;
        size_t p = 0;
        if (!read_quoted(data, p, s)) fail(where + "unclosed string");
        return RegValue::sz(s);
    }
    if (data.rfind("dword:", 0) == 0) {
        const std::string hex = data.substr(6);
        if (hex.empty() || hex.size() > 8 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            fail(where + "bad dword");
        return RegValue::dword(static_cast<uint32_t>(std::stoul(hex, nullptr, 16)));
    }
    if (data.rfind("hex(", 0) == 0) {
        const auto close = data.find("):");
        if (close == std::string::npos) fail(where + "bad hex value");
        const std::string type_text = data.substr(4, close - 4);
        if (type_text.empty() || type_text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            fail(where + "bad hex type");
        v.type = static_cast<uint32_t>(std::stoul(type_text, nullptr, 16));
        if (!parse_hex_bytes(data.substr(close + 2), v.data)) fail(where + "bad hex bytes");
        return v;
    }
    fail(where + "unsupported value: " + data);
}

void skip_blanks(const std::string& l, size_t& pos) {
    while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
}

// A "[key]" line creates the key and makes it current; "[-key]" deletes it. False: no current key.
bool Tool::import_key_line(const std::string& l, const std::string& where, RegKey& key) {
    const auto close = l.rfind(']');
    if (close == std::string::npos) fail(where + "unclosed key name");
    std::string name = l.substr(1, close - 1);
    const bool remove = !name.empty() && name.front() == '-';
    if (remove) name.erase(0, 1);
    const KeyArg current = parse_key(name);
    if (remove) {
        if (!current.path.empty()) hive_.delete_key(current.root, current.path);
        return false;
    }
    key = create(current);
    return true;
}

// A 'name'=data or @=data line under the current key; data "-" deletes the value.
void Tool::import_value_line(const std::string& l, const std::string& where, const RegKey& key) {
    size_t pos = 0;
    std::string name;
    if (l.front() == '@') {
        pos = 1;
    } else if (!read_quoted(l, pos, name)) {
        fail(where + "bad value name");
    }
    skip_blanks(l, pos);
    if (pos >= l.size() || l[pos] != '=') fail(where + "missing =");
    ++pos;
    skip_blanks(l, pos);
    const std::string data = l.substr(pos);
    if (data == "-") {
        hive_.delete_value(key, name);
        return;
    }
    if (hive_.set_value(key, name, parse_value_data(data, where)) != kRegOk)
        fail(where + pending_error().description);
}

void Tool::import_text(const std::string& text, const std::string& source) {
    std::istringstream in(text);
    std::string line;
    std::string logical;
    int line_no = 0;
    bool header_seen = false;
    bool have_key = false;
    RegKey key;
    while (std::getline(in, line)) {
        ++line_no;
        const std::string where = source + ":" + std::to_string(line_no) + ": ";
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // A line ending in a backslash continues on the next (long hex values).
        if (!line.empty() && line.back() == '\\') {
            logical += line.substr(0, line.size() - 1);
            continue;
        }
        logical += line;
        std::string l;
        l.swap(logical);
        const size_t start = l.find_first_not_of(" \t");
        if (start == std::string::npos || l[start] == ';') continue;
        l = l.substr(start);
        if (!header_seen) {
            if (l != "REGEDIT4" && l != "Windows Registry Editor Version 5.00") fail(where + "not a REGEDIT4 file");
            header_seen = true;
        } else if (l.front() == '[') {
            have_key = import_key_line(l, where, key);
        } else {
            if (!have_key) fail(where + "value outside a key");
            import_value_line(l, where, key);
        }
    }
    if (!header_seen) fail(source + ": not a REGEDIT4 file");
}

int run(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string& cmd = args[0];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::cout << kUsage;
        return 0;
    }
    const auto need = [&](size_t low, size_t high) {
        if (args.size() < low + 1 || args.size() > high + 1) fail("wrong number of arguments for " + cmd + " (see --help)");
    };
    if (cmd == "list") {
        need(1, 1);
        Tool().list(parse_key(args[1]));
    } else if (cmd == "get") {
        need(2, 2);
        Tool().get(parse_key(args[1]), args[2]);
    } else if (cmd == "set") {
        need(3, 4);
        const bool dword = args.size() == 5;
        if (dword && args[4] != "--dword") fail("unknown option " + args[4]);
        Tool().set(parse_key(args[1]), args[2], args[3], dword);
    } else if (cmd == "delete") {
        need(1, 2);
        Tool().remove(parse_key(args[1]), args.size() == 3 ? &args[2] : nullptr);
    } else if (cmd == "export") {
        need(1, 1);
        Tool().export_key(parse_key(args[1]));
    } else if (cmd == "import") {
        need(1, 1);
        std::string text;
        if (args[1] == "-") {
            std::ostringstream ss;
            ss << std::cin.rdbuf();
            text = ss.str();
        } else if (!read_file(args[1], text)) {
            fail("cannot read " + args[1] + ": " + pending_error().description);
        }
        Tool().import_text(text, args[1]);
    } else {
        fail("unknown command " + cmd + " (see --help)");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // Run by hand: waiting a while for the module's own transaction is better than failing.
    ktr::platform::set_registry_lock_wait(10000);
    try {
        const int rc = run(args);
        std::cout.flush();
        return rc;
    } catch (const Failure& f) {
        std::cout.flush();
        std::cerr << "ktrsvc-reg: " << f.message << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "ktrsvc-reg: " << e.what() << "\n";
        return 1;
    }
}
