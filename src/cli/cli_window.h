// The window system of quaylink-cli: messages on standard error, the
// progress window as one line on standard error when that is a terminal
// (files, bytes, percent, rate; rewritten in place at most ten times a
// second), and Ctrl-C as the progress window's Cancel.
#pragma once
#include <chrono>
#include <string>

#include "core/window_system.h"

class CliWindow : public HeadlessWindowSystem {
public:
    CliWindow();
    ~CliWindow() override;
    CliWindow(const CliWindow&) = delete;
    CliWindow& operator=(const CliWindow&) = delete;

    // No progress line (-q).
    void SetQuiet(bool quiet) { quiet_ = quiet; }
    // From now until this object goes, Ctrl-C (SIGINT) presses Cancel at the
    // next pump instead of ending the program.
    void CatchInterrupt();
    // Whether Ctrl-C pressed Cancel.
    bool Interrupted() const { return interrupted_; }
    // Status messages shown (reports of a failure, caption-less boxes).
    unsigned FailuresShown() const { return failures_; }

    int ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style) override;
    void PumpMessages() override;
    WindowHandle OpenProgressWindow(WindowHandle owner, const char* title, bool showBar) override;
    void SetProgressItem(WindowHandle progress, const char* text) override;
    void DrawProgressBar(WindowHandle progress, unsigned percent) override;
    void CloseProgressWindow(WindowHandle progress) override;

private:
    void Draw(bool force);
    void ClearLine();

    bool quiet_ = false;
    bool terminal_ = false;
    bool catching_ = false;
    bool interrupted_ = false;
    unsigned failures_ = 0;
    int window_ = 0;  // its address is the progress window's handle
    bool open_ = false;
    bool lineShown_ = false;
    std::string title_;
    std::string item_;
    unsigned long filesDone_ = 0;
    std::chrono::steady_clock::time_point opened_;
    std::chrono::steady_clock::time_point drawn_;
};
