// quaylink-cli get -r and put -r as whole commands: trees and filters
// checked by hfsutils, a folder of 5,000 files, the progress line on a
// terminal and -q, and Ctrl-C during a copy.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/hfsutils_driver.h"
#include "support/run_command.h"
#include "support/temp_image.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class CliTreeCopyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
        image = dir.PathOf("v.img");
        ASSERT_TRUE(hfs.Format(image, "Trees", 32 << 20)) << hfs.LastError();
    }
    static CommandResult Cli(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{"timeout", "300", QUAYLINK_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunCommand(argv);
    }
    void ExpectChecked() const
    {
        const CommandResult r = Cli({"check", image});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    }
    // src/<folder>/<n> for n < count, each file `size` bytes of its own pattern.
    std::map<std::string, Bytes> MakePcTree(const std::string& root, int folders, int perFolder, size_t size)
    {
        std::map<std::string, Bytes> files;
        for (int f = 0; f < folders; ++f) {
            fs::create_directories(pc.PathOf(root + "/d" + std::to_string(f)));
            for (int n = 0; n < perFolder; ++n) {
                const std::string name = "d" + std::to_string(f) + "/f" + std::to_string(n) + ".txt";
                files[name] = PatternBytes(size, static_cast<uint32_t>(f * 10000 + n));
                pc.WriteFile(root + "/" + name, files[name]);
            }
        }
        return files;
    }
    static std::map<std::string, Bytes> PcTree(const std::string& root)
    {
        std::map<std::string, Bytes> out;
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file()) out[fs::relative(e.path(), root).string()] = ReadFileBytes(e.path().string());
        return out;
    }

    TempDir dir;
    TempDir pc;
    HfsUtils hfs;
    std::string image;
};

// A tree put and got back, whole and through each filter; hfsutils sees
// what was put, and the copy back equals the source.
TEST_F(CliTreeCopyTest, TreesBothWaysWithFilters)
{
    auto files = MakePcTree("src", 3, 4, 3000);
    pc.WriteFile("src/d0/notes.MD", {1, 2, 3});
    pc.WriteFile("src/d1/plain", {4});
    files["d0/notes.MD"] = {1, 2, 3};
    files["d1/plain"] = {4};
    CommandResult r = Cli({"put", "-r", image, pc.PathOf("src"), "--type", "TEXT", "--creator", "ttxt"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ExpectChecked();
    ASSERT_TRUE(hfs.Mount(image));
    for (const auto& [path, bytes] : files) {
        std::string mac = ":src:" + path;
        std::replace(mac.begin(), mac.end(), '/', ':');
        Bytes got;
        ASSERT_TRUE(hfs.GetRaw(mac, &got)) << hfs.LastError();
        EXPECT_EQ(got, bytes) << mac;
    }

    struct Case {
        std::vector<std::string> filter;
        size_t copied;
    };
    const Case cases[] = {{{}, files.size()},
                          {{"--ext", "txt"}, 12},
                          {{"--type", "TEXT", "--creator", "ttxt"}, files.size()},
                          {{"--type", "TEXT", "--ext", "md"}, 1},
                          {{"--creator", "XXXX"}, 0}};
    int n = 0;
    for (const Case& c : cases) {
        const std::string out = pc.PathOf("out" + std::to_string(n++));
        fs::create_directory(out);
        std::vector<std::string> args{"get", "-r", image, ":src", "-o", out, "-q"};
        args.insert(args.end(), c.filter.begin(), c.filter.end());
        r = Cli(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto got = PcTree(out);
        EXPECT_EQ(got.size(), c.copied);
        for (const auto& [path, bytes] : got) EXPECT_EQ(bytes, files.at(fs::relative(path, "src").string())) << path;
        if (c.copied == 0) {
            EXPECT_NE(r.err.find("No files marked!"), std::string::npos);
        }
    }
    // The PC filter; a folder without -r stays an error.
    r = Cli({"put", "-r", image, pc.PathOf("src/d0"), "--to", ":src:d1", "--ext", "md"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Cli({"ls", image, ":src:d1:d0"});
    EXPECT_NE(r.out.find("notes.MD"), std::string::npos);
    EXPECT_EQ(r.out.find("f0.txt"), std::string::npos);
    EXPECT_EQ(Cli({"put", image, pc.PathOf("src")}).exitCode, 2);
    EXPECT_EQ(Cli({"get", image, ":src", "-o", pc.Path()}).exitCode, 2);
    ExpectChecked();
}

// 5,000 files in one folder, both ways.
TEST_F(CliTreeCopyTest, FolderOfFiveThousandFiles)
{
    const auto files = MakePcTree("big", 1, 5000, 10);
    CommandResult r = Cli({"put", "-r", image, pc.PathOf("big/d0"), "-q"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ExpectChecked();
    const std::string out = pc.PathOf("out");
    fs::create_directory(out);
    r = Cli({"get", "-r", image, ":d0", "-o", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(PcTree(out).size(), 5000u);
    EXPECT_EQ(ReadFileBytes(out + "/d0/f4999.txt"), files.at("d0/f4999.txt"));
}

// On a terminal the progress line shows and -q silences it; off a terminal
// nothing shows.
TEST_F(CliTreeCopyTest, ProgressLineOnATerminalOnly)
{
    if (!ProgramAvailable("script")) GTEST_SKIP() << "script (util-linux) is not installed";
    MakePcTree("src", 2, 3, 100000);
    const std::string put = std::string(QUAYLINK_CLI_PATH) + " put -r " + image + " " + pc.PathOf("src");
    CommandResult r = RunCommand({"script", "-qec", put, "/dev/null"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Copying from PC to Mac: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/6 files"), std::string::npos) << r.out;
    fs::create_directory(pc.PathOf("out"));
    r = RunCommand({"script", "-qec", std::string(QUAYLINK_CLI_PATH) + " get -r -q " + image + " :src -o " +
                                          pc.PathOf("out"),
                    "/dev/null"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out.find("Copying"), std::string::npos) << r.out;
    r = Cli({"get", "-r", image, ":src", "-o", pc.PathOf("out"), "--overwrite"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

// SIGINT while a copy runs: exit status 2 and "Cancelled", no partial PC
// file, and a volume that passes the check holding whole files only.
TEST_F(CliTreeCopyTest, InterruptStopsACopy)
{
    const auto files = MakePcTree("src", 4, 250, 20000);
    // Runs `command` in the background, sends SIGINT once `probe` prints
    // something, and answers "status N" and what the command said.
    auto interrupted = [&](const std::string& command, const std::string& probe, const char* delay) {
        const std::string err = pc.PathOf("err");
        return RunShell(command + " 2>" + err + " & pid=$!\n" +
                        "for i in $(seq 1 600); do [ -n \"$(" + probe + ")\" ] && break; sleep 0.05; done\n" +
                        "sleep " + delay + "; kill -INT $pid; wait $pid; echo \"status $?\"; cat " + err);
    };
    const std::string cli = QUAYLINK_CLI_PATH;
    const std::string marker = pc.WriteFile("marker", {});
    // The first file flushed to the image changes its time.
    CommandResult r = interrupted(cli + " put -r " + image + " " + pc.PathOf("src"),
                                  "find " + image + " -newer " + marker, "0.1");
    EXPECT_NE(r.out.find("status 2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Cancelled"), std::string::npos) << r.out;
    ExpectChecked();
    ASSERT_TRUE(hfs.Mount(image));
    HlsTree tree;
    ASSERT_TRUE(hfs.List(&tree));
    size_t present = 0;
    for (const auto& [folder, entries] : tree)
        for (const HlsEntry& e : entries) {
            if (e.folder) continue;
            ++present;
            EXPECT_EQ(e.dataLength, 20000u) << folder << ":" << e.name;
        }
    EXPECT_GT(present, 0u);
    EXPECT_LT(present, files.size());

    const std::string out = pc.PathOf("out");
    fs::create_directory(out);
    r = interrupted(cli + " get -r " + image + " :src -o " + out, "ls " + out + "/src/d0 2>/dev/null", "0");
    EXPECT_NE(r.out.find("status 2"), std::string::npos) << r.out;
    const auto got = PcTree(out);
    EXPECT_LT(got.size(), present);
    for (const auto& [path, bytes] : got) EXPECT_EQ(bytes, files.at(fs::relative(path, "src").string())) << path;
}

}  // namespace
