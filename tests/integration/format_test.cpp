// quaylink-cli format against hfsutils: it mounts, fills and reads back
// what we format; every volume size hformat makes opens writable at its
// full size.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "support/hfsutils_driver.h"
#include "support/run_command.h"
#include "support/temp_image.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kDisketteBytes = 1474560;

#ifdef QUAYLINK_CLI_PATH
const char* const kCli = QUAYLINK_CLI_PATH;
#else
const char* const kCli = nullptr;
#endif

CommandResult Cli(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{kCli};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, CommandOptions{{{"TZ", "UTC"}}, "", ""});
}

// 1448448 -> "1,448,448"
std::string WithThousands(uint64_t n)
{
    std::string digits = std::to_string(n);
    for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
    return digits;
}

class FormatCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (kCli == nullptr) GTEST_SKIP() << "quaylink-cli is not built";
    }
    TempDir dir;
};

class FormatOracleTest : public FormatCliTest {
protected:
    void SetUp() override
    {
        FormatCliTest::SetUp();
        if (IsSkipped()) return;
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
    }
};

// hfsutils mounts a copy of the result, names it and counts 2829 free blocks.
TEST_F(FormatOracleTest, HfsutilsMountsTheVolumeWithTheExpectedFreeSpace)
{
    const std::string image = dir.PathOf("fresh.img");
    ASSERT_EQ(Cli({"format", image, "Oracle Disk"}).exitCode, 0);
    const Bytes formatted = ReadFileBytes(image);

    HfsUtils hfs;
    ASSERT_TRUE(hfs.MountCopy(image)) << hfs.LastError();
    const CommandResult vol = hfs.Run("hvol", {});
    ASSERT_EQ(vol.exitCode, 0) << vol.err;
    EXPECT_NE(vol.out.find("Volume name is \"Oracle Disk\""), std::string::npos) << vol.out;
    EXPECT_NE(vol.out.find("Volume has 1448448 bytes free"), std::string::npos) << vol.out;

    HlsTree tree;
    ASSERT_TRUE(hfs.List(&tree)) << hfs.LastError();
    ASSERT_EQ(tree[":"].size(), 1u);
    const HlsEntry& desktop = tree[":"][0];
    EXPECT_EQ(desktop.name, "Desktop");
    EXPECT_TRUE(desktop.invisible);
    EXPECT_EQ(desktop.cnid, 16u);
    EXPECT_EQ(desktop.rsrcLength, 286u);
    EXPECT_EQ(desktop.dataLength, 0u);

    EXPECT_EQ(ReadFileBytes(image), formatted);  // the tools only saw a copy
}

// The "YYYY-MM-DD HH:MM" of a line "Volume was created on Mon Dec  7 00:50:27 2026"
// of hvol (in the C locale), or of our "Created: 2026-12-07 00:50:27".
std::string CreatedMinute(const std::string& text, bool hvol)
{
    const char* const tag = hvol ? "Volume was created on " : "Created: ";
    const size_t at = text.find(tag);
    if (at == std::string::npos) return "none in: " + text;
    const std::string rest = text.substr(at + std::strlen(tag));
    if (!hvol) return rest.substr(0, 16);
    char month[4] = {};
    int day = 0, hour = 0, minute = 0, second = 0, year = 0;
    if (std::sscanf(rest.c_str(), "%*3s %3s %d %d:%d:%d %d", month, &day, &hour, &minute, &second, &year) != 6)
        return "unreadable: " + rest;
    const int number = static_cast<int>(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(month)) / 3 + 1;
    char out[40];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d", year, number, day, hour, minute);
    return out;
}

TEST_F(FormatOracleTest, VolumeDatesAgreeWithHfsutilsInEveryZone)
{
    for (const char* zone : {"UTC0", "IST-5:30", "EST5EDT,M3.2.0,M11.1.0", "ACST-9:30ACDT,M10.1.0,M4.1.0/3"}) {
        const CommandOptions env{{{"TZ", zone}, {"HOME", dir.Path()}, {"LC_ALL", "C"}}, "", ""};
        const std::string ours = dir.PathOf("ours.img");
        const std::string theirs = dir.WriteFile("theirs.img", Bytes(kDisketteBytes, 0));
        fs::remove(ours);
        ASSERT_EQ(RunCommand({kCli, "format", ours, "Ours"}, env).exitCode, 0) << zone;
        ASSERT_EQ(RunCommand({"hformat", "-l", "Theirs", theirs}, env).exitCode, 0) << zone;
        for (const std::string& image : {ours, theirs}) {
            const CommandResult info = RunCommand({kCli, "info", image}, env);
            ASSERT_EQ(info.exitCode, 0) << info.err;
            // libhfs writes to what it mounts: it gets a copy.
            const std::string copy = dir.WriteFile("copy.img", ReadFileBytes(image));
            ASSERT_EQ(RunCommand({"hmount", copy}, env).exitCode, 0) << zone;
            const CommandResult vol = RunCommand({"hvol"}, env);
            ASSERT_EQ(vol.exitCode, 0) << vol.err;
            EXPECT_EQ(CreatedMinute(info.out, false), CreatedMinute(vol.out, true)) << zone << " " << image;
        }
    }
}

// hfsutils fills the new volume until it refuses; we then read every file back.
TEST_F(FormatOracleTest, HfsutilsFillsTheVolumeAndWeReadWhatItWrote)
{
    const std::string image = dir.PathOf("fill.img");
    ASSERT_EQ(Cli({"format", image, "Filled"}).exitCode, 0);
    HfsUtils hfs;
    ASSERT_TRUE(hfs.Mount(image)) << hfs.LastError();  // our own scratch image: the tools may write

    // 100 KB files, each different, until the disk is full.
    constexpr size_t kFileSize = 100 * 1024;
    std::vector<std::string> names;
    for (unsigned i = 0; i < 20; ++i) {
        const std::string name = "File" + std::to_string(i);
        const std::string local = dir.WriteFile(name, PatternBytes(kFileSize, 100 + i));
        if (!hfs.PutRaw(local, ":" + name)) break;
        names.push_back(name);
    }
    // 2829 free blocks of 512 bytes hold 14 such files (200 blocks each) but not 15.
    ASSERT_EQ(names.size(), 14u) << hfs.LastError();
    // The failed copy leaves a partial file behind; whatever hfsutils counts
    // as free afterwards, we must count too.
    const CommandResult vol = hfs.Run("hvol", {});
    const size_t at = vol.out.find("Volume has ");
    ASSERT_NE(at, std::string::npos) << vol.out;
    const uint64_t freeBytes = std::stoull(vol.out.substr(at + 11));
    ASSERT_EQ(hfs.Run("humount", {}).exitCode, 0);
    const CommandResult info = Cli({"info", image});
    EXPECT_NE(info.out.find("Free: " + WithThousands(freeBytes) + " bytes"), std::string::npos)
        << info.out << vol.out;

    const CommandResult ls = Cli({"ls", image});
    ASSERT_EQ(ls.exitCode, 0) << ls.err;
    for (unsigned i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_NE(ls.out.find(names[i]), std::string::npos) << ls.out;
        const std::string copy = dir.PathOf("back" + std::to_string(i));
        const CommandResult cat = RunCommand({kCli, "cat", image, names[i]}, CommandOptions{{}, "", copy});
        ASSERT_EQ(cat.exitCode, 0) << cat.err;
        EXPECT_EQ(ReadFileBytes(copy), PatternBytes(kFileSize, 100 + i));
    }
}

// Formatting over a volume hfsutils made leaves one hfsutils sees as ours.
TEST_F(FormatOracleTest, FormattingOverAnotherVolumeReplacesIt)
{
    const std::string image = dir.PathOf("reused.img");
    {
        HfsUtils maker;
        ASSERT_TRUE(maker.Format(image, "Old Volume", kDisketteBytes)) << maker.LastError();
        ASSERT_TRUE(maker.Mkdir(":Stuff")) << maker.LastError();
        ASSERT_EQ(maker.Run("humount", {}).exitCode, 0);
    }
    ASSERT_EQ(Cli({"format", image, "New Volume"}).exitCode, 0);
    HfsUtils hfs;
    ASSERT_TRUE(hfs.MountCopy(image)) << hfs.LastError();
    const CommandResult vol = hfs.Run("hvol", {});
    EXPECT_NE(vol.out.find("Volume name is \"New Volume\""), std::string::npos) << vol.out;
    EXPECT_NE(vol.out.find("Volume has 1448448 bytes free"), std::string::npos) << vol.out;
    HlsTree tree;
    ASSERT_TRUE(hfs.List(&tree)) << hfs.LastError();
    EXPECT_EQ(tree.size(), 1u);  // the root only: the old folder is gone
}

std::vector<uint64_t> SweepSizesKb()
{
    std::vector<uint64_t> kb{800, 1000, 1440, 3333, 4097, 76000, 131071, 200000, 262145, 400000, 1000000, 1048576};
    for (uint64_t s = 1; s <= 32; ++s) kb.push_back((s * 65536 - 32768) / 2 + 2 * s + 1);
    const char* longRun = std::getenv("QUAYLINK_LONG");
    if (longRun && std::strcmp(longRun, "1") == 0)
        for (uint64_t k = 1024; k <= 1048576; k += 7919) kb.push_back(k);
    return kb;
}

TEST(HformatSweep, EveryVolumeOpensWritableAtItsFullSizeAndStaysConsistent)
{
    if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
    TempDir dir;
    const std::string source = dir.WriteFile("note.txt", PatternBytes(3000, 7));
    std::set<uint32_t> blockSizes;
    for (const uint64_t kb : SweepSizesKb()) {
        SCOPED_TRACE(std::to_string(kb) + " KB");
        const std::string image = dir.PathOf("sweep.img");
        HfsUtils hfs;
        ASSERT_TRUE(hfs.Format(image, "Sweep", kb * 1024)) << hfs.LastError();
        std::ifstream file(image, std::ios::binary);
        uint8_t mdb[512] = {};
        file.seekg(1024);
        file.read(reinterpret_cast<char*>(mdb), sizeof mdb);
        blockSizes.insert((uint32_t{mdb[20]} << 24 | uint32_t{mdb[21]} << 16 | uint32_t{mdb[22]} << 8 | mdb[23]) / 512);

        const CommandResult put = Cli({"put", image, source, "--as", "data"});
        EXPECT_EQ(put.exitCode, 0) << put.err;
        const CommandResult mkdir = Cli({"mkdir", image, ":Folder"});
        EXPECT_EQ(mkdir.exitCode, 0) << mkdir.err;
        const CommandResult check = Cli({"check", image});
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
        const CommandResult info = Cli({"info", image});
        EXPECT_NE(info.out.find("(" + std::to_string(kb * 2) + " blocks of 512 bytes)"), std::string::npos) << info.out;

        HlsTree tree;
        ASSERT_TRUE(hfs.Mount(image) && hfs.List(&tree)) << hfs.LastError();
        std::vector<std::string> root;
        for (const HlsEntry& e : tree[":"]) root.push_back(e.name + " " + std::to_string(e.dataLength));
        EXPECT_EQ(root, (std::vector<std::string>{"Folder 0", "note.txt 3000"}));
    }
    for (uint32_t s = 1; s <= 32; ++s) EXPECT_TRUE(blockSizes.count(s)) << s << " x 512-byte allocation blocks";
}

}  // namespace
