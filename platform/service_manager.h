// The service manager: the machine's registry of services, through which one program starts, stops,
// pauses, continues, creates and deletes another and sends it control codes. A manager and a service are
// handles; closing them is dropping the object. No call throws: each returns a system error number, 0 on
// success, and also leaves a failure in the pending-error record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace ktr::platform {

// Access asked of the manager and of a service. A backend whose manager decides access by other means
// may ignore them; they still document what the caller means to do.
inline constexpr uint32_t kManagerConnect = 0x0001;
inline constexpr uint32_t kManagerCreateService = 0x0002;
inline constexpr uint32_t kManagerAllAccess = 0xF003F;
inline constexpr uint32_t kServiceStartAccess = 0x0010;
inline constexpr uint32_t kServiceStopAccess = 0x0020;
inline constexpr uint32_t kServicePauseContinueAccess = 0x0040;
inline constexpr uint32_t kServiceInterrogateAccess = 0x0080;
inline constexpr uint32_t kServiceUserControlAccess = 0x0100;
inline constexpr uint32_t kServiceAllAccess = 0xF01FF;
inline constexpr uint32_t kServiceGenericRead = 0x80000000u;

// The states a service is reported in.
inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;
inline constexpr uint32_t kServiceContinuePending = 5;
inline constexpr uint32_t kServicePausePending = 6;
inline constexpr uint32_t kServicePaused = 7;

// The codes a running service may be sent by its users.
inline constexpr uint32_t kFirstUserControl = 128;
inline constexpr uint32_t kLastUserControl = 255;

// The status text a running service reports while it is paused starts with this word; a service that
// reports it is shown as paused whatever else its manager says about it.
inline constexpr std::string_view kPausedStatusPrefix = "Paused";

// One service, opened by name.
class ServiceHandle {
public:
    virtual ~ServiceHandle() = default;

    // The current state (one of kServiceStopped .. kServicePaused; 0 when the manager reports a state
    // none of them names).
    virtual int32_t query_state(uint32_t& state) = 0;
    // Asks the manager to start the service; success means the request was accepted.
    virtual int32_t start() = 0;
    virtual int32_t stop() = 0;
    virtual int32_t pause() = 0;
    virtual int32_t resume() = 0;  // continue
    // Delivers a user code (kFirstUserControl .. kLastUserControl) to the running service; other codes
    // are refused. Success means the service was handed the code, not that it has acted on it.
    virtual int32_t send_control(uint32_t code) = 0;
    // Deletes the registration: the service no longer starts with the machine and cannot be opened
    // again; a running service keeps running until it is stopped.
    virtual int32_t remove() = 0;
};

class ServiceManager {
public:
    virtual ~ServiceManager() = default;

    // Opens a registered service; nothing (with the error set) when it is not registered.
    virtual std::unique_ptr<ServiceHandle> open_service(std::string_view name, uint32_t access, int32_t& error) = 0;
    // Registers a service of the given name that runs the executable under the system's own account and
    // starts with the machine. Fails when a service of that name exists or the path is not absolute.
    virtual std::unique_ptr<ServiceHandle> create_service(std::string_view name, std::string_view executable,
                                                          int32_t& error) = 0;
};

// Opens the service manager of a machine (empty: this one). Nothing, with the error set, when no service
// manager runs there or it cannot be reached.
std::unique_ptr<ServiceManager> open_service_manager(std::string_view machine, uint32_t access, int32_t& error);

} // namespace ktr::platform
