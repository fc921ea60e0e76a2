// What a sync run reports back to the window that started it. The engine knows the window only
// through this interface.
#pragma once

#include <cstdint>

namespace ktr::engine {

class SyncDisplay {
public:
    virtual ~SyncDisplay() = default;
    // The comparison found nothing to correct (or the clocks already agree).
    virtual void DisplayNoChange() = 0;
    // A setting is about to be made from the time noted at arrival (local) to the corrected time. The
    // result is the seconds spent displaying it.
    virtual float DisplaySync(double local_time, double corrected_time) = 0;
    // The same after the clock was already set directly from an SNTP reply: the reply's milliseconds and
    // fraction come too.
    virtual float DisplaySync(int16_t milliseconds, float fraction, double local_time, double corrected_time) = 0;
    // The run is over, whatever its outcome: record and log it.
    virtual void NISTdone() = 0;
};

} // namespace ktr::engine
