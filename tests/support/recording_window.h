// A window system for tests: it records message boxes, the progress bar and
// every taken-name question (its side and the name shown), answers those
// questions from a script, and can press the progress window's Cancel
// during a chosen pump or answer Cancel to a chosen OK/Cancel question. It installs itself; the destructor puts the
// headless one back.
#pragma once
#include <deque>
#include <string>
#include <vector>

#include "core/dialog.h"
#include "core/window_system.h"
#include "translate/names.h"

// Steps of a scripted dialog session.
inline DialogStep Clear(int id) { return {DialogStep::Clear, id, "", 0}; }
inline DialogStep Type(int id, const std::string& text) { return {DialogStep::Type, id, text, 0}; }
inline DialogStep Paste(int id, const std::string& text) { return {DialogStep::Paste, id, text, 0}; }
inline DialogStep Check(int id, bool on) { return {DialogStep::Check, id, "", on}; }
inline DialogStep Select(int id, int index) { return {DialogStep::Select, id, "", index}; }
inline DialogStep Press(int id) { return {DialogStep::Press, id, "", 0}; }

struct ScriptedAnswer {
    NameExistsAnswer answer;
    std::string typed;  // written into the name buffer on NewName
};

class RecordingWindowSystem : public HeadlessWindowSystem {
public:
    struct Message {
        std::string text;
        std::string caption;  // empty for the system's default caption
        unsigned style;
    };
    RecordingWindowSystem() { SetWindowSystem(this); }
    ~RecordingWindowSystem() override { SetWindowSystem(nullptr); }
    RecordingWindowSystem(const RecordingWindowSystem&) = delete;
    RecordingWindowSystem& operator=(const RecordingWindowSystem&) = delete;
    void Script(std::vector<ScriptedAnswer> answers) { answers_.assign(answers.begin(), answers.end()); }
    // Runs `run` with `steps` as the next dialog's script.
    template <typename F>
    int Session(std::vector<DialogStep> steps, F run)
    {
        dialogScripts.push_back(std::move(steps));
        return run();
    }
    // What control `id` of the last dialog held when it closed.
    std::string Shown(int id) const { return dialogRuns.back().model.controls.at(id).text; }
    int ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style) override;
    NameExistsAnswer AskNameExists(WindowHandle owner, NameSide side, char* name) override;
    void PumpMessages() override;
    WindowHandle OpenProgressWindow(WindowHandle, const char* title, bool) override
    {
        progressTitle = title ? title : "";
        return &window_;
    }
    void DrawProgressBar(WindowHandle, unsigned percent) override { barPercents.push_back(percent); }
    void CloseProgressWindow(WindowHandle) override { ++progressClosed; }
    NameExistsAnswer unscriptedAnswer = NameExistsAnswer::Cancel;  // when the script has run out
    unsigned cancelAtPump = 0;      // 1-based pump during which Cancel is pressed; 0 never
    unsigned cancelAtQuestion = 0;  // 1-based OK/Cancel question answered Cancel, the others OK; 0: okCancelAnswer
    unsigned questions = 0;
    std::vector<Message> messages;
    std::vector<NameSide> asked;     // every taken-name question, in order
    std::vector<std::string> shown;  // the name in the buffer when it opened
    unsigned pumps = 0;
    unsigned progressClosed = 0;
    std::vector<unsigned> barPercents;
    std::string progressTitle;  // of the last window opened

private:
    std::deque<ScriptedAnswer> answers_;
    int window_ = 0;  // its address is the progress window's handle
};
