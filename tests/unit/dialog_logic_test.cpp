// The dialogs' logic driven through scripted sessions of the headless window
// system, the PC name filter, and drive discovery from the settings file.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <fstream>

#include "core/prefs.h"
#include "core/status.h"
#include "disk/discovery.h"
#include "disk/drive_table.h"
#include "hfs/format.h"
#include "support/recording_window.h"
#include "support/temp_image.h"
#include "translate/registry.h"
#include "ui/dialog_logic.h"
#include "ui/dialogs.h"

namespace {

class DialogTest : public DiskStateTest {
protected:
    void SetUp() override
    {
        DiskStateTest::SetUp();
        RegisterAllTranslators();
        SetWindowSystem(&ws);  // the reset put the headless one back
    }
    const DialogModel& Last() { return ws.dialogRuns.back().model; }

    RecordingWindowSystem ws;
};

TEST(PcNameFilterTest, KeepsOnlyWhatAPcNameMayHold)
{
    struct Case {
        int typed;
        bool allowUpper;
        int expected;
    } cases[] = {
        {'a', false, 'a'},   {'Z', false, 'Z'},   {'7', false, '7'},   {' ', false, ' '},   {'`', false, '`'},
        {'~', false, '~'},   {'[', false, '['},   {'\'', false, '\''}, {':', false, -1},    {';', false, -1},
        {';', true, -1},     {'"', false, -1},    {'*', false, -1},    {'/', false, -1},    {'\\', false, -1},
        {'<', false, -1},    {'?', false, -1},    {'|', false, -1},    {127, false, -1},    {8, false, 8},
        {13, true, 13},      {0xE9, false, -1},   {0xE9, true, 0xE9},  {0xC3, true, 'A'},   {0x80, true, '_'},
        {0xA8, true, '_'},   {0xFC, true, 0xFC},  {0xDE, true, 'p'},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PcNameFilter(c.typed, c.allowUpper), c.expected) << c.typed << " allowUpper " << c.allowUpper;
}

TEST_F(DialogTest, PcCopyPrefsStoreOnlyOnOkAndPadCodes)
{
    std::strcpy(TranslatorTable[0].macType, "TEXT");
    std::strcpy(TranslatorTable[0].macCreator, "ttxt");
    std::strcpy(TranslatorTable[3].macType, "");
    std::strcpy(TranslatorTable[3].macCreator, "");
    Prefs.PCCopyDir = 1;
    struct Case {
        std::vector<DialogStep> steps;
        int end;
        uint16_t index;
        const char* type;
        const char* creator;
        bool copyDir;
        const char* filterExt;
    } cases[] = {
        {{Clear(182), Type(182, "TEX"), Clear(183), Check(184, false), Type(186, "docx"), Press(1)},
         1, 0, "TEX ", "    ", false, "doc"},
        {{Clear(182), Type(182, "ABCD"), Press(2)}, 0, 0, "TEXT", "ttxt", true, ""},
        {{Select(180, 3), Clear(183), Type(183, "mB"), Press(1)}, 1, 3, "    ", "mB  ", true, ""},
    };
    for (const Case& c : cases) {
        const PrefsRecord saved = Prefs;
        Translator table[TranslatorLimit];
        std::copy(std::begin(TranslatorTable), std::end(TranslatorTable), table);
        PcToMacIndex = 0;
        EXPECT_EQ(ws.Session(c.steps, [] { return RunPcCopyPrefs(nullptr); }), c.end);
        EXPECT_EQ(PcToMacIndex, c.index);
        EXPECT_STREQ(TranslatorTable[c.index].macType, c.type);
        EXPECT_STREQ(TranslatorTable[c.index].macCreator, c.creator);
        EXPECT_EQ(Prefs.PCCopyDir, c.copyDir);
        EXPECT_STREQ(Prefs.PCFilterExt, c.filterExt);
        Prefs = saved;
        std::copy(std::begin(table), std::end(table), TranslatorTable);
    }
    // Translator 3 takes no type map: its check box is disabled, its tick kept.
    Prefs.PCUseMap = 1;
    ws.Session({Select(180, 3)}, [] { return RunPcCopyPrefs(nullptr); });
    EXPECT_FALSE(Last().controls.at(181).enabled);
    EXPECT_TRUE(Last().controls.at(181).checked);
    EXPECT_EQ(Last().controls.at(180).items.size(), 5u);
}

TEST_F(DialogTest, MacCopyPrefsDropTheExtensionOfTheTranslatorLeft)
{
    std::strcpy(TranslatorTable[0].extension, "dat");
    std::strcpy(TranslatorTable[3].extension, "bin");
    MacToPcIndex = 0;
    Prefs.MacUseMap = 1;
    // A new extension typed for Data File, then MacBinary chosen: Data File
    // keeps its own, MacBinary gets what its field shows when OK is pressed.
    EXPECT_EQ(ws.Session({Clear(191), Type(191, "txtx"), Select(189, 3), Check(198, true), Type(194, "APPLx"),
                       Type(196, "abcdefg"), Press(1)},
                      [] { return RunMacCopyPrefs(nullptr); }),
              1);
    EXPECT_EQ(ws.Shown(191), "bin");
    EXPECT_FALSE(Last().controls.at(190).enabled);
    EXPECT_TRUE(Prefs.MacUseMap);
    EXPECT_EQ(MacToPcIndex, 3);
    EXPECT_STREQ(TranslatorTable[0].extension, "dat");
    EXPECT_STREQ(TranslatorTable[3].extension, "bin");
    EXPECT_TRUE(Prefs.AutoRename);
    EXPECT_STREQ(Prefs.MacFilterType, "APPL");
    EXPECT_STREQ(Prefs.MacFilterExt, "abcde");
    // Back to Data File enables the check box; an edit there is stored as typed.
    EXPECT_EQ(
        ws.Session({Select(189, 0), Clear(191), Type(191, "h"), Press(1)}, [] { return RunMacCopyPrefs(nullptr); }), 1);
    EXPECT_TRUE(Last().controls.at(190).enabled);
    EXPECT_STREQ(TranslatorTable[0].extension, "h");
    // Cancel stores nothing.
    EXPECT_EQ(ws.Session({Select(189, 4), Check(192, true), Press(2)}, [] { return RunMacCopyPrefs(nullptr); }), 0);
    EXPECT_EQ(MacToPcIndex, 0);
    EXPECT_FALSE(Prefs.MacCopyDir);
}

TEST_F(DialogTest, CollisionDialogsAnswerAsTheTakenNameQuestion)
{
    struct Case {
        NameSide side;
        std::vector<DialogStep> steps;
        NameExistsAnswer answer;
        const char* buffer;
    } cases[] = {
        {NameSide::Pc, {Type(400, "new:na;me.txt"), Press(1)}, NameExistsAnswer::NewName, "newname.txt"},
        {NameSide::Pc, {Press(401)}, NameExistsAnswer::Skip, "TAKEN"},
        {NameSide::Pc, {Press(402)}, NameExistsAnswer::Overwrite, "TAKEN"},
        {NameSide::Pc, {Type(400, "x"), Press(2)}, NameExistsAnswer::Cancel, "TAKEN"},
        {NameSide::Pc, {Press(1)}, NameExistsAnswer::Cancel, "TAKEN"},  // OK on nothing: the dialog stays
        {NameSide::Mac, {Type(405, "A: name longer than thirty-one characters"), Press(1)}, NameExistsAnswer::NewName,
         "A: name longer than thirty-one "},
        {NameSide::Mac, {Press(406)}, NameExistsAnswer::Skip, "TAKEN"},
        {NameSide::Mac, {Press(407)}, NameExistsAnswer::Overwrite, "TAKEN"},
        {NameSide::Mac, {}, NameExistsAnswer::Cancel, "TAKEN"},
    };
    for (const Case& c : cases) {
        char name[256] = "TAKEN";
        ws.dialogScripts.push_back(c.steps);
        EXPECT_EQ(AskNameExistsInDialog(ws, nullptr, c.side, name), c.answer) << c.buffer;
        EXPECT_STREQ(name, c.buffer);
        const DialogRun& run = ws.dialogRuns.back();
        EXPECT_EQ(run.templateName, c.side == NameSide::Pc ? "PCOLLISION" : "MCOLLISION");
        EXPECT_EQ(run.model.controls.at(c.side == NameSide::Pc ? 403 : 408).text, "TAKEN");
    }
}

TEST_F(DialogTest, FormatDialogNeedsADriveAndALabel)
{
    EXPECT_EQ(ws.Session({Press(1)}, [] { return RunFormatDialog(nullptr); }), -1);
    ASSERT_EQ(ws.messages.size(), 2u);
    EXPECT_EQ(ws.messages[0].text, "Can't find any Mac compatible drives.");
    EXPECT_EQ(ws.messages[1].text, "First select a drive from the \"Mac Drive\" box.");
    EXPECT_EQ(ws.messages[1].caption, "No Drive Selected");
    EXPECT_EQ(ws.Shown(116), "Mac Drive:");
    EXPECT_EQ(ws.Shown(300), "Untitled");
    EXPECT_TRUE(Last().controls.at(117).extendedUi);

    TempImage a(std::vector<uint8_t>(kDisketteImageBytes), 512, true, "a.img");
    TempImage b(std::vector<uint8_t>(kDisketteImageBytes), 512, true, "b.img");
    ws.messages.clear();
    EXPECT_EQ(ws.Session({Select(117, 1), Clear(300), Press(1), Type(300, "x:y"), Press(1), Clear(300),
                       Type(300, "A label of more than 27 characters"), Press(1)},
                      [] { return RunFormatDialog(nullptr); }),
              1);
    EXPECT_EQ(Last().controls.at(117).items, (std::vector<std::string>{"[IMAGE a.img]", "[IMAGE b.img]"}));
    ASSERT_EQ(ws.messages.size(), 2u);
    EXPECT_EQ(ws.messages[1].text, "A volume label cannot hold a colon.");
    EXPECT_EQ(ws.messages[0].text, "First enter a volume label.");
    EXPECT_EQ(ws.messages[0].caption, "No Volume Label");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(VolumeLabel + 1), VolumeLabel[0]),
              "A label of more than 27 cha");
    EXPECT_EQ(StatusCode, 0u);
}

TEST_F(DialogTest, AboutBoxEndsWithOneEitherWay)
{
    ws.dialogScripts.push_back({Press(1)});
    RunAboutBox(nullptr);
    RunAboutBox(nullptr);
    EXPECT_EQ(ws.dialogRuns[0].endValue, 1);
    EXPECT_EQ(ws.dialogRuns[1].endValue, 1);
    EXPECT_EQ(ws.dialogRuns[0].model.controls.at(130).text, "Quaylink 32");
    EXPECT_FALSE(ws.dialogRuns[0].model.controls.at(132).text.empty());
}

TEST_F(DialogTest, DiscoveryListsTheImagesOfTheSettingsFile)
{
    TempDir dir;
    std::vector<uint8_t> partitioned(8 * 512);
    partitioned[512] = 'P';
    partitioned[513] = 'M';
    const std::string map = dir.WriteFile("partitioned.img", partitioned);
    const std::string longName = dir.WriteFile("an image with a very long name.img", std::vector<uint8_t>(1024));
    std::ofstream ini(dir.PathOf("PIER.INI"));
    ini << "[Disk Images]\nImage1=" << map << "\nImage2=" << dir.PathOf("missing.img") << "\nImage3=" << longName
        << "\n";
    for (int i = 4; i <= 21; ++i) ini << "Image" << i << "=" << dir.WriteFile("d" + std::to_string(i), {0}) << "\n";
    ini.close();
    std::snprintf(IniPath, sizeof IniPath, "%s", dir.PathOf("PIER.INI").c_str());
    Prefs.AddASPI = Prefs.AddBIOS = Prefs.AddCDROM = Prefs.AddFloppy = 1;

    DiscoverDrives();
    ASSERT_EQ(DriveCount, 19u);  // Image1 to Image20 less the missing one
    EXPECT_STREQ(DriveTable[0].Name, "[IMAGE partitioned.img]");
    EXPECT_STREQ(DriveTable[1].Name, "[IMAGE an image with a very lon");
    EXPECT_STREQ(DriveTable[18].Name, "[IMAGE d20]");
    // A listed image is read only while its drive is the one in use.
    ASSERT_EQ(UseImageDrive(&DriveTable[0]), 0);
    EXPECT_TRUE(HasMacSignature(&DriveTable[0]));
    ASSERT_EQ(UseImageDrive(&DriveTable[1]), 0);
    EXPECT_FALSE(HasMacSignature(&DriveTable[1]));
    // With the missing one there, 20; Image21 is never read. Discovery again
    // releases the images it held, so the slots do not run out.
    dir.WriteFile("missing.img", {0});
    DiscoverDrives();
    ASSERT_EQ(DriveCount, 20u);
    EXPECT_STREQ(DriveTable[1].Name, "[IMAGE missing.img]");
    EXPECT_STREQ(DriveTable[19].Name, "[IMAGE d20]");

    FillMacDriveBox(nullptr);
    const auto& names = ws.Combo(kIdMacDriveBox).items;
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) { return n.rfind("[IMAGE ", 0) == 0; }),
              20);
    EXPECT_TRUE(ws.messages.empty());
}

TEST_F(DialogTest, MacSignatureAtBlocksOneTwoOrFourOnly)
{
    struct Case {
        unsigned block;
        const char* bytes;
        unsigned imageBlocks;
        bool found;
    } cases[] = {
        {1, "PM", 8, true}, {2, "TS", 8, true}, {4, "BD", 8, true}, {3, "BD", 8, false},
        {0, "BD", 8, false}, {1, "ER", 8, false}, {4, "BD", 4, false}, {1, "PM", 2, true},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes(c.imageBlocks * 512);
        if (c.block < c.imageBlocks) std::memcpy(&bytes[c.block * 512], c.bytes, 2);
        TempImage image(bytes);
        ASSERT_NE(image.drive, nullptr);
        StatusCode = 0;
        EXPECT_EQ(HasMacSignature(image.drive), c.found) << c.bytes << " at " << c.block;
        EXPECT_EQ(StatusCode, 0u);
        CloseImage(image.slot);
        DriveCount = 0;
    }
}

TEST(CompactInquiryTextTest, RunsOfBlanksBecomeOne)
{
    struct Case {
        const char* text;
        size_t length;
        const char* expected;
    } cases[] = {
        {"IOMEGA  ZIP 100         ", 24, "IOMEGA ZIP 100 "},
        {"  A   B", 7, " A B"},
        {"SEAGATE\0junk", 12, "SEAGATE"},
        {"a\tb", 3, "a?b"},
        {"", 0, ""},
    };
    for (const Case& c : cases) {
        char out[32];
        CompactInquiryText(reinterpret_cast<const uint8_t*>(c.text), c.length, out);
        EXPECT_STREQ(out, c.expected);
    }
    char name[32];
    AspiDriveName("DISK", 0, 3, reinterpret_cast<const uint8_t*>("IOMEGA  ZIP 100         "), name);
    EXPECT_STREQ(name, "[WASPI-DISK 03] IOMEGA ZIP 100");  // 30 characters
    AspiDriveName("CDRM", 1, 6, reinterpret_cast<const uint8_t*>("TOSHIBA CD-ROM XM-3401TA"), name);
    EXPECT_STREQ(name, "[WASPI-CDRM 16] TOSHIBA CD-ROM");
    PhysicalDriveName(1, ">4G", name);
    EXPECT_STREQ(name, "[DRIVE 1] (>4G)");
    CdromDriveName(4, name);
    EXPECT_STREQ(name, "[CDROM E]");
    DisketteDriveName(1, name);
    EXPECT_STREQ(name, "[DISKETTE B]");
}

}  // namespace
