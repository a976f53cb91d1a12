#include "hfs/mac_time.h"

#include "platform/platform.h"

uint32_t MacNow() { return UnixToMacDate(UnixNow()); }

int64_t MacDateToUnix(uint32_t macDate) { return LocalWallToUnix(int64_t{macDate} - kMacEpochToUnixEpoch); }

int64_t UnixToMacSeconds(int64_t unixSeconds) { return UnixToLocalWall(unixSeconds) + kMacEpochToUnixEpoch; }

uint32_t UnixToMacDate(int64_t unixSeconds)
{
    const int64_t mac = UnixToMacSeconds(unixSeconds);
    return mac < 0 ? 0 : mac > int64_t{UINT32_MAX} ? UINT32_MAX : static_cast<uint32_t>(mac);
}

MacClockReading MacDateFields(uint32_t macDate)
{
    constexpr int64_t kSecondsPerDay = 86400;
    const int64_t wall = int64_t{macDate} - kMacEpochToUnixEpoch;  // from 1970-01-01 00:00 on the same clock
    const int64_t days = (wall >= 0 ? wall : wall - (kSecondsPerDay - 1)) / kSecondsPerDay;
    const int64_t seconds = wall - days * kSecondsPerDay;
    // The civil date of a day count, in years that start in March so that
    // the leap day ends each one.
    const int64_t shifted = days + 719468;  // days since 0000-03-01; positive for every MacDate
    const int64_t era = shifted / 146097;
    const int64_t dayOfEra = shifted - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const auto month = static_cast<unsigned>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return MacClockReading{yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month,
                           static_cast<unsigned>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1),
                           static_cast<unsigned>(seconds / 3600), static_cast<unsigned>(seconds / 60 % 60),
                           static_cast<unsigned>(seconds % 60)};
}

uint32_t DosTimeFromMac(uint32_t macDate)
{
    // A MacDate is a reading of the local clock already: no zone applies.
    const MacClockReading t = MacDateFields(macDate);
    if (t.year < 1980) return 0;  // a MacDate ends in 2040, well before DOS dates do
    const uint32_t date = static_cast<uint32_t>(((t.year - 1980) << 9) | (t.month << 5) | t.day);
    const uint32_t time = (t.hour << 11) | (t.minute << 5) | (t.second / 2);
    return date << 16 | time;
}
