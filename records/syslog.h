// Events forwarded to a syslog server as plain-text UDP datagrams.
#pragma once

#include <cstdint>
#include <string_view>

namespace ktr::records {

inline constexpr uint16_t kSyslogPort = 514;
// The facility of every event the module forwards.
inline constexpr int16_t kSyslogFacility = 12;
// The longest wait for a syslog host name to resolve, in milliseconds.
inline constexpr int kSyslogResolveWaitMs = 1000;

// Checks the server, computes PRI = facility x 8 + event type + 2 and sends the text. False when the
// server is empty or the datagram could not be sent.
bool send_syslog(std::string_view text, std::string_view tag, std::string_view server, int16_t facility,
                 int16_t event_type);

// Sends "<PRI>" + host part + " " + tag + ": " + text as one datagram to the server's syslog port.
// The socket is created at the first call and kept for the life of the process. Never throws; false on
// any failure (host not resolvable, socket error).
bool syslog_write(std::string_view text, std::string_view tag, std::string_view host_part, std::string_view server,
                  int16_t pri);

// The port datagrams go to (tests point it at a loopback listener; 0 restores the syslog port).
void set_syslog_port(uint16_t port);

} // namespace ktr::records
