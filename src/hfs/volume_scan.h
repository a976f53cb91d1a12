// What the volume scan found beside each entry of the volume list: the kind
// of volume, whether it can be read, and why it may only be read. The list
// is parallel to the Mac pane's volume entries and lives until the next scan.
#pragma once
#include <cstdint>
#include <string>

enum class VolumeKind : uint8_t {
    Hfs,          // a plain HFS volume
    HfsWrapper,   // an HFS volume that holds an HFS+ volume in its blocks
    HfsPlus,      // refused: not read by this program
    Hfsx,
    Mfs,
    Unreadable,   // its partition could not be read (cut short, past the end)
};

struct ScannedVolume {
    VolumeKind kind = VolumeKind::Hfs;
    uint32_t partitionStart = 0;  // absolute 512-byte block
    uint32_t volumeSize = 0;      // 512-byte blocks, as listed
    std::string problem;          // why it cannot be opened (refused kinds, unreadable)
    std::string readOnlyReason;   // why it is never written; empty when the layout allows writing
};

// The scan's finding for volume list entry `index`; null past the end.
const ScannedVolume* ScannedVolumeAt(unsigned index);
unsigned ScannedVolumeCount();
// Drops what the last scan found.
void ForgetScannedVolumes();
// "an HFS+ volume", "an MFS volume (the 400K diskette format)", ...; null for
// a plain HFS volume.
const char* VolumeKindText(VolumeKind kind);

// Why the volume being opened (MacVolume's partition start and size, its MDB
// at `mdb`) must never be written: its partition's layout, a wrapped HFS+
// volume, an allocation area that reaches its alternate MDB. Null when it
// may be written.
const char* VolumeWriteRefusal(const uint8_t* mdb);
