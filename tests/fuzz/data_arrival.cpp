// Any request, over TCP or UDP, in both roles, at the console's data-arrival handler: answered or dropped,
// and the handler keeps serving. The clock is a fake one; this machine's clock is never touched.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/options.h"
#include "engine/nist_timeset.h"
#include "engine/sync_display.h"
#include "fakes/loopback_peer.h"
#include "platform/clock.h"
#include "platform/date_value.h"
#include "platform/event_pump.h"
#include "server/console_protocol.h"
#include "server/listener_pool.h"

namespace {

using namespace ktr;

// A clock that sets only itself; its tick counter moves on at every reading so that waits end.
class FuzzClock : public platform::Clock {
public:
    platform::DateParts utc_now() override { return platform::date_to_parts(utc_); }
    platform::DateParts local_now() override { return platform::date_to_parts(utc_ - 5.0 / 24); }
    bool set_local_time(const platform::DateParts& local) override {
        utc_ = platform::parts_to_date(local) + 5.0 / 24;
        return true;
    }
    bool set_system_time(const platform::DateParts& utc) override {
        utc_ = platform::parts_to_date(utc);
        return true;
    }
    int32_t tick_count() override { return tick_ += 1; }
    platform::TimeZoneInfo time_zone() override { return {300, 0, -60, 1, "", ""}; }
    void reset() { utc_ = platform::make_date(2026, 12, 5, 5, 7, 3, 45); }

private:
    double utc_ = platform::make_date(2026, 12, 5, 5, 7, 3, 45);
    int32_t tick_ = 0;
};

struct QuietWindow : engine::SyncDisplay {
    void DisplayNoChange() override {}
    float DisplaySync(double, double) override { return 0; }
    float DisplaySync(int16_t, float, double, double) override { return 0; }
    void NISTdone() override {}
};

// One listener in one role and transport, with its handler and a peer.
struct Endpoint {
    server::ListenerPool pool;
    engine::CNISTtimeset engine;
    QuietWindow window;
    server::ConsoleProtocol protocol{pool, engine, window};
    uint16_t port = 0;
    int16_t client_format = 0;
    int handled = 0;
    std::unique_ptr<testing::TcpPeer> tcp;
    std::unique_ptr<testing::UdpPeer> udp;

    Endpoint(char role, int16_t format) : client_format(format) {
        pool.module_type(role);
        pool.on_data_arrival = [this](int16_t index, int32_t bytes) {
            ++handled;
            protocol.DataArrival(index, bytes);
        };
        port = testing::free_port();
        config::options().TCPPort(static_cast<int16_t>(port));
        config::options().ClientFormat(format);
        pool.serv_init(pool.listener_index());
        if (format == 0) {
            tcp = std::make_unique<testing::TcpPeer>();
            tcp->connect(port);
            for (int i = 0; i < 200 && pool.listener_index() == 0; ++i) platform::pump_events(1);
        } else {
            udp = std::make_unique<testing::UdpPeer>();
        }
    }

    void deliver(const std::vector<uint8_t>& payload) {
        config::options().TCPPort(static_cast<int16_t>(port));
        config::options().ClientFormat(client_format);
        const int before = handled;
        if (tcp) {
            if (payload.empty()) return;
            tcp->send(std::string(payload.begin(), payload.end()));
            for (int i = 0; i < 2000 && handled == before; ++i) platform::pump_events(1);
            while (!tcp->receive(0).empty()) {
            }
        } else {
            udp->send_to(port, payload);
            for (int i = 0; i < 2000 && handled == before; ++i) platform::pump_events(1);
            std::vector<uint8_t> reply;
            while (udp->receive(reply, 0)) {
            }
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzClock clock;
    static bool ready = false;
    static std::unique_ptr<Endpoint> endpoints[4];
    if (!ready) {
        platform::set_clock(&clock);
        config::set_option_defaults(config::options());
        config::options().LoggingOn(false);
        config::options().LoggingEvntOn(false);
        config::options().LoggingMaxSecOn(false);
        endpoints[0] = std::make_unique<Endpoint>('M', 0);
        endpoints[1] = std::make_unique<Endpoint>('M', 2);
        endpoints[2] = std::make_unique<Endpoint>('N', 0);
        endpoints[3] = std::make_unique<Endpoint>('N', 2);
        ready = true;
    }
    if (size < 2) return 0;
    clock.reset();
    config::options().ServerFormat(static_cast<int16_t>(data[1] % 7));
    config::options().ServerConn(data[1] >= 200 ? 2 : 0);
    const std::vector<uint8_t> payload(data + 2, data + std::min<size_t>(size, 2 + 65507));
    endpoints[data[0] % 4]->deliver(payload);
    return 0;
}
