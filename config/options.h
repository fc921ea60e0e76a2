// The option set: one typed property per configuration key, with its default.
#pragma once

#include <cstdint>
#include <string>

#include "config/option_values.h"

namespace ktr::config {

enum class OptionType { Integer, Long, Boolean, Date, String };

template <OptionType T> struct OptionCpp;
template <> struct OptionCpp<OptionType::Integer> { using type = int16_t; };
template <> struct OptionCpp<OptionType::Long> { using type = int32_t; };
template <> struct OptionCpp<OptionType::Boolean> { using type = bool; };
template <> struct OptionCpp<OptionType::Date> { using type = double; };
template <> struct OptionCpp<OptionType::String> { using type = std::string; };

// Every option in the class interface's order: X(type, property name, registry value name).
#define KTR_OPTIONS(X)                                            \
    X(String, EmailOptions, "EmailOptions")                       \
    X(String, LoggingSyslogServ, "LoggingSyslogServ")             \
    X(Boolean, LoggingSyslogOn, "LoggingSyslogOn")                \
    X(Boolean, SyncWarnEmail, "SyncWarnEmail")                    \
    X(Integer, ClientKeyType, "ClientKeyType")                    \
    X(String, ClientStart, "ClientStart")                         \
    X(String, ControlFunction, "ControlFunction")                 \
    X(Long, ControlMode, "ControlMode")                           \
    X(Boolean, DisplayControlPanel, "DisplayControlPanel")        \
    X(Boolean, DisplayClientTree, "DisplayClientTree")            \
    X(Boolean, DisplayGraphData, "DisplayGraphData")              \
    X(Boolean, GraphAutoSelect, "GraphAutoSelect")                \
    X(String, ControlFuncArgs, "ControlFuncArgs")                 \
    X(String, LoggingActionFile, "LoggingActionFile")             \
    X(String, ClientFileName, "ClientFileName")                   \
    X(String, GraphClientOpts, "GraphClientOpts")                 \
    X(String, ScheduleFileName, "ScheduleFileName")               \
    X(Integer, TCPPort, "TCPPort")                                \
    X(Integer, ServerConn, "ServerConn")                          \
    X(Boolean, DisplayNISTTime, "DisplayNISTTime")                \
    X(Integer, ServerPort, "ServerPort")                          \
    X(String, ServerCustomFormat, "ServerCustomFormat")           \
    X(String, DomainName, "DomainName")                           \
    X(Boolean, GraphHistIgnore0, "GraphHistIgnore0")              \
    X(Integer, ServerFormat, "ServerFormat")                      \
    X(Integer, ClientFormat, "ClientFormat")                      \
    X(String, ServerTZDiff, "ServerTZDiff")                       \
    X(String, Servername, "ServerName")                           \
    X(Integer, ServerType, "ServerType")                          \
    X(Boolean, DisplayCliDelInactives, "DisplayCliDelInactives")  \
    X(String, LocalHost, "LocalHost")                             \
    X(Boolean, SystemStartup, "SystemStartup")                    \
    X(Integer, LocalPort, "LocalPort")                            \
    X(Boolean, LoggingMaxSecOn, "LoggingMaxSecOn")                \
    X(Boolean, GraphHistOn, "GraphHistOn")                        \
    X(Long, AutoPrevDifference, "AutoPrevDifference")             \
    X(Boolean, DisplayCliSaveActives, "DisplayCliSaveActives")    \
    X(Boolean, DisplayCliValidate, "DisplayCliValidate")          \
    X(Boolean, DisplayTips, "DisplayTips")                        \
    X(Date, SyncNextTime, "SyncNextTime")                         \
    X(Integer, SettingMode, "SettingMode")                        \
    X(String, LoggingFileName, "LoggingFileName")                 \
    X(String, LoggingEvntFileName, "LoggingEvntFileName")         \
    X(Boolean, Changed, "Changed")                                \
    X(Boolean, GraphDifferenceOn, "GraphDifferenceOn")            \
    X(Boolean, GraphDriftOn, "GraphDriftOn")                      \
    X(Boolean, GraphOn, "GraphOn")                                \
    X(Integer, SetMinThresholdDrift, "SetMinThresholdDrift")      \
    X(Long, SetMaxThreshold, "SetMaxThreshold")                   \
    X(Long, SetMinThreshold, "SetMinThreshold")                   \
    X(Boolean, SyncWarning, "SyncWarning")                        \
    X(Boolean, SetOnceExit, "SetOnceExit")                        \
    X(Integer, AutoUncertainty, "AutoUncertainty")                \
    X(Long, AutoPrevAccuracy, "AutoPrevAccuracy")                 \
    X(Date, AutoPrevSyncTime, "AutoPrevSyncTime")                 \
    X(Date, LastSyncTime, "LastSyncTime")                         \
    X(Integer, AutoDesiredAccuracy, "AutoDesiredAccuracy")        \
    X(Integer, SyncDataPoints, "SyncDataPoints")                  \
    X(Integer, LoggingMode, "LoggingMode")                        \
    X(Boolean, LoggingOn, "LoggingOn")                            \
    X(Boolean, LoggingFileOn, "LoggingFileOn")                    \
    X(Boolean, LoggingEvntOn, "LoggingEvntOn")                    \
    X(Boolean, LoggingNTEvntOn, "LoggingNTEvntOn")                \
    X(Boolean, LoggingSyncStartOn, "LoggingSyncStartOn")          \
    X(Boolean, LoggingSyncDoneOn, "LoggingSyncDoneOn")            \
    X(Boolean, LoggingConnFailOn, "LoggingConnFailOn")            \
    X(Boolean, LoggingCliEvntOn, "LoggingCliEvntOn")              \
    X(Boolean, DisplayCliViewAll, "DisplayCliViewAll")            \
    X(Integer, LoggingMaxSec, "LoggingMaxSec")                    \
    X(Long, TimedInterval, "TimedInterval")                       \
    X(Long, msecTimeOffset, "msecTimeOffset")                     \
    X(String, NISTServer, "NISTServer")                           \
    X(Long, SyncWarningInterval, "SyncWarningInterval")           \
    X(Integer, X10ComPort, "X10ComPort")

// The options the whole-object copies carry, in their order (all but Changed, LoggingSyncStartOn and
// GraphDriftOn).
#define KTR_COPIED_OPTIONS(X)                                                                                \
    X(NISTServer) X(TimedInterval) X(SyncWarning) X(SyncWarningInterval) X(msecTimeOffset) X(LoggingOn)      \
    X(LoggingFileOn) X(LoggingEvntOn) X(LoggingNTEvntOn) X(LoggingSyncDoneOn) X(LoggingConnFailOn)           \
    X(LoggingCliEvntOn) X(DisplayCliViewAll) X(LoggingMaxSec) X(LoggingMode) X(SyncDataPoints)               \
    X(AutoDesiredAccuracy) X(AutoPrevSyncTime) X(AutoPrevAccuracy) X(AutoPrevDifference) X(AutoUncertainty) \
    X(LastSyncTime) X(SetMinThreshold) X(SetMaxThreshold) X(SetMinThresholdDrift) X(SetOnceExit) X(GraphOn) \
    X(GraphDifferenceOn) X(LoggingFileName) X(LoggingEvntFileName) X(SettingMode) X(SyncNextTime)          \
    X(DisplayTips) X(DisplayCliValidate) X(DisplayCliSaveActives) X(DisplayCliDelInactives) X(GraphHistOn)  \
    X(LoggingMaxSecOn) X(LocalPort) X(SystemStartup) X(LocalHost) X(ServerFormat) X(ClientFormat)           \
    X(Servername) X(ServerType) X(ServerTZDiff) X(GraphHistIgnore0) X(ServerConn) X(DisplayNISTTime)        \
    X(ServerPort) X(ServerCustomFormat) X(DomainName) X(LoggingSyslogOn) X(LoggingSyslogServ) X(EmailOptions) \
    X(SyncWarnEmail) X(TCPPort) X(ControlFuncArgs) X(ScheduleFileName) X(ClientStart) X(ControlFunction)    \
    X(ControlMode) X(DisplayClientTree) X(DisplayControlPanel) X(DisplayGraphData) X(GraphAutoSelect)       \
    X(LoggingActionFile) X(ClientFileName) X(GraphClientOpts) X(X10ComPort)

// What Update_Auto_Settings takes from the last valid setting.
struct AutoSettingSource {
    double SyncLocalTime = 0;
    float SyncAccuracy = 0;
    int32_t SyncDifferenceSec = 0;
};

class COptions {
public:
    // Creation zeroes every field (numbers 0, Booleans false, strings empty, dates zero).
    COptions() = default;

#define KTR_OPTION_PROPERTY(kind, name, reg)                                                        \
    const OptionCpp<OptionType::kind>::type& name() const { return name##_; }                    \
    void name(OptionCpp<OptionType::kind>::type value) { name##_ = std::move(value); }
    KTR_OPTIONS(KTR_OPTION_PROPERTY)
#undef KTR_OPTION_PROPERTY

    // Assigns each copied option to the destination's property of the same name, in the listed order.
    template <class Dest> void Copy_Object_to(Dest& destination) const {
#define KTR_COPY_TO(name) destination.name(name());
        KTR_COPIED_OPTIONS(KTR_COPY_TO)
#undef KTR_COPY_TO
    }
    // Reads each copied option from the source's property of the same name, in the listed order.
    template <class Source> void Copy_Object_in(const Source& source) {
#define KTR_COPY_IN(name) name(source.name());
        KTR_COPIED_OPTIONS(KTR_COPY_IN)
#undef KTR_COPY_IN
    }

    // Keeps the result of the last valid setting for the Auto mode.
    void Update_Auto_Settings(const AutoSettingSource& sync);

private:
#define KTR_OPTION_FIELD(kind, name, reg) OptionCpp<OptionType::kind>::type name##_{};
    KTR_OPTIONS(KTR_OPTION_FIELD)
#undef KTR_OPTION_FIELD
};

// The program-wide instance, created on first use.
COptions& options();

// Gives every option that has a default its default value (on the given set; the program-wide one by
// default). File-name defaults are the program folder (its case kept: file systems here are
// case-sensitive) + the lower-case file name.
void set_option_defaults(COptions& target);
inline void set_option_defaults() { set_option_defaults(options()); }

} // namespace ktr::config
