// Diskettes, CD-ROM drive letters and physical drives through the Windows
// raw devices (calls in disk/device_calls.h), and their drive operations.
// Every call opens the device, does its one job and closes it again.
//
// Sector transfers return the sectors moved, or -1 the device cannot be
// opened, -2 it cannot be locked, -3 positioning failed (a byte position of
// 2 GiB or more is refused before anything moves: the system takes a signed
// 32-bit distance), -4 the read or write failed or moved nothing. The VWIN32
// transfers return the count asked for, or 0.
#pragma once
#include <cstdint>

#include "disk/device_calls.h"

struct DriveEntry;

enum : uint32_t {
    kLockVolume = 0x90018,            // FSCTL_LOCK_VOLUME
    kUnlockVolume = 0x9001C,          // FSCTL_UNLOCK_VOLUME
    kGetMediaTypes = 0x70C00,         // IOCTL_DISK_GET_MEDIA_TYPES
    kGetDriveGeometry = 0x70000,      // IOCTL_DISK_GET_DRIVE_GEOMETRY
    kGetLengthInfo = 0x7405C,         // IOCTL_DISK_GET_LENGTH_INFO
    kGetCdromGeometry = 0x2404C,      // IOCTL_CDROM_GET_DRIVE_GEOMETRY
    kVwin32DosIoctl = 1,              // VWIN32_DIOC_DOS_IOCTL
    kVwin32AbsoluteRead = 2,          // VWIN32_DIOC_DOS_INT25
    kVwin32AbsoluteWrite = 3,         // VWIN32_DIOC_DOS_INT26
};

// DISK_GEOMETRY, 24 bytes, little-endian: cylinders (u64, only the low 32
// bits used), media type, tracks per cylinder, sectors per track, bytes per
// sector (u32 each).
constexpr uint32_t kGeometrySize = 24;
enum : uint32_t { kMediaFloppy144 = 2, kMediaRemovable = 11, kMediaFixed = 12 };

// DIOC_REGISTERS: the register packet of the VWIN32 calls (28 bytes).
struct Vwin32Registers {
    uint32_t ebx, edx, ecx, eax, edi, esi, flags;  // flags bit 0: carry, set when the DOS call failed
};
static_assert(sizeof(Vwin32Registers) == 28);
// The device-parameter block of the get-device-parameters call, and the
// absolute-disk packet of the INT 25h/26h calls (first sector u32, count
// u16, buffer address u32, packed), whose addresses the register packet
// carries as 32-bit values.
extern uint8_t Vwin32DeviceParameters[32];
extern uint8_t Vwin32DiskPacket[10];

// Whether the system is of the NT family: the others set the high bit of
// the version word. The diskette path and the discovery steps follow it.
bool IsWindowsNt();

// Diskettes: unit 0 = A:, 1 = B:.
bool FloppyPresentNt(uint32_t unit);
bool FloppyPresentVwin32(uint32_t unit);
int32_t FloppyReadNt(uint8_t* buffer, uint32_t count, uint32_t first, uint32_t unit);
int32_t FloppyWriteNt(const uint8_t* buffer, uint32_t count, uint32_t first, uint32_t unit);
int32_t FloppyReadVwin32(uint8_t* buffer, uint32_t count, uint32_t first, uint32_t unit);
int32_t FloppyWriteVwin32(const uint8_t* buffer, uint32_t count, uint32_t first, uint32_t unit);

// CD-ROM drive letters: index 0 = A to 25 = Z.
bool CdromPresent(uint32_t index);
int32_t CdromReadSectors(uint8_t* buffer, uint32_t count, uint32_t first, uint32_t blocksPerSector, uint32_t index);
uint32_t CdromSectorSize(uint32_t index);

// Physical drives 0 to 25. The kind is 0 none, 1 fixed, 2 removable; the
// capacity (cylinders x heads x sectors x bytes, in 64 bits) is stored when
// the kind is not 0.
constexpr int kPhysicalFixed = 1;
constexpr int kPhysicalRemovable = 2;
int PhysicalDriveKind(uint32_t number, uint64_t* capacity);
int32_t PhysicalReadSectors(uint8_t* buffer, uint32_t count, uint32_t first, uint32_t blocksPerSector,
                            uint32_t number);
int32_t PhysicalWriteSectors(const uint8_t* buffer, uint32_t count, uint32_t first, uint32_t blocksPerSector,
                             uint32_t number);
uint32_t PhysicalSectorSize(uint32_t number);
// The exact length in bytes, where the system tells it; 0 otherwise.
uint64_t PhysicalDriveLength(uint32_t number);

bool LockVolume(DeviceHandle device);
bool UnlockVolume(DeviceHandle device);

// The drive operations (512-byte blocks, StatusCode 3 or 4 on failure).
// Diskettes take the NT path unless WindowsVersion has its high bit set.
int32_t FloppyReadBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry);
int32_t FloppyWriteBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry);
int32_t CdromReadBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry);
int32_t PhysicalReadBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry);
int32_t PhysicalWriteBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry);
