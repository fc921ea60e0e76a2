// Any bytes as a server string and a user-defined layout (split at the first NUL byte).
#include <string>

#include "engine/custom_format.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ktr::engine;
    fuzz::install_fixed_clock();
    const std::string_view all = fuzz::as_text(data, size);
    const size_t nul = all.find('\0');
    const std::string_view server = all.substr(0, nul);
    const std::string_view format = nul == std::string_view::npos ? "yyyy-mm-dd Hh:Nn:Ss" : all.substr(nul + 1);
    std::string date, time;
    Custom_parse_string(server, format, date, time);
    return 0;
}
