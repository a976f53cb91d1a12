#include "support/recording_window.h"

#include <cstring>

#include "core/progress.h"

int RecordingWindowSystem::ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style)
{
    messages.push_back({text ? text : "", caption ? caption : "", style});
    if ((style & kMbOkCancel) && cancelAtQuestion) okCancelAnswer = ++questions == cancelAtQuestion ? kIdCancel : kIdOk;
    return HeadlessWindowSystem::ShowMessage(owner, text, caption, style);
}

NameExistsAnswer RecordingWindowSystem::AskNameExists(WindowHandle, NameSide side, char* name)
{
    asked.push_back(side);
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
