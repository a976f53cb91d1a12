// The commands that change a volume: mkdir, rm, rename, settype. Each ends
// with a flush when it succeeded; a failure leaves the volume as it was at
// the last flush (the unflushed changes are dropped with the process).
// rm -r runs the Mac pane's Delete command, which writes back as it goes.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_window.h"
#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "hfs/btree_search.h"
#include "hfs/catalog_keys.h"
#include "hfs/catalog_ops.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "ui/delete_commands.h"

namespace {

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

// Deletes `target` and everything in it through the Delete command of the
// Mac pane: its folder listed, the item selected, the command run.
// The warning and the confirmation are answered OK; a failure has been
// reported by the command's own message when this answers false.
bool DeleteThroughPane(CliWindow& ws, const MacPathTarget& parent, const MacPathTarget& target)
{
    if (!ShowMacFolder(parent)) return false;
    const int lines = ws.ListCount(kIdMacList);
    for (int line = 0; line < lines; ++line) {
        const intptr_t index = ws.ListItemData(kIdMacList, line);
        if (index < 0 || index >= MacPaneState.count) continue;
        const MacItem& item = *MacPaneState.items[index];
        if (item.id == target.id && item.kind == target.kind &&
            std::memcmp(item.name, target.name, target.name[0] + 1u) == 0)
            ws.ListSelect(kIdMacList, line, true);
    }
    if (ws.ListSelectedCount(kIdMacList) != 1) {
        if (StatusCode == 0) StatusCode = kStatusBadNode;
        return false;
    }
    const unsigned failures = ws.FailuresShown();
    DeleteOnMac(MainWindow);
    return ws.FailuresShown() == failures && !ws.Interrupted();
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
    CliWindow windowSystem;
    windowSystem.SetQuiet(args.Has("-q"));
    windowSystem.CatchInterrupt();
    WindowSystem* previous = &Ws();
    SetWindowSystem(&windowSystem);
    int status = kExitOk;
    for (size_t p = 1; p < args.positional.size() && status == kExitOk; ++p) {
        const std::string& path = args.positional[p];
        MacPathTarget target;
        MacPathTarget parent;
        if (!ResolveCliPath(path, &target, &parent)) {
            status = kExitFailed;
            break;
        }
        if (target.parentId == kRootParentId) {
            status = Fail("the root folder cannot be deleted");
            break;
        }
        if (recursive) {
            if (DeleteThroughPane(windowSystem, parent, target)) continue;
            if (windowSystem.Interrupted()) std::fprintf(stderr, "quaylink-cli: Cancelled\n");
            status = StatusCode != 0 ? FailWithStatus(path) : kExitFailed;
            continue;
        }
        bool deleted = target.kind == kItemFile;
        if (!deleted) {
            uint16_t valence = 0;
            if (!FolderValence(target.parentId, target.name, &valence)) {
                status = FailWithStatus();
                break;
            }
            if (valence != 0) {
                status = Fail("folder not empty (use -r): " + path);
                break;
            }
        }
        const Lookup found = deleted ? DeleteFileIn(FolderOf(parent), target.name)
                                     : DeleteEmptyFolderIn(FolderOf(parent), target.name, &deleted);
        MissingIsBadNode(found);
        if (!deleted && StatusCode == 0) status = Fail("could not delete: " + path);
        else if (StatusCode == 0) FlushVolume();
        if (StatusCode != 0) status = FailWithStatus();
    }
    SetWindowSystem(previous);
    return status;
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
