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

#include "hfs/bytes.h"
#include "support/hfsutils_driver.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

CommandResult Cli(const std::vector<std::string>& args, const std::string& outFile = "")
{
    std::vector<std::string> argv{QUAYLINK_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, CommandOptions{{{"TZ", "UTC"}}, "", outFile});
}

class FormatOracleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
    }
    TempDir dir;
};

// Over a volume hfsutils made: hfsutils then sees ours, named, with 2829
// free blocks and nothing but the Desktop file.
TEST_F(FormatOracleTest, FormattingOverAnotherVolumeLeavesOneHfsutilsReads)
{
    const std::string image = dir.PathOf("reused.img");
    {
        HfsUtils maker;
        ASSERT_TRUE(maker.Format(image, "Old Volume", 1474560) && maker.Mkdir(":Stuff")) << maker.LastError();
        ASSERT_EQ(maker.Run("humount", {}).exitCode, 0);
    }
    ASSERT_EQ(Cli({"format", image, "New Volume"}).exitCode, 0);
    HfsUtils hfs;
    ASSERT_TRUE(hfs.MountCopy(image)) << hfs.LastError();
    const CommandResult vol = hfs.Run("hvol", {});
    EXPECT_NE(vol.out.find("Volume name is \"New Volume\""), std::string::npos) << vol.out;
    EXPECT_EQ(hfs.FreeBytes(), 1448448u) << vol.out;
    HlsTree tree;
    ASSERT_TRUE(hfs.List(&tree)) << hfs.LastError();
    EXPECT_EQ(tree.size(), 1u);  // the root only: the old folder is gone
    ASSERT_EQ(tree[":"].size(), 1u);
    const HlsEntry& desktop = tree[":"][0];
    EXPECT_EQ(desktop.name, "Desktop");
    EXPECT_TRUE(desktop.invisible);
    EXPECT_EQ(desktop.cnid, 16u);
    EXPECT_EQ(desktop.rsrcLength, 286u);
    EXPECT_EQ(desktop.dataLength, 0u);
}

// The "YYYY-MM-DD HH:MM" of hvol's "Volume was created on Mon Dec  7 00:50:27 2026"
// (in the C locale), or of our "Created: 2026-12-07 00:50:27".
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
        const std::string theirs = dir.WriteFile("theirs.img", Bytes(1474560, 0));
        fs::remove(ours);
        ASSERT_EQ(RunCommand({QUAYLINK_CLI_PATH, "format", ours, "Ours"}, env).exitCode, 0) << zone;
        ASSERT_EQ(RunCommand({"hformat", "-l", "Theirs", theirs}, env).exitCode, 0) << zone;
        for (const std::string& image : {ours, theirs}) {
            const CommandResult info = RunCommand({QUAYLINK_CLI_PATH, "info", image}, env);
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
        uint8_t mdb[24] = {};
        file.seekg(1024).read(reinterpret_cast<char*>(mdb), sizeof mdb);
        blockSizes.insert(GetU32(mdb + 20) / 512);
        for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
                 {"put", image, source, "--as", "data"}, {"mkdir", image, ":Folder"}, {"check", image}}) {
            const CommandResult r = Cli(args);
            EXPECT_EQ(r.exitCode, 0) << args[0] << ": " << r.out << r.err;
        }
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
