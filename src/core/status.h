// The one global status value through which every layer reports failure,
// its messages, and the one report of damage found on a medium.
#pragma once
#include <cstdint>

extern uint32_t StatusCode;

// Codes stored in StatusCode.
enum : uint32_t {
    kStatusOk = 0,
    kStatusDiskFull = 1,
    kStatusNoMemory = 2,
    kStatusReadError = 3,
    kStatusWriteError = 4,
    kStatusReadOnly = 5,
    kStatusBadNode = 6,
    kStatusNoVolume = 7,
    kStatusNameExists = 8,
    kStatusNotSupported = 9,
    kStatusTooManyFiles = 11,
    kStatusCannotCreate = 14,
    kStatusWrongFileType = 16,
    kStatusPcDiskFull = 100,
    kStatusPcOpenError = 101,
    kStatusPcReadError = 102,
    kStatusPcWriteError = 103,
    kStatusPcCreateError = 104,
    kStatusPcDeleteError = 105,
    kStatusCancelled = 120,
};

// The message for a code, written into `out` (at least 96 bytes). Returns
// false for code 120, which is reported silently.
bool StatusMessage(uint32_t code, char* out, unsigned outSize);

// Every structural inconsistency found on a medium goes through here, so one
// breakpoint catches them all. Sets StatusCode 6 (unless a failure is already
// stored). `what` is kept in LastCorruption to say what the damage was; a
// missing record is no damage and is never reported here.
void ReportCorruption(const char* what);
extern const char* LastCorruption;
