// The commands that only read: volumes, ls, cat, info. None of them writes
// to the image, not even a date.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "disk/status.h"
#include "hfs/btree_search.h"
#include "hfs/catalog_keys.h"
#include "hfs/fork_io.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "hfs/mac_time.h"
#include "hfs/volume.h"
#include "hfs/volume_scan.h"
#include "ui/format_text.h"
#include "ui/main_state.h"
#include "ui/prefs.h"

namespace {

std::string MacDateText(uint32_t macDate)
{
    if (macDate == 0) return "-";
    const std::time_t t = static_cast<std::time_t>(MacDateToUnix(macDate));
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0) return "-";
#else
    if (!localtime_r(&t, &local)) return "-";
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string Bytes(uint64_t n)
{
    char digits[24];
    std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(n));
    if (std::strlen(digits) <= 11) InsertThousands(digits);
    return std::string(digits) + " bytes";
}

std::string FourChars(const uint8_t* p)
{
    uint8_t name[5] = {4, p[0], p[1], p[2], p[3]};
    return MacNameUtf8(name);
}

bool ApplySortOption(const CliArgs& args)
{
    const std::string* sort = args.Option("--sort");
    if (!sort) return true;
    static const std::pair<const char*, uint16_t> kOrders[] = {
        {"name", kSortByName}, {"type", kSortByType}, {"creator", kSortByCreator},
        {"size", kSortBySize}, {"date", kSortByDate}};
    for (const auto& [word, id] : kOrders) {
        if (*sort == word) {
            MacSortId = id;
            return true;
        }
    }
    UsageError("--sort takes name, type, creator, size or date");
    return false;
}

void PrintPaneLines()
{
    char line[96];
    for (unsigned i = 0; i < MacPaneState.count; ++i) {
        FormatMacItemLine(line, i);
        PrintAnsi(std::string(line) + "\n");
    }
}

// Lists `folder` and, with `recursive`, every folder below it, each under a
// "path:" header. The pane's list is rebuilt per folder, so the subfolders
// are collected before descending.
bool ListTree(const MacPathTarget& folder, const std::string& path, bool recursive, bool header)
{
    if (!ShowMacFolder(folder)) return false;
    if (header) PrintAnsi((path.empty() ? std::string(":") : path + ":") + "\n");
    PrintPaneLines();
    if (!recursive) return true;
    std::vector<MacPathTarget> children;
    for (unsigned i = 0; i < MacPaneState.count; ++i) {
        const MacItem* item = MacPaneState.items[i];
        if (item->kind != kItemFolder) continue;
        MacPathTarget child{folder.id, {}, kItemFolder, item->id};
        std::memcpy(child.name, item->name, sizeof child.name);
        children.push_back(child);
    }
    for (const MacPathTarget& child : children) {
        char pcName[kMaxMacName + 1];
        MacNameToPc(pcName, child.name, true);
        PrintAnsi("\n");
        if (!ListTree(child, path + (path.empty() ? "" : ":") + pcName, true, true)) return false;
    }
    return true;
}

}  // namespace

int CommandVolumes(const CliArgs& args)
{
    if (args.positional.size() != 1) return UsageError("volumes takes IMAGE");
    if (!OpenImageOnly(args.positional[0], false)) return kExitFailed;
    for (unsigned i = 0; i < MacPaneState.count; ++i) {
        const MacItem* v = MacPaneState.items[i];
        std::printf("%u %u %u %s", i + 1, v->size, v->resourceSize, MacNameUtf8(v->name).c_str());
        const ScannedVolume* found = ScannedVolumeAt(i);
        if (found && !found->problem.empty())
            std::printf(" (not opened: %s)", found->problem.c_str());
        else if (found && !found->readOnlyReason.empty())
            std::printf(" (read only: %s)", found->readOnlyReason.c_str());
        std::printf("\n");
    }
    return kExitOk;
}

int CommandLs(const CliArgs& args)
{
    if (args.positional.empty() || args.positional.size() > 2) return UsageError("ls takes IMAGE[@N] [MACPATH]");
    if (!ApplySortOption(args)) return kExitUsage;
    Prefs.HideInvisible = args.Has("-a") ? 0 : 1;
    if (!OpenImageVolume(args.positional[0], false)) return kExitFailed;
    MacPathTarget target;
    const std::string path = args.positional.size() > 1 ? args.positional[1] : "";
    if (!ResolveCliPath(path, &target)) return kExitFailed;
    if (target.kind != kItemFolder) return Fail("not a folder: " + path);
    const bool recursive = args.Has("-R");
    std::string headerPath;
    for (const std::string& part : SplitMacPath(Utf8ToAnsi(path).c_str())) headerPath += (headerPath.empty() ? "" : ":") + part;
    if (!ListTree(target, headerPath, recursive, recursive)) return FailWithStatus();
    return kExitOk;
}

int CommandCat(const CliArgs& args)
{
    if (args.positional.size() != 2) return UsageError("cat takes IMAGE[@N] MACPATH");
    if (!OpenImageVolume(args.positional[0], false)) return kExitFailed;
    MacPathTarget target;
    if (!ResolveCliPath(args.positional[1], &target)) return kExitFailed;
    if (target.kind != kItemFile) return Fail("not a file: " + args.positional[1]);
    ForkRef ref;
    if (LookupFile(target.name, target.parentId, &ref) != 0) return FailWithStatus();
    PinBlock(ref.recordBuffer);
    const uint8_t fork = args.Has("--rsrc") ? kResourceFork : kDataFork;
    uint64_t remaining = GetU32(ref.recordBuffer->data + ref.recordOffset + ForkLogicalOffset(fork));
    std::vector<uint8_t> buffer(MaxTransferBytes);
    uint32_t block = 0;
    while (remaining > 0) {
        const uint16_t wanted = static_cast<uint16_t>(
            std::min<uint64_t>((remaining + 511) / 512, MaxTransferBytes / 512));
        const uint16_t got = ReadForkBlocks(buffer.data(), block, wanted, fork, &ref);
        if (got == 0) {
            UnpinBlock(ref.recordBuffer);
            return FailWithStatus();
        }
        const uint64_t bytes = std::min<uint64_t>(remaining, uint64_t{got} * 512);
        if (std::fwrite(buffer.data(), 1, bytes, stdout) != bytes) {
            UnpinBlock(ref.recordBuffer);
            return Fail("could not write to standard output");
        }
        remaining -= bytes;
        block += got;
    }
    UnpinBlock(ref.recordBuffer);
    return kExitOk;
}

int CommandInfo(const CliArgs& args)
{
    if (args.positional.empty() || args.positional.size() > 2) return UsageError("info takes IMAGE[@N] [MACPATH]");
    if (!OpenImageVolume(args.positional[0], false)) return kExitFailed;
    const uint8_t* mdb = MacVolume.mdb->data;
    if (args.positional.size() == 1) {
        const uint64_t blockBytes = uint64_t{MacVolume.allocBlockSize} * 512;
        std::printf("Volume: %s\n", MacNameUtf8(mdb + kMdbVolumeName).c_str());
        std::printf("Created: %s\n", MacDateText(GetU32(mdb + kMdbCreated)).c_str());
        std::printf("Modified: %s\n", MacDateText(GetU32(mdb + kMdbModified)).c_str());
        std::printf("Size: %s (%u blocks of 512 bytes)\n", Bytes(uint64_t{MacVolume.volumeSize} * 512).c_str(),
                    MacVolume.volumeSize);
        std::printf("Allocation blocks: %u of %s\n", GetU16(mdb + kMdbAllocBlocks), Bytes(blockBytes).c_str());
        std::printf("Free: %s (%u allocation blocks)\n", Bytes(GetU16(mdb + kMdbFreeBlocks) * blockBytes).c_str(),
                    GetU16(mdb + kMdbFreeBlocks));
        std::printf("Files: %u\n", GetU32(mdb + kMdbFileCount));
        std::printf("Folders: %u\n", GetU32(mdb + kMdbFolderCount));
        std::printf("Next ID: %u\n", GetU32(mdb + kMdbNextCatalogId));
        // Without its backup copy a volume can only be opened read only.
        const bool backup = MacVolume.volumeSize >= 2 &&
                            ReadDeviceBlocks(ScratchBuffer, 1, MacVolume.partitionStart + MacVolume.volumeSize - 2) == 1 &&
                            GetU16(ScratchBuffer) == kHfsSignature;
        StatusCode = 0;
        std::printf("Backup MDB: %s\n", backup ? "present" : "missing");
        if (MacVolume.writeRefusal) std::printf("Read only: %s\n", MacVolume.writeRefusal);
        if (const char* warning = DriveImageWarning(&DriveTable[MacDriveIndex]))
            std::printf("Image warning: %s\n", warning);
        return kExitOk;
    }
    MacPathTarget target;
    if (!ResolveCliPath(args.positional[1], &target)) return kExitFailed;
    BlockBuffer* leaf = nullptr;
    uint16_t offset = 0;
    if (SearchCatalog(CatalogRoot(), target.parentId, target.name, nullptr, &offset, &leaf) != 0)
        return FailWithStatus();
    const uint8_t* d = leaf->data + RecordDataOffset(leaf, offset);
    std::printf("Name: %s\n", MacNameUtf8(target.name).c_str());
    if (target.kind == kItemFolder) {
        std::printf("Kind: folder\n");
        std::printf("Items: %u\n", GetU16(d + kFolderValence));
        std::printf("Created: %s\n", MacDateText(GetU32(d + kFolderCreated)).c_str());
        std::printf("Modified: %s\n", MacDateText(GetU32(d + kFolderModified)).c_str());
    } else {
        std::printf("Kind: file\n");
        std::printf("Type: %s\n", FourChars(d + kFileType).c_str());
        std::printf("Creator: %s\n", FourChars(d + kFileCreator).c_str());
        std::printf("Finder flags: 0x%04X%s\n", GetU16(d + kFileFinderFlags),
                    (d[kFileFinderFlags] & kFinderInvisibleByteBit) ? " (invisible)" : "");
        std::printf("Data fork: %s\n", Bytes(GetU32(d + kFileRecDataLogical)).c_str());
        std::printf("Resource fork: %s\n", Bytes(GetU32(d + kFileRecRsrcLogical)).c_str());
        std::printf("Created: %s\n", MacDateText(GetU32(d + kFileCreated)).c_str());
        std::printf("Modified: %s\n", MacDateText(GetU32(d + kFileModified)).c_str());
    }
    std::printf("ID: %u\n", target.id);
    return kExitOk;
}
