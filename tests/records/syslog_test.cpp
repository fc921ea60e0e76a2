#include "records/syslog.h"

#include <gtest/gtest.h>

#include "config/options.h"
#include "platform/udp_datagram.h"
#include "records/log_files.h"
#include "records_fixture.h"

namespace ktr::records {
namespace {

// A loopback listener stands in for the syslog server.
class Syslog : public testing::RecordsTest {
protected:
    void SetUp() override {
        RecordsTest::SetUp();
        ASSERT_TRUE(listener_.bind_loopback());
        set_syslog_port(listener_.local_port());
    }
    void TearDown() override {
        set_syslog_port(0);
        RecordsTest::TearDown();
    }
    std::string received() { return listener_.receive(2000).value_or("<nothing received>"); }
    bool nothing_received() { return !listener_.receive(50).has_value(); }

    platform::UdpDatagramSocket listener_;
};

TEST_F(Syslog, EventsBecomeDatagramsWithPriorityTagAndTypeText) {
    config::options().LoggingSyslogOn(true);
    config::options().LoggingSyslogServ("127.0.0.1");
    PrintEvntBody("Time difference too big", 2, "");
    EXPECT_EQ(received(), "<100> Ktrsvc: Warning Time difference too big");
    PrintEvntBody("Odd event", 3, "");
    EXPECT_EQ(received(), "<101> Ktrsvc: 3Odd event");
    PrintEvntBody("Set", 4, "");
    EXPECT_EQ(received(), "<102> Ktrsvc: Info    Set");
    PrintEvntBody("Broken", 1, "");
    EXPECT_EQ(received(), "<99> Ktrsvc: Error   Broken");
    const std::string trace = debug_text();
    EXPECT_NE(trace.find("Syslog sent OK, result: True"), std::string::npos);
    EXPECT_NE(trace.find("syslog : Message:_<99> Ktrsvc: Error   Broken_ Sent OK."), std::string::npos);
}

TEST_F(Syslog, AnEmptyEventFileNameStillLetsTheEventReachSyslog) {
    config::options().LoggingEvntOn(true);
    config::options().LoggingSyslogOn(true);
    config::options().LoggingSyslogServ("127.0.0.1");
    PrintEvntBody("Options changed", 4, "");
    EXPECT_EQ(received(), "<102> Ktrsvc: Info    Options changed");
}

TEST_F(Syslog, HostNamesResolve) {
    EXPECT_TRUE(send_syslog("by name", "tag", "localhost", 12, 4));
    EXPECT_EQ(received(), "<102> tag: by name");
}

TEST_F(Syslog, AMissingOrUnresolvableServerSendsNothingAndReturnsFalse) {
    EXPECT_FALSE(send_syslog("x", "Ktrsvc", "", 12, 2));
    EXPECT_NE(debug_text().find("No Target IP address or Hostname specified -  No message sent"), std::string::npos);
    EXPECT_FALSE(send_syslog("x", "Ktrsvc", "no such host!", 12, 2));
    EXPECT_FALSE(send_syslog("x", "Ktrsvc", "unknown-host.invalid", 12, 2));
    // A priority outside 16 bits is abandoned, not wrapped.
    EXPECT_FALSE(send_syslog("x", "Ktrsvc", "127.0.0.1", 5000, 2));
    EXPECT_TRUE(nothing_received());
    EXPECT_EQ(platform::pending_error().number, 0);

    config::options().LoggingSyslogOn(true);
    PrintEvntBody("lost", 2, "");
    EXPECT_NE(debug_text().find("Syslog sent OK, result: False"), std::string::npos);
}

TEST_F(Syslog, WriteCarriesTheHostPartBeforeTheBlank) {
    EXPECT_TRUE(syslog_write("text", "tag", "myhost", "127.0.0.1", 13));
    EXPECT_EQ(received(), "<13>myhost tag: text");
}

} // namespace
} // namespace ktr::records
