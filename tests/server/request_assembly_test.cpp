// When a console request received so far is whole enough to act on.
#include <gtest/gtest.h>

#include "server/request_assembly.h"

namespace ktr::server {
namespace {

using enum RequestForm;

TEST(RequestAssembly, APieceIsNeverTakenForTheWholeRequest) {
    const std::pair<const char*, RequestForm> rows[] = {
        {"H", partial}, {"H+", whole}, {"T+", whole}, {"h+", whole}, {"S+ 26-12-0", partial},
        {"S+ 26-12-05 05:37:32", partial}, {"S+ 26-12-05 05:37:32 2", partial}, {"S+ 26-12-05 05:37:32 250", whole},
        {"F+ 12/05/2026 05:37:32 25\r\n", whole}, {"X+1 On 5 COM2 96", partial}, {"X+1 On Latch COM2 9600", whole},
        {"C+WOL-192.0.2.255-192.0.2.10-00-0C-29-3A-5B-7", partial},
        {"C+WOL-192.0.2.255-192.0.2.10-00-0C-29-3A-5B-7C", whole}, {"C+Win", partial},
        {"C+Windows Logoff", free_text}, {"C+notepad.exe\r\n", whole},
    };
    for (const auto& [text, form] : rows) EXPECT_EQ(request_form(text), form) << text;
}

} // namespace
} // namespace ktr::server
