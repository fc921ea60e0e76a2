// The console's command protocol: the data-arrival handler of the socket array. It reads one request,
// decides its command, acts, replies and shows the exchange on the main window. The same handler serves
// the time-server role (NIST text over TCP, SNTP over UDP) when the module type is not "M".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/nist_timeset.h"
#include "engine/sync_display.h"
#include "server/listener_pool.h"

namespace ktr::server {

// UTC clock as "yyyy-mm-dd h:nn:ss" and, with the flag, ".mmm".
std::string system_time_text(bool with_milliseconds);
// UTC clock as "YY-MM-DD hh:mm:ss".
std::string utc_time_text();
// The fraction of the current UTC second as "." and up to three digits without trailing zeros.
std::string fraction_text();

class ConsoleProtocol {
public:
    // The pool delivers its data-arrival events here from now on; captions go to its log-caption hook.
    ConsoleProtocol(ListenerPool& pool, engine::CNISTtimeset& engine, engine::SyncDisplay& window);
    ConsoleProtocol(const ConsoleProtocol&) = delete;
    ConsoleProtocol& operator=(const ConsoleProtocol&) = delete;

    // The remote actions ("C") and the relay ("X"): the result is the response text to show. Without a
    // handler the command is answered as an unknown one.
    std::function<std::string(const std::string& request, std::string& status)> do_command;
    std::function<std::string(const std::string& request, int16_t com_port, std::string& relay_text,
                              std::string& status)>
        do_Relay;

    // The address of the console whose request is being (or was last) handled.
    const std::string& peer() const { return peer_; }

    // The event handler.
    void DataArrival(int16_t index, int32_t bytes_total);

private:
    void tcp_request(platform::Socket& m);
    void udp_request(platform::Socket& m, int16_t index);
    void nist_client(platform::Socket& m, std::string peer);
    void sntp_client(platform::Socket& m);
    void display(const std::string& peer, const std::string& status, const std::string& response);
    void run_engine(std::string_view request);
    void run_engine(const std::vector<uint8_t>& datagram);

    ListenerPool& pool_;
    engine::CNISTtimeset& engine_;
    engine::SyncDisplay& window_;
    std::string peer_;
};

} // namespace ktr::server
