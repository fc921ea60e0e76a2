// The manager side on Windows: the service control manager itself. Its error numbers are the system's
// own, which is what the interface hands back.
#include <windows.h>

#include <string>

#include "platform/pending_error.h"
#include "platform/service_manager.h"
#include "platform/win32/win32_support.h"

namespace ktr::platform {
namespace {

// Fills the pending error from the last system error; returns its number.
int32_t fail(const std::string& what) {
    const DWORD err = ::GetLastError();
    set_pending_error(static_cast<int32_t>(err), what + ": " + system_error_text(err));
    return static_cast<int32_t>(err);
}

class ScHandle {
public:
    explicit ScHandle(SC_HANDLE h) : h_(h) {}
    ~ScHandle() {
        if (h_) CloseServiceHandle(h_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return h_; }

private:
    SC_HANDLE h_;
};

class NtService final : public ServiceHandle {
public:
    NtService(SC_HANDLE handle, std::string name) : handle_(handle), name_(std::move(name)) {}

    int32_t query_state(uint32_t& state) override {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(handle_.get(), &status)) return fail("query " + name_);
        state = status.dwCurrentState >= kServiceStopped && status.dwCurrentState <= kServicePaused
                    ? status.dwCurrentState
                    : 0;
        return 0;
    }
    int32_t start() override {
        return StartServiceW(handle_.get(), 0, nullptr) ? 0 : fail("start " + name_);
    }
    int32_t stop() override { return control(SERVICE_CONTROL_STOP, "stop"); }
    int32_t pause() override { return control(SERVICE_CONTROL_PAUSE, "pause"); }
    int32_t resume() override { return control(SERVICE_CONTROL_CONTINUE, "continue"); }
    int32_t send_control(uint32_t code) override {
        if (code < kFirstUserControl || code > kLastUserControl) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return fail("control code " + std::to_string(code) + " is not a user code");
        }
        return control(code, "send code " + std::to_string(code) + " to");
    }
    int32_t remove() override { return DeleteService(handle_.get()) ? 0 : fail("delete " + name_); }

private:
    int32_t control(DWORD code, const std::string& what) {
        SERVICE_STATUS status{};
        return ControlService(handle_.get(), code, &status) ? 0 : fail(what + " " + name_);
    }

    ScHandle handle_;
    std::string name_;
};

class NtManager final : public ServiceManager {
public:
    explicit NtManager(SC_HANDLE handle) : handle_(handle) {}

    std::unique_ptr<ServiceHandle> open_service(std::string_view name, uint32_t access, int32_t& error) override {
        SC_HANDLE h = OpenServiceW(handle_.get(), to_wide(name).c_str(), access);
        if (!h) {
            error = fail("open service " + std::string(name));
            return nullptr;
        }
        error = 0;
        return std::make_unique<NtService>(h, std::string(name));
    }

    std::unique_ptr<ServiceHandle> create_service(std::string_view name, std::string_view executable,
                                                  int32_t& error) override {
        const std::wstring wname = to_wide(name);
        std::wstring command = to_wide(executable);
        if (command.find(L' ') != std::wstring::npos) command = L"\"" + command + L"\"";
        // Its own process, under the system's account, started with the machine.
        SC_HANDLE h = CreateServiceW(handle_.get(), wname.c_str(), wname.c_str(), SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                     command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        if (!h) {
            error = fail("create service " + std::string(name));
            return nullptr;
        }
        error = 0;
        return std::make_unique<NtService>(h, std::string(name));
    }

private:
    ScHandle handle_;
};

} // namespace

std::unique_ptr<ServiceManager> open_service_manager(std::string_view machine, uint32_t access, int32_t& error) {
    const std::wstring wmachine = to_wide(machine);
    SC_HANDLE h = OpenSCManagerW(machine.empty() ? nullptr : wmachine.c_str(), nullptr, access);
    if (!h) {
        error = fail("open the service manager");
        return nullptr;
    }
    error = 0;
    return std::make_unique<NtManager>(h);
}

} // namespace ktr::platform
