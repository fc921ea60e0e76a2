// Placeholders for the parts of the Windows backend that are still being written: each fails the way the
// real call fails when the system cannot do it, so the module links and starts. Each section goes away
// when its own file lands.
#include <string>

#include "platform/backend.h"
#include "platform/client_socket.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/pending_error.h"
#include "platform/power.h"
#include "platform/process.h"
#include "platform/registry_hive.h"
#include "platform/serial_port.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "platform/udp_datagram.h"
#include "platform/wol.h"

namespace ktr::platform {
namespace {
bool unported() {
    set_pending_error(kErrInvalidOperation, "Not available on this system yet");
    return false;
}
} // namespace

// ---- section net: event pump, sockets, datagrams, wake-on-LAN, client socket ----
namespace backend {
int wait_for_handles(std::vector<HandleWait>&, int) { return 0; }
} // namespace backend
void on_stop_request(StopRequest, std::function<void(StopRequest)>) {}
Socket::Socket(SocketEvents* events, int16_t index) : events_(events), index_(index) {}
Socket::~Socket() = default;
int32_t Socket::BoundPort() const { return 0; }
bool Socket::Listen() { return unported(); }
bool Socket::Bind() { return unported(); }
bool Socket::Accept(int32_t) { return unported(); }
bool Socket::Close() { return true; }
bool Socket::SendData(std::string_view) { return unported(); }
bool Socket::SendData(const std::vector<uint8_t>&) { return unported(); }
bool Socket::GetData(std::string&) { return unported(); }
bool Socket::GetData(std::vector<uint8_t>&) { return unported(); }
SocketArray::SocketArray(SocketEvents* events) : events_(events) {}
SocketArray::~SocketArray() = default;
bool SocketArray::Load(int16_t index) {
    if (index < 0 || members_.count(index)) return unported();
    members_[index] = std::make_shared<Socket>(events_, index);
    return true;
}
bool SocketArray::Unload(int16_t index) { return index != 0 && members_.erase(index) != 0; }
Socket* SocketArray::operator()(int16_t index) const {
    auto it = members_.find(index);
    return it == members_.end() ? nullptr : it->second.get();
}
std::vector<int16_t> SocketArray::indexes() const {
    std::vector<int16_t> out;
    for (const auto& [index, member] : members_) out.push_back(index);
    return out;
}
void SocketArray::replace(int16_t index, std::shared_ptr<Socket> member) { members_[index] = std::move(member); }
std::optional<NetAddress> resolve_host(const std::string&, uint16_t, int) { return std::nullopt; }
UdpDatagramSocket::~UdpDatagramSocket() = default;
bool UdpDatagramSocket::open() { return unported(); }
bool UdpDatagramSocket::bind_loopback() { return unported(); }
uint16_t UdpDatagramSocket::local_port() const { return 0; }
bool UdpDatagramSocket::send_to(const NetAddress&, std::string_view) { return unported(); }
std::optional<std::string> UdpDatagramSocket::receive(int) { return std::nullopt; }
void UdpDatagramSocket::close() {}
bool WakeOnLan::Send() { return fail("Not available on this system yet"); }
ClientReply tcp_request(const std::string&, int, std::string_view, int, int) { return {false, "", "unported", 0}; }
ClientReply udp_request(const std::string&, int, std::string_view, int) { return {false, "", "unported", 0}; }
UdpEndpoint::UdpEndpoint(int, const std::string&) {}
UdpEndpoint::~UdpEndpoint() = default;
bool UdpEndpoint::receive(std::string&, int, std::string*, int*) { return false; }
bool UdpEndpoint::send_to(const std::string&, int, std::string_view) { return false; }

// ---- section sys: clock, locale, files, system ----
namespace backend {
std::unique_ptr<MachineClock> make_machine_clock() { return nullptr; }
void set_invalid_argument_error() { set_pending_error(5, "Invalid procedure call or argument"); }
std::optional<LocaleInfo> read_system_locale() { return std::nullopt; }
} // namespace backend
std::string program_folder() { return "."; }
std::string executable_path() { return "ktrsvc.exe"; }
std::string join_path(std::string_view folder, std::string_view name) {
    return std::string(folder) + "\\" + std::string(name);
}
OpenResult try_open_for_reading(const std::string&) { return OpenResult::not_found; }
bool append_to_file(const std::string&, std::string_view) { return unported(); }
AppendFile::~AppendFile() = default;
bool AppendFile::open(const std::string&) { return unported(); }
bool AppendFile::write(std::string_view) { return false; }
void AppendFile::close() {}
bool read_file(const std::string&, std::string&) { return unported(); }
bool remove_file(const std::string&) { return unported(); }
std::string short_path_name(const std::string& path) { return path; }
std::optional<std::string> get_env(const char*) { return std::nullopt; }
bool simulating(std::string_view) { return false; }
std::string os_family() { return "Windows"; }
std::string host_name() { return "localhost"; }
bool stdout_is_terminal() { return false; }

// ---- section reg: the registry ----
std::unique_ptr<RegistryHive> open_registry_hive(const std::string&) { return nullptr; }
void set_registry_lock_wait(int) {}

} // namespace ktr::platform
