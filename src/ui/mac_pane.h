// The Mac pane: the volumes of the drive in use, or the items of one folder
// of the open volume, with the navigation between folders, the order of the
// entries and the text of each line. With DisplayUpdates cleared the same
// calls list folders without touching the controls.
#pragma once
#include <cstdint>

#include "core/window_system.h"
#include "hfs/listing.h"

void ListVolumeRoot(WindowHandle window);
void OpenMacFolder(WindowHandle window);
void GoUpMacFolders(WindowHandle window, unsigned levels);
void RefreshMacFolder(WindowHandle window);
void RelistMacFolder(WindowHandle window);
void BuildMacItemList(uint32_t startNode, uint16_t startIndex, WindowHandle window);
// Writes the pane's line for entry `index` into `line` (at least 81 bytes,
// zero-terminated here for convenience; the columns are those of the pane).
void FormatMacItemLine(char* line, unsigned index);
// The same line for any item.
void FormatMacItem(char* line, const MacItem& item);
int CompareMacItems(const MacItem* a, const MacItem* b);

// The Mac Drive label with the open volume's free and total space.
void UpdateMacSpaceLabel(WindowHandle window);
