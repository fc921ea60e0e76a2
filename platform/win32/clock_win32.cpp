// The machine clock on Windows: the system time in file-time ticks, SetSystemTime with its privilege, local
// time by the zone's rules for each year, the zone from GetTimeZoneInformation.
#include <windows.h>

#include "platform/backend.h"
#include "platform/pending_error.h"
#include "platform/win32/win32_support.h"
#include "platform/win32/zone_rules.h"

namespace ktr::platform {
namespace {


constexpr int64_t kTicksPerSecond = 10000000LL;
constexpr int64_t kEpochTicks = 116444736000000000LL;  // 1601-01-01 to 1970-01-01
constexpr int64_t kTicksPerMinute = 60 * kTicksPerSecond;

// A function of kernel32 that older systems lack.
template <typename Fn>
Fn optional_system_function(const char* name) {
    const HMODULE h = GetModuleHandleW(L"kernel32.dll");
    const FARPROC f = h ? GetProcAddress(h, name) : nullptr;
    return f ? reinterpret_cast<Fn>(reinterpret_cast<void*>(f)) : nullptr;
}

using PreciseTimeFn = VOID(WINAPI*)(LPFILETIME);

int64_t ticks_of(const FILETIME& ft) {
    return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

std::optional<int64_t> ticks_of(const SYSTEMTIME& st) {
    FILETIME ft{};
    if (!SystemTimeToFileTime(&st, &ft)) return std::nullopt;
    return ticks_of(ft);
}

std::optional<SYSTEMTIME> system_time_of(int64_t ticks) {
    if (ticks < 0) return std::nullopt;
    const FILETIME ft{static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu),
                      static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32)};
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(&ft, &st)) return std::nullopt;
    return st;
}

// Ticks of a moment; nothing before 1601 or past what 64 bits of ticks hold (about the year 30000).
std::optional<int64_t> ticks_of(const backend::Instant& when) {
    constexpr int64_t kFirst = -kEpochTicks / kTicksPerSecond;
    constexpr int64_t kLast = (INT64_MAX - kEpochTicks) / kTicksPerSecond - 1;
    if (when.seconds < kFirst || when.seconds > kLast) return std::nullopt;
    return when.seconds * kTicksPerSecond + when.nanoseconds / 100 + kEpochTicks;
}

backend::Instant instant_of(int64_t ticks) {
    const int64_t t = ticks - kEpochTicks;
    int64_t seconds = t / kTicksPerSecond;
    int64_t rest = t % kTicksPerSecond;
    if (rest < 0) {
        rest += kTicksPerSecond;
        seconds -= 1;
    }
    return backend::Instant{seconds, rest * 100};
}

// The zone's rules for a year (a zone's rules change over the years). Reading them costs a registry look-up,
// too much for every clock reading, so the rules last read are kept for a second: a change of zone shows
// within that.
const TIME_ZONE_INFORMATION* rules_for_year(WORD year) {
    static TIME_ZONE_INFORMATION rules{};
    static WORD rules_year = 0;
    static DWORD read_at = 0;
    const DWORD now = GetTickCount();
    if (rules_year != year || now - read_at > 1000) {
        DYNAMIC_TIME_ZONE_INFORMATION zone{};
        const bool ok = GetDynamicTimeZoneInformation(&zone) != TIME_ZONE_ID_INVALID &&
                        GetTimeZoneInformationForYear(year, &zone, &rules);
        rules_year = ok ? year : 0;
        read_at = now;
    }
    return rules_year == year ? &rules : nullptr;
}

// The local time of a UTC time by the rules of its year, else by the zone's present rules: what
// SystemTimeToTzSpecificLocalTimeEx does where the system provides it.
std::optional<SYSTEMTIME> local_of(const SYSTEMTIME& utc) {
    SYSTEMTIME local{};
    if (SystemTimeToTzSpecificLocalTime(rules_for_year(utc.wYear), &utc, &local)) return local;
    if (SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return local;
    return std::nullopt;
}

std::optional<int64_t> local_ticks_of(int64_t ticks) {
    const auto utc = system_time_of(ticks);
    if (!utc) return std::nullopt;
    const auto local = local_of(*utc);
    if (!local) return std::nullopt;
    return ticks_of(*local);
}

// Ticks of a local time read as if it were UTC. Parts out of range roll over (hour 24 is the next day's
// midnight), as the C library's mktime does.
int64_t ticks_as_utc(const DateParts& p) {
    static const int64_t first_day = static_cast<int64_t>(date_serial(1601, 1, 1));
    const int64_t days = static_cast<int64_t>(date_serial(p.year, p.month, p.day)) - first_day;
    const int64_t seconds = (static_cast<int64_t>(p.hour) * 60 + p.minute) * 60 + p.second;
    return days * kTicksPerDay + seconds * kTicksPerSecond + static_cast<int64_t>(p.millisecond) * 10000;
}

DateParts parts_of(const SYSTEMTIME& st) {
    DateParts p;
    p.year = st.wYear;
    p.month = st.wMonth;
    p.day_of_week = st.wDayOfWeek;
    p.day = st.wDay;
    p.hour = st.wHour;
    p.minute = st.wMinute;
    p.second = st.wSecond;
    p.millisecond = st.wMilliseconds;
    return p;
}

// UTC parts by the runtime's own calendar, for a moment the system's conversions do not reach (the
// simulated clock can be set to any year from 100 on). Whole days and the time of day apart: the runtime's
// dates before 1899 do not run on a straight line.
DateParts arithmetic_parts(const backend::Instant& when) {
    int64_t days = when.seconds / 86400, second_of_day = when.seconds % 86400;
    if (second_of_day < 0) {
        second_of_day += 86400;
        days -= 1;
    }
    DateParts p = date_to_parts(25569.0 + static_cast<double>(days));
    p.hour = static_cast<int>(second_of_day / 3600);
    p.minute = static_cast<int>(second_of_day / 60 % 60);
    p.second = static_cast<int>(second_of_day % 60);
    p.millisecond = static_cast<int>(when.nanoseconds / 1000000);
    return p;
}

bool enable_privilege(const wchar_t* name) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    const bool ok = LookupPrivilegeValueW(nullptr, name, &tp.Privileges[0].Luid) &&
                    AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) &&
                    ::GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return ok;
}

class WindowsClock : public backend::MachineClock {
public:
    backend::Instant now() override {
        static const auto precise = optional_system_function<PreciseTimeFn>("GetSystemTimePreciseAsFileTime");
        FILETIME ft{};
        if (precise)
            precise(&ft);
        else
            GetSystemTimeAsFileTime(&ft);
        return instant_of(ticks_of(ft));
    }

    bool set(const backend::Instant& when) override {
        // Asked for once: without the privilege the setting below fails and says why.
        static const bool privileged = enable_privilege(SE_SYSTEMTIME_NAME);
        (void)privileged;
        const auto ticks = ticks_of(when);
        const auto st = ticks ? system_time_of(*ticks) : std::nullopt;
        if (!st) {
            backend::set_invalid_argument_error();
            return false;
        }
        if (!SetSystemTime(&*st)) {
            set_pending_error_from_last_error();
            return false;
        }
        return true;
    }

    DateParts parts_at(const backend::Instant& when, bool local) override {
        const auto ticks = ticks_of(when);
        const auto utc = ticks ? system_time_of(*ticks) : std::nullopt;
        if (!utc) return arithmetic_parts(when);
        if (!local) return parts_of(*utc);
        const auto lt = local_of(*utc);
        return parts_of(lt ? *lt : *utc);
    }

    std::optional<backend::Instant> local_moment(const DateParts& local) override {
        const auto moment = moment_of_local(ticks_as_utc(local), local_ticks_of);
        if (!moment) {
            backend::set_invalid_argument_error();
            return std::nullopt;
        }
        return instant_of(*moment);
    }

    TimeZoneInfo zone_at(const backend::Instant& when) override {
        TIME_ZONE_INFORMATION tz{};
        const DWORD id = GetTimeZoneInformation(&tz);
        TimeZoneInfo info;
        if (id == TIME_ZONE_ID_INVALID) return info;
        info.bias = tz.Bias;
        info.standard_bias = tz.StandardBias;
        info.daylight_bias = tz.DaylightBias;
        info.standard_name = to_utf8(tz.StandardName);
        info.daylight_name = to_utf8(tz.DaylightName);
        if (id == TIME_ZONE_ID_UNKNOWN || tz.DaylightBias == tz.StandardBias) return info;
        // Daylight or standard time at the moment asked for, which the simulated clock may put in another
        // season than today's: by the offset in force then.
        info.state = id == TIME_ZONE_ID_DAYLIGHT ? 2 : 1;
        // Whole milliseconds, as local times are: the offset must come out in whole minutes.
        const auto ticks = ticks_of(backend::Instant{when.seconds, when.nanoseconds / 1000000 * 1000000});
        const auto local = ticks ? local_ticks_of(*ticks) : std::nullopt;
        if (local) {
            const int64_t offset_minutes = (*local - *ticks) / kTicksPerMinute;
            info.state = offset_minutes == -(static_cast<int64_t>(tz.Bias) + tz.DaylightBias) ? 2 : 1;
        }
        return info;
    }

    int32_t tick_count() override { return static_cast<int32_t>(GetTickCount()); }
};

} // namespace

std::unique_ptr<backend::MachineClock> backend::make_machine_clock() { return std::make_unique<WindowsClock>(); }

void backend::set_invalid_argument_error() { set_pending_error_from_system(ERROR_INVALID_PARAMETER); }

} // namespace ktr::platform
