#include "server/console_protocol.h"

#include <stdexcept>

#include "config/options.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "engine/time_util.h"
#include "platform/clock.h"
#include "platform/format.h"
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

std::string system_time_text(bool with_milliseconds) {
    const platform::DateParts t = platform::clock().utc_now();
    using platform::format_number;
    std::string text = format_number(t.year, "0#") + "-" + format_number(t.month, "0#") + "-" +
                       format_number(t.day, "0#") + " " + std::to_string(t.hour) + ":" +
                       format_number(t.minute, "0#") + ":" + format_number(t.second, "0#");
    if (with_milliseconds) text += "." + format_number(t.millisecond, "00#");
    KTR_TRACE("System Date Time String: _" + text + "_");
    return text;
}

std::string utc_time_text() {
    return platform::format_date(platform::parts_to_date(platform::clock().utc_now()), "yy-mm-dd hh:nn:ss");
}

std::string fraction_text() { return platform::format_number(engine::current_fraction(), ".###"); }

ConsoleProtocol::ConsoleProtocol(ListenerPool& pool, engine::CNISTtimeset& engine, engine::SyncDisplay& window)
    : pool_(pool), engine_(engine), window_(window) {
    pool_.on_data_arrival = [this](int16_t index, int32_t bytes) { DataArrival(index, bytes); };
}

void ConsoleProtocol::DataArrival(int16_t index, int32_t) {
    try {
        platform::Socket* m = pool_.tcpServer()(index);
        must(m != nullptr);
        const int16_t format = config::options().ClientFormat();
        if (pool_.service_module()) {
            if (format == 0) tcp_request(*m);
            else if (format == 2) udp_request(*m, index);
            else KTR_TRACE("SERVER ENT format error");
            return;
        }
        KTR_TRACE("SERVER: Data Arrival from ENT ", true);
        std::string peer = m->RemoteHostIP();
        if (format == 0) nist_client(*m, std::move(peer));
        else if (format == 1) return;
        else if (format == 2) sntp_client(*m);
        else KTR_TRACE("SERVER Client format error");
    } catch (...) {
        KTR_TRACE("Server: Data Arrival Error.");
        diag::error_report(diag::Severity::information, "Server- Data arrival error.", "frmMainKtrsvc", "DataArrival", 29);
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

void ConsoleProtocol::tcp_request(platform::Socket& m) {
    KTR_TRACE("SERVER TCP NIST(ENT), " + ports_text(m));
    KTR_TRACE("<SVC MOD: Data Arrival from server ", true);
    if (pool_.on_log_caption) pool_.on_log_caption("");
    std::string request;
    must(m.GetData(request));
    const size_t plus = request.find('+');
    if (plus == std::string::npos) return;
    const std::string command = request.substr(0, plus);
    const std::string peer = m.RemoteHostIP();
    peer_ = peer;
    std::string response = "OK";
    std::string status;
    KTR_TRACE(peer + " Cmd: " + command);

    const auto send = [&m](const std::string& reply) { must(m.SendData(reply)); };
    if (command == "H") {
        send("OK-H");
        status = "Check Heartbeat";
    } else if (command == "T") {
        KTR_TRACE("Begin SendData at: " + utc_clock_text());
        send("OK-T " + system_time_text(true));
        KTR_TRACE("End SendData at: " + utc_clock_text());
        status = "Check client time";
    } else if (command == "S" || command == "F") {
        const bool force = command == "F";
        KTR_TRACE((force ? "<Force time strg:_" : "<Time strg:_") + request + "_");
        // The reply carries the module's clock as it was before any setting.
        send(force ? "OK-F " + utc_time_text() : "OK-S " + utc_time_text() + fraction_text());
        status = force ? "Force client time" : "Set client time";
        run_engine(request);
    } else if (command == "C" && do_command) {
        response = do_command(request, status);
        send("OK-C");
    } else if (command == "X" && do_Relay) {
        std::string relay_text;
        response = do_Relay(request, config::options().X10ComPort(), relay_text, status);
        send("OK-X " + relay_text);
    } else {
        send("Unknown");
        status = "Unknown command";
        response = "Error";
    }
    display(peer, status, response);
}

void ConsoleProtocol::udp_request(platform::Socket& m, int16_t index) {
    KTR_TRACE("SERVER UDP SNTP client, " + ports_text(m));
    std::vector<uint8_t> datagram;
    must(m.GetData(datagram));
    if (datagram.size() < 2) {
        KTR_TRACE("Reply is empty");
        return;
    }
    KTR_TRACE(trace_packet("In from SNTP ZKENT:", datagram));
    const char command = static_cast<char>(datagram[0]);
    const std::string peer = m.RemoteHostIP();
    peer_ = peer;
    std::string response = "OK";
    std::string status;
    KTR_TRACE(peer + " Cmd: " + std::string(1, command));

    switch (command) {
    case 'H':
        must(send_UDP_string(m, index, datagram, "OK-H"));
        status = "Check Heartbeat";
        break;
    case 'T':
        must(send_NTP_time(m, datagram));
        status = "Check client time";
        break;
    case 'S':
    case 'F':
        // A datagram carries no request text of its own.
        KTR_TRACE(command == 'F' ? "<Force time strg:__" : "<Time strg:__");
        must(send_NTP_time(m, datagram));
        status = command == 'F' ? "Force client time" : "Set client time";
        run_engine(datagram);
        break;
    case 'C':
        if (do_command) {
            response = do_command(bytes_to_text(datagram), status);
            must(send_UDP_string(m, index, datagram, "OK-C"));
            break;
        }
        [[fallthrough]];
    case 'X':
        if (command == 'X' && do_Relay) {
            std::string relay_text;
            response = do_Relay(bytes_to_text(datagram), config::options().X10ComPort(), relay_text, status);
            must(send_UDP_string(m, index, datagram, "OK-X"));
            break;
        }
        [[fallthrough]];
    default:
        must(send_NTP_time(m, datagram));
        status = "Check client time SNTP";
        break;
    }
    display(peer, status, response);
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
    must(m.SendData("Server: " + utc_time_text()));
}

void ConsoleProtocol::sntp_client(platform::Socket& m) {
    KTR_TRACE("SERVER SNTP client, " + ports_text(m));
    std::vector<uint8_t> datagram;
    must(m.GetData(datagram));
    KTR_TRACE(trace_packet("In from SNTP client:", datagram));
    must(send_NTP_time(m, datagram));
}

void ConsoleProtocol::display(const std::string& peer, const std::string& status, const std::string& response) {
    if (!pool_.on_log_caption) return;
    pool_.on_log_caption(platform::format_date(platform::now_local(), "General Date") + " Request from " + peer +
                         "\r\n\r\n" + status + "\r\n\r\n" + "Response: " + response);
}

} // namespace ktr::server
