#include "support/scripted_dialogs.h"

#include <cstring>

#include "core/progress.h"
#include "translate/names.h"

ScriptedDialogs::ScriptedDialogs() { SetWindowSystem(this); }

ScriptedDialogs::~ScriptedDialogs() { SetWindowSystem(nullptr); }

intptr_t ScriptedDialogs::RunDialog(WindowHandle, const char* templateName, DialogProc, intptr_t param)
{
    char* name = reinterpret_cast<char*>(param);
    templates.push_back(templateName ? templateName : "");
    if (name != CollisionName) paramMismatch = true;
    shown.push_back(name ? name : "");
    if (answers_.empty()) {
        ++unscripted;
        return kAnswerCancel;
    }
    const ScriptedAnswer next = answers_.front();
    answers_.pop_front();
    if (next.answer == kAnswerNewName && name) {
        const size_t limit = std::strcmp(templateName, "MCOLLISION") == 0 ? 31 : 255;
        const std::string typed = next.typed.substr(0, limit);
        std::memcpy(name, typed.c_str(), typed.size() + 1);
    }
    return next.answer;
}

int ScriptedDialogs::ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style)
{
    messages.push_back(text ? text : "");
    return HeadlessWindowSystem::ShowMessage(owner, text, caption, style);
}

WindowHandle ScriptedDialogs::OpenProgressWindow(WindowHandle, const char*, bool)
{
    return showsProgress ? &window_ : nullptr;
}

void ScriptedDialogs::PumpMessages()
{
    if (++pumps == cancelAtPump) ProgressCommand(kProgressCommandCancel);
}
