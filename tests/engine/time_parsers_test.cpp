#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "engine/time_parsers.h"
#include "engine_fixture.h"

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

using Parsers = EngineTest;

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
    for (const char* line : {"parse error of NIST string", "NIST parse string - no Julian days.",
                             "Time: _05:37:32_ frac: 0.5"})
        EXPECT_TRUE(traced(line)) << line;
}

TEST_F(Parsers, ActsReadsItsLayoutAndIgnoresDut1) {
    expect_parses(&ACTS_parse_string, {
        {"57361 25-12-05 05:37:32 50 0 +.1 45.0 UTC(NIST) *", true,
          "57361 25-12-05 05:37:32 50 0 0 45 UTC(NIST) 0 [] ok"},
        {"25-12-06 05:37:33 00 0 -.2 12.5 UTC(NIST) *", true, "0 25-12-06 05:37:33 0 0 0 12.5 UTC(NIST) 0 [] ok"},
        {"S+ 12/05/2026 05:37:32 250", false, "0 25-12-06 05:37:33 0 0 0 12.5 UTC(NIST) 0 [] ok"},
        {"Server: 25-12-07", true, "0 25-12-07 05:37:33 0 0 0 0 UTC(NIST) 0 [] ok"},
    });
    EXPECT_TRUE(traced("ACTS parse string - no Julian days.") && traced("parse error of ACTS string"));
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
    EXPECT_TRUE(traced("Trimming year:_2026\r\n_") && traced("Date field error in Daytime string") &&
                traced("parse error of Daytime string"));
}

} // namespace
} // namespace ktr::engine
