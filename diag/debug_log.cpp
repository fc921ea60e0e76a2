#include "diag/debug_log.h"

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/format.h"

namespace ktr::diag {
namespace {

platform::AppendFile g_file;
bool g_line_open = false;

std::string time_stamp() { return platform::format_date(platform::now_local(), "mm-dd hh:nn:ss") + "  "; }

void open_debug_file() { g_file.open(debug_state().file_path); }

} // namespace

std::string escaped(std::string_view text) {
    size_t body = text.size();
    while (body > 0 && (text[body - 1] == '\r' || text[body - 1] == '\n')) --body;
    std::string out;
    out.reserve(text.size());
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < body; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20 || c == 0x7F) out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
        else out += static_cast<char>(c);
    }
    out.append(text.substr(body));
    return out;
}

DebugState& debug_state() {
    static DebugState state;
    return state;
}

bool debug_file_open() { return g_file.is_open(); }

void debug_write(std::string_view text, bool keep_line_open) {
    if (!debug_state().to_file) return;
    std::string line;
    if (keep_line_open) {
        line = time_stamp();
        line += text;
        g_line_open = true;
    } else if (g_line_open) {
        line.assign(text);
        line += "\r\n";
        g_line_open = false;
    } else {
        line = time_stamp();
        line += text;
        line += "\r\n";
    }
    g_file.write(line);  // a failed write is ignored: tracing never stops the module
}

void set_debug_file_mode(bool on) {
    if (on) {
        open_debug_file();
        debug_write("Debug FILE mode is now on.");
    } else {
        debug_write("Debug FILE mode is now off.");
        g_file.close();
    }
}

bool check_debug_marker(bool current) {
    const std::string marker = platform::join_path(platform::program_folder(), "debug.txt");
    if (platform::file_exists(marker)) {
        if (!current) {
            debug_state().to_file = true;
            open_debug_file();
            debug_write("-----Debug file mode is now on------");
        }
        return true;
    }
    if (current) {
        debug_write("-----Debug file mode is turning off------");
        g_file.close();
    }
    return false;
}

} // namespace ktr::diag
