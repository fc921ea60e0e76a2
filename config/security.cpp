#include "config/security.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "config/option_store.h"
#include "config/program.h"
#include "config/registry_tools.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "platform/process.h"
#include "platform/registry_hive.h"
#include "platform/text.h"

namespace ktr::config {
namespace {

std::optional<uint32_t> ipv4(std::string_view text) {
    uint32_t out = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text[0] != '.') return std::nullopt;
            text.remove_prefix(1);
        }
        unsigned v = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (ec != std::errc() || end == text.data() || v > 255) return std::nullopt;
        text.remove_prefix(static_cast<size_t>(end - text.data()));
        out = out << 8 | v;
    }
    if (!text.empty()) return std::nullopt;
    return out;
}

uint32_t mask(int prefix) { return prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix); }

// Values read as the options' own values are: numbers and the words True and False, as stored.
bool truth(const std::string& text, bool fallback) { return option_boolean(text).value_or(fallback); }

int32_t count_value(const std::string& text, int32_t fallback) {
    const auto v = option_long(text);
    return v && *v >= 0 ? *v : fallback;
}

std::vector<std::string> program_list(std::string_view text) {
    std::vector<std::string> out;
    for (size_t pos = 0; pos <= text.size();) {
        const size_t end = std::min(text.find(';', pos), text.size());
        std::string_view entry = text.substr(pos, end - pos);
        while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t')) entry.remove_prefix(1);
        while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t')) entry.remove_suffix(1);
        if (!entry.empty()) out.emplace_back(entry);
        pos = end + 1;
    }
    return out;
}

} // namespace

SecuritySettings& security() {
    static SecuritySettings settings;
    return settings;
}

bool SecuritySettings::console_allowed(std::string_view address) const {
    if (allowed_consoles.empty()) return true;
    const auto ip = ipv4(address.starts_with("::ffff:") ? address.substr(7) : address);
    if (!ip) return false;
    for (const AllowedNetwork& n : allowed_consoles)
        if ((*ip & mask(n.prefix)) == (n.address & mask(n.prefix))) return true;
    return false;
}

bool SecuritySettings::program_allowed(std::string_view command_line) const {
    if (allowed_programs.empty()) return true;
    const auto words = platform::split_command_line(command_line);
    if (!words || words->empty()) return false;
    // Names and paths are compared as written: a listed name never admits a file of that name elsewhere.
    return std::find(allowed_programs.begin(), allowed_programs.end(), words->front()) != allowed_programs.end();
}

std::vector<AllowedNetwork> parse_allowed_networks(std::string_view text, std::vector<std::string>* bad) {
    std::vector<AllowedNetwork> out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find_first_of(", ;\t", pos);
        const std::string_view entry = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        if (entry.empty()) continue;
        const size_t slash = entry.find('/');
        const auto ip = ipv4(entry.substr(0, slash));
        int prefix = 32;
        bool ok = ip.has_value();
        if (ok && slash != std::string_view::npos) {
            const std::string_view p = entry.substr(slash + 1);
            const auto [e, ec] = std::from_chars(p.data(), p.data() + p.size(), prefix);
            ok = ec == std::errc() && e == p.data() + p.size() && prefix >= 0 && prefix <= 32;
        }
        if (ok) out.push_back({*ip, prefix});
        else if (bad) bad->emplace_back(entry);
    }
    return out;
}

void load_security(std::string_view title) {
    const ProgramValues& program = config::program();
    const std::string path = program.registry_base + std::string(title) + "\\Security";
    platform::RegistryHive& hive = platform::registry_hive();
    platform::RegKey key;
    SecuritySettings s;
    // A missing key is the default: everything allowed, as before the key existed.
    if (hive.status() == platform::kRegOk && hive.open_key(program.registry_root, path, key) == platform::kRegOk) {
        const auto text = [&](std::string_view name) {
            std::string value;
            return QueryValueEx(key, name, value) == platform::kRegOk ? value : std::string();
        };
        std::vector<std::string> bad;
        s.allowed_consoles = parse_allowed_networks(text("AllowedConsoles"), &bad);
        for (const std::string& entry : bad) KTR_TRACE("Security: not an address or network: " + diag::escaped(entry));
        s.allow_program_start = truth(text("AllowProgramStart"), true);
        s.allow_power = truth(text("AllowPower"), true);
        s.allow_relays = truth(text("AllowRelays"), true);
        s.allowed_programs = program_list(text("AllowedPrograms"));
        s.listen_address = text("ListenAddress");
        s.max_programs = count_value(text("MaxPrograms"), s.max_programs);
        s.udp_replies_per_second = count_value(text("UdpRateLimit"), s.udp_replies_per_second);
        hive.close_key(key);
    }
    security() = std::move(s);
}

void warn_if_open_to_all() {
    const SecuritySettings& s = security();
    if (!s.any_console() || !s.any_action()) return;
    diag::log_nt_event("Remote actions (program start, power, relays) are accepted from any address. To restrict "
                       "them, set AllowedConsoles (addresses or networks) and AllowProgramStart, AllowPower, "
                       "AllowRelays under " + config::program().registry_base + config::program().title +
                           "\\Security with ktrsvc-reg.",
                       platform::EventType::warning, 0);
}

} // namespace ktr::config
