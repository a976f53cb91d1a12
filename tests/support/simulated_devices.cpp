#include "support/simulated_devices.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

SimSystem Sim;

namespace {

struct OpenDevice {
    std::string name;  // "" for the VWIN32 device
    uint64_t position = 0;
    bool open = false;
};
std::vector<OpenDevice> g_open;
uint32_t g_lastError = 0;

std::string Hex(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", v);
    return text;
}

// Counts the call and says whether it is the one that must fail.
bool Fails()
{
    if (++Sim.calls == Sim.failCallAt) {
        Sim.log.push_back("failed");
        g_lastError = 31;  // a general failure
        return true;
    }
    return false;
}

OpenDevice* Of(DeviceHandle h)
{
    if (h < 0 || static_cast<size_t>(h) >= g_open.size() || !g_open[h].open) return nullptr;
    return &g_open[h];
}
SimDevice* DeviceOf(DeviceHandle h)
{
    OpenDevice* d = Of(h);
    if (!d) return nullptr;
    auto it = Sim.devices.find(d->name);
    return it == Sim.devices.end() ? nullptr : &it->second;
}
uint64_t LengthOf(const SimDevice& d) { return d.length ? d.length : d.bytes.size(); }

void PutU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Geometry(const SimDevice& d, uint8_t* out)
{
    std::memset(out, 0, kGeometrySize);
    PutU32(out, d.cylinders);
    PutU32(out + 8, d.media);
    PutU32(out + 12, d.heads);
    PutU32(out + 16, d.sectorsPerTrack);
    PutU32(out + 20, d.bytesPerSector);
}

DeviceHandle SimCreateFile(const char* name, uint32_t access, uint32_t share, uint32_t disposition, uint32_t)
{
    Sim.log.push_back("open " + std::string(name) + " " + Hex(access) + " " + Hex(share) + " " + Hex(disposition));
    if (Fails()) return kNoDevice;
    const bool vwin32 = std::strcmp(name, "\\\\.\\vwin32") == 0 && Sim.vwin32;
    if (!vwin32 && !Sim.devices.count(name)) {
        g_lastError = 2;
        return kNoDevice;
    }
    g_open.push_back({vwin32 ? "" : name, 0, true});
    ++Sim.openHandles;
    return static_cast<DeviceHandle>(g_open.size() - 1);
}

bool SimCloseHandle(DeviceHandle h)
{
    Sim.log.push_back("close");
    OpenDevice* d = Of(h);
    if (!d) return false;
    d->open = false;
    --Sim.openHandles;
    return true;
}

bool SimDeviceIoControl(DeviceHandle h, uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                        uint32_t* returned)
{
    Sim.log.push_back("ioctl " + Hex(code));
    *returned = 0;
    if (Fails() || !Of(h)) return false;
    if (Of(h)->name.empty()) {
        if (inSize != sizeof(Vwin32Registers) || outSize != sizeof(Vwin32Registers) || in != out) return false;
        *returned = sizeof(Vwin32Registers);
        return Sim.vwin32(code, *static_cast<Vwin32Registers*>(out));
    }
    SimDevice& d = *DeviceOf(h);
    g_lastError = kErrorNotSupported;
    switch (code) {
    case kLockVolume:
        return !d.lockFails;
    case kUnlockVolume:
        return true;
    case kGetDriveGeometry:
    case kGetCdromGeometry:
        if (d.media == 0 || outSize < kGeometrySize) return false;
        Geometry(d, static_cast<uint8_t*>(out));
        *returned = kGeometrySize;
        return true;
    case kGetMediaTypes: {
        if (!d.mediaTypesKnown) return false;
        uint8_t* o = static_cast<uint8_t*>(out);
        for (uint32_t type : d.mediaTypes) {
            if (*returned + kGeometrySize > outSize) break;
            SimDevice one = d;
            one.media = type;
            Geometry(one, o + *returned);
            *returned += kGeometrySize;
        }
        return true;
    }
    case kGetLengthInfo: {
        if (outSize < 8) return false;
        const uint64_t length = LengthOf(d);
        PutU32(static_cast<uint8_t*>(out), static_cast<uint32_t>(length));
        PutU32(static_cast<uint8_t*>(out) + 4, static_cast<uint32_t>(length >> 32));
        *returned = 8;
        return true;
    }
    default:
        return false;
    }
}

uint32_t SimSetFilePointer(DeviceHandle h, int32_t distance, uint32_t method)
{
    Sim.log.push_back("seek " + std::to_string(distance) + (method == kFromEnd ? " end" : ""));
    SimDevice* d = DeviceOf(h);
    if (Fails() || !d || distance < 0) return kBadPosition;
    Of(h)->position = (method == kFromEnd ? LengthOf(*d) : 0) + static_cast<uint32_t>(distance);
    return static_cast<uint32_t>(Of(h)->position);
}

// Moves at most what the device holds from the position, and its per-call
// limit: from `from` onto the device when writing, else from it to `to`.
bool Transfer(DeviceHandle h, const void* from, void* to, uint32_t bytes, uint32_t* moved)
{
    const bool write = from != nullptr;
    Sim.log.push_back((write ? "write " : "read ") + std::to_string(bytes));
    *moved = 0;
    SimDevice* d = DeviceOf(h);
    if (Fails() || !d || (write ? d->writeFails : d->readFails)) return false;
    const uint64_t at = Of(h)->position, size = d->bytes.size();
    uint64_t n = at >= size ? 0 : std::min<uint64_t>(bytes, size - at);
    if (d->maxBytesPerCall) n = std::min<uint64_t>(n, d->maxBytesPerCall);
    *moved = static_cast<uint32_t>(n);
    if (n) std::memcpy(write ? d->bytes.data() + at : to, write ? from : d->bytes.data() + at, n);
    Of(h)->position += n;
    return true;
}
bool SimReadFile(DeviceHandle h, void* buffer, uint32_t bytes, uint32_t* moved)
{
    return Transfer(h, nullptr, buffer, bytes, moved);
}
bool SimWriteFile(DeviceHandle h, const void* buffer, uint32_t bytes, uint32_t* moved)
{
    return Transfer(h, buffer, nullptr, bytes, moved);
}

uint32_t SimDriveType(const char* root)
{
    Sim.log.push_back("drivetype " + std::string(root));
    const auto it = Sim.driveTypes.find(root);
    return it == Sim.driveTypes.end() ? 1 : it->second;  // no root directory
}

uint32_t SimLastError() { return g_lastError; }

}  // namespace

std::vector<uint8_t> SimSystem::Bytes(const std::string& device, uint64_t offset, size_t size) const
{
    const std::vector<uint8_t>& all = devices.at(device).bytes;
    return std::vector<uint8_t>(all.begin() + static_cast<ptrdiff_t>(offset),
                                all.begin() + static_cast<ptrdiff_t>(offset + size));
}

unsigned SimSystem::Count(const std::string& prefix) const
{
    return static_cast<unsigned>(
        std::count_if(log.begin(), log.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; }));
}

void InstallSimulatedDevices()
{
    Sim = SimSystem{};
    g_open.clear();
    g_lastError = 0;
    DeviceCalls = {SimCreateFile, SimCloseHandle, SimDeviceIoControl, SimSetFilePointer,
                   SimReadFile,   SimWriteFile,   SimDriveType,       SimLastError};
}
