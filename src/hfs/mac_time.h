// Mac dates: unsigned seconds from 1904-01-01 00:00 counted on a clock seven
// hours behind UTC. The same constant converts both ways, so a date taken to
// the PC and back is unchanged.
#pragma once
#include <cstdint>

constexpr int64_t kMacDateOffset = 2082819600;  // 1970-01-01 00:00 UTC as a MacDate

uint32_t MacNow();
inline int64_t MacDateToUnix(uint32_t macDate) { return static_cast<int64_t>(macDate) - kMacDateOffset; }
inline uint32_t UnixToMacDate(int64_t unixSeconds) { return static_cast<uint32_t>(unixSeconds + kMacDateOffset); }
