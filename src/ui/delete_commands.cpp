#include "ui/delete_commands.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/progress.h"
#include "core/status.h"
#include "hfs/catalog_ops.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "transfer/delete_walks.h"
#include "ui/format_text.h"
#include "ui/mac_pane.h"
#include "ui/pc_pane.h"

namespace {

constexpr const char* kPcFolderWarning =
    "You have selected directories for deletion. All files and\n"
    "subdirectories under these directories will also be deleted.";
constexpr const char* kMacFolderWarning =
    "You have selected folders for deletion. All files and\n"
    "subfolders under these folders will also be deleted.";

// A byte count with thousands separators (plain digits past 11 of them).
std::string ByteCountText(uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64, bytes);
    if (std::strlen(text) <= 11) InsertThousands(text);
    return text;
}

// The progress window's line while counting.
void ShowFound(const DeleteWalk& walk)
{
    char size[16];
    FormatSize(walk.bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(walk.bytes), size);
    char text[96];
    std::snprintf(text, sizeof text, "Files found: %lu\nTotal bytes: %s", static_cast<unsigned long>(walk.files),
                  size);
    SetProgressItemText(text);
}

// The warning about folders (when any is selected) and the counts; false
// when the user cancels either.
bool UserConfirms(WindowHandle window, bool folders, const char* warning, const DeleteWalk& walk,
                  const char* caption)
{
    WindowSystem& ws = Ws();
    if (folders && ws.ShowMessage(window, warning, "WARNING", kMbOkCancel) != kIdOk) return false;
    char text[128];
    std::snprintf(text, sizeof text, "Files to delete:\t%lu\nBytes to delete:\t%s",
                  static_cast<unsigned long>(walk.files), ByteCountText(walk.bytes).c_str());
    return ws.ShowMessage(window, text, caption, kMbOkCancel) == kIdOk;
}

struct SelectedLine {
    size_t line;
    size_t item;  // index into the pane's items: the line's item data
};

// The selected lines of `list` in list order; lines whose data names no item
// are left out.
std::vector<SelectedLine> SelectedItems(int list, size_t itemCount)
{
    WindowSystem& ws = Ws();
    std::vector<SelectedLine> items;
    const int lines = ws.ListCount(list);
    for (int line = 0; line < lines; ++line) {
        if (!ws.ListItemSelected(list, line)) continue;
        const intptr_t data = ws.ListItemData(list, line);
        if (data >= 0 && static_cast<size_t>(data) < itemCount)
            items.push_back({static_cast<size_t>(line), static_cast<size_t>(data)});
    }
    return items;
}

void NotDeleted(DeleteWalk* walk, const std::string& name)
{
    if (walk->notDeleted++ == 0) walk->firstNotDeleted = name;
}

// Names that stayed on the PC are no silent success: how many, and the first.
void ReportNotDeleted(WindowHandle window, const DeleteWalk& walk)
{
    if (walk.notDeleted == 0) return;
    char text[512];
    if (walk.notDeleted == 1)
        std::snprintf(text, sizeof text, "1 item could not be deleted: %s", walk.firstNotDeleted.c_str());
    else
        std::snprintf(text, sizeof text, "%lu items could not be deleted, the first: %s",
                      static_cast<unsigned long>(walk.notDeleted), walk.firstNotDeleted.c_str());
    Ws().ShowMessage(window, text, nullptr, kMbOk | kMbIconExclamation);
}

MacFolder SelectedFolder(const MacItem& item)
{
    MacFolder folder{MacPaneState.folderId, {}, item.id};
    std::memcpy(folder.name, item.name, sizeof folder.name);
    return folder;
}

}  // namespace

int DeleteOnPc(WindowHandle window)
{
    if (Ws().ListCount(kPcListControl) <= 0 || PcItemList.empty()) return 0;
    const std::vector<SelectedLine> selected = SelectedItems(kPcListControl, PcItemList.size());
    // Native paths of the selected items; an empty one has no native form.
    std::vector<std::string> paths(selected.size());
    for (size_t s = 0; s < selected.size(); ++s)
        if (!PcChildPath(PcDirectory, PcItemList[selected[s].item].name, &paths[s])) paths[s].clear();

    DeleteWalk walk;
    walk.entered = ShowFound;
    ProgressTotal = 0;
    ProgressFileCount = 0;
    OpenProgress(window, kProgressSearchPc);
    bool directories = false;
    for (size_t s = 0; s < selected.size() && StatusCode == 0; ++s) {
        PumpMessages();
        const PcItem& item = PcItemList[selected[s].item];
        if (item.kind != kPcDirectory) {
            ++walk.files;
            if (item.kind == kPcFile) walk.bytes += item.size;
            continue;
        }
        directories = true;
        if (paths[s].empty()) StatusCode = kStatusPcDeleteError;
        WalkPcDelete(&walk, paths[s], item.name);
    }
    if (StatusCode == 0) {
        CloseProgress();
        if (!UserConfirms(window, directories, kPcFolderWarning, walk, "Ready to delete files from PC disk")) return 0;
        ProgressFileCount = walk.files;
        ProgressTotal = walk.files;
        walk.mode = kDeleteRemove;
        OpenProgress(window, kProgressDeletePc);
        // First the selected directories emptied, then the selection removed.
        std::vector<bool> keep(selected.size(), false);  // a directory something inside stayed in
        for (size_t s = 0; s < selected.size() && StatusCode == 0; ++s) {
            if (PcItemList[selected[s].item].kind != kPcDirectory) continue;
            const uint32_t before = walk.notDeleted;
            WalkPcDelete(&walk, paths[s], PcItemList[selected[s].item].name);
            keep[s] = walk.notDeleted != before;
        }
        for (size_t s = 0; s < selected.size() && StatusCode == 0; ++s) {
            PumpMessages();
            if (StatusCode != 0) break;
            const PcItem& item = PcItemList[selected[s].item];
            SetProgressItemText(item.name.c_str());
            if (!keep[s] && (paths[s].empty() || !RemovePcName(paths[s], item.kind))) NotDeleted(&walk, item.name);
            AdvanceProgress(1);
        }
    }
    CloseProgress();
    ReportNotDeleted(window, walk);
    ReportStatus(window);
    RefreshPcListKeepTop(window);
    return 1;
}

int DeleteOnMac(WindowHandle window)
{
    if (Ws().ListCount(kIdMacList) <= 0 || !VolumeIsOpen() || MacPaneState.parentId == 0 || !MacPaneState.items)
        return 0;
    const std::vector<SelectedLine> selected = SelectedItems(kIdMacList, MacPaneState.count);

    DeleteWalk walk;
    walk.entered = ShowFound;
    ProgressTotal = 0;
    ProgressFileCount = 0;
    OpenProgress(window, kProgressSearchMac);
    bool folders = false;
    for (size_t s = 0; s < selected.size() && StatusCode == 0; ++s) {
        PumpMessages();
        const MacItem& item = *MacPaneState.items[selected[s].item];
        if (item.kind == kItemFile) {
            ++walk.files;
            walk.bytes += static_cast<uint64_t>(item.size) + item.resourceSize;
        } else if (item.kind == kItemFolder) {
            folders = true;
            WalkMacDelete(&walk, SelectedFolder(item));
        }
    }
    if (StatusCode == 0) {
        CloseProgress();
        if (!UserConfirms(window, folders, kMacFolderWarning, walk, "Ready to delete files from Mac disk")) return 0;
        ProgressFileCount = walk.files;
        ProgressTotal = walk.files;
        walk.mode = kDeleteRemove;
        OpenProgress(window, kProgressDeleteMac);
        for (size_t s = 0; s < selected.size() && StatusCode == 0; ++s) {
            const MacItem& item = *MacPaneState.items[selected[s].item];
            if (item.kind == kItemFolder) WalkMacDelete(&walk, SelectedFolder(item));
        }
        for (size_t s = 0; s < selected.size() && StatusCode == 0; ++s) {
            PumpMessages();
            if (StatusCode != 0) break;
            MacPaneState.openedIndex = static_cast<uint16_t>(selected[s].item);
            char name[kMaxMacName + 1];
            MacNameToPc(name, MacPaneState.items[selected[s].item]->name, true);
            SetProgressItemText(name);
            if (!DeleteMacItem() && StatusCode == 0) ReportCorruption("folder not empty after its items were deleted");
            if (StatusCode != 0) break;
            // A bit test of the line number, not a count: the write-backs fall unevenly.
            if (((selected[s].line + 1) & 0x32) == 0) FlushVolume();
            AdvanceProgress(1);
        }
        if (StatusCode == 0) FlushVolume();
    }
    CloseProgress();
    ReportStatus(window);
    if (VolumeIsOpen() && MacPaneState.parentId != 0) RelistMacFolder(window);
    return 1;
}
