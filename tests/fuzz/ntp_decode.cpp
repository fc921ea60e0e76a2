// Any bytes as an SNTP or Time-protocol reply: decoded or refused, then compared.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ktr::engine;
    fuzz::install_fixed_clock();
    const std::span<const uint8_t> payload(data, size);
    CNISTtimeset e;
    e.System_get_timezone();
    int16_t status = 0;
    if (CNISTtimesetAccess::decode_ntp_reply(e, payload)) e.compare_time(e.NISTDate(), status);
    if (CNISTtimesetAccess::decode_time_reply(e, payload)) e.compare_time(e.NISTDate(), status);
    CNISTtimeset::byte_to_date(payload);
    CNISTtimeset::byte_to_frac(payload);
    return 0;
}
