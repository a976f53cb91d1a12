// What the panes and the progress window show: sizes, DOS dates of Mac
// times, the pane's order and columns, and the progress bar.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "core/progress.h"
#include "core/status.h"
#include "hfs/listing.h"
#include "hfs/mac_time.h"
#include "support/engine_state.h"
#include "support/recording_window.h"
#include "support/time_zone.h"
#include "ui/format_text.h"
#include "ui/mac_pane.h"

namespace {

TEST(FormatText, SizesAndDates)
{
    const std::pair<uint32_t, const char*> sizes[] = {
        {9727, "9727"},          {9728, " 10K"},          {996087, "1.0M"},     {9961472, " 10M"},
        {1020054733, "1.0G"},    {4241280199u, "3.9G"},   {4241280204u, "4.0G"},  // the tenths carry
        {4294967294u, "4.0G"},   {4294967295u, ">4G"}};
    for (const auto& [n, text] : sizes) {
        char out[16];
        FormatSize(n, out);
        EXPECT_STREQ(out, text) << n;
    }
    EXPECT_STREQ(FormatDosDateTime(0x57A10000u), "") << "month 13";
    // A Mac date is what the local clock showed: every zone shows it as it
    // is, even a reading the zone's clock skips.
    for (const char* name : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "IST-5:30"}) {
        ScopedTimeZone zone(name);
        if (!zone.Active()) continue;
        EXPECT_EQ(DosTimeFromMac(1719835200u + 2082844800u), 0x58E16000u) << name;  // 2024-07-01 12:00
        EXPECT_EQ(DosTimeFromMac(1710037800u + 2082844800u), 0x586A13C0u) << name;  // 2024-03-10 02:30
        EXPECT_EQ(DosTimeFromMac(2398377599u), 0u) << name;                          // 1979
        EXPECT_EQ(DosTimeFromMac(0xFFFFFFFFu), 0x78463387u) << name;                 // 2040-02-06 06:28:15
    }
}

constexpr uint32_t Dos(unsigned year, unsigned month, unsigned day)
{
    return ((year - 1980) << 25) | (month << 21) | (day << 16);
}

TEST(PaneLines, FoldersFirstThenTheChosenOrderAndEachFieldInItsColumn)
{
    ResetEngineState();
    std::vector<MacItem> items(5);
    const struct {
        uint16_t kind;
        const char* name;
        uint32_t size;
        uint32_t date;
        const char* type;
        const char* creator;
    } specs[] = {{kItemFile, "small", 10, Dos(1995, 1, 1), "TEXT", "MSWD"},
                 {kItemFile, "Big", 5000, Dos(1990, 1, 1), "APPL", "ttxt"},
                 {kItemFolder, "zeta", 3, Dos(2001, 1, 1), "TEXT", "ttxt"},
                 {kItemFile, "also big", 5000, Dos(1999, 1, 1), "text", "AAAA"},
                 {kItemFolder, "Alpha", 7, Dos(1985, 1, 1), "TEXT", "ttxt"}};
    for (size_t i = 0; i < items.size(); ++i) {
        MacItem& item = items[i];
        item.kind = specs[i].kind;
        item.name[0] = static_cast<uint8_t>(std::strlen(specs[i].name));
        std::memcpy(item.name + 1, specs[i].name, item.name[0]);
        item.size = specs[i].size;
        item.date = specs[i].date;
        item.type[0] = item.creator[0] = 4;
        std::memcpy(item.type + 1, specs[i].type, 4);
        std::memcpy(item.creator + 1, specs[i].creator, 4);
    }
    const std::pair<uint16_t, const char*> orders[] = {{kSortByName, "Alpha zeta also big Big small "},
                                                       {kSortBySize, "Alpha zeta also big Big small "},
                                                       {kSortByDate, "zeta Alpha also big small Big "},
                                                       {kSortByType, "Alpha zeta Big also big small "},
                                                       {kSortByCreator, "Alpha zeta also big small Big "}};
    for (const auto& [sortId, want] : orders) {
        MacSortId = sortId;
        std::vector<MacItem*> order;
        for (MacItem& item : items) order.push_back(&item);
        std::stable_sort(order.begin(), order.end(),
                         [](const MacItem* a, const MacItem* b) { return CompareMacItems(a, b) < 0; });
        std::string names;
        for (const MacItem* item : order) names += std::string(reinterpret_cast<const char*>(item->name + 1), item->name[0]) + " ";
        EXPECT_EQ(names, want) << sortId;
    }

    MacItem file = items[1];
    file.size = 996087;
    file.resourceSize = 9728;
    file.name[3] = 0x8E;  // é
    MacItem* list[1] = {&file};
    MacPaneState.items = list;
    MacPaneState.count = 1;
    char line[96];
    FormatMacItemLine(line, 0);
    MacPaneState.items = nullptr;
    MacPaneState.count = 0;
    EXPECT_STREQ(line, "Bi\xE9                              APPL  ttxt  1.0M   10K  01/01/90");
    ResetEngineState();
}

TEST(Progress, TheBarFillsInStepsStaysFullAndCancelSetsItsCode)
{
    RecordingWindowSystem ws;
    ProgressTotal = 24;
    ProgressDone = 99;  // left over from an earlier window
    OpenProgress(nullptr, kProgressFormatting);
    for (int i = 0; i < 24; ++i) AdvanceProgress(1);
    const std::vector<unsigned> expected = {0,  4,  8,  12, 16, 20, 25, 29, 33, 37, 41, 45, 50,
                                            54, 58, 62, 66, 70, 75, 79, 83, 87, 91, 95, 100};
    EXPECT_EQ(ws.barPercents, expected);
    EXPECT_EQ(ProgressBarRight(104), 102);
    AdvanceProgress(60000);
    EXPECT_EQ(ProgressPercent(), 100u);
    ProgressDone = 0xFFFFFFF0u;
    AdvanceProgress(0xFFFF);
    EXPECT_EQ(ProgressDone, 0xFFFFFFFFu) << "never wraps";
    EXPECT_EQ(ProgressPercent(), 100u);
    ProgressTotal = 0xFFFFFFFFu;
    ProgressDone = 0x7FFFFFFFu;
    EXPECT_EQ(ProgressPercent(), 49u);

    ws.cancelAtPump = 1;
    PumpMessages();
    EXPECT_EQ(StatusCode, kStatusCancelled);
    EXPECT_NE(ProgressWindow, nullptr);
    CloseProgress();
    EXPECT_EQ(ProgressWindow, nullptr);
    StatusCode = 0;
    ProgressTotal = ProgressDone = 0;
}

}  // namespace
