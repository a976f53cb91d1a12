// The main window's state that follows the active pane (labels, button
// names, the File and Sort By menus), the menu preferences, the drop-down
// sizes and path boxes, formatting a drive and freeing the panes.
#include "ui/main_window.h"

#include <algorithm>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "disk/aspi.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/cache.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "translate/registry.h"
#include "ui/main_window_ids.h"
#include "ui/pc_pane.h"

namespace {

constexpr int kMaxDropDownItems = 15;
constexpr int kTranslatorLimit = 5;

const char* const kPcCommandNames[4] = {"&Copy From PC", "&New PC Directory", "&Delete From PC", "PC Item &Info"};
const char* const kMacCommandNames[4] = {"&Copy From Mac", "&New Mac Folder", "&Delete From Mac", "Mac Item &Info"};

struct SortItem {
    int id;
    const char* text;
};
const SortItem kPcSortItems[] = {{kSortByName, "&Name"}, {kSortByType, "&Ext"}, {kSortBySize, "&Size"},
                                 {kSortByDate, "&Date"}};
const SortItem kMacSortItems[] = {{kSortByName, "&Name"}, {kSortByType, "&Type"}, {kSortByCreator, "&Crtr"},
                                  {kSortBySize, "&Size"}, {kSortByDate, "&Date"}};

// A sort preference: 250 when unset, and when the file holds no sort command.
uint16_t SortFromPrefs(int32_t value)
{
    return value >= kSortByName && value <= kSortByDate ? static_cast<uint16_t>(value) : uint16_t{kSortByName};
}

uint16_t TranslatorFromPrefs(int32_t value)
{
    return value >= 0 && value < kTranslatorLimit ? static_cast<uint16_t>(value) : 0;
}

}  // namespace

void SetActivePane(uint16_t pane)
{
    if (pane == ActivePane) return;
    ActivePane = pane;
    WindowSystem& ws = Ws();
    const bool pc = pane == 1;
    const int pcLabels[] = {kIdPcHeader, kIdPcDirectoryLabel, kIdPcDriveLabel};
    const int macLabels[] = {kIdMacHeader, kIdMacFolderLabel, kIdMacDriveLabel};
    for (int label : pcLabels) ws.EnableControl(label, pc);
    for (int label : macLabels) ws.EnableControl(label, !pc);
    const char* const* names = pc ? kPcCommandNames : kMacCommandNames;
    for (int i = 0; i < 4; ++i) ws.SetControlText(kCmdCopy + i, names[i]);
    RenameFileMenu();
    BuildSortMenu();
    ws.ListSelect(pc ? int{kIdMacList} : int{kIdPcList}, -1, false);
}

void RenameFileMenu()
{
    WindowSystem& ws = Ws();
    const char* const* names = ActivePane == 1 ? kPcCommandNames : kMacCommandNames;
    for (int i = 0; i < 4; ++i) ws.MenuDelete(kMenuFile, kCmdCopy + i);
    for (int i = 0; i < 4; ++i) ws.MenuInsert(kMenuFile, i, kCmdCopy + i, names[i]);
}

void BuildSortMenu()
{
    WindowSystem& ws = Ws();
    for (int id = kCmdSortFirst; id <= kCmdSortLast; ++id) ws.MenuDelete(kMenuSortBy, id);
    const bool pc = ActivePane == 1;
    const SortItem* items = pc ? kPcSortItems : kMacSortItems;
    const int count = pc ? 4 : 5;
    const int checked = pc ? int{PcSortId} : int{MacSortId};
    for (int i = 0; i < count; ++i) {
        ws.MenuInsert(kMenuSortBy, i, items[i].id, items[i].text);
        ws.MenuCheck(items[i].id, items[i].id == checked);
    }
}

void ApplyMenuPrefs(bool ticks)
{
    // The file is edited by hand: a translator or sort that does not exist
    // is taken as the default.
    MacToPcIndex = TranslatorFromPrefs(Prefs.MacTrans);
    PcToMacIndex = TranslatorFromPrefs(Prefs.PCTrans);
    MacSortId = SortFromPrefs(Prefs.MacSort);
    PcSortId = SortFromPrefs(Prefs.PCSort);
    if (!ticks) return;
    WindowSystem& ws = Ws();
    if (Prefs.SavePrefs) ws.MenuCheck(kCmdSavePrefs, true);
    if (Prefs.CopyPrefs) ws.MenuCheck(kCmdCopyPrefs, true);
    if (Prefs.AllowUpper) ws.MenuCheck(kCmdAllowUpper, true);
}

void SizeComboDropDown(int control, bool selectFirst)
{
    WindowSystem& ws = Ws();
    if (DisplayUpdates) ws.ComboSetDropDownItems(control, std::min(ws.ComboCount(control), kMaxDropDownItems));
    if (selectFirst) ws.ComboSelect(control, 0);
}

int TrimPathBox(int control)
{
    WindowSystem& ws = Ws();
    const int k = ws.ComboSelection(control);
    if (k < 0) return 0;
    for (int i = 0; i < k; ++i) ws.ComboDeleteFirst(control);
    SizeComboDropDown(control, true);
    return k;
}

int SelectTypedItem(int control, int character, int caret)
{
    const bool pc = control == kIdPcList;
    const int count = pc ? static_cast<int>(PcItemList.size()) : MacPaneState.items ? int{MacPaneState.count} : 0;
    if (count <= 0) return -1;
    if (character >= 'A' && character <= 'Z') character += 'a' - 'A';
    // Names are compared by their first byte with bit 32 set: letters of
    // either case match, and "_" (0x5F) never does.
    auto firstOf = [pc](int i) -> int {
        if (pc) return PcItemList[i].name.empty() ? -1 : static_cast<uint8_t>(PcItemList[i].name[0]);
        const MacItem* item = MacPaneState.items[i];
        return item == nullptr || item->name[0] == 0 ? -1 : item->name[1];
    };
    const int start = caret >= 0 && caret < count ? caret : count - 1;
    for (int step = 1; step <= count; ++step) {
        const int i = (start + step) % count;
        const int first = firstOf(i);
        if (first < 0 || (first | 0x20) != character) continue;
        WindowSystem& ws = Ws();
        ws.ListSelect(control, -1, false);
        ws.ListSelect(control, i, true);
        return i;
    }
    return -1;
}

int FormatMacDrive(unsigned driveIndex)
{
    if (driveIndex >= DriveCount) {
        StatusCode = kStatusReadOnly;
        return 0;
    }
    DriveEntry& drive = DriveTable[driveIndex];
    if ((drive.Flags & kDriveReadOnly) || drive.WriteSectors == nullptr) {
        StatusCode = kStatusReadOnly;
        return 0;
    }
    if (drive.FormatVolume == nullptr) {
        StatusCode = kStatusNotSupported;
        return 0;
    }
    // An image is open only while it is formatted; the Mac pane has no drive
    // chosen before or after.
    if (!UseMacDrive(MainWindow, driveIndex)) return 0;
    const int32_t result = drive.FormatVolume(&drive);
    ReleaseListedImages();
    return result;
}

void ReleasePanes()
{
    FreeBlockCache();
    ReleaseListedImages();
    FreeMacItemList();
    PcItemList.clear();
    PcItemList.shrink_to_fit();
    AspiUnload();
}
