// A window system for the name collision dialogs: each "PCOLLISION" or
// "MCOLLISION" run takes the next scripted answer (and, for OK, the name to
// type), and every run is recorded with the name the dialog showed. It can
// also show a progress window, so that Cancel turns into StatusCode 120.
//
//   ScriptedDialogs dialogs;                      // installs itself
//   dialogs.Script({{kAnswerNewName, "B.TXT"}, {kAnswerSkip}});
//   EXPECT_EQ(MakePcName(name, "TXT"), kCollisionSkip);
//   EXPECT_EQ(dialogs.shown, (std::vector<std::string>{"A.TXT", "B.TXT"}));
#pragma once
#include <deque>
#include <string>
#include <vector>

#include "core/window_system.h"

struct ScriptedAnswer {
    intptr_t answer;
    std::string typed;       // written into the buffer on OK
};

class ScriptedDialogs : public HeadlessWindowSystem {
public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    void Script(std::vector<ScriptedAnswer> answers) { answers_.assign(answers.begin(), answers.end()); }

    intptr_t RunDialog(WindowHandle owner, const char* templateName, DialogProc proc, intptr_t param) override;
    int ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style) override;
    WindowHandle OpenProgressWindow(WindowHandle owner, const char* title, bool showBar) override;
    void PumpMessages() override;

    bool showsProgress = false;
    unsigned cancelAtPump = 0;            // 1-based pump during which Cancel is pressed; 0 never
    unsigned pumps = 0;
    std::vector<std::string> templates;   // every dialog run, in order
    std::vector<std::string> shown;       // the name in the buffer when it opened
    std::vector<std::string> messages;    // message box texts
    bool paramMismatch = false;           // param and CollisionName disagreed
    unsigned unscripted = 0;              // runs with no answer left (answered Cancel)

private:
    std::deque<ScriptedAnswer> answers_;
    int window_ = 0;
};
