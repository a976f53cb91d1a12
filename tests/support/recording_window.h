// A window system for tests: it records message boxes, the progress
// window's calls, every taken-name question (its side and the name shown)
// and the pane controls reset; it answers OK/Cancel questions and the
// taken-name questions from a script, and can press the progress window's Cancel during
// a chosen pump.
//
//   RecordingWindowSystem ws;                      // installs itself; the destructor
//   ws.Script({{NameExistsAnswer::NewName, "B.TXT"}, {NameExistsAnswer::Skip}});  // puts the headless one back
//   ws.cancelAtPump = 3;
#pragma once
#include <deque>
#include <string>
#include <vector>

#include "translate/names.h"
#include "core/window_system.h"

struct ScriptedAnswer {
    NameExistsAnswer answer;
    std::string typed;  // written into the name buffer on OK
};

class RecordingWindowSystem : public HeadlessWindowSystem {
public:
    struct Message {
        std::string text;
        std::string caption;  // empty for the system's default caption
        unsigned style;
    };

    RecordingWindowSystem();
    ~RecordingWindowSystem() override;
    RecordingWindowSystem(const RecordingWindowSystem&) = delete;
    RecordingWindowSystem& operator=(const RecordingWindowSystem&) = delete;

    void Script(std::vector<ScriptedAnswer> answers) { answers_.assign(answers.begin(), answers.end()); }

    int ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style) override;
    NameExistsAnswer AskNameExists(WindowHandle owner, NameSide side, char* name) override;
    void PumpMessages() override;
    WindowHandle OpenProgressWindow(WindowHandle owner, const char* title, bool showBar) override;
    void SetProgressItem(WindowHandle progress, const char* text) override;
    void DrawProgressBar(WindowHandle progress, unsigned percent) override;
    void CloseProgressWindow(WindowHandle progress) override;
    void ListReset(int control) override { calls.push_back("ListReset " + std::to_string(control)); }
    void ComboReset(int control) override { calls.push_back("ComboReset " + std::to_string(control)); }
    void ComboAdd(int control, const char* text) override
    {
        calls.push_back("ComboAdd " + std::to_string(control) + " " + text);
    }
    void EnableControl(int control, bool on) override
    {
        calls.push_back("Enable " + std::to_string(control) + (on ? " on" : " off"));
    }

    // Script.
    int okCancelAnswer = kIdOk;           // answer to OK/Cancel questions
    NameExistsAnswer unscriptedAnswer = NameExistsAnswer::Cancel;  // a question with no scripted answer left
    bool showsProgress = true;            // false: OpenProgressWindow answers null
    unsigned cancelAtPump = 0;            // 1-based pump during which Cancel is pressed; 0 never

    // Record.
    std::vector<Message> messages;
    std::vector<NameSide> asked;          // every taken-name question, in order
    std::vector<std::string> shown;       // the name in the buffer when it opened
    bool paramMismatch = false;           // a question's name was not CollisionName
    std::vector<std::string> calls;       // pane controls reset, filled and enabled
    unsigned pumps = 0;
    unsigned progressOpened = 0;
    unsigned progressClosed = 0;
    std::string progressTitle;
    bool progressBarShown = false;
    std::vector<std::string> progressItems;  // every text written to the item line
    std::vector<unsigned> barPercents;       // every drawing of the bar
    bool foreignWindow = false;              // a call named a window this system did not open

private:
    std::deque<ScriptedAnswer> answers_;
    int window_ = 0;  // its address is the progress window's handle
};
