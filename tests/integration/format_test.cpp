// `quaylink-cli format` against the peer tools: hfsutils mounts what we
// format, reports its free space and fills it, and our own read side lists
// the new volume and what hfsutils put on it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
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

TEST_F(FormatCliTest, AMissingImageIsCreatedAndFormatted)
{
    const std::string image = dir.PathOf("new disk.img");
    const CommandResult r = Cli({"format", image, "Fresh"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(fs::file_size(image), kDisketteBytes);
    EXPECT_NE(r.out.find("created"), std::string::npos) << r.out;

    // Our read side: an empty root (the Desktop file is invisible) and the label.
    const CommandResult ls = Cli({"ls", image});
    EXPECT_EQ(ls.exitCode, 0) << ls.err;
    EXPECT_EQ(ls.out, "");
    const CommandResult all = Cli({"ls", image, "-a"});
    EXPECT_NE(all.out.find("Desktop"), std::string::npos) << all.out;
    const CommandResult info = Cli({"info", image});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("Volume: Fresh\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Free: 1,448,448 bytes (2829 allocation blocks)"), std::string::npos) << info.out;
}

TEST_F(FormatCliTest, AnImageOfAnotherSizeIsRefusedAndLeftAlone)
{
    for (uint64_t size : {kDisketteBytes - 512, kDisketteBytes + 512, uint64_t{819200}, uint64_t{0}}) {
        SCOPED_TRACE(size);
        const std::string image = dir.WriteFile("other.img", PatternBytes(size, 3));
        const CommandResult r = Cli({"format", image, "Nope"});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("1.44 MB"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Function not supported on this device"), std::string::npos) << r.err;
        EXPECT_EQ(ReadFileBytes(image), PatternBytes(size, 3));
    }
}

TEST_F(FormatCliTest, BadLabelsAndMissingArgumentsAreRefusedBeforeAnythingIsWritten)
{
    const std::string image = dir.PathOf("never.img");
    for (const std::string& label : {std::string(""), std::string("Disk:One"), std::string(28, 'x')}) {
        SCOPED_TRACE(label);
        const CommandResult r = Cli({"format", image, label});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("Could not create file/folder"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(image));
    }
    EXPECT_EQ(Cli({"format", image}).exitCode, 1);
    EXPECT_FALSE(fs::exists(image));
}

TEST_F(FormatCliTest, AReadOnlyImageIsRefused)
{
    const std::string image = dir.WriteFile("locked.img", Bytes(kDisketteBytes, 0));
    fs::permissions(image, fs::perms::owner_read, fs::perm_options::replace);
    if (std::FILE* probe = std::fopen(image.c_str(), "r+b")) {
        std::fclose(probe);
        GTEST_SKIP() << "running with rights that ignore file permissions";
    }
    const CommandResult r = Cli({"format", image, "Locked"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Mac volume is read only"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(image), Bytes(kDisketteBytes, 0));
}

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

// Mac dates are the local clock's readings, as hfsutils keeps them: in zones
// east and west of UTC, with half-hour offsets and daylight saving, `hvol`
// and our `info` show the same creation time on the volume each side formats.
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

}  // namespace
