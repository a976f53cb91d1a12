// The PC-side platform layer: profile files, directories, files (including
// offsets past 4 GiB and block devices), name conversion and local time.
// The same tests run natively and, in the Windows build, under wine against
// the system's own calls, so both implementations are held to one behaviour.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "support/temp_image.h"
#include "support/time_zone.h"

#if !defined(_WIN32)
#include <iconv.h>
#endif

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::string FileText(const std::string& path)
{
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// The strings of a list of zero-terminated strings ending with an empty one.
std::vector<std::string> SplitList(const char* list, unsigned length)
{
    std::vector<std::string> items;
    for (unsigned i = 0; i < length && list[i] != 0;) {
        items.emplace_back(list + i);
        i += static_cast<unsigned>(items.back().size()) + 1;
    }
    return items;
}

// ---- profile files -----------------------------------------------------------

class ProfileTest : public ::testing::Test {
protected:
    std::string Read(const char* section, const char* key, const char* def = "dflt", unsigned size = 256)
    {
        std::vector<char> out(size + 1, 'X');
        unsigned n = ReadProfileString(section, key, def, out.data(), size, ini.c_str());
        EXPECT_EQ(n, std::strlen(out.data()));
        EXPECT_EQ(out[size], 'X') << "wrote past the buffer";
        return out.data();
    }
    std::vector<std::string> Section(const char* section)
    {
        char out[512];
        unsigned n = ReadProfileSection(section, out, sizeof out, ini.c_str());
        return SplitList(out, n);
    }
    void Write(const std::string& text) { dir.WriteFile("PIER.INI", Bytes(text)); }

    TempDir dir;
    std::string ini = dir.PathOf("PIER.INI");
};

// Each file is read for some keys; a missing file gives the defaults.
TEST_F(ProfileTest, ReadingFindsTheKeyOrGivesTheDefault)
{
    char empty[8];
    std::memset(empty, 'X', sizeof empty);
    EXPECT_EQ(ReadProfileSection("Main Prefs", empty, sizeof empty, ini.c_str()), 0u);
    EXPECT_EQ(empty[0], 0);
    struct Key {
        const char* section;
        const char* key;
        const char* want;
        const char* def = "dflt";
        unsigned size = 256;
    };
    struct Case {
        const char* file;  // null: no file
        std::vector<Key> keys;
    };
    const Case cases[] = {
        {nullptr,  // the default loses trailing blanks
         {{"Main Prefs", "SavePrefs", "NO", "NO"}, {"Main Prefs", "SavePrefs", "", ""},
          {"S", "k", "value", "value  "}, {"S", "k", "  lead", "  lead"}}},
        // Names ignore case, values are trimmed, keys belong to their own section.
        {"[Main Prefs]\n  SavePrefs   =   yes please  \r\nEmpty=\n\t Tabbed\t=\tx y\t\n[disk prefs]\nAddASPI=win\n",
         {{"main prefs", "SAVEPREFS", "yes please"}, {"MAIN PREFS", "savePrefs", "yes please"},
          {"Main Prefs", "Tabbed", "x y"}, {"Main Prefs", "Empty", ""}, {"Disk Prefs", "addaspi", "win"},
          {"Disk Prefs", "SavePrefs", "dflt"}, {"Misc Prefs", "SavePrefs", "dflt"}}},
        // One pair of matching quotes is removed.
        {"[Q]\ndouble=\"quoted value\"\nsingle='it is'\npadded=\"  inner blanks  \"\ntwice=\"\"both\"\"\n"
         "mixed=\"not closed'\nlone=\"\ninside=a \"b\" c\n",
         {{"Q", "double", "quoted value"}, {"Q", "single", "it is"}, {"Q", "padded", "  inner blanks  "},
          {"Q", "twice", "\"both\""}, {"Q", "mixed", "\"not closed'"}, {"Q", "lone", "\""},
          {"Q", "inside", "a \"b\" c"}}},
        // The first section and the first key of a name win.
        {"[A]\nk=first\nk=second\n[a]\nk=third\nonly=later\n", {{"A", "k", "first"}, {"A", "only", "dflt"}}},
        // A line without '=' gives the default; "[Broken" is no header, so its lines stay in S.
        {"; comment=1\n[S]\nbare\n=nameless\nk=v\n[Broken\nafter=1\n",
         {{"S", "bare", "dflt"}, {"S", "", "nameless"}, {"S", "k", "v"}, {"S", "after", "1"},
          {"Broken", "after", "dflt"}}},
        // Long values are cut to the buffer.
        {"[S]\nk=abcdefgh\n",
         {{"S", "k", "abc", "", 4}, {"S", "k", "", "", 1}, {"S", "missing", "defa", "defaultvalue", 5}}},
    };
    for (const Case& c : cases) {
        if (c.file) Write(c.file);
        for (const Key& k : c.keys)
            EXPECT_EQ(Read(k.section, k.key, k.def, k.size), k.want) << (c.file ? c.file : "(no file)") << "\n["
                                                                     << k.section << "] " << k.key;
        EXPECT_TRUE(c.file || !FileExists(ini.c_str())) << "reading must not create the file";
    }
}

// Type maps are read for every file copied, so a reader may keep what it
// read; a file another program changed or removed must be read as it now is.
TEST_F(ProfileTest, AFileChangedByAnotherProgramIsReadAfresh)
{
    const int64_t old = 946684800;  // 2000-01-01
    Write("[M]\nTEXT=txt\n");
    ASSERT_TRUE(FileSetModifiedTime(ini.c_str(), old));
    EXPECT_EQ(Read("M", "TEXT"), "txt");
    EXPECT_EQ(Read("M", "TEXT"), "txt");

    Write("[M]\nTEXT=doc\n");  // the same size, a later time
    ASSERT_TRUE(FileSetModifiedTime(ini.c_str(), old + 60));
    EXPECT_EQ(Read("M", "TEXT"), "doc");
    EXPECT_EQ(Section("M"), (std::vector<std::string>{"TEXT=doc"}));

    ASSERT_TRUE(FileDelete(ini.c_str()));
    EXPECT_EQ(Read("M", "TEXT"), "dflt");
}

TEST_F(ProfileTest, SectionCutShortEndsInTwoZeros)
{
    Write("[S]\na=1\nbb=22\nccc=333\n");
    char out[12];
    std::memset(out, 'X', sizeof out);
    unsigned n = ReadProfileSection("S", out, 10, ini.c_str());
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(std::string(out, 11), std::string("a=1\0bb=2\0\0X", 11));

    // The first entry fills the buffer but for one zero.
    std::memset(out, 'X', sizeof out);
    n = ReadProfileSection("S", out, 5, ini.c_str());
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::string(out, 6), std::string("a=1\0\0X", 6));
}

TEST_F(ProfileTest, ListsOfKeyLinesKeysAndSections)
{
    Write("[Other]\nx=1\n[Mac Type Map]\r\n; a comment\r\n\r\nTEXT = .txt\r\nbare\r\nAPPL=.exe\r\n[Next]\r\ny=2\r\n");
    EXPECT_EQ(Section("mac type map"), (std::vector<std::string>{"TEXT=.txt", "bare", "APPL=.exe"}));
    EXPECT_TRUE(Section("Missing").empty());
    // A null key lists the keys, a null section the sections.
    Write("[One]\na=1\nb=2\n[Two]\nc=3\n");
    char out[64];
    unsigned n = ReadProfileString("One", nullptr, "", out, sizeof out, ini.c_str());
    EXPECT_EQ(SplitList(out, n), (std::vector<std::string>{"a", "b"}));
    n = ReadProfileString(nullptr, nullptr, "", out, sizeof out, ini.c_str());
    EXPECT_EQ(SplitList(out, n), (std::vector<std::string>{"One", "Two"}));
}

// Writing creates the file and the section, changes only its own line, puts
// new keys after the section's last, follows the file's line ends; a null
// value deletes the key, a null key the section; no directory, no file.
TEST_F(ProfileTest, WritingKeepsEveryOtherLine)
{
    Write("; settings\r\n[Main Prefs]\r\nSavePrefs = NO\r\n\r\nMacTrans=2\r\n\r\n"
          "[Disk Prefs]\r\nAddASPI=win ; edited\r\n[Misc Prefs]\r\nKeepDate=no");  // no line end at the end of the file
    for (const auto& [section, key, value] : {std::tuple{"main prefs", "savePrefs", "YES"},
                                              {"Main Prefs", "PCTrans", "3"},
                                              {"Misc Prefs", "HideInvisible", "YES"},
                                              {"New", "k", "v"}})
        ASSERT_TRUE(WriteProfileString(section, key, value, ini.c_str()));
#if !defined(_WIN32)
    EXPECT_EQ(FileText(ini), "; settings\r\n[Main Prefs]\r\nSavePrefs = YES\r\n\r\nMacTrans=2\r\nPCTrans=3\r\n\r\n"
                             "[Disk Prefs]\r\nAddASPI=win ; edited\r\n[Misc Prefs]\r\nKeepDate=no\r\n"
                             "HideInvisible=YES\r\n[New]\r\nk=v\r\n");
#endif
    EXPECT_EQ(Read("Disk Prefs", "AddASPI"), "win ; edited");
    ASSERT_TRUE(WriteProfileString("Main Prefs", "SavePrefs", nullptr, ini.c_str()));
    ASSERT_TRUE(WriteProfileString("disk prefs", nullptr, nullptr, ini.c_str()));
    EXPECT_EQ(Read("Main Prefs", "SavePrefs"), "dflt");
    EXPECT_EQ(Read("Main Prefs", "MacTrans"), "2");
    EXPECT_EQ(Read("Disk Prefs", "AddASPI"), "dflt");
    EXPECT_EQ(Section("Main Prefs"), (std::vector<std::string>{"MacTrans=2", "PCTrans=3"}));

    TempDir fresh;
    const std::string created = fresh.PathOf("PIER.INI");
    ASSERT_TRUE(WriteProfileString("S", "a", "1", created.c_str()));
    char value[8];
    ReadProfileString("S", "a", "", value, sizeof value, created.c_str());
    EXPECT_STREQ(value, "1");
    const std::string missing = fresh.PathOf("no-such-dir") + PathSeparator() + "PIER.INI";
    EXPECT_FALSE(WriteProfileString("S", "k", "v", missing.c_str()));
    EXPECT_FALSE(FileExists(missing.c_str()));
}

// ---- directories --------------------------------------------------------------

class DirectoryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(GetCurrentDir(saved, sizeof saved)); }
    void TearDown() override { EXPECT_TRUE(SetCurrentDir(saved)); }

    std::string Join(const std::string& a, const std::string& b) { return a + PathSeparator() + b; }

    char saved[1024];
    TempDir dir;
};

struct Listing {
    std::vector<DirEntry> entries;
    size_t stopAfter = SIZE_MAX;
};

bool Collect(const DirEntry& entry, void* context)
{
    Listing* listing = static_cast<Listing*>(context);
    listing->entries.push_back(entry);
    return listing->entries.size() < listing->stopAfter;
}

const DirEntry* Find(const Listing& listing, const char* name)
{
    for (const DirEntry& e : listing.entries)
        if (std::strcmp(e.name, name) == 0) return &e;
    return nullptr;
}

TEST_F(DirectoryTest, MakeListRemoveAndTheCurrentDirectory)
{
    const std::string sub = Join(dir.Path(), "Sub Folder");
    ASSERT_TRUE(MakeDir(sub.c_str()));
    EXPECT_FALSE(MakeDir(sub.c_str()));
    EXPECT_TRUE(IsDirectory(sub.c_str()));
    dir.WriteFile("file.bin", std::vector<uint8_t>(1234, 7));
    EXPECT_FALSE(IsDirectory(dir.PathOf("file.bin").c_str()));
    EXPECT_FALSE(IsDirectory(dir.PathOf("missing").c_str()));

    ASSERT_TRUE(SetCurrentDir(dir.Path().c_str()));
    char here[1024];
    ASSERT_TRUE(GetCurrentDir(here, sizeof here));
    Listing listing;
    ASSERT_TRUE(ListDir(here, Collect, &listing));
    ASSERT_EQ(listing.entries.size(), 2u) << "no . or ..";
    ASSERT_TRUE(Find(listing, "Sub Folder") && Find(listing, "file.bin"));
    EXPECT_TRUE(Find(listing, "Sub Folder")->isDirectory);
    EXPECT_FALSE(Find(listing, "file.bin")->isDirectory);
    EXPECT_EQ(Find(listing, "file.bin")->size, 1234u);
    Listing first;
    first.stopAfter = 1;
    ASSERT_TRUE(ListDir(here, Collect, &first));
    EXPECT_EQ(first.entries.size(), 1u) << "the visitor stops the listing";
    EXPECT_FALSE(ListDir(dir.PathOf("missing").c_str(), Collect, &first));
    EXPECT_TRUE(FileExists("file.bin")) << "relative names";

    char tiny[2];
    EXPECT_FALSE(GetCurrentDir(tiny, sizeof tiny));
    EXPECT_FALSE(SetCurrentDir(dir.PathOf("missing").c_str()));
    EXPECT_FALSE(SetCurrentDir(""));
    EXPECT_TRUE(FileExists("file.bin")) << "a failed change leaves the directory";
    EXPECT_FALSE(RemoveDir(dir.Path().c_str())) << "not empty";
    EXPECT_TRUE(RemoveDir(sub.c_str()));
    EXPECT_FALSE(IsDirectory(sub.c_str()));
}

TEST_F(DirectoryTest, Drives)
{
#if defined(_WIN32)
    ASSERT_TRUE(SetCurrentDir(dir.Path().c_str()));
    char here[1024];
    ASSERT_TRUE(GetCurrentDir(here, sizeof here));
    ASSERT_EQ(here[1], ':');
    int own = (here[0] & 0x1F);  // A = 1
    EXPECT_TRUE(SetCurrentDrive(own));
    // A letter with no drive behind it fails and changes nothing.
    int missing = 0;
    for (int d = 26; d >= 3 && missing == 0; --d) {
        char root[4] = {static_cast<char>('A' + d - 1), ':', '\\', 0};
        if (!IsDirectory(root)) missing = d;
    }
    ASSERT_NE(missing, 0);
    EXPECT_FALSE(SetCurrentDrive(missing));
    EXPECT_TRUE(FileExists(here));
    char after[1024];
    ASSERT_TRUE(GetCurrentDir(after, sizeof after));
    EXPECT_STREQ(after, here);
#else
    EXPECT_TRUE(SetCurrentDrive(0));
    EXPECT_FALSE(SetCurrentDrive(3));
#endif
    EXPECT_FALSE(SetCurrentDrive(27));
}

// ---- files -------------------------------------------------------------------------

class FileTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(FileTest, CreateReadWriteAndPositionedIo)
{
    const std::string path = dir.PathOf("data.bin");
    const std::vector<uint8_t> pattern = PatternBytes(100000, 3);
    FileHandle f = FileOpen(path.c_str(), FileMode::Create);
    ASSERT_NE(f, kNoFile);
    EXPECT_EQ(FileWrite(f, pattern.data(), pattern.size()), 100000);
    EXPECT_TRUE(FileFlush(f));
    EXPECT_EQ(FileSize(f), 100000);
    FileClose(f);

    std::vector<uint8_t> expected = pattern;
    f = FileOpen(path.c_str(), FileMode::ReadWrite);
    ASSERT_NE(f, kNoFile);
    std::vector<uint8_t> back(110000);
    EXPECT_EQ(FileRead(f, back.data(), 16), 16);
    EXPECT_EQ(FileReadAt(f, back.data() + 16, 16, 2000), 16);  // leaves the position alone
    EXPECT_TRUE(std::equal(back.begin() + 16, back.begin() + 32, pattern.begin() + 2000));
    const uint8_t patch[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    ASSERT_EQ(FileWriteAt(f, patch, 4, 3000), 4);
    std::copy(patch, patch + 4, expected.begin() + 3000);
    EXPECT_EQ(FileRead(f, back.data() + 16, 109984), 99984) << "short at the end";
    back.resize(100000);
    EXPECT_EQ(back, expected);
    EXPECT_EQ(FileRead(f, back.data(), 10), 0);
    EXPECT_EQ(FileReadAt(f, back.data(), 16, 99990), 10);
    EXPECT_EQ(FileReadAt(f, back.data(), 16, 200000), 0);
    FileClose(f);
    f = FileOpen(path.c_str(), FileMode::Read);
    EXPECT_EQ(FileWrite(f, patch, 1), -1) << "opened for reading only";
    FileClose(f);
    f = FileOpen(path.c_str(), FileMode::Create);
    EXPECT_EQ(FileSize(f), 0) << "create truncates";
    FileClose(f);

    const std::string inMissing = dir.PathOf("missing") + PathSeparator() + "x";
    EXPECT_EQ(FileOpen(dir.PathOf("missing").c_str(), FileMode::Read), kNoFile);
    EXPECT_EQ(FileOpen(dir.PathOf("missing").c_str(), FileMode::ReadWrite), kNoFile);
    EXPECT_EQ(FileOpen(dir.Path().c_str(), FileMode::Read), kNoFile);
    EXPECT_EQ(FileOpen(inMissing.c_str(), FileMode::Create), kNoFile);
}

#if !defined(_WIN32)
// The kernel's own count of 512-byte sectors in /sys/block is the oracle for
// a block device's size.
TEST_F(FileTest, BlockDeviceSizeComesFromTheDevice)
{
    struct Devices {
        std::vector<std::string> names;
    } devices;
    ListDir("/sys/block", [](const DirEntry& e, void* c) {
        static_cast<Devices*>(c)->names.push_back(e.name);
        return true;
    }, &devices);
    int checked = 0;
    for (const std::string& name : devices.names) {
        FileHandle f = FileOpen(("/dev/" + name).c_str(), FileMode::Read);
        if (f == kNoFile) continue;
        std::string sectors = FileText("/sys/block/" + name + "/size");
        int64_t size = FileSize(f);
        FileClose(f);
        if (sectors.empty()) continue;
        EXPECT_EQ(size, std::stoll(sectors) * 512) << name;
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no block device can be opened here";
}
#endif

TEST_F(FileTest, RenameDeleteWritableAndModifiedTime)
{
    std::string a = dir.WriteFile("a.txt", Bytes("alpha"));
    std::string b = dir.WriteFile("b.txt", Bytes("beta"));
    std::string c = dir.PathOf("c.txt");
    EXPECT_FALSE(FileRename(a.c_str(), b.c_str())) << "the target exists";
    EXPECT_EQ(FileText(b), "beta");
    EXPECT_TRUE(FileRename(a.c_str(), c.c_str()));
    EXPECT_FALSE(FileExists(a.c_str()));
    EXPECT_EQ(FileText(c), "alpha");

    EXPECT_TRUE(FileIsWritable(c.c_str()));
    EXPECT_FALSE(FileIsWritable(a.c_str()));

    const int64_t when = 1700000000;  // 2023-11-14 22:13:20 UTC
    ASSERT_TRUE(FileSetModifiedTime(c.c_str(), when));
    Listing listing;
    ASSERT_TRUE(ListDir(dir.Path().c_str(), Collect, &listing));
    const DirEntry* entry = Find(listing, "c.txt");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->modified, when);
    EXPECT_FALSE(FileSetModifiedTime(a.c_str(), when));

    EXPECT_TRUE(FileDelete(c.c_str()));
    EXPECT_FALSE(FileDelete(c.c_str()));
}

// ---- names ----------------------------------------------------------------------------

TEST(NameConversion, EveryByteSurvivesTheRoundTripInABufferLargeEnough)
{
    std::string all;
    for (int c = 1; c <= 0xFF; ++c) {
        char ansi[2] = {static_cast<char>(c), 0};
        char native[8], back[8];
        ASSERT_TRUE(AnsiToNative(ansi, native, sizeof native)) << c;
        ASSERT_TRUE(NativeToAnsi(native, back, sizeof back)) << c;
        EXPECT_STREQ(back, ansi) << "byte " << c;
        all += static_cast<char>(c);
    }
    char native[1024], back[300];
    ASSERT_TRUE(AnsiToNative(all.c_str(), native, sizeof native));
    ASSERT_TRUE(NativeToAnsi(native, back, sizeof back));
    EXPECT_EQ(back, all);
    // A buffer too small fails, but stays terminated.
    char out[4] = {'X', 'X', 'X', 'X'};
    EXPECT_FALSE(AnsiToNative("abcdef", out, sizeof out));
    EXPECT_EQ(out[3], 0);
    EXPECT_FALSE(NativeToAnsi("abcdef", out, sizeof out));
    EXPECT_EQ(out[3], 0);
    EXPECT_TRUE(NativeToAnsi("abc", out, sizeof out));
    EXPECT_STREQ(out, "abc");
}

#if !defined(_WIN32)
// The C library's converter knows Windows-1252 too: every byte it defines
// must come out the same. It knows nothing of the five undefined ones, which
// travel as the C1 controls of the same value.
TEST(NameConversion, AgreesWithTheCLibrarysWindows1252)
{
    iconv_t cd = iconv_open("UTF-8", "CP1252");
    if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no CP1252 converter";
    int compared = 0;
    for (int c = 0x01; c <= 0xFF; ++c) {
        char in[2] = {static_cast<char>(c), 0};
        char expected[8] = {};
        char* inp = in;
        size_t inLeft = 1;
        char* outp = expected;
        size_t outLeft = sizeof expected - 1;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char ours[8];
        ASSERT_TRUE(AnsiToNative(in, ours, sizeof ours));
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1)) {
            EXPECT_TRUE(c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) << c;
            const char c1[3] = {static_cast<char>(0xC2), static_cast<char>(c), 0};
            EXPECT_STREQ(ours, c1) << c;
            continue;
        }
        EXPECT_STREQ(ours, expected) << c;
        ++compared;
    }
    iconv_close(cd);
    EXPECT_EQ(compared, 250);
}

TEST(NameConversion, WhatWindows1252CannotHoldBecomesAQuestionMark)
{
    const std::pair<const char*, const char*> cases[] = {
        {"\xCE\xA9mega \xE2\x82\xAC \xF0\x9F\x98\x80!", "?mega \x80 ?!"},  // Omega, euro, emoji
        // Bytes that are no UTF-8 (a Latin-1 name, an overlong slash, a cut
        // sequence, a surrogate) turn into one '?' each.
        {"caf\xE9", "caf?"},
        {"\xC0\xAF", "??"},
        {"a\xE2\x82", "a??"},
        {"\xED\xA0\x80", "???"},
        {"\xC2\x80\xC2\x81", "?\x81"},  // C1 controls other than the five have no Windows-1252 byte
    };
    for (const auto& [native, ansi] : cases) {
        char out[32];
        ASSERT_TRUE(NativeToAnsi(native, out, sizeof out)) << native;
        EXPECT_STREQ(out, ansi);
    }
}
#endif

// ---- time ------------------------------------------------------------------

TEST(LocalTime, DosDateAndTimeInUtc)
{
    ScopedTimeZone zone("UTC0");
    if (!zone.Active()) GTEST_SKIP() << zone.Why();
    EXPECT_EQ(LocalDosDateTime(1700000000), 0x576EB1AAu);   // 2023-11-14 22:13:20
    EXPECT_EQ(LocalDosDateTime(1700000001), 0x576EB1AAu);   // two-second steps
    EXPECT_EQ(LocalDosDateTime(315532800), 0x00210000u);    // 1980-01-01 00:00:00, the first
    EXPECT_EQ(LocalDosDateTime(315532799), 0u);             // 1979
    EXPECT_EQ(LocalDosDateTime(4354819199), 0xFF9FBF7Du);   // 2107-12-31 23:59:58, the last
    EXPECT_EQ(LocalDosDateTime(4354819200), 0u);            // 2108
    EXPECT_EQ(LocalDosDateTime(-2082819600), 0u);
}

#if !defined(_WIN32)
TEST(LocalTime, FollowsTheZonesDaylightSaving)
{
    ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(LocalDosDateTime(1719835200), 0x58E14000u);  // 2024-07-01 12:00 UTC is 08:00 EDT
    EXPECT_EQ(LocalDosDateTime(1705320000), 0x582F3800u);  // 2024-01-15 12:00 UTC is 07:00 EST
    EXPECT_EQ(LocalDosDateTime(315532800), 0u) << "1979-12-31 19:00 local";
}

// Instants and the local clock's readings of them, in zones east and west,
// with half-hour offsets and daylight saving both ways round the year.
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
    for (const int64_t extreme : {INT64_MIN, INT64_MAX, int64_t{0}}) {
        EXPECT_GT(LocalWallToUnix(LocalWallToUnix(extreme)), INT64_MIN);
        EXPECT_LT(UnixToLocalWall(UnixToLocalWall(extreme)), INT64_MAX);
    }
}
#endif

}  // namespace
