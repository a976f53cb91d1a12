// Stand-in for the PC pane's refresh until the pane's own arrives.
#include <algorithm>

#include "ui/delete_commands.h"
#include "ui/pc_pane.h"

void RefreshPcListKeepTop(WindowHandle)
{
    WindowSystem& ws = Ws();
    const int top = ws.ListTopIndex(kPcListControl);
    PcItemList.clear();
    ReadPcDirectory(PcDirectory.c_str(), &PcItemList);
    std::sort(PcItemList.begin(), PcItemList.end(), [](const PcItem& a, const PcItem& b) {
        return a.kind != b.kind ? a.kind < b.kind : a.name < b.name;
    });
    ws.ListReset(kPcListControl);
    for (size_t i = 0; i < PcItemList.size(); ++i) ws.ListAddItem(kPcListControl, static_cast<intptr_t>(i));
    if (top >= 1) ws.ListSetTopIndex(kPcListControl, top);
}
