// Any request, over TCP or UDP, in both roles, at the console's data-arrival handler: answered or dropped,
// and the handler keeps serving. The clock is a fake one; this machine's clock is never touched.
#include <memory>
#include <string>
#include <vector>

#include "config/options.h"
#include "engine/nist_timeset.h"
#include "engine/sync_display.h"
#include "fakes/fake_clock.h"
#include "fakes/loopback_peer.h"
#include "platform/date_value.h"
#include "platform/event_pump.h"
#include "server/console_protocol.h"
#include "server/listener_pool.h"

namespace {

using namespace ktr;

// A clock that sets only itself, five hours ahead of local time; its tick counter moves on at every
// reading so that waits end.
struct FuzzClock : testing::FakeClock {
    FuzzClock() : FakeClock(0, 300, -60, 1) { reset(); }
    int32_t tick_count() override {
        advance_ms(1);
        return FakeClock::tick_count();
    }
    void reset() { set_utc(platform::make_date(2026, 12, 5, 5, 7, 3, 45)); }
};

struct QuietWindow : engine::SyncDisplay {
    void DisplayNoChange() override {}
    float DisplaySync(double, double) override { return 0; }
    float DisplaySync(int16_t, float, double, double) override { return 0; }
    void NISTdone() override {}
};

// One listener in one role and transport (client format 0 TCP, 2 UDP), with its handler and a peer.
struct Endpoint {
    server::ListenerPool pool;
    engine::CNISTtimeset engine;
    QuietWindow window;
    server::ConsoleProtocol protocol{pool, engine, window};
    uint16_t port = testing::free_port();
    int16_t client_format;
    int handled = 0;
    testing::TcpPeer tcp;
    testing::UdpPeer udp;

    Endpoint(char role, int16_t format) : client_format(format) {
        pool.module_type(role);
        pool.on_data_arrival = [this](int16_t index, int32_t bytes) {
            ++handled;
            protocol.DataArrival(index, bytes);
        };
        use_options();
        pool.serv_init(pool.listener_index());
        if (format == 0 && tcp.connect(port))
            for (int i = 0; i < 200 && pool.listener_index() == 0; ++i) platform::pump_events(1);
    }
    void use_options() {
        config::options().TCPPort(static_cast<int16_t>(port));
        config::options().ClientFormat(client_format);
    }
    void deliver(const std::vector<uint8_t>& payload) {
        const bool over_tcp = client_format == 0;
        if (over_tcp && payload.empty()) return;
        use_options();
        const int before = handled;
        if (over_tcp) tcp.send(std::string(payload.begin(), payload.end()));
        else udp.send_to(port, payload);
        for (int i = 0; i < 2000 && handled == before; ++i) platform::pump_events(1);
        std::vector<uint8_t> reply;  // replies are drained, not judged
        while (over_tcp ? !tcp.receive(0).empty() : udp.receive(reply, 0)) {
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzClock clock;
    static std::unique_ptr<Endpoint> endpoints[4];  // by the first byte: M over TCP, M over UDP, N, N
    if (!endpoints[0]) {
        platform::set_clock(&clock);
        config::set_option_defaults(config::options());
        config::options().LoggingOn(false);
        config::options().LoggingEvntOn(false);
        config::options().LoggingMaxSecOn(false);
        for (int i = 0; i < 4; ++i) endpoints[i] = std::make_unique<Endpoint>(i < 2 ? 'M' : 'N', int16_t(i % 2 * 2));
    }
    if (size < 2) return 0;
    clock.reset();
    config::options().ServerFormat(static_cast<int16_t>(data[1] % 7));
    config::options().ServerConn(data[1] >= 200 ? 2 : 0);
    const std::vector<uint8_t> payload(data + 2, data + std::min<size_t>(size, 2 + 65507));
    endpoints[data[0] % 4]->deliver(payload);
    return 0;
}
