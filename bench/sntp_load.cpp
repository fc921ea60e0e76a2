// Load client for the SNTP replies over loopback: latency of sequential requests (median, p99) and
// replies per second with 32 requests in flight, counting losses. The same client also measures a bare UDP
// echo socket, so the module's cost per request (reply building, member renewal) shows beside the floor.
// Bounded in count and in time; loopback only.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "config/options.h"
#include "platform/client_socket.h"
#include "platform/event_pump.h"
#include "platform/socket.h"
#include "server/listener_pool.h"
#include "server/time_replies.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSequential = 3000;
constexpr int kInFlight = 32;
constexpr int kLoadRequests = 30000;
constexpr auto kLoadTimeLimit = std::chrono::seconds(10);

struct Result {
    double median_us = 0, p99_us = 0, replies_per_s = 0;
    int seq_lost = 0, load_sent = 0, load_replies = 0;
};

std::string sntp_request() {
    std::string r(48, '\0');
    r[0] = 0x1B;
    r[40] = 0x11;
    return r;
}

Result run_client(int port) {
    Result out;
    ktr::platform::UdpEndpoint ep;
    const std::string req = sntp_request();
    std::string reply;
    std::vector<double> rtt;
    for (int i = 0; i < kSequential; ++i) {
        const auto t0 = Clock::now();
        ep.send_to("127.0.0.1", port, req);
        if (!ep.receive(reply, 500)) {
            ++out.seq_lost;
            continue;
        }
        rtt.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::sort(rtt.begin(), rtt.end());
    if (!rtt.empty()) {
        out.median_us = rtt[rtt.size() / 2];
        out.p99_us = rtt[std::min(rtt.size() - 1, rtt.size() * 99 / 100)];
    }

    const auto start = Clock::now();
    int outstanding = 0;
    while (out.load_sent < kLoadRequests && Clock::now() - start < kLoadTimeLimit) {
        while (outstanding < kInFlight && out.load_sent < kLoadRequests) {
            ep.send_to("127.0.0.1", port, req);
            ++out.load_sent;
            ++outstanding;
        }
        if (ep.receive(reply, 200)) {
            ++out.load_replies;
            --outstanding;
        } else {
            outstanding = 0;  // the rest of the window is lost
        }
    }
    while (ep.receive(reply, 200)) ++out.load_replies;
    out.replies_per_s = out.load_replies / std::chrono::duration<double>(Clock::now() - start).count();
    return out;
}

Result drive(int port) {
    std::atomic<bool> done{false};
    Result r;
    std::thread client([&] {
        r = run_client(port);
        done = true;
    });
    while (!done) ktr::platform::pump_events(5);
    client.join();
    return r;
}

int free_udp_port() {
    ktr::platform::UdpEndpoint probe;
    return probe.port();
}

void print(const char* name, const Result& r) {
    std::printf("%-22s median %7.1f us  p99 %7.1f us  seq lost %d/%d  | %d in flight: %8.0f replies/s, lost %d of %d\n",
                name, r.median_us, r.p99_us, r.seq_lost, kSequential, kInFlight, r.replies_per_s,
                r.load_sent - r.load_replies, r.load_sent);
}

// The bare floor: one bound UDP object that echoes each datagram.
struct Echo : ktr::platform::SocketEvents {
    ktr::platform::Socket s{this, 0};
    void DataArrival(int16_t, int32_t) override {
        std::vector<uint8_t> d;
        s.GetData(d);
        s.SendData(d);
    }
};

} // namespace

int main() {
    using namespace ktr;
    const int port = free_udp_port();
    config::options().TCPPort(static_cast<int16_t>(port));
    config::options().ClientFormat(2);
    server::ListenerPool pool;
    // The UDP path of the console protocol: answer, then renew the member.
    pool.on_data_arrival = [&pool](int16_t index, int32_t) {
        platform::Socket* m = pool.tcpServer()(index);
        std::vector<uint8_t> d;
        m->GetData(d);
        if (d.size() < 2) return;
        server::send_NTP_time(*m, d);
        pool.serverClose(pool.listener_index());
        pool.NewInstance(pool.listener_index());
        pool.serv_init(pool.listener_index());
    };
    pool.serv_init(pool.listener_index());
    if (pool.listener_restart()) {
        std::fprintf(stderr, "cannot bind UDP port %d\n", port);
        return 1;
    }
    print("SNTP listener pool", drive(port));

    Echo echo;
    echo.s.Protocol(platform::kUdpProtocol);
    echo.s.LocalPort(free_udp_port());
    if (!echo.s.Bind()) return 1;
    print("bare UDP echo", drive(echo.s.LocalPort()));
    return 0;
}
