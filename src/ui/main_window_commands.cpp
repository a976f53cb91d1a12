// The main window's command dispatch: every command checks what it needs in
// a fixed order, refuses with a message when something is missing, and
// otherwise calls the pane, engine or transfer operation that does the work.
#include <cstdio>
#include <cstring>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/progress.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "platform/platform.h"
#include "ui/copy_commands.h"
#include "ui/delete_commands.h"
#include "ui/dialogs.h"
#include "ui/disk_images.h"
#include "ui/mac_pane.h"
#include "ui/mac_session.h"
#include "ui/main_window.h"
#include "ui/main_window_ids.h"
#include "ui/pc_pane.h"

namespace {

// The PC Drive box's selection when its list last opened or last changed drive.
int g_savedPcDrive = 0;

const char kNoVolumeText[] =
    "First select a drive from the \"Mac Drive\" box, then double-click a volume in the \"Mac Files\" box.";
const char kCopyCaption[] = "No Items Selected for Copy";
const char kDeleteCaption[] = "No Items Selected for Deletion";
const char kInfoCaption[] = "No Items Selected";

bool Refuse(const char* text, const char* caption)
{
    Ws().ShowMessage(MainWindow, text, caption, kMbOk | kMbIconNone);
    return false;
}

bool VolumeOpen()
{
    return MacPaneState.parentId != 0 || Refuse(kNoVolumeText, "No Mac Volume Mounted");
}

bool MacNotEmpty(const char* caption)
{
    return Ws().ListCount(kIdMacList) > 0 || Refuse("This Mac folder is empty.", caption);
}

bool PcNotEmpty(const char* caption)
{
    return Ws().ListCount(kIdPcList) > 0 || Refuse("This PC directory is empty.", caption);
}

bool MacSelection(const char* caption)
{
    return Ws().ListSelectedCount(kIdMacList) > 0 ||
           Refuse("First select items in the \"Mac Files\" box by single-clicking them.", caption);
}

bool PcSelection(const char* caption)
{
    return Ws().ListSelectedCount(kIdPcList) > 0 ||
           Refuse("First select items in the \"PC Files\" box by single-clicking them.", caption);
}

bool Writable(const char* caption)
{
    return (MacDriveIndex < DriveCount && DriveTable[MacDriveIndex].WriteSectors != nullptr) ||
           Refuse("This Mac drive is read only.", caption);
}

void CopyCommand(WindowHandle window)
{
    if (ActivePane == 1) {
        if (!VolumeOpen() || !PcNotEmpty(kCopyCaption) || !PcSelection(kCopyCaption) || !Writable("Can't Copy to Mac"))
            return;
        if (CopyPcToMac(window)) RefreshMacFolder(window);
    } else {
        if (!VolumeOpen() || !MacNotEmpty(kCopyCaption) || !MacSelection(kCopyCaption)) return;
        if (CopyMacToPc(window)) RefreshPcListKeepTop(window);
    }
}

void NewCommand(WindowHandle window)
{
    if (ActivePane == 1) {
        const int changed = RunCreatePcDirectory(window);
        ReportStatus(window);
        if (changed) RefreshPcListKeepTop(window);
        return;
    }
    if (!VolumeOpen() || !Writable("Can't Create Folder")) return;
    const int changed = RunCreateMacFolder(window);
    ReportStatus(window);
    if (!changed) return;
    FlushVolume();
    Ws().RepaintNow(window);
    ReportStatus(window);
    RefreshMacFolder(window);
    ReportStatus(window);
}

void DeleteCommand(WindowHandle window)
{
    if (ActivePane == 1) {
        if (!PcNotEmpty(kDeleteCaption) || !PcSelection(kDeleteCaption)) return;
        if (DeleteOnPc(window)) RefreshPcListKeepTop(window);
    } else {
        if (!VolumeOpen() || !MacNotEmpty(kDeleteCaption) || !MacSelection(kDeleteCaption) || !Writable("Can't Delete"))
            return;
        if (DeleteOnMac(window)) RefreshMacFolder(window);
    }
}

void PcInfoCommand(WindowHandle window)
{
    if (!PcNotEmpty(kInfoCaption) || !PcSelection(kInfoCaption)) return;
    const int i = Ws().ListCaretIndex(kIdPcList);
    if (i < 0 || i >= Ws().ListCount(kIdPcList) || static_cast<size_t>(i) >= PcItemList.size()) return;
    PcShownIndex = static_cast<uint16_t>(i);
    if (RunPcItemInfo(window) == 1) RefreshPcListKeepTop(window);
    ReportStatus(window);
}

void MacInfoCommand(WindowHandle window)
{
    if (!VolumeOpen() || !MacNotEmpty(kInfoCaption) || !MacSelection(kInfoCaption)) return;
    const int i = Ws().ListCaretIndex(kIdMacList);
    if (i < 0 || Ws().ListCount(kIdMacList) == 0 || i >= MacPaneState.count || !MacPaneState.items) return;
    MacPaneState.openedIndex = static_cast<uint16_t>(i);
    const uint16_t kind = MacPaneState.items[i]->kind;
    if (kind != kItemFolder && kind != kItemFile) return;  // a volume: nothing to show
    const int ended = RunMacItemInfo(window);
    if (kind == kItemFile) Ws().RepaintNow(window);
    if (ended == 1) RelistMacFolder(window);
    ReportStatus(window);
}

void InfoCommand(WindowHandle window)
{
    if (ActivePane == 1)
        PcInfoCommand(window);
    else
        MacInfoCommand(window);
}

void PcDoubleClick(WindowHandle window)
{
    const int i = Ws().ListFirstSelected(kIdPcList);
    if (i < 0 || i >= Ws().ListCount(kIdPcList) || static_cast<size_t>(i) >= PcItemList.size()) return;
    // A link is never entered: it is shown like a file.
    if (PcItemList[i].kind == kPcDirectory) {
        if (PcEnterDirectory(PcItemList[i].name)) RefreshPcList(window);
        return;
    }
    PcInfoCommand(window);
}

void MacDoubleClick(WindowHandle window)
{
    const int i = Ws().ListFirstSelected(kIdMacList);
    if (i < 0 || i >= Ws().ListCount(kIdMacList) || i >= MacPaneState.count || !MacPaneState.items) return;
    switch (MacPaneState.items[i]->kind) {
    case kItemFolder:
        MacPaneState.openedIndex = static_cast<uint16_t>(i);
        OpenMacFolder(window);
        break;
    case kItemVolume:
        SetWaitCursor(true);
        OpenListedVolume(static_cast<unsigned>(i));
        SetWaitCursor(false);
        break;
    default:
        MacInfoCommand(window);
        return;
    }
    if (StatusCode != 0) {
        ReportStatus(window);
        ResetMacPane(window);
    }
}

void SortCommand(WindowHandle window, int id)
{
    uint16_t& current = ActivePane == 1 ? PcSortId : MacSortId;
    if (id == current) return;
    WindowSystem& ws = Ws();
    ws.MenuCheck(current, false);
    current = static_cast<uint16_t>(id);
    ws.MenuCheck(id, true);
    if (ActivePane == 1)
        RefreshPcListKeepTop(window);
    else if (MacPaneState.parentId != 0)
        RelistMacFolder(window);
}

void ToggleCommand(int id)
{
    WindowSystem& ws = Ws();
    const bool on = !ws.MenuChecked(id);
    ws.MenuCheck(id, on);
    uint8_t& option = id == kCmdSavePrefs ? Prefs.SavePrefs : id == kCmdCopyPrefs ? Prefs.CopyPrefs : Prefs.AllowUpper;
    option = on ? 1 : 0;
}

void FormatCommand(WindowHandle window)
{
    const int index = RunFormatDialog(window);
    if (index < 0) return;
    ResetMacPane(window);
    FormatMacDrive(static_cast<unsigned>(index));
    ReportStatus(window);
}

void ImageCommand(WindowHandle window, bool create)
{
    char path[1024];
    if (!Ws().AskImagePath(window, create, path, sizeof path)) return;
    if (create)
        NewDiskImage(window, path);
    else
        OpenDiskImage(window, path);
}

// The drive named at the start of a PC Drive box line ("C:(Fixed)", "/(Fixed)").
void DriveNameOfLine(const char* line, char* name, size_t size)
{
    const char* kind = std::strchr(line, '(');
    const size_t length = kind ? static_cast<size_t>(kind - line) : std::strlen(line);
    std::snprintf(name, size, "%.*s", static_cast<int>(length), line);
}

void PcDriveCloseUp(WindowHandle window)
{
    WindowSystem& ws = Ws();
    const int selected = ws.ComboSelection(kIdPcDriveBox);
    char line[64];
    char chosen[16];
    ws.ComboText(kIdPcDriveBox, selected, line, sizeof line);
    DriveNameOfLine(line, chosen, sizeof chosen);
    char current[16];
    DriveOfPath(PcDirectory.c_str(), current, sizeof current);
    // The drive in use keeps its directory; another starts at its own.
    char directory[1024];
    bool changed;
    if (current[0] != 0 && std::strcmp(chosen, current) == 0) {
        changed = IsDirectory(PcDirectory.c_str());
    } else {
        changed = DriveStartDirectory(chosen, directory, sizeof directory);
        if (changed) PcDirectory = directory;
    }
    if (changed) {
        RefreshPcListKeepTop(window);
        g_savedPcDrive = selected;
        return;
    }
    ws.ComboSelect(kIdPcDriveBox, g_savedPcDrive);
    ws.ShowMessage(window, "Could not change to that drive.", nullptr, kMbOk | kMbIconExclamation);
}

void MacFolderCloseUp(WindowHandle window)
{
    const int levels = TrimPathBox(kIdMacFolderBox);
    GoUpMacFolders(window, static_cast<unsigned>(levels));
    if (StatusCode != 0) {
        ReportStatus(window);
        ResetMacPane(window);
    }
}

void MacUpButton(WindowHandle window)
{
    WindowSystem& ws = Ws();
    if (ws.ComboCount(kIdMacFolderBox) <= 1) return;
    SetWaitCursor(true);
    GoUpMacFolders(window, 1);
    ws.ComboDeleteFirst(kIdMacFolderBox);
    SizeComboDropDown(kIdMacFolderBox, true);
    SetWaitCursor(false);
    if (StatusCode != 0) {
        ReportStatus(window);
        ResetMacPane(window);
    }
}

void MacDriveCloseUp(WindowHandle window)
{
    WindowSystem& ws = Ws();
    const int selected = ws.ComboSelection(kIdMacDriveBox);
    if (selected >= 0 && static_cast<uint32_t>(selected) < DriveCount) {
        MacDriveIndex = static_cast<uint16_t>(selected);
        SetWaitCursor(true);
        SelectMacDrive(window);
        SetWaitCursor(false);
        ws.ComboReset(kIdMacFolderBox);
        if (StatusCode == 0) {
            char name[64];
            ws.ComboText(kIdMacDriveBox, selected, name, sizeof name);
            ws.ComboAdd(kIdMacFolderBox, name);
        } else {
            ReportStatus(window);
            ws.ComboSelect(kIdMacDriveBox, -1);
        }
    }
    SizeComboDropDown(kIdMacFolderBox, true);
}

void CloseUp(WindowHandle window, int box)
{
    switch (box) {
    case kIdPcDirectoryBox:
        if (int levels = TrimPathBox(kIdPcDirectoryBox); levels > 0 && PcGoUp(static_cast<unsigned>(levels)))
            RefreshPcList(window);
        break;
    case kIdPcDriveBox: PcDriveCloseUp(window); break;
    case kIdMacFolderBox: MacFolderCloseUp(window); break;
    case kIdMacDriveBox: MacDriveCloseUp(window); break;
    default: break;
    }
}

void EnterKey(WindowHandle window)
{
    WindowSystem& ws = Ws();
    const int focus = ws.FocusedControl();
    switch (focus) {
    case kIdPcList:
        SetActivePane(1);
        PcDoubleClick(window);
        break;
    case kIdMacList:
        SetActivePane(0);
        MacDoubleClick(window);
        break;
    case kIdMacFolderBox:
    case kIdPcDirectoryBox:
    case kIdMacDriveBox:
    case kIdPcDriveBox:
        if (ws.ComboDroppedDown(focus)) {
            ws.ComboShowDropDown(focus, false);
            CloseUp(window, focus);
        }
        break;
    default: break;
    }
}

}  // namespace

void MainWindowCommand(WindowHandle window, int id, unsigned notification)
{
    WindowSystem& ws = Ws();
    switch (id) {
    case kCmdCopy: CopyCommand(window); break;
    case kCmdNew: NewCommand(window); break;
    case kCmdDelete: DeleteCommand(window); break;
    case kCmdInfo: InfoCommand(window); break;
    case kCmdExit: ExitMainWindow(window); return;
    case kCmdSelectAll:
    case kCmdDeselectAll: ws.ListSelect(ActivePane == 1 ? int{kIdPcList} : int{kIdMacList}, -1, id == kCmdSelectAll); break;
    case kCmdFormat: FormatCommand(window); break;
    case kCmdOpenImage:
    case kCmdNewImage: ImageCommand(window, id == kCmdNewImage); break;
    case kCmdAbout: RunAboutBox(window); break;
    case kCmdHelp: ws.ShowHelp(true); break;
    case kCmdMacCopyPrefs: RunMacCopyPrefs(window); break;
    case kCmdPcCopyPrefs: RunPcCopyPrefs(window); break;
    case kCmdSavePrefs:
    case kCmdCopyPrefs:
    case kCmdAllowUpper: ToggleCommand(id); break;
    case kCmdEnter: EnterKey(window); break;
    case kIdPcList:
        SetActivePane(1);
        if (notification == kNotifyDoubleClick) PcDoubleClick(window);
        break;
    case kIdMacList:
        SetActivePane(0);
        if (notification == kNotifyDoubleClick) MacDoubleClick(window);
        break;
    case kIdPcUpButton:
        if (PcGoUp(1)) RefreshPcList(window);
        break;
    case kIdMacUpButton: MacUpButton(window); break;
    case kIdPcDirectoryBox:
    case kIdPcDriveBox:
    case kIdMacFolderBox:
    case kIdMacDriveBox:
        if (id == kIdPcDriveBox && notification == kNotifyDropDown) g_savedPcDrive = ws.ComboSelection(kIdPcDriveBox);
        if (notification == kNotifyCloseUp) CloseUp(window, id);
        break;
    default:
        if (id >= kCmdSortFirst && id <= kCmdSortLast) SortCommand(window, id);
        break;
    }
    // Whatever a command left unreported (a listing's failure) is said now,
    // so that it does not block the next command.
    ReportStatus(window);
}

void MainWindowHScroll(int request, int position) { PcHorizontalScroll(request, position); }
