#include "cli/cli_window.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

#include "cli/cli.h"
#include "core/progress.h"
#include "ui/format_text.h"

namespace {

volatile std::sig_atomic_t g_interruptPressed = 0;
void (*g_previousHandler)(int) = SIG_DFL;

extern "C" void OnInterrupt(int) { g_interruptPressed = 1; }

// The copy and delete windows count files; the searching ones show their text.
bool CountsFiles(const std::string& title)
{
    return title == ProgressKindTitle(kProgressCopyPcToMac) || title == ProgressKindTitle(kProgressCopyMacToPc) ||
           title == ProgressKindTitle(kProgressDeletePc) || title == ProgressKindTitle(kProgressDeleteMac);
}

std::string Size(uint64_t bytes)
{
    char text[16];
    FormatSize(bytes > 0xFFFFFFFEu ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes), text);
    const char* start = text;
    while (*start == ' ') ++start;
    return start;
}

}  // namespace

CliWindow::CliWindow() : terminal_(isatty(2) != 0) {}

CliWindow::~CliWindow()
{
    ClearLine();
    if (catching_) std::signal(SIGINT, g_previousHandler);
}

void CliWindow::CatchInterrupt()
{
    if (catching_) return;
    g_interruptPressed = 0;
    g_previousHandler = std::signal(SIGINT, OnInterrupt);
    if (g_previousHandler == SIG_ERR) g_previousHandler = SIG_DFL;
    catching_ = true;
}

int CliWindow::ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style)
{
    // A confirmation is answered OK unasked: the command line named what to do.
    if ((style & 0xF) == kMbOkCancel) return HeadlessWindowSystem::ShowMessage(owner, text, caption, style);
    ClearLine();
    if (caption == nullptr) ++failures_;
    std::fprintf(stderr, "%s%s%s%s\n", caption ? caption : "", caption ? ": " : "", text,
                 (style & kMbYesNo) ? " Yes" : "");
    return HeadlessWindowSystem::ShowMessage(owner, text, caption, style);
}

void CliWindow::PumpMessages()
{
    if (g_interruptPressed) {
        g_interruptPressed = 0;
        interrupted_ = true;
        ProgressCancelPressed();
    }
    Draw(false);
}

WindowHandle CliWindow::OpenProgressWindow(WindowHandle, const char* title, bool)
{
    open_ = true;
    title_ = title ? title : "";
    item_.clear();
    filesDone_ = 0;
    opened_ = std::chrono::steady_clock::now();
    drawn_ = opened_;
    return &window_;
}

void CliWindow::SetProgressItem(WindowHandle, const char* text)
{
    item_ = text ? text : "";
    if (!item_.empty() && CountsFiles(title_)) ++filesDone_;
    Draw(false);
}

void CliWindow::DrawProgressBar(WindowHandle, unsigned) { Draw(false); }

void CliWindow::CloseProgressWindow(WindowHandle)
{
    ClearLine();
    open_ = false;
}

void CliWindow::Draw(bool force)
{
    if (!open_ || quiet_ || !terminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && lineShown_ && now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    std::string line = title_ + ": ";
    if (CountsFiles(title_)) {
        const double seconds = std::chrono::duration<double>(now - opened_).count();
        const uint64_t rate = seconds > 0.05 ? static_cast<uint64_t>(ProgressDone / seconds) : 0;
        char text[160];
        std::snprintf(text, sizeof text, "%lu/%lu files, %s of %s, %u%%, %s/s",
                      filesDone_ ? filesDone_ - 1 : 0, static_cast<unsigned long>(ProgressFileCount),
                      Size(ProgressDone).c_str(), Size(ProgressTotal).c_str(), ProgressPercent(),
                      Size(rate).c_str());
        line += text;
    } else {
        for (char c : item_) line += c == '\n' ? ", " : std::string(1, c);
    }
    line = ShownText(AnsiToUtf8(line));
    std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
    std::fflush(stderr);
    lineShown_ = true;
}

void CliWindow::ClearLine()
{
    if (!lineShown_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    lineShown_ = false;
}
