#include "transfer/delete_walks.h"

#include <vector>

#include "core/prefs.h"
#include "core/progress.h"
#include "core/status.h"
#include "hfs/catalog_ops.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "platform/platform.h"
#include "transfer/pc_items.h"

namespace {

// Items of a folder deleted between two write-backs.
constexpr size_t kMacDeletesPerFlush = 16;

// ---- PC ------------------------------------------------------------------------

struct PcEntry {
    std::string name;  // native
    PathKind kind;
    uint64_t size;
    bool keep;         // a directory something inside stayed in: not tried again
};

struct PcFrame {
    std::string path;   // native
    std::string shown;  // below the pane's directory, Windows-1252
    size_t parentEntry;
    std::vector<PcEntry> entries;
    size_t next = 0;
    bool emptying = false;  // the first loop (into directories) is done
    bool leftBehind = false;
};

bool AddPcEntry(const DirEntry& entry, void* context)
{
    static_cast<std::vector<PcEntry>*>(context)->push_back({entry.name, entry.kind, entry.size, false});
    return true;
}

std::string JoinNative(const std::string& directory, const std::string& name)
{
    std::string path = directory;
    if (!path.empty() && path.back() != '/' && path.back() != PathSeparator()) path += PathSeparator();
    return path + name;
}

std::string ShownName(const std::string& nativeName)
{
    char ansi[1024];
    if (!NativeToAnsi(nativeName.c_str(), ansi, sizeof ansi)) ansi[0] = 0;
    return ansi;
}

std::string JoinShown(const std::string& shown, const std::string& nativeName)
{
    return shown.empty() ? ShownName(nativeName) : shown + PathSeparator() + ShownName(nativeName);
}

uint16_t PcKind(PathKind kind)
{
    switch (kind) {
        case PathKind::Directory: return kPcDirectory;
        case PathKind::Regular: return kPcFile;
        case PathKind::Link: return kPcLink;
        default: return kPcSpecial;
    }
}

// Lists a directory the walk enters. It must still be a directory, not a
// link put in its place since it was listed: a link is never entered.
bool EnterPcDirectory(PcFrame* frame, unsigned depth)
{
    if (depth > kPcDeleteDepthLimit || GetPathKind(frame->path.c_str()) != PathKind::Directory ||
        !ListDir(frame->path.c_str(), AddPcEntry, &frame->entries)) {
        StatusCode = kStatusPcDeleteError;
        return false;
    }
    return true;
}

// ---- Mac -----------------------------------------------------------------------

struct MacFrame {
    WalkedFolder folder;
    std::vector<MacItem> items;
    size_t next = 0;
    bool emptying = false;
};

// Listings during the walk show invisible files too; the setting comes back
// when the walk ends.
class InvisibleFilesListed {
public:
    InvisibleFilesListed() : saved_(CurrentOptions.hideInvisible) { CurrentOptions.hideInvisible = false; }
    ~InvisibleFilesListed() { CurrentOptions.hideInvisible = saved_; }
    InvisibleFilesListed(const InvisibleFilesListed&) = delete;
    InvisibleFilesListed& operator=(const InvisibleFilesListed&) = delete;

private:
    bool saved_;
};

bool EnterMacFolder(FolderWalk* bound, MacFrame* frame, uint16_t valence)
{
    return EnterWalkedFolder(bound, frame->folder.id, frame->folder.depth) &&
           ListFolder(frame->folder.id, valence, &frame->items);
}

// Deletes one item of a folder whose subfolders were emptied.
void DeleteMacEntry(const MacFolder& folder, const MacItem& item)
{
    bool deleted = item.kind == kItemFile;
    const Lookup found = deleted ? DeleteFileIn(folder, item.name) : DeleteEmptyFolderIn(folder, item.name, &deleted);
    if (found == Lookup::Missing && StatusCode == 0) StatusCode = kStatusBadNode;
    // The folder was listed whole and emptied: items its valence did not
    // count mean the catalog disagrees with itself.
    if (!deleted && StatusCode == 0) ReportCorruption("folder not empty after its items were deleted");
}

}  // namespace

bool RemovePcName(const std::string& path, uint16_t kind)
{
    const char* name = path.c_str();
    if (kind == kPcDirectory) return RemoveDir(name);
    if (FileDelete(name)) return true;
    // Windows keeps a junction or a link to a directory as a directory
    // entry; removing that entry leaves the target alone. Elsewhere a link
    // is never a directory and this fails.
    return kind == kPcLink && RemoveDir(name);
}

void WalkPcDelete(DeleteWalk* walk, const std::string& directory, const std::string& shown)
{
    if (StatusCode != 0) return;
    std::vector<PcFrame> stack;
    stack.push_back(PcFrame{directory, shown, 0, {}});
    if (walk->mode == kDeleteCount && walk->entered) walk->entered(*walk);
    if (!EnterPcDirectory(&stack.back(), 0)) return;
    while (!stack.empty() && StatusCode == 0) {
        PcFrame& frame = stack.back();
        if (!frame.emptying) {
            // First loop: the directories inside, each walked before the next item.
            bool descended = false;
            while (frame.next < frame.entries.size() && StatusCode == 0) {
                PumpMessages();
                const size_t at = frame.next++;
                const PcEntry& entry = frame.entries[at];
                if (StatusCode != 0 || entry.kind != PathKind::Directory) continue;
                PcFrame child{JoinNative(frame.path, entry.name), JoinShown(frame.shown, entry.name), at, {}};
                const unsigned depth = static_cast<unsigned>(stack.size());
                if (walk->mode == kDeleteCount && walk->entered) walk->entered(*walk);
                stack.push_back(std::move(child));
                if (!EnterPcDirectory(&stack.back(), depth)) return;
                descended = true;
                break;
            }
            if (descended || StatusCode != 0) continue;
            frame.emptying = true;
            frame.next = 0;
        }
        // Second loop: every item, removed (mode 1) or counted (mode 0).
        for (; frame.next < frame.entries.size(); ++frame.next) {
            PumpMessages();
            if (StatusCode != 0) break;
            const PcEntry& entry = frame.entries[frame.next];
            if (walk->mode == kDeleteCount) {
                if (entry.kind != PathKind::Directory) {
                    ++walk->files;
                    if (entry.kind == PathKind::Regular) walk->bytes += entry.size;
                }
                continue;
            }
            SetProgressItemText(ShownName(entry.name).c_str());
            if (entry.keep) {
                frame.leftBehind = true;
            } else if (!RemovePcName(JoinNative(frame.path, entry.name), PcKind(entry.kind))) {
                frame.leftBehind = true;
                if (walk->notDeleted++ == 0) walk->firstNotDeleted = JoinShown(frame.shown, entry.name);
            }
            AdvanceProgress(1);
        }
        if (StatusCode != 0) break;
        const bool leftBehind = frame.leftBehind;
        const size_t parentEntry = frame.parentEntry;
        stack.pop_back();
        if (leftBehind && !stack.empty()) stack.back().entries[parentEntry].keep = true;
    }
}

void WalkMacDelete(DeleteWalk* walk, const MacFolder& folder)
{
    if (StatusCode != 0) return;
    InvisibleFilesListed everything;
    FolderWalk bound = StartFolderWalk();
    uint16_t valence = 0;
    if (!FolderValence(folder.parentId, folder.name, &valence)) return;
    std::vector<MacFrame> stack;
    stack.push_back(MacFrame{WalkedFolder{folder, 0}, {}});
    if (walk->mode == kDeleteCount && walk->entered) walk->entered(*walk);
    if (!EnterMacFolder(&bound, &stack.back(), valence)) return;
    while (!stack.empty() && StatusCode == 0) {
        MacFrame& frame = stack.back();
        if (!frame.emptying) {
            bool descended = false;
            while (frame.next < frame.items.size() && StatusCode == 0) {
                PumpMessages();
                const MacItem& item = frame.items[frame.next++];
                if (StatusCode != 0 || item.kind != kItemFolder) continue;
                MacFrame child{WalkedFolder{{frame.folder.id, {}, item.id}, frame.folder.depth + 1}, {}};
                Str31(item.name).CopyTo(child.folder.name);
                const uint16_t childValence = static_cast<uint16_t>(item.size);
                if (walk->mode == kDeleteCount && walk->entered) walk->entered(*walk);
                stack.push_back(std::move(child));
                if (!EnterMacFolder(&bound, &stack.back(), childValence)) return;
                descended = true;
                break;
            }
            if (descended || StatusCode != 0) continue;
            frame.emptying = true;
            frame.next = 0;
        }
        for (; frame.next < frame.items.size(); ++frame.next) {
            PumpMessages();
            if (StatusCode != 0) break;
            const MacItem& item = frame.items[frame.next];
            if (walk->mode == kDeleteCount) {
                if (item.kind == kItemFile) {
                    ++walk->files;
                    walk->bytes += static_cast<uint64_t>(item.size) + item.resourceSize;
                }
                continue;
            }
            char name[kMaxMacName + 1];
            MacNameToPc(name, item.name, true);
            SetProgressItemText(name);
            DeleteMacEntry(frame.folder, item);
            if (StatusCode != 0) break;
            if ((frame.next + 1) % kMacDeletesPerFlush == 0) FlushVolume();
            if (StatusCode != 0) break;
            AdvanceProgress(1);
        }
        if (StatusCode != 0) break;
        if (walk->mode == kDeleteRemove) FlushVolume();
        stack.pop_back();
    }
}
