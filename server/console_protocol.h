// The console's command protocol: the data-arrival handler of the socket array. It reads one request,
// decides its command, acts, replies and shows the exchange on the main window. The same handler serves
// the time-server role (NIST text over TCP, SNTP over UDP) when the module type is not "M".
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/nist_timeset.h"
#include "engine/sync_display.h"
#include "platform/date_value.h"
#include "platform/event_pump.h"
#include "server/listener_pool.h"

namespace ktr::server {

// The remote actions ("C") and the relay ("X"): the result is the response text to show. Without a
// handler the command is answered as an unknown one.
struct ConsoleActions {
    std::function<std::string(const std::string& request, std::string& status)> do_command;
    std::function<std::string(const std::string& request, int16_t com_port, std::string& relay_text,
                              std::string& status)>
        do_Relay;
};

enum class ConsoleTransport { tcp, udp };

// What one console command comes to: the reply, what the window shows, and what follows the reply.
struct CommandReply {
    std::string text{};        // the reply; over UDP sent as a 48-byte datagram
    bool sntp = false;         // UDP: the SNTP reply to the datagram instead of the text
    bool set_clock = false;    // set and force: the engine gets the request once the reply is out
    bool timed_send = false;   // the send's end is traced with the time
    std::string status{};      // shown on the window
    std::string response = "OK";
    bool operator==(const CommandReply&) const = default;
};

// The command table of both transports. request is the whole request text (TCP) or the datagram's
// printable characters (UDP). Remote actions and relay requests run here, before the reply.
CommandReply console_command(std::string_view command, const std::string& request, ConsoleTransport transport,
                             const ConsoleActions& actions);
// The same into a reply of the caller's, every field set (its texts keep their room).
void console_command(std::string_view command, const std::string& request, ConsoleTransport transport,
                     const ConsoleActions& actions, CommandReply& reply);

class ConsoleProtocol : public ConsoleActions {
public:
    // The pool delivers its data-arrival events here from now on; captions go to its log-caption hook.
    ConsoleProtocol(ListenerPool& pool, engine::CNISTtimeset& engine, engine::SyncDisplay& window);
    ConsoleProtocol(const ConsoleProtocol&) = delete;
    ConsoleProtocol& operator=(const ConsoleProtocol&) = delete;

    // The address of the console whose request is being (or was last) handled.
    const std::string& peer() const { return peer_; }

    // The event handler.
    void DataArrival(int16_t index, int32_t bytes_total);

private:
    // A TCP request still waiting for its rest: what came so far, and when its first and last pieces came.
    struct PendingRequest {
        std::string text;
        int32_t first_tick = 0;
        int32_t last_tick = 0;
    };
    // What handling one datagram needs. Kept from request to request, so that the steady stream of an SNTP
    // client allocates nothing; a request handled while another waits (an action's wait pumps events) gets
    // buffers of its own.
    struct RequestBuffers {
        std::vector<uint8_t> datagram;
        std::string text;
        CommandReply reply;
        std::string label;
    };
    class BufferLease;

    template <class Step> void guarded(Step step);
    void tcp_piece(platform::Socket& m, int16_t index);
    void assembly_tick();
    void tcp_request(platform::Socket& m, const std::string& request);
    void udp_request(platform::Socket& m, int16_t index);
    void nist_client(platform::Socket& m, std::string peer);
    void sntp_client(platform::Socket& m);
    void display(const std::string& peer, const std::string& status, const std::string& response,
                 const platform::DateParts& utc, std::string& label);
    void run_engine(std::string_view request);
    void run_engine(const std::vector<uint8_t>& datagram);

    ListenerPool& pool_;
    engine::CNISTtimeset& engine_;
    engine::SyncDisplay& window_;
    std::string peer_;
    std::map<int16_t, PendingRequest> pending_;
    platform::Timer assembly_timer_;
    RequestBuffers buffers_;
    bool buffers_lent_ = false;
};

} // namespace ktr::server
