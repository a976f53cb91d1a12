// PIER.INI: the paths beside the program, every key's forms and defaults,
// the transfer limit, the working directory and the writing back at exit.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "core/prefs.h"
#include "disk/drive_table.h"
#include "platform/platform.h"
#include "support/temp_image.h"
#include "translate/registry.h"
#include "ui/prefs_save.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// Every preference as "Name=value", in the record's order, to compare them
// all at once.
std::string Describe(const PrefsRecord& p)
{
    auto text = [](const char* s, size_t size) { return std::string(s, strnlen(s, size)); };
    std::ostringstream out;
    out << "HideInvisible=" << +p.HideInvisible << " KeepDate=" << +p.KeepDate << " MacUseMap=" << +p.MacUseMap
        << " PCUseMap=" << +p.PCUseMap << " MacCopyDir=" << +p.MacCopyDir << " PCCopyDir=" << +p.PCCopyDir
        << " MacCopyFilter=" << +p.MacCopyFilter << " PCCopyFilter=" << +p.PCCopyFilter
        << " AutoRename=" << +p.AutoRename << " AllowUpper=" << +p.AllowUpper << " MacTrans=" << p.MacTrans
        << " PCTrans=" << p.PCTrans << " MacSort=" << p.MacSort << " PCSort=" << p.PCSort
        << " MacFilterType=" << text(p.MacFilterType, sizeof p.MacFilterType)
        << " MacFilterCrtr=" << text(p.MacFilterCrtr, sizeof p.MacFilterCrtr)
        << " MacFilterExt=" << text(p.MacFilterExt, sizeof p.MacFilterExt)
        << " PCFilterExt=" << text(p.PCFilterExt, sizeof p.PCFilterExt) << " CopyPrefs=" << +p.CopyPrefs
        << " SavePrefs=" << +p.SavePrefs << " AddFloppy=" << +p.AddFloppy << " AddCDROM=" << +p.AddCDROM
        << " AddBIOS=" << +p.AddBIOS << " AddASPI=" << +p.AddASPI << " MaxIOBufSzK=" << +p.MaxIOBufSzK;
    return out.str();
}

class PrefsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedPrefs = Prefs;
        std::memcpy(savedIni, IniPath, sizeof IniPath);
        std::memcpy(savedFtm, FtmPath, sizeof FtmPath);
        std::memcpy(savedHelp, HelpPath, sizeof HelpPath);
        savedLimit = MaxTransferBytes;
        savedMacSort = MacSortId;
        savedPcSort = PcSortId;
        ASSERT_TRUE(GetCurrentDir(savedDir, sizeof savedDir));
        std::snprintf(IniPath, sizeof IniPath, "%s", ini.c_str());
        std::memset(&Prefs, 0, sizeof Prefs);
    }
    void TearDown() override
    {
        Prefs = savedPrefs;
        std::memcpy(IniPath, savedIni, sizeof IniPath);
        std::memcpy(FtmPath, savedFtm, sizeof FtmPath);
        std::memcpy(HelpPath, savedHelp, sizeof HelpPath);
        MaxTransferBytes = savedLimit;
        MacSortId = savedMacSort;
        PcSortId = savedPcSort;
        EXPECT_TRUE(SetCurrentDir(savedDir));
    }

    void WriteIni(const std::string& text) { dir.WriteFile("PIER.INI", Bytes(text)); }
    std::string Value(const char* section, const char* key)
    {
        char out[300];
        ReadProfileString(section, key, "<none>", out, sizeof out, ini.c_str());
        return out;
    }
    std::vector<std::string> List(const char* section)
    {
        char out[1024];
        unsigned n = section ? ReadProfileSection(section, out, sizeof out, ini.c_str())
                             : ReadProfileString(nullptr, nullptr, "", out, sizeof out, ini.c_str());
        std::vector<std::string> items;
        for (unsigned i = 0; i < n && out[i] != 0; i += static_cast<unsigned>(items.back().size()) + 1)
            items.emplace_back(out + i);
        return items;
    }
    // True when the process's current directory is `path` (a file made there
    // under a relative name shows up under the full one).
    bool CurrentDirIs(const std::string& path)
    {
        static int serial = 0;
        std::string name = "probe" + std::to_string(++serial);
        FileHandle f = FileOpen(name.c_str(), FileMode::Create);
        if (f == kNoFile) return false;
        FileClose(f);
        std::string full = path + PathSeparator() + name;
        bool there = FileExists(full.c_str());
        FileDelete(name.c_str());
        return there;
    }

    TempDir dir;
    std::string ini = dir.PathOf("PIER.INI");
    PrefsRecord savedPrefs;
    char savedIni[256], savedFtm[256], savedHelp[256];
    uint32_t savedLimit = 0;
    uint16_t savedMacSort = 0, savedPcSort = 0;
    char savedDir[1024];
};

TEST_F(PrefsTest, MissingFileGivesEveryDefault)
{
    std::memset(&Prefs, 0xAB, sizeof Prefs);
    ReadPreferences();
    EXPECT_EQ(Describe(Prefs),
              "HideInvisible=1 KeepDate=1 MacUseMap=1 PCUseMap=1 MacCopyDir=0 PCCopyDir=0 MacCopyFilter=0 "
              "PCCopyFilter=0 AutoRename=0 AllowUpper=0 MacTrans=0 PCTrans=0 MacSort=0 PCSort=0 MacFilterType= "
              "MacFilterCrtr= MacFilterExt= PCFilterExt= CopyPrefs=1 SavePrefs=0 AddFloppy=1 AddCDROM=1 AddBIOS=1 "
              "AddASPI=1 MaxIOBufSzK=64");
    EXPECT_TRUE(CurrentDirIs(savedDir));
    EXPECT_FALSE(FileExists(ini.c_str()));
    SetTransferLimit();
    EXPECT_EQ(MaxTransferBytes, 32768u);
}

TEST_F(PrefsTest, MaxIOBufSzKAndTheTransferLimit)
{
    struct Case {
        const char* value;
        int kilobytes;
        uint32_t limit;
    };
    const Case cases[] = {
        {"128", 12, 12288},  // read as its first two characters
        {"2", 4, 4096},      {"64", 64, 32768}, {"33", 33, 32768}, {"32", 32, 32768},
        {"65", 64, 32768},   {"99", 64, 32768}, {"4", 4, 4096},    {"03", 4, 4096},
        {"5", 5, 5120},      {"-5", 4, 4096},   {"x1", 64, 32768}, {"", 64, 32768},
    };
    for (const Case& c : cases) {
        WriteIni(std::string("[Misc Prefs]\nMaxIOBufSzK=") + c.value + "\n");
        ReadPreferences();
        EXPECT_EQ(Prefs.MaxIOBufSzK, c.kilobytes) << "\"" << c.value << "\"";
        SetTransferLimit();
        EXPECT_EQ(MaxTransferBytes, c.limit) << "\"" << c.value << "\"";
    }
}

TEST_F(PrefsTest, SwitchWords)
{
    struct Case {
        const char* key;
        const char* value;
        int defaultValue;
        int expected;
    };
    const Case cases[] = {
        {"AddFloppy", "bios", 0, 1}, {"AddFloppy", "BIOS", 0, 1}, {"AddFloppy", "old", 0, 1},
        {"AddFloppy", "win", 0, 0},  {"AddFloppy", "no", 1, 0},
        {"AddASPI", "win", 0, 1},    {"AddASPI", "Dos", 0, 1},    {"AddASPI", "bios", 0, 0},
        {"AddCDROM", "win", 0, 0},   {"AddCDROM", "old", 0, 0},
        {"SavePrefs", "yes", 7, 1},  {"SavePrefs", "Y", 7, 1},    {"SavePrefs", "On", 7, 1},
        {"SavePrefs", "auto", 7, 1}, {"SavePrefs", "yellow", 7, 1},
        {"SavePrefs", "n", 7, 7},    {"SavePrefs", "1", 7, 7},    {"SavePrefs", "true", 7, 7},
        {"SavePrefs", "", 7, 7},     {"SavePrefs", "NO", 7, 0},   {"SavePrefs", "Off", 7, 0},
        {"SavePrefs", "offoffoff!", 7, 7},  // read as nine characters, no word
    };
    for (const Case& c : cases) {
        WriteIni(std::string("[Some Prefs]\n") + c.key + "=" + c.value + "\n");
        EXPECT_EQ(ReadSwitch("Some Prefs", c.key, c.defaultValue), c.expected) << c.key << "=" << c.value;
    }
    EXPECT_EQ(ReadSwitch("Some Prefs", "Missing", 5), 5);
}

TEST_F(PrefsTest, EveryKeyReachesThePrefs)
{
    WriteIni("[Main Prefs]\nSavePrefs=On\nCopyPrefs=no\nAutoRename=yes\nAllowUpper=Y\nMacUseMap=off\n"
             "PCUseMap=n\nMacCopyDir=auto\nPCCopyDir=1\nMacCopyFilter=ON\nPCCopyFilter=nonsense\n"
             "MacTrans=3\nPCTrans=-2\nMacSort=251\nPCSort=1234567\n"
             "MacFilterType=TEXTX\nMacFilterCrtr=ttxt\nMacFilterExt=.html5\nPCFilterExt=DOCX\n"
             "[Disk Prefs]\nAddFloppy=bios\nAddCDROM=no\nAddBIOS=off\nAddASPI=win\n"
             "[Misc Prefs]\nHideInvisible=NO\nKeepDate=n\n");
    ReadPreferences();
    // "n", "1" and "nonsense" are no words: the defaults. PCSort is read as
    // five characters, the texts are cut to their fields.
    EXPECT_EQ(Describe(Prefs),
              "HideInvisible=0 KeepDate=1 MacUseMap=0 PCUseMap=1 MacCopyDir=1 PCCopyDir=0 MacCopyFilter=1 "
              "PCCopyFilter=0 AutoRename=1 AllowUpper=1 MacTrans=3 PCTrans=-2 MacSort=251 PCSort=12345 "
              "MacFilterType=TEXT MacFilterCrtr=ttxt MacFilterExt=.html PCFilterExt=DOC CopyPrefs=0 SavePrefs=1 "
              "AddFloppy=1 AddCDROM=0 AddBIOS=0 AddASPI=1 MaxIOBufSzK=64");

    WriteIni("[Main Prefs]\nMacTrans=two\nPCTrans=7x\nMacSort=\n");
    EXPECT_EQ(ReadNumber("Main Prefs", "MacTrans"), 0);
    EXPECT_EQ(ReadNumber("Main Prefs", "PCTrans"), 7);
    EXPECT_EQ(ReadNumber("Main Prefs", "MacSort"), 0);
    EXPECT_EQ(ReadNumber("Main Prefs", "Missing"), 0);
}

// WorkingDir becomes the current directory; one that does not exist, or one
// on a drive that is not there, leaves it as it was.
TEST_F(PrefsTest, WorkingDirBecomesTheCurrentDirectory)
{
    TempDir work;
    WriteIni("[Main Prefs]\nWorkingDir=" + work.Path() + "\n");
    ReadPreferences();
    EXPECT_TRUE(CurrentDirIs(work.Path()));
    WriteIni("[Main Prefs]\nWorkingDir=" + work.PathOf("gone") + "\n");
    ReadPreferences();
    EXPECT_TRUE(CurrentDirIs(work.Path()));
    ASSERT_TRUE(SetCurrentDir(savedDir));
#if defined(_WIN32)
    // "X:\rest": drive X, then the rest on it.
    ASSERT_EQ(work.Path()[1], ':');
    std::string lower = work.Path();
    lower[0] = static_cast<char>(lower[0] | 0x20);  // either case names the drive
    WriteIni("[Main Prefs]\nWorkingDir=" + lower + "\n");
    ReadPreferences();
    EXPECT_TRUE(CurrentDirIs(work.Path()));
    ASSERT_TRUE(SetCurrentDir(savedDir));

    int missing = 0;
    for (int d = 26; d >= 3 && missing == 0; --d) {
        char root[4] = {static_cast<char>('A' + d - 1), ':', '\\', 0};
        if (!IsDirectory(root)) missing = d;
    }
    ASSERT_NE(missing, 0);
    std::string elsewhere = work.Path();
    elsewhere[0] = static_cast<char>('A' + missing - 1);
    WriteIni("[Main Prefs]\nWorkingDir=" + elsewhere + "\n");
#else
    // No drives here: the form fails quietly.
    WriteIni("[Main Prefs]\nWorkingDir=D:" + work.Path() + "\n");
#endif
    ReadPreferences();
    EXPECT_TRUE(CurrentDirIs(savedDir));
}

TEST_F(PrefsTest, SavingWithSavePrefsOffWritesOnlyThatSwitch)
{
    ReadPreferences();
    Prefs.SavePrefs = 0;
    Prefs.AutoRename = 1;
    Prefs.MacTrans = 4;
    std::strcpy(Prefs.PCFilterExt, "TXT");
    SavePreferences();
    EXPECT_EQ(List(nullptr), std::vector<std::string>{"Main Prefs"});
    EXPECT_EQ(List("Main Prefs"), std::vector<std::string>{"SavePrefs=NO"});
}

TEST_F(PrefsTest, SavingWritesMainPrefsAndKeepsTheRest)
{
    WriteIni("[Main Prefs]\nSavePrefs=yes\nCopyPrefs=no\nAutoRename=yes\nAllowUpper=yes\nMacUseMap=no\nPCUseMap=no\n"
             "MacCopyDir=yes\nPCCopyDir=yes\nMacCopyFilter=yes\nPCCopyFilter=yes\nMacTrans=1\nPCTrans=1\n"
             "MacFilterType=APPL\nMacFilterCrtr=ttxt\nMacFilterExt=.hqx\nPCFilterExt=BIN\n"
             "[Disk Prefs]\nAddASPI=win\n[Misc Prefs]\nMaxIOBufSzK=16\n[Text File]\nkept=as is\n");
    ReadPreferences();
    ASSERT_EQ(Prefs.SavePrefs, 1);
    MacToPcIndex = 3;  // the live choices are what is saved
    PcToMacIndex = 2;
    MacSortId = kSortBySize;
    PcSortId = kSortByDate;
    TempDir work;
    ASSERT_TRUE(SetCurrentDir(work.Path().c_str()));
    char here[1024];
    ASSERT_TRUE(GetCurrentDir(here, sizeof here));

    SavePreferences();
    ASSERT_TRUE(SetCurrentDir(savedDir));

    EXPECT_EQ(Value("Main Prefs", "SavePrefs"), "YES");
    EXPECT_EQ(Value("Main Prefs", "CopyPrefs"), "NO");
    EXPECT_EQ(Value("Main Prefs", "AutoRename"), "YES");
    EXPECT_EQ(Value("Main Prefs", "MacTrans"), "3");
    EXPECT_EQ(Value("Main Prefs", "PCTrans"), "2");
    EXPECT_EQ(Value("Main Prefs", "MacSort"), "253");
    EXPECT_EQ(Value("Main Prefs", "PCSort"), "254");
    EXPECT_EQ(Value("Main Prefs", "MacFilterExt"), ".hqx");
    EXPECT_EQ(Value("Main Prefs", "WorkingDir"), here);
    EXPECT_EQ(Value("Disk Prefs", "AddASPI"), "win");
    EXPECT_EQ(Value("Misc Prefs", "MaxIOBufSzK"), "16");
    EXPECT_EQ(Value("Text File", "kept"), "as is");

    // What was written reads back as it was, with the live choices.
    PrefsRecord written = Prefs;
    written.MacTrans = 3;
    written.PCTrans = 2;
    std::memset(&Prefs, 0, sizeof Prefs);
    ReadPreferences();
    EXPECT_TRUE(CurrentDirIs(here)) << "WorkingDir is applied";
    ASSERT_TRUE(SetCurrentDir(savedDir));
    Prefs.MacSort = written.MacSort;
    Prefs.PCSort = written.PCSort;
    EXPECT_EQ(Describe(Prefs), Describe(written));
    MacToPcIndex = PcToMacIndex = 0;
}

TEST_F(PrefsTest, FilePathsBesideTheProgram)
{
    const char sep = PathSeparator();
    std::string program = std::string("base") + sep + "dir" + sep + "quaylink.exe";
    BuildFilePathsFrom(program.c_str());
    std::string dirPart = std::string("base") + sep + "dir" + sep;
    EXPECT_EQ(std::string(IniPath), dirPart + "PIER.INI");
    EXPECT_EQ(std::string(FtmPath), dirPart + "PIER.FTM");
    EXPECT_EQ(std::string(HelpPath), dirPart + "QUAYLINK.HLP");

    BuildFilePathsFrom("quaylink.exe");
    EXPECT_STREQ(IniPath, "PIER.INI");
    EXPECT_STREQ(FtmPath, "PIER.FTM");
    EXPECT_STREQ(HelpPath, "QUAYLINK.HLP");

    // A directory that leaves no room for a name gives the bare name.
    std::string deep(246, 'd');
    deep += sep;
    BuildFilePathsFrom((deep + "q").c_str());
    EXPECT_EQ(std::string(IniPath), deep + "PIER.INI");      // 255 characters
    EXPECT_STREQ(HelpPath, "QUAYLINK.HLP");

    // Beside the running program, as the system names it.
    char module[256];
    ASSERT_TRUE(GetModulePath(module, sizeof module));
    EXPECT_NE(std::strstr(module, "quaylink_unit_tests"), nullptr) << module;
    EXPECT_TRUE(FileExists(module));
    char tiny[4];
    EXPECT_FALSE(GetModulePath(tiny, sizeof tiny));
    BuildFilePaths();
    std::string own(module);
    own.erase(own.rfind(sep) + 1);
    EXPECT_EQ(std::string(IniPath), own + "PIER.INI");
}

}  // namespace
