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

intptr_t RecordingWindowSystem::RunDialog(WindowHandle, const char* templateName, DialogProc, intptr_t param)
{
    char* name = reinterpret_cast<char*>(param);
    templates.push_back(templateName ? templateName : "");
    if (name != CollisionName) paramMismatch = true;
    shown.push_back(name ? name : "");
    if (answers_.empty()) return unscriptedAnswer;
    const ScriptedAnswer next = answers_.front();
    answers_.pop_front();
    if (next.answer == kAnswerNewName && name) {
        const std::string typed = next.typed.substr(0, std::strcmp(templateName, "MCOLLISION") == 0 ? 31 : 255);
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
