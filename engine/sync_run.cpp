// One sync run from the received string to its outcome: decoder choice, comparison, setting, and the
// window's callbacks.
#include <string>
#include <utility>

#include "config/options.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "engine/clock_text.h"
#include "engine/custom_format.h"
#include "engine/nist_timeset.h"
#include "engine/ntp_codec.h"
#include "engine/set_clock.h"
#include "engine/time_util.h"
#include "platform/clock.h"
#include "platform/date_parse.h"

namespace ktr::engine {
namespace {

constexpr const char* kDaytimeFormat = "ddd mmm dd Hh:Nn:Ss yyyy";

// Runs the action when the scope ends, however it ends.
template <class Action> class ScopeExit {
public:
    explicit ScopeExit(Action action) : action_(std::move(action)) {}
    ~ScopeExit() { action_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Action action_;
};

// A failure in the run is reported; it never reaches the socket handler that started the run.
template <class Step> void reporting_failure(Step step) {
    try {
        step();
    } catch (...) {
        diag::error_report(diag::Severity::error, "DataArrived error", "CNISTTimeset", "DataArrived", 0);
    }
}

} // namespace

void CNISTtimeset::DataArrived(std::span<const uint8_t> sData, SyncDisplay& displayForm, Sender sender) {
    // The window records and logs every run, a failed one too.
    const ScopeExit done([&displayForm] { reporting_failure([&displayForm] { displayForm.NISTdone(); }); });
    reporting_failure([&] {
        run(sData, sender, displayForm);
        KTR_TRACE("DATA ARRIVED DONE");
    });
}

void CNISTtimeset::run(std::span<const uint8_t> sData, Sender sender, SyncDisplay& displayForm) {
    KTR_TRACE("DATA ARRIVED Event");
    outcome_ = {};
    const double arrival_local = platform::now_local();
    const platform::DateParts utc = get_system_time();
    EntStatus_.clear();
    KTR_TRACE("Data Arrived at: " + bare_time_text(utc));
    DirectSetting direct;
    outcome_.status = decode_and_compare(sData, sender, utc, direct);
    apply_outcome(direct, arrival_local, displayForm);
}

int16_t CNISTtimeset::decode_and_compare(std::span<const uint8_t> sData, Sender sender,
                                         const platform::DateParts& utc_at_arrival, DirectSetting& direct) {
    const config::COptions& o = config::options();
    const int16_t format = o.ServerFormat();
    const std::string_view text(reinterpret_cast<const char*>(sData.data()), sData.size());
    const bool acts = o.ServerConn() == config::kConnDirectDial;
    if (format == config::kServerNist || format == config::kServerNistAlt || acts) return nist_family(text, acts);
    if (format == config::kServerDaytime) return daytime_family(text, o.ServerCustomFormat());
    if (format == config::kServerSntp) return sntp(sData, sender, utc_at_arrival, direct);
    if (format == config::kServerTime || format == config::kServerTimeAlt) return time_protocol(sData);
    return config::kStatusUnknownFormat;
}

int16_t CNISTtimeset::nist_family(std::string_view text, bool acts) {
    if (!keep(acts ? ACTS_parse_string(text, reading_) : NIST_parse_string(text, reading_))) return config::kStatusBadString;
    if (!reading_.server_ok()) return config::kStatusServerError;
    return keep(NIST_compare_time(reading_, zone_));
}

int16_t CNISTtimeset::daytime_family(std::string_view text, const std::string& custom_format) {
    Decoded decoded;
    if (custom_format.empty() || custom_format == kDaytimeFormat) {
        decoded = Daytime_parse_string(text, reading_);
    } else {
        decoded.reading = reading_;
        decoded.ok = Custom_parse_string(text, custom_format, decoded.reading.date, decoded.reading.time);
    }
    if (!keep(std::move(decoded))) return config::kStatusBadString;
    return keep(compare_time(reading_.date + " " + reading_.time, zone_));
}

int16_t CNISTtimeset::sntp(std::span<const uint8_t> payload, Sender sender,
                           const platform::DateParts& utc_at_arrival, DirectSetting& direct) {
    const auto reply = decode_ntp_reply(payload);
    if (!reply) return config::kStatusBadString;
    reading_.date = reply->date;
    reading_.fraction = reply->fraction;
    // The console's request starts with its command letter ("S" reads as the client mode): only a time
    // server's reply is judged by its mode.
    reading_.health = (sender == Sender::Console || check_ntp_mode(payload[0])) ? 0 : 3;
    if (reading_.health != 0) return config::kStatusServerError;
    const config::COptions& o = config::options();
    if (o.SetMinThreshold() == 0 && o.msecTimeOffset() == 0) {
        const auto received = platform::parse_date(reading_.date);
        if (!received) return config::kStatusNotADate;
        const platform::DateParts st = date_to_systemtime(*received, reading_.fraction);
        direct.milliseconds = static_cast<int16_t>(st.millisecond);
        const platform::DateParts& now = utc_at_arrival;
        // Within the same minute the reply is applied at once, to the millisecond.
        if (st.year == now.year && st.month == now.month && st.day == now.day && st.hour == now.hour &&
            st.minute == now.minute) {
            if (st.second == now.second && st.millisecond == now.millisecond) {
                KTR_TRACE("Clocks in sync - no need to set");
                return config::kStatusClocksInSync;
            }
            KTR_TRACE("Direct setting of NIST system time");
            direct.done = set_system_time(st);
            if (!direct.done)
                diag::error_report(diag::Severity::error, "Time setting error - check permissions", "CNISTTimeset", "DataArrived", 70);
        }
    }
    return keep(compare_ntp_time(reading_, zone_));
}

int16_t CNISTtimeset::time_protocol(std::span<const uint8_t> payload) {
    auto date = decode_time_reply(payload);
    if (!date) return config::kStatusBadString;
    reading_.date = std::move(*date);
    return keep(compare_time(reading_.date, zone_));
}

bool CNISTtimeset::keep(Decoded decoded) {
    reading_ = std::move(decoded.reading);
    return decoded.ok;
}

int16_t CNISTtimeset::keep(const ClockComparison& c) {
    outcome_ = c;
    return c.status;
}

void CNISTtimeset::apply_outcome(const DirectSetting& direct, double arrival_local, SyncDisplay& displayForm) {
    switch (outcome_.status) {
    case config::kStatusSettingMade:
        if (config::options().SettingMode() != config::kModeBatch) apply_setting(direct, arrival_local, displayForm);
        else if (!direct.done) System_set_time(outcome_.corrected, reading_.fraction, NISTLegTime_);
        if (outcome_.date_change) System_set_date(outcome_.corrected);
        break;
    case config::kStatusDatesChanged: System_set_date(outcome_.corrected); break;
    case config::kStatusBelowMinimum:
        if (reading_.command == "F") {
            apply_setting(direct, arrival_local, displayForm);
        } else {
            KTR_TRACE("...No Time difference No time set");
            displayForm.DisplayNoChange();
        }
        break;
    case config::kStatusClocksInSync:
        KTR_TRACE("...Clocks in sync");
        displayForm.DisplayNoChange();
        break;
    case config::kStatusServerError: KTR_TRACE("...Error in server"); break;
    case config::kStatusBadString: KTR_TRACE("...Error in parsing"); break;
    case config::kStatusConversionError: KTR_TRACE("..Error in time conversion. No time set"); break;
    case config::kStatusUnknownFormat: KTR_TRACE("..Unknown timeserver format. No time set"); break;
    default:
        KTR_TRACE("..Error " + std::to_string(outcome_.status) + " in time setting. No time set");
        break;
    }
}

void CNISTtimeset::apply_setting(const DirectSetting& direct, double arrival_local, SyncDisplay& displayForm) {
    if (direct.done) {
        displayForm.DisplaySync(direct.milliseconds, reading_.fraction, arrival_local, outcome_.corrected);
        return;
    }
    displayForm.DisplaySync(arrival_local, outcome_.corrected);
    System_set_time(outcome_.corrected, reading_.fraction, NISTLegTime_);
}

} // namespace ktr::engine
