// The PC pane: the entries of one PC directory, their order and lines, the
// path box, the drive box and label, and the horizontal scroll of the name
// column. The pane keeps its directory itself (PcDirectory) rather than the
// process's current directory, so nothing else in the program moves it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/window_system.h"
#include "transfer/pc_items.h"

// The directory the pane shows: a native path.
extern std::string PcDirectory;
// The pane's entries in list order; item i of the PC list carries i as its data.
extern std::vector<PcItem> PcItemList;
// The entry the PC information dialogs show, set by the Info command.
extern uint16_t PcShownIndex;
// How many leading characters of the longest name do not fit the name
// column, and how many the list hides now (0 to HScrollMax).
extern int32_t HScrollMax;
extern int32_t HScrollPos;

// The width of the name column, in characters.
constexpr int kPcNameColumn = 44;

// Re-reads PcDirectory into PcItemList and, while DisplayUpdates is set, the
// list, the path box, the ".." button, the drive label and the scroll bar.
// StatusCode 2 when memory runs out.
void RefreshPcList(WindowHandle window);
// The same, keeping the list's top line where it was.
void RefreshPcListKeepTop(WindowHandle window);
// The path box: the components of PcDirectory, deepest first, the root last.
// 0, or -1 when the directory has no root separator.
int FillPcDirectoryBox(WindowHandle window);
// The drive box: the logical drives with their kinds, the pane's selected.
void FillPcDriveBox(WindowHandle window);
void UpdatePcSpaceLabel(WindowHandle window);

// The line of entry `index` of PcItemList with `offset` name characters
// hidden; `line` holds at least 81 bytes. FormatPcItem: the same for any item.
void FormatPcLine(char* line, unsigned index, int offset);
void FormatPcItem(char* line, const PcItem& item, int offset);
// The pane's order under PcSortId: negative when `a` goes first.
int ComparePcItems(const PcItem& a, const PcItem& b);

// A horizontal scroll request (kScrollLineLeft ...; `position` for thumb
// tracking), then the position applied.
void PcHorizontalScroll(int request, int position);
// Keeps HScrollPos within 0..HScrollMax and shows it: the bar moves and the
// list is painted again when it changed.
void ApplyHScrollPos();

// PcDirectory `levels` directories up, never above its root; false when it
// is at the root already. Enters the subdirectory `name` (Windows-1252) of
// PcDirectory; false when the name has no native form.
bool PcGoUp(unsigned levels);
bool PcEnterDirectory(const std::string& name);
