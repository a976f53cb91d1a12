// The Mac pane's order and line format, on entries made in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "hfs/listing.h"
#include "support/engine_state.h"
#include "ui/mac_pane.h"

namespace {

class PaneLines : public EngineStateTest {
protected:
    void TearDown() override
    {
        FreeMacItemList();
        EngineStateTest::TearDown();
    }

    MacItem* Add(uint16_t kind, const char* name, uint32_t size = 0, uint32_t date = 0, const char* type = "TEXT",
                 const char* creator = "ttxt")
    {
        auto* item = new MacItem();
        item->kind = kind;
        item->name[0] = static_cast<uint8_t>(std::strlen(name));
        std::memcpy(item->name + 1, name, item->name[0]);
        item->size = size;
        item->date = date;
        item->type[0] = item->creator[0] = 4;
        std::memcpy(item->type + 1, type, 4);
        std::memcpy(item->creator + 1, creator, 4);
        items.push_back(item);
        return item;
    }

    // The names in the order the pane's comparison gives under `sortId`.
    std::string Sorted(uint16_t sortId)
    {
        MacSortId = sortId;
        std::vector<MacItem*> order = items;
        std::stable_sort(order.begin(), order.end(),
                         [](const MacItem* a, const MacItem* b) { return CompareMacItems(a, b) < 0; });
        std::string names;
        for (const MacItem* item : order) names += std::string(reinterpret_cast<const char*>(item->name + 1), item->name[0]) + " ";
        return names;
    }

    std::string Line(MacItem* item)
    {
        MacItem* list[1] = {item};
        MacPaneState.items = nullptr;
        MacPaneState.count = 1;
        MacItem** saved = MacPaneState.items;
        MacPaneState.items = list;
        char line[96];
        FormatMacItemLine(line, 0);
        MacPaneState.items = saved;
        MacPaneState.count = 0;
        return line;
    }

    std::vector<MacItem*> items;
    ~PaneLines() override
    {
        for (MacItem* item : items) delete item;
    }
};

constexpr uint32_t Dos(unsigned year, unsigned month, unsigned day)
{
    return ((year - 1980) << 25) | (month << 21) | (day << 16);
}

TEST_F(PaneLines, FoldersComeFirstThenTheChosenOrder)
{
    Add(kItemFile, "small", 10, Dos(1995, 1, 1), "TEXT", "MSWD");
    Add(kItemFile, "Big", 5000, Dos(1990, 1, 1), "APPL", "ttxt");
    Add(kItemFolder, "zeta", 3, Dos(2001, 1, 1));
    Add(kItemFile, "also big", 5000, Dos(1999, 1, 1), "text", "AAAA");
    Add(kItemFolder, "Alpha", 7, Dos(1985, 1, 1));

    EXPECT_EQ(Sorted(kSortByName), "Alpha zeta also big Big small ");
    EXPECT_EQ(Sorted(kSortBySize), "Alpha zeta also big Big small ");      // equal sizes by name
    EXPECT_EQ(Sorted(kSortByDate), "zeta Alpha also big small Big ");      // folders by date too
    EXPECT_EQ(Sorted(kSortByType), "Alpha zeta Big also big small ");      // "text" == "TEXT": then names
    EXPECT_EQ(Sorted(kSortByCreator), "Alpha zeta also big small Big ");
}

TEST_F(PaneLines, LinesPutEachFieldInItsColumn)
{
    MacItem* file = Add(kItemFile, "Read Me", 996087, Dos(1997, 3, 9), "TEXT", "ttxt");
    file->resourceSize = 9728;
    const std::string line = Line(file);
    EXPECT_EQ(line.substr(0, 7), "Read Me");
    EXPECT_EQ(line.substr(33, 4), "TEXT");
    EXPECT_EQ(line.substr(39, 4), "ttxt");
    EXPECT_EQ(line.substr(45, 5), "1.0M ");
    EXPECT_EQ(line.substr(51, 5), " 10K ");
    EXPECT_EQ(line.substr(57), "03/09/97");

    EXPECT_EQ(Line(Add(kItemFolder, "Stuff", 2, Dos(2003, 12, 31))).substr(34), "[FOLDER]               12/31/103");
    MacItem* volume = Add(kItemVolume, "Disk");
    EXPECT_EQ(Line(volume), "Disk                              [VOLUME]");
}

TEST_F(PaneLines, MacCharactersShowAsPcCharacters)
{
    const std::string line = Line(Add(kItemFile, "Caf\x8E", 0, Dos(2020, 1, 1), "\xA5TXT", "ttxt"));
    EXPECT_EQ(line.substr(0, 4), "Caf\xE9");
    EXPECT_EQ(line.substr(33, 4), "\x95TXT");
}

}  // namespace
