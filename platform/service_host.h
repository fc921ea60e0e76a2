// The service object: the process's side of the service manager. It tells whether the manager started the
// process, reports readiness and a status text to the manager, and turns the manager's requests into five
// events (start, stop, pause, continue, control code) delivered by the event pump on the one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ktr::platform {

// Whether the service manager started this process and waits for it to report as a service. A process
// started otherwise (from a terminal) is a desktop instance.
bool started_as_service();

class ServiceHost {
public:
    // The events. The start, pause and continue handlers return their success flag, which decides what
    // the manager is told: a failed start ends the service, a failed pause leaves it running, a failed
    // continue leaves it paused.
    std::function<bool()> on_start;
    std::function<void()> on_stop;
    std::function<bool()> on_pause;
    std::function<bool()> on_continue;
    // Any other code the manager delivers; the service's own are 128..255, the rest it treats as unknown.
    std::function<void(int32_t code)> on_control;

    ServiceHost();
    ~ServiceHost();
    ServiceHost(const ServiceHost&) = delete;
    ServiceHost& operator=(const ServiceHost&) = delete;

    // Hands the process to the service manager when it started the process: from here its requests arrive
    // as events, the first of them the start event. Does nothing for a desktop instance; false then.
    bool StartService();
    // Whether StartService found a service manager to serve.
    bool serving() const { return serving_; }

    // The service is set up and serves its users (told once; later calls do nothing).
    void report_ready();
    // The status text the manager shows; while paused it is shown after "Paused", by which the manager
    // side tells a paused service from a running one.
    void report_status(std::string_view text);
    // The service is on its way out; the manager should not wait for more.
    void report_stopping();
    bool paused() const { return paused_; }

    // The backend's delivery of one request (not for other callers).
    struct Backend;

private:
    friend struct Backend;
    void dispatch_start();
    void dispatch_code(int32_t code);
    void send_status();

    bool serving_ = false;
    bool ready_ = false;
    bool paused_ = false;
    bool started_ = false;
    std::string status_;
};

} // namespace ktr::platform
