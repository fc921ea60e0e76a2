// modStartStopSvc: the module's own service as its manager shows it, and the calls that start, stop,
// pause, continue, create, delete and signal it; the user codes go with a receipt handshake through the
// "Settings" values the service writes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ktr::app {

// Status classes and what the labels show for them.
inline constexpr int16_t kClassRunning = 0;
inline constexpr int16_t kClassPaused = 1;
inline constexpr int16_t kClassStopped = 2;
inline constexpr int16_t kClassError = 3;

inline constexpr const char* kNoManagerText = "Could not open Service Manager";
inline constexpr const char* kNoServiceText = "Could not open Service";

// The colour (0x00BBGGRR) of a status class; grey for the error class and anything unknown.
uint32_t class_colour(int16_t status_class);

// The state of a service as text, with its class. An empty machine name is this machine. A state the
// table does not name gives an empty text and leaves the class as it was.
std::string ServiceStatus(std::string_view machine, std::string_view service, int16_t& status_class);
// The colour of the service's current class.
uint32_t ServiceStatusColour(std::string_view service);

// "OK" with the class of the new state, or the failure text (the class is then left as it was, except
// when the manager or the service cannot be opened: class 3).
std::string ServiceStart(std::string_view machine, std::string_view service, int16_t& status_class);
std::string ServiceStop(std::string_view machine, std::string_view service, int16_t& status_class);
std::string ServicePause(std::string_view machine, std::string_view service, int16_t& status_class);
std::string ServiceContinue(std::string_view machine, std::string_view service, int16_t& status_class);

// Registers a service that runs the executable, starts with the machine and runs under the system's own
// account; "OK" or why not.
std::string ServiceCreate(std::string_view name, std::string_view executable);
// Deletes the registration; "OK" or why not. A running service goes on until it is stopped.
std::string ServiceDelete(std::string_view name);
// "INSTALL" creates the service for the short form of the path; any other word deletes it.
std::string ServiceRegister(std::string_view name, std::string_view command, std::string_view executable);

// Sends a control code: 1 stop, 2 pause, 3 continue, 4 interrogate, 5 shutdown, 9 start, 128..255 the
// service's own codes. Any other code is refused without asking the manager.
bool ServiceControl(int32_t code, std::string_view service);
// ServiceControl, with an error report when one of the service's own codes could not be sent.
bool Send_Mesg(int32_t code, std::string_view service);
// Clears the receipt "OK" under the settings key, sends the code and waits about 600 ms for the service
// to write the receipt. True when the code was sent, receipt or not.
bool SendWithReceipt(int32_t code, std::string_view settings_key, std::string_view service);
// The last receipt SendWithReceipt read back (empty when none came).
const std::string& last_receipt();
// Reads a value of the key until it is not empty (at most 50 reads, 20 ms apart).
bool ReadWithRetry(std::string_view key, uint32_t root, std::string_view value_name, std::string& text);

// Sends a command word to the module's service: "OPTIONS_CHANGED", "HEARTBEAT", "STATUS" (after clearing
// the status values of the application's "Settings"), "START", "RESET_PORTS". returned_text receives the
// service's receipt when one came. False for any other word or when the code could not be sent.
bool svc_call_func(std::string_view word, std::string_view application, std::string_view settings_key,
                   std::string& returned_text);

} // namespace ktr::app
