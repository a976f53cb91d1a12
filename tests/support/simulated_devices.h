// Simulated Windows raw devices behind the disk layer's system calls: named
// devices holding bytes, geometry and media-type answers, drive types, the
// VWIN32 services, a call that fails on the k-th system call, short
// transfers, and a log of every call. Install() puts them behind
// DeviceCalls; ResetProgramState puts the system's calls back.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "disk/windows_devices.h"

struct SimDevice {
    std::vector<uint8_t> bytes;
    uint64_t length = 0;             // the size it reports (length info, seek to end); 0: bytes.size()
    bool lockFails = false;
    bool readFails = false, writeFails = false;
    uint32_t maxBytesPerCall = 0;    // short transfers; 0 no limit
    // Geometry answer; media 0: the geometry calls fail with error 50.
    uint32_t media = 0, cylinders = 0, heads = 0, sectorsPerTrack = 0, bytesPerSector = 512;
    bool mediaTypesKnown = true;     // answers the media-types call (else error 50)
    std::vector<uint32_t> mediaTypes;
};

struct SimSystem {
    std::map<std::string, SimDevice> devices;       // by device name ("\\.\a:", "\\.\PhysicalDrive1")
    std::map<std::string, uint32_t> driveTypes;     // by root ("E:", "A:\")
    // The VWIN32 device: answers a call with its register packet; false fails the call.
    std::function<bool(uint32_t code, Vwin32Registers& registers)> vwin32;
    uint32_t failCallAt = 0;                        // the k-th system call (1-based) fails
    uint32_t calls = 0;
    std::vector<std::string> log;                   // "open NAME ACCESS SHARE DISPOSITION", "ioctl CODE", ...
    int openHandles = 0;

    // The device's bytes from `offset`, as a fresh vector of `size`.
    std::vector<uint8_t> Bytes(const std::string& device, uint64_t offset, size_t size) const;
    // Log entries that start with `prefix`.
    unsigned Count(const std::string& prefix) const;
};

extern SimSystem Sim;

// Empties Sim and puts the simulation behind DeviceCalls.
void InstallSimulatedDevices();
