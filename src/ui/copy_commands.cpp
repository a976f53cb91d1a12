#include "ui/copy_commands.h"

#include "ui/dialogs.h"

#include <cstdio>
#include <cstring>
#include <functional>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/progress.h"
#include "core/status.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "transfer/copy_walks.h"
#include "translate/registry.h"
#include "ui/format_text.h"
#include "ui/mac_pane.h"
#include "ui/pc_pane.h"

namespace {

WindowHandle g_window = nullptr;  // the main window of the copy under way

void ShowCounted()
{
    char bytes[16];
    FormatSize(ProgressTotal, bytes);
    char text[96];
    std::snprintf(text, sizeof text, "Files found: %lu\nTotal bytes: %s", static_cast<unsigned long>(ProgressFileCount),
                  bytes);
    SetProgressItemText(text);
}

void ShowFileName(const char* pcName) { SetProgressItemText(pcName); }
void PcSpaceChanged() { UpdatePcSpaceLabel(g_window); }
void MacSpaceChanged() { UpdateMacSpaceLabel(g_window); }

// The selected lines of a list, in list order, as indexes of its items
// (each line's data is its index into the pane's list of `count` items).
std::vector<size_t> SelectedLines(int control, size_t count)
{
    std::vector<size_t> lines;
    WindowSystem& ws = Ws();
    const int shown = ws.ListCount(control);
    for (int i = 0; i < shown && static_cast<size_t>(i) < count; ++i)
        if (ws.ListItemSelected(control, i)) lines.push_back(static_cast<size_t>(i));
    return lines;
}

// Nothing marked: the message and false; else the confirmation, true for OK.
bool ConfirmCopy(WindowHandle window, const char* caption)
{
    if (ProgressFileCount == 0) {
        Ws().ShowMessage(window, "No files marked!", "Error", kMbOk | kMbIconExclamation);
        return false;
    }
    char bytes[16];
    std::snprintf(bytes, sizeof bytes, "%lu", static_cast<unsigned long>(ProgressTotal));
    InsertThousands(bytes);
    char text[96];
    std::snprintf(text, sizeof text, "Files to copy:\t%lu\nBytes to copy:\t%s",
                  static_cast<unsigned long>(ProgressFileCount), bytes);
    return Ws().ShowMessage(window, text, caption, kMbOkCancel) == kIdOk;
}

void StartCopy(WindowHandle window)
{
    g_window = window;
    const std::string directory = PcDirectory;
    CurrentOptions = OptionsFromPrefs();
    CurrentOptions.pcDirectory = directory;
    ProgressTotal = 0;
    ProgressFileCount = 0;
}

MacCopyFilter MacFilterFromPrefs()
{
    MacCopyFilter filter;
    filter.on = Prefs.MacCopyFilter != 0;
    std::snprintf(filter.type, sizeof filter.type, "%s", Prefs.MacFilterType);
    std::snprintf(filter.creator, sizeof filter.creator, "%s", Prefs.MacFilterCrtr);
    std::snprintf(filter.extension, sizeof filter.extension, "%s", Prefs.MacFilterExt);
    return filter;
}

// The counting pass (mode 0) in its own progress window, the confirmation,
// then the copying pass (mode 1) in another, and the report. False when the
// user declined the copy.
bool CountConfirmAndCopy(WindowHandle window, unsigned countKind, unsigned copyKind, const char* caption,
                         const std::function<void(int mode)>& pass)
{
    OpenProgress(window, countKind);
    pass(0);
    if (StatusCode == 0) {
        CloseProgress();
        if (!ConfirmCopy(window, caption)) return false;
        OpenProgress(window, copyKind);
        pass(1);
    }
    CloseProgress();
    ReportStatus(window);
    return true;
}

}  // namespace

int CopyMacToPc(WindowHandle window)
{
    if (Prefs.CopyPrefs && RunMacCopyPrefs(window) == 0) return 0;
    StartCopy(window);
    MacCopyWalk walk;
    walk.makeDirectories = Prefs.MacCopyDir != 0;
    walk.filter = MacFilterFromPrefs();
    walk.translator = MacToPcIndex;
    walk.hooks = {ShowCounted, ShowFileName, PcSpaceChanged};
    const std::vector<size_t> lines = SelectedLines(kIdMacList, MacPaneState.items ? MacPaneState.count : 0);
    const uint32_t here = MacPaneState.folderId;

    // Both passes go through the selection the same way.
    auto pass = [&](int mode) {
        walk.mode = mode;
        for (size_t line : lines) {
            if (StatusCode != 0) return;
            PumpMessages();
            if (StatusCode != 0) return;
            const MacItem item = *MacPaneState.items[line];
            if (item.kind == kItemFolder) {
                DisplayUpdates = 0;
                MacFolder folder{here, {}, item.id};
                std::memcpy(folder.name, item.name, sizeof folder.name);
                WalkMacFolder(walk, folder, PcDirectory);
                DisplayUpdates = 1;
            } else if (item.kind == kItemFile && MacFilePasses(item, walk.filter)) {
                if (mode == 0) {
                    ++ProgressFileCount;
                    ProgressTotal += MacCopyBytes(item, walk.translator);
                    continue;
                }
                char name[256];
                MacNameToPc(name, item.name, true);
                SetProgressItemText(name);
                CurrentOptions.pcDirectory = PcDirectory;
                RunMacToPcTranslator(item.name, here);
                if (StatusCode == 0) UpdatePcSpaceLabel(window);
            }
        }
    };

    if (!CountConfirmAndCopy(window, kProgressSearchMac, kProgressCopyMacToPc, "Ready to copy from Mac to PC", pass))
        return 0;
    RelistMacFolder(window);
    return 1;
}

int CopyPcToMac(WindowHandle window)
{
    if (Prefs.CopyPrefs && RunPcCopyPrefs(window) == 0) return 0;
    StartCopy(window);
    PcCopyWalk walk;
    walk.makeFolders = Prefs.PCCopyDir != 0;
    walk.filter.on = Prefs.PCCopyFilter != 0;
    std::snprintf(walk.filter.extension, sizeof walk.filter.extension, "%s", Prefs.PCFilterExt);
    walk.hooks = {ShowCounted, ShowFileName, MacSpaceChanged};
    const std::vector<size_t> lines = SelectedLines(kIdPcFileList, PcItemList.size());
    const MacFolder here = PaneFolder();

    auto pass = [&](int mode) {
        walk.mode = mode;
        for (size_t line : lines) {
            if (StatusCode != 0) return;
            PumpMessages();
            if (StatusCode != 0) return;
            const PcItem item = PcItemList[line];
            if (item.kind == kPcDirectory) {
                DisplayUpdates = 0;
                WalkPcDirectory(walk, PcDirectory, item.name, here);
                DisplayUpdates = 1;
            } else if (item.kind == kPcFile && PcFilePasses(item.name.c_str(), walk.filter)) {
                // Links and special files are never read.
                if (mode == 0) {
                    ++ProgressFileCount;
                    ProgressTotal += item.size;
                    continue;
                }
                SetProgressItemText(item.name.c_str());
                CurrentOptions.pcDirectory = PcDirectory;
                RunPcToMacTranslator(item.name.c_str(), here.id);
                if (StatusCode != 0) return;
                FlushVolume();
                if (StatusCode == 0) UpdateMacSpaceLabel(window);
            }
        }
    };

    if (!CountConfirmAndCopy(window, kProgressSearchPc, kProgressCopyPcToMac, "Ready to copy from PC to Mac", pass))
        return 0;
    FillPcDirectoryBox(window);
    return 1;
}
