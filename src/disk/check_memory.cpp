// One small record per checked volume in the user's cache directory. Its one
// line names the state of the image the check saw: the file (device and
// inode, or volume serial and file index), its size, its change and
// modification times, where the volume starts and a hash of the volume's
// master directory block.
//
// Why that state is enough: every write to the file by any program moves its
// change time, which no program can set back, and every HFS writer rewrites
// the master directory block (its write count, modification date, free
// count). The record is trusted only when its own modification time is later
// than the image's change time. On a file system whose times move in coarse
// ticks, a write landing in the same tick as ours would leave the change time
// equal, so a record made within that tick is simply not trusted. The record
// is written once, its status read, then written again: a file system with
// fine-grained times stamps that second write later than every change it
// stamped before, the image's included.
#include "disk/check_memory.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "disk/image_drive.h"
#include "platform/platform.h"

namespace {

constexpr char kRecordHeader[] = "quaylink clean check 1\n";
constexpr char kRecordSuffix[] = ".check";
// Records beyond this many (the least recently written first) are dropped.
constexpr size_t kMaxRecords = 64;

struct ImageState {
    FileIdentity file;
    uint32_t volumeBlock;
    uint64_t masterBlockHash;
};

uint64_t Fnv1a(const void* data, size_t size, uint64_t hash = 14695981039346656037ull)
{
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
    return hash;
}

bool CurrentState(const ImageSlot& slot, uint32_t volumeBlock, ImageState* state)
{
    if (!GetFileIdentity(slot.file, &state->file) || !state->file.regular) return false;
    uint8_t masterBlock[kBlockSize];
    const uint64_t at = slot.dataOffset + (uint64_t{volumeBlock} + 2) * kBlockSize;
    if (FileReadAt(slot.file, masterBlock, sizeof masterBlock, at) != static_cast<int64_t>(sizeof masterBlock))
        return false;
    state->volumeBlock = volumeBlock;
    state->masterBlockHash = Fnv1a(masterBlock, sizeof masterBlock);
    return true;
}

std::string RecordText(const ImageState& state)
{
    char line[200];
    std::snprintf(line, sizeof line, "%" PRIu64 " %" PRIu64 " %" PRIu32 " %" PRId64 " %" PRId64 " %" PRId64 " %016" PRIx64 "\n",
                  state.file.device, state.file.file, state.volumeBlock, state.file.size, state.file.changedNs,
                  state.file.modifiedNs, state.masterBlockHash);
    return kRecordHeader + std::string(line);
}

bool RecordDirectory(std::string* directory)
{
    char cache[1024];
    if (!GetUserCacheDir(cache, sizeof cache)) return false;
    *directory = std::string(cache) + PathSeparator() + "quaylink";
    return true;
}

// The record of one volume of one file: named after the file's identity and
// where the volume starts, so that each volume has one record to replace.
std::string RecordName(const ImageState& state)
{
    uint64_t hash = Fnv1a(&state.file.device, sizeof state.file.device);
    hash = Fnv1a(&state.file.file, sizeof state.file.file, hash);
    hash = Fnv1a(&state.volumeBlock, sizeof state.volumeBlock, hash);
    char name[40];
    std::snprintf(name, sizeof name, "%016" PRIx64 "%s", hash, kRecordSuffix);
    return name;
}

struct RecordEntry {
    std::string name;
    int64_t modified;
};

bool CollectRecord(const DirEntry& entry, void* context)
{
    const size_t length = std::strlen(entry.name);
    const size_t suffix = sizeof kRecordSuffix - 1;
    if (!entry.isDirectory && length > suffix && std::strcmp(entry.name + length - suffix, kRecordSuffix) == 0)
        static_cast<std::vector<RecordEntry>*>(context)->push_back({entry.name, entry.modified});
    return true;
}

void DropOldestRecords(const std::string& directory)
{
    std::vector<RecordEntry> records;
    if (!ListDir(directory.c_str(), CollectRecord, &records) || records.size() <= kMaxRecords) return;
    std::sort(records.begin(), records.end(),
              [](const RecordEntry& a, const RecordEntry& b) { return a.modified < b.modified; });
    for (size_t i = 0; i + kMaxRecords < records.size(); ++i)
        FileDelete((directory + PathSeparator() + records[i].name).c_str());
}

}  // namespace

bool CleanCheckRemembered(const DriveEntry* entry, uint32_t volumeBlock)
{
    const ImageSlot* slot = ImageSlotOfDrive(entry);
    ImageState state;
    std::string directory;
    if (slot == nullptr || !CurrentState(*slot, volumeBlock, &state) || !RecordDirectory(&directory)) return false;
    const FileHandle record = FileOpen((directory + PathSeparator() + RecordName(state)).c_str(), FileMode::Read);
    if (record == kNoFile) return false;
    const std::string expected = RecordText(state);
    std::string text(expected.size() + 1, '\0');
    const int64_t got = FileReadAt(record, text.data(), text.size(), 0);
    FileIdentity recordFile;
    const bool known = GetFileIdentity(record, &recordFile);
    FileClose(record);
    return known && recordFile.regular && got == static_cast<int64_t>(expected.size()) &&
           text.compare(0, expected.size(), expected) == 0 && recordFile.modifiedNs > state.file.changedNs;
}

void RememberCleanCheck(const DriveEntry* entry, uint32_t volumeBlock)
{
    const ImageSlot* slot = ImageSlotOfDrive(entry);
    ImageState state;
    std::string directory;
    if (slot == nullptr || slot->writeFailed || !CurrentState(*slot, volumeBlock, &state) ||
        !RecordDirectory(&directory))
        return;
    const size_t parent = directory.rfind(PathSeparator());
    if (!IsDirectory(directory.c_str())) {
        if (parent != std::string::npos) MakeDir(directory.substr(0, parent).c_str());
        MakeDir(directory.c_str());
    }
    const std::string path = directory + PathSeparator() + RecordName(state);
    const std::string fresh = path + ".new";
    const std::string text = RecordText(state);
    const FileHandle record = FileOpen(fresh.c_str(), FileMode::Create);
    if (record == kNoFile) return;
    // Written twice with a look at its status between: see the top of the
    // file. Positioned calls, which the PC-side fault hooks of the tests
    // leave alone: the record is not part of any copy.
    FileIdentity ignored;
    const bool written = FileWriteAt(record, text.data(), text.size(), 0) == static_cast<int64_t>(text.size()) &&
                         GetFileIdentity(record, &ignored) && FileWriteAt(record, text.data(), 1, 0) == 1;
    FileClose(record);
    if (!written || !FileReplace(fresh.c_str(), path.c_str())) {
        FileDelete(fresh.c_str());
        return;
    }
    DropOldestRecords(directory);
}
