#include "server/request_assembly.h"

#include <algorithm>
#include <vector>

#include "platform/convert.h"

namespace ktr::server {
namespace {

bool ends_line(std::string_view text) { return !text.empty() && (text.back() == '\r' || text.back() == '\n'); }

// Set and force: the prefix, then date, time and milliseconds. The milliseconds are whole at three digits,
// or when something follows them.
RequestForm set_form(std::string_view text) {
    const std::vector<std::string> e = platform::split_blanks(text);
    if (e.size() > 4) return RequestForm::whole;
    if (e.size() == 4 && (e[3].size() >= 3 || ends_line(text))) return RequestForm::whole;
    return RequestForm::partial;
}

// The relay: switch, action, duration, port and a four-digit line speed.
RequestForm relay_form(std::string_view text) {
    const std::vector<std::string> e = platform::split_blanks(text);
    if (e.size() > 5) return RequestForm::whole;
    if (e.size() == 5 && (e[4].size() >= 4 || ends_line(text))) return RequestForm::whole;
    return RequestForm::partial;
}

// Wake-on-LAN: two addresses and six two-digit groups of the MAC address, "-"-separated.
RequestForm wake_form(std::string_view fields) {
    const auto dashes = std::count(fields.begin(), fields.end(), '-');
    if (dashes > 8) return RequestForm::whole;
    if (dashes == 8 && fields.size() - fields.rfind('-') - 1 >= 2) return RequestForm::whole;
    return RequestForm::partial;
}

RequestForm action_form(std::string_view args) {
    if (args.starts_with("WOL")) return wake_form(args.substr(3));
    // A prefix of a word the action knows may still become it.
    if (std::string_view("WOL").starts_with(args) || std::string_view("Windows").starts_with(args))
        return RequestForm::partial;
    return ends_line(args) ? RequestForm::whole : RequestForm::free_text;
}

} // namespace

RequestForm request_form(std::string_view text) {
    const size_t plus = text.find('+');
    if (plus == std::string_view::npos) return RequestForm::partial;
    const std::string_view command = text.substr(0, plus);
    if (command == "S" || command == "F") return set_form(text);
    if (command == "X") return relay_form(text);
    if (command == "C") return action_form(text.substr(plus + 1));
    return RequestForm::whole;
}

} // namespace ktr::server
