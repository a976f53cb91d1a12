// Progress of long operations (formatting, copying, deleting, counting): the
// counters the operation advances, the pump that keeps the window alive, and
// Cancel turned into StatusCode 120. The window itself belongs to the window
// system; this side keeps the state and tells it what to show.
//
// An operation sets ProgressTotal, calls OpenProgress, writes each item's
// name with SetProgressItemText, advances and pumps between pieces of work,
// stops when StatusCode is nonzero after a pump, and ends with CloseProgress.
#pragma once
#include <cstdint>

#include "core/window_system.h"

// Kinds of progress window; each has its title.
enum : unsigned {
    kProgressFormatting = 0,
    kProgressCopyPcToMac = 1,
    kProgressCopyMacToPc = 2,
    kProgressSearchPc = 3,
    kProgressSearchMac = 4,
    kProgressDeletePc = 5,
    kProgressDeleteMac = 6,
};
constexpr unsigned kProgressKinds = 7;

// Control ids of the progress window.
enum : int {
    kIdProgressCancel = 2,
    kIdProgressItem = 174,
    kIdProgressBar = 175,
};
// Commands to the progress window.
enum : unsigned {
    kProgressCommandClose = 1,
    kProgressCommandCancel = 2,
};

extern WindowHandle ProgressWindow;  // null when no window is open
extern uint32_t ProgressTotal;       // work the bar stands for; 0 shows no bar
extern uint32_t ProgressDone;
extern uint32_t ProgressFileCount;  // files a counting pass found (copies and deletes)
extern const char* ProgressTitle;    // title of the last window opened

// The title of a kind; null for an unknown kind.
const char* ProgressKindTitle(unsigned kind);

// Opens the window for `kind` unless the kind is 0 to 2 and ProgressTotal is
// 0 (nothing to show a bar for). An open window is closed first.
void OpenProgress(WindowHandle owner, unsigned kind);
// With a window open: ProgressDone back to 0, the item line emptied, the bar drawn.
void ResetProgress();
// With a window open and a nonzero total: adds `amount` and redraws the bar
// (an amount of 0 only redraws).
void AdvanceProgress(uint16_t amount);
// Lets the window system handle pending input; Cancel arrives here.
void PumpMessages();
// Writes the item line of the open window.
void SetProgressItemText(const char* text);
// Command 1: closes the window; ProgressWindow is null afterwards.
void CloseProgress();
// Command 2 (the Cancel button): StatusCode 120. The window stays open until
// the operation notices and closes it.
void ProgressCancelPressed();
// Commands the window procedure passes on: close or cancel. Others are ignored.
void ProgressCommand(unsigned command);

// The bar: whole percent done (floating-point ratio, truncated, at most 100)
// and the bar's right edge in a box `width` pixels wide (it starts at 2 and
// ends at width - 2 when full).
unsigned ProgressPercent();
int ProgressBarRight(int width);

// The hourglass while long listings run; `WaitCursorEnabled` false (the
// progress window is up) makes it do nothing.
void SetWaitCursor(bool on);
extern bool WaitCursorEnabled;
