// The main window driven as a user drives it: start-up, the checks and
// refusals of every file command, the active pane, Sort By, the path and
// drive boxes, Enter, the way out, and which disk image is held.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "platform/platform.h"
#include "support/mini_volume.h"
#include "support/temp_image.h"
#include "ui/dialog_logic.h"
#include "ui/main_window.h"
#include "ui/main_window_ids.h"
#include "ui/pc_pane.h"

namespace {

WindowHandle const kWindow = reinterpret_cast<WindowHandle>(0x1234);

const char kNoVolume[] =
    "First select a drive from the \"Mac Drive\" box, then double-click a volume in the \"Mac Files\" box.";
const char kPcNoSelection[] = "First select items in the \"PC Files\" box by single-clicking them.";
const char kMacNoSelection[] = "First select items in the \"Mac Files\" box by single-clicking them.";

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { Fresh(); }
    void TearDown() override
    {
        image.reset();
        ResetProgramState();
    }
    void Fresh()
    {
        image.reset();
        ResetProgramState();
        ws = HeadlessWindowSystem{};
        SetWindowSystem(&ws);
        PcDirectory = dir.Path();
        std::snprintf(IniPath, sizeof IniPath, "%s", dir.PathOf("PIER.INI").c_str());
    }
    void Command(int id, unsigned notification = kNotifyClicked) { MainWindowCommand(kWindow, id, notification); }
    void Start() { ASSERT_EQ(StartMainWindow(kWindow), 1); }
    // The mini volume as the Mac drive, chosen in the drive box, and (when
    // asked) its volume opened: the root then lists Docs, Alpha, Beta, Delta, Gamma.
    void OpenMini(bool writable = true, bool open = true)
    {
        image = std::make_unique<TempImage>(MakeMiniVolume().bytes, 512, writable);
        ResetMacPane(kWindow);
        ws.ComboSelect(kIdMacDriveBox, 0);
        Command(kIdMacDriveBox, kNotifyCloseUp);
        if (!open) return;
        ws.ListSelect(kIdMacList, 0, true);
        Command(kIdMacList, kNotifyDoubleClick);
        ASSERT_NE(MacPaneState.parentId, 0u);
    }
    std::vector<std::string> ComboItems(int box) { return ws.Combo(box).items; }
    std::string MacItemName(int i) { return MacString(MacPaneState.items[i]->name); }

    TempDir dir;
    HeadlessWindowSystem ws;
    std::unique_ptr<TempImage> image;
};

TEST_F(MainWindowTest, EveryCommandChecksInItsOrderAndRefusesWithItsText)
{
    enum : unsigned { kVol = 1, kReadOnly = 2, kMacEmpty = 4, kMacSel = 8, kPcFiles = 16, kPcSel = 32 };
    const char* const copy = "No Items Selected for Copy";
    const char* const del = "No Items Selected for Deletion";
    const char* const info = "No Items Selected";
    const struct {
        uint16_t pane;
        int command;
        unsigned state;
        const char* text;  // null: no refusal
        const char* caption;
        const char* runs;  // when nothing is refused: the flow's first question, or the dialog opened
    } rows[] = {
        {1, kCmdCopy, 0, kNoVolume, "No Mac Volume Mounted", ""},  // before the empty PC list
        {1, kCmdCopy, kVol, "This PC directory is empty.", copy, ""},
        {1, kCmdCopy, kVol | kPcFiles, kPcNoSelection, copy, ""},
        {1, kCmdCopy, kVol | kReadOnly | kPcFiles | kPcSel, "This Mac drive is read only.", "Can't Copy to Mac", ""},
        {1, kCmdCopy, kVol | kPcFiles | kPcSel, nullptr, nullptr, "Ready to copy from PC to Mac"},
        {0, kCmdCopy, kPcFiles | kPcSel, kNoVolume, "No Mac Volume Mounted", ""},
        {0, kCmdCopy, kVol | kMacEmpty, "This Mac folder is empty.", copy, ""},
        {0, kCmdCopy, kVol, kMacNoSelection, copy, ""},
        {0, kCmdCopy, kVol | kReadOnly | kMacSel, nullptr, nullptr, "Ready to copy from Mac to PC"},
        {1, kCmdNew, 0, nullptr, nullptr, "CREATEDIR"},
        {0, kCmdNew, 0, kNoVolume, "No Mac Volume Mounted", ""},
        {0, kCmdNew, kVol | kReadOnly, "This Mac drive is read only.", "Can't Create Folder", ""},
        {0, kCmdNew, kVol, nullptr, nullptr, "CREATEFLD"},
        {1, kCmdDelete, 0, "This PC directory is empty.", del, ""},
        {1, kCmdDelete, kPcFiles, kPcNoSelection, del, ""},
        {1, kCmdDelete, kPcFiles | kPcSel, nullptr, nullptr, "Ready to delete files from PC disk"},  // no volume needed
        {0, kCmdDelete, 0, kNoVolume, "No Mac Volume Mounted", ""},
        {0, kCmdDelete, kVol | kReadOnly | kMacEmpty, "This Mac folder is empty.", del, ""},  // before read only
        {0, kCmdDelete, kVol, kMacNoSelection, del, ""},
        {0, kCmdDelete, kVol | kReadOnly | kMacSel, "This Mac drive is read only.", "Can't Delete", ""},
        {0, kCmdDelete, kVol | kMacSel, nullptr, nullptr, "WARNING"},
        {1, kCmdInfo, 0, "This PC directory is empty.", info, ""},
        {1, kCmdInfo, kPcFiles, kPcNoSelection, info, ""},
        {1, kCmdInfo, kPcFiles | kPcSel, nullptr, nullptr, "DOSINFO"},
        {0, kCmdInfo, kPcFiles | kPcSel, kNoVolume, "No Mac Volume Mounted", ""},
        {0, kCmdInfo, kVol | kMacEmpty, "This Mac folder is empty.", info, ""},
        {0, kCmdInfo, kVol, kMacNoSelection, info, ""},
        {0, kCmdInfo, kVol | kMacSel, nullptr, nullptr, "MACFLDRINFO"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "pane " << row.pane << " command " << row.command << " state " << row.state);
        Fresh();
        if (row.state & kPcFiles)
            dir.WriteFile("A.TXT", {1, 2, 3});
        else
            FileDelete(dir.PathOf("A.TXT").c_str());
        Start();
        if (row.state & kVol) OpenMini(!(row.state & kReadOnly));
        if (row.state & kMacEmpty) ws.ListReset(kIdMacList);
        if (row.state & kMacSel) ws.ListSelect(kIdMacList, 0, true);
        Command(row.pane == 1 ? int{kIdPcList} : int{kIdMacList}, 1);
        if (row.state & kPcSel) ws.ListSelect(kIdPcList, 0, true);
        ws.messageCount = 0;
        ws.okCancelAnswer = kIdCancel;  // a flow that runs stops at its first question
        ws.dialogRuns.clear();
        Command(row.command);
        if (row.text) {
            EXPECT_EQ(ws.messageCount, 1);
            EXPECT_STREQ(ws.lastText, row.text);
            EXPECT_STREQ(ws.lastCaption, row.caption);
            EXPECT_EQ(ws.lastStyle, kMbOk | kMbIconNone);
            EXPECT_TRUE(ws.dialogRuns.empty());
        } else if (ws.dialogRuns.empty()) {
            EXPECT_EQ(ws.messageCount, 1) << ws.lastText;
            EXPECT_STREQ(ws.lastCaption, row.runs);
        } else {
            EXPECT_EQ(ws.messageCount, 0) << ws.lastText;
            ASSERT_EQ(ws.dialogRuns.size(), 1u);
            EXPECT_EQ(ws.dialogRuns[0].templateName, row.runs);
        }
    }
}

TEST_F(MainWindowTest, StartsWithTheMacPaneActiveAndFollowsTheListClicked)
{
    Start();
    EXPECT_STREQ(ws.lastText, "Can't find any Mac compatible drives.");
    EXPECT_EQ(ActivePane, 0);
    EXPECT_EQ(MainWindow, kWindow);
    const struct {
        uint16_t pane;
        const char* names[4];
        std::vector<int> sortIds;
    } panes[] = {
        {0, {"&Copy From Mac", "&New Mac Folder", "&Delete From Mac", "Mac Item &Info"}, {250, 251, 252, 253, 254}},
        {1, {"&Copy From PC", "&New PC Directory", "&Delete From PC", "PC Item &Info"}, {250, 251, 253, 254}},
    };
    OpenMini();
    for (const auto& p : panes) {
        if (p.pane == 1) {
            ws.ListSelect(kIdMacList, 1, true);
            Command(kIdPcList, 1);
            EXPECT_EQ(ws.ListSelectedCount(kIdMacList), 0);
        }
        EXPECT_EQ(ActivePane, p.pane);
        const auto& file = ws.Menu(kMenuFile);
        ASSERT_EQ(file.size(), 4u);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(ws.ControlText(kCmdCopy + i), p.names[i]);
            EXPECT_EQ(file[i].id, kCmdCopy + i);
            EXPECT_EQ(file[i].text, p.names[i]);
        }
        std::vector<int> sortIds;
        for (const auto& item : ws.Menu(kMenuSortBy)) sortIds.push_back(item.id);
        EXPECT_EQ(sortIds, p.sortIds);
        EXPECT_EQ(ws.Menu(kMenuSortBy)[1].text, p.pane == 1 ? "&Ext" : "&Type");
        EXPECT_TRUE(ws.MenuChecked(250));
        EXPECT_EQ(ws.ControlEnabled(kIdPcHeader), p.pane == 1);
        EXPECT_EQ(ws.ControlEnabled(kIdMacDriveLabel), p.pane == 0);
    }
    // The same pane again changes nothing: the selection stays.
    ws.ListSelect(kIdMacList, 1, true);
    SetActivePane(1);
    EXPECT_EQ(ws.ListSelectedCount(kIdMacList), 1);
}

TEST_F(MainWindowTest, StartUpFailuresEndTheWindowAfterTheMessage)
{
    ws.listFontMade = false;
    EXPECT_EQ(StartMainWindow(kWindow), 0);
    EXPECT_STREQ(ws.lastText, "Initialization error.");
    EXPECT_EQ(ws.lastStyle, kMbOk | kMbIconExclamation);
    EXPECT_EQ(ws.endValue, 2);
}

TEST_F(MainWindowTest, SortByMovesTheTickAndReordersOnlyWhatIsShown)
{
    Start();
    // A Mac sort with no volume open only moves the tick.
    Command(kSortBySize);
    EXPECT_EQ(MacSortId, kSortBySize);
    EXPECT_FALSE(ws.MenuChecked(250));
    EXPECT_TRUE(ws.MenuChecked(253));
    EXPECT_EQ(ws.messageCount, 1);  // only the start-up's
    OpenMini();
    EXPECT_EQ(MacItemName(1), "Gamma");  // largest file first, after the folder
    Command(kSortByName);
    EXPECT_EQ(MacItemName(1), "Alpha");
    // The PC pane keeps its own order; the same item again does nothing.
    dir.WriteFile("b.txt", {});
    dir.WriteFile("A.DOC", std::vector<uint8_t>(10));
    Command(kIdPcList, 1);
    Command(kSortByName);
    EXPECT_EQ(ws.ListCount(kIdPcList), 0);  // not re-read
    Command(kSortBySize);
    ASSERT_EQ(PcItemList.size(), 2u);
    EXPECT_EQ(PcItemList[0].name, "A.DOC");
    EXPECT_EQ(MacSortId, kSortByName);
    EXPECT_EQ(PcSortId, kSortBySize);
}

TEST_F(MainWindowTest, PathBoxesAndUpButtonsGoUpBothPanes)
{
    const std::string deep = dir.PathOf("one") + PathSeparator() + "two";
    ASSERT_TRUE(MakeDir(dir.PathOf("one").c_str()) && MakeDir(deep.c_str()));
    PcDirectory = deep;
    Start();
    auto pcBox = ComboItems(kIdPcDirectoryBox);
    ASSERT_GE(pcBox.size(), 3u);
    EXPECT_EQ(pcBox[0], "two");
    EXPECT_EQ(pcBox.back(), std::string(1, PathSeparator()));
    EXPECT_TRUE(ws.ControlEnabled(kIdPcUpButton));
    ws.ComboSelect(kIdPcDirectoryBox, 2);
    Command(kIdPcDirectoryBox, kNotifyCloseUp);
    EXPECT_EQ(PcDirectory, dir.Path());
    Command(kIdPcUpButton);
    EXPECT_EQ(ComboItems(kIdPcDirectoryBox).size(), pcBox.size() - 3);
    // The first item closes the box without a move.
    const std::string here = PcDirectory;
    ws.ComboSelect(kIdPcDirectoryBox, 0);
    Command(kIdPcDirectoryBox, kNotifyCloseUp);
    EXPECT_EQ(PcDirectory, here);

    OpenMini();
    ws.ListSelect(kIdMacList, 0, true);  // Docs
    Command(kIdMacList, kNotifyDoubleClick);
    EXPECT_EQ(ComboItems(kIdMacFolderBox), (std::vector<std::string>{"Docs", "Mini", DriveTable[0].Name}));
    Command(kIdMacUpButton);
    EXPECT_EQ(ComboItems(kIdMacFolderBox), (std::vector<std::string>{"Mini", DriveTable[0].Name}));
    EXPECT_EQ(MacPaneState.count, 5);
    Command(kIdMacUpButton);  // from the root to the drive's volumes
    EXPECT_EQ(MacPaneState.parentId, 0u);
    EXPECT_EQ(ComboItems(kIdMacFolderBox), (std::vector<std::string>{DriveTable[0].Name}));
    Command(kIdMacUpButton);  // the drive's name alone: nothing
    EXPECT_EQ(ws.ComboCount(kIdMacFolderBox), 1);
    // The folder box's last item and the drive box closed on its drive both
    // go back to the volume list.
    const int choices[] = {kIdMacFolderBox, kIdMacDriveBox};
    for (int box : choices) {
        ws.ListSelect(kIdMacList, 0, true);
        Command(kIdMacList, kNotifyDoubleClick);
        ASSERT_NE(MacPaneState.parentId, 0u);
        ws.ComboSelect(box, box == kIdMacFolderBox ? 1 : 0);
        Command(box, kNotifyCloseUp);
        EXPECT_EQ(MacPaneState.parentId, 0u) << box;
        EXPECT_EQ(ComboItems(kIdMacFolderBox), (std::vector<std::string>{DriveTable[0].Name})) << box;
    }
    EXPECT_EQ(ws.messageCount, 1);
}

TEST_F(MainWindowTest, AnUnusableDriveInTheDriveBoxPutsTheOldOneBack)
{
    Start();
    const int before = ws.ComboSelection(kIdPcDriveBox);  // the drive of the pane's directory
    ASSERT_GE(before, 0);
    ws.ComboAdd(kIdPcDriveBox, "Q:(Removable)");
    Command(kIdPcDriveBox, kNotifyDropDown);
    ws.ComboSelect(kIdPcDriveBox, ws.ComboCount(kIdPcDriveBox) - 1);
    Command(kIdPcDriveBox, kNotifyCloseUp);
    EXPECT_STREQ(ws.lastText, "Could not change to that drive.");
    EXPECT_STREQ(ws.lastCaption, "");
    EXPECT_EQ(ws.lastStyle, kMbOk | kMbIconExclamation);
    EXPECT_EQ(ws.ComboSelection(kIdPcDriveBox), before);
    EXPECT_EQ(PcDirectory, dir.Path());
    // The drive in use keeps its directory.
    ws.messageCount = 0;
    Command(kIdPcDriveBox, kNotifyCloseUp);
    EXPECT_EQ(ws.messageCount, 0);
    EXPECT_EQ(PcDirectory, dir.Path());
}

TEST_F(MainWindowTest, EnterActsOnTheFocusedControl)
{
    ASSERT_TRUE(MakeDir(dir.PathOf("Sub").c_str()));
    Start();
    OpenMini();
    const struct {
        int focus;
        bool droppedDown;
        const char* pcDirectory;  // "Sub": entered
        uint32_t macFolder;       // the Mac pane's folder afterwards
    } rows[] = {
        {0, false, "", 2},
        {kIdMacFolderBox, false, "", 2},
        {kIdMacList, false, "", 16},         // Docs opened
        {kIdMacFolderBox, true, "", 2},      // up to the root
        {kIdPcList, false, "Sub", 2},
    };
    for (const auto& row : rows) {
        ws.focus = row.focus;
        ws.ListSelect(kIdMacList, 0, true);
        ws.ListSelect(kIdPcList, 0, true);
        ws.ComboSelect(kIdMacFolderBox, 1);
        ws.ComboShowDropDown(kIdMacFolderBox, row.droppedDown);
        Command(kCmdEnter);
        EXPECT_EQ(PcDirectory, row.pcDirectory[0] ? dir.PathOf(row.pcDirectory) : dir.Path()) << row.focus;
        EXPECT_EQ(MacPaneState.folderId, row.macFolder) << row.focus;
        EXPECT_FALSE(ws.ComboDroppedDown(kIdMacFolderBox));
        ws.ComboSelect(kIdMacFolderBox, 0);
    }
}

TEST_F(MainWindowTest, TypedCharactersSelectTheNextItemThatBeginsWithThem)
{
    for (const char* name : {"1st", "_x", "apple", "Banana", "bravo"}) dir.WriteFile(name, {});
    Start();
    OpenMini();  // Docs, Alpha, Beta, Delta, Gamma
    const struct {
        int list;
        int character;
        int caret;
        int selected;  // -1: no item begins with it
    } rows[] = {
        {kIdPcList, 'b', 0, 3},  {kIdPcList, 'B', 3, 4}, {kIdPcList, 'b', 4, 3},  // wraps
        {kIdPcList, 'a', 2, 2},                                                 // the caret item last
        {kIdPcList, '1', -1, 0}, {kIdPcList, '_', 0, -1}, {kIdPcList, 'z', 0, -1},
        {kIdMacList, 'g', 0, 4}, {kIdMacList, 'D', 0, 3}, {kIdMacList, 'd', 3, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.list << " '" << char(row.character) << "' after " << row.caret);
        ws.ListSelect(row.list, -1, false);
        ws.ListSelect(row.list, 1, true);
        EXPECT_EQ(SelectTypedItem(row.list, row.character, row.caret), row.selected);
        EXPECT_EQ(ws.ListSelectedCount(row.list), 1);
        EXPECT_EQ(ws.ListFirstSelected(row.list), row.selected < 0 ? 1 : row.selected);
    }
}

TEST_F(MainWindowTest, ExitSavesThePreferencesOnlyWhenAsked)
{
    const std::string ini = dir.PathOf("PIER.INI");
    for (bool save : {false, true}) {
        FileDelete(ini.c_str());
        Start();
        Command(kCmdHelp);
        EXPECT_TRUE(ws.helpOpen);
        if (save) Command(kCmdSavePrefs);
        EXPECT_EQ(Prefs.SavePrefs, save ? 1 : 0);
        EXPECT_EQ(ws.MenuChecked(kCmdSavePrefs), save);
        Command(kSortByDate);
        Command(kCmdExit);
        EXPECT_FALSE(ws.helpOpen);
        EXPECT_EQ(ws.endValue, 2);
        EXPECT_TRUE(PcItemList.empty());
        FinishMainWindow();
        char value[260];
        ReadProfileString("Main Prefs", "SavePrefs", "", value, sizeof value, ini.c_str());
        EXPECT_STREQ(value, save ? "YES" : "NO");
        ReadProfileString("Main Prefs", "MacSort", "", value, sizeof value, ini.c_str());
        EXPECT_STREQ(value, save ? "254" : "");
        ReadProfileString("Main Prefs", "WorkingDir", "", value, sizeof value, ini.c_str());
        EXPECT_EQ(value, save ? dir.Path() : "");
    }
}

TEST_F(MainWindowTest, FormatRefusesDrivesThatCannotTakeIt)
{
    Start();
    const struct {
        int chosen;
        bool readOnlyFlag;
        bool writable;
        const char* status;  // message after the format; null: none
    } rows[] = {{-1, false, true, nullptr}, {0, false, false, "read only"}, {0, true, true, "read only"},
                {0, false, true, "not supported"}};
    for (const auto& row : rows) {
        DriveCount = 0;
        image = std::make_unique<TempImage>(MakeMiniVolume().bytes, 512, row.writable);
        if (row.readOnlyFlag) DriveTable[0].Flags |= kDriveReadOnly;
        DriveTable[0].FormatVolume = nullptr;
        if (row.chosen >= 0)
            ws.dialogScripts.push_back({{DialogStep::Select, kIdFormatDriveBox, "", row.chosen},
                                        {DialogStep::Type, kIdFormatLabel, "Blank", 0},
                                        {DialogStep::Press, kDialogOk, "", 0}});
        ws.messageCount = 0;
        Command(kCmdFormat);
        EXPECT_EQ(ws.messageCount, row.status ? 1 : 0);
        if (row.status) {
            EXPECT_NE(std::strstr(ws.lastText, row.status), nullptr) << ws.lastText;
        }
        image.reset();
    }
}

// Open and New Disk Image: the drive joins the table, the Mac Drive box and
// PIER.INI once; New never replaces a file and formats what it made.
TEST_F(MainWindowTest, DiskImagesOpenedAndMadeFromTheFileMenu)
{
    const std::string ini = dir.PathOf("PIER.INI");
    WriteProfileString("Disk Images", "Image1", dir.PathOf("gone.img").c_str(), ini.c_str());
    Start();
    ws.messageCount = 0;  // no drives yet
    const auto imageKey = [&](const char* key) {
        char value[1024];
        ReadProfileString("Disk Images", key, "", value, sizeof value, ini.c_str());
        return std::string(value);
    };
    ws.imagePathAnswer = dir.WriteFile("mini.img", MakeMiniVolume().bytes);
    for (int twice = 0; twice < 2; ++twice) {
        Command(kCmdOpenImage);
        EXPECT_EQ(DriveCount, 1u);
        EXPECT_EQ(ComboItems(kIdMacDriveBox), std::vector<std::string>{"[IMAGE mini.img]"});
        EXPECT_EQ(ws.ComboSelection(kIdMacDriveBox), 0);
        EXPECT_EQ(ws.ListCount(kIdMacList), 1) << "the volume list";
        EXPECT_EQ(imageKey("Image2"), ws.imagePathAnswer);
        EXPECT_EQ(imageKey("Image3"), "");
    }
    EXPECT_EQ(ws.messageCount, 0) << ws.lastText;

    // A file that cannot be opened changes nothing.
    ws.imagePathAnswer = dir.PathOf("absent.img");
    Command(kCmdOpenImage);
    EXPECT_EQ(ws.messageCount, 1);
    EXPECT_EQ(DriveCount, 1u);
    EXPECT_EQ(imageKey("Image3"), "");
    ws.messageCount = 0;

    const std::vector<uint8_t> taken = PatternBytes(5000, 7);
    ws.imagePathAnswer = dir.WriteFile("taken.img", taken);
    Command(kCmdNewImage);
    EXPECT_EQ(ws.messageCount, 1);
    EXPECT_EQ(ReadFileBytes(ws.imagePathAnswer), taken);
    EXPECT_EQ(DriveCount, 1u);

    // The new drive is chosen in the Format dialog when it opens.
    ws.imagePathAnswer = dir.PathOf("fresh.img");
    ws.dialogScripts.push_back({{DialogStep::Clear, kIdFormatLabel, "", 0},
                                {DialogStep::Type, kIdFormatLabel, "Fresh", 0},
                                {DialogStep::Press, kDialogOk, "", 0}});
    Command(kCmdNewImage);
    EXPECT_EQ(ws.messageCount, 2) << "only the warning before formatting";
    ASSERT_EQ(DriveCount, 2u);
    EXPECT_EQ(ws.ComboSelection(kIdMacDriveBox), 1);
    ASSERT_EQ(ws.ListCount(kIdMacList), 1);
    EXPECT_EQ(MacItemName(0), "Fresh");
    EXPECT_EQ(imageKey("Image3"), ws.imagePathAnswer);
    ws.ListSelect(kIdMacList, 0, true);
    Command(kIdMacList, kNotifyDoubleClick);
    ASSERT_NE(MacPaneState.parentId, 0u);
    std::vector<std::string> problems;
    std::vector<ProblemSeverity> severities;
    CheckVolume(&problems, &severities);
    EXPECT_EQ(problems, std::vector<std::string>{});

    // Cancel in the Format dialog keeps the blank image listed.
    ws.imagePathAnswer = dir.PathOf("blank.img");
    Command(kCmdNewImage);
    EXPECT_EQ(DriveCount, 3u);
    EXPECT_EQ(ReadFileBytes(ws.imagePathAnswer), std::vector<uint8_t>(1474560));

    // A file that cannot be made (its folder is missing) is said once and
    // lists nothing.
    ws.messageCount = 0;
    ws.imagePathAnswer = dir.PathOf("missing/new.img");
    Command(kCmdNewImage);
    EXPECT_EQ(ws.messageCount, 1);
    EXPECT_NE(std::string(ws.lastText).find("Could not create"), std::string::npos) << ws.lastText;
    EXPECT_EQ(DriveCount, 3u);
    EXPECT_EQ(imageKey("Image5"), "");
}

// Only the chosen image is held; one another program holds is not chosen,
// and says so once.
TEST_F(MainWindowTest, OnlyTheChosenImageIsHeld)
{
    const std::string path = dir.WriteFile("held.img", MakeMiniVolume().bytes);
    const std::string first = dir.WriteFile("first.img", MakeMiniVolume().bytes);
    const auto choose = [&](int drive) {
        ws.ComboSelect(kIdMacDriveBox, drive);
        Command(kIdMacDriveBox, kNotifyCloseUp);
    };
    Start();
    ws.messageCount = 0;
    for (const std::string& opened : {first, path}) {
        ws.imagePathAnswer = opened;
        Command(kCmdOpenImage);
    }
    ASSERT_EQ(ws.ListCount(kIdMacList), 1);
    EXPECT_EQ(OthersLock(first), FileLockResult::Locked);
    EXPECT_EQ(OthersLock(path), FileLockResult::Busy);
    choose(0);
    ws.ListSelect(kIdMacList, 0, true);  // its volume opened
    Command(kIdMacList, kNotifyDoubleClick);
    ASSERT_NE(MacPaneState.parentId, 0u);
    EXPECT_EQ(ws.messageCount, 0) << ws.lastText;
    EXPECT_EQ(OthersLock(first), FileLockResult::Busy);
    EXPECT_EQ(OthersLock(path), FileLockResult::Locked);
    const std::vector<uint8_t> before = ReadFileBytes(path);
    const FileHandle other = FileOpen(path.c_str(), FileMode::ReadWrite);
    ASSERT_EQ(FileLock(other, true, 0), FileLockResult::Locked);
    ImageLockWaitMs = 0;
    choose(1);
    EXPECT_EQ(ws.messageCount, 1);
    EXPECT_NE(std::strstr(ws.lastText, "in use by another program"), nullptr) << ws.lastText;
    EXPECT_EQ(ws.ComboSelection(kIdMacDriveBox), -1);
    EXPECT_EQ(ws.ListCount(kIdMacList), 0);
    FileClose(other);
    EXPECT_EQ(ReadFileBytes(path), before);
}

}  // namespace
