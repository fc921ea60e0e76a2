#include <gtest/gtest.h>

#include "fakes/pty_pair.h"
#include "fakes/scoped_env.h"
#include "platform/pending_error.h"
#include "platform/serial_port.h"

namespace ktr::platform {
namespace {

#ifdef _WIN32
constexpr const char* kNoSerialDevice = "NUL";
#else
constexpr const char* kNoSerialDevice = "/dev/null";
#endif

// The line settings the device supports; the properties a closed port refuses.
TEST(SerialPort, AcceptsSupportedSettingsAndRefusesWhatAClosedPortCannotDo) {
    SerialPort port;
    for (const char* good : {"115200,O,5,1", "2400,n,8,1", "4800,E,7,2", "9600,N,8,1"})
        EXPECT_TRUE(port.Settings(good)) << good;
    for (const char* bad : {"", "9600", "9600,N,8", "9600,N,8,1,1", "3000,N,8,1", "9600,X,8,1", "9600,N,9,1",
                            "9600,N,8,3", "96OO,N,8,1", "9600,,8,1"}) {
        EXPECT_FALSE(port.Settings(bad)) << bad;
        EXPECT_EQ(pending_error().number, comInvalidPropertyValue) << bad;
    }
    EXPECT_EQ(port.Settings(), "9600,N,8,1") << "a refused value changes nothing";
    EXPECT_FALSE(port.Output("x"));
    EXPECT_EQ(pending_error().number, comPortNotOpen);
    EXPECT_FALSE(port.CommPort(0));
    EXPECT_EQ(port.CommPort(), 1);
    clear_pending_error();
}

// A device that is no serial port does not open; one that is not there is the relay's test.
TEST(SerialPort, ADeviceThatIsNoSerialPortDoesNotOpen) {
    testing::ScopedEnv com("KTRSVC_COM9", kNoSerialDevice);
    SerialPort port;
    ASSERT_TRUE(port.CommPort(9));
    EXPECT_FALSE(port.PortOpen(true));
    EXPECT_EQ(pending_error().number, comPortOpenFailed);
    EXPECT_NE(pending_error().description.find(kNoSerialDevice), std::string::npos) << pending_error().description;
    EXPECT_FALSE(port.PortOpen());
    clear_pending_error();
}

// A port on a pseudo-terminal: it opens once and sends raw bytes. Its receive events are the relay board's
// tests'.
TEST(SerialPortOnPty, OpensOnceAndSendsRawBytes) {
#ifdef _WIN32
    GTEST_SKIP() << "the device is played on a pseudo-terminal, which Windows does not have";
#else
    testing::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    testing::ScopedComMapping com(5, pty.slave_path());
    SerialPort port;
    ASSERT_TRUE(port.CommPort(5));
    ASSERT_TRUE(port.PortOpen(true));
    EXPECT_FALSE(port.PortOpen(true));
    EXPECT_EQ(pending_error().number, comPortAlreadyOpen);
    EXPECT_FALSE(port.CommPort(6)) << "the port cannot change while open";
    clear_pending_error();
    ASSERT_TRUE(port.Output(std::string("!0S\0", 4)));
    EXPECT_EQ(pty.read_available(1000), std::string("!0S\0", 4));
    port.PortOpen(false);
    EXPECT_TRUE(port.PortOpen(true)) << "it opens again after closing";
#endif
}

} // namespace
} // namespace ktr::platform
