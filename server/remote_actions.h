// The console's remote actions: log off or shut down the machine, wake another machine on the network,
// start a program.
#pragma once

#include <cstdint>
#include <string>

#include "platform/wol.h"

namespace ktr::server {

class RemoteActions {
public:
    // Wires the wake-on-LAN control's two events to their traces.
    RemoteActions();
    RemoteActions(const RemoteActions&) = delete;
    RemoteActions& operator=(const RemoteActions&) = delete;

    // Carries out the request text of a "C" command ("C+Windows ...", "C+WOL-...", "C+<command line>").
    // Sets the status text; the result is the response text to show: "" when the action was ordered,
    // "OK" or "Error" for wake-on-LAN, "Error" when the request could not be handled, "Shell Error" when
    // the program cannot be started. The console is always answered "OK-C".
    std::string do_command(const std::string& request, std::string& status);

    // Sends the magic packet for the MAC address. Status text := "WOL: ". "OK", or "Error" when the
    // control fails.
    std::string do_WOL(const std::string& broadcast, const std::string& local, const std::string& mac,
                       std::string& status);

    // The wake-on-LAN control and its event handlers.
    platform::WakeOnLan& ctlUltraWOL1() { return wol_; }
    void ctlUltraWOL1_Sent(const std::string& text, const std::string& mac, const std::string& broadcast,
                           const std::string& local);
    void ctlUltraWOL1_Error(const std::string& text);

private:
    platform::WakeOnLan wol_;
};

// Log off or shut down with the given flags (1 shut down, 2 reboot, 4 forced, 8 power off; 0 log off).
// False when the platform refuses.
bool Exit_Windows(int32_t flags);
// 1 on the NT family, 0 on Windows 95/98/Me.
int16_t is_windows_nt();
// Enables the process's right to shut the machine down; failing steps are only traced.
void enable_shutdown_privilege();

} // namespace ktr::server
