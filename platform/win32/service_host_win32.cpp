// The service object under the Windows service control manager.
//
// The manager talks to a service through StartServiceCtrlDispatcher, which takes over the thread that
// calls it until the service has stopped. The module keeps its one pump thread, so the dispatcher runs on
// a thread of its own: it finds out whether the manager started the process at all (a desktop instance is
// refused at once), and its control handler only queues each request and wakes the pump through an
// event. Every request is handled on the pump's thread, in the order sent. The queue has one writer (the
// handler, which the manager calls one request at a time) and one reader (the pump), so it needs no lock.
#include <windows.h>
// The interface keeps its own name for the member; the system's macro would rename it.
#undef StartService

#include <array>
#include <atomic>
#include <string>

#include "platform/event_pump.h"
#include "platform/service_host.h"

namespace ktr::platform {
namespace {

constexpr int32_t kStopRequest = -1;
constexpr DWORD kStartWaitHintMs = 30000;

struct HostChannel {
    HANDLE wake = nullptr;     // manual-reset: set while requests wait
    HANDLE decided = nullptr;  // set once the dispatcher knows whether this is a service
    HANDLE thread = nullptr;
    std::atomic<int> verdict{0};  // 0 not known, 1 a service, 2 not a service
    SERVICE_STATUS_HANDLE status_handle = nullptr;
    std::array<int32_t, 1024> queue{};
    std::atomic<uint32_t> head{0};  // written by the handler
    std::atomic<uint32_t> tail{0};  // written by the pump
    bool start_pending = false;     // the pump's own
    int watch = 0;
    ServiceHost* host = nullptr;
    DWORD checkpoint = 0;
};

// Never destroyed: the manager's thread may still call the handler while static objects end.
HostChannel& channel() {
    static HostChannel* c = new HostChannel;
    return *c;
}

void queue_request(int32_t code) {
    HostChannel& c = channel();
    const uint32_t head = c.head.load(std::memory_order_relaxed);
    if (head - c.tail.load(std::memory_order_acquire) >= c.queue.size()) return;  // a thousand unread: drop
    c.queue[head % c.queue.size()] = code;
    c.head.store(head + 1, std::memory_order_release);
    SetEvent(c.wake);
}

DWORD WINAPI control_handler(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        queue_request(kStopRequest);
        return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        queue_request(static_cast<int32_t>(control));
        return NO_ERROR;
    default:
        if (control >= 128 && control <= 255) {
            queue_request(static_cast<int32_t>(control));
            return NO_ERROR;
        }
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI service_main(DWORD, LPWSTR*) {
    HostChannel& c = channel();
    c.status_handle = RegisterServiceCtrlHandlerExW(L"", control_handler, nullptr);
    c.verdict.store(c.status_handle ? 1 : 2);
    SetEvent(c.decided);
    // Returning is fine: the dispatcher goes on delivering requests until the service reports it stopped.
}

DWORD WINAPI dispatcher_thread(LPVOID) {
    static wchar_t own_name[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{own_name, service_main}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        HostChannel& c = channel();
        c.verdict.store(2);
        SetEvent(c.decided);
    }
    return 0;
}

void set_status(DWORD state, DWORD exit_code = NO_ERROR) {
    HostChannel& c = channel();
    if (!c.status_handle) return;
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwWin32ExitCode = exit_code;
    if (state == SERVICE_RUNNING || state == SERVICE_PAUSED)
        status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    else if (state == SERVICE_START_PENDING)
        status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) {
        status.dwCheckPoint = ++c.checkpoint;
        status.dwWaitHint = kStartWaitHintMs;
    }
    SetServiceStatus(c.status_handle, &status);
}

} // namespace

struct ServiceHost::Backend {
    static void drain(HandleEvents) {
        HostChannel& c = channel();
        ResetEvent(c.wake);  // before reading, so a request queued meanwhile sets it again
        ServiceHost* host = c.host;
        if (c.start_pending) {
            c.start_pending = false;
            if (host) host->dispatch_start();
        }
        for (uint32_t tail = c.tail.load(std::memory_order_relaxed);
             tail != c.head.load(std::memory_order_acquire); tail = c.tail.load(std::memory_order_relaxed)) {
            const int32_t code = c.queue[tail % c.queue.size()];
            c.tail.store(tail + 1, std::memory_order_release);
            host = c.host;
            if (!host) continue;
            if (code == kStopRequest) {
                host->report_stopping();
                if (host->on_stop) host->on_stop();
            } else {
                host->dispatch_code(code);
                // The manager waits for the state a pause or continue leads to, also when it failed.
                if (code == SERVICE_CONTROL_PAUSE || code == SERVICE_CONTROL_CONTINUE) host->send_status();
            }
        }
    }
};

bool started_as_service() {
    HostChannel& c = channel();
    if (!c.decided) {
        c.decided = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        c.wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        c.thread = CreateThread(nullptr, 0, dispatcher_thread, nullptr, 0, nullptr);
        if (!c.decided || !c.wake || !c.thread) {
            c.verdict.store(2);
        } else if (WaitForSingleObject(c.decided, kStartWaitHintMs) != WAIT_OBJECT_0) {
            c.verdict.store(2);
        }
    }
    return c.verdict.load() == 1;
}

ServiceHost::ServiceHost() = default;

ServiceHost::~ServiceHost() {
    HostChannel& c = channel();
    if (c.host != this) return;
    c.host = nullptr;
    if (c.watch) unwatch(c.watch);
    c.watch = 0;
    if (serving_) {
        set_status(SERVICE_STOPPED);
        // The dispatcher returns once the manager has taken the stop; the process may then end.
        if (c.thread) WaitForSingleObject(c.thread, 5000);
    }
}

bool ServiceHost::StartService() {
    if (serving_ || !started_as_service()) return serving_;
    HostChannel& c = channel();
    c.host = this;
    if (!c.watch)
        c.watch = watch_handle(OsHandle{reinterpret_cast<intptr_t>(c.wake)}, HandleEvents::input,
                               ServiceHost::Backend::drain);
    serving_ = true;
    set_status(SERVICE_START_PENDING);
    c.start_pending = true;
    SetEvent(c.wake);
    return true;
}

void ServiceHost::report_ready() {
    if (!serving_ || ready_) return;
    ready_ = true;
    send_status();
}

// The manager keeps no status text; the state tells a paused service from a running one.
void ServiceHost::report_status(std::string_view text) {
    status_ = std::string(text);
    send_status();
}

void ServiceHost::send_status() {
    if (!serving_) return;
    if (!ready_) set_status(SERVICE_START_PENDING);
    else set_status(paused_ ? SERVICE_PAUSED : SERVICE_RUNNING);
}

void ServiceHost::report_stopping() {
    if (serving_) set_status(SERVICE_STOP_PENDING);
}

} // namespace ktr::platform
