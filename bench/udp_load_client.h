// The client both benchmarks drive a UDP time server with: sequential SNTP client requests for the latency,
// then a load with a window of requests in flight. Bounded in count and time; traffic to 127.0.0.1 only.
#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/client_socket.h"

namespace ktr::bench {

struct UdpLoadFigures {
    double p50_us = 0, p99_us = 0;
    int seq_lost = 0, load_sent = 0, load_replies = 0;
    double load_seconds = 0;
};

inline double percentile(std::vector<double>& v, int pct) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * static_cast<size_t>(pct) / 100)];
}

inline UdpLoadFigures udp_load(int port, int sequential, int load, int in_flight, std::chrono::seconds limit) {
    using Clock = std::chrono::steady_clock;
    UdpLoadFigures out;
    platform::UdpEndpoint ep;
    // A client-mode request (version 3, mode 3): the module, chronyd and an echo all answer it.
    std::string req(48, '\0');
    req[0] = 0x1B;
    std::string reply;
    std::vector<double> rtt;
    rtt.reserve(static_cast<size_t>(sequential));
    for (int i = 0; i < sequential; ++i) {
        const auto t0 = Clock::now();
        ep.send_to("127.0.0.1", port, req);
        if (!ep.receive(reply, 500)) {
            ++out.seq_lost;
            continue;
        }
        rtt.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    out.p50_us = percentile(rtt, 50);
    out.p99_us = percentile(rtt, 99);
    const auto start = Clock::now();
    int outstanding = 0;
    while (out.load_sent < load && Clock::now() - start < limit) {
        while (outstanding < in_flight && out.load_sent < load) {
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
    while (outstanding > 0 && ep.receive(reply, 200)) {
        ++out.load_replies;
        --outstanding;
    }
    out.load_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return out;
}

} // namespace ktr::bench
