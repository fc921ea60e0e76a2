// Time replies side by side in one run: a bare UDP echo (the loopback limit), the built module answering SNTP
// over UDP (ClientFormat 2, a fresh member after every request) and, when it is installed, chronyd as a local
// stratum-1 server that never touches the clock (-x, its own configuration on a private loopback port). The
// same load client, a process of its own, drives each: replies per second with 32 in flight, latency p50 and
// p99 of sequential requests, losses, the server's CPU per request; with server and client on two cores and on
// one. Then the idle servers' wake-ups and resident memory, and the console's "H+" round trip over TCP. Every
// figure is also printed as a ratio to the echo's, so that runs on different machines compare. Linux only (it
// reads /proc and pins with taskset); traffic goes to 127.0.0.1 only, bounded in count and time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/client_socket.h"
#include "udp_load_client.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Settings {
    int rounds = 3;             // runs per server and core set, interleaved across the servers
    int sequential = 3000;      // one request at a time, for the latency
    int load = 50000;           // requests at 32 in flight
    int in_flight = 32;
    int idle_seconds = 30;      // the window over which idle wake-ups are counted
    int tcp_rounds = 500;       // console "H+" round trips
    bool chronyd = true;
};

// ---- the load client (run as "--client PORT OUT_FILE" in a process of its own, pinned by the caller) ----

using ClientFigures = ktr::bench::UdpLoadFigures;
using ktr::bench::percentile;

ClientFigures run_client(int port, const Settings& s) {
    return ktr::bench::udp_load(port, s.sequential, s.load, s.in_flight, std::chrono::seconds(20));
}

// ---- the bare echo (run as "--echo PORT"): a blocking receive and a send per datagram, nothing else ----

int run_echo(int port) {
    ktr::platform::UdpEndpoint ep(port);
    if (!ep.ok()) return 1;
    std::string data, host;
    int from = 0;
    for (;;)
        if (ep.receive(data, -1, &host, &from)) ep.send_to(host, from, data);
}

// ---- processes ----

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Starts the command line in the background pinned to the core; its pid, 0 when it did not start.
int start_pinned(int core, const std::string& command, const fs::path& pid_file) {
    const std::string line = "taskset -c " + std::to_string(core) + " " + command + " >/dev/null 2>&1 & echo $! > " +
                             quoted(pid_file.string());
    if (std::system(line.c_str()) != 0) return 0;
    int pid = 0;
    std::ifstream(pid_file) >> pid;
    return pid;
}

void stop(int pid) {
    if (pid > 0) std::system(("kill -TERM " + std::to_string(pid) + " 2>/dev/null").c_str());
}

std::string read_text(const fs::path& path) {
    std::ifstream f(path);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// A field of /proc/<pid>/status as a number ("VmRSS", in kB; the context switch counts).
long status_field(int pid, const std::string& name) {
    std::istringstream in(read_text("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name + ":", 0) == 0) return std::strtol(line.c_str() + name.size() + 1, nullptr, 10);
    return -1;
}

long wake_ups(int pid) {
    return status_field(pid, "voluntary_ctxt_switches") + status_field(pid, "nonvoluntary_ctxt_switches");
}

// Nanoseconds the process has run on a CPU (the first field of schedstat).
double cpu_ns(int pid) {
    std::istringstream in(read_text("/proc/" + std::to_string(pid) + "/schedstat"));
    double ns = 0;
    in >> ns;
    return ns;
}

bool alive(int pid) { return pid > 0 && fs::exists("/proc/" + std::to_string(pid)); }

// A UDP port nothing holds; below 32768 so the module's 16-bit port option can hold it.
int free_port() {
    static int next = 20000 + static_cast<int>(Clock::now().time_since_epoch().count() % 10000);
    for (; next < 32767; ++next) {
        ktr::platform::UdpEndpoint probe(next);
        if (probe.ok()) return next++;
    }
    return 0;
}

// Whether a server answers a request on the port (the reply's bytes in reply).
bool answers(int port, std::string* reply = nullptr) {
    std::string req(48, '\0');
    req[0] = 0x1B;
    const auto r = ktr::platform::udp_request("127.0.0.1", port, req, 200);
    if (r.ok && reply) *reply = r.data;
    return r.ok;
}

struct Server {
    std::string name;
    int port = 0;
    int pid = 0;
};

// ---- one measured run: the client pinned to a core, the server's CPU read around it ----

struct RunFigures {
    ClientFigures client;
    double cpu_ns_per_reply = 0;
};

std::optional<RunFigures> measure(const fs::path& self, const fs::path& work, const Server& server, int client_core,
                                  const Settings& s) {
    const fs::path out = work / "client.txt";
    fs::remove(out);
    const double cpu_before = cpu_ns(server.pid);
    const std::string line = "taskset -c " + std::to_string(client_core) + " " + quoted(self.string()) +
                             " --client " + std::to_string(server.port) + " " + quoted(out.string()) +
                             " --sequential " + std::to_string(s.sequential) + " --load " + std::to_string(s.load);
    if (std::system(line.c_str()) != 0) return std::nullopt;
    const double cpu_after = cpu_ns(server.pid);
    RunFigures r;
    std::istringstream in(read_text(out));
    ClientFigures& c = r.client;
    if (!(in >> c.p50_us >> c.p99_us >> c.seq_lost >> c.load_sent >> c.load_replies >> c.load_seconds)) return std::nullopt;
    const int replies = s.sequential - c.seq_lost + c.load_replies;
    r.cpu_ns_per_reply = replies > 0 ? (cpu_after - cpu_before) / replies : 0;
    return r;
}

// The figures of one server over the rounds. On a shared machine other work only ever slows a run down, so
// the rates are the best run's, p50 and CPU the lowest run's, p99 the median run's.
struct Row {
    double rate2 = 0, rate1 = 0;      // replies/s at 32 in flight, two cores and one
    double p50_2 = 0, p99_2 = 0;      // sequential latency, two cores
    double p50_1 = 0, p99_1 = 0;      // and one
    double cpu_ns = 0;                // server CPU per reply (two cores)
    long lost = 0, sent = 0;          // over every run
    double wake_ups = -1;             // idle, over the window
    double rss_kib = -1;              // idle
};

void print_table(const std::vector<Server>& servers, const std::map<std::string, Row>& rows, const Settings& s) {
    const Row& echo = rows.at(servers.front().name);
    const auto ratio = [](double v, double base) { return base > 0 ? v / base : 0.0; };
    std::printf("\n%-10s %12s %12s %10s %10s %10s %10s %10s %10s %12s %10s\n", "server", "replies/s 2c",
                "replies/s 1c", "p50 2c us", "p99 2c us", "p50 1c us", "p99 1c us", "CPU ns/req", "lost",
                "idle wakes", "RSS KiB");
    for (const Server& sv : servers) {
        const Row& r = rows.at(sv.name);
        std::printf("%-10s %12.0f %12.0f %10.1f %10.1f %10.1f %10.1f %10.0f %4ld/%-5ld %12.0f %10.0f\n", sv.name.c_str(),
                    r.rate2, r.rate1, r.p50_2, r.p99_2, r.p50_1, r.p99_1, r.cpu_ns, r.lost, r.sent, r.wake_ups,
                    r.rss_kib);
    }
    std::printf("\nratios to the echo (replies/s: higher is better; the rest: lower is better)\n");
    std::printf("%-10s %12s %12s %10s %10s %10s %10s %10s\n", "server", "replies/s 2c", "replies/s 1c", "p50 2c",
                "p99 2c", "p50 1c", "p99 1c", "CPU/req");
    for (const Server& sv : servers) {
        const Row& r = rows.at(sv.name);
        std::printf("%-10s %11.2fx %11.2fx %9.2fx %9.2fx %9.2fx %9.2fx %9.2fx\n", sv.name.c_str(),
                    ratio(r.rate2, echo.rate2), ratio(r.rate1, echo.rate1), ratio(r.p50_2, echo.p50_2),
                    ratio(r.p99_2, echo.p99_2), ratio(r.p50_1, echo.p50_1), ratio(r.p99_1, echo.p99_1),
                    ratio(r.cpu_ns, echo.cpu_ns));
    }
    std::printf("(%d rounds of %d sequential and %d requests at %d in flight: replies/s of the best round, p50 and\n"
                " CPU of the lowest, p99 of the median; idle over %d s)\n",
                s.rounds, s.sequential, s.load, s.in_flight, s.idle_seconds);
}

// ---- the module in a program folder of its own ----

int start_module(const fs::path& bin_dir, const fs::path& home, int port, const std::string& options, int core) {
    fs::create_directories(home);
    std::ofstream(home / "ZKEntinit.ini") << "TCPPort," << port << "\r\n" << options;
    const std::string command = "env KTRSVC_HOME=" + quoted(home.string()) + " KTRSVC_SIMULATE=clock,power " +
                                quoted((bin_dir / "ktrsvc").string());
    return start_pinned(core, command, home / "pid");
}

// chronyd with -x (never touching the clock) as a local stratum-1 server on a private loopback port, with its
// own configuration, pid file and logs, and no command port.
int start_chronyd(const fs::path& dir, int port) {
    fs::create_directories(dir);
    std::ofstream(dir / "chrony.conf") << "port " << port << "\nbindaddress 127.0.0.1\ncmdport 0\nlocal stratum 1\n"
                                       << "allow 127.0.0.1\npidfile " << (dir / "chronyd.pid").string() << "\n";
    const std::string command = "chronyd -x -n -u root -f " + quoted((dir / "chrony.conf").string()) + " -l " +
                                quoted((dir / "chronyd.log").string());
    return start_pinned(0, command, dir / "pid");
}

bool chronyd_installed() { return std::system("command -v chronyd >/dev/null 2>&1") == 0; }

void tcp_heartbeat(int port, int rounds) {
    std::vector<double> rtt;
    int lost = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        const auto r = ktr::platform::tcp_request("127.0.0.1", port, "H+", 1000, 0);
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        if (r.ok && r.data == "OK-H") rtt.push_back(us);
        else ++lost;
    }
    const double p50 = percentile(rtt, 50), p99 = percentile(rtt, 99);
    std::printf("console \"H+\" over TCP (connect, request, reply, close): median %.1f us, p99 %.1f us, lost %d/%d\n",
                p50, p99, lost, rounds);
}

void usage() {
    std::printf(
        "usage: bench_time_servers [--rounds N] [--load N] [--sequential N] [--idle-seconds N] [--no-chronyd]\n"
        "Starts a bare UDP echo, the built ktrsvc (SNTP over UDP, in a temporary program folder) and, when\n"
        "installed, chronyd -x as a local server, all on loopback; drives each with the same client with 32\n"
        "requests in flight, server and client on two cores and on one, and prints replies/s, latency p50/p99,\n"
        "losses, server CPU per request, idle wake-ups and resident memory, with their ratios to the echo.\n"
        "Defaults: --rounds 3 --load 50000 --sequential 3000 --idle-seconds 30. Expects ktrsvc in the folder\n"
        "above its own.\n");
}

} // namespace

int main(int argc, char** argv) {
    Settings s;
    std::vector<std::string> args(argv + 1, argv + argc);
    const auto number = [&](size_t& i) { return i + 1 < args.size() ? std::atoi(args[++i].c_str()) : 0; };
    int client_port = 0, echo_port = 0;
    std::string client_out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a == "--rounds") s.rounds = std::max(1, number(i));
        else if (a == "--load") s.load = std::max(1, number(i));
        else if (a == "--sequential") s.sequential = std::max(1, number(i));
        else if (a == "--idle-seconds") s.idle_seconds = std::max(1, number(i));
        else if (a == "--no-chronyd") s.chronyd = false;
        else if (a == "--echo") echo_port = number(i);
        else if (a == "--client" && i + 2 < args.size()) {
            client_port = number(i);
            client_out = args[++i];
        } else {
            std::fprintf(stderr, "unknown argument: %s\n", a.c_str());
            usage();
            return 2;
        }
    }
    if (echo_port) return run_echo(echo_port);
    if (client_port) {
        const ClientFigures c = run_client(client_port, s);
        std::ofstream(client_out) << c.p50_us << ' ' << c.p99_us << ' ' << c.seq_lost << ' ' << c.load_sent << ' '
                                  << c.load_replies << ' ' << c.load_seconds << '\n';
        return 0;
    }

    const fs::path self = fs::canonical("/proc/self/exe");
    const fs::path bin_dir = self.parent_path().parent_path();
    const unsigned cores = std::thread::hardware_concurrency();
    const fs::path work = fs::temp_directory_path() /
                          ("ktrsvc-servers-" + std::to_string(Clock::now().time_since_epoch().count()));
    fs::create_directories(work);

    // Every server on core 0; the client on core 1 (two cores) or core 0 (one).
    std::vector<Server> servers;
    Server echo{"echo", free_port()};
    echo.pid = start_pinned(0, quoted(self.string()) + " --echo " + std::to_string(echo.port), work / "echo.pid");
    servers.push_back(echo);
    Server module{"ktrsvc", free_port()};
    module.pid = start_module(bin_dir, work / "module", module.port, "ClientFormat,2\r\n", 0);
    servers.push_back(module);
    const int tcp_port = free_port();
    const int tcp_pid = start_module(bin_dir, work / "module-tcp", tcp_port, "", 0);
    if (s.chronyd && chronyd_installed()) {
        Server chrony{"chronyd", free_port()};
        chrony.pid = start_chronyd(work / "chronyd", chrony.port);
        servers.push_back(chrony);
    } else {
        std::printf("chronyd: %s\n", s.chronyd ? "not installed (Debian package chrony); left out" : "left out");
    }

    int status = 0;
    for (const Server& sv : servers) {
        bool up = false;
        std::string reply;
        for (int i = 0; i < 150 && !up; ++i) {
            // chronyd answers unsynchronised (stratum 0) until its local reference is taken.
            up = answers(sv.port, &reply) && (sv.name != "chronyd" || (reply.size() > 1 && reply[1] != 0));
            if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!up) {
            std::fprintf(stderr, "%s did not answer on port %d\n", sv.name.c_str(), sv.port);
            status = 1;
        }
    }
    if (status == 0) {
        std::printf("%u cores; servers on core 0, the client on core %d (two cores) and on core 0 (one core)\n",
                    cores, cores > 1 ? 1 : 0);
        std::map<std::string, std::vector<RunFigures>> two, one;
        std::map<std::string, Row> rows;
        for (int round = 0; round < s.rounds && status == 0; ++round) {
            for (const int core : {cores > 1 ? 1 : 0, 0}) {
                for (const Server& sv : servers) {
                    const auto r = measure(self, work, sv, core, s);
                    if (!r || !alive(sv.pid)) {
                        std::fprintf(stderr, "%s: the client run failed\n", sv.name.c_str());
                        status = 1;
                        break;
                    }
                    (core == 0 ? one : two)[sv.name].push_back(*r);
                    Row& row = rows[sv.name];
                    row.lost += r->client.seq_lost + r->client.load_sent - r->client.load_replies;
                    row.sent += s.sequential + r->client.load_sent;
                }
            }
        }
        if (status == 0) {
            for (const Server& sv : servers) {
                Row& row = rows[sv.name];
                // The values of a figure over the runs, in ascending order.
                const auto sorted = [](const std::vector<RunFigures>& runs, auto field) {
                    std::vector<double> v;
                    for (const RunFigures& r : runs) v.push_back(field(r));
                    std::sort(v.begin(), v.end());
                    return v;
                };
                const auto rate = [](const RunFigures& r) { return r.client.load_replies / r.client.load_seconds; };
                const auto p50 = [](const RunFigures& r) { return r.client.p50_us; };
                const auto p99 = [](const RunFigures& r) { return r.client.p99_us; };
                row.rate2 = sorted(two[sv.name], rate).back();
                row.rate1 = sorted(one[sv.name], rate).back();
                row.p50_2 = sorted(two[sv.name], p50).front();
                row.p50_1 = sorted(one[sv.name], p50).front();
                const auto p99_2 = sorted(two[sv.name], p99), p99_1 = sorted(one[sv.name], p99);
                row.p99_2 = p99_2[p99_2.size() / 2];
                row.p99_1 = p99_1[p99_1.size() / 2];
                row.cpu_ns = sorted(two[sv.name], [](const RunFigures& r) { return r.cpu_ns_per_reply; }).front();
            }
            // Idle: every server at once over the same window, after a pause for the load to settle.
            std::this_thread::sleep_for(std::chrono::seconds(1));
            std::map<std::string, long> before;
            for (const Server& sv : servers) before[sv.name] = wake_ups(sv.pid);
            std::this_thread::sleep_for(std::chrono::seconds(s.idle_seconds));
            for (const Server& sv : servers) {
                rows[sv.name].wake_ups = static_cast<double>(wake_ups(sv.pid) - before[sv.name]);
                rows[sv.name].rss_kib = static_cast<double>(status_field(sv.pid, "VmRSS"));
            }
            print_table(servers, rows, s);
            if (alive(tcp_pid) && ktr::platform::tcp_request("127.0.0.1", tcp_port, "H+", 2000, 0).ok)
                tcp_heartbeat(tcp_port, s.tcp_rounds);
            else
                std::printf("console \"H+\": the TCP module did not answer on port %d\n", tcp_port);
        }
    }
    for (const Server& sv : servers) stop(sv.pid);
    stop(tcp_pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::error_code ec;
    fs::remove_all(work, ec);
    return status;
}
