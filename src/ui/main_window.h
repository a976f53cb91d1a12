// The main window's command logic: the start-up sequence once the window
// exists, the dispatch of every command (buttons, menus, keys, list and box
// notifications) with its checks and refusals, the active pane, the menus
// that follow it, and the way out. The window layer passes its messages here
// and does nothing of its own beyond drawing.
#pragma once
#include <cstdint>

#include "core/window_system.h"

// The window's initialisation: lists both panes, finds the drives, and makes
// the Mac pane the active one. 1 when the window runs; 0 when start-up failed
// and the window has been ended (after the message).
int StartMainWindow(WindowHandle window);
// A command message: the command or control id and the notification code.
void MainWindowCommand(WindowHandle window, int id, unsigned notification);
// A horizontal scroll message of the PC list's scroll bar.
void MainWindowHScroll(int request, int position);
// The Exit command (also Esc and the close box): the help viewer told to
// quit, the window ended, the panes freed.
void ExitMainWindow(WindowHandle window);
// After the window has ended: the preferences written back (only SavePrefs
// itself unless the user asked for them to be saved).
void FinishMainWindow();

// 1 the PC pane, 0 the Mac pane: greys the other pane's labels, names the
// buttons and the File menu items after the pane, rebuilds the Sort By menu
// and deselects the other pane's list. Nothing when the pane is active already.
void SetActivePane(uint16_t pane);
void RenameFileMenu();
void BuildSortMenu();
// The translator and sort choices from Prefs; with `ticks` the three option
// items of the menu ticked as Prefs says.
void ApplyMenuPrefs(bool ticks);
// The box's drop-down list sized for at most 15 items (while DisplayUpdates is
// set); with `selectFirst` item 0 selected.
void SizeComboDropDown(int control, bool selectFirst);
// A path box whose selection is item k: items 0 to k - 1 deleted, k returned
// (the number of levels to go up); 0 when nothing is selected.
int TrimPathBox(int control);
// A character typed while file list `control` (kIdPcList or kIdMacList) has
// the focus: the next item after `caret` (wrapping, the caret item last)
// whose name begins with it, selected alone; letters match either case.
// Answers that item, or -1 when none matches (nothing changes then).
int SelectTypedItem(int control, int character, int caret);
// Formats drive `driveIndex` of DriveTable: what its FormatVolume answers, or
// 0 with StatusCode 5 (cannot be written) or 9 (cannot be formatted).
int FormatMacDrive(unsigned driveIndex);
// Frees both panes' lists and the block cache without writing.
void ReleasePanes();
