// The console listener: the socket array of the main window, the listener index and restart flag, the
// set-up, close and re-arm operations, and the socket events other than data arrival.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/pending_error.h"
#include "platform/socket.h"

namespace ktr::server {

// What a listener set-up came to, for the user: listening, or why not.
struct ListenerReport {
    bool listening = false;
    std::string protocol{};  // "TCP" or "UDP"
    int32_t port = 0;
    int32_t error = 0;       // the socket layer's error number
    std::string reason{};    // its description
    bool operator==(const ListenerReport&) const = default;
};

// Why the module does not listen (the port and the reason), and what the user can do about it.
std::string listener_trouble_text(const ListenerReport& report);
std::string listener_remedy_text(const ListenerReport& report);

class ListenerPool : public platform::SocketEvents {
public:
    ListenerPool();
    ListenerPool(const ListenerPool&) = delete;
    ListenerPool& operator=(const ListenerPool&) = delete;

    platform::SocketArray& tcpServer() { return sockets_; }
    // The member currently listening or connected; it grows and wraps from 32767 back to 1.
    int16_t& listener_index() { return listener_index_; }
    bool listener_restart() const { return restart_; }
    void listener_restart(bool on) { restart_ = on; }
    // The one-letter module type: "M" is the Service Module, any other letter the time server.
    char module_type() const { return module_type_; }
    void module_type(char letter) { module_type_ = letter; }
    bool service_module() const { return module_type_ == 'M'; }

    // The window's hooks: data arrival (the console protocol) and the caption of the log label.
    std::function<void(int16_t index, int32_t bytes_total)> on_data_arrival;
    std::function<void(const std::string& caption)> on_log_caption;
    // Each failed set-up or re-arm, and the first one that works again after a failure.
    std::function<void(const ListenerReport& report)> on_listener_report;

    void serv_init(int16_t& instance);
    void reset_server(int16_t& instance);
    bool clientClose(platform::Socket& socket);
    bool serverClose(int16_t& instance);
    // Creates the next member and destroys the one before it (never member 0). -1 (pending error filled)
    // when the member cannot be created.
    int16_t NewInstance(int16_t& instance);
    int16_t show_state(int16_t& state);

    // Socket events.
    void ConnectionRequest(int16_t index, int32_t request_id) override;
    void DataArrival(int16_t index, int32_t bytes_total) override;
    void Close(int16_t index) override;
    void Error(int16_t index, int16_t number, const std::string& description, int32_t scode,
               const std::string& source, const std::string& help_file, int32_t help_context,
               bool& cancel_display) override;
    void SendProgress(int16_t index, int32_t bytes_sent, int32_t bytes_remaining) override;
    void SendComplete(int16_t index) override;

private:
    bool close_with_retries(const std::function<platform::Socket*()>& member, const char* failure_text);
    void report_listener(bool udp, const platform::PendingError* failure);

    platform::SocketArray sockets_;
    int16_t listener_index_ = 0;
    bool restart_ = false;
    char module_type_ = 'M';
    bool set_up_failed_ = false;
};

// The name text of a socket state as trace lines show it.
const char* socket_state_name(int16_t state);

} // namespace ktr::server
