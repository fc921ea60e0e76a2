// The program runner on Windows: CreateProcess without a shell, standard handles on files in a folder of
// the runner's own, Ctrl+Break or a WM_CLOSE to end a program and TerminateProcess to kill it.
#include "platform/win32/win32_support.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "fakes/run_program.h"
#include "fakes/temp_dir.h"

namespace ktr::testing {
namespace {

using platform::to_wide;

// The exit status of a program killed (or run too long): 128 + SIGKILL, as a POSIX shell shows it.
constexpr UINT kKilledExitCode = 137;

// One argument as the runtime's command-line splitting reads it back: quoted when it holds a blank or a
// quote, backslashes doubled only where a quote follows them.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') { ++backslashes; continue; }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

// This process's environment with the overrides applied (names compared without case, as Windows does).
std::wstring environment_block(const EnvOverrides& overrides) {
    std::vector<std::wstring> vars;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) vars.emplace_back(p);
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : overrides) {
        const std::wstring key = to_wide(name) + L"=";
        std::erase_if(vars, [&](const std::wstring& v) {
            return v.size() >= key.size() && CompareStringOrdinal(v.c_str(), static_cast<int>(key.size()), key.c_str(),
                                                                  static_cast<int>(key.size()), TRUE) == CSTR_EQUAL;
        });
        if (value) vars.push_back(key + to_wide(*value));
    }
    std::wstring out;
    for (const auto& v : vars) out += v + L'\0';
    return out + L'\0';
}

std::string read_text(const std::string& path) {
    // Opened apart from the child's own handle, sharing it, so the child's write position stays where it is.
    const HANDLE h = CreateFileW(to_wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string out;
    char buf[65536];
    for (DWORD n = 0; ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0;) out.append(buf, n);
    CloseHandle(h);
    // The runtime's text mode writes "\r\n" for "\n".
    std::string text;
    for (size_t i = 0; i < out.size(); ++i)
        if (!(out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n')) text += out[i];
    return text;
}

// A handle the child inherits as one of its standard handles.
HANDLE child_handle(const std::string& path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(to_wide(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

struct RunningProgram::Impl {
    TempDir files;  // in, out and err
    PROCESS_INFORMATION process{};
    bool started = false;
};

RunningProgram::RunningProgram(const std::string& path, const std::vector<std::string>& args,
                               const EnvOverrides& env, std::string stdin_text)
    : impl_(std::make_unique<Impl>()) {
    Impl& p = *impl_;
    p.files.write("in", stdin_text);
    const HANDLE in = child_handle(p.files.file("in"), false), out = child_handle(p.files.file("out"), true),
                 err = child_handle(p.files.file("err"), true);
    std::wstring command = quoted(to_wide(native_path(path)));
    for (const auto& a : args) command += L" " + quoted(to_wide(a));
    std::wstring block = environment_block(env);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    // Its own process group, so that Ctrl+Break reaches it alone; without a console of ours to share it gets
    // one without a window.
    const DWORD flags = CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT |
                        (GetConsoleWindow() ? 0 : CREATE_NO_WINDOW);
    // No application name: the system finds the program as a command line names it, adding ".exe".
    if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE)
        p.started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, flags, block.data(), nullptr, &si,
                                   &p.process);
    // Only the child holds them now; the next child does not inherit them.
    for (const HANDLE h : {in, out, err})
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

RunningProgram::~RunningProgram() {
    Impl& p = *impl_;
    if (!p.started) return;
    terminate(Ending::kill);
    WaitForSingleObject(p.process.hProcess, 10000);
    CloseHandle(p.process.hThread);
    CloseHandle(p.process.hProcess);
}

void RunningProgram::terminate(Ending how) {
    Impl& p = *impl_;
    if (!running()) return;
    if (how == Ending::kill) {
        TerminateProcess(p.process.hProcess, kKilledExitCode);
        return;
    }
    if (GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, p.process.dwProcessId)) return;
    // The main thread has a message queue once it pumps: a program that has not got there yet is asked again.
    for (int attempt = 0; attempt < 100 && running(); ++attempt) {
        if (PostThreadMessageW(p.process.dwThreadId, WM_CLOSE, 0, 0)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

RunResult RunningProgram::wait(int timeout_ms) {
    Impl& p = *impl_;
    if (!p.started) return {-1, "", "cannot start the program"};
    if (WaitForSingleObject(p.process.hProcess, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) {
        TerminateProcess(p.process.hProcess, kKilledExitCode);  // the time ran out
        WaitForSingleObject(p.process.hProcess, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeProcess(p.process.hProcess, &code);
    CloseHandle(p.process.hThread);
    CloseHandle(p.process.hProcess);
    p.started = false;
    return {static_cast<int>(code), read_text(p.files.file("out")), read_text(p.files.file("err"))};
}

bool RunningProgram::running() {
    return impl_->started && WaitForSingleObject(impl_->process.hProcess, 0) == WAIT_TIMEOUT;
}

int RunningProgram::pid() const { return impl_->started ? static_cast<int>(impl_->process.dwProcessId) : -1; }

} // namespace ktr::testing
