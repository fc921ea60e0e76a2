// Real and simulated clocks on POSIX.
#include <cerrno>
#include <cmath>
#include <ctime>

#include "platform/clock.h"
#include "platform/pending_error.h"
#include "platform/posix/posix_support.h"
#include "platform/system.h"

namespace ktr::platform {
namespace {

DateParts parts_from_timespec(const timespec& ts, bool local) {
    std::tm tm{};
    const time_t secs = ts.tv_sec;
    if (local)
        localtime_r(&secs, &tm);
    else
        gmtime_r(&secs, &tm);
    DateParts p;
    p.year = tm.tm_year + 1900;
    p.month = tm.tm_mon + 1;
    p.day = tm.tm_mday;
    p.day_of_week = tm.tm_wday;
    p.hour = tm.tm_hour;
    p.minute = tm.tm_min;
    p.second = tm.tm_sec;
    p.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return p;
}

// Seconds since 1970 of a broken-down UTC time.
double utc_seconds(const DateParts& p) { return (parts_to_date(p) - 25569.0) * 86400.0; }

// Seconds since 1970 of a broken-down local time, through the tz database.
bool local_to_timespec(const DateParts& p, timespec& out) {
    std::tm tm{};
    tm.tm_year = p.year - 1900;
    tm.tm_mon = p.month - 1;
    tm.tm_mday = p.day;
    tm.tm_hour = p.hour;
    tm.tm_min = p.minute;
    tm.tm_sec = p.second;
    tm.tm_isdst = -1;
    errno = 0;
    const time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1) && errno != 0) return false;
    out.tv_sec = t;
    out.tv_nsec = static_cast<long>(p.millisecond) * 1000000L;
    return true;
}

timespec utc_to_timespec(const DateParts& p) {
    const double secs = utc_seconds(p);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(std::floor(std::round(secs * 1000.0) / 1000.0));
    ts.tv_nsec = static_cast<long>(p.millisecond) * 1000000L;
    return ts;
}

TimeZoneInfo zone_at(time_t when) {
    std::tm tm{};
    localtime_r(&when, &tm);
    TimeZoneInfo tz;
    // Standard offset: the offset at a moment of the same year without daylight saving, if there is one.
    long gmtoff_now = tm.tm_gmtoff;
    long standard_off = gmtoff_now;
    long daylight_off = gmtoff_now;
    bool has_dst = false;
    std::tm probe{};
    for (int month = 0; month < 12; ++month) {
        std::tm q{};
        q.tm_year = tm.tm_year;
        q.tm_mon = month;
        q.tm_mday = 15;
        q.tm_hour = 12;
        q.tm_isdst = -1;
        time_t t = mktime(&q);
        localtime_r(&t, &probe);
        if (probe.tm_isdst > 0) {
            has_dst = true;
            daylight_off = probe.tm_gmtoff;
        } else {
            standard_off = probe.tm_gmtoff;
        }
    }
    tz.bias = static_cast<int32_t>(-standard_off / 60);
    tz.standard_bias = 0;
    tz.daylight_bias = has_dst ? static_cast<int32_t>(-(daylight_off - standard_off) / 60) : 0;
    tz.standard_name = tzname[0] ? tzname[0] : "";
    tz.daylight_name = tzname[1] ? tzname[1] : "";
    tz.state = !has_dst ? 0 : (tm.tm_isdst > 0 ? 2 : 1);
    return tz;
}

int32_t monotonic_ticks() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const long long ms = static_cast<long long>(ts.tv_sec) * 1000LL + ts.tv_nsec / 1000000L;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(ms)));
}

class RealClock : public Clock {
public:
    DateParts utc_now() override { return parts_from_timespec(now(), false); }
    DateParts local_now() override { return parts_from_timespec(now(), true); }
    bool set_local_time(const DateParts& local) override {
        timespec ts{};
        if (!local_to_timespec(local, ts)) {
            set_pending_error_from_errno(EINVAL);
            return false;
        }
        return apply(ts);
    }
    bool set_system_time(const DateParts& utc) override {
        if (!valid_ymd(utc.year, utc.month, utc.day)) {
            set_pending_error_from_errno(EINVAL);
            return false;
        }
        return apply(utc_to_timespec(utc));
    }
    int32_t tick_count() override { return monotonic_ticks(); }
    TimeZoneInfo time_zone() override { return zone_at(now().tv_sec); }

protected:
    virtual timespec now() {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return ts;
    }
    virtual bool apply(const timespec& ts) {
        if (clock_settime(CLOCK_REALTIME, &ts) != 0) {
            set_pending_error_from_errno(errno);
            return false;
        }
        return true;
    }
};

// The real clock plus an offset held in the process: the module believes it set the clock.
class SimulatedClock : public RealClock {
protected:
    timespec now() override {
        timespec ts = RealClock::now();
        long long ns = static_cast<long long>(ts.tv_nsec) + offset_ns_ % 1000000000LL;
        ts.tv_sec += static_cast<time_t>(offset_ns_ / 1000000000LL + ns / 1000000000LL);
        ns %= 1000000000LL;
        if (ns < 0) {
            ns += 1000000000LL;
            ts.tv_sec -= 1;
        }
        ts.tv_nsec = static_cast<long>(ns);
        return ts;
    }
    bool apply(const timespec& ts) override {
        const timespec real = RealClock::now();
        offset_ns_ = (static_cast<long long>(ts.tv_sec) - real.tv_sec) * 1000000000LL + (ts.tv_nsec - real.tv_nsec);
        return true;
    }

private:
    long long offset_ns_ = 0;
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

double now_local() { return parts_to_date(clock().local_now()); }
double now_utc() { return parts_to_date(clock().utc_now()); }

} // namespace ktr::platform
