// The PC side: the platform layer, PIER.INI, names (Mac names between the
// two character sets; PC names made from Mac names: cleaning, extensions,
// the names Windows would misread, automatic renaming and its dialog), and
// what the panes and the progress window show (sizes, DOS dates of Mac
// times, the progress bar; the pane's lines are cli_read_test's). The same
// tests run natively and, in the Windows build, under wine, so both
// implementations keep one behaviour.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/progress.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "hfs/mac_names.h"
#include "hfs/mac_time.h"
#include "platform/platform.h"
#include "support/engine_state.h"
#include "support/recording_window.h"
#include "support/temp_image.h"
#include "support/time_zone.h"
#include "translate/names.h"
#include "ui/format_text.h"

#if !defined(_WIN32)
#include <iconv.h>
#endif

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// The program's state (preferences, transfer limit) is reset around each test.
class ProfileTest : public DiskStateTest {
protected:
    void SetUp() override
    {
        DiskStateTest::SetUp();
        std::snprintf(IniPath, sizeof IniPath, "%s", ini.c_str());
    }
    std::string Read(const char* section, const char* key, unsigned size = 256)
    {
        std::vector<char> out(size + 1, 'X');
        const unsigned n = ReadProfileString(section, key, "dflt", out.data(), size, ini.c_str());
        EXPECT_EQ(n, std::strlen(out.data()));
        EXPECT_EQ(out[size], 'X') << "wrote past the buffer";
        return out.data();
    }
    void Write(const std::string& text) { dir.WriteFile("PIER.INI", Bytes(text)); }
    TempDir dir;
    std::string ini = dir.PathOf("PIER.INI");
};

TEST_F(ProfileTest, ReadingWritingAndTheTransferLimit)
{
    Write("[Main Prefs]\n  SavePrefs   =   yes please  \r\n[Q]\ndouble=\"quoted value\"\nsingle='it is'\n"
          "mixed=\"not closed'\nlone=\"\nk=first\nk=second\nbare\n[q]\nonly=later\n");
    const struct {
        const char* section;
        const char* key;
        const char* want;
        unsigned size = 256;
    } keys[] = {{"main prefs", "SAVEPREFS", "yes please"}, {"Q", "double", "quoted value"},
                {"Q", "single", "it is"},                  {"Q", "mixed", "\"not closed'"},
                {"Q", "lone", "\""},                       {"Q", "k", "first"},
                {"Q", "bare", "dflt"},                     {"Q", "only", "dflt"},
                {"Q", "double", "quo", 4}};
    for (const auto& k : keys) EXPECT_EQ(Read(k.section, k.key, k.size), k.want) << k.section << " " << k.key;
    // Writing changes only its own line and follows the file's line ends.
    Write("; settings\r\n[Main Prefs]\r\nSavePrefs = NO\r\n\r\n[Disk Prefs]\r\nAddASPI=win ; edited");
    ASSERT_TRUE(WriteProfileString("main prefs", "savePrefs", "YES", ini.c_str()));
    ASSERT_TRUE(WriteProfileString("Main Prefs", "PCTrans", "3", ini.c_str()));
    ASSERT_TRUE(WriteProfileString("Disk Prefs", "AddASPI", nullptr, ini.c_str()));
#if !defined(_WIN32)
    const std::vector<uint8_t> text = ReadFileBytes(ini);
    EXPECT_EQ(std::string(text.begin(), text.end()),
              "; settings\r\n[Main Prefs]\r\nSavePrefs = YES\r\nPCTrans=3\r\n\r\n[Disk Prefs]\r\n");
#endif
    EXPECT_FALSE(WriteProfileString("S", "k", "v", (dir.PathOf("none") + PathSeparator() + "PIER.INI").c_str()));
    // MaxIOBufSzK is read as two characters and kept within 4..64.
    const struct {
        const char* value;
        int kilobytes;
        uint32_t limit;
    } limits[] = {{"128", 12, 12288}, {"2", 4, 4096}, {"33", 33, 32768}, {"99", 64, 32768},
                  {"-5", 4, 4096},    {"5", 5, 5120}, {"x1", 64, 32768}};
    for (const auto& c : limits) {
        Write(std::string("[Misc Prefs]\nMaxIOBufSzK=") + c.value + "\n");
        ReadPreferences();
        EXPECT_EQ(Prefs.MaxIOBufSzK, c.kilobytes) << c.value;
        SetTransferLimit();
        EXPECT_EQ(MaxTransferBytes, c.limit) << c.value;
    }
}

TEST(FileTest, PositionedIoAndRename)
{
    TempDir dir;
    const std::string path = dir.PathOf("data.bin");
    std::vector<uint8_t> expected = PatternBytes(100000, 3);
    FileHandle f = FileOpen(path.c_str(), FileMode::Create);
    ASSERT_NE(f, kNoFile);
    EXPECT_EQ(FileWrite(f, expected.data(), expected.size()), 100000);
    FileClose(f);
    f = FileOpen(path.c_str(), FileMode::ReadWrite);
    const uint8_t patch[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    ASSERT_EQ(FileWriteAt(f, patch, 4, 3000), 4);
    std::memcpy(&expected[3000], patch, 4);
    std::vector<uint8_t> back(110000);
    EXPECT_EQ(FileRead(f, back.data(), 110000), 100000) << "short at the end";
    back.resize(100000);
    EXPECT_EQ(back, expected);
    EXPECT_EQ(FileReadAt(f, back.data(), 16, 99990), 10);
    FileClose(f);
    const std::string other = dir.WriteFile("b.txt", Bytes("beta"));
    EXPECT_FALSE(FileRename(path.c_str(), other.c_str())) << "the target exists";
    EXPECT_EQ(ReadFileBytes(other), Bytes("beta"));
}

// Names above 0x7F go through every call as the same Windows-1252 bytes,
// whatever the system's code page.
TEST(FileTest, NamesBeyondAsciiKeepTheirBytes)
{
    TempDir dir;
    const auto native = [&](const std::string& ansi) {
        char out[1024];
        EXPECT_TRUE(AnsiToNative(ansi.c_str(), out, sizeof out));
        return dir.Path() + PathSeparator() + out;
    };
    const std::string file = "caf\xe9 \x80 \xff.txt", folder = "d\xe9\x80\xff", renamed = "\xff\x80\xe9.bin";
    const FileHandle f = FileOpen(native(file).c_str(), FileMode::CreateNew);
    ASSERT_NE(f, kNoFile) << native(file);
    EXPECT_EQ(FileWrite(f, "data", 4), 4);
    FileClose(f);
    ASSERT_TRUE(MakeDir(native(folder).c_str()));
    std::vector<std::pair<std::string, PathKind>> listed;
    ASSERT_TRUE(ListDir(
        dir.Path().c_str(),
        [](const DirEntry& e, void* context) {
            char ansi[260];
            NativeToAnsi(e.name, ansi, sizeof ansi);
            static_cast<std::vector<std::pair<std::string, PathKind>>*>(context)->emplace_back(ansi, e.kind);
            return true;
        },
        &listed));
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::pair<std::string, PathKind>>{{file, PathKind::Regular},
                                                                     {folder, PathKind::Directory}}));
    EXPECT_EQ(ReadFileBytes(native(file)), Bytes("data"));
    ASSERT_TRUE(FileRename(native(file).c_str(), native(renamed).c_str()));
    EXPECT_FALSE(FileExists(native(file).c_str()));
    EXPECT_EQ(GetPathKind(native(renamed).c_str()), PathKind::Regular);
    EXPECT_TRUE(IsDirectory(native(folder).c_str()));
    const std::string ini = native("PIER.INI");
    ASSERT_TRUE(WriteProfileString("Disk Images", "Image1", native(renamed).c_str(), ini.c_str()));
    char value[1024];
    ReadProfileString("Disk Images", "Image1", "", value, sizeof value, ini.c_str());
    EXPECT_EQ(value, native(renamed));
    EXPECT_TRUE(FileDelete(native(renamed).c_str()));
    EXPECT_TRUE(RemoveDir(native(folder).c_str()));
    EXPECT_EQ(GetPathKind(native(folder).c_str()), PathKind::Missing);
}

#if !defined(_WIN32)
TEST(NameConversion, AgreesWithTheCLibrarysWindows1252BothWays)
{
    iconv_t cd = iconv_open("UTF-8", "CP1252");
    if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no CP1252 converter";
    for (int c = 0x01; c <= 0xFF; ++c) {
        char in[2] = {static_cast<char>(c), 0}, expected[8] = {}, ours[8], back[8];
        char* inp = in;
        char* outp = expected;
        size_t inLeft = 1, outLeft = sizeof expected - 1;
        ASSERT_TRUE(AnsiToNative(in, ours, sizeof ours));
        ASSERT_TRUE(NativeToAnsi(ours, back, sizeof back));
        EXPECT_STREQ(back, in) << c;
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1)) {
            EXPECT_TRUE(c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) << c;
            expected[0] = static_cast<char>(0xC2), expected[1] = static_cast<char>(c);
        }
        EXPECT_STREQ(ours, expected) << c;
    }
    iconv_close(cd);
    char out[32];
    ASSERT_TRUE(NativeToAnsi("\xCE\xA9 \xE2\x82\xAC caf\xE9 \xC0\xAF", out, sizeof out));
    EXPECT_STREQ(out, "? \x80 caf? ??");
}

TEST(LocalTime, WallClockReadingsFollowTheZone)
{
    const struct {
        const char* zone;
        int64_t unix;
        int64_t offset;
    } cases[] = {
        {"UTC0", 1700000000, 0},
        {"IST-5:30", 1700000000, 19800},
        {"ACST-9:30ACDT,M10.1.0,M4.1.0/3", 1705320000, 37800},  // January: summer time
        {"ACST-9:30ACDT,M10.1.0,M4.1.0/3", 1719835200, 34200},
        {"EST5EDT,M3.2.0,M11.1.0", 1705320000, -18000},
        {"EST5EDT,M3.2.0,M11.1.0", 1719835200, -14400},
        {"EST5EDT,M3.2.0,M11.1.0", -2000000000, -18000},  // 1906
    };
    for (const auto& c : cases) {
        ScopedTimeZone zone(c.zone);
        EXPECT_EQ(UnixToLocalWall(c.unix), c.unix + c.offset) << c.zone << " " << c.unix;
        EXPECT_EQ(LocalWallToUnix(c.unix + c.offset), c.unix) << c.zone << " " << c.unix;
    }
    ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
    // 2024-03-10 02:30 is skipped: read with the offset before, 07:30 UTC.
    EXPECT_EQ(LocalWallToUnix(1710037800), 1710055800);
    // 2024-11-03 01:30 is shown twice: the first time, 05:30 UTC.
    EXPECT_EQ(LocalWallToUnix(1730597400), 1730611800);
    EXPECT_EQ(UnixToLocalWall(1730615400), 1730597400);
    EXPECT_EQ(LocalDosDateTime(1719835200), 0x58E14000u);  // 08:00 EDT
    EXPECT_EQ(LocalDosDateTime(315532800), 0u) << "1979-12-31 19:00 local";
    for (const int64_t extreme : {INT64_MIN, INT64_MAX, int64_t{0}}) {
        EXPECT_GT(LocalWallToUnix(LocalWallToUnix(extreme)), INT64_MIN);
        EXPECT_LT(UnixToLocalWall(UnixToLocalWall(extreme)), INT64_MAX);
    }
}
#endif


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
