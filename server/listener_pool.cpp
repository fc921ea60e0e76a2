#include "server/listener_pool.h"

#include "config/options.h"
#include "config/security.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "engine/clock_text.h"
#include "platform/clock.h"
#include "platform/format.h"
#include "platform/pending_error.h"
#include "platform/system_words.h"
#include "server/console_guard.h"
#include "server/time_replies.h"
#include "server/waits.h"

namespace ktr::server {
namespace {

constexpr const char* kModule = "frmMainKtrsvc";

// The option holds the port as a signed 16-bit value; ports above 32767 read back negative there.
int32_t option_port() { return static_cast<uint16_t>(config::options().TCPPort()); }

// Whether the member holds the port for the console, whatever a set-up call just said (a second set-up of a
// listening member is refused, yet it still listens).
bool serving(const platform::Socket* s, bool udp) {
    return s && s->State() == (udp ? platform::kStateOpen : platform::kStateListening);
}

void missing_member() { platform::set_pending_error(340, "Control array element does not exist"); }

} // namespace

const char* socket_state_name(int16_t state) {
    switch (state) {
    case 0: return " 0   Default. Closed";
    case 1: return "1   Open";
    case 2: return " 2   Listening";
    case 3: return " 3   Connection pending";
    case 4: return " 4   Resolving host";
    case 5: return " 5   Host resolved";
    case 6: return " 6   Connecting";
    case 7: return " 7   Connected";
    case 8: return " 8   Peer is closing the connection";
    case 9: return " 9   Error";
    default: return " UNKNOWN";
    }
}

std::string listener_trouble_text(const ListenerReport& report) {
    return "Not listening on " + report.protocol + " port " + std::to_string(report.port) + ": " + report.reason +
           "; trying again every minute.";
}

std::string listener_remedy_text(const ListenerReport& report) {
    if (report.error == platform::kErrAddressInUse)
        return "Another program holds the port: end it, or set the TCPPort option to another port.";
    // Only a privileged process may bind the low ports.
    if (platform::kLowPortsNeedPrivilege && report.port < 1024)
        return "Ports below 1024 need root or the capability to bind them (CAP_NET_BIND_SERVICE); or set the "
               "TCPPort option to a port above 1023.";
    return "Set the TCPPort option to another port, or check the network set-up.";
}

ListenerPool::ListenerPool() : sockets_(this) {}

void ListenerPool::serv_init(int16_t& instance) {
    platform::Socket* s = sockets_(instance);
    bool ok = s != nullptr;
    if (!ok) missing_member();
    const bool udp = config::udp_protocol(config::options().ClientFormat());
    const std::string protocol_name = udp ? "UDP" : "TCP";
    if (ok) {
        s->LocalPort(option_port());
        s->BindAddress(config::security().listen_address);
        s->RemotePort(option_port());
        s->Protocol(udp ? platform::kUdpProtocol : platform::kTcpProtocol);
        ok = udp ? s->Bind() : s->Listen();
    }
    if (!ok) {
        const platform::PendingError failure = platform::pending_error();  // the error report clears it
        KTR_TRACE("Error init server");
        diag::error_report(diag::Severity::information, "Can't init server.", kModule, "serv_init", 25);
        restart_ = true;
        report_listener(udp, serving(s, udp) ? nullptr : &failure);
        return;
    }
    KTR_TRACE("Service server listening on " + protocol_name + " port " + std::to_string(s->LocalPort()));
    restart_ = false;
    report_listener(udp, nullptr);
}

void ListenerPool::report_listener(bool udp, const platform::PendingError* failure) {
    if (!failure && !set_up_failed_) return;
    set_up_failed_ = failure != nullptr;
    if (!on_listener_report) return;
    ListenerReport report{.listening = !failure, .protocol = udp ? "UDP" : "TCP", .port = option_port()};
    if (failure) {
        report.error = failure->number;
        report.reason = failure->description;
    }
    on_listener_report(report);
}

void ListenerPool::reset_server(int16_t& instance) {
    KTR_TRACE(service_module() ? ">SVC MOD: Resetting port. Index " + std::to_string(instance)
              : std::string("SERVER: Resetting server"));
    restart_ = false;
    if (!serverClose(instance)) {
        KTR_TRACE("reset_server: failed to close connection");
        return;
    }
    // The member may have gone while the close waited.
    platform::Socket* s = sockets_(instance);
    bool ok = s != nullptr;
    if (!ok) missing_member();
    const config::COptions& o = config::options();
    if (ok) {
        s->RemoteHost(o.Servername());
        s->RemotePort(option_port());
        s->LocalPort(option_port());
        s->BindAddress(config::security().listen_address);
        if (config::udp_protocol(o.ClientFormat())) {
            s->Protocol(platform::kUdpProtocol);
            ok = s->Bind();
        } else {
            s->Protocol(platform::kTcpProtocol);
            ok = s->Listen();
            if (ok && s->State() != platform::kStateListening) {
                KTR_TRACE("FAILED TO RESET_SERVER");
                return;
            }
        }
    }
    const bool udp = config::udp_protocol(o.ClientFormat());
    if (!ok) {
        const platform::PendingError failure = platform::pending_error();  // the error report clears it
        KTR_TRACE("Error resetting server");
        diag::error_report(diag::Severity::information, "Can't reset server.", kModule, "reset_server", 25);
        wait_seconds(1);
        restart_ = true;
        report_listener(udp, serving(s, udp) ? nullptr : &failure);
        return;
    }
    int16_t state = s->State();
    KTR_TRACE("Reset_Server: state " + std::to_string(show_state(state)) + " on port " +
              std::to_string(s->RemotePort()));
    restart_ = false;
    report_listener(udp, nullptr);
}

bool ListenerPool::close_with_retries(const std::function<platform::Socket*()>& member, const char* failure_text) {
    for (int attempt = 1; attempt <= 5; ++attempt) {
        // Other events run inside the waits: look the socket up again each time.
        platform::Socket* s = member();
        if (!s) {
            missing_member();
            break;
        }
        if (!s->Close()) break;
        if (s->State() == platform::kStateClosed) return true;
        wait_ms(100);
        s = member();
        if (s && s->State() == platform::kStateClosed) return true;
        wait_seconds(2);
        if (attempt == 5) return false;
    }
    const platform::PendingError err = platform::pending_error();
    KTR_TRACE(failure_text + std::to_string(err.number) + " Desc: " + err.description);
    platform::clear_pending_error();
    return false;
}

bool ListenerPool::clientClose(platform::Socket& socket) {
    return close_with_retries([&socket] { return &socket; }, "error closing client: ");
}

bool ListenerPool::serverClose(int16_t& instance) {
    const int16_t index = instance;
    return close_with_retries([this, index] { return sockets_(index); }, "error closing server: ");
}

int16_t ListenerPool::NewInstance(int16_t& instance) {
    const int16_t previous = instance;
    // Wraps to 1 after the highest index instead of refusing every later connection; member 0 stays.
    instance = previous >= INT16_MAX || previous < 0 ? 1 : static_cast<int16_t>(previous + 1);
    if (!sockets_.Load(instance)) return -1;
    if (previous >= 1 && previous != instance) sockets_.Unload(previous);
    return instance;
}

int16_t ListenerPool::show_state(int16_t& state) {
    KTR_TRACE("State [" + platform::format_date(platform::now_local(), "hh:nn:ss") + "]: " +
              socket_state_name(state));
    return state;
}

void ListenerPool::ConnectionRequest(int16_t index, int32_t request_id) {
    platform::Socket* requested = sockets_(index);
    // Not accepted: the layer closes it at once, and the console's own connection stays.
    if (service_module() && requested && !console_admitted(requested->RemoteHostIP())) return;
    if (service_module()) {
        KTR_TRACE("<SVC MOD: connection request from server on remote port " +
                  std::to_string(requested ? requested->RemotePort() : 0));
        if (on_log_caption)
            on_log_caption(engine::label_date_text(platform::clock().utc_now()) + " Connection request from server...");
        KTR_TRACE("Conn Req at: " + engine::utc_clock_text());
    } else {
        // The member that raised the event holds the requester's address.
        KTR_TRACE("SERVER: Connection Request from " + (requested ? requested->RemoteHostIP() : std::string()));
    }

    const int16_t format = config::options().ClientFormat();
    if (format == config::kClientNist) {
        const int16_t next = NewInstance(listener_index_);
        bool ok = next >= 0;
        if (ok) {
            KTR_TRACE(" TCP, NIST  format");
            ok = sockets_(next)->Accept(request_id);
        }
        if (!ok) {
            KTR_TRACE("Error in connection request");
            diag::error_report(diag::Severity::problem, "Bad connection request.", kModule, "ConnectionRequest", 27);
        }
    } else if (format == config::kClientSntp) {
        KTR_TRACE(" UDP, STNP format (ERROR)");
    } else {
        KTR_TRACE("Connection rquest from unknown client format!");
    }
}

void ListenerPool::DataArrival(int16_t index, int32_t bytes_total) {
    if (on_data_arrival) on_data_arrival(index, bytes_total);
}

void ListenerPool::Close(int16_t index) {
    if (service_module()) KTR_TRACE(">SVC MOD: server requests close...");
    reset_server(index);
}

void ListenerPool::Error(int16_t index, int16_t number, const std::string& description, int32_t, const std::string&,
                         const std::string&, int32_t, bool&) {
    KTR_TRACE("Server Winsock Error: " + std::to_string(number) + "\r\n" + description);
    restart_ = true;
    reset_server(index);
}

void ListenerPool::SendProgress(int16_t, int32_t, int32_t) {
    KTR_TRACE(" SendProgress: " + engine::utc_clock_text());
}

void ListenerPool::SendComplete(int16_t) {
    if (!service_module()) return;
    KTR_TRACE(">SVC MOD: SendComplete");
    KTR_TRACE(" Completed at: " + engine::utc_clock_text());
}

} // namespace ktr::server
