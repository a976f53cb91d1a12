// A window system for tests: it records the message boxes and the progress
// window's calls the engine makes, answers OK/Cancel questions from a script,
// and can press the progress window's Cancel during a chosen pump.
//
//   RecordingWindowSystem ws;        // installs itself; the destructor puts
//   ws.cancelAtPump = 3;             // the headless one back
//   FormatDiskette(drive);
//   EXPECT_EQ(ws.messages.size(), 1u);
#pragma once
#include <string>
#include <vector>

#include "core/window_system.h"

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

    int ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style) override;
    void PumpMessages() override;
    WindowHandle OpenProgressWindow(WindowHandle owner, const char* title, bool showBar) override;
    void SetProgressItem(WindowHandle progress, const char* text) override;
    void DrawProgressBar(WindowHandle progress, unsigned percent) override;
    void CloseProgressWindow(WindowHandle progress) override;

    // Script.
    int okCancelAnswer = kIdOk;     // answer to OK/Cancel questions
    bool showsProgress = true;      // false: OpenProgressWindow answers null
    unsigned cancelAtPump = 0;      // 1-based pump during which Cancel is pressed; 0 never

    // Record.
    std::vector<Message> messages;
    unsigned pumps = 0;
    unsigned progressOpened = 0;
    unsigned progressClosed = 0;
    std::string progressTitle;
    bool progressBarShown = false;
    std::vector<std::string> progressItems;  // every text written to the item line
    std::vector<unsigned> barPercents;       // every drawing of the bar
    bool foreignWindow = false;              // a call named a window this system did not open

private:
    int window_ = 0;  // its address is the progress window's handle
};
