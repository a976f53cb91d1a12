// No Windows raw devices here: every open fails, so no diskette, CD-ROM or
// physical drive is found through them (block devices are opened as images).
#include "disk/device_calls.h"

namespace {

DeviceHandle NoCreateFile(const char*, uint32_t, uint32_t, uint32_t, uint32_t) { return kNoDevice; }
bool NoCloseHandle(DeviceHandle) { return false; }
bool NoDeviceIoControl(DeviceHandle, uint32_t, void*, uint32_t, void*, uint32_t, uint32_t*) { return false; }
uint32_t NoSetFilePointer(DeviceHandle, int32_t, uint32_t) { return kBadPosition; }
bool NoReadFile(DeviceHandle, void*, uint32_t, uint32_t*) { return false; }
bool NoWriteFile(DeviceHandle, const void*, uint32_t, uint32_t*) { return false; }
uint32_t NoDriveType(const char*) { return 0; }
uint32_t NoError() { return kErrorNotSupported; }

}  // namespace

DeviceCallTable SystemDeviceCalls()
{
    return {NoCreateFile, NoCloseHandle, NoDeviceIoControl, NoSetFilePointer, NoReadFile, NoWriteFile, NoDriveType,
            NoError};
}

DeviceCallTable DeviceCalls = SystemDeviceCalls();
