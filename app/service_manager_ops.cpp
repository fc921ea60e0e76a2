#include "app/service_manager_ops.h"

#include <memory>

#include "app/frm_main_ktrsvc.h"
#include "config/program.h"
#include "config/registry_tools.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "platform/event_log.h"
#include "platform/pending_error.h"
#include "platform/service_manager.h"
#include "platform/settings_store.h"
#include "server/waits.h"

namespace ktr::app {
namespace {

using platform::ServiceHandle;
using platform::ServiceManager;

constexpr int kReceiptReads = 30;
constexpr int kRetryReads = 50;
constexpr int32_t kReadPauseMs = 20;

std::string g_receipt;

std::string state_text(uint32_t state, int16_t& status_class) {
    switch (state) {
    case platform::kServiceStopped: status_class = kClassStopped; return "Stopped";
    case platform::kServiceStartPending: status_class = kClassRunning; return "Start Pending";
    case platform::kServiceStopPending: status_class = kClassStopped; return "Stop Pending";
    case platform::kServiceRunning: status_class = kClassRunning; return "Running";
    case platform::kServiceContinuePending: status_class = kClassRunning; return "Coninue Pending";
    case platform::kServicePausePending: status_class = kClassPaused; return "Pause Pending";
    case platform::kServicePaused: status_class = kClassPaused; return "Paused";
    default: return "";
    }
}

// Opens the manager and the service; on failure the status text says which could not be opened.
struct Opened {
    std::unique_ptr<ServiceManager> manager;
    std::unique_ptr<ServiceHandle> service;
    std::string failure;
    int32_t error = 0;
};

Opened open(std::string_view machine, uint32_t manager_access, std::string_view name, uint32_t service_access) {
    Opened o;
    o.manager = platform::open_service_manager(machine, manager_access, o.error);
    if (!o.manager) {
        o.failure = kNoManagerText;
        return o;
    }
    o.service = o.manager->open_service(name, service_access, o.error);
    if (!o.service) o.failure = kNoServiceText;
    return o;
}

// One of start, stop, pause and continue: its text, the class on success and its debug line.
std::string run(std::string_view machine, std::string_view service, int16_t& status_class,
                int32_t (ServiceHandle::*call)(), int16_t success_class, const char* failure_text,
                const char* trace_name) {
    Opened o = open(machine, platform::kManagerAllAccess, service, platform::kServiceAllAccess);
    std::string text;
    if (!o.service) {
        text = o.failure;
        status_class = kClassError;
    } else if (((*o.service).*call)() == 0) {
        text = "OK";
        status_class = success_class;
    } else {
        text = failure_text;
    }
    KTR_TRACE(std::string(trace_name) + " Status: " + text);
    return text;
}

// The access a control code needs; 0 for a code that is refused outright.
uint32_t access_for(int32_t code) {
    switch (code) {
    case 1:
    case 5: return platform::kServiceStopAccess;
    case 9: return platform::kServiceStartAccess;
    case 2:
    case 3: return platform::kServicePauseContinueAccess;
    case 4: return platform::kServiceInterrogateAccess;
    default:
        return code >= static_cast<int32_t>(platform::kFirstUserControl) &&
                       code <= static_cast<int32_t>(platform::kLastUserControl)
                   ? platform::kServiceUserControlAccess
                   : 0;
    }
}

int32_t send(ServiceHandle& service, int32_t code) {
    uint32_t state = 0;
    switch (code) {
    case 1: return service.stop();
    case 2: return service.pause();
    case 3: return service.resume();
    case 4: return service.query_state(state);
    case 9: return service.start();
    default: return service.send_control(static_cast<uint32_t>(code));
    }
}

} // namespace

uint32_t class_colour(int16_t status_class) {
    switch (status_class) {
    case kClassRunning: return kColourGreen;
    case kClassPaused: return kColourLightYellow;
    case kClassStopped: return kColourLightRed;
    default: return kColourGrey;
    }
}

std::string ServiceStatus(std::string_view machine, std::string_view service, int16_t& status_class) {
    Opened o = open(machine, platform::kManagerConnect, service, platform::kServiceGenericRead);
    if (!o.service) {
        status_class = kClassError;
        return o.failure;
    }
    uint32_t state = 0;
    if (o.service->query_state(state) != 0) {
        status_class = kClassError;
        return "Could not query Service Status";
    }
    return state_text(state, status_class);
}

uint32_t ServiceStatusColour(std::string_view service) {
    int16_t status_class = kClassError;
    ServiceStatus("", service, status_class);
    return class_colour(status_class);
}

std::string ServiceStart(std::string_view machine, std::string_view service, int16_t& status_class) {
    return run(machine, service, status_class, &ServiceHandle::start, kClassRunning, "Failed to Start", "ServiceStart");
}

std::string ServiceStop(std::string_view machine, std::string_view service, int16_t& status_class) {
    return run(machine, service, status_class, &ServiceHandle::stop, kClassStopped, "Failed to Stop", "ServiceStop");
}

std::string ServicePause(std::string_view machine, std::string_view service, int16_t& status_class) {
    return run(machine, service, status_class, &ServiceHandle::pause, kClassPaused, "Failed to Pause", "ServicePause");
}

// A failed continue reports the pause's text: the product never had a text of its own for it.
std::string ServiceContinue(std::string_view machine, std::string_view service, int16_t& status_class) {
    return run(machine, service, status_class, &ServiceHandle::resume, kClassRunning, "Failed to Pause",
               "ServiceContinue");
}

std::string ServiceCreate(std::string_view name, std::string_view executable) {
    int32_t error = 0;
    std::string text;
    if (auto manager = platform::open_service_manager("", platform::kManagerCreateService, error); !manager)
        text = kNoManagerText;
    else if (manager->create_service(name, executable, error))
        text = "OK";
    else
        text = "Could not create Service at path " + std::string(executable);
    KTR_TRACE("ServiceCreate Status: " + text + " for " + std::string(name));
    return text;
}

std::string ServiceDelete(std::string_view name) {
    Opened o = open("", platform::kManagerCreateService, name, platform::kServiceAllAccess);
    std::string text;
    if (!o.manager)
        text = kNoManagerText;
    else if (!o.service)
        text = std::string(kNoServiceText) + " ";
    else
        text = o.service->remove() == 0 ? "OK" : "Could not delete Service";
    KTR_TRACE("ServiceDelete Status: " + text + " for " + std::string(name));
    return text;
}

std::string ServiceRegister(std::string_view name, std::string_view command, std::string_view executable) {
    if (command == "INSTALL") {
        const std::string short_path = config::GetShortNameFromLongName(std::string(executable));
        KTR_TRACE("Registering: " + std::string(name) + " " + short_path + " - CREATE" + "...");
        // A missing program has no short path: no service is made to start nothing, and the text names
        // the path the caller gave.
        if (short_path.empty()) return "Could not create Service at path " + std::string(executable);
        const std::string created = ServiceCreate(name, short_path);
        // The service's records in the application event log take their texts from the executable.
        if (created == "OK" && !platform::register_event_source(config::program().title, executable)) {
            KTR_TRACE("Event source not registered: " + platform::pending_error().description);
            platform::clear_pending_error();
        }
        return created;
    }
    KTR_TRACE("Registering: " + std::string(name) + " - DELETE" + "...");
    return ServiceDelete(name);
}

bool ServiceControl(int32_t code, std::string_view service) {
    const uint32_t access = access_for(code);
    if (access == 0) return false;
    Opened o = open("", platform::kManagerAllAccess, service, access);
    if (o.service && (o.error = send(*o.service, code)) == 0) return true;
    KTR_TRACE("Control Service Failed: Error " + std::to_string(o.error));
    return false;
}

bool Send_Mesg(int32_t code, std::string_view service) {
    const bool sent = ServiceControl(code, service);
    if (!sent && code >= 128 && code <= 255)
        diag::error_report(diag::Severity::information, "Failed to successfully send service message #" + std::to_string(code),
                           "modStartStopSvc", "Send_Mesg", 195);
    return sent;
}

bool SendWithReceipt(int32_t code, std::string_view settings_key, std::string_view service) {
    g_receipt.clear();
    if (code == 0) return false;
    const uint32_t root = config::program().registry_root;
    // The key may not exist before the service first wrote to it.
    if (config::CreateNewKey(settings_key, root)) config::SetKeyValue(settings_key, root, "OK", "", config::kRegTypeString);
    if (!Send_Mesg(code, service)) return false;
    for (int i = 0; i < kReceiptReads; ++i) {
        std::string text;
        if (config::QueryValue(settings_key, root, "OK", text) && !text.empty()) {
            KTR_TRACE("Returned string: " + text);
            g_receipt = text;
            return true;
        }
        server::wait_ms(kReadPauseMs);
    }
    return true;
}

const std::string& last_receipt() { return g_receipt; }

bool ReadWithRetry(std::string_view key, uint32_t root, std::string_view value_name, std::string& text) {
    for (int i = 0; i < kRetryReads; ++i) {
        if (config::QueryValue(key, root, value_name, text) && !text.empty()) return true;
        server::wait_ms(kReadPauseMs);
    }
    return false;
}

bool svc_call_func(std::string_view word, std::string_view application, std::string_view settings_key,
                   std::string& returned_text) {
    int32_t code = 0;
    if (word == "OPTIONS_CHANGED") code = 128;
    else if (word == "HEARTBEAT") code = 133;
    else if (word == "STATUS") {
        platform::save_setting(application, "Settings", "setstattext", "");
        platform::save_setting(application, "Settings", "setstatcolor", "");
        code = 140;
    } else if (word == "START") code = 144;
    else if (word == "RESET_PORTS") code = 148;
    else {
        KTR_TRACE("svc_call_func: command not found " + std::string(word));
        return false;
    }
    const bool sent = SendWithReceipt(code, settings_key, kServiceName);
    if (sent && !last_receipt().empty()) returned_text = last_receipt();
    return sent;
}

} // namespace ktr::app
