#pragma once
// The words of help texts and remedies that differ from one system to the other, in one place.

namespace ktr::platform {

#ifdef _WIN32
inline constexpr const char* kHowToStopWords = "until the service is stopped, the window closed or Ctrl-C pressed";
inline constexpr const char* kSerialDeviceWords = "\\\\.\\COM<n>";
inline constexpr const char* kServiceManagerWords = "the service control manager";
inline constexpr const char* kServiceAccountWords = "set to start automatically and run as LocalSystem";
// The registry is the system's own; the program folder holds no hive file.
inline constexpr bool kRegistryIsAFile = false;
// Any program may listen on a port below 1024.
inline constexpr bool kLowPortsNeedPrivilege = false;
#else
inline constexpr const char* kHowToStopWords = "until SIGTERM, SIGHUP or Ctrl-C";
inline constexpr const char* kSerialDeviceWords = "/dev/ttyS<n-1>";
inline constexpr const char* kServiceManagerWords = "systemd";
inline constexpr const char* kServiceAccountWords = "enabled to start with the machine and run as root";
inline constexpr bool kRegistryIsAFile = true;
inline constexpr bool kLowPortsNeedPrivilege = true;
#endif

} // namespace ktr::platform
