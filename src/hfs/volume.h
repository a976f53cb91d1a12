// The open HFS volume: its master directory block (MDB), the in-memory
// records of its two B-tree files, and the moments at which metadata meets
// the medium as a whole (open, write-back, discard, unmount).
#pragma once
#include <cstdint>
#include <vector>

#include "core/window_system.h"
#include "hfs/bytes.h"
#include "hfs/cache.h"
#include "hfs/layout.h"

// A file's catalog record, by the buffer that holds it.
struct ForkRef {
    uint32_t fileId;
    BlockData* recordBuffer;
    uint16_t recordOffset;   // offset of the record data (not the key) in the buffer
};

constexpr unsigned kVolumeListLimit = 20;

// The in-memory catalog file record of a B-tree file: lets fork code treat
// the extents and catalog files like user files.
struct BTreeFileRecord : BlockData {};

// A run of allocation blocks.
struct AllocationRun {
    uint16_t start;
    uint16_t count;
};

struct MacVolumeState {
    BlockBuffer* mdb;
    uint16_t allocBlockSize;     // in 512-byte blocks
    uint32_t volumeSize;         // in 512-byte blocks
    uint16_t firstAllocBlock;    // volume-relative 512-byte block of allocation block 0
    BlockBuffer* extentsHeader;
    BlockBuffer* catalogHeader;
    ForkRef extentsFile;
    ForkRef catalogFile;
    uint32_t partitionStart;     // absolute block of the volume's block 0
    uint32_t freeSearchStart;    // every allocation block below this one is in use
    const char* writeRefusal;    // why nothing may be written to this volume; null when it may be
    // Runs freed since the last flush. Their bits stay set until the flush
    // that drops their owner lands, so no new data overwrites them while a
    // discard could still bring the owner back.
    std::vector<AllocationRun> pendingFree;
};

extern MacVolumeState MacVolume;
extern BTreeFileRecord ExtentsFileRecord;
extern BTreeFileRecord CatalogFileRecord;

// True while a volume is open (its MDB is in the cache).
inline bool VolumeIsOpen() { return MacVolume.mdb != nullptr; }
// Number of allocation blocks of the open volume.
uint16_t VolumeAllocBlockCount();

int ProbeBlockFactor();
void ScanVolumes();
int CheckAlternateMdb();
void OpenVolume();
void InitBTreeFileRecord(uint32_t fileId);
int FlushVolume();
void UpdateAlternateMdb();
int DiscardVolumeChanges();

// Drive selection and unmount, with their effect on the Mac pane. An image
// drive's file is open (and locked) only while its drive is the one in use:
// selecting a drive lets go of every other image, and so does ResetMacPane.
void SelectMacDrive(WindowHandle window);
void ResetMacPane(WindowHandle window);
// Makes drive `index` the one whose image file is open (UseImageDrive).
// False when it cannot be used: an image another program holds is said in a
// message of its own and leaves StatusCode 120 (nothing more to report);
// one that cannot be opened leaves StatusCode 3.
bool UseMacDrive(WindowHandle window, unsigned index);
// The end-of-command report: shows the message for StatusCode (if any)
// through the window system, clears the status and discards the unwritten
// changes of the open volume; unmounts it when that re-read fails.
void ReportStatus(WindowHandle ownerWindow);
