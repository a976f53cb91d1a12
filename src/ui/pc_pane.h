// The PC pane: the entries of one PC directory, their order and lines, the
// path box, the drive label and the horizontal scroll of the name column.
// The pane keeps its directory itself (PcDirectory) rather than the
// process's current directory, so nothing else in the program moves it.
#pragma once
#include <string>
#include <vector>

#include "core/window_system.h"
#include "transfer/pc_items.h"

// The directory the pane shows: a native path.
extern std::string PcDirectory;
// The pane's entries in list order; item i of the PC list carries i as its data.
extern std::vector<PcItem> PcItemList;

// Re-reads PcDirectory into PcItemList and the list, keeping the list's top
// line where it was.
void RefreshPcListKeepTop(WindowHandle window);
