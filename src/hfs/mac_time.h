// Mac dates: unsigned seconds since 1904-01-01 00:00 on the local clock, as
// Mac OS keeps them (a wall-clock reading with no zone). They become PC
// times through the PC's time zone, so a date taken to the PC and back is
// unchanged, except in the hour a fall-back repeats.
#pragma once
#include <cstdint>

constexpr int64_t kMacEpochToUnixEpoch = 2082844800;  // seconds from 1904-01-01 to 1970-01-01

uint32_t MacNow();
// Seconds since 1970-01-01 00:00 UTC of the instant the local clock showed.
int64_t MacDateToUnix(uint32_t macDate);
// The local clock's reading at an instant, counted from 1904; it may lie
// outside the 32 bits of a MacDate.
int64_t UnixToMacSeconds(int64_t unixSeconds);
// The same held to the MacDate range (0 to 2040-02-06 06:28:15).
uint32_t UnixToMacDate(int64_t unixSeconds);

// A MacDate taken apart as the clock reading it is; no zone applies.
struct MacClockReading {
    int64_t year;
    unsigned month, day, hour, minute, second;
};
MacClockReading MacDateFields(uint32_t macDate);

// The MacDate as a packed DOS date (high 16 bits) and time (low 16 bits), the
// form the panes sort and show; 0 before 1980.
uint32_t DosTimeFromMac(uint32_t macDate);
