// Disk image files and POSIX block devices as drives. Each open image has a
// slot; a drive entry's Unit names the slot. The sector size is 512, or 2048
// to behave like a CD-ROM. A test can make the device layer fail the k-th
// sector read or write, or return fewer sectors than asked.
#pragma once
#include <cstdint>

#include "disk/drive_table.h"
#include "platform/platform.h"

constexpr unsigned kMaxImages = 20;

struct ImageFaults {
    uint32_t failReadAt = 0;     // 1-based number of the device read that fails; 0 never
    uint32_t failWriteAt = 0;    // 1-based number of the device write that fails; 0 never
    uint32_t maxSectorsPerCall = 0;  // short transfers: at most this many sectors per call; 0 no limit
    uint32_t reads = 0;          // device reads so far
    uint32_t writes = 0;         // device writes so far
};

struct ImageSlot {
    bool used;
    bool writable;
    uint32_t sectorSize;        // 512 or 2048; a block device's own when larger
    uint64_t dataOffset;        // bytes before the disk data (a DiskCopy 4.2 header)
    uint64_t dataLength;        // bytes of disk data
    bool diskCopy;              // a DiskCopy 4.2 image: its data checksum is kept up to date
    char warning[192];          // what is wrong with the image file itself (a DiskCopy checksum); empty if nothing
    bool written;               // a sector was written since the image was opened
    bool writeFailed;           // a sector write failed since the image was opened
    char path[1024];
    FileHandle file;            // open while the image is in use (for writing when writable); else kNoFile
    bool listed;                // opened only while its drive is in use (ListImage), not for the slot's life
    bool wantWrite;             // open for writing when the file allows it
    ImageFaults faults;
};

extern ImageSlot ImageTable[kMaxImages];

// Opens `path` as an image and returns its slot, or -1 when it cannot be
// opened. `sectorSize` is 512 or 2048. With `wantWrite` the file is opened
// for writing when it can be; otherwise read only. The file is locked while
// the slot is open: exclusively when writable, shared otherwise, so that one
// writer at a time changes an image and no reader sees a write half done.
// Another program's lock is waited out for ImageLockWaitMs (5 s; tests
// shorten it); after that the result is kImageInUse.
constexpr int kImageInUse = -2;
constexpr unsigned kDefaultImageLockWaitMs = 5000;
extern unsigned ImageLockWaitMs;
int OpenImage(const char* path, uint32_t sectorSize, bool wantWrite);
// Takes `path` into a slot without keeping it open: the file is opened once,
// unlocked, to learn that it can be and how large it is, and closed again.
// The slot's file is opened and locked only while its drive is the one in
// use (UseImageDrive). Returns the slot, or -1 when the file cannot be opened.
int ListImage(const char* path, uint32_t sectorSize, bool wantWrite);
// Frees the slot (and its lock); a written DiskCopy 4.2 image gets its data
// checksum first.
void CloseImage(int slot);
void CloseAllImages();
// Closes every image slot (a written DiskCopy image gets its checksum), then
// empties the image and drive tables and the sector buffers and puts the
// transfer size, the lock wait and the device calls back to their start. The
// diskette formatter stays wired.
void ResetDiskState();

// Builds and commits a drive entry for an open image slot, named
// "[IMAGE name]" after the file's base name. Returns the entry or null when
// the table is full.
DriveEntry* AddImageDrive(int slot);

// Makes `entry` the drive in use as far as images go: every listed image of
// another drive lets go of its file (see ReleaseListedImages), and a listed
// image behind `entry` opens and locks its file as OpenImage does. 0 when the
// drive can be used (any drive that is no listed image can), -1 when the
// file cannot be opened or read, kImageInUse when another program holds it.
// A refused drive keeps nothing open.
int UseImageDrive(DriveEntry* entry);
// Closes the file of every listed image (a written DiskCopy image gets its
// checksum first), so that other programs may use it; the drives stay in the
// table. Images opened with OpenImage stay open.
void ReleaseListedImages();

// The byte size of a 1.44 MB diskette image (2880 blocks of 512 bytes).
constexpr uint64_t kDisketteImageBytes = 1474560;
// The format operation AddImageDrive gives a plain image of exactly that
// size, and discovery gives a diskette drive. The program wires in the HFS layer's formatter when it starts
// (ResetProgramState); while it is null no image can be formatted.
extern DriveFormatOp DisketteImageFormatter;
// What is wrong with the image file behind an image drive (not with a volume
// on it): a DiskCopy 4.2 data checksum that does not match the data, or a
// DiskCopy header whose sizes do not match the file. Null when nothing is,
// or for a drive that is not an image.
const char* DriveImageWarning(const DriveEntry* entry);
// The open image behind an image drive; null for any other drive.
const ImageSlot* ImageSlotOfDrive(const DriveEntry* entry);

int32_t ImageReadBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry);
int32_t ImageWriteBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry);

// Device layer (sectors of the slot's size).
int32_t ImageReadSectors(uint8_t* buffer, uint32_t count, uint32_t first, const DriveEntry* entry);
int32_t ImageWriteSectors(uint8_t* buffer, uint32_t count, uint32_t first, const DriveEntry* entry);
