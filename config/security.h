// Who may give the module orders: a key of its own beside "Options" ("...\Ktrsvc\Security"), read at
// start and whenever the options are read again. A missing key or value keeps today's behaviour: every
// address may give every order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ktr::config {

// One allowed IPv4 network: an address with a prefix length (32 for a single address).
struct AllowedNetwork {
    uint32_t address = 0;
    int prefix = 32;
    bool operator==(const AllowedNetwork&) const = default;
};

struct SecuritySettings {
    // "AllowedConsoles": addresses and networks (a.b.c.d or a.b.c.d/n), separated by commas or blanks.
    // Empty: any address.
    std::vector<AllowedNetwork> allowed_consoles;
    bool allow_program_start = true;  // "AllowProgramStart"
    bool allow_power = true;          // "AllowPower": log off, shut down, reboot, power off, wake-on-LAN
    bool allow_relays = true;         // "AllowRelays"
    // "AllowedPrograms": the programs "C+" may start, separated by semicolons. A name without a folder
    // allows that name looked up in the search path; a path allows exactly that file. Empty: any program.
    std::vector<std::string> allowed_programs;
    std::string listen_address;          // "ListenAddress": the local IPv4 address served; empty: all
    int32_t max_programs = 16;           // "MaxPrograms": started programs alive at once
    int32_t udp_replies_per_second = 0;  // "UdpRateLimit": replies per second to one address; 0: no limit

    // Whether a console at this address may be served.
    bool console_allowed(std::string_view address) const;
    // Whether the command line's program (its first word) may be started.
    bool program_allowed(std::string_view command_line) const;
    bool any_console() const { return allowed_consoles.empty(); }
    bool any_action() const { return allow_program_start || allow_power || allow_relays; }
};

SecuritySettings& security();

// The list's entries; entries that are no address are skipped (and named in bad).
std::vector<AllowedNetwork> parse_allowed_networks(std::string_view text, std::vector<std::string>* bad = nullptr);

// Reads the key "<registry base><title>\Security"; a value that is missing keeps its default.
void load_security(std::string_view title);

// At start: when remote actions are allowed from any address, one warning in the system log saying so
// and how to restrict it.
void warn_if_open_to_all();

} // namespace ktr::config
