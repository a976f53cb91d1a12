#include "support/recording_window.h"

#include "core/progress.h"

RecordingWindowSystem::RecordingWindowSystem() { SetWindowSystem(this); }

RecordingWindowSystem::~RecordingWindowSystem() { SetWindowSystem(nullptr); }

int RecordingWindowSystem::ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style)
{
    messages.push_back({text ? text : "", caption ? caption : "", style});
    if (style & kMbOkCancel) return okCancelAnswer;
    return HeadlessWindowSystem::ShowMessage(owner, text, caption, style);
}

void RecordingWindowSystem::PumpMessages()
{
    ++pumps;
    if (pumps == cancelAtPump) ProgressCommand(kProgressCommandCancel);
}

WindowHandle RecordingWindowSystem::OpenProgressWindow(WindowHandle, const char* title, bool showBar)
{
    if (!showsProgress) return nullptr;
    ++progressOpened;
    progressTitle = title ? title : "";
    progressBarShown = showBar;
    return &window_;
}

void RecordingWindowSystem::SetProgressItem(WindowHandle progress, const char* text)
{
    if (progress != &window_) foreignWindow = true;
    progressItems.push_back(text ? text : "");
}

void RecordingWindowSystem::DrawProgressBar(WindowHandle progress, unsigned percent)
{
    if (progress != &window_) foreignWindow = true;
    barPercents.push_back(percent);
}

void RecordingWindowSystem::CloseProgressWindow(WindowHandle progress)
{
    if (progress != &window_) foreignWindow = true;
    ++progressClosed;
}
