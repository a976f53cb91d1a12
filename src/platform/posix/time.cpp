// Time on POSIX: the C runtime's zone rules (TZ) through localtime_r, and the
// C library's locale for the time of day.
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Day of the week (0 = Sunday) of a proleptic Gregorian date.
int WeekDay(int y, int m, int d)
{
    static const int kOffsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3) y -= 1;
    return (y + y / 4 - y / 100 + y / 400 + kOffsets[m - 1] + d) % 7;
}

// Offsets by the hour of the instant, for the zone TZ named when they were
// taken: a listing converts many dates close together, and each localtime_r
// searches the zone's transitions. A change of TZ (tests make them) empties
// it and has the C library read the new zone.
struct OffsetCache {
    bool filled = false;
    bool zoneSet = false;
    std::string zone;
    struct Slot {
        bool used;
        int64_t hour;
        int64_t offset;
    } slots[256];
};
OffsetCache Offsets;

void FollowZone()
{
    const char* tz = std::getenv("TZ");
    if (Offsets.filled && Offsets.zoneSet == (tz != nullptr) && (tz == nullptr || Offsets.zone == tz)) return;
    tzset();
    Offsets.filled = true;
    Offsets.zoneSet = tz != nullptr;
    Offsets.zone = tz ? tz : "";
    for (auto& slot : Offsets.slots) slot.used = false;
}

// localtime_r fails once the year leaves an int; stay far inside that.
constexpr int64_t kLimit = int64_t{1} << 50;

bool OffsetAt(int64_t unixSeconds, int64_t* offset)
{
    const time_t t = static_cast<time_t>(unixSeconds);
    struct tm local;
    if (localtime_r(&t, &local) == nullptr) return false;
    *offset = local.tm_gmtoff;
    return true;
}

}  // namespace

int64_t UnixNow() { return static_cast<int64_t>(std::time(nullptr)); }

int64_t LocalUtcOffset(int64_t unixSeconds)
{
    if (unixSeconds < -kLimit || unixSeconds > kLimit) return 0;
    FollowZone();
    const int64_t hour = unixSeconds >= 0 ? unixSeconds / 3600 : -((-unixSeconds + 3599) / 3600);
    OffsetCache::Slot& slot = Offsets.slots[static_cast<uint64_t>(hour) % 256];
    if (slot.used && slot.hour == hour) return slot.offset;
    int64_t offset = 0;
    if (!OffsetAt(unixSeconds, &offset)) return 0;
    // Kept only when the whole hour has one offset (zones change on the hour
    // or half hour, and never twice within one).
    int64_t first = 0, last = 0;
    if (OffsetAt(hour * 3600, &first) && OffsetAt(hour * 3600 + 3599, &last) && first == last)
        slot = {true, hour, first};
    return offset;
}

uint32_t LocalDosDateTime(int64_t unixSeconds)
{
    time_t t = static_cast<time_t>(unixSeconds);
    struct tm local;
    if (localtime_r(&t, &local) == nullptr) return 0;
    int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107) return 0;
    int seconds = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second
    uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    uint32_t time = static_cast<uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (seconds / 2));
    return (date << 16) | time;
}

void FormatLocalTimeAndDate(uint32_t dosDateTime, char* out, size_t outSize)
{
    if (outSize == 0) return;
    out[0] = 0;
    int year = 1980 + static_cast<int>(dosDateTime >> 25);
    int month = static_cast<int>((dosDateTime >> 21) & 15);
    int day = static_cast<int>((dosDateTime >> 16) & 31);
    int hour = static_cast<int>((dosDateTime >> 11) & 31);
    int minute = static_cast<int>((dosDateTime >> 5) & 63);
    int second = static_cast<int>(dosDateTime & 31) * 2;
    // A packed value that names no real moment has no text.
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59)
        return;

    struct tm when{};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    when.tm_wday = WeekDay(year, month, day);
    when.tm_isdst = -1;

    // The C library writes in the locale's encoding (UTF-8 or plain ASCII);
    // the program's texts are Windows-1252.
    char native[300], names[100];
    if (std::strftime(names, sizeof names, "%A, %B", &when) == 0) names[0] = 0;
    size_t used = std::strftime(native, sizeof native, "%X", &when);
    // The time, one space, and the long date: weekday, month name, day and year.
    std::snprintf(native + used, sizeof native - used, " %s %d, %d", names, day, year);
    NativeToAnsi(native, out, outSize);
}
