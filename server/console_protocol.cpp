#include "server/console_protocol.h"

#include <stdexcept>
#include <utility>

#include "config/options.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "engine/clock_text.h"
#include "engine/time_util.h"
#include "platform/clock.h"
#include "platform/format.h"
#include "server/console_guard.h"
#include "server/request_assembly.h"
#include "server/time_replies.h"

namespace ktr::server {
namespace {

// A step of the handler failed: the request is dropped.
struct RequestFailed : std::runtime_error {
    RequestFailed() : std::runtime_error("data arrival") {}
};

void must(bool ok) {
    if (!ok) throw RequestFailed();
}

std::string ports_text(const platform::Socket& m) {
    return "local port: " + std::to_string(m.LocalPort()) + ", remote port: " + std::to_string(m.RemotePort());
}

} // namespace

namespace {

// One request as the command table sees it.
struct ConsoleRequest {
    const std::string& text;
    bool udp;
    const ConsoleActions& actions;
};

// Sets every field of the reply. Its texts keep their room, so a request answered again and again into the
// same reply allocates nothing.
void answer(CommandReply& r, std::string_view text, std::string_view status, std::string_view response = "OK") {
    r.text.assign(text);
    r.sntp = false;
    r.set_clock = false;
    r.timed_send = false;
    r.status.assign(status);
    r.response.assign(response);
}

void sntp_reply(CommandReply& r, std::string_view status) {
    answer(r, "", status);
    r.sntp = true;
}

void unknown_command(const ConsoleRequest& q, CommandReply& r) {
    // Over UDP anything else is a plain SNTP request: its first byte holds leap, version and mode.
    if (q.udp) return sntp_reply(r, "Check client time SNTP");
    answer(r, "Unknown", "Unknown command", "Error");
}

void heartbeat(const ConsoleRequest&, CommandReply& r) { answer(r, "OK-H", "Check Heartbeat"); }

void client_time(const ConsoleRequest& q, CommandReply& r) {
    if (q.udp) return sntp_reply(r, "Check client time");
    KTR_TRACE("Begin SendData at: " + engine::utc_clock_text());
    answer(r, "OK-T " + engine::system_time_text(true), "Check client time");
    r.timed_send = true;
}

// Set and force: the reply carries the module's clock as it was before any setting.
void set_time(const ConsoleRequest& q, bool force, CommandReply& r) {
    // A datagram carries no request text of its own.
    KTR_TRACE((force ? "<Force time strg:_" : "<Time strg:_") + (q.udp ? std::string() : diag::escaped(q.text)) + "_");
    answer(r, "", force ? "Force client time" : "Set client time");
    r.sntp = q.udp;
    r.set_clock = true;
    if (!q.udp) r.text = force ? "OK-F " + engine::utc_time_text() : "OK-S " + engine::utc_time_text() + engine::fraction_text();
}

void set_client_time(const ConsoleRequest& q, CommandReply& r) { set_time(q, false, r); }
void force_client_time(const ConsoleRequest& q, CommandReply& r) { set_time(q, true, r); }

void remote_action(const ConsoleRequest& q, CommandReply& r) {
    if (!q.actions.do_command) return unknown_command(q, r);
    answer(r, "OK-C", "");
    // A refused order is answered as a failed one.
    // Judged on the text the action itself reads, so that what is allowed is what runs.
    if (!action_admitted(q.text, 'C')) {
        r.status = "Refused";
        r.response = "Error";
        return;
    }
    r.response = q.actions.do_command(q.text, r.status);
}

void relay_switch(const ConsoleRequest& q, CommandReply& r) {
    if (!q.actions.do_Relay) return unknown_command(q, r);
    answer(r, "", "");
    std::string relay_text;
    if (!action_admitted(q.text, 'X')) {
        r.text = q.udp ? "OK-X" : "OK-X ";
        r.status = "Refused";
        r.response = "";
        return;
    }
    r.response = q.actions.do_Relay(q.text, config::options().X10ComPort(), relay_text, r.status);
    // Over UDP the acknowledgement carries no relay text.
    r.text = q.udp ? "OK-X" : "OK-X " + relay_text;
}

using CommandStep = void (*)(const ConsoleRequest&, CommandReply&);
constexpr std::pair<std::string_view, CommandStep> kCommands[] = {
    {"H", heartbeat},         {"T", client_time},   {"S", set_client_time},
    {"F", force_client_time}, {"C", remote_action}, {"X", relay_switch},
};

} // namespace

CommandReply console_command(std::string_view command, const std::string& request, ConsoleTransport transport,
                             const ConsoleActions& actions) {
    CommandReply reply;
    console_command(command, request, transport, actions, reply);
    return reply;
}

void console_command(std::string_view command, const std::string& request, ConsoleTransport transport,
                     const ConsoleActions& actions, CommandReply& reply) {
    const ConsoleRequest q{request, transport == ConsoleTransport::udp, actions};
    for (const auto& [name, step] : kCommands)
        if (command == name) return step(q, reply);
    unknown_command(q, reply);
}

// Lends the kept buffers to the outermost request; a request nested inside it gets buffers of its own.
class ConsoleProtocol::BufferLease {
public:
    explicit BufferLease(ConsoleProtocol& owner) : owner_(owner), outer_(!owner.buffers_lent_) {
        owner_.buffers_lent_ = true;
    }
    ~BufferLease() {
        if (outer_) owner_.buffers_lent_ = false;
    }
    BufferLease(const BufferLease&) = delete;
    BufferLease& operator=(const BufferLease&) = delete;
    RequestBuffers& operator*() { return outer_ ? owner_.buffers_ : own_; }

private:
    ConsoleProtocol& owner_;
    bool outer_;
    RequestBuffers own_;
};

ConsoleProtocol::ConsoleProtocol(ListenerPool& pool, engine::CNISTtimeset& engine, engine::SyncDisplay& window)
    : pool_(pool), engine_(engine), window_(window) {
    pool_.on_data_arrival = [this](int16_t index, int32_t bytes) { DataArrival(index, bytes); };
    assembly_timer_.Interval(10);
    assembly_timer_.on_timer([this] { assembly_tick(); });
}

template <class Step> void ConsoleProtocol::guarded(Step step) {
    try {
        step();
    } catch (...) {
        KTR_TRACE("Server: Data Arrival Error.");
        diag::error_report(diag::Severity::information, "Server- Data arrival error.", "frmMainKtrsvc", "DataArrival", 29);
    }
}

void ConsoleProtocol::DataArrival(int16_t index, int32_t) {
    guarded([&] {
        platform::Socket* m = pool_.tcpServer()(index);
        must(m != nullptr);
        const int16_t format = config::options().ClientFormat();
        if (pool_.service_module()) {
            if (format == config::kClientNist) tcp_piece(*m, index);
            else if (format == config::kClientSntp) udp_request(*m, index);
            else KTR_TRACE("SERVER ENT format error");
            return;
        }
        KTR_TRACE("SERVER: Data Arrival from ENT ", true);
        std::string peer = m->RemoteHostIP();
        if (format == config::kClientNist) nist_client(*m, std::move(peer));
        else if (format == config::kClientNtp) return;
        else if (format == config::kClientSntp) sntp_client(*m);
        else KTR_TRACE("SERVER Client format error");
    });
}

// Beyond this a request is acted on as it stands: nothing the console sends is this long.
constexpr size_t kLongestRequest = 64 * 1024;

void ConsoleProtocol::tcp_piece(platform::Socket& m, int16_t index) {
    std::string piece;
    must(m.GetData(piece));
    const int32_t now = platform::clock().tick_count();
    PendingRequest& p = pending_[index];
    if (p.text.empty()) {
        // A new request: traced and the label cleared at once, as when it comes in one piece.
        KTR_TRACE("SERVER TCP NIST(ENT), " + ports_text(m));
        KTR_TRACE("<SVC MOD: Data Arrival from server ", true);
        if (pool_.on_log_caption) pool_.on_log_caption("");
        p.first_tick = now;
    }
    p.last_tick = now;
    p.text += piece;
    if (request_form(p.text) != RequestForm::whole && now - p.first_tick < kAssemblyLimitMs &&
        p.text.size() < kLongestRequest) {
        if (!assembly_timer_.Enabled()) assembly_timer_.Enabled(true);
        return;
    }
    const std::string request = std::move(p.text);
    pending_.erase(index);
    tcp_request(m, request);
}

void ConsoleProtocol::assembly_tick() {
    const int32_t now = platform::clock().tick_count();
    std::vector<std::pair<int16_t, std::string>> due;
    for (auto it = pending_.begin(); it != pending_.end();) {
        const PendingRequest& p = it->second;
        const bool quiet = request_form(p.text) == RequestForm::free_text && now - p.last_tick >= kQuietMs;
        if (quiet || now - p.first_tick >= kAssemblyLimitMs) {
            due.emplace_back(it->first, std::move(it->second.text));
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    if (pending_.empty()) assembly_timer_.Enabled(false);
    for (const auto& item : due) {
        const int16_t index = item.first;
        const std::string& request = item.second;
        guarded([&] {
            platform::Socket* m = pool_.tcpServer()(index);
            // The console went away before its request was whole: nobody is left to answer.
            if (m == nullptr || m->State() != platform::kStateConnected) return;
            tcp_request(*m, request);
        });
    }
}

void ConsoleProtocol::run_engine(std::string_view request) {
    // Each run stands on its own request: an earlier force must not force this one.
    engine_.EntCmd("");
    engine_.System_get_timezone();
    engine_.DataArrived(request, window_, engine::Sender::Console);
}

void ConsoleProtocol::run_engine(const std::vector<uint8_t>& datagram) {
    engine_.EntCmd("");
    engine_.System_get_timezone();
    engine_.DataArrived(std::span<const uint8_t>(datagram), window_, engine::Sender::Console);
}

void ConsoleProtocol::tcp_request(platform::Socket& m, const std::string& request) {
    const size_t plus = request.find('+');
    if (plus == std::string::npos) return;
    const std::string command = request.substr(0, plus);
    peer_ = m.RemoteHostIP();
    KTR_TRACE(peer_ + " Cmd: " + diag::escaped(command));
    const CommandReply reply = console_command(command, request, ConsoleTransport::tcp, *this);
    must(m.SendData(reply.text));
    if (reply.timed_send) KTR_TRACE("End SendData at: " + engine::utc_clock_text());
    if (reply.set_clock) run_engine(request);
    std::string label;
    display(peer_, reply.status, reply.response, platform::clock().utc_now(), label);
}

void ConsoleProtocol::udp_request(platform::Socket& m, int16_t index) {
    KTR_TRACE("SERVER UDP SNTP client, " + ports_text(m));
    BufferLease lease(*this);
    RequestBuffers& b = *lease;
    std::vector<uint8_t>& datagram = b.datagram;
    must(m.GetData(datagram));
    if (!console_admitted(m.RemoteHostIP()) || !udp_reply_admitted(m.RemoteHostIP())) return;
    if (datagram.size() < 2) {
        KTR_TRACE("Reply is empty");
        return;
    }
    // The one reading of the clock for the request: the reply's time stamp and the label's date.
    const platform::DateParts utc = platform::clock().utc_now();
    KTR_TRACE(trace_packet("In from SNTP ZKENT:", datagram));
    const char first = static_cast<char>(datagram[0]);
    const std::string_view command(&first, 1);
    peer_ = m.RemoteHostIP();
    KTR_TRACE(peer_ + " Cmd: " + std::string(command));
    bytes_to_text(datagram, b.text);
    console_command(command, b.text, ConsoleTransport::udp, *this, b.reply);
    const CommandReply& reply = b.reply;
    must(reply.sntp ? send_NTP_time(m, datagram, utc) : send_UDP_string(m, index, datagram, reply.text));
    if (reply.set_clock) run_engine(datagram);
    display(peer_, reply.status, reply.response, utc, b.label);
    int16_t state = m.State();
    pool_.show_state(state);
    // Each datagram is answered by a fresh member.
    int16_t& listener = pool_.listener_index();
    pool_.serverClose(listener);
    must(pool_.NewInstance(listener) >= 0);
    pool_.serv_init(listener);
}

void ConsoleProtocol::nist_client(platform::Socket& m, std::string peer) {
    KTR_TRACE("SERVER  NIST(ZK)client, " + ports_text(m));
    std::string request;
    must(m.GetData(request));
    const size_t plus = request.find('+');
    if (peer.empty() && plus != std::string::npos) {
        KTR_TRACE("ZK Client, embeded IP check");
        peer = request.substr(0, plus);
        KTR_TRACE(" IP: " + peer);
    }
    must(m.SendData("Server: " + engine::utc_time_text()));
}

void ConsoleProtocol::sntp_client(platform::Socket& m) {
    KTR_TRACE("SERVER SNTP client, " + ports_text(m));
    std::vector<uint8_t> datagram;
    must(m.GetData(datagram));
    if (!udp_reply_admitted(m.RemoteHostIP())) return;
    KTR_TRACE(trace_packet("In from SNTP client:", datagram));
    must(send_NTP_time(m, datagram));
}

void ConsoleProtocol::display(const std::string& peer, const std::string& status, const std::string& response,
                              const platform::DateParts& utc, std::string& label) {
    if (!pool_.on_log_caption) return;
    // Put together in the kept text from the date text of the second: nothing is converted or formatted per request.
    label.assign(engine::label_date_text(utc))
        .append(" Request from ")
        .append(peer)
        .append("\r\n\r\n")
        .append(status)
        .append("\r\n\r\n")
        .append("Response: ")
        .append(response);
    pool_.on_log_caption(label);
}

} // namespace ktr::server
