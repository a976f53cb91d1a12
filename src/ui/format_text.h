// Sizes and dates as the panes, dialogs and drive names show them.
#pragma once
#include <cstdint>

// The short size form: "   0", "9727", " 10K", "1.4M", " 10M", "1.0G",
// ">4G" for 4294967295. `out` holds at least 8 characters.
void FormatSize(uint32_t bytes, char* out);
// Inserts "," every three digits into a string of at most 11 digits, in place.
void InsertThousands(char* text);

// Packed local DOS date (high 16 bits) and time (low 16 bits); 0 = no date.
// `fileTime` counts 100-nanosecond units since 1601-01-01 UTC. (The same
// from a MacDate, DosTimeFromMac, is with the Mac times in hfs/mac_time.h.)
uint32_t DosTimeFromPc(uint64_t fileTime);

// Time, one space, long date; the returned text lives in one static buffer
// that the next call overwrites.
const char* FormatDosDateTime(uint32_t dosDateTime);
