// The PC pane: its lines, its orders, the scroll of the name column, and
// what a listing shows of hidden entries, links and an empty directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "core/main_state.h"
#include "platform/platform.h"
#include "support/temp_image.h"
#include "ui/main_window.h"
#include "ui/main_window_ids.h"
#include "ui/pc_pane.h"

namespace {

uint32_t Dos(unsigned year, unsigned month, unsigned day) { return ((year - 1980) << 25) | (month << 21) | (day << 16); }

class PcPaneTest : public DiskStateTest {
protected:
    void SetUp() override
    {
        DiskStateTest::SetUp();
        SetWindowSystem(&ws);
        PcDirectory = dir.Path();
    }
    TempDir dir;
    HeadlessWindowSystem ws;
};

TEST_F(PcPaneTest, LinesKeepTheirColumns)
{
    const struct {
        const char* name;
        uint16_t kind;
        uint32_t size;
        uint32_t modified;
        int offset;
        const char* line;
    } rows[] = {
        {"REPORT.DOC", kPcFile, 9727, Dos(1999, 12, 31), 0,
         "REPORT.DOC                                    DOC  9727  12/31/99"},
        {"archive.tar.gz", kPcFile, 10240, Dos(2000, 1, 1), 0,
         "archive.tar.gz                                GZ    10K  01/01/100"},
        {"notes.backup", kPcFile, 0xFFFFFFFF, Dos(2000, 1, 1), 0,
         "notes.backup                                       >4G   01/01/100"},
        {"DATA.OLD", kPcDirectory, 0, Dos(1997, 6, 5), 0,
         "DATA.OLD                                           [DIR] 06/05/97"},
        {"page.html", kPcLink, 0, Dos(1997, 6, 5), 0,
         "page.html                                     HTM  [LNK] 06/05/97"},
        {"page.html", kPcFile, 0, Dos(1997, 6, 5), 5, "html                                          HTM     0  06/05/97"},
        {"page.html", kPcFile, 0, Dos(1997, 6, 5), 10, "                                              HTM     0  06/05/97"},
    };
    for (const auto& row : rows) {
        char line[81];
        FormatPcItem(line, PcItem{row.size, row.modified, row.kind, row.name}, row.offset);
        EXPECT_STREQ(line, row.line) << row.name;
    }
    char cut[81];
    FormatPcItem(cut, PcItem{1, 0, kPcFile, std::string(50, 'n')}, 0);
    EXPECT_EQ(std::string(cut).substr(0, 46), std::string(44, 'n') + "  ");
}

TEST_F(PcPaneTest, DirectoriesFirstThenTheSortThenTheName)
{
    const std::vector<PcItem> items = {
        {100, Dos(2001, 1, 1), kPcFile, "b.TXT"},      {0xFFFFFFFF, Dos(1999, 1, 1), kPcFile, "big.iso"},
        {5, Dos(2003, 1, 1), kPcFile, "README"},       {0, Dos(1990, 1, 1), kPcDirectory, "zeta"},
        {100, Dos(2002, 1, 1), kPcFile, "A.txt"},      {0, Dos(2005, 1, 1), kPcDirectory, "Alpha.d"},
        {7, Dos(1998, 1, 1), kPcFile, "archive.tar.gz"},
    };
    const struct {
        uint16_t sort;
        std::vector<std::string> order;
    } rows[] = {
        {kSortByName, {"Alpha.d", "zeta", "A.txt", "archive.tar.gz", "b.TXT", "big.iso", "README"}},
        {kSortByType, {"zeta", "Alpha.d", "README", "archive.tar.gz", "big.iso", "A.txt", "b.TXT"}},
        {kSortBySize, {"Alpha.d", "zeta", "big.iso", "A.txt", "b.TXT", "archive.tar.gz", "README"}},
        {kSortByDate, {"Alpha.d", "zeta", "README", "A.txt", "b.TXT", "big.iso", "archive.tar.gz"}},
    };
    for (const auto& row : rows) {
        PcSortId = row.sort;
        std::vector<PcItem> sorted = items;
        std::sort(sorted.begin(), sorted.end(), [](const PcItem& a, const PcItem& b) { return ComparePcItems(a, b) < 0; });
        std::vector<std::string> names;
        for (const PcItem& item : sorted) names.push_back(item.name);
        EXPECT_EQ(names, row.order) << row.sort;
    }
}

TEST_F(PcPaneTest, TheScrollRangeIsTheLongestOverhang)
{
    const struct {
        size_t longest;
        int request;
        int position;
        int expected;
    } rows[] = {
        {44, kScrollPageRight, 0, 0}, {50, kScrollPageRight, 0, 6}, {50, kScrollLineRight, 0, 1},
        {50, kScrollLineLeft, 0, 0},  {50, kScrollThumbTrack, 4, 4}, {50, kScrollEnd, 0, 0},
        {60, kScrollThumbTrack, 99, 16},
    };
    for (const auto& row : rows) {
        TempDir here;
        PcDirectory = here.Path();
        here.WriteFile(std::string(row.longest, 'x'), {});
        here.WriteFile("short", {});
        RefreshPcList(nullptr);
        EXPECT_EQ(ws.ScrollBar(kIdPcScrollBar).shown, row.longest > 44) << row.longest;
        EXPECT_EQ(ws.ScrollBar(kIdPcScrollBar).maximum, static_cast<int>(row.longest) - 44 > 0 ? int(row.longest) - 44 : 0);
        PcHorizontalScroll(row.request, row.position);
        EXPECT_EQ(HScrollPos, row.expected) << row.longest << " " << row.request;
        EXPECT_EQ(ws.ScrollBarPos(kIdPcScrollBar), row.expected);
    }
}

TEST_F(PcPaneTest, ListingShowsEveryEntryAndNeverEntersALink)
{
    RefreshPcList(nullptr);
    EXPECT_EQ(ws.ListCount(kIdPcList), 0);
    EXPECT_FALSE(ws.ScrollBar(kIdPcScrollBar).shown);
    const std::string label = ws.ControlText(kIdPcDriveLabel);
    EXPECT_EQ(label.rfind("PC Drive: ", 0), 0u);
    EXPECT_NE(label.find(" of "), std::string::npos);
    dir.WriteFile(".hidden", {});
    ASSERT_TRUE(MakeDir(dir.PathOf("Sub").c_str()));
#ifndef _WIN32
    std::filesystem::create_directory_symlink(dir.PathOf("Sub"), dir.PathOf("link"));
#endif
    RefreshPcList(nullptr);
    std::vector<std::string> names;
    for (const PcItem& item : PcItemList) names.push_back(item.name);
#ifndef _WIN32
    EXPECT_EQ(names, (std::vector<std::string>{"Sub", ".hidden", "link"}));
    // A double-click on the link does not enter it.
    SetActivePane(1);
    ws.ListSelect(kIdPcList, 2, true);
    MainWindowCommand(nullptr, kIdPcList, kNotifyDoubleClick);
    EXPECT_EQ(PcDirectory, dir.Path());
#else
    EXPECT_EQ(names, (std::vector<std::string>{"Sub", ".hidden"}));
#endif
    // A drive that cannot say its space shows zero sizes.
#ifdef _WIN32
    PcDirectory = "Q:\\missing";  // a drive that is not there
#else
    PcDirectory = dir.PathOf("missing");
#endif
    UpdatePcSpaceLabel(nullptr);
    EXPECT_EQ(ws.ControlText(kIdPcDriveLabel), "PC Drive:    0 of    0 free");
}

}  // namespace
