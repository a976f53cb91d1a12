// The system calls behind the Windows device layers (diskettes, CD-ROM
// letters, physical drives), reached through one table of pointers. The
// Windows build points them at the real calls; elsewhere every open fails,
// so those drives are never found. Tests put simulated devices behind them.
// Names, numbers and meanings are the Windows ones.
#pragma once
#include <cstdint>

using DeviceHandle = intptr_t;
constexpr DeviceHandle kNoDevice = -1;  // INVALID_HANDLE_VALUE

enum : uint32_t {
    kDeviceRead = 0x80000000u,   // GENERIC_READ
    kDeviceWrite = 0x40000000u,  // GENERIC_WRITE
    kShareRead = 1,              // FILE_SHARE_READ
    kShareWrite = 2,             // FILE_SHARE_WRITE
    kOpenExisting = 3,           // OPEN_EXISTING
    kOpenAlways = 4,             // OPEN_ALWAYS
    kAttributeNormal = 0x80,     // FILE_ATTRIBUTE_NORMAL
    kFromStart = 0,              // FILE_BEGIN
    kFromEnd = 2,                // FILE_END
    kBadPosition = 0xFFFFFFFFu,  // INVALID_SET_FILE_POINTER
    kErrorNotSupported = 50,     // ERROR_NOT_SUPPORTED
};

struct DeviceCallTable {
    DeviceHandle (*CreateFile)(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                               uint32_t flags);
    bool (*CloseHandle)(DeviceHandle device);
    bool (*DeviceIoControl)(DeviceHandle device, uint32_t code, void* in, uint32_t inSize, void* out,
                            uint32_t outSize, uint32_t* returned);
    // The new position (its low 32 bits), or kBadPosition.
    uint32_t (*SetFilePointer)(DeviceHandle device, int32_t distance, uint32_t method);
    bool (*ReadFile)(DeviceHandle device, void* buffer, uint32_t bytes, uint32_t* moved);
    bool (*WriteFile)(DeviceHandle device, const void* buffer, uint32_t bytes, uint32_t* moved);
    // The kind of the logical drive at `root` ("D:\"), numbered as the
    // platform's kDrive... kinds.
    uint32_t (*GetDriveType)(const char* root);
    uint32_t (*GetLastError)();
};

extern DeviceCallTable DeviceCalls;
// The system's own calls (on systems without these devices, calls that find
// no device). ResetDiskState puts them back.
DeviceCallTable SystemDeviceCalls();
