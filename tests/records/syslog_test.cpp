#include "records/syslog.h"

#include <gtest/gtest.h>

#include "config/options.h"
#include "fakes/module_state.h"
#include "platform/udp_datagram.h"
#include "records/log_files.h"

namespace ktr::records {
namespace {

// A loopback listener stands in for the syslog server.
class Syslog : public testing::ModuleStateTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(listener_.bind_loopback());
        set_syslog_port(listener_.local_port());
        config::options().LoggingSyslogServ("127.0.0.1");
    }
    ~Syslog() override { set_syslog_port(0); }
    std::string received() { return listener_.receive(2000).value_or("<nothing received>"); }

    platform::UdpDatagramSocket listener_;
};

TEST_F(Syslog, EventsBecomeDatagramsWithPriorityTagAndTypeText) {
    config::options().LoggingSyslogOn(true);
    config::options().LoggingEvntOn(true);  // an event file switched on without a name must not stop syslog
    for (const auto& [type, datagram] : {std::pair{2, "<100> Ktrsvc: Warning Event"}, {3, "<101> Ktrsvc: 3Event"},
                                         {4, "<102> Ktrsvc: Info    Event"}, {1, "<99> Ktrsvc: Error   Event"}}) {
        PrintEvntBody("Event", static_cast<int16_t>(type), "");
        EXPECT_EQ(received(), datagram);
    }
}

TEST_F(Syslog, ServersByNameByAddressOrNone) {
    EXPECT_TRUE(send_syslog("by name", "tag", "localhost", 12, 4));
    EXPECT_EQ(received(), "<102> tag: by name");
    EXPECT_TRUE(syslog_write("text", "tag", "myhost", "127.0.0.1", 13));
    EXPECT_EQ(received(), "<13>myhost tag: text");

    EXPECT_FALSE(send_syslog("x", "Ktrsvc", "", 12, 2));
    EXPECT_FALSE(send_syslog("x", "Ktrsvc", "no such host!", 12, 2));
    EXPECT_FALSE(send_syslog("x", "Ktrsvc", "unknown-host.invalid", 12, 2));
    // A priority outside 16 bits is abandoned, not wrapped.
    EXPECT_FALSE(send_syslog("x", "Ktrsvc", "127.0.0.1", 5000, 2));
    EXPECT_FALSE(listener_.receive(50).has_value());
    EXPECT_EQ(platform::pending_error().number, 0);

    config::options().LoggingSyslogOn(true);
    config::options().LoggingSyslogServ("");
    PrintEvntBody("lost", 2, "");
    EXPECT_TRUE(traced("Syslog sent OK, result: False"));
}

} // namespace
} // namespace ktr::records
