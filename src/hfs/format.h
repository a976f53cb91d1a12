// Formatting: writing a complete, empty HFS volume for 1.44 MB media (2880
// blocks) from seven packed block images, with the label and the current date
// patched in. No tracks are formatted; blocks the empty volume does not use
// are left as they are.
#pragma once
#include <cstdint>

#include "disk/image_drive.h"
#include "hfs/layout.h"

constexpr uint32_t kDisketteBytes = kDisketteImageBytes;
constexpr uint32_t kFormatProgressSteps = 24;
constexpr unsigned kTemplateCount = 7;

// The label as a length-prefixed Mac string, zero bytes after it.
extern uint8_t VolumeLabel[32];

// One block of the empty volume, packed with PackBits.
struct PackedBlock {
    uint32_t block;
    uint16_t packedLength;
    const uint8_t* packed;
};
extern const PackedBlock VolumeTemplate[kTemplateCount];

// Sets VolumeLabel from Windows-1252 text: at most 27 characters are taken,
// then converted to the Mac character set. An empty label or one holding a
// colon is refused with StatusCode 14 (VolumeLabel is then left cleared).
bool SetVolumeLabel(const char* text);

// Expands PackBits data into `destination` (512 bytes): a count byte c below
// 128 is followed by c + 1 literal bytes, one above 128 by a byte repeated
// 257 - c times, and 128 is skipped. Never writes past 512 bytes nor reads
// past `packedLength`. Returns the bytes produced, or -1 when the input asks
// for more than 512 bytes or ends inside a run.
int UnpackBits(const uint8_t* packed, unsigned packedLength, uint8_t* destination);

// Replaces record 0 of the catalog leaf `node` (512 bytes) with the root
// folder's record for VolumeLabel, created and modified at `now`; the other
// records move to follow it.
void BuildRootFolderRecord(uint8_t* node, uint32_t now);

// Writes the empty volume to the drive, one block at a time from
// ScratchBuffer, pumping messages before each write and advancing the
// progress bar 24 times in all. Stops at the first nonzero StatusCode (a
// failed write, or 120 after Cancel).
void WriteEmptyVolume(DriveEntry* entry);

// The format operation of drives that hold 1.44 MB media: asks before
// erasing, writes the volume under a progress window and reports the outcome
// itself. Leaves StatusCode zero. Returns 2 when the user cancels at the
// warning (nothing written), 0 when the whole volume was written and 1 when a
// failure or Cancel stopped it part way.
int32_t FormatDiskette(DriveEntry* entry);

// Shows "Can not format disk!" for a failure; Cancel (120) is dropped
// silently. Clears StatusCode in every case.
void ShowFormatError();

// Creates `path` as 1,474,560 zero bytes. False when the file exists already
// or cannot be created.
bool CreateDisketteImage(const char* path);
