// What the service object does with the manager's requests, the same under every service manager: the
// backend only delivers them.
#include "platform/service_host.h"

namespace ktr::platform {
namespace {
constexpr int32_t kControlPause = 2;
constexpr int32_t kControlContinue = 3;
} // namespace

void ServiceHost::dispatch_start() {
    if (started_) return;
    started_ = true;
    if (on_start && !on_start()) {
        report_stopping();
        if (on_stop) on_stop();
    }
}

void ServiceHost::dispatch_code(int32_t code) {
    if (code == kControlPause) {
        if (on_pause && on_pause()) {
            paused_ = true;
            send_status();
        }
    } else if (code == kControlContinue) {
        if (!on_continue || on_continue()) {
            paused_ = false;
            send_status();
        }
    } else if (on_control) {
        on_control(code);
    }
}

} // namespace ktr::platform
