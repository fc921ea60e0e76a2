// The clock engine: one object holds a synchronisation run's state, parses the time strings of the
// servers and of the console, decodes NTP timestamps, compares the server's time with the system clock
// and sets the clock.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ktr::engine {

// Status codes of a run (SettingStatus).
inline constexpr int16_t kStatusSettingMade = 0;
inline constexpr int16_t kStatusNotADate = 1;
inline constexpr int16_t kStatusTimeZoneError = 2;
inline constexpr int16_t kStatusDatesChanged = 3;
inline constexpr int16_t kStatusAboveMaximum = 4;
inline constexpr int16_t kStatusBelowMinimum = 5;
inline constexpr int16_t kStatusTimecheckOK = 7;
inline constexpr int16_t kStatusConversionError = 9;
inline constexpr int16_t kStatusClocksInSync = 15;
inline constexpr int16_t kStatusUnknownFormat = 99;
inline constexpr int16_t kStatusServerError = 100;
inline constexpr int16_t kStatusBadString = 200;

// The text shown and logged for a status code.
std::string setting_status_text(int16_t code);

class CNISTtimeset {
public:
    CNISTtimeset() = default;

    int32_t SystemDSTrtn() const { return SystemDSTrtn_; }
    void SystemDSTrtn(int32_t v) { SystemDSTrtn_ = v; }
    bool SystemDateChange() const { return SystemDateChange_; }
    void SystemDateChange(bool v) { SystemDateChange_ = v; }
    int32_t SettingDifferenceSec() const { return SettingDifferenceSec_; }
    void SettingDifferenceSec(int32_t v) { SettingDifferenceSec_ = v; }
    const std::string& EntCmd() const { return EntCmd_; }
    void EntCmd(std::string v) { EntCmd_ = std::move(v); }
    const std::string& EntStatus() const { return EntStatus_; }
    void EntStatus(std::string v) { EntStatus_ = std::move(v); }
    int16_t SettingStatus() const { return SettingStatus_; }
    void SettingStatus(int16_t v) { SettingStatus_ = v; }
    float SettingDifferenceFrac() const { return SettingDifferenceFrac_; }
    void SettingDifferenceFrac(float v) { SettingDifferenceFrac_ = v; }

    // A healthy server whose advance is at most one second.
    bool NIST_check_server() const { return NISTServerHealth_ == 0 && NISTAdvance_ <= 1000.0f; }

    float NISTAdvance() const { return NISTAdvance_; }
    void NISTAdvance(float v) { NISTAdvance_ = v; }
    double NISTCorrDateTime() const { return NISTCorrDateTime_; }
    void NISTCorrDateTime(double v) { NISTCorrDateTime_ = v; }
    float NISTSecFrac() const { return NISTSecFrac_; }
    void NISTSecFrac(float v) { NISTSecFrac_ = v; }
    float NISTLegTime() const { return NISTLegTime_; }
    void NISTLegTime(float v) { NISTLegTime_ = v; }
    int32_t NISTJulianDays() const { return NISTJulianDays_; }
    void NISTJulianDays(int32_t v) { NISTJulianDays_ = v; }
    int16_t SystemTZbias() const { return SystemTZbias_; }
    void SystemTZbias(int16_t v) { SystemTZbias_ = v; }
    int16_t SystemTZDSTbias() const { return SystemTZDSTbias_; }
    void SystemTZDSTbias(int16_t v) { SystemTZDSTbias_ = v; }
    const std::string& NISTTime() const { return NISTTime_; }
    int16_t NISTServerHealth() const { return NISTServerHealth_; }
    void NISTServerHealth(int16_t v) { NISTServerHealth_ = v; }
    const std::string& NISTMisc() const { return NISTMisc_; }
    void NISTMisc(std::string v) { NISTMisc_ = std::move(v); }
    int16_t NISTLeapSecFlag() const { return NISTLeapSecFlag_; }
    void NISTLeapSecFlag(int16_t v) { NISTLeapSecFlag_ = v; }
    int16_t NISTDST() const { return NISTDST_; }
    void NISTDST(int16_t v) { NISTDST_ = v; }
    const std::string& NISTDate() const { return NISTDate_; }
    void NISTDate(std::string v) { NISTDate_ = std::move(v); }

    // Reads the platform's time-zone information into SystemTZbias, SystemTZDSTbias and SystemDSTrtn.
    void System_get_timezone();
    // Sets the time of day (with the fraction and the leg delay); the result is the platform's flag.
    void System_set_time(double& dNewTime, bool& result);
    // Sets the calendar date of dNewTime, keeping the time of day.
    void System_set_date(double& dNewTime);
    // Compares NISTDate/NISTTime (UTC) with the system clock; writes the status.
    void NIST_compare_time(int16_t& status);

    // Parsers: true when the string was accepted; missing fields leave their properties unchanged.
    bool NIST_parse_string(std::string_view sNIST);
    bool ACTS_parse_string(std::string_view sNIST);
    bool Daytime_parse_string(std::string_view sDaytime);

    // Seconds since 1900 (four bytes, most significant first) to a date value, and back.
    static double byte_to_date(std::span<const uint8_t> bytes);
    static std::array<uint8_t, 4> date_to_byte(double date);
    // The top 16 bits of an NTP fraction (first two bytes) as a fraction of a second.
    static float byte_to_frac(std::span<const uint8_t> bytes);

    // Compares the server's date and time text with the system clock (daytime, custom, Time protocol).
    void compare_time(std::string_view server_date_time, int16_t& status);
    // Sets hour, minute and second of dNewTime plus the fraction (seconds) through the local clock.
    void SetLocalTimeAPI(double dNewTime, float fraction, bool& result);

private:
    friend struct CNISTtimesetAccess;  // tests and fuzz targets reach the private decoders through it

    bool decode_ntp_reply(std::span<const uint8_t> payload);
    static bool check_ntp_mode(uint8_t mode_byte);
    static float ntp_fraction(std::span<const uint8_t> payload);
    bool decode_time_reply(std::span<const uint8_t> payload);
    static bool check_reply_date(double date);
    void compare_ntp_time(int16_t& status);

    struct CompareVariant;
    int16_t compare_on_skeleton(const CompareVariant& variant, std::string_view server_text);

    int32_t SystemDSTrtn_ = 0;
    bool SystemDateChange_ = false;
    int32_t SettingDifferenceSec_ = 0;
    std::string EntCmd_;
    std::string EntStatus_;
    int16_t SettingStatus_ = 0;
    float SettingDifferenceFrac_ = 0;
    float NISTAdvance_ = 0;
    double NISTCorrDateTime_ = 0;
    float NISTSecFrac_ = 0;
    float NISTLegTime_ = 0;
    int32_t NISTJulianDays_ = 0;
    int16_t SystemTZbias_ = 0;
    int16_t SystemTZDSTbias_ = 0;
    std::string NISTTime_;
    int16_t NISTServerHealth_ = 0;
    std::string NISTMisc_;
    int16_t NISTLeapSecFlag_ = 0;
    int16_t NISTDST_ = 0;
    std::string NISTDate_;
};

} // namespace ktr::engine
