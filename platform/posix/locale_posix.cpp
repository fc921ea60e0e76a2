// The environment's LC_TIME conventions through nl_langinfo_l, without touching the process's own locale.
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <string>

#include "platform/locale.h"

namespace ktr::platform {
namespace {

// The locale name the environment chooses for LC_TIME, as setlocale would find it.
std::string time_locale_name() {
    for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) return v;
    }
    return "C";
}

bool is_c_locale(const std::string& name) {
    return name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

} // namespace

std::optional<LocaleTexts> read_system_locale_texts() {
    if (is_c_locale(time_locale_name())) return std::nullopt;
    locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return std::nullopt;
    auto text = [loc](nl_item item) {
        const char* s = nl_langinfo_l(item, loc);
        return std::string(s ? s : "");
    };
    LocaleTexts t;
    t.date_format = text(D_FMT);
    t.time_format = text(T_FMT);
    t.time_format_ampm = text(T_FMT_AMPM);
    t.am = text(AM_STR);
    t.pm = text(PM_STR);
    static const nl_item kMonths[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                        MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
    static const nl_item kAbMonths[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                          ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
    static const nl_item kDays[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
    static const nl_item kAbDays[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4, ABDAY_5, ABDAY_6, ABDAY_7};
    for (size_t i = 0; i < 12; ++i) {
        t.months[i] = text(kMonths[i]);
        t.month_abbrevs[i] = text(kAbMonths[i]);
    }
    for (size_t i = 0; i < 7; ++i) {
        t.days[i] = text(kDays[i]);
        t.day_abbrevs[i] = text(kAbDays[i]);
    }
    freelocale(loc);
    return t;
}

} // namespace ktr::platform
