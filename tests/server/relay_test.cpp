#include <poll.h>

#include <chrono>
#include <gtest/gtest.h>
#include <vector>

#include "fakes/debug_capture.h"
#include "fakes/pty_pair.h"
#include "platform/serial_port.h"
#include "server/relay.h"

namespace ktr::server {
namespace {

using testing::DebugCapture;
using testing::PtyPair;
using testing::ScopedComMapping;

// Plays the relay board on the master side of a pseudo-terminal and stands in for the window's timer and
// its event-pumping wait. Timer time is counted, never waited for.
class BoardHost : public RelayHost {
public:
    BoardHost(PtyPair& pty, platform::SerialPort& port) : pty_(pty), port_(port) {}

    // The board: relay bits as last set, input 2, and whether it answers at all.
    uint8_t relays = 0;
    bool input2 = false;
    bool silent = false;
    std::string received;  // every byte the module sent

    // The event-pumping wait: the board answers and the port's input events run, for at most ms.
    void wait_ms(int32_t ms) override {
        waits.push_back(ms);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        bool answered = false;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return;
            pollfd fds[2] = {{pty_.master(), POLLIN, 0}, {port_.native_handle(), POLLIN, 0}};
            if (poll(fds, 2, static_cast<int>(left)) <= 0) continue;
            if (fds[0].revents & POLLIN) answered = serve(pty_.read_available()) || answered;
            if (fds[1].revents & POLLIN) {
                port_.handle_readable();
                if (answered && port_.InBufferCount() == 0) return;  // the answer has been taken
            }
        }
    }
    void timer_interval(int32_t ms) override { interval_ = ms; }
    int32_t timer_interval() const override { return interval_; }
    void timer_enabled(bool on) override {
        enabled_ = on;
        if (on) armed.push_back(interval_);
    }
    bool timer_enabled() const override { return enabled_; }

    // Lets the timer's interval pass and delivers its tick.
    void tick(RelayControl& relay) {
        ASSERT_TRUE(enabled_);
        elapsed_ms += interval_;
        relay.tmrRelay_Timer();
    }
    // Takes in what the module sent since, without answering.
    void drain() { serve(pty_.read_available(50), false); }

    std::vector<int32_t> waits;
    std::vector<int32_t> armed;  // the interval at each enabling of the timer
    int64_t elapsed_ms = 0;

private:
    // Acts on complete commands; true when it answered a read.
    bool serve(const std::string& bytes, bool answer = true) {
        received += bytes;
        pending_ += bytes;
        bool answered = false;
        while (pending_.size() >= 3) {
            if (pending_.compare(0, 3, "!0S") == 0) {
                if (pending_.size() < 4) break;
                relays = static_cast<uint8_t>(pending_[3]) & 3;
                pending_.erase(0, 4);
            } else if (pending_.compare(0, 3, "!0R") == 0) {
                pending_.erase(0, 3);
                if (answer && !silent) {
                    pty_.write(std::string(1, static_cast<char>(relays | (input2 ? 4 : 0))));
                    answered = true;
                }
            } else {
                pending_.erase(0, 1);
            }
        }
        return answered;
    }

    PtyPair& pty_;
    platform::SerialPort& port_;
    std::string pending_;
    int32_t interval_ = 0;
    bool enabled_ = false;
};

std::string set_cmd(int byte) { return std::string("!0S") + static_cast<char>(byte); }

class RelayTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.ok()); }

    std::string run(const std::string& request, int16_t local_port = 0) {
        status = "untouched";
        return relay.do_Relay(request, local_port, status, log);
    }

    PtyPair pty;
    ScopedComMapping com1{1, pty.slave_path()};
    ScopedComMapping com2{2, pty.slave_path()};
    platform::SerialPort port;
    BoardHost host{pty, port};
    RelayControl relay{port, host};
    std::string status;
    std::string log;
};

TEST_F(RelayTest, TimedSwitchingSendsStateAndReadThenSwitchesBackWhenTheTimerExpires) {
    DebugCapture trace;
    EXPECT_EQ(run("X+1 On 5 COM2 9600"), "OK");
    EXPECT_EQ(status, "On");
    EXPECT_EQ(log, "Relay: Switch: 1 On 5, Port: COM2, Baud: 9600");
    EXPECT_EQ(host.received, set_cmd(2) + "!0R");
    EXPECT_EQ(host.waits, std::vector<int32_t>{200});
    EXPECT_EQ(host.armed, std::vector<int32_t>{4800});
    EXPECT_TRUE(port.PortOpen()) << "a timed switching keeps the port for the timer";
    EXPECT_EQ(port.Settings(), "9600,N,8,1");

    host.received.clear();
    host.tick(relay);
    host.drain();
    EXPECT_EQ(host.received, set_cmd(0) + "!0R");
    EXPECT_EQ(host.relays, 0);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_FALSE(host.timer_enabled());
    EXPECT_EQ(relay.pending_action(), "");
    EXPECT_TRUE(trace.contains("Relay:_X+1 On 5 COM2 9600_"));
    EXPECT_TRUE(trace.contains("Relay: Switch: 1 On 5, Port: COM2, Baud: 9600"));
    EXPECT_TRUE(trace.contains("Relay timer expired, sw: 1, current state: On"));
}

TEST_F(RelayTest, LongDurationRunsIn62SecondSlices) {
    EXPECT_EQ(run("X+0 On 120 COM1 2400"), "OK");
    EXPECT_EQ(port.Settings(), "2400,N,8,1");
    EXPECT_EQ(host.timer_interval(), 62000);
    EXPECT_EQ(relay.remaining_ms(), 57800);

    host.received.clear();
    host.tick(relay);
    EXPECT_EQ(host.timer_interval(), 57800);
    EXPECT_EQ(relay.remaining_ms(), 0);
    EXPECT_TRUE(port.PortOpen());
    host.drain();
    EXPECT_EQ(host.received, "") << "nothing is sent between slices";

    host.tick(relay);
    host.drain();
    EXPECT_EQ(host.received, set_cmd(0) + "!0R");
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(host.armed, (std::vector<int32_t>{62000, 57800}));
    EXPECT_EQ(host.elapsed_ms, 119800);

    // Durations of several slices: 62000 each, the rest last.
    EXPECT_EQ(run("X+1 Off 200 COM1 9600"), "OK");
    EXPECT_EQ(relay.remaining_ms(), 200000 - 62200);
    host.armed.clear();
    while (port.PortOpen()) host.tick(relay);
    EXPECT_EQ(host.armed, (std::vector<int32_t>{62000, 62000, 13800}));
    EXPECT_EQ(relay.wanted_state(1), 1) << "an Off switching is switched back on";
}

TEST_F(RelayTest, LatchedSwitchingAndInputReadCloseThePortAtOnce) {
    EXPECT_EQ(run("X+0 On Latch COM1 4800"), "OK");
    EXPECT_EQ(status, "On");
    EXPECT_EQ(host.received, set_cmd(1) + "!0R");
    EXPECT_EQ(port.Settings(), "4800,N,8,1");
    EXPECT_FALSE(port.PortOpen());
    EXPECT_TRUE(host.armed.empty());

    // Relay 0 keeps its wanted state when relay 1 is switched.
    host.received.clear();
    EXPECT_EQ(run("X+1 On Latch COM1 9600"), "OK");
    EXPECT_EQ(host.received, set_cmd(3) + "!0R");

    host.received.clear();
    host.input2 = true;
    EXPECT_EQ(run("X+2 x x COM1 9600"), "OK");
    EXPECT_EQ(host.received, "!0R");
    EXPECT_EQ(status, "On");
    EXPECT_EQ(log, "Relay: Switch: 2, Port: COM1, Baud: 9600");
    EXPECT_FALSE(port.PortOpen());

    host.input2 = false;
    EXPECT_EQ(run("X+2 x x COM1 9600"), "OK");
    EXPECT_EQ(status, "Off");
}

TEST_F(RelayTest, SpeedInsideTheRangeRunsAt9600AndOutsideIsRefused) {
    EXPECT_EQ(run("X+0 Off Latch COM1 3000"), "OK");
    EXPECT_EQ(port.Settings(), "9600,N,8,1");
    host.received.clear();
    for (const char* request : {"X+0 On Latch COM1 19200", "X+0 On Latch COM1 2399", "X+0 On Latch COM1 fast"}) {
        EXPECT_EQ(run(request), "") << request;
        EXPECT_EQ(status, "untouched") << request;
    }
    EXPECT_EQ(host.received, "");
}

TEST_F(RelayTest, SecondRequestWhileATimedSwitchingHoldsThePortCannotOpenIt) {
    ASSERT_EQ(run("X+1 On 5 COM2 9600"), "OK");
    host.received.clear();
    EXPECT_EQ(run("X+0 On 10 COM2 2400"), "Could not open port: COM2");
    EXPECT_EQ(status, "untouched");
    EXPECT_EQ(host.armed, std::vector<int32_t>{4800}) << "the pending switch-back is kept";
    EXPECT_EQ(port.Settings(), "9600,N,8,1") << "the held port keeps its speed";
    EXPECT_TRUE(port.PortOpen());
    host.drain();
    EXPECT_EQ(host.received, "");

    host.tick(relay);
    host.drain();
    EXPECT_EQ(host.received, set_cmd(0) + "!0R");
}

TEST_F(RelayTest, MalformedRequestsSendNothing) {
    EXPECT_EQ(run(""), "No command.");
    EXPECT_EQ(log, "Relay: ");
    for (const char* request : {
             "X+1 On 5 COM2",          // four elements
             "X+1  On 5 COM2 9600",    // two blanks make an empty element
             "X+3 On 5 COM1 9600",     // no such switch
             "X+1 on 5 COM1 9600",     // actions are case-sensitive
             "X+0 Toggle Latch COM1 9600",
             "X+0 On 0 COM1 9600",     // a duration is at least one second
             "X+0 On 0.5 COM1 9600",
             "X+0 On soon COM1 9600",
             "X+0 On 99999999 COM1 9600",  // longer than the timer can count
             "X+0 On Latch COM0 9600",     // no port and X10ComPort 0
             "X+0 On Latch COM99999 9600", // not a port number
             "X+",
         }) {
        EXPECT_EQ(run(request), "") << request;
        EXPECT_EQ(status, "untouched") << request;
    }
    host.drain();
    EXPECT_EQ(host.received, "");
    EXPECT_FALSE(port.PortOpen());
    EXPECT_TRUE(host.armed.empty());
}

TEST_F(RelayTest, PortZeroUsesTheConfiguredPort) {
    EXPECT_EQ(run("X+0 On Latch COM0 9600", 2), "OK");
    EXPECT_EQ(port.CommPort(), 2);
}

TEST_F(RelayTest, MissingOrBusyPortCannotBeOpened) {
    ScopedComMapping missing(7, "/nonexistent/ttyKTR");
    EXPECT_EQ(run("X+0 On Latch COM7 9600"), "Could not open port: COM7");
    EXPECT_EQ(status, "untouched");

    ScopedComMapping not_serial(8, "/dev/null");
    EXPECT_EQ(run("X+0 On Latch COM8 9600"), "Could not open port: COM8");

    platform::SerialPort other;
    ASSERT_TRUE(other.CommPort(1));
    ASSERT_TRUE(other.PortOpen(true));
    EXPECT_EQ(run("X+0 On Latch COM1 9600"), "Could not open port: COM1");
    other.PortOpen(false);
    EXPECT_EQ(run("X+0 On Latch COM1 9600"), "OK");
}

TEST_F(RelayTest, SilentBoardGivesFailedAfterTheWait) {
    host.silent = true;
    EXPECT_EQ(run("X+0 On Latch COM1 9600"), "Failed.");
    EXPECT_EQ(status, "Off");
    EXPECT_EQ(host.waits, std::vector<int32_t>{200});
    EXPECT_FALSE(port.PortOpen());
    // Off is what the stale status byte says, so this one passes.
    EXPECT_EQ(run("X+0 Off Latch COM1 9600"), "OK");
}

TEST_F(RelayTest, ReceiveEventKeepsTheFirstByteAndErrorsAreTraced) {
    DebugCapture trace;
    relay_port_init(port);
    ASSERT_TRUE(relay_port_open(1, port));
    pty.write("\x05\x02");
    pollfd p{port.native_handle(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    port.handle_readable();
    while (port.InBufferCount() == 0 && poll(&p, 1, 200) == 1) port.handle_readable();
    EXPECT_EQ(relay.status_byte(), 2) << "one event per byte: the last byte wins";

    std::string s;
    EXPECT_FALSE(relay.relay_check(5, "On", s));
    EXPECT_EQ(s, "Off");
    EXPECT_TRUE(trace.contains("Did not find this switch: 5"));

    // More than the receive buffer holds: the overflow event is traced.
    pty.write(std::string(platform::kInBufferSize + 200, 'x'));
    relay_port_init(port);
    port.RThreshold(0);  // keep the bytes unread
    for (int i = 0; i < 50 && poll(&p, 1, 50) == 1; ++i) port.handle_readable();
    EXPECT_TRUE(trace.contains("Error: buffer overflow"));
    port.PortOpen(false);
}

TEST_F(RelayTest, TimerTickWithoutAPendingSwitchingDoesNothing) {
    host.timer_enabled(true);
    host.received.clear();
    relay.tmrRelay_Timer();
    EXPECT_FALSE(host.timer_enabled());
    EXPECT_FALSE(port.PortOpen());
}

} // namespace
} // namespace ktr::server
