// The decoders of the servers' replies: the fixed text layouts, the custom formats and NTP packets.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "engine/custom_format.h"
#include "engine/ntp_codec.h"
#include "engine/time_parsers.h"
#include "fakes/module_state.h"

namespace ktr::engine {
namespace {

using Parser = Decoded (*)(std::string_view, ServerReading);

// Every field of a reading in one line: julian date time dst leap health advance label fraction [command],
// then "ok" when the server passes its check.
std::string fields(const ServerReading& r) {
    std::ostringstream out;
    out << r.julian_days << ' ' << r.date << ' ' << r.time << ' ' << r.dst << ' ' << r.leap << ' ' << r.health << ' '
        << r.advance << ' ' << r.label << ' ' << r.fraction << " [" << r.command << "]" << (r.server_ok() ? " ok" : "");
    return out.str();
}

struct Parse { const char *line; bool accepted; const char* fields; };  // fields nullptr: not checked

// Runs the lines in order, each from the reading the previous one left: fields a line lacks keep their values.
void expect_parses(Parser parse, std::initializer_list<Parse> lines) {
    ServerReading reading;
    for (const Parse& p : lines) {
        SCOPED_TRACE(p.line);
        Decoded d = parse(p.line, reading);
        EXPECT_EQ(d.ok, p.accepted);
        EXPECT_EQ(fields(d.reading), p.fields ? p.fields : fields(d.reading));
        reading = d.reading;
    }
}

using Parsers = testing::ModuleStateTest;

TEST_F(Parsers, NistFieldsOfEachLayoutAndWhatShortOrBadLinesKeep) {
    expect_parses(&NIST_parse_string, {
        {"57361 25-12-05 05:37:32 00 0 0 45.0 UTC(NIST) *", true,
          "57361 25-12-05 05:37:32 0 0 0 45 UTC(NIST) 0.5 [] ok"},
        {"Hello 25-12-05 05:37:32 00 0 0 45.0 UTC(NIST) *", false,
          "57361 25-12-05 05:37:32 0 0 0 45 UTC(NIST) 0.5 [] ok"},
        {"\xC3\xA9t\xC3\xA9 \xFF", false, "57361 25-12-05 05:37:32 0 0 0 45 UTC(NIST) 0.5 [] ok"},
        {"57362 25-12-06", true, "57362 25-12-06 05:37:32 0 0 0 45 UTC(NIST) 0.5 [] ok"},
        // The server check allows an advance of one second.
        {"57361 25-12-05 05:37:32 00 0 0 1000.1 UTC(NIST) *", true,
          "57361 25-12-05 05:37:32 0 0 0 1000.1 UTC(NIST) 0.5 []"},
        // Numbers out of range for their fields are refused one by one; text that is no number reads as 0.
        {"99999999999 25-12-07 05:37:33 99999 x 7 1e300 L *", true, "57361 25-12-07 05:37:33 0 0 7 1000.1 L 0.5 []"},
        {"25-12-05 05:37:32 50 1 2 45.0 UTC(NIST) #", true, "0 25-12-05 05:37:32 50 1 2 45 UTC(NIST) 0.5 []"},
        // Console set and force strings carry milliseconds and clear health and advance.
        {"S+ 12/05/2026 05:37:32 250", true, "0 12/05/2026 05:37:32 50 1 0 0 UTC(NIST) 0.25 [S] ok"},
        {"S+ 12/05/2026 05:37:32 abc", true, "0 12/05/2026 05:37:32 50 1 0 0 UTC(NIST) 0.25 [S] ok"},
        {"F+xyz 12/06/2026 06:00:00 5", true, "0 12/06/2026 06:00:00 50 1 0 0 UTC(NIST) 0.005 [F] ok"},
    });
    // Server replies may carry a decimal fraction; without one the last fraction stays.
    expect_parses(&NIST_parse_string, {
        {"Server: 12/05/2026 05:37:32.5", true, "0 12/05/2026 05:37:32 0 0 0 0  0.5 [] ok"},
        {"OK-T 12/05/2026 05:37:33", true, "0 12/05/2026 05:37:33 0 0 0 0  0.5 [] ok"},
        {"tovanisoft: 12/05/2026 05:37:34.25", true, "0 12/05/2026 05:37:34 0 0 0 0  0.25 [] ok"},
    });
}

TEST_F(Parsers, DaytimeDayOfOneOrTwoDigitsZoneWordAndLineEnd) {
    clock_.set_utc(platform::make_date(2026, 12, 5, 12, 0, 0));
    expect_parses(&Daytime_parse_string, {
        {"Sat Dec  5 05:37:32 2026", true, "0 Dec 5, 2026 05:37:32 0 0 0 0  0.5 [] ok"},
        {"Sat Dec  6 05:37:33 UTC 2026", true, "0 Dec 6, 2026 05:37:33 0 0 0 0  0.5 [] ok"},
        {"Sat Dec 15 05:37:34 2026\r\n", true, "0 Dec 15, 2026 05:37:34 0 0 0 0  0.5 [] ok"},
        {"Sat Foo 45 05:37:32 2026", false, nullptr},
        {"", false, nullptr},
    });
}

using CustomFormat = testing::ModuleStateTest;

TEST_F(CustomFormat, DateAndTimeTextsOrEmptyOnFailure) {
    clock_.set_utc(platform::make_date(2026, 3, 9, 12, 0, 0));
    struct Row { const char *server, *format; bool ok; const char *date, *time; };
    const Row rows[] = {
        {"2026-12-05 05:37:32", "yyyy-mm-dd Hh:Nn:Ss", true, "12/05/2026", "05:37:32 "},  // numeric month: slashes
        {"Dec-5-2026 5:37:32 PM", "mmm-d-yyyy h:N:S AM/PM", true, "Dec 5, 2026", "5:37:32 PM"},
        {"05:37:32", "Hh:Nn:Ss", true, "Mar 9, 2026", "05:37:32 "},  // missing date parts come from today
        // Full month names, escaped letters; a separator the text lacks or a token that is none: nothing.
        {"December 5 2026 T05:37:32", "mmmm d yyyy \\THh:Nn:Ss", true, "December 5, 2026", "05:37:32 "},
        {"5x12x2026", "d/m/yyyy", false, "", ""}, {"05:37", "Hx:Nn", false, "", ""},
        {"2026-12-05 05:37:32 extra", "yyyy-mm-dd Hh:Nn:Ss", false, "", ""},
        {"2026-13-45 05:37:32", "yyyy-mm-dd Hh:Nn:Ss", false, "", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.server);
        std::string date = "old", time = "old";
        EXPECT_EQ(Custom_parse_string(r.server, r.format, date, time), r.ok);
        EXPECT_EQ(date, r.date);
        EXPECT_EQ(time, r.time);
    }
}

using platform::make_date;
using Bytes = std::array<uint8_t, 4>;

using NtpCodec = testing::ModuleStateTest;

// The plain cases are seen where the module answers and sets from SNTP replies; here rounding, the era's
// end, bad values and the checks.
TEST_F(NtpCodec, TimestampsFractionsAndTheChecksOfAReply) {
    const Bytes bytes{0xE6, 0x8A, 0x5C, 0x80};  // 3867827328 s after 1900
    const double date = make_date(2022, 7, 26, 12, 28, 48);
    EXPECT_EQ(date_to_byte(date + 0.4 / 86400), bytes);  // to the nearest second
    EXPECT_EQ(date_to_byte(date + 0.6 / 86400), (Bytes{0xE6, 0x8A, 0x5C, 0x81}));
    const Bytes zero{}, top{0xFF, 0xFF, 0xFF, 0xFF};
    // The second after the top starts NTP era 1: it wraps to zero rather than overflowing a byte.
    EXPECT_EQ(date_to_byte(byte_to_date(top) + 1.0 / 86400), zero);
    EXPECT_EQ(date_to_byte(std::numeric_limits<double>::quiet_NaN()), zero);
    EXPECT_EQ(byte_to_date(std::vector<uint8_t>{1, 2, 3}), 0.0);
    EXPECT_FLOAT_EQ(byte_to_frac(Bytes{0x80, 0, 0xFF, 0xFF}), 0.5f);  // the low bytes do not count
    EXPECT_FLOAT_EQ(byte_to_frac(std::vector<uint8_t>{0x80}), 0.0f);
    EXPECT_EQ(frac_to_bytes(0.99999f), (std::array<uint8_t, 2>{255, 255}));

    EXPECT_TRUE(check_ntp_mode(0x25) && !check_ntp_mode(0x27));  // broadcast passes, an unknown mode does not
    std::array<uint8_t, 48> reply{};
    reply[0] = 0x24;
    EXPECT_FALSE(decode_ntp_reply(reply));  // 1900
    EXPECT_FALSE(check_reply_date(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(decode_time_reply(date_to_byte(make_date(2026, 12, 5, 12))), "12/5/2026 12:00:00 PM");
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
    req[0] = 255;  // unversioned: nothing (short and long requests are the end-to-end test's)
    EXPECT_TRUE(build_ntp_reply(req, t, f).empty());
}

} // namespace
} // namespace ktr::engine
