// Any bytes as a received time string: the parser answers true or false and the comparison a status.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ktr::engine;
    fuzz::install_fixed_clock();
    CNISTtimeset e;
    e.System_get_timezone();
    if (e.Daytime_parse_string(fuzz::as_text(data, size))) {
        int16_t status = 0;
        e.compare_time(e.NISTDate() + " " + e.NISTTime(), status);
    }
    return 0;
}
