#include "config/program.h"

namespace ktr::config {

ProgramValues& program() {
    static ProgramValues values;
    return values;
}

std::string program_comments() { return std::string("Ktrsvc Service Module, built ") + __DATE__; }

} // namespace ktr::config
