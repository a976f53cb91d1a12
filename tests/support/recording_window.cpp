#include "support/recording_window.h"

#include <cstring>

#include "core/progress.h"

RecordingWindowSystem::RecordingWindowSystem() { SetWindowSystem(this); }

RecordingWindowSystem::~RecordingWindowSystem() { SetWindowSystem(nullptr); }

int RecordingWindowSystem::ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style)
{
    messages.push_back({text ? text : "", caption ? caption : "", style});
    if (style & kMbOkCancel) return okCancelAnswer;
    return HeadlessWindowSystem::ShowMessage(owner, text, caption, style);
}

NameExistsAnswer RecordingWindowSystem::AskNameExists(WindowHandle, NameSide side, char* name)
{
    asked.push_back(side);
    if (name != CollisionName) paramMismatch = true;
    shown.push_back(name ? name : "");
    if (answers_.empty()) return unscriptedAnswer;
    const ScriptedAnswer next = answers_.front();
    answers_.pop_front();
    if (next.answer == NameExistsAnswer::NewName && name) {
        const std::string typed = next.typed.substr(0, side == NameSide::Mac ? 31 : 255);
        std::memcpy(name, typed.c_str(), typed.size() + 1);
    }
    return next.answer;
}

void RecordingWindowSystem::PumpMessages()
{
    if (++pumps == cancelAtPump) ProgressCommand(kProgressCommandCancel);
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
