#include "engine/clock_text.h"

#include "diag/debug_log.h"
#include "engine/time_util.h"
#include "platform/clock.h"
#include "platform/format.h"
#include "platform/locale.h"

namespace ktr::engine {

using platform::format_number;

std::string system_time_text(bool with_milliseconds) {
    const platform::DateParts t = platform::clock().utc_now();
    std::string text = format_number(t.year, "0#") + "-" + format_number(t.month, "0#") + "-" +
                       format_number(t.day, "0#") + " " + std::to_string(t.hour) + ":" +
                       format_number(t.minute, "0#") + ":" + format_number(t.second, "0#");
    if (with_milliseconds) text += "." + format_number(t.millisecond, "00#");
    KTR_TRACE("System Date Time String: _" + text + "_");
    return text;
}

std::string utc_time_text() {
    return platform::format_date(platform::parts_to_date(platform::clock().utc_now()), "yy-mm-dd hh:nn:ss");
}

std::string fraction_text() { return format_number(current_fraction(), ".###"); }

std::string utc_clock_text() {
    const platform::DateParts t = platform::clock().utc_now();
    return std::to_string(t.hour) + ":" + format_number(t.minute, "0#") + ":" + format_number(t.second, "0#") + "." +
           format_number(t.millisecond, "00#");
}

const std::string& label_date_text(const platform::DateParts& utc) {
    struct Kept {
        platform::DateParts utc{};
        const platform::Clock* clock = nullptr;
        uint32_t locale = 0;
        std::string text;
    };
    static Kept kept;
    const platform::Clock* clock = &platform::clock();
    const platform::DateParts& k = kept.utc;
    const bool same_second = k.second == utc.second && k.minute == utc.minute && k.hour == utc.hour &&
                             k.day == utc.day && k.month == utc.month && k.year == utc.year;
    // Another clock (tests swap them) or other conventions make a new text, as a new second does.
    if (!same_second || kept.clock != clock || kept.locale != platform::locale_generation() || kept.text.empty()) {
        kept.utc = utc;
        kept.clock = clock;
        kept.locale = platform::locale_generation();
        kept.text = platform::format_date(platform::now_local(), "General Date");
    }
    return kept.text;
}

std::string bare_time_text(const platform::DateParts& t) {
    return std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" + std::to_string(t.second) + "." +
           std::to_string(t.millisecond);
}

} // namespace ktr::engine
