#include "disk/image_drive.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "disk/aspi.h"
#include "disk/device_calls.h"
#include "disk/drive_table.h"
#include "platform/platform.h"

ImageSlot ImageTable[kMaxImages];
DriveFormatOp DisketteImageFormatter = nullptr;
unsigned ImageLockWaitMs = kDefaultImageLockWaitMs;

namespace {

// DiskCopy 4.2 header: 84 bytes, numbers big-endian, the disk data right
// after it and the tag data after that.
constexpr uint32_t kDc42HeaderSize = 84;
constexpr uint32_t kDc42NameLength = 0;     // u8, at most 63 (Pascal string of a 64-byte field)
constexpr uint32_t kDc42DataSize = 64;      // u32
constexpr uint32_t kDc42TagSize = 68;       // u32
constexpr uint32_t kDc42DataChecksum = 72;  // u32
constexpr uint32_t kDc42Private = 82;       // u16, always 0x0100
constexpr uint32_t kDc42MaxNameLength = 63;
constexpr uint16_t kDc42PrivateValue = 0x0100;
// The largest device sector a drive entry can stage (8 blocks).
constexpr uint32_t kMaxDeviceSector = 8 * kBlockSize;

uint32_t BigU32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

ImageSlot* SlotOf(const DriveEntry* entry)
{
    if (entry == nullptr || entry->Unit >= kMaxImages) return nullptr;
    ImageSlot* slot = &ImageTable[entry->Unit];
    return slot->used ? slot : nullptr;
}

// Whether the open file is a DiskCopy 4.2 image; if so, where its data lies.
// A header whose data and tag sizes do not add up to the file (a download cut
// short, bytes appended) leaves the file a plain image, and says so in
// `warning`: without it the only word would be that no volume was found.
bool DetectDiskCopy(FileHandle file, uint64_t fileSize, uint64_t* dataLength, char* warning, size_t room)
{
    if (fileSize < kDc42HeaderSize) return false;
    uint8_t header[kDc42HeaderSize];
    if (FileReadAt(file, header, sizeof header, 0) != static_cast<int64_t>(sizeof header)) return false;
    if (header[kDc42NameLength] > kDc42MaxNameLength) return false;
    const uint16_t privateWord = static_cast<uint16_t>((header[kDc42Private] << 8) | header[kDc42Private + 1]);
    if (privateWord != kDc42PrivateValue) return false;
    const uint64_t data = BigU32(header + kDc42DataSize);
    const uint64_t tags = BigU32(header + kDc42TagSize);
    if (data % kBlockSize != 0) return false;
    if (fileSize != kDc42HeaderSize + data + tags) {
        const std::string text = "the file starts with a DiskCopy 4.2 header whose sizes (" + std::to_string(data) +
                                 " bytes of disk data, " + std::to_string(tags) + " of tags) do not match the " +
                                 std::to_string(fileSize - kDc42HeaderSize) + " bytes after it";
        std::snprintf(warning, room, "%s", text.c_str());
        return false;
    }
    *dataLength = data;
    return true;
}

// The image's data checksum: each big-endian 16-bit word is added, then the
// 32-bit sum is rotated right by one bit. Returns false when the data cannot
// be read.
bool DiskCopyChecksum(FileHandle file, const ImageSlot& slot, uint32_t* checksum)
{
    static uint8_t chunk[32768];
    uint32_t sum = 0;
    uint64_t done = 0;
    while (done < slot.dataLength) {
        uint64_t want = slot.dataLength - done;
        if (want > sizeof chunk) want = sizeof chunk;
        const int64_t got = FileReadAt(file, chunk, static_cast<size_t>(want), slot.dataOffset + done);
        if (got != static_cast<int64_t>(want)) return false;
        for (uint64_t i = 0; i + 1 < want; i += 2) {
            sum += static_cast<uint32_t>((chunk[i] << 8) | chunk[i + 1]);
            sum = (sum >> 1) | (sum << 31);
        }
        done += want;  // data length is a multiple of 512, so no word straddles two chunks
    }
    *checksum = sum;
    return true;
}

// A stored checksum that does not match the data is reported, not mended:
// emulators write images without updating it, and the first write through
// this program stores the right one (CloseImage).
void CheckDiskCopyChecksum(ImageSlot& slot)
{
    uint8_t stored[4];
    uint32_t sum = 0;
    if (FileReadAt(slot.file, stored, sizeof stored, kDc42DataChecksum) != 4) return;
    if (!DiskCopyChecksum(slot.file, slot, &sum)) return;
    if (BigU32(stored) == sum) return;
    std::snprintf(slot.warning, sizeof slot.warning,
                  "the DiskCopy 4.2 data checksum stored in the image (%08X) does not match its data (%08X)",
                  static_cast<unsigned>(BigU32(stored)), static_cast<unsigned>(sum));
}

void UpdateDiskCopyChecksum(const ImageSlot& slot)
{
    uint32_t sum = 0;
    if (DiskCopyChecksum(slot.file, slot, &sum)) {
        const uint8_t bytes[4] = {static_cast<uint8_t>(sum >> 24), static_cast<uint8_t>(sum >> 16),
                                  static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)};
        FileWriteAt(slot.file, bytes, sizeof bytes, kDc42DataChecksum);
        FileFlush(slot.file);
    }
}

// Whole sectors of the image's data that `first` and up to `count` sectors
// from it cover, after the fault settings' cap; 0 when none exist.
uint32_t SectorsAvailable(const ImageSlot& slot, uint32_t count, uint32_t first)
{
    const uint64_t total = slot.dataLength / slot.sectorSize;  // a partial last sector is absent
    if (first >= total) return 0;
    uint64_t n = total - first;
    if (n > count) n = count;
    if (slot.faults.maxSectorsPerCall != 0 && n > slot.faults.maxSectorsPerCall) n = slot.faults.maxSectorsPerCall;
    // One call moves less than 2 GiB, so byte and sector counts stay in range.
    const uint64_t most = 0x7FFFFFFFu / slot.sectorSize;
    if (n > most) n = most;
    return static_cast<uint32_t>(n);
}

// The used slot other than `self` that has `path` open, if any.
const ImageSlot* OpenSlotOf(const char* path, const ImageSlot* self)
{
    for (const ImageSlot& slot : ImageTable)
        if (&slot != self && slot.used && slot.file != kNoFile && std::strcmp(slot.path, path) == 0) return &slot;
    return nullptr;
}

// Takes a free slot for `path`; -1 when every slot is used or the path is too long.
int TakeSlot(const char* path, uint32_t sectorSize, bool wantWrite, bool listed)
{
    if (path == nullptr || (sectorSize != 512 && sectorSize != 2048)) return -1;
    if (std::strlen(path) >= sizeof ImageTable[0].path) return -1;
    for (unsigned i = 0; i < kMaxImages; ++i) {
        ImageSlot& s = ImageTable[i];
        if (s.used) continue;
        s = ImageSlot{};
        s.file = kNoFile;
        s.used = true;
        s.listed = listed;
        s.wantWrite = wantWrite;
        s.sectorSize = sectorSize;
        std::memcpy(s.path, path, std::strlen(path) + 1);
        return static_cast<int>(i);
    }
    return -1;
}

void FreeSlot(ImageSlot& s)
{
    s = ImageSlot{};
    s.file = kNoFile;
}

// Opens the slot's file (for writing when wanted and the file allows it),
// locks it when `lock`, and learns its size and whether it is a DiskCopy
// image. 0, -1 or kImageInUse; on failure the slot holds no file.
int OpenSlotFile(ImageSlot& s, bool lock)
{
    bool writable = false;
    FileHandle file = kNoFile;
    // An image this program has open already shares that open and its lock
    // (a second lock of its own would wait for the first), and is writable
    // only when the first open is.
    const ImageSlot* same = OpenSlotOf(s.path, &s);
    if (same) {
        file = same->file;
        writable = s.wantWrite && same->writable;
    } else {
        if (s.wantWrite) {
            file = FileOpen(s.path, FileMode::ReadWrite);
            writable = file != kNoFile;
        }
        if (file == kNoFile) file = FileOpen(s.path, FileMode::Read);
        if (file == kNoFile) return -1;
        if (lock && FileLock(file, writable, ImageLockWaitMs) == FileLockResult::Busy) {
            FileClose(file);
            return kImageInUse;
        }
    }
    // A block device reads and writes in its own sectors: a CD-ROM drive's
    // 2048 bytes, or a disk's 4096, whatever the caller expected.
    const uint32_t deviceSector = FileDeviceSectorSize(file);
    if (deviceSector > s.sectorSize && deviceSector <= kMaxDeviceSector && deviceSector % kBlockSize == 0)
        s.sectorSize = deviceSector;
    const int64_t size = FileSize(file);
    if (size < 0) {
        if (!same) FileClose(file);
        return -1;
    }
    uint64_t dataLength = 0;
    s.warning[0] = 0;
    s.diskCopy = DetectDiskCopy(file, static_cast<uint64_t>(size), &dataLength, s.warning, sizeof s.warning);
    s.dataOffset = s.diskCopy ? kDc42HeaderSize : 0;
    s.dataLength = s.diskCopy ? dataLength : static_cast<uint64_t>(size);
    s.file = file;
    s.writable = writable;
    s.written = false;
    s.writeFailed = false;
    // Only an image about to be used is read through for its checksum.
    if (s.diskCopy && lock) CheckDiskCopyChecksum(s);
    return 0;
}

// Closes the slot's file unless another slot shares it; a written DiskCopy
// image gets its data checksum first. The slot stays taken.
void CloseSlotFile(ImageSlot& s)
{
    if (s.file == kNoFile) return;
    if (s.diskCopy && s.written) UpdateDiskCopyChecksum(s);
    bool shared = false;
    for (const ImageSlot& other : ImageTable) shared = shared || (&other != &s && other.used && other.file == s.file);
    if (!shared) FileClose(s.file);
    s.file = kNoFile;
    s.written = false;
}

// What an image drive can do follows what its file allowed when last opened.
void DescribeImageDrive(DriveEntry* entry, const ImageSlot& s)
{
    entry->BlocksPerSector = static_cast<uint16_t>(s.sectorSize / kBlockSize);
    entry->ReadSectors = ImageReadBlocks;
    entry->WriteSectors = s.writable ? ImageWriteBlocks : nullptr;
    // A plain image the size of a 1.44 MB diskette can take the empty volume
    // that formatting writes; no other image can.
    const bool diskette = !s.diskCopy && s.sectorSize == kBlockSize && s.dataLength == kDisketteImageBytes;
    entry->FormatVolume = diskette ? DisketteImageFormatter : nullptr;
}

// The file's base name after the last separator of either kind.
const char* BaseName(const char* path)
{
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == PathSeparator()) base = p + 1;
    return base;
}

// Appends as much of `text` as fits to the zero-terminated string in `out`;
// drive names are cut, not refused, when they are too long.
void AppendCut(char* out, size_t size, const char* text)
{
    size_t used = std::strlen(out);
    while (*text && used + 1 < size) out[used++] = *text++;
    out[used] = 0;
}

}  // namespace

int OpenImage(const char* path, uint32_t sectorSize, bool wantWrite)
{
    // The file stays open while the slot is used: one system call per
    // transfer instead of an open and a close around each.
    const int slot = TakeSlot(path, sectorSize, wantWrite, false);
    if (slot < 0) return -1;
    const int opened = OpenSlotFile(ImageTable[slot], true);
    if (opened == 0) return slot;
    FreeSlot(ImageTable[slot]);
    return opened;
}

int ListImage(const char* path, uint32_t sectorSize, bool wantWrite)
{
    const int slot = TakeSlot(path, sectorSize, wantWrite, true);
    if (slot < 0) return -1;
    ImageSlot& s = ImageTable[slot];
    if (OpenSlotFile(s, false) != 0) {
        FreeSlot(s);
        return -1;
    }
    CloseSlotFile(s);
    return slot;
}

void CloseImage(int slot)
{
    if (slot < 0 || slot >= static_cast<int>(kMaxImages)) return;
    ImageSlot& s = ImageTable[slot];
    if (!s.used) return;
    CloseSlotFile(s);
    FreeSlot(s);
}

int UseImageDrive(DriveEntry* entry)
{
    ImageSlot* target = entry != nullptr && entry->ReadSectors == ImageReadBlocks ? SlotOf(entry) : nullptr;
    if (target != nullptr && !target->listed) target = nullptr;
    for (ImageSlot& s : ImageTable)
        if (s.used && s.listed && &s != target) CloseSlotFile(s);
    if (target == nullptr || target->file != kNoFile) return 0;
    const int opened = OpenSlotFile(*target, true);
    if (opened == 0) DescribeImageDrive(entry, *target);
    return opened;
}

void ReleaseListedImages()
{
    for (ImageSlot& s : ImageTable)
        if (s.used && s.listed) CloseSlotFile(s);
}

void CloseAllImages()
{
    for (unsigned i = 0; i < kMaxImages; ++i) CloseImage(static_cast<int>(i));
}

void ResetDiskState()
{
    CloseAllImages();
    ResetAspiState();
    for (ImageSlot& slot : ImageTable) slot = ImageSlot{};
    for (DriveEntry& entry : DriveTable) entry = DriveEntry{};
    DriveCount = 0;
    std::memset(SectorBuffer, 0, sizeof SectorBuffer);
    std::memset(ScratchBuffer, 0, sizeof ScratchBuffer);
    MaxTransferBytes = 32768;
    ImageLockWaitMs = kDefaultImageLockWaitMs;
    DeviceCalls = SystemDeviceCalls();
}

DriveEntry* AddImageDrive(int slot)
{
    if (slot < 0 || slot >= static_cast<int>(kMaxImages) || !ImageTable[slot].used) return nullptr;
    const ImageSlot& s = ImageTable[slot];

    const uint32_t index = DriveCount;
    DriveEntry* entry = BeginDriveEntry();
    entry->Unit = static_cast<uint32_t>(slot);
    DescribeImageDrive(entry, s);
    // Drive names are ANSI text like every other name the engine shows.
    char base[sizeof ImageTable[0].path];
    if (!NativeToAnsi(BaseName(s.path), base, sizeof base)) std::strcpy(base, "?");
    AppendCut(entry->Name, sizeof entry->Name, "[IMAGE ");
    AppendCut(entry->Name, sizeof entry->Name, base);
    AppendCut(entry->Name, sizeof entry->Name, "]");
    CommitDriveEntry();
    return DriveCount > index ? entry : nullptr;
}

const ImageSlot* ImageSlotOfDrive(const DriveEntry* entry)
{
    return entry != nullptr && entry->ReadSectors == ImageReadBlocks ? SlotOf(entry) : nullptr;
}

const char* DriveImageWarning(const DriveEntry* entry)
{
    const ImageSlot* slot = ImageSlotOfDrive(entry);
    return slot && slot->warning[0] ? slot->warning : nullptr;
}

int32_t ImageReadBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry)
{
    return MappedReadBlocks(buffer, count, first, entry, ImageReadSectors);
}

int32_t ImageWriteBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry)
{
    return MappedWriteBlocks(buffer, count, first, entry, ImageReadSectors, ImageWriteSectors);
}

int32_t ImageReadSectors(uint8_t* buffer, uint32_t count, uint32_t first, const DriveEntry* entry)
{
    ImageSlot* slot = SlotOf(entry);
    if (slot == nullptr || slot->file == kNoFile) return -1;
    ++slot->faults.reads;
    if (slot->faults.reads == slot->faults.failReadAt) return 0;

    const uint32_t n = SectorsAvailable(*slot, count, first);
    if (n == 0) return 0;
    const uint64_t bytes = uint64_t{n} * slot->sectorSize;
    const int64_t got = FileReadAt(slot->file, buffer, static_cast<size_t>(bytes),
                                   slot->dataOffset + uint64_t{first} * slot->sectorSize);
    if (got < 0) return -2;
    // The file may have shrunk since it was opened: count only whole sectors read.
    return static_cast<int32_t>(static_cast<uint64_t>(got) / slot->sectorSize);
}

int32_t ImageWriteSectors(uint8_t* buffer, uint32_t count, uint32_t first, const DriveEntry* entry)
{
    ImageSlot* slot = SlotOf(entry);
    if (slot == nullptr || !slot->writable || slot->file == kNoFile) return -1;
    ++slot->faults.writes;
    if (slot->faults.writes == slot->faults.failWriteAt) {
        slot->writeFailed = true;
        return 0;
    }

    const uint32_t n = SectorsAvailable(*slot, count, first);
    if (n == 0) {
        slot->writeFailed = true;
        return 0;
    }
    const uint64_t bytes = uint64_t{n} * slot->sectorSize;
    const int64_t put = FileWriteAt(slot->file, buffer, static_cast<size_t>(bytes),
                                    slot->dataOffset + uint64_t{first} * slot->sectorSize);
    if (put > 0) slot->written = true;
    if (put < static_cast<int64_t>(slot->sectorSize)) slot->writeFailed = true;
    if (put < 0) return -2;
    return static_cast<int32_t>(static_cast<uint64_t>(put) / slot->sectorSize);
}
