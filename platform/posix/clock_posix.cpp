// The machine clock on POSIX: clock_gettime / clock_settime, the time zone from the tz database.
#include <cerrno>
#include <ctime>

#include "platform/backend.h"
#include "platform/pending_error.h"
#include "platform/posix/posix_support.h"

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

TimeZoneInfo time_zone_at(time_t when) {
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

timespec to_timespec(const backend::Instant& when) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(when.seconds);
    ts.tv_nsec = static_cast<long>(when.nanoseconds);
    return ts;
}

class PosixClock : public backend::MachineClock {
public:
    backend::Instant now() override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return backend::Instant{ts.tv_sec, ts.tv_nsec};
    }
    bool set(const backend::Instant& when) override {
        const timespec ts = to_timespec(when);
        if (clock_settime(CLOCK_REALTIME, &ts) != 0) {
            set_pending_error_from_errno(errno);
            return false;
        }
        return true;
    }
    DateParts parts_at(const backend::Instant& when, bool local) override {
        return parts_from_timespec(to_timespec(when), local);
    }
    std::optional<backend::Instant> local_moment(const DateParts& local) override {
        timespec ts{};
        if (!local_to_timespec(local, ts)) {
            set_pending_error_from_errno(EINVAL);
            return std::nullopt;
        }
        return backend::Instant{ts.tv_sec, ts.tv_nsec};
    }
    TimeZoneInfo zone_at(const backend::Instant& when) override { return time_zone_at(when.seconds); }
    int32_t tick_count() override { return monotonic_ticks(); }
};

} // namespace

std::unique_ptr<backend::MachineClock> backend::make_machine_clock() { return std::make_unique<PosixClock>(); }

void backend::set_invalid_argument_error() { set_pending_error_from_errno(EINVAL); }

} // namespace ktr::platform
