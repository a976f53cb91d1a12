#include "volume_walk.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <unordered_set>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/btree_search.h"
#include "hfs/fork_io.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "ui/mac_pane.h"
#include "ui/mac_session.h"

namespace {

// A damaged medium can fail on every item: the list of failures is cut.
constexpr size_t kMaxStatusesKept = 256;

void Mix(uint64_t& digest, const void* bytes, size_t size)  // FNV-1a
{
    const auto* p = static_cast<const uint8_t*>(bytes);
    for (size_t i = 0; i < size; ++i) digest = (digest ^ p[i]) * 1099511628211ull;
}

void MixText(uint64_t& digest, const std::string& text) { Mix(digest, text.c_str(), text.size() + 1); }

std::string PcName(const uint8_t* macName)
{
    char pc[kMaxMacName + 1];
    MacNameToPc(pc, macName, true);
    return pc;
}

// The image slot behind the drive in use, when it is an image.
ImageSlot* CurrentImageSlot()
{
    if (MacDriveIndex >= DriveCount) return nullptr;
    const DriveEntry& drive = DriveTable[MacDriveIndex];
    if (drive.ReadSectors != ImageReadBlocks || drive.Unit >= kMaxImages) return nullptr;
    return ImageTable[drive.Unit].used ? &ImageTable[drive.Unit] : nullptr;
}

class Walker {
public:
    Walker(const WalkOptions& options, WalkSummary& summary) : options_(options), summary_(summary)
    {
        summary_.digest = 1469598103934665603ull;
    }

    // Every volume of the drive in use; `scanned`: its volume list is in the pane.
    void WalkDrive(bool scanned)
    {
        if (!scanned) {
            SelectMacDrive(MainWindow);
            if (Failed()) return;
        }
        summary_.driveOpened = true;
        summary_.volumes = MacPaneState.count;
        for (unsigned v = 0; v < summary_.volumes && !stop_; ++v) {
            if (v > 0 && StatusCode != 0) return;  // selecting the drive again starts a new command
            if (v > 0) {  // opening a volume replaced the pane's volume list
                SelectMacDrive(MainWindow);
                if (Failed()) continue;
                if (MacPaneState.count != summary_.volumes) {
                    Anomaly("a second scan of the same drive listed a different number of volumes");
                    return;
                }
            }
            const MacItem* volume = MacPaneState.items[v];
            Mix(summary_.digest, volume->name, 1u + volume->name[0]);
            if (!OpenListedVolume(v)) {
                if (StatusCode == 0) Anomaly("a volume did not open, without a status");
                Failed();
                continue;
            }
            ++summary_.volumesOpened;
            WalkFolders();
        }
    }

private:
    struct PendingFolder {
        MacPathTarget folder;
        std::string path;
        unsigned depth;
    };

    // Notes a failure; true when there was one.
    bool Failed()
    {
        if (StatusCode == 0) return false;
        if (summary_.firstStatus == 0) summary_.firstStatus = StatusCode;
        const bool carried = options_.onFailure == WalkFailure::CarryOn && !summary_.statuses.empty();
        if (!carried) {
            if (summary_.statuses.size() < kMaxStatusesKept) summary_.statuses.push_back(StatusCode);
        } else if (StatusCode != summary_.statuses.back()) {
            Anomaly("the status changed while a failed command carried on");
        }
        if (options_.onFailure == WalkFailure::ClearAndGoOn) StatusCode = 0;
        if (options_.onFailure == WalkFailure::Stop) stop_ = true;
        return true;
    }

    void Anomaly(const std::string& what)
    {
        if (summary_.anomalies.size() < kMaxStatusesKept) summary_.anomalies.push_back(what);
        if (options_.onFailure != WalkFailure::ClearAndGoOn) stop_ = true;
    }

    void WalkFolders()
    {
        MacPathTarget root;
        if (!ResolveMacPath("", &root)) {
            if (StatusCode == 0) Anomaly("the root folder was not found, without a status");
            Failed();
            return;
        }
        std::unordered_set<uint32_t> entered{root.id};
        std::vector<PendingFolder> pending{{root, "", 0}};
        while (!pending.empty() && !stop_) {
            const PendingFolder current = pending.back();
            pending.pop_back();
            if (!ShowMacFolder(current.folder)) {
                if (StatusCode == 0) Anomaly("a folder was not listed, without a status");
                Failed();
                continue;
            }
            ++summary_.folders;
            if (MacPaneState.count > 0 && !MacPaneState.items) {
                Anomaly("a listed folder has entries but no item array");
                return;
            }
            // The pane's list is rebuilt by every listing: keep copies.
            std::vector<MacItem> items;
            for (unsigned i = 0; i < MacPaneState.count; ++i) items.push_back(*MacPaneState.items[i]);

            MixText(summary_.digest, current.path);
            std::vector<std::string> names;
            for (const MacItem& item : items) {
                names.push_back(PcName(item.name));
                Mix(summary_.digest, &item.kind, sizeof item.kind);
                MixText(summary_.digest, names.back());
            }
            if (options_.onFolder) options_.onFolder(current.path, names);
            if (options_.climb && current.depth > 0) Climb(current.folder.parentId);
            if (stop_) return;

            const std::string prefix = current.path.empty() ? "" : current.path + ":";
            std::vector<PendingFolder> children;
            for (size_t i = 0; i < items.size() && !stop_; ++i) {
                const MacItem& item = items[i];
                if (item.kind == kItemFile) {
                    ReadFile(current.folder.id, item, prefix + names[i]);
                    continue;
                }
                if (item.kind != kItemFolder) {
                    Anomaly("a folder listing holds an entry that is neither folder nor file");
                    return;
                }
                if (current.depth + 1 > options_.maxDepth || !entered.insert(item.id).second) {
                    ++summary_.foldersNotEntered;
                    continue;
                }
                MacPathTarget child{current.folder.id, {}, kItemFolder, item.id};
                std::memcpy(child.name, item.name, sizeof child.name);
                children.push_back({child, prefix + names[i], current.depth + 1});
            }
            // Reversed, so that folders are entered in list order.
            pending.insert(pending.end(), children.rbegin(), children.rend());
        }
    }

    // Up one level from the folder in the pane (not above the root: that drops the volume).
    void Climb(uint32_t expectedFolder)
    {
        if (MacPaneState.parentId == kRootParentId) return;
        GoUpMacFolders(MainWindow, 1);
        if (Failed()) return;
        if (!VolumeIsOpen()) {
            Anomaly("going up one level dropped the volume");
            return;
        }
        ++summary_.climbs;
        if (MacPaneState.folderId != expectedFolder) ++summary_.climbsAstray;
    }

    void ReadFile(uint32_t parentId, const MacItem& item, const std::string& path)
    {
        ForkRef ref{};
        if (LookupFile(item.name, parentId, &ref) != 0) {
            if (StatusCode == 0) Anomaly("a listed file was not found, without a status");
            Failed();
            return;
        }
        // The record's node must stay in the cache while its forks are read.
        BlockData* record = ref.recordBuffer;
        const bool wasPinned = (record->flags & kBlockPinned) != 0;
        PinBlock(record);
        const bool read = ReadFork(ref, kDataFork, path) && ReadFork(ref, kResourceFork, path);
        if (!wasPinned) UnpinBlock(record);
        if (read) ++summary_.files;
    }

    bool ReadFork(ForkRef& ref, uint8_t fork, const std::string& path)
    {
        const uint32_t length = GetU32(ref.recordBuffer->data + ref.recordOffset + ForkLogicalOffset(fork));
        const uint32_t runBlocks = std::max<uint32_t>(1, MaxTransferBytes / kHfsBlockSize);
        std::vector<uint8_t> run(size_t{runBlocks} * kHfsBlockSize);
        std::vector<uint8_t> whole;
        uint64_t remaining = length;
        uint32_t block = 0;
        while (remaining > 0) {
            const uint64_t left = (remaining + kHfsBlockSize - 1) / kHfsBlockSize;
            const uint16_t wanted = static_cast<uint16_t>(std::min<uint64_t>(left, runBlocks));
            const uint16_t got = ReadForkBlocks(run.data(), block, wanted, fork, &ref);
            if (got == 0) {
                if (StatusCode == 0) Anomaly("a fork read returned no blocks, without a status");
                Failed();
                return false;
            }
            if (got > wanted) {
                Anomaly("a fork read returned more blocks than asked for");
                return false;
            }
            const uint64_t bytes = std::min<uint64_t>(remaining, uint64_t{got} * kHfsBlockSize);
            Mix(summary_.digest, run.data(), static_cast<size_t>(bytes));
            if (options_.onFork) whole.insert(whole.end(), run.data(), run.data() + bytes);
            summary_.bytes += bytes;
            remaining -= bytes;
            block += got;
        }
        if (options_.onFork) options_.onFork(path, fork, whole);
        return true;
    }

    const WalkOptions& options_;
    WalkSummary& summary_;
    bool stop_ = false;
};

// With `imagePath` the image is first opened as the only drive (which scans
// it); otherwise the drive in use is selected.
WalkSummary RunWalk(const WalkOptions& options, const char* imagePath)
{
    WalkSummary summary;
    const bool hideInvisible = CurrentOptions.hideInvisible;
    if (options.showInvisible) CurrentOptions.hideInvisible = false;
    const ImageSlot* before = imagePath ? nullptr : CurrentImageSlot();
    const uint32_t reads = before ? before->faults.reads : 0;
    const uint32_t writes = before ? before->faults.writes : 0;

    Walker walker(options, summary);
    if (imagePath && !OpenImageAsMacDrive(imagePath, options.writable, options.sectorSize)) {
        summary.firstStatus = StatusCode;
        if (StatusCode != 0) summary.statuses.push_back(StatusCode);
        if (options.onFailure == WalkFailure::ClearAndGoOn) StatusCode = 0;
    } else {
        walker.WalkDrive(imagePath != nullptr);
    }

    if (const ImageSlot* slot = CurrentImageSlot()) {
        summary.deviceReads = slot->faults.reads - reads;
        summary.deviceWrites = slot->faults.writes - writes;
    }
    CurrentOptions.hideInvisible = hideInvisible;
    return summary;
}

}  // namespace

WalkSummary WalkVolume(const char* imagePath, const WalkOptions& options)
{
    const WalkSummary summary = RunWalk(options, imagePath);
    const uint32_t status = StatusCode;
    CloseMacDrive();
    StatusCode = status;
    return summary;
}

WalkSummary WalkSelectedDrive(const WalkOptions& options) { return RunWalk(options, nullptr); }
