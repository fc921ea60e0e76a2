// What the POSIX backend's files share: descriptors inside opaque handles, errno into the pending error.
#pragma once

#include <string>

#include "platform/handle.h"

namespace ktr::platform {

inline int fd_of(OsHandle handle) { return static_cast<int>(handle.value); }
inline OsHandle handle_of(int fd) { return OsHandle{fd < 0 ? -1 : fd}; }

// Fills the pending-error record from an errno value (number = the errno, description = its text).
void set_pending_error_from_errno(int errno_value);

// The device of serial port "COMn": the environment variable KTRSVC_COM<n> when set and not empty
// (e.g. KTRSVC_COM1=/dev/ttyUSB0), otherwise /dev/ttyS<n-1>. Empty for n < 1.
std::string serial_device_path(int port);

} // namespace ktr::platform
