// Files and the program folder on Windows. Paths are UTF-8 inside the module and UTF-16 at the system.
#include <windows.h>

#include <cstdio>
#include <set>

#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/pending_error.h"
#include "platform/system.h"
#include "platform/win32/win32_support.h"

namespace ktr::platform {
namespace {


std::string g_program_folder;
bool g_program_folder_set = false;

bool is_separator(char c) { return c == '\\' || c == '/'; }

HANDLE handle_of(OsHandle h) { return reinterpret_cast<HANDLE>(h.value); }
OsHandle os_handle_of(HANDLE h) {
    return OsHandle{h == nullptr || h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(h)};
}

// A path for the system; empty (pending error filled) when the text is not UTF-8.
std::wstring system_path(const std::string& path) {
    std::wstring w = to_wide(path);
    if (w.empty()) set_pending_error_from_system(path.empty() ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME);
    return w;
}

bool write_all(HANDLE h, std::string_view text) {
    while (!text.empty()) {
        const DWORD chunk = text.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(text.size());
        DWORD written = 0;
        if (!WriteFile(h, text.data(), chunk, &written, nullptr)) {
            set_pending_error_from_last_error();
            return false;
        }
        text.remove_prefix(written);
    }
    return true;
}

// Opens a path only when it is a plain disk file: a folder, a device (NUL, CON, COMn) or a pipe is refused
// and reported once per path where an operator looks. Other programs may read, rotate or delete the file
// meanwhile.
HANDLE open_regular(const std::string& path, DWORD access, DWORD disposition) {
    const std::wstring w = system_path(path);
    if (w.empty()) return INVALID_HANDLE_VALUE;
    const DWORD attributes = GetFileAttributesW(w.c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!folder) {
        const HANDLE h = CreateFileW(w.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            set_pending_error_from_last_error();
            return h;
        }
        if (GetFileType(h) == FILE_TYPE_DISK) return h;
        CloseHandle(h);
    }
    const std::string text = path + " is not a regular file: skipped. Replace it with a plain file or remove it.";
    set_pending_error(ERROR_INVALID_PARAMETER, text);
    static std::set<std::string> reported;
    if (reported.insert(path).second) {
        std::fprintf(stderr, "Ktrsvc: %s\n", text.c_str());
        report_system_event("Ktrsvc", static_cast<int>(EventType::warning), 0, text);
    }
    return INVALID_HANDLE_VALUE;
}

HANDLE open_for_append(const std::string& path) {
    // Append access alone: every write lands at the end, even when another program wrote in between.
    return open_regular(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS);
}

} // namespace

std::string executable_path() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return to_utf8(std::wstring_view(buf.data(), n));
        if (buf.size() >= 32768) return {};  // longer than any path the system allows
        buf.resize(buf.size() * 2);
    }
}

std::string program_folder() {
    if (g_program_folder_set) return g_program_folder;
    if (auto home = get_env("KTRSVC_HOME"); home && !home->empty()) {
        std::string h = *home;
        // Trailing separators go, except the one of a drive's root ("C:\").
        while (h.size() > 1 && is_separator(h.back()) && !(h.size() == 3 && h[1] == ':')) h.pop_back();
        return h;
    }
    const std::string exe = executable_path();
    const auto sep = exe.find_last_of("\\/");
    if (sep == std::string::npos) return ".";
    if (sep == 0 || (sep == 2 && exe[1] == ':')) return exe.substr(0, sep + 1);
    return exe.substr(0, sep);
}

void set_program_folder(std::string folder) {
    // An empty folder returns to the default (KTRSVC_HOME or the executable's folder).
    g_program_folder_set = !folder.empty();
    g_program_folder = std::move(folder);
}

std::string join_path(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (out.empty() || !is_separator(out.back())) out += '\\';
    out += name;
    return out;
}

OpenResult try_open_for_reading(const std::string& path) {
    const std::wstring w = to_wide(path);
    if (w.empty()) return path.empty() ? OpenResult::not_found : OpenResult::other_error;
    const HANDLE h = CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return OpenResult::ok;
    }
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return OpenResult::not_found;
    default: return OpenResult::other_error;  // a folder, a file locked or denied: it is there
    }
}

bool append_to_file(const std::string& path, std::string_view text) {
    const HANDLE h = open_for_append(path);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = write_all(h, text);
    if (!CloseHandle(h) && ok) {
        set_pending_error_from_last_error();
        return false;
    }
    return ok;
}

AppendFile::~AppendFile() { close(); }

bool AppendFile::open(const std::string& path) {
    close();
    file_ = os_handle_of(open_for_append(path));
    return file_.valid();
}

bool AppendFile::write(std::string_view text) {
    if (!file_.valid()) return false;
    return write_all(handle_of(file_), text);
}

void AppendFile::close() {
    if (file_.valid()) {
        CloseHandle(handle_of(file_));
        file_ = kNoHandle;
    }
}

bool read_file(const std::string& path, std::string& contents) {
    const HANDLE h = open_regular(path, GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return false;
    contents.clear();
    char buf[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
            set_pending_error_from_last_error();
            CloseHandle(h);
            return false;
        }
        if (n == 0) break;
        contents.append(buf, n);
    }
    CloseHandle(h);
    return true;
}

bool remove_file(const std::string& path) {
    const std::wstring w = system_path(path);
    if (w.empty()) return false;
    if (!DeleteFileW(w.c_str())) {
        set_pending_error_from_last_error();
        return false;
    }
    return true;
}

} // namespace ktr::platform
