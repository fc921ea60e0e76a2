#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <vector>

#include "engine/nist_timeset.h"
#include "engine/time_util.h"
#include "engine_test_support.h"
#include "fakes/fake_clock.h"
#include "platform/date_value.h"

namespace ktr::engine {
namespace {

using platform::make_date;
using Bytes = std::array<uint8_t, 4>;

TEST(NtpTimestamps, SecondsBytesConvertToDateAndBack) {
    const Bytes bytes{0xE6, 0x8A, 0x5C, 0x80};  // 3867827328 s after 1900
    const double date = make_date(2022, 7, 26, 12, 28, 48);
    EXPECT_EQ(platform::date_to_parts(CNISTtimeset::byte_to_date(bytes)), platform::date_to_parts(date));
    EXPECT_EQ(CNISTtimeset::date_to_byte(CNISTtimeset::byte_to_date(bytes)), bytes);
    // To the nearest second.
    EXPECT_EQ(CNISTtimeset::date_to_byte(date + 0.4 / 86400), bytes);
    EXPECT_EQ(CNISTtimeset::date_to_byte(date + 0.6 / 86400), (Bytes{0xE6, 0x8A, 0x5C, 0x81}));

    const Bytes zero{0, 0, 0, 0}, top{0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_DOUBLE_EQ(CNISTtimeset::byte_to_date(zero), 2.0);
    EXPECT_EQ(CNISTtimeset::date_to_byte(CNISTtimeset::byte_to_date(top)), top);
    // The next second starts NTP era 1; its timestamp wraps to zero rather than overflowing a byte.
    EXPECT_EQ(CNISTtimeset::date_to_byte(CNISTtimeset::byte_to_date(top) + 1.0 / 86400), zero);
    EXPECT_EQ(CNISTtimeset::date_to_byte(std::numeric_limits<double>::quiet_NaN()), zero);

    testing::DebugCapture log;
    const std::vector<uint8_t> three{1, 2, 3};
    EXPECT_DOUBLE_EQ(CNISTtimeset::byte_to_date(three), 0.0);
    EXPECT_TRUE(log.has("byte_to_date: array error"));
    EXPECT_FLOAT_EQ(CNISTtimeset::byte_to_frac(std::span<const uint8_t>{three}.first(1)), 0.0f);
}

TEST(NtpTimestamps, FractionUsesOnlyTheTopTwoBytes) {
    EXPECT_FLOAT_EQ(CNISTtimeset::byte_to_frac(Bytes{0x80, 0, 0xFF, 0xFF}), 0.5f);
    EXPECT_FLOAT_EQ(CNISTtimeset::byte_to_frac(std::array<uint8_t, 2>{0x40, 0}), 0.25f);
    EXPECT_NEAR(CNISTtimeset::byte_to_frac(std::array<uint8_t, 2>{0xFF, 0xFF}), 1.0 - 1.0 / 65536, 1e-7);
}

TEST(MillisecondFractions, ScaleByTheNumberOfDigits) {
    const std::pair<int16_t, float> rows[] = {{999, 0.999f},    {0, 0.0f},     {1000, 0.1f},     {1500, 0.15f},
                                              {9999, 0.9999f}, {10000, 0.1f}, {32767, 0.32767f}};
    for (const auto& [ms, fraction] : rows) EXPECT_FLOAT_EQ(ms_to_fraction(ms), fraction) << ms;

    ktr::testing::FakeClock clock(make_date(2026, 12, 5, 12, 0, 0, 250), 300, -60, 2);
    ktr::testing::ScopedFakeClock scoped(clock);
    EXPECT_FLOAT_EQ(current_fraction(), 0.25f);  // of the UTC clock
    const platform::DateParts st = date_to_systemtime(make_date(2026, 12, 5, 12, 0, 7), 0.5f);
    EXPECT_EQ(st, (platform::DateParts{2026, 12, 0, 5, 12, 0, 7, 500}));
}

} // namespace
} // namespace ktr::engine
