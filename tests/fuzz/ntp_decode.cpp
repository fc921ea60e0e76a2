// Any bytes as an SNTP or Time-protocol reply: decoded or refused, then compared.
#include "engine/ntp_codec.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ktr::engine;
    const SystemZone zone = fuzz::install_fixed_clock();
    const std::span<const uint8_t> payload(data, size);
    if (const auto reply = decode_ntp_reply(payload)) compare_time(reply->date, zone);
    if (const auto date = decode_time_reply(payload)) compare_time(*date, zone);
    byte_to_date(payload);
    byte_to_frac(payload);
    return 0;
}
