#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "fakes/module_state.h"
#include "fakes/pty_pair.h"
#include "fakes/pump_until.h"
#include "fakes/scoped_env.h"
#include "platform/serial_port.h"
#include "server/relay.h"

namespace ktr::server {
namespace {

// Opening a port that is not there answers the request at once, with nothing sent anywhere.
class RelayPort : public testing::ModuleStateTest {};
TEST_F(RelayPort, AMissingPortCannotBeOpened) {
#ifdef _WIN32
    testing::ScopedEnv missing("KTRSVC_COM7", "\\\\.\\KtrNoSuchPort");
#else
    testing::ScopedEnv missing("KTRSVC_COM7", "/nonexistent/ttyKTR");
#endif
    platform::SerialPort port;
    platform::Timer timer;
    RelayControl relay{port, timer};
    std::string status = "untouched", log;
    EXPECT_EQ(relay.do_Relay("X+0 On Latch COM7 9600", 0, status, log) + " " + status,
              "Could not open port: COM7 untouched");
    EXPECT_FALSE(port.PortOpen() || timer.Enabled());
    EXPECT_EQ(platform::pending_error().number, 0) << "the answer says it";
}

#ifdef _WIN32
// These play the relay board on a pseudo-terminal, which Windows does not have.
#define KTR_RELAY_BOARD_TEST(name) \
    TEST(RelayTest, name) { GTEST_SKIP() << "the relay board is played on a pseudo-terminal"; }
KTR_RELAY_BOARD_TEST(TimedSwitchingHoldsThePortUntilTheTimerSwitchesBackIn62SecondSlices)
KTR_RELAY_BOARD_TEST(LatchedSwitchingAndInputReadCloseThePortAtOnce)
KTR_RELAY_BOARD_TEST(MalformedRequestsSendNothing)
KTR_RELAY_BOARD_TEST(ReceiveEventKeepsTheLastByteAndAnUnknownSwitchReadsOff)
#else
using testing::PtyPair;
using testing::ScopedComMapping;

// Plays the relay board on the master side of a pseudo-terminal, answering through the event pump.
class Board {
public:
    explicit Board(PtyPair& pty) : pty_(pty) {
        watch_ = platform::watch_handle(platform::OsHandle{pty_.master()}, platform::HandleEvents::input,
                                        [this](platform::HandleEvents) { serve(pty_.read_available()); });
    }
    ~Board() { platform::unwatch(watch_); }
    uint8_t relays = 0;                                // as last set
    bool input2 = false, silent = false;               // silent: never answers a read
    bool answer_in_flight = false;                     // an answer written that the port may not see yet
    std::string received;                              // every byte the module sent
    void drain() { serve(pty_.read_available(50)); }  // what the module sent just before it closed the port

private:
    void serve(const std::string& bytes) {
        received += bytes;
        pending_ += bytes;
        while (pending_.size() >= 3) {
            if (pending_.compare(0, 3, "!0S") == 0) {
                if (pending_.size() < 4) break;
                relays = static_cast<uint8_t>(pending_[3]) & 3;
                pending_.erase(0, 4);
            } else if (pending_.compare(0, 3, "!0R") == 0) {
                pending_.erase(0, 3);
                if (!silent) pty_.write(std::string(1, static_cast<char>(relays | (input2 ? 4 : 0))));
                answer_in_flight = !silent;
            } else {
                pending_.erase(0, 1);
            }
        }
    }
    PtyPair& pty_;
    std::string pending_;
    int watch_ = 0;
};

std::string set_cmd(int byte) { return std::string("!0S") + static_cast<char>(byte); }

// Time is a fake clock that the pump moves on when it has nothing to do: a pause still lets the
// pseudo-terminal deliver (a few real milliseconds at most), a 62-second timer slice costs no real time.
class RelayTest : public testing::ModuleStateTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        platform::set_pause_hook([this](int ms) {
            clock_.advance_ms(ms);
            // A busy machine may be slow to pass the board's answer on: it still arrives in board time.
            return board.answer_in_flight && port.PortOpen() ? 2000 : std::min(ms, 5);
        });
        // The answer has arrived once the port raised its receive event.
        port.OnComm([this] {
            if (port.CommEvent() == platform::comEvReceive) board.answer_in_flight = false;
            relay.MSComm1_OnComm();
        });
        tmrRelay.on_timer([this] { ++ticks; relay.tmrRelay_Timer(); });
    }
    void TearDown() override { platform::set_pause_hook(nullptr); }

    std::string run(const std::string& request, int16_t local_port = 0) {
        status = "untouched";
        const int32_t start = clock_.tick_count();
        const std::string result = relay.do_Relay(request, local_port, status, log);
        waited_ms = clock_.tick_count() - start;
        return result;
    }
    // Lets time pass until the timer has ticked once more; the fake milliseconds that took.
    int32_t next_tick() {
        const int before = ticks;
        const int32_t start = clock_.tick_count();
        for (int i = 0; i < 100 && ticks == before; ++i) platform::pump_events(1000000);
        EXPECT_EQ(ticks, before + 1);
        return clock_.tick_count() - start;
    }

    PtyPair pty;
    ScopedComMapping com1{1, pty.slave_path()};
    ScopedComMapping com2{2, pty.slave_path()};
    platform::SerialPort port;
    platform::Timer tmrRelay;
    RelayControl relay{port, tmrRelay};
    Board board{pty};
    int ticks = 0, waited_ms = 0;
    std::string status, log;
};

TEST_F(RelayTest, TimedSwitchingHoldsThePortUntilTheTimerSwitchesBackIn62SecondSlices) {
    EXPECT_EQ(run("X+1 On 5 COM2 9600"), "OK");
    EXPECT_EQ(status + " | " + log, "On | Relay: Switch: 1 On 5, Port: COM2, Baud: 9600");
    EXPECT_EQ(board.received, set_cmd(2) + "!0R");
    EXPECT_TRUE(tmrRelay.Enabled() && port.PortOpen());
    EXPECT_EQ(tmrRelay.Interval(), 4800) << "the board's time to answer is part of the five seconds";
    // A second request cannot open the held port; the pending switch-back and the port's speed are kept.
    EXPECT_EQ(run("X+0 On 10 COM2 2400") + " " + status, "Could not open port: COM2 untouched");
    EXPECT_EQ(std::to_string(tmrRelay.Interval()) + " " + port.Settings(), "4800 9600,N,8,1");
    board.received.clear();
    next_tick();
    board.drain();
    EXPECT_EQ(board.received, set_cmd(0) + "!0R");
    EXPECT_FALSE(port.PortOpen() || tmrRelay.Enabled());

    EXPECT_EQ(run("X+1 Off 200 COM1 2400"), "OK");
    board.received.clear();
    std::vector<int32_t> slices{next_tick() + waited_ms};  // 62000 each, the rest last
    while (port.PortOpen() && slices.size() < 10) slices.push_back(next_tick());
    EXPECT_EQ(slices, (std::vector<int32_t>{62000, 62000, 62000, 13800}));
    board.drain();
    EXPECT_EQ(board.received, set_cmd(2) + "!0R") << "nothing between slices; an Off switching is switched back on";
}

TEST_F(RelayTest, LatchedSwitchingAndInputReadCloseThePortAtOnce) {
    struct Row { const char* request; bool silent, input2; const char *result, *status; std::string sent, speed;
                 int16_t local_port = 0; };
    const Row rows[] = {
        // A silent board: "Failed." after its time to answer; then Off is what the stale status byte says.
        {"X+0 On Latch COM1 9600", true, false, "Failed.", "Off", set_cmd(1) + "!0R", "9600,N,8,1"},
        {"X+0 Off Latch COM1 9600", true, false, "OK", "Off", set_cmd(0) + "!0R", "9600,N,8,1"},
        {"X+0 On Latch COM1 4800", false, false, "OK", "On", set_cmd(1) + "!0R", "4800,N,8,1"},
        // Relay 0 keeps its wanted state when relay 1 is switched.
        {"X+1 On Latch COM1 9600", false, false, "OK", "On", set_cmd(3) + "!0R", "9600,N,8,1"},
        {"X+2 x x COM1 9600", false, true, "OK", "On", "!0R", "9600,N,8,1"},
        {"X+2 x x COM1 9600", false, false, "OK", "Off", "!0R", "9600,N,8,1"},
        // A speed inside the range that is no standard one runs at 9600.
        {"X+0 Off Latch COM1 3000", false, false, "OK", "Off", set_cmd(2) + "!0R", "9600,N,8,1"},
        // COM0 is the configured port.
        {"X+0 On Latch COM0 9600", false, false, "OK", "On", set_cmd(3) + "!0R", "9600,N,8,1", 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.request);
        board.silent = r.silent;
        board.input2 = r.input2;
        board.received.clear();
        EXPECT_EQ(run(r.request, r.local_port), r.result);
        EXPECT_EQ(status, r.status);
        EXPECT_EQ(board.received, r.sent);
        EXPECT_EQ(port.Settings(), r.speed);
        EXPECT_EQ(port.CommPort(), r.local_port ? r.local_port : 1);
        EXPECT_TRUE(waited_ms >= 200 && waited_ms < 400) << waited_ms;
        EXPECT_FALSE(port.PortOpen() || tmrRelay.Enabled());
    }
}

TEST_F(RelayTest, MalformedRequestsSendNothing) {
    EXPECT_EQ(run("") + " " + log, "No command. Relay: ");
    for (const char* request : {
             "X+1 On 5 COM2", "X+1  On 5 COM2 9600",  // four elements; two blanks make an empty element
             "X+3 On 5 COM1 9600",                    // no such switch
             "X+1 on 5 COM1 9600", "X+0 Toggle Latch COM1 9600",  // actions are case-sensitive
             "X+0 On 0 COM1 9600", "X+0 On soon COM1 9600",      // a duration is at least one second
             "X+0 On 99999999 COM1 9600",                          // longer than the timer can count
             "X+0 On Latch COM0 9600", "X+0 On Latch COM99999 9600",  // no port and X10ComPort 0; no number
             "X+0 On Latch COM1 19200", "X+",                          // speeds outside 2400..9600
         }) {
        EXPECT_EQ(run(request) + status, "untouched") << request;
    }
    board.drain();
    EXPECT_EQ(board.received, "");
    EXPECT_FALSE(port.PortOpen() || tmrRelay.Enabled());
}

TEST_F(RelayTest, ReceiveEventKeepsTheLastByteAndAnUnknownSwitchReadsOff) {
    relay_port_init(port);
    ASSERT_TRUE(relay_port_open(1, port));
    pty.write("\x05\x02");
    EXPECT_TRUE(testing::pump_until([&] { return relay.status_byte() == 2; }, 2000))
        << "one event per byte: the last byte wins";

    std::string s;
    EXPECT_TRUE(!relay.relay_check(5, "On", s) && s == "Off");
    port.PortOpen(false);
}
#endif

} // namespace
} // namespace ktr::server
