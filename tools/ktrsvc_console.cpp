// ktrsvc-console: the small client administrators and tests use to drive a Service Module.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/client_socket.h"
#include "platform/clock.h"
#include "platform/date_value.h"
#include "platform/format.h"

namespace {

const char kUsage[] =
    "Usage: ktrsvc-console [--host H] [--port P] [--udp] [--timeout S] COMMAND [ARGS...]\n"
    "\n"
    "Sends one request to a Service Module and prints its reply exactly.\n"
    "\n"
    "Commands:\n"
    "  H                  heartbeat (sends \"H+\")\n"
    "  T                  report the module's clock (\"T+\")\n"
    "  S DATE TIME MS     set the module's clock, e.g. S 26-12-05 05:37:32 250\n"
    "  F DATE TIME MS     force the setting even below the minimum difference\n"
    "  C ARGS...          a remote action (\"C+\" and the arguments)\n"
    "  X ARGS...          switch a relay (\"X+\" and the arguments)\n"
    "  sync               \"S+\" with this machine's UTC clock (YY-MM-DD hh:mm:ss and milliseconds)\n"
    "  force              \"F+\" with this machine's UTC clock\n"
    "  sntp               a standard SNTP query over UDP; prints the server time and the offset\n"
    "  raw TEXT           sends TEXT exactly as the request (e.g. raw h+)\n"
    "\n"
    "Options:\n"
    "  --host H           the module's host (default 127.0.0.1)\n"
    "  --port P           its port (default: 1001, then 11001, the port scripts/run.sh gives an ordinary\n"
    "                     user; 123 for sntp)\n"
    "  --udp              send the request as a UDP datagram instead of over TCP\n"
    "  --timeout S        seconds to wait for the reply (default 3)\n"
    "  -h, --help         this text\n"
    "\n"
    "Exit status: 0 when a reply arrived, 1 when none did (nothing listens, or no reply in time), 2 for a\n"
    "usage error.\n";

int usage_error(const std::string& message) {
    std::fprintf(stderr, "ktrsvc-console: %s\nTry 'ktrsvc-console --help'.\n", message.c_str());
    return 2;
}

// Nothing answered: one message that names where the tool looked, and what to check.
int no_reply(const std::string& host, const std::string& port, bool udp, const std::string& why) {
    std::fprintf(stderr,
                 "ktrsvc-console: nothing answered at %s port %s (%s): %s\n"
                 "Is ktrsvc running and listening there? It listens on its TCPPort option, which scripts/run.sh "
                 "prints; name the port with --port.\n",
                 host.c_str(), port.c_str(), udp ? "UDP" : "TCP", why.c_str());
    return 1;
}

bool parse_int(const std::string& text, int lo, int hi, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

// This machine's UTC clock as the console sends it: YY-MM-DD hh:mm:ss and the milliseconds.
std::string clock_request_text() {
    const auto now = ktr::platform::clock().utc_now();
    const double date = ktr::platform::parts_to_date(now);
    return ktr::platform::format_date(date, "yy-mm-dd") + " " + ktr::platform::format_date(date, "hh:nn:ss") + " " +
           std::to_string(now.millisecond);
}

// NTP timestamp (seconds since 1900 with fraction) of a UTC date value.
void put_timestamp(std::string& packet, size_t at, double utc_date) {
    const double secs = (utc_date - 2.0) * 86400.0;
    const double whole = std::floor(secs);
    const auto s = static_cast<uint32_t>(whole);
    const auto f = static_cast<uint32_t>((secs - whole) * 4294967296.0);
    for (int i = 0; i < 4; ++i) {
        packet[at + i] = static_cast<char>((s >> (24 - 8 * i)) & 0xFF);
        packet[at + 4 + i] = static_cast<char>((f >> (24 - 8 * i)) & 0xFF);
    }
}

double get_timestamp(const std::string& packet, size_t at) {
    uint32_t s = 0, f = 0;
    for (int i = 0; i < 4; ++i) {
        s = (s << 8) | static_cast<unsigned char>(packet[at + i]);
        f = (f << 8) | static_cast<unsigned char>(packet[at + 4 + i]);
    }
    return s + f / 4294967296.0;  // seconds since 1900
}

int run_sntp(const std::string& host, int port, int timeout_ms) {
    std::string packet(48, '\0');
    packet[0] = 0x1B;  // version 3, client mode
    const double t1_date = ktr::platform::now_utc();
    put_timestamp(packet, 40, t1_date);
    const auto reply = ktr::platform::udp_request(host, port, packet, timeout_ms);
    const double t4_date = ktr::platform::now_utc();
    if (!reply.ok) return no_reply(host, std::to_string(port), true, reply.error);
    if (reply.data.size() < 48) {
        std::fprintf(stderr, "ktrsvc-console: reply of %zu bytes is not an SNTP packet\n", reply.data.size());
        return 1;
    }
    const double t1 = (t1_date - 2.0) * 86400.0, t4 = (t4_date - 2.0) * 86400.0;
    const double t2 = get_timestamp(reply.data, 32), t3 = get_timestamp(reply.data, 40);
    const double offset = t2 == 0 ? t3 - (t1 + t4) / 2 : ((t2 - t1) + (t3 - t4)) / 2;
    const double server_date = t3 / 86400.0 + 2.0;
    const auto p = ktr::platform::date_to_parts(server_date);
    std::printf("server time: %04d-%02d-%02d %02d:%02d:%02d.%03d UTC\noffset: %+.3f s\n", p.year, p.month, p.day, p.hour,
                p.minute, p.second, p.millisecond, offset);
    return 0;
}

// The request text of a console command, or an empty text with the usage error in error.
std::string request_of(const std::string& command, const std::string& args, std::string& error) {
    if (command == "sync" || command == "force") {
        if (!args.empty()) error = command + " takes no arguments";
        return std::string(command == "sync" ? "S+ " : "F+ ") + clock_request_text();
    }
    // The module reads the date, time and milliseconds as the blank-separated words after the prefix.
    if (command == "S" || command == "F") return command + "+ " + args;
    if (command == "H" || command == "T" || command == "C" || command == "X") return command + "+" + args;
    if (command == "raw") {
        if (args.empty()) error = "raw needs the request text";
        return args;
    }
    error = "unknown command '" + command + "'";
    return {};
}

struct Options {
    std::string host = "127.0.0.1";
    int port = -1;  // not given
    bool udp = false;
    int timeout_ms = 3000;
    std::vector<std::string> words;
};

// Reads the command line; false with the usage error in error.
bool read_options(int argc, char** argv, Options& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--udp") {
            o.udp = true;
        } else if (a == "--host" || a == "--port" || a == "--timeout") {
            if (i + 1 >= argc) return error = a + " needs a value", false;
            const std::string v = argv[++i];
            int seconds = 0;
            if (a == "--host") {
                o.host = v;
            } else if (a == "--port") {
                if (!parse_int(v, 1, 65535, o.port)) return error = "--port takes a number from 1 to 65535", false;
            } else if (!parse_int(v, 1, 3600, seconds)) {
                return error = "--timeout takes a number of seconds from 1 to 3600", false;
            } else {
                o.timeout_ms = seconds * 1000;
            }
        } else {
            o.words.push_back(a);
        }
    }
    if (o.words.empty()) error = "no command given";
    return error.empty();
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "-h" || std::string_view(argv[i]) == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    Options o;
    std::string error;
    if (!read_options(argc, argv, o, error)) return usage_error(error);
    const std::string& command = o.words[0];
    std::string args;
    for (size_t i = 1; i < o.words.size(); ++i) args += (i > 1 ? " " : "") + o.words[i];
    if (command == "sntp") return run_sntp(o.host, o.port < 0 ? 123 : o.port, o.timeout_ms);

    const std::string request = request_of(command, args, error);
    if (!error.empty()) return usage_error(error);
    const auto ask = [&](int at) {
        return o.udp ? ktr::platform::udp_request(o.host, at, request, o.timeout_ms)
                     : ktr::platform::tcp_request(o.host, at, request, o.timeout_ms);
    };
    // Without --port: the module's default port, then the one the run script gives an ordinary user.
    auto reply = ask(o.port < 0 ? 1001 : o.port);
    if (!reply.ok && o.port < 0) {
        const auto second = ask(11001);
        if (!second.ok) return no_reply(o.host, "1001 or 11001", o.udp, reply.error + "; " + second.error);
        reply = second;
    }
    if (!reply.ok) return no_reply(o.host, std::to_string(o.port), o.udp, reply.error);
    std::fwrite(reply.data.data(), 1, reply.data.size(), stdout);
    std::fputc('\n', stdout);
    return 0;
}
