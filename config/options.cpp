#include "config/options.h"

#include "platform/clock.h"
#include "platform/convert.h"
#include "platform/files.h"
#include "platform/system.h"

namespace ktr::config {

COptions& options() {
    static COptions instance;
    return instance;
}

void COptions::Update_Auto_Settings(const AutoSettingSource& sync) {
    AutoPrevSyncTime(sync.SyncLocalTime);
    // Halves go to the even neighbour, as the runtime's 32-bit conversion rounds.
    AutoPrevAccuracy(platform::to_int32(sync.SyncAccuracy).value_or(0));
    AutoPrevDifference(sync.SyncDifferenceSec);
}

void set_option_defaults(COptions& o) {
    const std::string folder = platform::program_folder();
    const bool nt = platform::os_family() == "Windows NT";
    const double yesterday = platform::now_local() - 1.0;

    o.SettingMode(kModeManual);
    o.SetOnceExit(false);
    o.NISTServer("<activated>");
    o.TimedInterval(3600);
    o.LastSyncTime(yesterday);
    o.msecTimeOffset(0);
    o.SetMaxThreshold(86400);
    o.SetMinThreshold(300);
    o.SetMinThresholdDrift(2);
    o.ServerType(0);
    o.Servername("");
    o.ServerPort(1001);
    o.ServerConn(kConnNetwork);
    o.ServerFormat(kServerNist);
    o.ClientFormat(kClientNist);
    o.ServerTZDiff("");
    o.ServerCustomFormat("ddd mmm dd Hh:Nn:Ss yyyy");
    o.LocalHost("");
    o.LocalPort(0);
    o.TCPPort(1001);
    o.DomainName("");
    o.LoggingOn(true);
    o.LoggingMode(kLogToFile);
    o.LoggingFileOn(true);
    o.LoggingFileName(platform::join_path(folder, "logfile.txt"));
    o.LoggingEvntOn(false);
    o.LoggingEvntFileName(platform::join_path(folder, "evntfile.txt"));
    o.LoggingNTEvntOn(false);
    o.LoggingSyncStartOn(false);
    o.LoggingSyncDoneOn(true);
    o.LoggingConnFailOn(true);
    o.LoggingCliEvntOn(true);
    o.LoggingMaxSecOn(true);
    o.LoggingMaxSec(30);
    o.LoggingActionFile(platform::join_path(folder, "eventlog.txt"));
    o.LoggingSyslogOn(false);
    o.LoggingSyslogServ("");
    o.SyncWarning(false);
    o.SyncWarningInterval(86400);
    o.SyncWarnEmail(false);
    o.EmailOptions("");
    o.AutoDesiredAccuracy(60);
    o.AutoUncertainty(90);
    o.AutoPrevAccuracy(60);
    o.AutoPrevSyncTime(yesterday);
    o.AutoPrevDifference(0);
    o.GraphOn(true);
    o.GraphDriftOn(false);
    o.GraphDifferenceOn(false);
    o.GraphHistOn(false);
    o.GraphHistIgnore0(true);
    o.SyncDataPoints(10);
    o.GraphClientOpts("0");
    o.GraphAutoSelect(true);
    o.DisplayNISTTime(false);
    o.DisplayTips(false);
    o.DisplayCliViewAll(nt);
    o.DisplayCliSaveActives(true);
    o.DisplayCliValidate(false);
    o.DisplayCliDelInactives(false);
    o.DisplayControlPanel(true);
    o.DisplayClientTree(true);
    o.DisplayGraphData(false);
    o.ControlMode(2);
    o.ControlFunction(nt ? "T" : "P");
    o.ControlFuncArgs("");
    o.ClientStart("<all>");
    o.ClientKeyType(0);
    o.ClientFileName(platform::join_path(folder, "clientlist.txt"));
    o.ScheduleFileName(platform::join_path(folder, "events.txt"));
    o.SystemStartup(false);
}

} // namespace ktr::config
