#include "disk/windows_devices.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "core/prefs.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "platform/platform.h"

uint8_t Vwin32DeviceParameters[32];
uint8_t Vwin32DiskPacket[10];

namespace {

enum : int32_t { kCannotOpen = -1, kCannotLock = -2, kCannotPosition = -3, kCannotTransfer = -4 };

// Positions are a signed 32-bit distance from the start: 2 GiB and beyond
// cannot be reached.
constexpr uint64_t kPositionLimit = uint64_t{1} << 31;
constexpr uint32_t kMediaTypesRoom = 20 * kGeometrySize;
constexpr uint32_t kDisketteBytes = 1474560;
constexpr uint32_t kCarry = 1;

// Geometry fields, by byte offset.
constexpr uint32_t kGeoCylinders = 0, kGeoMediaType = 8, kGeoTracks = 12, kGeoSectors = 16, kGeoBytes = 20;
// Device-parameter block: cylinders at 4; sectors per track at 20 (inside
// the BIOS parameter block that starts at 7).
constexpr uint32_t kParamCylinders = 4, kParamSectorsPerTrack = 20;

uint32_t LeU32(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t LeU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void PutLe(uint8_t* p, uint32_t value, unsigned bytes)
{
    for (unsigned i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The 32-bit address the VWIN32 packets carry (the whole address on the
// systems that have VWIN32).
uint32_t Address32(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

DeviceHandle Open(const char* name, uint32_t access, uint32_t share, uint32_t disposition, uint32_t flags = 0)
{
    return DeviceCalls.CreateFile(name, access, share, disposition, flags);
}

void DisketteName(uint32_t unit, char* out) { std::snprintf(out, 8, "\\\\.\\%c:", unit == 0 ? 'a' : 'b'); }
void CdromName(uint32_t index, char* out) { std::snprintf(out, 8, "\\\\.\\%c:", static_cast<char>('A' + index % 26)); }
void PhysicalName(uint32_t number, char* out) { std::snprintf(out, 32, "\\\\.\\PhysicalDrive%u", number); }

// One geometry record from a device-control call; false when it fails or
// returns less than a record.
// Opens the device for reading (shared), asks one control code for `size`
// bytes of answer and closes it again; false unless the whole answer came.
bool QueryDevice(const char* name, uint32_t code, uint8_t* answer, uint32_t size)
{
    std::memset(answer, 0, size);
    const DeviceHandle device = Open(name, kDeviceRead, kShareRead | kShareWrite, kOpenExisting);
    if (device == kNoDevice) return false;
    uint32_t returned = 0;
    const bool ok = DeviceCalls.DeviceIoControl(device, code, nullptr, 0, answer, size, &returned) && returned >= size;
    DeviceCalls.CloseHandle(device);
    return ok;
}

uint64_t SaturatingProduct(std::initializer_list<uint64_t> factors)
{
    uint64_t product = 1;
    for (uint64_t f : factors) {
        if (f != 0 && product > UINT64_MAX / f) return UINT64_MAX;
        product *= f;
    }
    return product;
}

// Positions the open device at `position` and moves `bytes`; the sectors of
// `sectorBytes` moved, or -3 / -4.
int32_t PositionAndMove(DeviceHandle device, uint64_t position, uint8_t* buffer, uint64_t bytes, uint32_t sectorBytes,
                        bool write)
{
    if (position >= kPositionLimit) return kCannotPosition;  // refused before the system is asked
    if (DeviceCalls.SetFilePointer(device, static_cast<int32_t>(position), kFromStart) != position)
        return kCannotPosition;
    if (bytes == 0 || bytes >= kPositionLimit) return kCannotTransfer;
    uint32_t moved = 0;
    const bool ok = write ? DeviceCalls.WriteFile(device, buffer, static_cast<uint32_t>(bytes), &moved)
                          : DeviceCalls.ReadFile(device, buffer, static_cast<uint32_t>(bytes), &moved);
    if (!ok || moved == 0) return kCannotTransfer;
    if (moved > bytes) moved = static_cast<uint32_t>(bytes);  // a device claiming more is not believed
    return static_cast<int32_t>(moved / sectorBytes);
}

// Open, lock (when asked), position, move, unlock, close.
int32_t Transfer(const char* name, uint32_t access, uint32_t share, bool lock, uint64_t position, uint8_t* buffer,
                 uint64_t bytes, uint32_t sectorBytes, bool write)
{
    const DeviceHandle device = Open(name, access, share, kOpenExisting);
    if (device == kNoDevice) return kCannotOpen;
    if (lock && !LockVolume(device)) {
        DeviceCalls.CloseHandle(device);
        return kCannotLock;
    }
    const int32_t result = PositionAndMove(device, position, buffer, bytes, sectorBytes, write);
    if (lock) UnlockVolume(device);
    DeviceCalls.CloseHandle(device);
    return result;
}

int32_t Vwin32Call(uint32_t code, Vwin32Registers& registers)
{
    const DeviceHandle device = Open("\\\\.\\vwin32", kDeviceRead, kShareRead | kShareWrite, kOpenExisting,
                                     kAttributeNormal);
    if (device == kNoDevice) return -1;
    uint32_t returned = 0;
    const bool ok = DeviceCalls.DeviceIoControl(device, code, &registers, sizeof registers, &registers,
                                                sizeof registers, &returned);
    DeviceCalls.CloseHandle(device);
    return ok && (registers.flags & kCarry) == 0 ? 0 : -1;
}

int32_t FloppyVwin32Transfer(uint32_t code, const uint8_t* buffer, uint32_t count, uint32_t first, uint32_t unit)
{
    PutLe(Vwin32DiskPacket, first, 4);
    PutLe(Vwin32DiskPacket + 4, count, 2);
    PutLe(Vwin32DiskPacket + 6, Address32(buffer), 4);
    Vwin32Registers registers{};
    registers.eax = unit;
    registers.ebx = Address32(Vwin32DiskPacket);
    registers.ecx = 0xFFFF;  // the packet form of the call
    registers.flags = kCarry;
    return Vwin32Call(code, registers) == 0 ? static_cast<int32_t>(count) : 0;
}

// The device layers in the form the block mapping calls them.
int32_t CdromDeviceRead(uint8_t* buffer, uint32_t count, uint32_t first, const DriveEntry* entry)
{
    return CdromReadSectors(buffer, count, first, entry->BlocksPerSector, entry->Unit);
}
int32_t PhysicalDeviceRead(uint8_t* buffer, uint32_t count, uint32_t first, const DriveEntry* entry)
{
    return PhysicalReadSectors(buffer, count, first, entry->BlocksPerSector, entry->Unit);
}
int32_t PhysicalDeviceWrite(uint8_t* buffer, uint32_t count, uint32_t first, const DriveEntry* entry)
{
    return PhysicalWriteSectors(buffer, count, first, entry->BlocksPerSector, entry->Unit);
}

}  // namespace

bool IsWindowsNt() { return (WindowsVersion & 0x80000000u) == 0; }

bool LockVolume(DeviceHandle device)
{
    uint32_t returned = 0;
    return DeviceCalls.DeviceIoControl(device, kLockVolume, nullptr, 0, nullptr, 0, &returned);
}

bool UnlockVolume(DeviceHandle device)
{
    uint32_t returned = 0;
    return DeviceCalls.DeviceIoControl(device, kUnlockVolume, nullptr, 0, nullptr, 0, &returned);
}

bool FloppyPresentNt(uint32_t unit)
{
    char name[8];
    DisketteName(unit, name);
    const DeviceHandle device = Open(name, 0, kShareRead, kOpenAlways);
    if (device == kNoDevice) return false;
    static uint8_t types[kMediaTypesRoom];
    uint32_t returned = 0;
    const bool asked = DeviceCalls.DeviceIoControl(device, kGetMediaTypes, nullptr, 0, types, sizeof types, &returned);
    const uint32_t error = asked ? 0 : DeviceCalls.GetLastError();
    DeviceCalls.CloseHandle(device);
    if (asked) {
        if (returned > sizeof types) returned = sizeof types;
        bool known = false;
        for (uint32_t at = 0; at + kGeometrySize <= returned; at += kGeometrySize) {
            const uint32_t media = LeU32(types + at + kGeoMediaType);
            if (media == kMediaFloppy144) return true;
            known = known || media != 0;
        }
        if (known) return false;
    } else if (error != kErrorNotSupported) {
        return false;
    }
    // A drive letter mapped to an image file (as Wine does) knows no media
    // types: the call fails as not supported, or lists only unknown media.
    // A removable drive whose device reads and holds exactly 1.44 MB is then
    // taken for a high-density diskette.
    const char root[4] = {static_cast<char>(unit == 0 ? 'A' : 'B'), ':', '\\', 0};
    if (DeviceCalls.GetDriveType(root) != kDriveRemovable) return false;
    const DeviceHandle readable = Open(name, kDeviceRead, kShareRead | kShareWrite, kOpenExisting);
    if (readable == kNoDevice) return false;
    const uint32_t size = DeviceCalls.SetFilePointer(readable, 0, kFromEnd);
    DeviceCalls.CloseHandle(readable);
    return size == kDisketteBytes;
}

int32_t FloppyReadNt(uint8_t* buffer, uint32_t count, uint32_t first, uint32_t unit)
{
    char name[8];
    DisketteName(unit, name);
    return Transfer(name, kDeviceRead, 0, true, uint64_t{first} * kBlockSize, buffer, uint64_t{count} * kBlockSize,
                    kBlockSize, false);
}

int32_t FloppyWriteNt(const uint8_t* buffer, uint32_t count, uint32_t first, uint32_t unit)
{
    char name[8];
    DisketteName(unit, name);
    // The system's write call only reads the buffer.
    return Transfer(name, kDeviceRead | kDeviceWrite, 0, true, uint64_t{first} * kBlockSize,
                    const_cast<uint8_t*>(buffer), uint64_t{count} * kBlockSize, kBlockSize, true);
}

bool FloppyPresentVwin32(uint32_t unit)
{
    // The first byte (special functions) stays zero: the drive's default
    // parameters, not those of the medium in it.
    std::memset(Vwin32DeviceParameters, 0, sizeof Vwin32DeviceParameters);
    Vwin32Registers registers{};
    registers.eax = 0x440D;  // DOS IOCTL, generic block device request
    registers.ebx = unit + 1;  // 1 = A:
    registers.ecx = 0x0860;  // disk category, get device parameters
    registers.edx = Address32(Vwin32DeviceParameters);
    registers.flags = kCarry;
    if (Vwin32Call(kVwin32DosIoctl, registers) != 0) return false;
    return LeU16(Vwin32DeviceParameters + kParamSectorsPerTrack) >= 18 &&
           LeU16(Vwin32DeviceParameters + kParamCylinders) >= 80;
}

int32_t FloppyReadVwin32(uint8_t* buffer, uint32_t count, uint32_t first, uint32_t unit)
{
    return FloppyVwin32Transfer(kVwin32AbsoluteRead, buffer, count, first, unit);
}

int32_t FloppyWriteVwin32(const uint8_t* buffer, uint32_t count, uint32_t first, uint32_t unit)
{
    return FloppyVwin32Transfer(kVwin32AbsoluteWrite, buffer, count, first, unit);
}

bool CdromPresent(uint32_t index)
{
    char root[4];
    std::snprintf(root, sizeof root, "%c:", static_cast<char>('A' + index % 26));
    return DeviceCalls.GetDriveType(root) == kDriveCdrom;
}

int32_t CdromReadSectors(uint8_t* buffer, uint32_t count, uint32_t first, uint32_t blocksPerSector, uint32_t index)
{
    if (blocksPerSector == 0) return kCannotPosition;
    char name[8];
    CdromName(index, name);
    const uint32_t sectorBytes = blocksPerSector * kBlockSize;
    return Transfer(name, kDeviceRead, kShareRead | kShareWrite, false, uint64_t{first} * sectorBytes, buffer,
                    uint64_t{count} * sectorBytes, sectorBytes, false);
}

uint32_t CdromSectorSize(uint32_t index)
{
    char name[8];
    CdromName(index, name);
    uint8_t geometry[kGeometrySize];
    return QueryDevice(name, kGetCdromGeometry, geometry, kGeometrySize) ? LeU32(geometry + kGeoBytes) : 0;
}

int PhysicalDriveKind(uint32_t number, uint64_t* capacity)
{
    char name[32];
    PhysicalName(number, name);
    uint8_t geometry[kGeometrySize];
    if (!QueryDevice(name, kGetDriveGeometry, geometry, kGeometrySize)) return 0;
    const uint32_t media = LeU32(geometry + kGeoMediaType);
    const int kind = media == kMediaFixed ? kPhysicalFixed : media == kMediaRemovable ? kPhysicalRemovable : 0;
    // In 64 bits: a drive of 4 GiB or more must not wrap to a small size.
    if (kind != 0 && capacity != nullptr)
        *capacity = SaturatingProduct({LeU32(geometry + kGeoCylinders), LeU32(geometry + kGeoTracks),
                                       LeU32(geometry + kGeoSectors), LeU32(geometry + kGeoBytes)});
    return kind;
}

int32_t PhysicalReadSectors(uint8_t* buffer, uint32_t count, uint32_t first, uint32_t blocksPerSector,
                            uint32_t number)
{
    if (blocksPerSector == 0) return kCannotPosition;
    char name[32];
    PhysicalName(number, name);
    const uint32_t sectorBytes = blocksPerSector * kBlockSize;
    return Transfer(name, kDeviceRead, kShareRead | kShareWrite, true, uint64_t{first} * sectorBytes, buffer,
                    uint64_t{count} * sectorBytes, sectorBytes, false);
}

int32_t PhysicalWriteSectors(const uint8_t* buffer, uint32_t count, uint32_t first, uint32_t blocksPerSector,
                             uint32_t number)
{
    if (blocksPerSector == 0) return kCannotPosition;
    char name[32];
    PhysicalName(number, name);
    const uint32_t sectorBytes = blocksPerSector * kBlockSize;
    return Transfer(name, kDeviceWrite, kShareRead | kShareWrite, true, uint64_t{first} * sectorBytes,
                    const_cast<uint8_t*>(buffer), uint64_t{count} * sectorBytes, sectorBytes, true);
}

uint32_t PhysicalSectorSize(uint32_t number)
{
    char name[32];
    PhysicalName(number, name);
    uint8_t geometry[kGeometrySize];
    return QueryDevice(name, kGetDriveGeometry, geometry, kGeometrySize) ? LeU32(geometry + kGeoBytes) : 0;
}

uint64_t PhysicalDriveLength(uint32_t number)
{
    char name[32];
    PhysicalName(number, name);
    uint8_t length[8];
    if (!QueryDevice(name, kGetLengthInfo, length, sizeof length)) return 0;
    return uint64_t{LeU32(length)} | uint64_t{LeU32(length + 4)} << 32;
}

int32_t FloppyReadBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry)
{
    if (count == 0) return 0;
    uint32_t n = count;
    if (n > kSectorBufferSize / kBlockSize) n = kSectorBufferSize / kBlockSize;
    const int32_t r = IsWindowsNt() ? FloppyReadNt(SectorBuffer, n, first, entry->Unit)
                                    : FloppyReadVwin32(SectorBuffer, n, first, entry->Unit);
    if (r <= 0) {
        StatusCode = kStatusReadError;
        return 0;
    }
    const uint32_t got = static_cast<uint32_t>(r) < n ? static_cast<uint32_t>(r) : n;
    std::memcpy(buffer, SectorBuffer, size_t{got} * kBlockSize);
    return static_cast<int32_t>(got);
}

int32_t FloppyWriteBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry)
{
    if (count == 0) return 0;
    uint32_t n = count;
    if (n > kSectorBufferSize / kBlockSize) n = kSectorBufferSize / kBlockSize;
    std::memcpy(SectorBuffer, buffer, size_t{n} * kBlockSize);
    const int32_t w = IsWindowsNt() ? FloppyWriteNt(SectorBuffer, n, first, entry->Unit)
                                    : FloppyWriteVwin32(SectorBuffer, n, first, entry->Unit);
    if (w <= 0) {
        StatusCode = kStatusWriteError;
        return 0;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(w) < n ? static_cast<uint32_t>(w) : n);
}

int32_t CdromReadBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry)
{
    return MappedReadBlocks(buffer, count, first, entry, CdromDeviceRead);
}

int32_t PhysicalReadBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry)
{
    return MappedReadBlocks(buffer, count, first, entry, PhysicalDeviceRead);
}

int32_t PhysicalWriteBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry)
{
    return MappedWriteBlocks(buffer, count, first, entry, PhysicalDeviceRead, PhysicalDeviceWrite);
}
