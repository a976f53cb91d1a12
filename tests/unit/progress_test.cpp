// The progress counters: which kinds open a window, how the bar advances and
// saturates, Cancel, and closing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/progress.h"
#include "core/status.h"
#include "support/recording_window.h"
#include "ui/format_text.h"

namespace {

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset()
    {
        ProgressWindow = nullptr;
        ProgressTotal = 0;
        ProgressDone = 0;
        ProgressTitle = nullptr;
        WaitCursorEnabled = true;
        StatusCode = 0;
    }
};

TEST_F(ProgressTest, CopiesWithNothingToCountOpenNoWindowButCountingAndDeletingDo)
{
    const std::vector<std::string> titles = {
        "Formatting",        "Copying from PC to Mac", "Copying from Mac to PC", "Searching PC disk for files",
        "Searching Mac disk for files", "Deleting PC files", "Deleting Mac files",
    };
    for (unsigned kind = 0; kind < kProgressKinds; ++kind) {
        SCOPED_TRACE(kind);
        RecordingWindowSystem ws;
        ProgressTotal = 0;
        OpenProgress(nullptr, kind);
        const bool opens = kind > kProgressCopyMacToPc;
        EXPECT_EQ(ws.progressOpened, opens ? 1u : 0u);
        EXPECT_EQ(ProgressWindow != nullptr, opens);
        if (opens) {
            EXPECT_EQ(ws.progressTitle, titles[kind]);
            EXPECT_FALSE(ws.progressBarShown);  // no total, no bar
            EXPECT_FALSE(WaitCursorEnabled);
            AdvanceProgress(5);  // without a total nothing moves
            EXPECT_EQ(ProgressDone, 0u);
        }
        CloseProgress();
        EXPECT_EQ(ProgressWindow, nullptr);
        EXPECT_TRUE(WaitCursorEnabled);

        ProgressTotal = 10;
        OpenProgress(nullptr, kind);
        EXPECT_NE(ProgressWindow, nullptr);
        EXPECT_TRUE(ws.progressBarShown);
        EXPECT_STREQ(ProgressTitle, titles[kind].c_str());
        CloseProgress();
    }
    RecordingWindowSystem ws;
    OpenProgress(nullptr, kProgressKinds);  // no such kind
    EXPECT_EQ(ws.progressOpened, 0u);
}

TEST_F(ProgressTest, TwentyFourStepsFillTheBarInStepsOfAboutFourPercent)
{
    RecordingWindowSystem ws;
    ProgressTotal = 24;
    ProgressDone = 99;  // left over from an earlier window
    OpenProgress(nullptr, kProgressFormatting);
    EXPECT_EQ(ProgressDone, 0u);
    for (int i = 0; i < 24; ++i) AdvanceProgress(1);
    const std::vector<unsigned> expected = {0,  4,  8,  12, 16, 20, 25, 29, 33, 37, 41, 45, 50,
                                            54, 58, 62, 66, 70, 75, 79, 83, 87, 91, 95, 100};
    EXPECT_EQ(ws.barPercents, expected);
    EXPECT_EQ(ProgressBarRight(104), 102);  // full: 2 pixels short of the right edge
    ProgressDone = 12;
    EXPECT_EQ(ProgressBarRight(104), 52);
    EXPECT_EQ(ProgressBarRight(3), 2);  // a box too small for a bar
}

TEST_F(ProgressTest, DoneBeyondTheTotalKeepsTheBarFullAndNeverWraps)
{
    RecordingWindowSystem ws;
    ProgressTotal = 1000;
    OpenProgress(nullptr, kProgressCopyMacToPc);
    AdvanceProgress(60000);
    EXPECT_EQ(ProgressPercent(), 100u);
    ProgressDone = 0xFFFFFFF0u;
    AdvanceProgress(0xFFFF);
    EXPECT_EQ(ProgressDone, 0xFFFFFFFFu);
    EXPECT_EQ(ProgressPercent(), 100u);
    // Large totals are divided in floating point: no overflow of done * 100.
    ProgressTotal = 0xFFFFFFFFu;
    ProgressDone = 0x7FFFFFFFu;
    EXPECT_EQ(ProgressPercent(), 49u);
}

TEST_F(ProgressTest, ItemTextResetAndCloseGoToTheOpenWindowOnly)
{
    RecordingWindowSystem ws;
    SetProgressItemText("ignored: no window");
    AdvanceProgress(1);
    ResetProgress();
    EXPECT_TRUE(ws.progressItems.empty());
    EXPECT_TRUE(ws.barPercents.empty());

    ProgressTotal = 4;
    OpenProgress(nullptr, kProgressDeleteMac);
    SetProgressItemText("Letter");
    AdvanceProgress(2);
    ResetProgress();
    EXPECT_EQ(ProgressDone, 0u);
    EXPECT_EQ(ws.progressItems, (std::vector<std::string>{"", "Letter", ""}));
    EXPECT_EQ(ws.barPercents, (std::vector<unsigned>{0, 50, 0}));

    // Opening while a window is up replaces it: never two at once.
    OpenProgress(nullptr, kProgressDeletePc);
    EXPECT_EQ(ws.progressClosed, 1u);
    ProgressCommand(kProgressCommandClose);
    ProgressCommand(kProgressCommandClose);
    EXPECT_EQ(ws.progressClosed, 2u);
    EXPECT_FALSE(ws.foreignWindow);
}

TEST_F(ProgressTest, CancelSetsCodeOneHundredTwentyAndLeavesTheWindowOpen)
{
    RecordingWindowSystem ws;
    ws.cancelAtPump = 2;
    ProgressTotal = 3;
    OpenProgress(nullptr, kProgressCopyPcToMac);
    PumpMessages();
    EXPECT_EQ(StatusCode, 0u);
    PumpMessages();
    EXPECT_EQ(StatusCode, kStatusCancelled);
    ProgressCommand(kProgressCommandCancel);  // pressed twice: the same code
    EXPECT_EQ(StatusCode, kStatusCancelled);
    EXPECT_NE(ProgressWindow, nullptr);
    EXPECT_EQ(ws.pumps, 2u);
    CloseProgress();
}

}  // namespace
