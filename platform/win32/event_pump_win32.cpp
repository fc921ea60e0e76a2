// The Windows side of the event pump. Sockets are probed for readiness without waiting (so the pump's
// events keep their level-triggered meaning) and wake a blocked round through one event they all share by
// WSAEventSelect; any other handle is a kernel object (an event) that counts as input while signalled. The
// round blocks in MsgWaitForMultipleObjectsEx and dispatches the thread's window messages. Console control
// events (Ctrl+C, Ctrl+Break, closing the console) and WM_CLOSE posted to the thread become stop requests.
#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "platform/backend.h"
#include "platform/event_pump.h"
#include "platform/win32/win32_support.h"

namespace ktr::platform {
namespace {

using backend::HandleWait;

// A round that cannot rely on a wake-up waits in slices of this many milliseconds and looks again.
constexpr DWORD kSliceMs = 20;

// The component's sockets.
std::set<SOCKET>& known_sockets() {
    static auto* known = new std::set<SOCKET>;  // never destroyed: sockets may close after main
    return *known;
}

// Whether the value names a socket; anything else is waited on as a kernel handle.
bool is_socket(OsHandle handle) {
    if (known_sockets().count(socket_of(handle))) return true;
    int type = 0;
    int len = sizeof type;
    return getsockopt(socket_of(handle), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len) == 0;
}

short to_poll(HandleEvents interest) {
    short ev = 0;
    if (any_of(interest, HandleEvents::input)) ev |= POLLRDNORM;
    if (any_of(interest, HandleEvents::output)) ev |= POLLWRNORM;
    return ev;
}

HandleEvents from_poll(short revents) {
    HandleEvents r = HandleEvents::none;
    if (revents & (POLLRDNORM | POLLRDBAND)) r = r | HandleEvents::input;
    if (revents & POLLWRNORM) r = r | HandleEvents::output;
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) r = r | HandleEvents::closed;
    return r;
}

// The network events that stand for what a socket is watched for.
long network_events(HandleEvents interest) {
    long ev = FD_CLOSE;
    if (any_of(interest, HandleEvents::input)) ev |= FD_READ | FD_ACCEPT | FD_OOB;
    if (any_of(interest, HandleEvents::output)) ev |= FD_WRITE | FD_CONNECT;
    return ev;
}

// One round's handles, sorted by kind (indexes into the round's list).
struct Round {
    std::vector<size_t> sockets;
    std::vector<size_t> objects;
    bool wants_output = false;
};

Round sort_handles(const std::vector<HandleWait>& handles) {
    Round round;
    for (size_t i = 0; i < handles.size(); ++i) {
        if (!handles[i].handle.valid()) continue;
        if (is_socket(handles[i].handle)) {
            round.sockets.push_back(i);
            if (any_of(handles[i].interest, HandleEvents::output)) round.wants_output = true;
        } else if (any_of(handles[i].interest, HandleEvents::input)) {
            round.objects.push_back(i);  // a signalled object means input; waiting for anything else would spin
        }
    }
    return round;
}

// Fills the ready sets from the present state of every handle, without waiting.
int probe(std::vector<HandleWait>& handles, const Round& round) {
    int ready = 0;
    if (!round.sockets.empty()) {
        static std::vector<WSAPOLLFD> fds;  // kept between rounds: a busy pump allocates nothing
        fds.clear();
        for (const size_t i : round.sockets)
            fds.push_back(WSAPOLLFD{socket_of(handles[i].handle), to_poll(handles[i].interest), 0});
        if (WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), 0) > 0) {
            for (size_t k = 0; k < fds.size(); ++k) {
                HandleWait& h = handles[round.sockets[k]];
                h.ready = from_poll(fds[k].revents);
                if (h.ready != HandleEvents::none) ++ready;
            }
        }
    }
    for (const size_t i : round.objects) {
        HandleWait& h = handles[i];
        if (WaitForSingleObject(kernel_handle_of(h.handle), 0) == WAIT_OBJECT_0) {
            h.ready = HandleEvents::input;
            ++ready;
        }
    }
    return ready;
}

// The event every watched socket signals; never closed.
HANDLE socket_wake() {
    static const HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return wake;
}

// Console control events arrive on a thread of their own: the handler only counts them and signals the
// event the pump watches, and the pump dispatches them on its thread.
struct StopState {
    HANDLE signalled = nullptr;
    std::atomic<int> interrupts{0};
    std::atomic<int> terminates{0};
    std::atomic<bool> handles_interrupt{false};
    std::atomic<bool> handles_terminate{false};
    std::map<StopRequest, std::function<void(StopRequest)>> handlers;
};

// Never destroyed: a control event may arrive while static objects end.
StopState& stops() {
    static StopState* s = new StopState;
    return *s;
}


// Window messages go to their windows; WM_CLOSE or WM_QUIT posted to the thread itself is how another program
// without a console in common asks this one to end (PostThreadMessage), a terminate request.
void dispatch_window_messages() {
    if (g_modal_boxes > 0) return;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.hwnd == nullptr && (msg.message == WM_CLOSE || msg.message == WM_QUIT)) {
            request_stop_by_message();
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Blocks until a socket's network event, a signalled handle, a window message or the timeout.
void block(const std::vector<HandleWait>& handles, const Round& round, int timeout_ms) {
    std::vector<HANDLE> waits;
    if (!round.sockets.empty()) waits.push_back(socket_wake());
    for (const size_t i : round.objects) {
        if (waits.size() == MAXIMUM_WAIT_OBJECTS - 1) break;
        waits.push_back(kernel_handle_of(handles[i].handle));
    }
    const bool all_waited = waits.size() == round.objects.size() + (round.sockets.empty() ? 0 : 1);
    DWORD timeout = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
    // A socket that waits to send may become writable without a new network event, and handles beyond the
    // system's limit wake nobody: both are looked at again every slice.
    if (round.wants_output || !all_waited) timeout = std::min<DWORD>(timeout, kSliceMs);
    const DWORD n = static_cast<DWORD>(waits.size());
    const DWORD r = MsgWaitForMultipleObjectsEx(n, waits.empty() ? nullptr : waits.data(), timeout, QS_ALLINPUT,
                                                MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0 + n) dispatch_window_messages();
}

// Turns the shared event on for each socket's network events. An event that has already happened is
// recorded again by the call, so nothing that arrived since the last probe is missed. Every blocking round
// arms every socket again rather than rely on each read having re-enabled its socket's events.
void arm_sockets(const std::vector<HandleWait>& handles, const Round& round) {
    ResetEvent(socket_wake());
    for (const size_t i : round.sockets)
        WSAEventSelect(socket_of(handles[i].handle), socket_wake(), network_events(handles[i].interest));
}

} // namespace

// Dispatched as the console's requests are, from the pump's watch of the event, never inside the wait.
void request_stop_by_message() {
    StopState& s = stops();
    if (!s.handles_terminate) ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));  // the default, as Ctrl+C's
    ++s.terminates;
    SetEvent(s.signalled);
}

void note_socket(SOCKET s) { known_sockets().insert(s); }
void forget_socket(SOCKET s) { known_sockets().erase(s); }

int backend::wait_for_handles(std::vector<HandleWait>& handles, int timeout_ms) {
    for (auto& h : handles) h.ready = HandleEvents::none;
    // Every round lets the windows' queued messages run, also a round that only looks or finds a socket
    // ready: a busy console must not freeze the tray icon or the menus.
    dispatch_window_messages();
    ensure_winsock();
    const Round round = sort_handles(handles);
    int ready = probe(handles, round);
    if (ready > 0 || timeout_ms == 0) return ready;
    if (!round.sockets.empty()) {
        arm_sockets(handles, round);
        ready = probe(handles, round);
        if (ready > 0) return ready;
    }
    block(handles, round, timeout_ms);
    return probe(handles, round);
}

namespace {

BOOL WINAPI on_console_control(DWORD type) {
    StopState& s = stops();
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (!s.handles_interrupt) return FALSE;  // the default: the program ends
        ++s.interrupts;
        SetEvent(s.signalled);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        if (!s.handles_terminate) return FALSE;
        ++s.terminates;
        SetEvent(s.signalled);
        // The system ends the process when this returns: wait here while the pump unloads the module, whose
        // end of main ends the process (the system gives up after a few seconds).
        Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;  // a user logging off does not stop a service
    }
}

void dispatch_stop_requests(HandleEvents) {
    StopState& s = stops();
    ResetEvent(s.signalled);  // before taking the counts, so a later event signals again
    const struct { std::atomic<int>& count; StopRequest kind; } kinds[] = {
        {s.interrupts, StopRequest::interrupt},
        {s.terminates, StopRequest::terminate},
    };
    for (const auto& k : kinds) {
        for (int n = k.count.exchange(0); n > 0; --n) {
            const auto it = s.handlers.find(k.kind);
            if (it == s.handlers.end() || !it->second) break;
            auto handler = it->second;  // the handler may replace itself
            handler(k.kind);
        }
    }
}

bool ensure_control_handler() {
    StopState& s = stops();
    if (s.signalled) return true;
    s.signalled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!s.signalled) return false;
    watch_handle(os_handle(s.signalled), HandleEvents::input, dispatch_stop_requests);
    SetConsoleCtrlHandler(on_console_control, TRUE);
    return true;
}

} // namespace

void on_stop_request(StopRequest kind, std::function<void(StopRequest)> handler) {
    StopState& s = stops();
    const bool on = handler && ensure_control_handler();
    if (on)
        s.handlers[kind] = std::move(handler);
    else
        s.handlers.erase(kind);
    (kind == StopRequest::interrupt ? s.handles_interrupt : s.handles_terminate) = on;
}

} // namespace ktr::platform
