// Runs a test in a known time zone, set through TZ for the life of the
// object. Windows' zone cannot be changed from a test: there only "UTC0"
// can be had, when the system already runs in UTC (as wine does with TZ=UTC).
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
    explicit ScopedTimeZone(const char* zone) : why_(std::string("the system's time zone is not ") + zone)
    {
#if defined(_WIN32)
        TIME_ZONE_INFORMATION info;
        const DWORD kind = GetTimeZoneInformation(&info);
        active_ = std::strcmp(zone, "UTC0") == 0 && info.Bias == 0 &&
                  (kind == TIME_ZONE_ID_UNKNOWN || (info.StandardBias == 0 && info.DaylightBias == 0));
#else
        if (const char* old = std::getenv("TZ")) old_ = old;
        hadOld_ = std::getenv("TZ") != nullptr;
        setenv("TZ", zone, 1);
        tzset();
        active_ = true;
#endif
    }
    ~ScopedTimeZone()
    {
#if !defined(_WIN32)
        hadOld_ ? setenv("TZ", old_.c_str(), 1) : unsetenv("TZ");
        tzset();
#endif
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

    bool Active() const { return active_; }
    const std::string& Why() const { return why_; }

private:
    std::string why_;
    std::string old_;
    bool hadOld_ = false;
    bool active_ = false;
};
