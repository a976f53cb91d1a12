#include "ui/dialogs.h"

#include <cstdio>

#include "ui/dialog_logic.h"
#include "ui/format_text.h"
#include "ui/pc_pane.h"

std::string ByteCountText(uint32_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(bytes));
    InsertThousands(text);
    return std::string(text) + " bytes";
}

std::string DosDateText(uint32_t dosDateTime)
{
    const char* text = FormatDosDateTime(dosDateTime);
    return text ? text : "";
}

int RunMacCopyPrefs(WindowHandle owner)
{
    MPref dialog;
    return Ws().RunDialog(owner, dialog);
}

int RunPcCopyPrefs(WindowHandle owner)
{
    PPref dialog;
    return Ws().RunDialog(owner, dialog);
}

int RunPcItemInfo(WindowHandle owner)
{
    if (PcShownIndex >= PcItemList.size()) return 0;
    DosInfo dialog(PcItemList[PcShownIndex], PcDirectory);
    return Ws().RunDialog(owner, dialog);
}

int RunMacItemInfo(WindowHandle owner)
{
    if (!MacPaneState.items || MacPaneState.openedIndex >= MacPaneState.count) return 0;
    const MacItem& item = *MacPaneState.items[MacPaneState.openedIndex];
    if (item.kind == kItemFolder) {
        MacFldrInfo dialog(item);
        return Ws().RunDialog(owner, dialog);
    }
    if (item.kind != kItemFile) return 0;
    MacInfo dialog(item);
    return Ws().RunDialog(owner, dialog);
}

int RunCreatePcDirectory(WindowHandle owner)
{
    CreateDir dialog(PcDirectory);
    return Ws().RunDialog(owner, dialog);
}

int RunCreateMacFolder(WindowHandle owner)
{
    CreateFldr dialog;
    return Ws().RunDialog(owner, dialog);
}

int RunFormatDialog(WindowHandle owner, int chosenDrive)
{
    FormatDialog dialog;
    dialog.chosenDrive = chosenDrive;
    return Ws().RunDialog(owner, dialog);
}

void RunAboutBox(WindowHandle owner)
{
    AboutBox dialog;
    Ws().RunDialog(owner, dialog);
}
