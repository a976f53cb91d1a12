// Names: Mac names between the two character sets, and PC names made from
// Mac names (cleaning, extensions, the names Windows would misread,
// automatic renaming and its dialog).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/prefs.h"
#include "hfs/mac_names.h"
#include "support/engine_state.h"
#include "support/recording_window.h"
#include "translate/names.h"

namespace {

TEST(MacNames, ConvertBothWaysAndKeepEveryByte)
{
    EXPECT_EQ(MacCharToPc(0x8A), 0xE4);  // a with diaeresis
    EXPECT_EQ(PcCharToMac(0xE4), 0x8A);
    EXPECT_EQ(MacCharToPc(0xB0), 0x80);  // infinity takes the euro's code
    EXPECT_EQ(PcCharToMac(0x80), 0xB0);
    EXPECT_EQ(MacCharToPc(0xDB), 0xA4);  // currency sign
    // The tables are inverse permutations of 0x80..0xFF, so every Mac name
    // comes back from the PC unchanged (a zero byte travels as 0x02).
    uint8_t name[32];
    for (unsigned start = 1; start < 256; start += 31) {
        name[0] = 0;
        for (unsigned c = start; c < start + 31 && c < 256; ++c) name[++name[0]] = static_cast<uint8_t>(c == 2 ? 0 : c);
        char pc[40];
        MacNameToPc(pc, name, true);
        uint8_t back[32];
        PcNameToMac(back, pc);
        ASSERT_EQ(0, std::memcmp(name, back, name[0] + 1u)) << "names starting at " << start;
    }
}

// Files in a scratch PC directory.
class PcNameFiles : public EngineStateTest {
protected:
    void SetUp() override
    {
        EngineStateTest::SetUp();
        CurrentOptions.pcDirectory = dir_.Path();
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
};

TEST_F(PcNameFiles, SanitizeCleansExtendsAndMendsNames)
{
    struct Case {
        const char* name;
        const char* extension;
        bool allowUpper;
        const char* want;
    };
    const Case cases[] = {
        {"  a:b", "", false, "!!a_b"},
        {"a/b\\c*d?e\"f<g>h|i", "", true, "a_b_c_d_e_f_g_h_i"},
        {"x\x01y\x1Fz\x7F", "", false, "x_y_z_"},
        {"a$%'-_@~`!(){}^#&.+,;=[] b", "", false, "a$%'-_@~`!(){}^#&.+,;=[] b"},
        {"", "TXT", false, ""},
        {"caf\xE9", "", true, "caf\xE9"},
        {"caf\xE9", "", false, "caf_"},
        {" ", "", false, "!"},
        // The extension unless the name carries it (up to 6 characters from the dot).
        {"notes.txt", "TXT", false, "notes.txt"},
        {"notes.txt2", "TXT", false, "notes.txt2"},
        {"notes.text", "TXT", false, "notes.text.TXT"},
        {"notes", "TXT", false, "notes.TXT"},
        {"a.tx", "TXT", false, "a.tx.TXT"},
        {"a.TX", "tx", false, "a.TX"},
        {"a.txtab", "TXT", false, "a.txtab"},
        {"a.txtabc", "TXT", false, "a.txtabc.TXT"},
        // Names that would escape the directory or open a device.
        {".", "", false, "_"},
        {"..", "", false, "__"},
        {"..", "TXT", false, "__.TXT"},
        {"CON", "", false, "_CON"},
        {"con.txt", "TXT", false, "_con.txt"},
        {"Aux", "TXT", false, "_Aux.TXT"},
        {"Lpt1", "", false, "_Lpt1"},
        {"com9.tar.gz", "", false, "_com9.tar.gz"},
        {"NUL .txt", "", false, "_NUL .txt"},
        {"conout$", "", false, "_conout$"},
        {"COM\xB9", "", true, "_COM\xB9"},
        {"COM0", "", false, "COM0"},
        {"CONSOLE", "", false, "CONSOLE"},
        {"my con", "", false, "my con"},
        {"name. .", "", false, "name___"},
        {"name ", "", false, "name_"},
        {"CON.", "", false, "CON_"},
        {"Notes.", "TXT", false, "Notes..TXT"},
    };
    for (const Case& c : cases) {
        CurrentOptions.allowUpper = c.allowUpper;
        char buffer[256] = {};
        std::strcpy(buffer, c.name);
        SanitizePcName(buffer, c.extension);
        EXPECT_STREQ(buffer, c.want) << c.name;
    }
}

TEST_F(PcNameFiles, AutomaticRenamingCountsAndPlacesTheCounter)
{
    CurrentOptions.autoRename = true;
    RecordingWindowSystem ws;
    for (const char* name : {"A.TXT", "REPORT.TXT", "LONGNAMES.TXT", "A.B.TOOLONG", "noext", "exactly8.c",
                             "COM.TXT", "COM0.TXT"})
        Touch(name);
    EXPECT_EQ(Make("B.TXT", "TXT"), "B.TXT");
    EXPECT_EQ(Make("A.TXT", "TXT"), "A0.TXT");
    EXPECT_EQ(Make("REPORT.TXT", ""), "REPORT0.TXT");
    EXPECT_EQ(Make("LONGNAMES.TXT", ""), "LONGNAME0.TXT");
    EXPECT_EQ(Make("A.B.TOOLONG", ""), "A.B.TOOLON0");
    EXPECT_EQ(Make("noext", ""), "noext0");
    EXPECT_EQ(Make("exactly8.c", ""), "exactly0.c");
    EXPECT_EQ(Make("COM.TXT", ""), "COMA.TXT");  // COM1 to COM9 name devices
    for (char c = '0'; c <= '9'; ++c) Touch(std::string("A") + c + ".TXT");
    EXPECT_EQ(Make("A", "TXT"), "AA.TXT");
    for (char c = 'A'; c <= 'Z'; ++c) Touch(std::string("A") + c + ".TXT");
    ws.Script({{NameExistsAnswer::Skip, ""}});  // every counter taken: the dialog
    EXPECT_EQ(Make("A.TXT", "TXT", kCollisionSkip), "A.TXT");
    EXPECT_EQ(ws.shown, std::vector<std::string>{"A.TXT"});
}

}  // namespace
