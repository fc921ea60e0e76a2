// Any received bytes at one of the module's readers, picked by the first byte (its remainder by 6 the reader,
// its sixth the short date order): a NIST, ACTS or daytime string, an SNTP or Time-protocol reply, a server
// string and a user-defined layout after a NUL byte, or a date text. Each answers or refuses; what is read is
// compared with a fixed clock, so runs repeat and this machine's clock is never touched.
#include <cmath>
#include <cstdlib>
#include <string>

#include "engine/custom_format.h"
#include "engine/ntp_codec.h"
#include "engine/time_compare.h"
#include "fakes/fake_clock.h"
#include "platform/date_parse.h"
#include "platform/date_value.h"
#include "platform/format.h"
#include "platform/locale.h"

namespace {

using namespace ktr;

void read_custom(std::string_view all) {
    const size_t nul = all.find('\0');
    const std::string_view layout = nul == std::string_view::npos ? "yyyy-mm-dd Hh:Nn:Ss" : all.substr(nul + 1);
    std::string date, time;
    engine::Custom_parse_string(all.substr(0, nul), layout, date, time);
}

// A recognised date must be one the module can write.
void recognise_date(std::string_view text) {
    const auto value = platform::parse_date(text);
    if (!value) return;
    if (!std::isfinite(*value) || *value < platform::kMinDate - 1 || *value > platform::kMaxDate + 1) std::abort();
    (void)platform::format_date(*value, "General Date");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ktr::engine;
    static testing::FakeClock clock = testing::eastern_daylight_clock(platform::make_date(2026, 7, 1, 12));
    static const platform::LocaleInfo locales[3] = {platform::us_locale(), platform::british_locale(),
                                                    platform::iso_locale()};
    if (size == 0) return 0;
    platform::set_clock(&clock);
    platform::set_locale(locales[data[0] / 6 % 3]);
    const SystemZone zone = read_system_zone();
    const std::span<const uint8_t> bytes(data + 1, size - 1);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    Decoded d;
    switch (data[0] % 6) {
    case 0: d = NIST_parse_string(text, {}); break;
    case 1: d = ACTS_parse_string(text, {}); break;
    case 2:
        if (const Decoded day = Daytime_parse_string(text, {}); day.ok)
            compare_time(day.reading.date + " " + day.reading.time, zone);
        break;
    case 3:
        if (const auto reply = decode_ntp_reply(bytes)) compare_time(reply->date, zone);
        if (const auto date = decode_time_reply(bytes)) compare_time(*date, zone);
        byte_to_date(bytes);
        byte_to_frac(bytes);
        break;
    case 4: read_custom(text); break;
    default: recognise_date(text);
    }
    if (d.ok) NIST_compare_time(d.reading, zone);
    return 0;
}
