// The service object under systemd. A notify-type unit hands its process the address of the manager's
// notification socket in NOTIFY_SOCKET: that is how the process knows it runs as a service, and where it
// reports "READY=1", its status text and its stopping.
//
// The requests: SIGTERM (and Ctrl+C, for a service run by hand) is the stop event; a queued SIGRTMIN
// carries pause (2), continue (3) or any other code as its value, as the manager side sends them. The
// signal handler writes each request into a pipe that the event pump watches, so every request is
// handled on the one thread, in the order sent, and a burst of codes loses none (the kernel queues
// real-time signals, the pipe holds thousands of requests).
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/event_pump.h"
#include "platform/posix/posix_support.h"
#include "platform/service_host.h"
#include "platform/system.h"

namespace ktr::platform {
namespace {

constexpr int32_t kRequestStart = 1;
constexpr int32_t kRequestCode = 2;

struct Request {
    int32_t kind = 0;
    int32_t value = 0;
};

struct HostChannel {
    int pipe[2] = {-1, -1};
    int watch = 0;
    ServiceHost* host = nullptr;
};

// Never destroyed: a signal may arrive while static objects end.
HostChannel& channel() {
    static HostChannel* c = new HostChannel;
    return *c;
}

void post(const Request& request) {
    const int fd = channel().pipe[1];
    if (fd >= 0) (void)!write(fd, &request, sizeof request);  // atomic: far below PIPE_BUF
}

extern "C" void on_code_signal(int, siginfo_t* info, void*) {
    const int saved = errno;
    // Only a queued signal carries a code; a bare kill has none to act on.
    if (info && info->si_code == SI_QUEUE) post(Request{kRequestCode, info->si_value.sival_int});
    errno = saved;
}

// The manager's socket, read once: a program the module starts must not take the service's place.
const std::string& notify_address() {
    static const std::string address = [] {
        std::string a = get_env("NOTIFY_SOCKET").value_or("");
        ::unsetenv("NOTIFY_SOCKET");
        return a;
    }();
    return address;
}

void notify(const std::string& message) {
    const std::string& address = notify_address();
    if (address.empty() || address.size() >= sizeof(sockaddr_un::sun_path)) return;
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    std::memcpy(to.sun_path, address.data(), address.size());
    if (to.sun_path[0] == '@') to.sun_path[0] = '\0';  // an abstract socket
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
    (void)!::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), length);
    ::close(fd);
}

// A status text is one line for the manager.
std::string one_line(std::string_view text) {
    std::string line;
    for (const char c : text) {
        if (c == '\r') continue;
        line += c == '\n' ? ' ' : c;
    }
    return line;
}

} // namespace

struct ServiceHost::Backend {
    static void drain(HandleEvents) {
        Request request;
        while (read(channel().pipe[0], &request, sizeof request) == static_cast<ssize_t>(sizeof request)) {
            ServiceHost* host = channel().host;
            if (!host) continue;
            if (request.kind == kRequestStart) host->dispatch_start();
            else host->dispatch_code(request.value);
        }
    }
};

bool started_as_service() { return !notify_address().empty(); }

ServiceHost::ServiceHost() = default;

ServiceHost::~ServiceHost() {
    HostChannel& c = channel();
    if (c.host != this) return;
    c.host = nullptr;
    on_stop_request(StopRequest::interrupt, nullptr);
    on_stop_request(StopRequest::terminate, nullptr);
}

bool ServiceHost::StartService() {
    if (serving_ || !started_as_service()) return serving_;
    HostChannel& c = channel();
    if (c.pipe[0] < 0) {
        if (pipe2(c.pipe, O_NONBLOCK | O_CLOEXEC) != 0) return false;
        c.watch = watch_handle(handle_of(c.pipe[0]), HandleEvents::input, ServiceHost::Backend::drain);
    }
    c.host = this;
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    sa.sa_sigaction = on_code_signal;
    sa.sa_flags = SA_SIGINFO | SA_RESTART;
    sigaction(SIGRTMIN, &sa, nullptr);
    const auto stop = [this](StopRequest) {
        if (on_stop) on_stop();
    };
    on_stop_request(StopRequest::terminate, stop);
    on_stop_request(StopRequest::interrupt, stop);
    serving_ = true;
    post(Request{kRequestStart, 0});
    return true;
}

void ServiceHost::report_ready() {
    if (!serving_ || ready_) return;
    ready_ = true;
    notify("READY=1\nSTATUS=" + one_line(paused_ ? "Paused: " + status_ : status_));
}

void ServiceHost::report_status(std::string_view text) {
    status_ = one_line(text);
    send_status();
}

void ServiceHost::send_status() {
    if (serving_) notify("STATUS=" + (paused_ ? "Paused: " + status_ : status_));
}

void ServiceHost::report_stopping() {
    if (serving_) notify("STOPPING=1");
}

} // namespace ktr::platform
