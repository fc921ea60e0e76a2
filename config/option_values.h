// Named values of the options that choose a behaviour, and the status codes of a clock setting. The
// options keep them as the 16-bit numbers they are stored as, so a number without a name here still
// reads and writes back unchanged.
#pragma once

#include <cstdint>

namespace ktr::config {

// SettingMode: how the product sets the clock.
enum SettingModeValue : int16_t {
    kModeBatch = 0,   // start-up runs once mode and the process ends
    kModeOnce = 1,
    kModeManual = 2,  // the first-run default
    kModeTimed = 3,
    kModeAuto = 4,
    kModeDaily = 5,
};

// ServerFormat: what the time source sends.
enum ServerFormatValue : int16_t {
    kServerNist = 0,        // NIST daytime strings (also the console's own forms)
    kServerDaytime = 1,     // daytime with the weekday first, or the custom layout
    kServerSntp = 2,
    kServerTime = 3,        // the Time protocol
    kServerTimeAlt = 4,
    kServerNistAlt = 5,
};

// ClientFormat: the module's protocol towards the console (and its clients).
enum ClientFormatValue : int16_t {
    kClientNist = 0,    // TCP text requests
    kClientNtp = 1,     // a time server's clients that are never read
    kClientSntp = 2,    // UDP datagrams
    kClientUdpAlt = 4,  // also UDP
};

// ServerConn: how the time source is reached.
enum ServerConnValue : int16_t {
    kConnNetwork = 0,
    kConnDirectDial = 2,  // the ACTS layout of a dial-up line
};

// LoggingMode: where sync records go (any other value: nowhere).
enum LogModeValue : int16_t {
    kLogToFile = 1,
    kLogToPrinter = 2,
};

// SettingStatus: the outcome of one run of the clock engine.
enum SettingStatusValue : int16_t {
    kStatusSettingMade = 0,
    kStatusNotADate = 1,
    kStatusTimeZoneError = 2,
    kStatusDatesChanged = 3,
    kStatusAboveMaximum = 4,
    kStatusBelowMinimum = 5,
    kStatusTimecheckOK = 7,
    kStatusConversionError = 9,
    kStatusClocksInSync = 15,
    kStatusUnknownFormat = 99,
    kStatusServerError = 100,
    kStatusBadString = 200,
};

// Whether the protocol option means UDP (every other value means TCP).
inline bool udp_protocol(int16_t client_format) { return client_format == kClientSntp || client_format == kClientUdpAlt; }

} // namespace ktr::config
