// Any bytes as a received time string: the parser answers true or false and the comparison a status.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ktr::engine;
    const SystemZone zone = fuzz::install_fixed_clock();
    const Decoded d = Daytime_parse_string(fuzz::as_text(data, size), {});
    if (d.ok) compare_time(d.reading.date + " " + d.reading.time, zone);
    return 0;
}
