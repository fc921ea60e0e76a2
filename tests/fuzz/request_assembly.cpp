// Any text, cut anywhere: a piece judged whole never reads as another date or time than the text it was
// cut from, and judging never fails.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/convert.h"
#include "server/request_assembly.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ktr;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> full = platform::split_blanks(text);
    const bool set_form = text.starts_with("S+") || text.starts_with("F+");
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        const std::string_view piece = text.substr(0, cut);
        if (server::request_form(piece) != server::RequestForm::whole || !set_form) continue;
        const std::vector<std::string> e = platform::split_blanks(piece);
        // Date and time are whole; the milliseconds may only go on with what the text adds to them.
        if (e.size() < 4 || e[1] != full[1] || e[2] != full[2] || !full[3].starts_with(e[3])) std::abort();
    }
    return 0;
}
