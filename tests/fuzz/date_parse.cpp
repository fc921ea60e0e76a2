// Any bytes given to date recognition give a value or nothing; a value must be a date the module can format.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/date_parse.h"
#include "platform/date_value.h"
#include "platform/format.h"
#include "platform/locale.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ktr::platform;
    if (size == 0) return 0;
    // The first byte picks the short date order, so all three readings are explored.
    static const LocaleInfo locales[3] = {us_locale(), british_locale(), iso_locale()};
    set_locale(locales[data[0] % 3]);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto value = parse_date(text);
    if (value) {
        if (!std::isfinite(*value) || *value < kMinDate - 1 || *value > kMaxDate + 1) std::abort();
        (void)format_date(*value, "General Date");
    }
    return 0;
}
