// The module under console load, over loopback: the SNTP replies of the real data-arrival handler (median
// and p99 of sequential requests, replies per second with 32 in flight, counting losses) beside a bare UDP
// echo socket measured by the same client; the TCP "H+" round trip (connect, request, reply, close) against
// a running ktrsvc on a simulated clock; and that module's CPU use while idle. Bounded in count and time.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/frm_main_ktrsvc.h"
#include "config/options.h"
#include "platform/client_socket.h"
#include "platform/event_pump.h"
#include "platform/socket.h"
#include "udp_load_client.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSequential = 3000;
constexpr int kInFlight = 32;
constexpr int kLoadRequests = 30000;
constexpr auto kLoadTimeLimit = std::chrono::seconds(10);
constexpr int kTcpRounds = 500;
constexpr int kIdleSeconds = 5;

struct Latency {
    double median_us = 0, p99_us = 0;
};

Latency summarise(std::vector<double> us) { return {ktr::bench::percentile(us, 50), ktr::bench::percentile(us, 99)}; }

struct UdpResult {
    Latency seq;
    int seq_lost = 0, load_sent = 0, load_replies = 0;
    double replies_per_s = 0;
};

UdpResult udp_client(int port) {
    const ktr::bench::UdpLoadFigures f =
        ktr::bench::udp_load(port, kSequential, kLoadRequests, kInFlight, kLoadTimeLimit);
    return {{f.p50_us, f.p99_us}, f.seq_lost, f.load_sent, f.load_replies, f.load_replies / f.load_seconds};
}

// The client on its own thread; this thread pumps the module's events meanwhile.
UdpResult drive(int port) {
    std::atomic<bool> done{false};
    UdpResult r;
    std::thread client([&] {
        r = udp_client(port);
        done = true;
    });
    while (!done) ktr::platform::pump_events(5);
    client.join();
    return r;
}

void print_udp(const char* name, const UdpResult& r) {
    std::printf("%-24s median %7.1f us  p99 %7.1f us  seq lost %d/%d | %d in flight: %8.0f replies/s, lost %d of %d\n",
                name, r.seq.median_us, r.seq.p99_us, r.seq_lost, kSequential, kInFlight, r.replies_per_s,
                r.load_sent - r.load_replies, r.load_sent);
}

struct Echo : ktr::platform::SocketEvents {
    ktr::platform::Socket s{this, 0};
    void DataArrival(int16_t, int32_t) override {
        std::vector<uint8_t> d;
        s.GetData(d);
        s.SendData(d);
    }
};

// A port the module's 16-bit port option can hold.
int option_port() {
    for (int port = 20000 + static_cast<int>(Clock::now().time_since_epoch().count() % 10000); port < 32767; ++port) {
        ktr::platform::UdpEndpoint probe(port);
        if (probe.ok()) return port;
    }
    return 0;
}

// utime + stime of a process, in clock ticks.
long cpu_ticks(int pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

int run_module_benches(const std::filesystem::path& bin_dir) {
    namespace fs = std::filesystem;
    const fs::path home = fs::temp_directory_path() / ("ktrsvc-bench-" + std::to_string(Clock::now().time_since_epoch().count()));
    fs::create_directories(home);
    const int port = option_port();
    std::ofstream(home / "ZKEntinit.ini") << "TCPPort," << port << "\r\n";
    const std::string pid_file = (home / "pid").string();
    const std::string start = "KTRSVC_HOME='" + home.string() + "' KTRSVC_SIMULATE=clock,power '" +
                              (bin_dir / "ktrsvc").string() + "' >/dev/null 2>&1 & echo $! > '" + pid_file + "'";
    if (std::system(start.c_str()) != 0) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int pid = 0;
    std::ifstream(pid_file) >> pid;
    bool up = false;
    for (int i = 0; i < 300 && !up; ++i) {
        up = ktr::platform::tcp_request("127.0.0.1", port, "H+", 100, 0).ok;
        if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!up) {
        std::fprintf(stderr, "ktrsvc did not answer on port %d\n", port);
        return 1;
    }
    std::vector<double> rtt;
    int lost = 0;
    for (int i = 0; i < kTcpRounds; ++i) {
        const auto t0 = Clock::now();
        const auto r = ktr::platform::tcp_request("127.0.0.1", port, "H+", 1000, 0);
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        if (r.ok && r.data == "OK-H") rtt.push_back(us);
        else ++lost;
    }
    const Latency tcp = summarise(rtt);
    std::printf("%-24s median %7.1f us  p99 %7.1f us  lost %d/%d (connect, \"H+\", reply, close)\n",
                "TCP H+ (ktrsvc)", tcp.median_us, tcp.p99_us, lost, kTcpRounds);

    std::this_thread::sleep_for(std::chrono::seconds(1));  // let the last closes settle
    const long before = cpu_ticks(pid);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
    const long after = cpu_ticks(pid);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    // Linux reports these in units of 1/100 s.
    std::printf("%-24s %.3f%% CPU over %.1f s (%ld ticks)\n", "idle ktrsvc", (after - before) / 100.0 / seconds * 100.0,
                seconds, after - before);

    std::system(("kill -TERM " + std::to_string(pid)).c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::error_code ec;
    fs::remove_all(home, ec);
    return 0;
}

} // namespace

int main(int, char** argv) {
    using namespace ktr;
    const int port = option_port();
    config::set_option_defaults(config::options());
    config::options().TCPPort(static_cast<int16_t>(port));
    config::options().ClientFormat(config::kClientSntp);
    {
        app::frmMainKtrsvc window;
        window.Show();
        print_udp("SNTP (console handler)", drive(port));
        window.Unload();
    }
    Echo echo;
    echo.s.Protocol(platform::kUdpProtocol);
    echo.s.LocalPort(option_port());
    if (!echo.s.Bind()) return 1;
    print_udp("bare UDP echo", drive(echo.s.LocalPort()));

    const std::filesystem::path bin_dir = std::filesystem::absolute(argv[0]).parent_path().parent_path();
    return run_module_benches(bin_dir);
}
