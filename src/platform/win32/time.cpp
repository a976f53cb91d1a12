// Time on Windows: the system's zone rules and locale formats.
#include "platform/platform.h"

#include <cstring>
#include <ctime>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "platform/win32/wide.h"

namespace {

constexpr int64_t kUnixEpochFileTime = 116444736000000000LL;

}  // namespace

int64_t UnixNow() { return static_cast<int64_t>(std::time(nullptr)); }

int64_t LocalUtcOffset(int64_t unixSeconds)
{
    // SYSTEMTIME holds the years 1601 to 30827; the zone's rules for the year
    // of the instant apply (FileTimeToLocalFileTime would apply today's).
    if (unixSeconds < -11644473600LL + 86400 || unixSeconds > 900000000000LL) return 0;
    const uint64_t units = static_cast<uint64_t>(unixSeconds * 10000000LL + kUnixEpochFileTime);
    FILETIME utc, local;
    utc.dwLowDateTime = static_cast<DWORD>(units);
    utc.dwHighDateTime = static_cast<DWORD>(units >> 32);
    SYSTEMTIME utcParts, localParts;
    if (!FileTimeToSystemTime(&utc, &utcParts) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &localParts) ||
        !SystemTimeToFileTime(&localParts, &local))
        return 0;
    const uint64_t localUnits = static_cast<uint64_t>(local.dwHighDateTime) << 32 | local.dwLowDateTime;
    return (static_cast<int64_t>(localUnits) - static_cast<int64_t>(units)) / 10000000LL;
}

uint32_t LocalDosDateTime(int64_t unixSeconds)
{
    // Before 1601 or far past 2107 there is no DOS date in any zone.
    if (unixSeconds < -11644473600LL || unixSeconds > 100000000000LL) return 0;
    uint64_t units = static_cast<uint64_t>(unixSeconds * 10000000LL + kUnixEpochFileTime);
    FILETIME utc, local;
    utc.dwLowDateTime = static_cast<DWORD>(units);
    utc.dwHighDateTime = static_cast<DWORD>(units >> 32);
    WORD date = 0, time = 0;
    SYSTEMTIME st;
    // The year is checked here because not every FileTimeToDosDateTime
    // refuses 2108 and later (some wrap the year into 1980).
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st) || st.wYear < 1980 ||
        st.wYear > 2107 || !FileTimeToDosDateTime(&local, &date, &time))
        return 0;
    return (static_cast<uint32_t>(date) << 16) | time;
}

void FormatLocalTimeAndDate(uint32_t dosDateTime, char* out, size_t outSize)
{
    if (outSize == 0) return;
    out[0] = 0;
    int size = outSize > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(outSize);
    // The packed value is local already: no zone conversion on the way back.
    FILETIME when;
    SYSTEMTIME st;
    if (!DosDateTimeToFileTime(static_cast<WORD>(dosDateTime >> 16), static_cast<WORD>(dosDateTime), &when) ||
        !FileTimeToSystemTime(&when, &st))
        return;
    // The locale's texts in UTF-16, kept as Windows-1252 like every text.
    wchar_t timeText[128];
    wchar_t dateText[256];
    if (GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, timeText, 128) == 0) timeText[0] = 0;
    if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, &st, nullptr, dateText, 256) == 0) dateText[0] = 0;
    std::string text = pcname::Ansi(timeText);
    if (text.size() + 1 < static_cast<size_t>(size)) text += ' ' + pcname::Ansi(dateText);
    if (text.size() >= static_cast<size_t>(size)) text.resize(static_cast<size_t>(size) - 1);
    std::memcpy(out, text.c_str(), text.size() + 1);
}
