#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "engine/ntp_codec.h"
#include "engine_fixture.h"

namespace ktr::engine {
namespace {

using platform::make_date;
using Bytes = std::array<uint8_t, 4>;

using NtpCodec = EngineTest;

TEST_F(NtpCodec, TimestampsAndFractions) {
    const Bytes bytes{0xE6, 0x8A, 0x5C, 0x80};  // 3867827328 s after 1900
    const double date = make_date(2022, 7, 26, 12, 28, 48);
    EXPECT_EQ(platform::date_to_parts(byte_to_date(bytes)), platform::date_to_parts(date));
    EXPECT_EQ(date_to_byte(date + 0.4 / 86400), bytes);  // to the nearest second
    EXPECT_EQ(date_to_byte(date + 0.6 / 86400), (Bytes{0xE6, 0x8A, 0x5C, 0x81}));
    const Bytes zero{}, top{0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_DOUBLE_EQ(byte_to_date(zero), 2.0);
    // The second after the top starts NTP era 1: it wraps to zero rather than overflowing a byte.
    EXPECT_EQ(date_to_byte(byte_to_date(top) + 1.0 / 86400), zero);
    EXPECT_EQ(date_to_byte(std::numeric_limits<double>::quiet_NaN()), zero);
    EXPECT_TRUE(byte_to_date(std::vector<uint8_t>{1, 2, 3}) == 0.0 && traced("byte_to_date: array error"));

    EXPECT_FLOAT_EQ(byte_to_frac(Bytes{0x80, 0, 0xFF, 0xFF}), 0.5f);  // the low bytes do not count
    EXPECT_FLOAT_EQ(byte_to_frac(Bytes{0x40, 0}), 0.25f);
    EXPECT_FLOAT_EQ(byte_to_frac(std::vector<uint8_t>{0x80}), 0.0f);
    EXPECT_EQ(frac_to_bytes(0.5f), (std::array<uint8_t, 2>{128, 0}));
    EXPECT_EQ(frac_to_bytes(0.045f), (std::array<uint8_t, 2>{11, 133}));
    EXPECT_EQ(frac_to_bytes(0.99999f), (std::array<uint8_t, 2>{255, 255}));
}

TEST_F(NtpCodec, RepliesAreCheckedForModeAndDate) {
    // Server (4) and broadcast (5) modes of versions 3 and 4 pass; client modes and unknown ones do not.
    for (const auto& [mode, ok] : {std::pair{0x24, true}, {0x1C, true}, {0x25, true}, {0x23, false}, {0x27, false},
                                   {0x21, false}})
        EXPECT_EQ(check_ntp_mode(static_cast<uint8_t>(mode)), ok) << mode;
    EXPECT_TRUE(traced("-is a client (should be a server)") && traced("Unknown mode: 33"));

    std::array<uint8_t, 48> reply{};
    reply[0] = 0x24;
    EXPECT_TRUE(!decode_ntp_reply(reply) && traced("Bad year"));  // 1900
    EXPECT_FALSE(check_reply_date(std::numeric_limits<double>::infinity()));

    const auto seconds = date_to_byte(make_date(2026, 12, 5, 12, 0, 0));
    std::copy(seconds.begin(), seconds.end(), reply.begin() + 40);
    reply[44] = 0x80;
    const auto decoded = decode_ntp_reply(reply);
    ASSERT_TRUE(decoded && decoded->date == "12/5/2026 12:00:00 PM") << (decoded ? decoded->date : "none");
    EXPECT_FLOAT_EQ(decoded->fraction, 0.5f);

    EXPECT_EQ(decode_time_reply(seconds), "12/5/2026 12:00:00 PM");
    EXPECT_FALSE(decode_time_reply(Bytes{0x10, 0, 0, 0}));
}

TEST_F(NtpCodec, TheSntpReplyIsBuiltFromTheRequest) {
    std::vector<uint8_t> req(48, 0);
    req[0] = 0x1B;
    for (size_t i = 4; i < 48; ++i) req[i] = static_cast<uint8_t>(i);
    const Bytes t{0xEE, 0xBE, 0x7B, 0x40};
    const std::array<uint8_t, 2> f{11, 133};
    // Server mode, stratum 1, poll 4, precision -18, reference "ZNTK"; the clock in the reference, receive
    // and transmit stamps; the client's transmit stamp comes back as the originate stamp.
    const std::vector<uint8_t> expected{0x1C, 1,  4,  0xEE, 4,    5,    6,    7,    8,    9,    10, 11,
                                        'Z',  'N', 'T', 'K', 0xEE, 0xBE, 0x7B, 0x40, 20,   21,   22, 23,
                                        40,   41, 42, 43,   44,   45,   46,   47,   0xEE, 0xBE, 0x7B, 0x40,
                                        11,   133, 38, 39,  0xEE, 0xBE, 0x7B, 0x40, 11,   133,  0,  0};
    EXPECT_EQ(build_ntp_reply(req, t, f), expected);
    req[40] = 0;  // no transmit stamp: the request's own originate bytes come back
    EXPECT_EQ(build_ntp_reply(req, t, f)[24], 24);

    // Short or unversioned requests get nothing; longer ones a 48-byte reply.
    EXPECT_TRUE(build_ntp_reply(std::vector<uint8_t>(47, 0x1B), t, f).empty());
    req.resize(68, 9);
    EXPECT_EQ(build_ntp_reply(req, t, f).size(), 48u);
    req[0] = 255;
    EXPECT_TRUE(build_ntp_reply(req, t, f).empty());
}

} // namespace
} // namespace ktr::engine
