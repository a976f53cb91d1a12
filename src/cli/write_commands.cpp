// The commands that change a volume: mkdir, rm, rename, settype. Each ends
// with a flush when it succeeded; a failure leaves the volume as it was at
// the last flush (the unflushed changes are dropped with the process).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/prefs.h"
#include "core/status.h"
#include "hfs/btree_search.h"
#include "hfs/catalog_keys.h"
#include "hfs/catalog_ops.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"

namespace {

// Deletions between two flushes while a tree is removed.
constexpr unsigned kDeletesPerFlush = 16;

// A Mac name from a UTF-8 argument; false (with a message) when it cannot
// be one.
bool MacNameArgument(const std::string& utf8, uint8_t* name)
{
    const std::string ansi = Utf8ToAnsi(utf8);
    if (ansi.size() > kMaxMacName) {
        Fail("name longer than 31 characters: " + utf8);
        return false;
    }
    PcNameToMac(name, ansi.c_str());
    if (!IsValidMacName(name)) {
        Fail("a Mac name needs 1 to 31 characters and no colon: " + utf8);
        return false;
    }
    return true;
}

// Splits "A:B:C" into the parent path "A:B" and the last name "C".
void SplitLast(const std::string& path, std::string* parent, std::string* last)
{
    std::string trimmed = path;
    while (!trimmed.empty() && trimmed.back() == ':') trimmed.pop_back();
    const size_t colon = trimmed.rfind(':');
    *parent = colon == std::string::npos ? "" : trimmed.substr(0, colon);
    *last = colon == std::string::npos ? trimmed : trimmed.substr(colon + 1);
}

// What a missing item means to a command that was just told it is there.
void MissingIsBadNode(Lookup found)
{
    if (found == Lookup::Missing && StatusCode == 0) StatusCode = kStatusBadNode;
}

MacFolder FolderOf(const MacPathTarget& folder)
{
    MacFolder out{folder.parentId, {}, folder.id};
    std::memcpy(out.name, folder.name, sizeof out.name);
    return out;
}

int Flush()
{
    FlushVolume();
    return StatusCode == 0 ? kExitOk : FailWithStatus();
}

// Deletes everything inside `top`, deepest first. The whole tree is walked
// before the first deletion, so a tree that loops or nests too deep is
// refused with nothing deleted.
bool EmptyFolder(const MacPathTarget& top, unsigned* deletes)
{
    std::vector<WalkedFolder> order;  // every folder before the folders inside it
    FolderVisitor visitor;
    visitor.listed = [&order](const WalkedFolder& folder, std::vector<MacItem>&) {
        order.push_back(folder);
        return true;
    };
    visitor.item = [](const WalkedFolder&, const MacItem& item, size_t) { return item.size != 0; };
    if (!WalkFolderTree({FolderOf(top), 0}, visitor)) return false;
    for (size_t k = order.size(); k-- > 0;) {
        const WalkedFolder& folder = order[k];
        uint16_t valence = 0;
        std::vector<MacItem> items;
        if (!FolderValence(folder.parentId, folder.name, &valence) || !ListFolder(folder.id, valence, &items))
            return false;
        for (const MacItem& item : items) {
            bool deleted = item.kind == kItemFile;
            const Lookup found = deleted ? DeleteFileIn(folder, item.name)
                                         : DeleteEmptyFolderIn(folder, item.name, &deleted);
            MissingIsBadNode(found);
            if (!deleted && StatusCode == 0) ReportCorruption("folder not empty after emptying it");
            if (StatusCode != 0) return false;
            if (++*deletes % kDeletesPerFlush == 0) FlushVolume();
        }
        if (StatusCode != 0) return false;
    }
    return true;
}

}  // namespace

int CommandMkdir(const CliArgs& args)
{
    if (args.positional.size() != 2) return UsageError("mkdir takes IMAGE[@N] MACPATH");
    std::string parentPath;
    std::string last;
    SplitLast(args.positional[1], &parentPath, &last);
    uint8_t name[32];
    if (!MacNameArgument(last, name)) return kExitFailed;
    if (!OpenImageVolume(args.positional[0], true)) return kExitFailed;
    MacPathTarget parent;
    if (!ResolveCliPath(parentPath, &parent)) return kExitFailed;
    if (parent.kind != kItemFolder) return Fail("not a folder: " + parentPath);
    CreateFolderIn(FolderOf(parent), name);
    if (StatusCode != 0) return FailWithStatus(args.positional[1]);
    return Flush();
}

int CommandRm(const CliArgs& args)
{
    if (args.positional.size() < 2) return UsageError("rm takes IMAGE[@N] MACPATH...");
    CurrentOptions.hideInvisible = false;
    if (!OpenImageVolume(args.positional[0], true)) return kExitFailed;
    const bool recursive = args.Has("-r");
    for (size_t p = 1; p < args.positional.size(); ++p) {
        const std::string& path = args.positional[p];
        MacPathTarget target;
        MacPathTarget parent;
        if (!ResolveCliPath(path, &target, &parent)) return kExitFailed;
        if (target.parentId == kRootParentId) return Fail("the root folder cannot be deleted");
        unsigned deletes = 0;
        bool deleted = target.kind == kItemFile;
        if (!deleted) {
            uint16_t valence = 0;
            std::vector<MacItem> items;
            if (!FolderValence(target.parentId, target.name, &valence) || !ListFolder(target.id, valence, &items))
                return FailWithStatus();
            if (!items.empty() && !recursive) return Fail("folder not empty (use -r): " + path);
            if (!EmptyFolder(target, &deletes)) return FailWithStatus();
        }
        const Lookup found = deleted ? DeleteFileIn(FolderOf(parent), target.name)
                                     : DeleteEmptyFolderIn(FolderOf(parent), target.name, &deleted);
        MissingIsBadNode(found);
        if (!deleted && StatusCode == 0) return Fail("could not delete: " + path);
        if (StatusCode != 0) return FailWithStatus();
        FlushVolume();
        if (StatusCode != 0) return FailWithStatus();
    }
    return kExitOk;
}

int CommandRename(const CliArgs& args)
{
    if (args.positional.size() != 3) return UsageError("rename takes IMAGE[@N] MACPATH NEWNAME");
    uint8_t name[32];
    if (!MacNameArgument(args.positional[2], name)) return kExitFailed;
    CurrentOptions.hideInvisible = false;
    if (!OpenImageVolume(args.positional[0], true)) return kExitFailed;
    MacPathTarget target;
    MacPathTarget parent;
    if (!ResolveCliPath(args.positional[1], &target, &parent)) return kExitFailed;
    if (target.parentId == kRootParentId) return Fail("renaming the volume is not supported");
    MissingIsBadNode(RenameItemIn(FolderOf(parent), target.name, name));
    if (StatusCode != 0) return FailWithStatus();
    return Flush();
}

int CommandSettype(const CliArgs& args)
{
    if (args.positional.size() != 4) return UsageError("settype takes IMAGE[@N] MACPATH TYPE CREATOR");
    uint8_t codes[2][32];
    for (int i = 0; i < 2; ++i) {
        const std::string ansi = Utf8ToAnsi(args.positional[2 + i]);
        if (ansi.size() != 4) return UsageError("TYPE and CREATOR are four characters each");
        PcNameToMac(codes[i], ansi.c_str());
    }
    CurrentOptions.hideInvisible = false;
    if (!OpenImageVolume(args.positional[0], true)) return kExitFailed;
    MacPathTarget target;
    MacPathTarget parent;
    if (!ResolveCliPath(args.positional[1], &target, &parent)) return kExitFailed;
    if (target.kind != kItemFile) return Fail("not a file: " + args.positional[1]);
    MissingIsBadNode(SetTypeCreatorIn(FolderOf(parent), target.name, codes[0] + 1, codes[1] + 1));
    if (StatusCode != 0) return FailWithStatus();
    return Flush();
}
