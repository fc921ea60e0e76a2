// Programs started through CreateProcessW, with no shell in between: the words of the shared splitting are
// quoted back into a command line that the started program's runtime splits into the same words.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/win32_support.h"
#include "platform/pending_error.h"
#include "platform/process.h"

namespace ktr::platform {
namespace {

// What a refused batch file reports (with the system's code for a file that is no program).
constexpr DWORD kBatchRefused = 0x20000000 | ERROR_BAD_EXE_FORMAT;  // the application-defined bit

// Fills the pending error from a system error code: the code and the system's text for it.
void set_pending_system_error(DWORD code) {
    if (code == kBatchRefused) {
        set_pending_error(ERROR_BAD_EXE_FORMAT, "A batch file needs a shell and is not started");
        return;
    }
    std::string description = system_error_text(code);
    // A message about a file whose name it is not given here.
    if (const auto at = description.find("%1"); at != std::string::npos) description.replace(at, 2, "The program");
    while (!description.empty() && description.back() == '.') description.pop_back();
    set_pending_error(static_cast<int32_t>(code), description);
}

// Programs started without waiting; their handles are closed once they have ended.
std::vector<HANDLE>& started() {
    static std::vector<HANDLE> processes;
    return processes;
}

// Appends one word quoted the way the C runtime's argument splitting reads it back: backslashes are
// literal except before a quote, where they are doubled, and the quote itself is escaped.
void append_quoted(std::wstring& line, const std::wstring& word) {
    if (!line.empty()) line += L' ';
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += word;
        return;
    }
    line += L'"';
    for (size_t i = 0;; ++i) {
        size_t backslashes = 0;
        while (i < word.size() && word[i] == L'\\') {
            ++backslashes;
            ++i;
        }
        if (i == word.size()) {
            line.append(backslashes * 2, L'\\');  // the closing quote must stay a quote
            break;
        }
        if (word[i] == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        line += word[i];
    }
    line += L'"';
}

bool ends_with_no_case(const std::wstring& text, const wchar_t* tail) {
    const size_t n = wcslen(tail);
    return text.size() >= n && _wcsicmp(text.c_str() + text.size() - n, tail) == 0;
}

// The program file of the first word, found as the system finds programs (the folder of this program,
// the current folder, the system folders, then PATH), ".exe" added when the name has no extension. 0 or
// a system error code.
DWORD find_program(const std::string& name, std::wstring& path) {
    if (name.empty()) return ERROR_FILE_NOT_FOUND;
    const std::wstring wide = to_wide(name);
    std::wstring found(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = SearchPathW(nullptr, wide.c_str(), L".exe", static_cast<DWORD>(found.size()), found.data(),
                                    nullptr);
        if (n == 0) return ::GetLastError();
        if (n < found.size()) {
            found.resize(n);
            break;
        }
        found.resize(n);
    }
    // A batch file would be run by cmd.exe, which interprets the text: that is the shell not wanted here.
    if (ends_with_no_case(found, L".bat") || ends_with_no_case(found, L".cmd")) return kBatchRefused;
    path = found;
    return 0;
}

// An inheritable handle on the null device, for a program that gets no input (or whose output goes nowhere).
HANDLE open_null(DWORD access) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
}

// What a run hands the program: standard handles (none: a console of its own and no redirection).
struct StandardHandles {
    HANDLE input = INVALID_HANDLE_VALUE;
    HANDLE output = INVALID_HANDLE_VALUE;
    HANDLE error = INVALID_HANDLE_VALUE;
    bool redirected() const { return input != INVALID_HANDLE_VALUE; }
};

// Starts the program of the words. With redirected handles exactly those are inherited (nothing else of
// this process, not its sockets); without them the program gets a console of its own shown as asked, and
// inherits nothing. 0 or a system error code.
DWORD spawn(const std::vector<std::string>& words, const StandardHandles& std_handles, int show,
            PROCESS_INFORMATION& pi) {
    if (words.empty()) return ERROR_FILE_NOT_FOUND;
    std::wstring program;
    if (const DWORD e = find_program(words[0], program)) return e;
    std::wstring line;
    for (const auto& w : words) append_quoted(line, to_wide(w));

    STARTUPINFOEXW si{};
    si.StartupInfo.cb = sizeof si;
    DWORD flags = CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP;
    BOOL inherit = FALSE;
    std::vector<char> attributes;
    std::vector<HANDLE> inherited;
    if (std_handles.redirected()) {
        si.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
        si.StartupInfo.hStdInput = std_handles.input;
        si.StartupInfo.hStdOutput = std_handles.output;
        si.StartupInfo.hStdError = std_handles.error;
        for (HANDLE h : {std_handles.input, std_handles.output, std_handles.error})
            if (std::find(inherited.begin(), inherited.end(), h) == inherited.end()) inherited.push_back(h);
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attributes.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
        if (size && InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                          inherited.size() * sizeof(HANDLE), nullptr, nullptr)) {
                si.lpAttributeList = list;
                flags |= EXTENDED_STARTUPINFO_PRESENT;
            } else {
                DeleteProcThreadAttributeList(list);
            }
        }
        inherit = TRUE;
        flags |= CREATE_NO_WINDOW;
    } else {
        si.StartupInfo.dwFlags |= STARTF_USESHOWWINDOW;
        si.StartupInfo.wShowWindow = static_cast<WORD>(show);
        // A console program gets its own console: the module's console (or none, as a service) is not its.
        flags |= CREATE_NEW_CONSOLE;
    }
    const BOOL ok = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, inherit, flags, nullptr, nullptr,
                                   &si.StartupInfo, &pi);
    const DWORD error = ok ? 0 : ::GetLastError();
    if (si.lpAttributeList) DeleteProcThreadAttributeList(si.lpAttributeList);
    if (ok) CloseHandle(pi.hThread);
    return error;
}

void close_handles(std::initializer_list<HANDLE> handles) {
    for (HANDLE h : handles)
        if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

// Handles for a run whose output goes to `output` (INVALID_HANDLE_VALUE: nowhere): no input, errors to
// this program's own error output when it has one. The caller closes them after the start.
StandardHandles run_handles(HANDLE output) {
    StandardHandles h;
    h.input = open_null(GENERIC_READ);
    h.output = output != INVALID_HANDLE_VALUE ? output : open_null(GENERIC_WRITE);
    HANDLE own_error = GetStdHandle(STD_ERROR_HANDLE);
    if (!own_error || own_error == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(::GetCurrentProcess(), own_error, ::GetCurrentProcess(), &h.error, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
        h.error = open_null(GENERIC_WRITE);
    return h;
}

// Waits for a started program until the deadline (of GetTickCount64); its exit status or nothing.
std::optional<int> wait_until(HANDLE process, ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, INFINITE - 1));
    const DWORD r = WaitForSingleObject(process, left);
    if (r == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        CloseHandle(process);
        return static_cast<int>(code);
    }
    if (r == WAIT_TIMEOUT) {
        started().push_back(process);  // left running: reaped later
        set_pending_error(ERROR_TIMEOUT, "The program did not end in time");
        return std::nullopt;
    }
    set_pending_system_error(::GetLastError());
    started().push_back(process);
    return std::nullopt;
}

} // namespace

bool start_program(std::string_view command_line, int window_state) {
    reap_started_programs();
    const auto words = program_words(command_line, ERROR_INVALID_PARAMETER, ERROR_FILE_NOT_FOUND);
    if (!words) return false;
    PROCESS_INFORMATION pi{};
    if (const DWORD e = spawn(*words, StandardHandles{}, window_state, pi)) {
        set_pending_system_error(e);
        return false;
    }
    started().push_back(pi.hProcess);
    return true;
}

int reap_started_programs() {
    auto& processes = started();
    processes.erase(std::remove_if(processes.begin(), processes.end(),
                                   [](HANDLE h) {
                                       if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0) return false;
                                       CloseHandle(h);
                                       return true;
                                   }),
                    processes.end());
    return static_cast<int>(processes.size());
}

std::optional<int> run_and_wait(const std::vector<std::string>& words, int timeout_ms) {
    reap_started_programs();
    const StandardHandles h = run_handles(INVALID_HANDLE_VALUE);
    PROCESS_INFORMATION pi{};
    const DWORD e = spawn(words, h, SW_HIDE, pi);
    close_handles({h.input, h.output, h.error});
    if (e) {
        set_pending_system_error(e);
        return std::nullopt;
    }
    return wait_until(pi.hProcess, GetTickCount64() + static_cast<ULONGLONG>(std::max(timeout_ms, 0)));
}

std::optional<int> run_and_capture(const std::vector<std::string>& words, int timeout_ms, std::string& output) {
    output.clear();
    reap_started_programs();
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
        set_pending_system_error(::GetLastError());
        return std::nullopt;
    }
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);  // only the writing end goes to the program
    const StandardHandles h = run_handles(write_end);
    PROCESS_INFORMATION pi{};
    const DWORD e = spawn(words, h, SW_HIDE, pi);
    close_handles({h.input, h.output, h.error});  // the program holds its own copy of the writing end
    if (e) {
        CloseHandle(read_end);
        set_pending_system_error(e);
        return std::nullopt;
    }
    // An anonymous pipe cannot be waited on: look at it between short pauses until it ends or time is up.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(timeout_ms, 0));
    while (GetTickCount64() < deadline) {
        DWORD available = 0;
        if (!PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr)) break;  // end of output
        if (available == 0) {
            Sleep(5);
            continue;
        }
        char buf[4096];
        DWORD got = 0;
        if (!ReadFile(read_end, buf, std::min<DWORD>(available, sizeof buf), &got, nullptr) || got == 0) break;
        output.append(buf, got);
    }
    CloseHandle(read_end);
    return wait_until(pi.hProcess, deadline);
}

} // namespace ktr::platform
