// The real and the simulated clock over the backend's machine clock, and the choice between them.
#include "platform/clock.h"

#include <cmath>

#include "platform/backend.h"
#include "platform/system.h"

namespace ktr::platform {
namespace {

using backend::Instant;

constexpr int64_t kNanosPerSecond = 1000000000LL;

// The moment of a broken-down UTC time, to the millisecond.
Instant utc_moment(const DateParts& p) {
    const double secs = (parts_to_date(p) - 25569.0) * 86400.0;
    return Instant{static_cast<int64_t>(std::floor(std::round(secs * 1000.0) / 1000.0)),
                   static_cast<int64_t>(p.millisecond) * 1000000LL};
}

class RealClock : public Clock {
public:
    RealClock() : machine_(backend::make_machine_clock()) {}
    DateParts utc_now() override { return machine_->parts_at(now(), false); }
    DateParts local_now() override { return machine_->parts_at(now(), true); }
    bool set_local_time(const DateParts& local) override {
        const auto when = machine_->local_moment(local);
        return when && apply(*when);
    }
    bool set_system_time(const DateParts& utc) override {
        if (!valid_ymd(utc.year, utc.month, utc.day)) {
            backend::set_invalid_argument_error();
            return false;
        }
        return apply(utc_moment(utc));
    }
    int32_t tick_count() override { return machine_->tick_count(); }
    TimeZoneInfo time_zone() override { return machine_->zone_at(now()); }

protected:
    virtual Instant now() { return machine_->now(); }
    virtual bool apply(const Instant& when) { return machine_->set(when); }

    std::unique_ptr<backend::MachineClock> machine_;
};

// The real clock plus an offset held in the process: the module believes it set the clock.
class SimulatedClock : public RealClock {
protected:
    Instant now() override {
        Instant t = RealClock::now();
        int64_t ns = t.nanoseconds + offset_ns_;
        t.seconds += offset_s_ + ns / kNanosPerSecond;
        ns %= kNanosPerSecond;
        if (ns < 0) {
            ns += kNanosPerSecond;
            t.seconds -= 1;
        }
        t.nanoseconds = ns;
        return t;
    }
    bool apply(const Instant& when) override {
        // Seconds and nanoseconds apart: an offset of centuries in nanoseconds alone would overflow.
        const Instant real = RealClock::now();
        offset_s_ = when.seconds - real.seconds;
        offset_ns_ = when.nanoseconds - real.nanoseconds;
        return true;
    }

private:
    int64_t offset_s_ = 0;
    int64_t offset_ns_ = 0;  // within one second either way
};

Clock* g_override = nullptr;

} // namespace

std::unique_ptr<Clock> make_real_clock() { return std::make_unique<RealClock>(); }
std::unique_ptr<Clock> make_simulated_clock() { return std::make_unique<SimulatedClock>(); }

Clock& clock() {
    if (g_override) return *g_override;
    static std::unique_ptr<Clock> chosen = simulating("clock") ? make_simulated_clock() : make_real_clock();
    return *chosen;
}

void set_clock(Clock* c) { g_override = c; }

bool clock_can_hold(double date) {
    constexpr double kFirst = 25569.0;   // 1970-01-01
    constexpr double kEnd = 132220.0;    // 2262-01-01
    return date >= kFirst && date < kEnd;
}

double now_local() { return parts_to_date(clock().local_now()); }
double now_utc() { return parts_to_date(clock().utc_now()); }

} // namespace ktr::platform
