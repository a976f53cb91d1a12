#include "hfs/format.h"

#include <cstdio>
#include <cstring>

#include "core/main_state.h"
#include "core/progress.h"
#include "core/status.h"
#include "core/window_system.h"
#include "disk/drive_table.h"
#include "hfs/btree_node.h"
#include "hfs/bytes.h"
#include "hfs/catalog_keys.h"
#include "hfs/mac_names.h"
#include "hfs/mac_time.h"
#include "platform/platform.h"

uint8_t VolumeLabel[32];

namespace {

// Blocks the empty volume writes besides the templates.
constexpr uint8_t kBootBlockFill = 0xF6;
constexpr uint32_t kBootBlocks = 2;                 // blocks 0 and 1
constexpr uint32_t kExtentsNodes[2] = {5, 25};      // extents B-tree nodes 1 to 21
constexpr uint32_t kCatalogNodes[2] = {28, 47};     // catalog B-tree nodes 2 to 21

// Where the label and the date go in the templates, besides the MDB's fields.
constexpr unsigned kLeafThreadName = 122;           // the root's thread record: its name field
constexpr unsigned kLeafThreadNameBytes = 32;
constexpr unsigned kLeafDesktopCreated = 212;       // the Desktop file's record: its dates
constexpr unsigned kLeafDesktopModified = 216;
constexpr unsigned kDesktopForkDate = 114;          // in the resource header's application area

enum class Patch { None, MasterBlock, CatalogLeaf, DesktopFork };
constexpr Patch kTemplatePatch[kTemplateCount] = {
    Patch::MasterBlock, Patch::None, Patch::None, Patch::None, Patch::CatalogLeaf, Patch::DesktopFork,
    Patch::MasterBlock,
};
// The bar advances after these templates: with the odd-numbered zero blocks
// that makes the 24 steps of ProgressTotal.
constexpr bool kTemplateAdvances[kTemplateCount] = {false, true, false, true, false, true, false};

constexpr unsigned kRootFolderArea = 110;  // room for the longest key and the record

// One block from ScratchBuffer; false (StatusCode set) when the write failed
// or the user pressed Cancel while messages were pumped.
bool WriteScratchBlock(DriveEntry* entry, uint32_t block)
{
    PumpMessages();
    const int32_t written = entry->WriteSectors(ScratchBuffer, 1, block, entry);
    if (written != 1 && StatusCode == 0) StatusCode = kStatusWriteError;
    return StatusCode == 0;
}

// Writes the zero-filled ScratchBuffer to blocks first..last, advancing the
// bar after each odd-numbered block.
bool WriteZeroRun(DriveEntry* entry, const uint32_t (&run)[2])
{
    for (uint32_t block = run[0]; block <= run[1]; ++block) {
        if (!WriteScratchBlock(entry, block)) return false;
        if (block & 1u) AdvanceProgress(1);
    }
    return true;
}

void PatchTemplate(Patch patch, uint32_t now)
{
    uint8_t* b = ScratchBuffer;
    switch (patch) {
    case Patch::None:
        break;
    case Patch::MasterBlock:
        std::memcpy(b + kMdbVolumeName, VolumeLabel, kMdbVolumeNameBytes);
        PutU32(now, b + kMdbCreated);
        PutU32(now, b + kMdbModified);
        break;
    case Patch::CatalogLeaf:
        std::memcpy(b + kLeafThreadName, VolumeLabel, kLeafThreadNameBytes);
        PutU32(now, b + kLeafDesktopCreated);
        PutU32(now, b + kLeafDesktopModified);
        BuildRootFolderRecord(b, now);
        break;
    case Patch::DesktopFork:
        PutU32(now, b + kDesktopForkDate);
        break;
    }
}

// "Creating "LABEL" on\nDRIVE" for the progress window's item line.
void ShowFormatTarget(const DriveEntry* entry)
{
    char label[kMaxMacName + 1];
    MacNameToPc(label, Str31(VolumeLabel, kMaxVolumeName).bytes, true);  // the window shows PC characters
    char driveName[sizeof entry->Name];
    std::memcpy(driveName, entry->Name, sizeof driveName);
    driveName[sizeof driveName - 1] = 0;
    char text[128];
    std::snprintf(text, sizeof text, "Creating \"%s\" on\n%s", label, driveName);
    SetProgressItemText(text);
}

}  // namespace

bool SetVolumeLabel(const char* text)
{
    std::memset(VolumeLabel, 0, sizeof VolumeLabel);
    char cut[kMaxVolumeName + 1] = {};
    size_t length = 0;
    while (text != nullptr && length < kMaxVolumeName && text[length] != 0) {
        cut[length] = text[length];
        ++length;
    }
    bool sound = length > 0;
    if (sound) {
        PcNameToMac(VolumeLabel, cut);
        // A colon separates the parts of a Mac path; a volume named with one
        // could never be reached by path.
        for (unsigned i = 1; i <= VolumeLabel[0]; ++i)
            if (VolumeLabel[i] == ':') sound = false;
    }
    if (!sound) {
        std::memset(VolumeLabel, 0, sizeof VolumeLabel);
        StatusCode = kStatusCannotCreate;
    }
    return sound;
}

int UnpackBits(const uint8_t* packed, unsigned packedLength, uint8_t* destination)
{
    unsigned in = 0;
    unsigned out = 0;
    while (in < packedLength) {
        const unsigned c = packed[in++];
        if (c == 128) continue;
        if (c < 128) {
            const unsigned n = c + 1;
            if (n > packedLength - in || n > kBlockSize - out) return -1;
            std::memcpy(destination + out, packed + in, n);
            in += n;
            out += n;
        } else {
            const unsigned n = 257 - c;
            if (in >= packedLength || n > kBlockSize - out) return -1;
            std::memset(destination + out, packed[in++], n);
            out += n;
        }
    }
    return static_cast<int>(out);
}

void BuildRootFolderRecord(uint8_t* node, uint32_t now)
{
    const Str31 label(VolumeLabel, kMaxVolumeName);

    uint8_t record[kRootFolderArea] = {};
    const unsigned keySize = BuildCatalogKey(kRootParentId, label.bytes, record);
    uint8_t* folder = record + keySize;
    folder[0] = kFolderRecord;
    PutU16(1, folder + kFolderValence);  // the Desktop file
    PutU32(kRootFolderId, folder + kFolderId);
    PutU32(now, folder + kFolderCreated);
    PutU32(now, folder + kFolderModified);
    const unsigned length = keySize + kFolderRecordSize;

    static BlockData leaf;
    std::memcpy(leaf.data, node, kHfsBlockSize);
    if (NodeRecordCount(&leaf) == 0) return;
    NodeDeleteRecord(&leaf, 0);
    if (NodeFreeSpace(&leaf) < length + kRecordOffsetSize) return;
    NodeInsertRecord(&leaf, 0, record, length);
    std::memcpy(node, leaf.data, kHfsBlockSize);
}

void WriteEmptyVolume(DriveEntry* entry)
{
    if (StatusCode != 0) return;
    if (entry == nullptr || entry->WriteSectors == nullptr) {
        StatusCode = kStatusReadOnly;
        return;
    }
    const uint32_t now = MacNow();

    std::memset(ScratchBuffer, kBootBlockFill, kBlockSize);
    for (uint32_t block = 0; block < kBootBlocks; ++block)
        if (!WriteScratchBlock(entry, block)) return;

    std::memset(ScratchBuffer, 0, kBlockSize);
    if (!WriteZeroRun(entry, kExtentsNodes) || !WriteZeroRun(entry, kCatalogNodes)) return;

    for (unsigned t = 0; t < kTemplateCount; ++t) {
        const PackedBlock& packed = VolumeTemplate[t];
        std::memset(ScratchBuffer, 0, kBlockSize);
        if (UnpackBits(packed.packed, packed.packedLength, ScratchBuffer) != static_cast<int>(kBlockSize)) {
            // The templates are part of the program; one that does not expand
            // to a whole block must not reach the medium.
            StatusCode = kStatusWriteError;
            return;
        }
        PatchTemplate(kTemplatePatch[t], now);
        if (!WriteScratchBlock(entry, packed.block)) return;
        if (kTemplateAdvances[t]) AdvanceProgress(1);
    }
}

int32_t FormatDiskette(DriveEntry* entry)
{
    ProgressTotal = kFormatProgressSteps;
    if (!Ws().Confirm(MainWindow, "Formatting will erase all data on diskette!", "WARNING!")) return 2;

    OpenProgress(MainWindow, kProgressFormatting);
    if (ProgressWindow != nullptr) ShowFormatTarget(entry);
    WriteEmptyVolume(entry);
    if (ProgressWindow != nullptr) CloseProgress();
    const int32_t result = StatusCode == 0 ? 0 : 1;
    ShowFormatError();
    return result;
}

void ShowFormatError()
{
    if (StatusCode == 0) return;
    if (StatusCode != kStatusCancelled)
        Ws().ShowMessage(MainWindow, "Can not format disk!", "Formatting Error", kMbOk | kMbIconStop);
    StatusCode = 0;
}

bool CreateDisketteImage(const char* path)
{
    if (path == nullptr || FileExists(path)) return false;
    // CreateNew: a file that appeared since the look is not replaced.
    FileHandle file = FileOpen(path, FileMode::CreateNew);
    if (file == kNoFile) return false;
    static const uint8_t zeros[18 * kBlockSize] = {};  // one track of a 1.44 MB diskette
    bool written = true;
    for (uint32_t done = 0; written && done < kDisketteBytes; done += sizeof zeros)
        written = FileWrite(file, zeros, sizeof zeros) == static_cast<int64_t>(sizeof zeros);
    written = FileFlush(file) && written;
    FileClose(file);
    if (!written) FileDelete(path);
    return written;
}
