// The Windows calls behind the device layers. Device names are plain ASCII,
// so the ANSI forms serve.
#include <windows.h>

#include "disk/device_calls.h"

namespace {

static_assert(kDeviceRead == GENERIC_READ && kDeviceWrite == GENERIC_WRITE);
static_assert(kShareRead == FILE_SHARE_READ && kShareWrite == FILE_SHARE_WRITE);
static_assert(kOpenExisting == OPEN_EXISTING && kOpenAlways == OPEN_ALWAYS);
static_assert(kFromStart == FILE_BEGIN && kFromEnd == FILE_END && kBadPosition == INVALID_SET_FILE_POINTER);
static_assert(kErrorNotSupported == ERROR_NOT_SUPPORTED && kAttributeNormal == FILE_ATTRIBUTE_NORMAL);

HANDLE H(DeviceHandle device) { return reinterpret_cast<HANDLE>(device); }

DeviceHandle SystemCreateFile(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                              uint32_t flags)
{
    const HANDLE h = CreateFileA(name, access, share, nullptr, disposition, flags, nullptr);
    return h == INVALID_HANDLE_VALUE ? kNoDevice : reinterpret_cast<DeviceHandle>(h);
}

bool SystemCloseHandle(DeviceHandle device) { return CloseHandle(H(device)) != 0; }

bool SystemDeviceIoControl(DeviceHandle device, uint32_t code, void* in, uint32_t inSize, void* out,
                           uint32_t outSize, uint32_t* returned)
{
    DWORD got = 0;
    const BOOL ok = DeviceIoControl(H(device), code, in, inSize, out, outSize, &got, nullptr);
    *returned = got;
    return ok != 0;
}

uint32_t SystemSetFilePointer(DeviceHandle device, int32_t distance, uint32_t method)
{
    return SetFilePointer(H(device), distance, nullptr, method);
}

bool SystemReadFile(DeviceHandle device, void* buffer, uint32_t bytes, uint32_t* moved)
{
    DWORD got = 0;
    const BOOL ok = ReadFile(H(device), buffer, bytes, &got, nullptr);
    *moved = got;
    return ok != 0;
}

bool SystemWriteFile(DeviceHandle device, const void* buffer, uint32_t bytes, uint32_t* moved)
{
    DWORD put = 0;
    const BOOL ok = WriteFile(H(device), buffer, bytes, &put, nullptr);
    *moved = put;
    return ok != 0;
}

uint32_t SystemDriveType(const char* root) { return GetDriveTypeA(root); }
uint32_t SystemLastError() { return GetLastError(); }

}  // namespace

DeviceCallTable SystemDeviceCalls()
{
    return {SystemCreateFile,  SystemCloseHandle, SystemDeviceIoControl, SystemSetFilePointer,
            SystemReadFile,    SystemWriteFile,   SystemDriveType,       SystemLastError};
}

DeviceCallTable DeviceCalls = SystemDeviceCalls();
