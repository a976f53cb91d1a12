#include "core/progress.h"

#include "core/status.h"

WindowHandle ProgressWindow = nullptr;
uint32_t ProgressTotal = 0;
uint32_t ProgressDone = 0;
uint32_t ProgressFileCount = 0;
const char* ProgressTitle = nullptr;
bool WaitCursorEnabled = true;

namespace {

constexpr const char* kTitles[kProgressKinds] = {
    "Formatting",
    "Copying from PC to Mac",
    "Copying from Mac to PC",
    "Searching PC disk for files",
    "Searching Mac disk for files",
    "Deleting PC files",
    "Deleting Mac files",
};

}  // namespace

const char* ProgressKindTitle(unsigned kind) { return kind < kProgressKinds ? kTitles[kind] : nullptr; }

void OpenProgress(WindowHandle owner, unsigned kind)
{
    const char* title = ProgressKindTitle(kind);
    if (title == nullptr) return;
    // The copies show a window only when there are bytes to show a bar for;
    // counting and deleting always show one.
    if (kind <= kProgressCopyMacToPc && ProgressTotal == 0) return;
    if (ProgressWindow != nullptr) CloseProgress();  // at most one window at a time
    ProgressTitle = title;
    ProgressWindow = Ws().OpenProgressWindow(owner, title, ProgressTotal != 0);
    if (ProgressWindow == nullptr) return;
    // The window shows that the program is busy; the hourglass would only flicker.
    WaitCursorEnabled = false;
    ResetProgress();
}

void ResetProgress()
{
    if (ProgressWindow == nullptr) return;
    ProgressDone = 0;
    Ws().SetProgressItem(ProgressWindow, "");
    Ws().DrawProgressBar(ProgressWindow, ProgressPercent());
}

void AdvanceProgress(uint16_t amount)
{
    if (ProgressWindow == nullptr || ProgressTotal == 0) return;
    // Saturate: a done count past the total keeps the bar full instead of wrapping.
    const uint32_t room = UINT32_MAX - ProgressDone;
    ProgressDone += amount < room ? amount : room;
    Ws().DrawProgressBar(ProgressWindow, ProgressPercent());
}

void PumpMessages()
{
    // The window system handles at most 1000 messages per call, so a flood
    // of input cannot keep the operation from running.
    Ws().PumpMessages();
}

void SetProgressItemText(const char* text)
{
    if (ProgressWindow == nullptr) return;
    Ws().SetProgressItem(ProgressWindow, text ? text : "");
}

void CloseProgress()
{
    if (ProgressWindow == nullptr) return;
    WindowHandle window = ProgressWindow;
    ProgressWindow = nullptr;
    Ws().CloseProgressWindow(window);
    WaitCursorEnabled = true;
}

void ProgressCancelPressed() { StatusCode = kStatusCancelled; }

void ProgressCommand(unsigned command)
{
    if (command == kProgressCommandClose) CloseProgress();
    if (command == kProgressCommandCancel) ProgressCancelPressed();
}

unsigned ProgressPercent()
{
    if (ProgressTotal == 0) return 0;
    const double percent = static_cast<double>(ProgressDone) * 100.0 / static_cast<double>(ProgressTotal);
    return percent >= 100.0 ? 100u : static_cast<unsigned>(percent);
}

int ProgressBarRight(int width)
{
    const int inner = width - 4;  // a 2-pixel margin on either side
    if (inner <= 0) return 2;
    return 2 + inner * static_cast<int>(ProgressPercent()) / 100;
}

void SetWaitCursor(bool on)
{
    // The window system keeps the cursor it replaces and puts it back.
    if (WaitCursorEnabled) Ws().SetBusyCursor(on);
}
