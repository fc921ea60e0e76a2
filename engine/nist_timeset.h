// The clock engine: one object runs the synchronisations, one at a time. It keeps what the last decode
// read (a later string lacking a field keeps its value) and each run's results; parsing, decoding,
// comparing and setting are the value-taking functions of their own files.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "config/option_values.h"
#include "engine/sync_display.h"
#include "engine/time_compare.h"
#include "engine/time_parsers.h"
#include "platform/date_value.h"

namespace ktr::engine {

// The text shown and logged for a status code.
std::string setting_status_text(int16_t code);
// The run compared the clock with a time it could read (set, in sync, below the minimum, above the
// maximum, dates changed): only such a run counts as a check of the clock.
bool checked_clock(int16_t code);

// Where the bytes of a run come from: a time server's reply, or the console's own request, whose first
// byte is its command letter and no NTP mode.
enum class Sender { TimeServer, Console };

class CNISTtimeset {
public:
    CNISTtimeset() = default;

    // The run's results, read by the window and the records. A run records only what it measured: one that
    // compared nothing leaves the differences at 0.
    int16_t SettingStatus() const { return outcome_.status; }
    int32_t SettingDifferenceSec() const { return outcome_.difference_sec; }
    float SettingDifferenceFrac() const { return outcome_.difference_frac; }
    double NISTCorrDateTime() const { return outcome_.corrected; }
    bool SystemDateChange() const { return outcome_.date_change; }
    const std::string& EntStatus() const { return EntStatus_; }
    // The console's "S" or "F"; the console clears it before each run, so an earlier force forces nothing.
    const std::string& EntCmd() const { return reading_.command; }
    void EntCmd(std::string v) { reading_.command = std::move(v); }
    // The path delay (seconds) added to a precise setting; 0 when not measured.
    float NISTLegTime() const { return NISTLegTime_; }
    void NISTLegTime(float v) { NISTLegTime_ = v; }

    // What the last decode read, and the time zone as last read.
    const ServerReading& reading() const { return reading_; }
    const SystemZone& zone() const { return zone_; }

    // One sync run: decodes the received text (or the bytes of a binary reply) by the configured server
    // format, compares it with the clock, sets the clock when the outcome allows it and reports through
    // displayForm, always ending with its NISTdone. The caller refreshes the time zone first.
    void DataArrived(std::span<const uint8_t> sData, SyncDisplay& displayForm, Sender sender = Sender::TimeServer);
    void DataArrived(std::string_view sData, SyncDisplay& displayForm, Sender sender = Sender::TimeServer) {
        DataArrived(std::span(reinterpret_cast<const uint8_t*>(sData.data()), sData.size()), displayForm, sender);
    }

    // Reads the platform's time-zone information.
    void System_get_timezone() { zone_ = read_system_zone(); }

private:
    // The clock as the SNTP path may have set it directly, before the comparison.
    struct DirectSetting {
        bool done = false;
        int16_t milliseconds = 0;
    };

    void run(std::span<const uint8_t> sData, Sender sender, SyncDisplay& displayForm);
    int16_t decode_and_compare(std::span<const uint8_t> sData, Sender sender,
                               const platform::DateParts& utc_at_arrival, DirectSetting& direct);
    int16_t nist_family(std::string_view text, bool acts);
    int16_t daytime_family(std::string_view text, const std::string& custom_format);
    int16_t sntp(std::span<const uint8_t> payload, Sender sender, const platform::DateParts& utc_at_arrival,
                 DirectSetting& direct);
    int16_t time_protocol(std::span<const uint8_t> payload);
    bool keep(Decoded decoded);
    int16_t keep(const ClockComparison& c);
    void apply_outcome(const DirectSetting& direct, double arrival_local, SyncDisplay& displayForm);
    // Shows and makes the setting; when the SNTP path set the clock already it only shows it.
    void apply_setting(const DirectSetting& direct, double arrival_local, SyncDisplay& displayForm);

    ServerReading reading_;
    SystemZone zone_;
    ClockComparison outcome_;
    std::string EntStatus_;
    float NISTLegTime_ = 0;
};

} // namespace ktr::engine
