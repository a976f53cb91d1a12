// The table of drives that may hold Mac volumes, the contract of their read,
// write and format operations, and the mapping of 512-byte blocks onto device
// sectors that every non-diskette drive shares.
#pragma once
#include <cstdint>

struct DriveEntry;

// Read or write `count` 512-byte blocks starting at absolute block `first`.
// Returns the number of blocks moved (1..count), or 0 with StatusCode 3 or 4.
using DriveTransferOp = int32_t (*)(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry);
// Formats the medium, shows its own messages and leaves StatusCode zero.
using DriveFormatOp = int32_t (*)(DriveEntry* entry);

// A device layer: moves `count` device sectors starting at device sector
// `first` between the device and `buffer`; returns sectors moved, or 0 or a
// negative number on failure.
using DeviceSectorOp = int32_t (*)(uint8_t* buffer, uint32_t count, uint32_t first, const DriveEntry* entry);

enum : uint32_t { kDriveReadOnly = 2 };

struct DriveEntry {
    uint32_t Flags;
    uint32_t Unit;
    uint16_t HostAdapter;
    uint16_t BlocksPerSector;
    DriveTransferOp ReadSectors;
    DriveTransferOp WriteSectors;   // null: the drive cannot be written
    DriveFormatOp FormatVolume;     // null: the drive cannot be formatted
    char Name[32];
};

constexpr unsigned kDriveTableRoom = 60;
constexpr unsigned kMaxDrives = 20;
constexpr unsigned kSectorBufferSize = 32768 + 4096;
constexpr unsigned kScratchBufferSize = 4560;
constexpr unsigned kBlockSize = 512;

extern DriveEntry DriveTable[kDriveTableRoom];
extern uint32_t DriveCount;
extern uint8_t SectorBuffer[kSectorBufferSize];
extern uint8_t ScratchBuffer[kScratchBufferSize];
extern uint32_t MaxTransferBytes;

// MaxTransferBytes from the MaxIOBufSzK preference, held to 4 to 32 KB.
void SetTransferLimit();

// Clears the slot at DriveCount and returns it for a new entry.
DriveEntry* BeginDriveEntry();
// Adds the entry built by BeginDriveEntry while fewer than 20 are listed.
void CommitDriveEntry();

// The shared block-to-sector mapping for drives whose sectors hold
// entry->BlocksPerSector blocks. Reads deliver whole device sectors' worth of
// the requested blocks; writes read, patch and rewrite a partly covered sector.
int32_t MappedReadBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry, DeviceSectorOp read);
int32_t MappedWriteBlocks(const uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry,
                          DeviceSectorOp read, DeviceSectorOp write);

// The device's sector size in bytes as its device layer reports it (512 for
// drives that cannot tell).
uint32_t DriveSectorSize(const DriveEntry* entry);
// The 512-byte blocks the device holds in whole sectors, or 0 when its
// device layer cannot tell.
uint64_t DriveBlockCount(const DriveEntry* entry);
// True when the entry is a diskette drive (block factor always 1).
bool IsDisketteDrive(const DriveEntry* entry);
