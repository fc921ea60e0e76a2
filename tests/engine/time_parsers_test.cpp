#include <gtest/gtest.h>

#include <string>

#include "engine/nist_timeset.h"
#include "engine_test_support.h"
#include "fakes/fake_clock.h"
#include "fakes/scoped_locale.h"
#include "platform/date_value.h"

namespace ktr::engine {
namespace {

constexpr const char* kNistLine = "57361 25-12-05 05:37:32 00 0 0 45.0 UTC(NIST) *";

TEST(NistParser, FullLineFillsEveryField) {
    CNISTtimeset e;
    ASSERT_TRUE(e.NIST_parse_string(kNistLine));
    EXPECT_EQ(e.NISTJulianDays(), 57361);
    EXPECT_EQ(e.NISTDate(), "25-12-05");
    EXPECT_EQ(e.NISTTime(), "05:37:32");
    EXPECT_EQ(e.NISTDST(), 0);
    EXPECT_EQ(e.NISTLeapSecFlag(), 0);
    EXPECT_EQ(e.NISTServerHealth(), 0);
    EXPECT_FLOAT_EQ(e.NISTAdvance(), 45.0f);
    EXPECT_EQ(e.NISTMisc(), "UTC(NIST)");
    EXPECT_FLOAT_EQ(e.NISTSecFrac(), 0.5f);
    EXPECT_TRUE(e.NIST_check_server());
}

TEST(NistParser, LineWithoutJulianDaysShiftsTheFields) {
    CNISTtimeset e;
    e.NISTJulianDays(1234);
    testing::DebugCapture log;
    ASSERT_TRUE(e.NIST_parse_string("25-12-05 05:37:32 50 1 2 45.0 UTC(NIST) #"));
    EXPECT_EQ(e.NISTJulianDays(), 0);
    EXPECT_EQ(e.NISTDate(), "25-12-05");
    EXPECT_EQ(e.NISTTime(), "05:37:32");
    EXPECT_EQ(e.NISTDST(), 50);
    EXPECT_EQ(e.NISTLeapSecFlag(), 1);
    EXPECT_EQ(e.NISTServerHealth(), 2);
    EXPECT_FALSE(e.NIST_check_server());
    EXPECT_TRUE(log.has("NIST parse string - no Julian days."));
    EXPECT_TRUE(log.has("[0]_25-12-05_ [1]_05:37:32_ [2]_50_ "));
}

TEST(NistParser, ConsoleSetAndForceStringsCarryMilliseconds) {
    CNISTtimeset e;
    e.NISTServerHealth(4);
    e.NISTAdvance(2000);
    ASSERT_TRUE(e.NIST_parse_string("S+ 12/05/2026 05:37:32 250"));
    EXPECT_EQ(e.EntCmd(), "S");
    EXPECT_EQ(e.NISTServerHealth(), 0);
    EXPECT_FLOAT_EQ(e.NISTAdvance(), 0.0f);
    EXPECT_EQ(e.NISTDate(), "12/05/2026");
    EXPECT_EQ(e.NISTTime(), "05:37:32");
    EXPECT_FLOAT_EQ(e.NISTSecFrac(), 0.25f);

    ASSERT_TRUE(e.NIST_parse_string("F+xyz 12/06/2026 06:00:00 5"));
    EXPECT_EQ(e.EntCmd(), "F");
    EXPECT_FLOAT_EQ(e.NISTSecFrac(), 0.005f);
}

TEST(NistParser, ServerRepliesMayCarryADecimalFraction) {
    CNISTtimeset e;
    testing::DebugCapture log;
    ASSERT_TRUE(e.NIST_parse_string("Server: 12/05/2026 05:37:32.5"));
    EXPECT_EQ(e.NISTTime(), "05:37:32");
    EXPECT_FLOAT_EQ(e.NISTSecFrac(), 0.5f);
    EXPECT_TRUE(log.has("Time: _05:37:32_ frac: 0.5"));

    ASSERT_TRUE(e.NIST_parse_string("OK-T 12/05/2026 05:37:33"));
    EXPECT_EQ(e.NISTTime(), "05:37:33");
    EXPECT_FLOAT_EQ(e.NISTSecFrac(), 0.5f);  // kept from the previous string

    ASSERT_TRUE(e.NIST_parse_string("tovanisoft: 12/05/2026 05:37:34.25"));
    EXPECT_FLOAT_EQ(e.NISTSecFrac(), 0.25f);
    EXPECT_EQ(e.EntCmd(), "");
}

TEST(NistParser, RejectsAnUnknownFirstElement) {
    CNISTtimeset e;
    e.NISTDate("kept");
    EXPECT_FALSE(e.NIST_parse_string("Hello 25-12-05 05:37:32 00 0 0 45.0 UTC(NIST) *"));
    EXPECT_FALSE(e.NIST_parse_string(""));
    EXPECT_FALSE(e.NIST_parse_string("\xC3\xA9t\xC3\xA9 \xFF"));
    EXPECT_EQ(e.NISTDate(), "kept");
}

TEST(NistParser, ShortOrBadFieldsLeaveTheirPropertiesAndAreTraced) {
    CNISTtimeset e;
    ASSERT_TRUE(e.NIST_parse_string(kNistLine));
    testing::DebugCapture log;
    // A short line: the fields it lacks keep the previous run's values.
    EXPECT_TRUE(e.NIST_parse_string("57362 25-12-06"));
    EXPECT_EQ(e.NISTJulianDays(), 57362);
    EXPECT_EQ(e.NISTDate(), "25-12-06");
    EXPECT_EQ(e.NISTTime(), "05:37:32");
    EXPECT_EQ(e.NISTMisc(), "UTC(NIST)");
    EXPECT_TRUE(log.has("parse error of NIST string"));

    // Numbers out of range for their fields are refused one by one.
    EXPECT_TRUE(e.NIST_parse_string("99999999999 25-12-07 05:37:33 99999 x 7 1e300 L *"));
    EXPECT_EQ(e.NISTJulianDays(), 57362);
    EXPECT_EQ(e.NISTDST(), 0);
    EXPECT_EQ(e.NISTLeapSecFlag(), 0);  // text that is no number reads as 0
    EXPECT_EQ(e.NISTServerHealth(), 7);
    EXPECT_FLOAT_EQ(e.NISTAdvance(), 45.0f);
    EXPECT_EQ(e.NISTMisc(), "L");
    EXPECT_FALSE(e.NIST_check_server());

    // "S+" with milliseconds that are no number keeps the fraction.
    e.NISTSecFrac(0.125f);
    EXPECT_TRUE(e.NIST_parse_string("S+ 12/05/2026 05:37:32 abc"));
    EXPECT_FLOAT_EQ(e.NISTSecFrac(), 0.125f);
}

TEST(NistParser, AdvanceLimitOfTheServerCheck) {
    CNISTtimeset e;
    ASSERT_TRUE(e.NIST_parse_string("57361 25-12-05 05:37:32 00 0 0 1000 UTC(NIST) *"));
    EXPECT_TRUE(e.NIST_check_server());
    ASSERT_TRUE(e.NIST_parse_string("57361 25-12-05 05:37:32 00 0 0 1000.1 UTC(NIST) *"));
    EXPECT_FALSE(e.NIST_check_server());
}

TEST(ActsParser, ReadsTheActsLayoutAndIgnoresDut1) {
    CNISTtimeset e;
    e.NISTSecFrac(0.125f);
    e.NISTServerHealth(3);
    testing::DebugCapture log;
    ASSERT_TRUE(e.ACTS_parse_string("57361 25-12-05 05:37:32 50 0 +.1 45.0 UTC(NIST) *"));
    EXPECT_EQ(e.NISTJulianDays(), 57361);
    EXPECT_EQ(e.NISTDate(), "25-12-05");
    EXPECT_EQ(e.NISTTime(), "05:37:32");
    EXPECT_EQ(e.NISTDST(), 50);
    EXPECT_EQ(e.NISTServerHealth(), 0);
    EXPECT_FLOAT_EQ(e.NISTAdvance(), 45.0f);
    EXPECT_EQ(e.NISTMisc(), "UTC(NIST)");
    EXPECT_FLOAT_EQ(e.NISTSecFrac(), 0.125f);
    EXPECT_TRUE(log.has("ACTS:"));

    ASSERT_TRUE(e.ACTS_parse_string("25-12-06 05:37:33 00 0 -.2 12.5 UTC(NIST) *"));
    EXPECT_EQ(e.NISTJulianDays(), 0);
    EXPECT_FLOAT_EQ(e.NISTAdvance(), 12.5f);
    EXPECT_TRUE(log.has("ACTS parse string - no Julian days."));

    EXPECT_FALSE(e.ACTS_parse_string("S+ 12/05/2026 05:37:32 250"));
    EXPECT_TRUE(e.ACTS_parse_string("Server: 25-12-07"));
    EXPECT_EQ(e.NISTDate(), "25-12-07");
    EXPECT_TRUE(log.has("parse error of ACTS string"));
}

class DaytimeParser : public ::testing::Test {
protected:
    ktr::testing::FakeClock clock_{platform::make_date(2026, 12, 5, 12, 0, 0), 0, 0, 0};
    ktr::testing::ScopedFakeClock scoped_{clock_};
    ktr::testing::ScopedLocale locale_{platform::us_locale()};
    CNISTtimeset e_;
};

TEST_F(DaytimeParser, SingleDigitDayAfterTwoBlanks) {
    ASSERT_TRUE(e_.Daytime_parse_string("Sat Dec  5 05:37:32 2026"));
    EXPECT_EQ(e_.NISTDate(), "Dec 5, 2026");
    EXPECT_EQ(e_.NISTTime(), "05:37:32");
    EXPECT_FLOAT_EQ(e_.NISTSecFrac(), 0.5f);
}

TEST_F(DaytimeParser, ZoneWordAndLineEnd) {
    testing::DebugCapture log;
    ASSERT_TRUE(e_.Daytime_parse_string("Sat Dec  5 05:37:32 UTC 2026"));
    EXPECT_EQ(e_.NISTDate(), "Dec 5, 2026");
    ASSERT_TRUE(e_.Daytime_parse_string("Sat Dec 15 05:37:32 2026\r\n"));
    EXPECT_EQ(e_.NISTDate(), "Dec 15, 2026");
    EXPECT_TRUE(log.has("Trimming year:_2026\r\n_"));
}

TEST_F(DaytimeParser, UnrecognisedDateFails) {
    testing::DebugCapture log;
    EXPECT_FALSE(e_.Daytime_parse_string("Sat Foo 45 05:37:32 2026"));
    EXPECT_TRUE(log.has("Date field error in Daytime string"));
    EXPECT_FALSE(e_.Daytime_parse_string(""));
    EXPECT_TRUE(log.has("parse error of Daytime string"));
}

} // namespace
} // namespace ktr::engine
