// PC names made from Mac names: cleaning, extensions, the names Windows would
// misread, automatic renaming, the PC collision dialog, and the small PC file
// queries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/prefs.h"
#include "core/progress.h"
#include "core/status.h"
#include "platform/platform.h"
#include "support/engine_state.h"
#include "support/host.h"
#include "support/scripted_dialogs.h"
#include "support/temp_image.h"
#include "translate/names.h"

namespace {

std::string Sanitized(const std::string& name, const char* extension, bool allowUpper = false)
{
    Prefs.AllowUpper = allowUpper ? 1 : 0;
    char buffer[256] = {};
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    SanitizePcName(buffer, extension);
    return buffer;
}

// Tests that work with files in a scratch directory made current.
class PcNameFiles : public EngineStateTest {
protected:
    void SetUp() override
    {
        EngineStateTest::SetUp();
        char directory[1024];
        ASSERT_TRUE(GetCurrentDir(directory, sizeof directory));
        saved_ = directory;
        ASSERT_TRUE(SetCurrentDir(dir_.Path().c_str()));
    }
    void TearDown() override
    {
        CloseProgress();
        ProgressTotal = 0;
        SetCurrentDir(saved_.c_str());
        EngineStateTest::TearDown();
    }
    void Touch(const std::string& name) const { dir_.WriteFile(name, {1, 2, 3}); }
    std::string Make(const std::string& name, const char* extension, int expected = kCollisionGoOn)
    {
        char buffer[256] = {};
        std::memcpy(buffer, name.c_str(), name.size() + 1);
        EXPECT_EQ(MakePcName(buffer, extension), expected) << name;
        return buffer;
    }

    TempDir dir_;
    std::string saved_;
};

TEST(SanitizePcName, ReplacesWhatPcNamesCannotHold)
{
    for (bool upper : {false, true}) {
        EXPECT_EQ(Sanitized("  a:b", "", upper), "!!a_b");
        EXPECT_EQ(Sanitized("a/b\\c*d?e\"f<g>h|i", "", upper), "a_b_c_d_e_f_g_h_i");
        EXPECT_EQ(Sanitized(std::string("x\x01y\x1Fz\x7F"), "", upper), "x_y_z_");
        EXPECT_EQ(Sanitized("a$%'-_@~`!(){}^#&.+,;=[] b", "", upper), "a$%'-_@~`!(){}^#&.+,;=[] b");
        EXPECT_EQ(Sanitized("", "TXT", upper), "");  // empty stays empty, no extension
    }
    EXPECT_EQ(Sanitized("caf\xE9", "", true), "caf\xE9");
    EXPECT_EQ(Sanitized("caf\xE9", "", false), "caf_");
    EXPECT_EQ(Sanitized(" ", ""), "!");
}

TEST(SanitizePcName, AppendsTheExtensionUnlessTheNameCarriesIt)
{
    EXPECT_EQ(Sanitized("notes.txt", "TXT"), "notes.txt");
    EXPECT_EQ(Sanitized("notes.txt2", "TXT"), "notes.txt2");
    EXPECT_EQ(Sanitized("notes.text", "TXT"), "notes.text.TXT");
    EXPECT_EQ(Sanitized("notes", "TXT"), "notes.TXT");
    EXPECT_EQ(Sanitized("a.verylongext", "TXT"), "a.verylongext.TXT");
    EXPECT_EQ(Sanitized("a.tx", "TXT"), "a.tx.TXT");
    EXPECT_EQ(Sanitized("a.TX", "tx"), "a.TX");
    EXPECT_EQ(Sanitized("a.txtab", "TXT"), "a.txtab");       // 6 characters from the dot
    EXPECT_EQ(Sanitized("a.txtabc", "TXT"), "a.txtabc.TXT");  // 7
}

TEST(SanitizePcName, MendsNamesThatEscapeOrNameADevice)
{
    EXPECT_EQ(Sanitized(".", ""), "_");
    EXPECT_EQ(Sanitized("..", ""), "__");
    EXPECT_EQ(Sanitized("...", ""), "___");
    EXPECT_EQ(Sanitized("..", "TXT"), "__.TXT");
    EXPECT_EQ(Sanitized("CON", ""), "_CON");
    EXPECT_EQ(Sanitized("con.txt", "TXT"), "_con.txt");
    EXPECT_EQ(Sanitized("Aux", "TXT"), "_Aux.TXT");
    EXPECT_EQ(Sanitized("Lpt1", ""), "_Lpt1");
    EXPECT_EQ(Sanitized("com9.tar.gz", ""), "_com9.tar.gz");
    EXPECT_EQ(Sanitized("NUL .txt", ""), "_NUL .txt");
    EXPECT_EQ(Sanitized("conout$", ""), "_conout$");
    EXPECT_EQ(Sanitized("COM\xB9", "", true), "_COM\xB9");
    EXPECT_EQ(Sanitized("COM0", ""), "COM0");
    EXPECT_EQ(Sanitized("CONSOLE", ""), "CONSOLE");
    EXPECT_EQ(Sanitized("my con", ""), "my con");
    EXPECT_EQ(Sanitized("name.", ""), "name_");
    EXPECT_EQ(Sanitized("name. .", ""), "name___");
    EXPECT_EQ(Sanitized("name ", ""), "name_");
    EXPECT_EQ(Sanitized("CON.", ""), "CON_");
    EXPECT_EQ(Sanitized("Notes.", "TXT"), "Notes..TXT");
}

TEST(OemNames, ConvertThroughTheTable)
{
    char out[8];
    AnsiToOem("\xE9\x80", out);
    EXPECT_EQ(std::string(out), "\x82_");
    OemToAnsi("\x82", out);
    EXPECT_EQ(std::string(out), "\xE9");
    // 0xC4 stands for two ANSI characters; the lower one wins.
    OemToAnsi("\xC4", out);
    EXPECT_EQ(std::string(out), "\x97");
    // A byte no ANSI character maps to stays as it is.
    OemToAnsi("\xB0z", out);
    EXPECT_EQ(std::string(out), "\xB0z");
    // In place.
    char same[] = "a\xE9";
    AnsiToOem(same, same);
    EXPECT_EQ(std::string(same), "a\x82");
    for (unsigned i = 0; i < 128; ++i) {
        const char one[2] = {static_cast<char>(0x80 + i), 0};
        AnsiToOem(one, out);
        EXPECT_EQ(static_cast<uint8_t>(out[0]), OemTable[i]);
    }
}

TEST_F(PcNameFiles, AutomaticRenamingCountsThroughDigitsAndLetters)
{
    Prefs.AutoRename = 1;
    ScriptedDialogs dialogs;
    EXPECT_EQ(Make("A.TXT", "TXT"), "A.TXT");
    Touch("A.TXT");
    EXPECT_EQ(Make("A.TXT", "TXT"), "A0.TXT");
    for (char c = '0'; c <= '9'; ++c) Touch(std::string("A") + c + ".TXT");
    EXPECT_EQ(Make("A", "TXT"), "AA.TXT");
    for (char c = 'A'; c <= 'Z'; ++c) Touch(std::string("A") + c + ".TXT");
    dialogs.Script({{kAnswerSkip, ""}});
    EXPECT_EQ(Make("A.TXT", "TXT", kCollisionSkip), "A.TXT");
    EXPECT_EQ(dialogs.templates, std::vector<std::string>{"PCOLLISION"});
    EXPECT_EQ(dialogs.shown, std::vector<std::string>{"A.TXT"});
    EXPECT_FALSE(dialogs.paramMismatch);
}

TEST_F(PcNameFiles, AutomaticRenamingPlacesTheCounter)
{
    Prefs.AutoRename = 1;
    for (const char* name : {"REPORT.TXT", "LONGNAMES.TXT", "A.B.TOOLONG", "noext", "exactly8.c"}) Touch(name);
    EXPECT_EQ(Make("REPORT.TXT", ""), "REPORT0.TXT");
    EXPECT_EQ(Make("LONGNAMES.TXT", ""), "LONGNAME0.TXT");
    EXPECT_EQ(Make("A.B.TOOLONG", ""), "A.B.TOOLON0");
    EXPECT_EQ(Make("noext", ""), "noext0");
    EXPECT_EQ(Make("exactly8.c", ""), "exactly0.c");
    // Candidates that Windows reads as devices are passed over.
    Touch("COM.TXT");
    Touch("COM0.TXT");
    EXPECT_EQ(Make("COM.TXT", ""), "COMA.TXT");
}

TEST_F(PcNameFiles, DirectoriesDoNotClash)
{
    ASSERT_TRUE(MakeDir("Docs"));
    ScriptedDialogs dialogs;
    EXPECT_EQ(Make("Docs", ""), "Docs");
    EXPECT_TRUE(dialogs.templates.empty());
    EXPECT_FALSE(PcFileExists("Docs"));
    EXPECT_FALSE(PcFileExists("missing"));
    Touch("there");
    EXPECT_TRUE(PcFileExists("there"));
}

TEST_F(PcNameFiles, DialogAsksAgainWhileTheTypedNameExists)
{
    Touch("A.TXT");
    Touch("B.TXT");
    ScriptedDialogs dialogs;
    dialogs.Script({{kAnswerNewName, "B.TXT"}, {kAnswerNewName, "c"}});
    // The typed name is taken as it is: not cleaned, no extension.
    EXPECT_EQ(Make("A", "TXT"), "c");
    EXPECT_EQ(dialogs.shown, (std::vector<std::string>{"A.TXT", "B.TXT"}));
    EXPECT_EQ(StatusCode, 0u);
}

TEST_F(PcNameFiles, DialogSkipOverWriteAndCancel)
{
    Touch("A.TXT");
    ScriptedDialogs dialogs;
    dialogs.Script({{kAnswerSkip, ""}, {kAnswerOverWrite, ""}, {kAnswerCancel, ""}});
    EXPECT_EQ(Make("A.TXT", "TXT", kCollisionSkip), "A.TXT");
    EXPECT_EQ(Make("A.TXT", "TXT", kCollisionGoOn), "A.TXT");
    // Without a progress window a Cancel gives up only this file.
    EXPECT_EQ(Make("A.TXT", "TXT", kCollisionCancel), "A.TXT");
    EXPECT_EQ(StatusCode, 0u);

    dialogs.showsProgress = true;
    ProgressTotal = 100;
    OpenProgress(nullptr, kProgressCopyMacToPc);
    ASSERT_NE(ProgressWindow, nullptr);
    dialogs.Script({{kAnswerCancel, ""}});
    EXPECT_EQ(Make("A.TXT", "TXT", kCollisionCancel), "A.TXT");
    EXPECT_EQ(StatusCode, kStatusCancelled);
    EXPECT_FALSE(dialogs.paramMismatch);
    EXPECT_EQ(CollisionName, nullptr);
}

TEST_F(PcNameFiles, WithoutAWindowAClashIsCancelledNotAskedForever)
{
    Touch("report.txt");
    EXPECT_EQ(Make("report.txt", "", kCollisionCancel), "report.txt");
    EXPECT_EQ(StatusCode, 0u);  // no progress window: only this file is given up
}

TEST_F(PcNameFiles, ModificationTimeBothWays)
{
    Touch("dated");
    SetPcFileDate("dated", 1000000000);
    EXPECT_EQ(PcFileModifiedTime("dated"), 1000000000);
    SetPcFileDate("dated", 86400 * 365);
    EXPECT_EQ(PcFileModifiedTime("dated"), 86400 * 365);
    EXPECT_EQ(PcFileModifiedTime("missing"), 0);
    SetPcFileDate("missing", 5);  // nothing to date: no file appears
    EXPECT_FALSE(PcFileExists("missing"));
}

TEST_F(PcNameFiles, AnsiNamesReachTheFileSystem)
{
    if (RunningUnderWine()) GTEST_SKIP() << "wine keeps names above 0x7F in the host's character set";
    // A name above 0x7F is created, found and dated under its own characters.
    Prefs.AllowUpper = 1;
    EXPECT_EQ(Make("caf\xE9", "TXT"), "caf\xE9.TXT");
#if defined(_WIN32)
    Touch("caf\xE9.TXT");
#else
    Touch("caf\xC3\xA9.TXT");  // the file system's UTF-8 spelling
#endif
    EXPECT_TRUE(PcFileExists("caf\xE9.TXT"));
    SetPcFileDate("caf\xE9.TXT", 1234567890);
    EXPECT_EQ(PcFileModifiedTime("caf\xE9.TXT"), 1234567890);
}

}  // namespace
