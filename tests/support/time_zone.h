// Runs a test in a known time zone. On POSIX the zone is set through TZ for
// the life of the object; on Windows the system's zone cannot be changed from
// a test, so only "UTC0" can be had, and only when the system already runs
// in UTC (the Windows test run sets TZ=UTC for wine).
//
//   ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
//   if (!zone.Active()) GTEST_SKIP() << zone.Why();
#pragma once
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef WriteProfileString
#endif

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
#if defined(_WIN32)
        TIME_ZONE_INFORMATION info;
        DWORD kind = GetTimeZoneInformation(&info);
        bool utc = info.Bias == 0 && (kind == TIME_ZONE_ID_UNKNOWN || (info.StandardBias == 0 && info.DaylightBias == 0));
        active_ = std::strcmp(zone, "UTC0") == 0 && utc;
        why_ = std::string("the system's time zone is not ") + zone;
#else
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
        active_ = true;
#endif
    }
    ~ScopedTimeZone()
    {
#if !defined(_WIN32)
        if (hadOld_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
#endif
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

    bool Active() const { return active_; }
    const std::string& Why() const { return why_; }

private:
    bool active_ = false;
    bool hadOld_ = false;
    std::string old_;
    std::string why_;
};
