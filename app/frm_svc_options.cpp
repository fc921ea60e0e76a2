#include "app/frm_svc_options.h"

#include "app/service_manager_ops.h"

namespace ktr::app {

ServiceCalls::ServiceCalls()
    : status(ServiceStatus), start(ServiceStart), stop(ServiceStop), pause(ServicePause), resume(ServiceContinue) {}

frmSvcOptions::frmSvcOptions(std::string service) : service_(std::move(service)) {}

void frmSvcOptions::Form_Load() {
    model_.caption = "Service Control - " + service_;
    cmdStatus_Click();
}

void frmSvcOptions::show_status(const std::string& text) {
    model_.status = text;
    model_.status_colour = class_colour(class_);
    if (on_change) on_change();
}

void frmSvcOptions::cmdStatus_Click() {
    class_ = kClassError;
    show_status(calls.status("", service_, class_));
}

// A request the manager took shows the state it leads to; a refused one shows why, in the colour of the
// class it left.
void frmSvcOptions::run(const ServiceCalls::Operation& operation) {
    const std::string result = operation("", service_, class_);
    if (result != "OK") {
        show_status(result);
        return;
    }
    cmdStatus_Click();
}

void frmSvcOptions::cmdStart_Click() {
    int16_t current = kClassError;
    calls.status("", service_, current);
    run(current == kClassPaused ? calls.resume : calls.start);
}

void frmSvcOptions::cmdStop_Click() { run(calls.stop); }
void frmSvcOptions::cmdPause_Click() { run(calls.pause); }

} // namespace ktr::app
