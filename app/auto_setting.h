// The sync modes and the accuracy record the Auto mode of the product relies on.
#pragma once

#include <cstdint>

namespace ktr::records {
class CSync;
}

namespace ktr::app {

class CAutoSetting {
public:
    int16_t PreviousSyncAccuracy() const { return PreviousSyncAccuracy_; }
    void PreviousSyncAccuracy(int16_t v) { PreviousSyncAccuracy_ = v; }
    double PreviousSyncTime() const { return PreviousSyncTime_; }
    void PreviousSyncTime(double v) { PreviousSyncTime_ = v; }
    int16_t DesiredAccuracy() const { return DesiredAccuracy_; }
    void DesiredAccuracy(int16_t v) { DesiredAccuracy_ = v; }

    // Keeps a completed synchronisation's time and accuracy in the options (AutoPrevSyncTime,
    // AutoPrevAccuracy rounded halves to even) when its accuracy is above 0; true when it did.
    bool Save_Auto_Settings(records::CSync& this_sync);
    void ClearAutoAttemps();

    // Auto attempts since the last good synchronisation.
    int16_t attempts() const { return attempts_; }
    void count_attempt() { ++attempts_; }

private:
    int16_t attempts_ = 0;
    int16_t PreviousSyncAccuracy_ = 0;
    double PreviousSyncTime_ = 0;
    int16_t DesiredAccuracy_ = 0;
};

// The main window's instance, created on first use.
CAutoSetting& auto_setting();

} // namespace ktr::app
