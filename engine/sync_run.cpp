// One sync run from the received string to its outcome: decoder choice, comparison, setting, and the
// window's callbacks.
#include <string>

#include "config/options.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "engine/custom_format.h"
#include "engine/nist_timeset.h"
#include "engine/time_util.h"
#include "platform/clock.h"
#include "platform/date_parse.h"

namespace ktr::engine {
namespace {

constexpr const char* kDaytimeFormat = "ddd mmm dd Hh:Nn:Ss yyyy";

} // namespace

int16_t CNISTtimeset::decode_and_compare(std::span<const uint8_t> sData, const platform::DateParts& utc_at_arrival,
                                         bool& set_directly, int16_t& milliseconds) {
    const config::COptions& o = config::options();
    const int16_t format = o.ServerFormat();
    const std::string_view text(reinterpret_cast<const char*>(sData.data()), sData.size());
    int16_t status = kStatusSettingMade;

    if (format == 0 || format == 5 || o.ServerConn() == 2) {
        const bool ok = o.ServerConn() == 2 ? ACTS_parse_string(text) : NIST_parse_string(text);
        if (!ok) return kStatusBadString;
        if (!NIST_check_server()) return kStatusServerError;
        NIST_compare_time(status);
        return status;
    }
    if (format == 1) {
        const std::string& custom = o.ServerCustomFormat();
        const bool ok = custom.empty() || custom == kDaytimeFormat
                            ? Daytime_parse_string(text)
                            : Custom_parse_string(text, custom, NISTDate_, NISTTime_);
        if (!ok) return kStatusBadString;
        compare_time(NISTDate_ + " " + NISTTime_, status);
        return status;
    }
    if (format == 2) {
        if (!decode_ntp_reply(sData)) return kStatusBadString;
        if (NISTServerHealth_ != 0) return kStatusServerError;
        if (o.SetMinThreshold() == 0 && o.msecTimeOffset() == 0) {
            const auto received = platform::parse_date(NISTDate_);
            if (!received) return kStatusNotADate;
            const platform::DateParts st = date_to_systemtime(*received, NISTSecFrac_);
            milliseconds = static_cast<int16_t>(st.millisecond);
            const platform::DateParts& now = utc_at_arrival;
            // Within the same minute the reply is applied at once, to the millisecond.
            if (st.year == now.year && st.month == now.month && st.day == now.day && st.hour == now.hour &&
                st.minute == now.minute) {
                if (st.second == now.second && st.millisecond == now.millisecond) {
                    KTR_TRACE("Clocks in sync - no need to set");
                    return kStatusClocksInSync;
                }
                KTR_TRACE("Direct setting of NIST system time");
                set_directly = set_system_time(st);
                if (!set_directly)
                    diag::error_report(diag::Severity::error, "Time setting error - check permissions", "CNISTTimeset", "DataArrived", 70);
            }
        }
        compare_ntp_time(status);
        return status;
    }
    if (format == 3 || format == 4) {
        if (!decode_time_reply(sData)) return kStatusBadString;
        compare_time(NISTDate_, status);
        return status;
    }
    return kStatusUnknownFormat;
}

void CNISTtimeset::DataArrived(std::span<const uint8_t> sData, SyncDisplay& displayForm) {
    bool done_called = false;
    try {
        KTR_TRACE("DATA ARRIVED Event");
        SettingStatus_ = kStatusSettingMade;
        NISTCorrDateTime_ = 0;
        const double arrival_local = platform::now_local();
        const platform::DateParts utc = get_system_time();
        EntStatus_.clear();
        KTR_TRACE("Data Arrived at: " + std::to_string(utc.hour) + ":" + std::to_string(utc.minute) + ":" +
                  std::to_string(utc.second) + "." + std::to_string(utc.millisecond));

        bool set_directly = false;
        int16_t milliseconds = 0;
        SettingStatus_ = decode_and_compare(sData, utc, set_directly, milliseconds);

        const config::COptions& o = config::options();
        switch (SettingStatus_) {
        case kStatusSettingMade:
            if (o.SettingMode() == 0) {
                if (!set_directly) {
                    double when = NISTCorrDateTime_;
                    bool result = false;
                    System_set_time(when, result);
                }
            } else {
                apply_setting(set_directly, arrival_local, milliseconds, displayForm);
            }
            if (SystemDateChange_) {
                double when = NISTCorrDateTime_;
                System_set_date(when);
            }
            break;
        case kStatusDatesChanged: {
            double when = NISTCorrDateTime_;
            System_set_date(when);
            break;
        }
        case kStatusBelowMinimum:
            if (EntCmd_ == "F") {
                apply_setting(set_directly, arrival_local, milliseconds, displayForm);
            } else {
                KTR_TRACE("...No Time difference No time set");
                displayForm.DisplayNoChange();
            }
            break;
        case kStatusClocksInSync:
            KTR_TRACE("...Clocks in sync");
            displayForm.DisplayNoChange();
            break;
        case kStatusServerError: KTR_TRACE("...Error in server"); break;
        case kStatusBadString: KTR_TRACE("...Error in parsing"); break;
        case kStatusConversionError: KTR_TRACE("..Error in time conversion. No time set"); break;
        case kStatusUnknownFormat: KTR_TRACE("..Unknown timeserver format. No time set"); break;
        default:
            KTR_TRACE("..Error " + std::to_string(SettingStatus_) + " in time setting. No time set");
            break;
        }
        KTR_TRACE("DATA ARRIVED DONE");
        done_called = true;
        displayForm.NISTdone();
    } catch (...) {
        diag::error_report(diag::Severity::error, "DataArrived error", "CNISTTimeset", "DataArrived", 0);
        // Records and logs go on after a failed run too.
        if (!done_called) {
            try {
                displayForm.NISTdone();
            } catch (...) {
            }
        }
    }
}

void CNISTtimeset::apply_setting(bool already_set, double arrival_local, int16_t milliseconds,
                                 SyncDisplay& displayForm) {
    if (already_set) {
        displayForm.DisplaySync(milliseconds, NISTSecFrac_, arrival_local, NISTCorrDateTime_);
        return;
    }
    displayForm.DisplaySync(arrival_local, NISTCorrDateTime_);
    double when = NISTCorrDateTime_;
    bool result = false;
    System_set_time(when, result);
}

} // namespace ktr::engine
