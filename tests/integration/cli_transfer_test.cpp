// quaylink-cli get and put against hfsutils: byte-for-byte round trips,
// collision policies, PC-side safety and writers that take turns.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "disk/image_drive.h"
#include "support/hfsutils_driver.h"
#include "support/macbinary_file.h"
#include "support/run_command.h"
#include "support/sha256.h"
#include "support/temp_image.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

class CliTransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
        image = dir.PathOf("v.img");
        ASSERT_TRUE(hfs.Format(image, "Transfer", 1474560)) << hfs.LastError();
        ASSERT_TRUE(fs::create_directory(pcIn.Path() + "/sub"));
    }

    static CommandResult Cli(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{QUAYLINK_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunCommand(argv);
    }
    // The same for commands that could block: a command still running after
    // 30 s is stopped and answers 124.
    static CommandResult CliWithin(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{"timeout", "30", QUAYLINK_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunCommand(argv);
    }
    void Ok(const std::vector<std::string>& args) const
    {
        const CommandResult r = Cli(args);
        EXPECT_EQ(r.exitCode, 0) << args[0] << ": " << r.err;
    }
    void ExpectChecked() const
    {
        const CommandResult r = Cli({"check", image});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    }
    Bytes HfsData(const std::string& hfsPath)
    {
        Bytes out;
        EXPECT_TRUE(hfs.GetRaw(hfsPath, &out)) << hfs.LastError();
        return out;
    }
    std::vector<std::string> RootNames()
    {
        HlsTree tree;
        EXPECT_TRUE(hfs.List(&tree)) << hfs.LastError();
        std::vector<std::string> names;
        for (const HlsEntry& e : tree[":"]) names.push_back(e.name);
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> PcOutNames() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(pcOut.Path())) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    HfsUtils hfs;
    TempDir dir;
    TempDir pcIn;
    TempDir pcOut;
    std::string image;
};

TEST_F(CliTransferTest, WhatWePutHcopyReadsBack)
{
    const std::vector<std::pair<std::string, size_t>> files = {
        {"empty", 0}, {"one", 1}, {"block", 512}, {"block+1", 513}, {"buffer.dat", 32768},
        {"big file.bin", 300001}, {"caf\xc3\xa9.txt", 77}};
    std::vector<std::string> args{"put", image};
    for (const auto& [name, size] : files) args.push_back(pcIn.WriteFile(name, PatternBytes(size, size + 1)));
    Ok(args);
    ExpectChecked();
    for (const auto& [name, size] : files) {
        const std::string macName = name == "caf\xc3\xa9.txt" ? "caf\x8e.txt" : name;  // Mac Roman e-acute
        EXPECT_EQ(HfsData(":" + macName), PatternBytes(size, size + 1)) << name;
    }
}

TEST_F(CliTransferTest, WhatHcopyPutWeGetBack)
{
    const std::vector<std::pair<std::string, size_t>> files = {
        {"zero", 0}, {"small", 100}, {"exact", 65536}, {"large", 400000}};
    for (const auto& [name, size] : files)
        ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile(name, PatternBytes(size, size + 7)), ":" + name)) << hfs.LastError();
    ASSERT_TRUE(hfs.Mkdir(":Folder"));
    ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile("inner", PatternBytes(5000, 3)), ":Folder:inner"));
    const std::string before = Sha256File(image);
    std::vector<std::string> args{"get", image, "-o", pcOut.Path()};
    for (const auto& [name, size] : files) args.push_back(name);
    args.push_back("Folder:inner");
    Ok(args);
    EXPECT_EQ(Sha256File(image), before) << "get wrote to the image";
    for (const auto& [name, size] : files) EXPECT_EQ(ReadFileBytes(pcOut.PathOf(name)), PatternBytes(size, size + 7));
    EXPECT_EQ(ReadFileBytes(pcOut.PathOf("inner")), PatternBytes(5000, 3));

    // A folder is not a file, and a relative image path works from anywhere.
    EXPECT_EQ(Cli({"get", image, "Folder", "-o", pcOut.Path()}).exitCode, 2);
    const CommandResult r = RunShell("cd '" + dir.Path() + "' && '" QUAYLINK_CLI_PATH "' get v.img small -o '" +
                                     pcIn.Path() + "/sub'");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(pcIn.Path() + "/sub/small"), PatternBytes(100, 107));
}

TEST_F(CliTransferTest, MacClashesFollowThePolicy)
{
    ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile("old", Text("old")), ":same"));
    ASSERT_TRUE(hfs.Mkdir(":Folder"));
    const std::string fresh = pcIn.WriteFile("fresh", Text("fresh"));
    const std::string same = pcIn.WriteFile("same", Text("new"));
    const std::string folder = pcIn.WriteFile("Folder", Text("file"));

    // No policy: nothing is written, not even the file without a clash.
    std::string before = Sha256File(image);
    CommandResult r = Cli({"put", image, fresh, same});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("same already exists"), std::string::npos) << r.err;
    EXPECT_EQ(Sha256File(image), before);
    r = Cli({"put", image, fresh, fresh});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(Sha256File(image), before);

    Ok({"put", image, same, "--skip"});
    EXPECT_EQ(HfsData(":same"), Text("old"));
    Ok({"put", image, same, "--rename"});
    Ok({"put", image, same, "--rename"});
    EXPECT_EQ(HfsData(":same"), Text("old"));
    EXPECT_EQ(HfsData(":same 1"), Text("new"));
    EXPECT_EQ(HfsData(":same 2"), Text("new"));
    Ok({"put", image, same, "--overwrite"});
    EXPECT_EQ(HfsData(":same"), Text("new"));

    // A folder is never overwritten by a file.
    before = Sha256File(image);
    r = Cli({"put", image, folder, "--overwrite"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("cannot overwrite the folder"), std::string::npos) << r.err;
    EXPECT_EQ(Sha256File(image), before);
    Ok({"put", image, folder, "--rename"});
    EXPECT_EQ(HfsData(":Folder 1"), Text("file"));
    EXPECT_EQ(RootNames(), (std::vector<std::string>{"Folder", "Folder 1", "same", "same 1", "same 2"}));
    ExpectChecked();
}

TEST_F(CliTransferTest, PcClashesFollowThePolicy)
{
    ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile("a", Text("mac")), ":Report.txt"));
    ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile("b", Text("other")), ":other"));
    const std::string existing = pcOut.WriteFile("Report.txt", Text("pc"));

    CommandResult r = Cli({"get", image, "other", "Report.txt", "-o", pcOut.Path()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Report.txt already exists"), std::string::npos) << r.err;
    EXPECT_EQ(PcOutNames(), std::vector<std::string>{"Report.txt"});
    // Many sources are checked against one read of the directory: the clash
    // is found all the same, last in line, and nothing is copied.
    std::vector<std::string> many{"get", image};
    for (int i = 0; i < 12; ++i) many.push_back("other");
    many.insert(many.end(), {"Report.txt", "-o", pcOut.Path()});
    r = Cli(many);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Report.txt already exists"), std::string::npos) << r.err;
    EXPECT_EQ(PcOutNames(), std::vector<std::string>{"Report.txt"});

    Ok({"get", image, "Report.txt", "-o", pcOut.Path(), "--skip"});
    EXPECT_EQ(ReadFileBytes(existing), Text("pc"));
    Ok({"get", image, "Report.txt", "-o", pcOut.Path(), "--rename"});
    Ok({"get", image, "Report.txt", "-o", pcOut.Path(), "--rename"});
    EXPECT_EQ(ReadFileBytes(pcOut.PathOf("Report0.txt")), Text("mac"));
    EXPECT_EQ(ReadFileBytes(pcOut.PathOf("Report1.txt")), Text("mac"));
    Ok({"get", image, "Report.txt", "-o", pcOut.Path(), "--overwrite"});
    EXPECT_EQ(ReadFileBytes(existing), Text("mac"));
    EXPECT_EQ(PcOutNames(), (std::vector<std::string>{"Report.txt", "Report0.txt", "Report1.txt"}));
}

TEST_F(CliTransferTest, SourcesThatLandOnOneNameNeverReplaceEachOther)
{
    ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile("m1", Text("slash")), ":x/y"));
    ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile("m2", Text("bar")), ":x|y"));
    ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile("m3", Text("old")), ":Taken"));
    const std::string longName(31, 'L');
    MacFileImage fresh;
    MacFileImage taken;
    fresh.name = "Fresh";
    taken.name = "Taken";
    const struct {
        std::vector<std::string> sources;
        std::string macName;  // what --overwrite leaves holding "first"; none: no --overwrite run
    } puts[] = {
        {{pcIn.WriteFile(longName + "-a", Text("first")), pcIn.WriteFile("sub/" + longName + "-b", Text("second"))},
         longName},
        {{pcIn.WriteFile("Case", Text("first")), pcIn.WriteFile("sub/CASE", Text("second"))}, "Case"},
        {{"--as", "macbinary", pcIn.WriteFile("fresh.bin", WriteMacBinary(fresh)),
          pcIn.WriteFile("taken.bin", WriteMacBinary(taken))},
         ""},
    };
    for (const auto& c : puts) {
        std::vector<std::string> args{"put", image};
        args.insert(args.end(), c.sources.begin(), c.sources.end());
        const std::string before = Sha256File(image);
        EXPECT_EQ(Cli(args).exitCode, 2) << c.sources.back();
        EXPECT_EQ(Sha256File(image), before) << c.sources.back();
        if (c.macName.empty()) continue;
        args.push_back("--overwrite");
        const CommandResult r = Cli(args);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_NE(r.err.find("an earlier source"), std::string::npos) << r.err;
        EXPECT_EQ(HfsData(":" + c.macName), Text("first"));
    }

    // get: x/y and x|y both become x_y.
    EXPECT_EQ(Cli({"get", image, "x/y", "x|y", "-o", pcOut.Path()}).exitCode, 2);
    EXPECT_TRUE(PcOutNames().empty());
    const CommandResult r = Cli({"get", image, "x/y", "x|y", "-o", pcOut.Path(), "--overwrite"});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_EQ(ReadFileBytes(pcOut.PathOf("x_y")), Text("slash"));
    ExpectChecked();
}

// A FIFO, a device or a link is refused at once (a hang fails by the
// timeout); "-" reads standard input.
TEST_F(CliTransferTest, SourcesAreRegularFilesOrStandardInput)
{
    const std::string fifo = pcIn.PathOf("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = pcIn.PathOf("link");
    fs::create_symlink(pcIn.WriteFile("target", Text("t")), link);
    MacFileImage encoded;
    encoded.name = "Encoded";
    encoded.data = Text("from a pipe");
    const std::vector<uint8_t> bin = WriteMacBinary(encoded);
    const struct {
        std::vector<std::string> args;
        std::string input;
        int exitCode;
        std::string macName;  // holds `data` afterwards
        std::string data;
        std::string said = {};  // in the error output
    } cases[] = {
        {{fifo}, "", 2, "", ""},
        {{"/dev/null"}, "", 2, "", ""},
        {{link}, "", 2, "", ""},
        {{"-", "--name", "From stdin"}, "piped", 0, "From stdin", "piped"},
        {{"-", "--as", "macbinary"}, std::string(bin.begin(), bin.end()), 0, "Encoded", "from a pipe"},
        {{"-"}, "no name", 1, "", ""},
        // More than twice the volume: refused once the copy passes that, not read on forever.
        {{"-", "--name", "Endless"}, std::string(2 * 1474560 + (2u << 20), 'z'), 2, "", "", "more than the volume"},
        {{"-", "-", "--name", "twice"}, "", 1, "", ""},
    };
    for (const auto& c : cases) {
        std::string script = "timeout 20 '" QUAYLINK_CLI_PATH "' put '" + image + "'";
        for (const std::string& arg : c.args) script += " '" + arg + "'";
        CommandOptions options;
        options.input = c.input;
        const CommandResult r = RunShell(script, options);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args[0] << ": " << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        if (!c.macName.empty()) {
            EXPECT_EQ(HfsData(":" + c.macName), Text(c.data));
        }
    }
    EXPECT_EQ(RootNames(), (std::vector<std::string>{"Encoded", "From stdin"}));
    ExpectChecked();
}

TEST_F(CliTransferTest, WritersStartedAtOnceTakeTurns)
{
    const Bytes base = ReadFileBytes(image);
    const std::string cli = QUAYLINK_CLI_PATH;
    const std::string first = pcIn.WriteFile("first", PatternBytes(300000, 1));
    const std::string second = pcIn.WriteFile("second", PatternBytes(250000, 2));
    const std::string script = "'" + cli + "' put '" + image + "' '" + first + "' & a=$!; '" + cli + "' put '" +
                               image + "' '" + second + "' & b=$!; '" + cli + "' check '" + image +
                               "' >/dev/null & c=$!; wait $a; echo $?; wait $b; echo $?; wait $c; echo $?";
    for (int round = 0; round < 30 && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        dir.WriteFile("v.img", base);
        const CommandResult r = RunShell(script);
        std::istringstream codes(r.out);
        int firstCode = -1, secondCode = -1, checkCode = -1;
        codes >> firstCode >> secondCode >> checkCode;
        EXPECT_EQ(firstCode, 0) << r.err;
        EXPECT_EQ(secondCode, 0) << r.err;
        EXPECT_EQ(checkCode, 0) << r.err;
        ExpectChecked();
        if (firstCode == 0) {
            EXPECT_EQ(HfsData(":first"), PatternBytes(300000, 1));
        }
        if (secondCode == 0) {
            EXPECT_EQ(HfsData(":second"), PatternBytes(250000, 2));
        }
    }
}

TEST_F(CliTransferTest, ImageHeldByAReader)
{
    const int slot = OpenImage(image.c_str(), 512, false);
    ASSERT_GE(slot, 0);
    const std::string before = Sha256File(image);
    EXPECT_EQ(Cli({"ls", image}).exitCode, 0);
    const CommandResult r = Cli({"mkdir", image, "Waited"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "quaylink-cli: the image is in use by another program: " + image + "\n");
    EXPECT_EQ(Sha256File(image), before);
    EXPECT_EQ(RootNames(), std::vector<std::string>{});
    EXPECT_FALSE(hfs.Mkdir(":Beside"));
    CloseImage(slot);
    Ok({"mkdir", image, "Waited"});
    EXPECT_TRUE(hfs.Mkdir(":Beside")) << hfs.LastError();
    EXPECT_EQ(RootNames(), (std::vector<std::string>{"Beside", "Waited"}));
}

TEST_F(CliTransferTest, FailedReplacementKeepsTheOldMacFile)
{
    const Bytes old = PatternBytes(300000, 4);
    ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile("old", old), ":same"));
    ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile("after", PatternBytes(100000, 5)), ":after"));
    // The BinHex file of another "same", made on a volume of its own.
    const std::string other = dir.PathOf("other.img");
    Ok({"format", other, "Other"});
    Ok({"put", other, pcOut.WriteFile("same", PatternBytes(300000, 6))});
    fs::remove(pcOut.PathOf("same"));
    Ok({"get", other, "same", "--as", "binhex", "-o", pcIn.Path() + "/sub"});
    Bytes hqx = ReadFileBytes(pcIn.Path() + "/sub/same.hqx");
    // The last character before the closing colon carries the resource
    // fork's CRC; its top bit is never padding.
    static const std::string kAlphabet = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
    size_t end = hqx.size() - 1;
    while (end > 0 && hqx[end] != ':') --end;
    size_t at = end - 1;
    while (at > 0 && (hqx[at] == '\n' || hqx[at] == '\r')) --at;
    uint8_t& last = hqx[at];
    const size_t index = kAlphabet.find(static_cast<char>(last));
    ASSERT_NE(index, std::string::npos);
    last = static_cast<uint8_t>(kAlphabet[index ^ 32]);
    const std::string badCrc = pcIn.WriteFile("same.hqx", hqx);
    const std::string tooBig = pcIn.WriteFile("same", PatternBytes(1400000, 7));

    for (const auto& [what, args] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"bad CRC", {"put", image, badCrc, "--as", "binhex", "--overwrite"}},
             {"out of room", {"put", image, tooBig, "--overwrite"}}}) {
        const CommandResult r = Cli(args);
        EXPECT_EQ(r.exitCode, 2) << what << ": " << r.err;
        EXPECT_TRUE(HfsData(":same") == old) << what;
        EXPECT_EQ(RootNames(), (std::vector<std::string>{"after", "same"})) << what;
        ExpectChecked();
    }
}

TEST_F(CliTransferTest, LinksAndSpecialFilesAreNeverFollowedNorRead)
{
    const std::vector<std::string> names{"dangling", "linked", "fifo"};
    for (const std::string& name : names) ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile("mac", Text("mac")), ":" + name));
    const std::string outside = pcIn.PathOf("outside");
    const std::string victim = pcIn.WriteFile("victim", Text("victim"));
    fs::create_symlink(outside, pcOut.PathOf("dangling"));
    fs::create_symlink(victim, pcOut.PathOf("linked"));
    ASSERT_EQ(mkfifo(pcOut.PathOf("fifo").c_str(), 0600), 0);
    for (const std::string& name : names) {
        CommandResult r = CliWithin({"get", image, name, "-o", pcOut.Path()});
        EXPECT_EQ(r.exitCode, 2) << name << ": " << r.err;
        EXPECT_NE(r.err.find(name + " already exists"), std::string::npos) << r.err;
        r = CliWithin({"get", image, name, "-o", pcOut.Path(), "--overwrite"});
        EXPECT_EQ(r.exitCode, 0) << name << ": " << r.err;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(pcOut.PathOf(name)))) << name;
        EXPECT_EQ(ReadFileBytes(pcOut.PathOf(name)), Text("mac")) << name;
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(outside)));
    EXPECT_EQ(ReadFileBytes(victim), Text("victim"));
    EXPECT_EQ(PcOutNames(), (std::vector<std::string>{"dangling", "fifo", "linked"}));

    const std::string fifo = pcIn.PathOf("source");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string before = Sha256File(image);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"put", image, fifo}, {"put", image, "/dev/zero"}, {"put", image, "/dev/zero", "--as", "binhex"}}) {
        const CommandResult r = CliWithin(args);
        EXPECT_EQ(r.exitCode, 2) << args[2] << ": " << r.err;
    }
    EXPECT_EQ(Sha256File(image), before);
}

// A PC file-size limit makes get fail as a full disk does instead of ending
// it by SIGXFSZ: the partial file goes, and a file it was to replace stays.
TEST_F(CliTransferTest, FileSizeLimitIsAnOrdinaryWriteFailure)
{
    ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile("big", PatternBytes(600000, 8)), ":big"));
    const std::string get = "ulimit -f 200 && exec '" QUAYLINK_CLI_PATH "' get '" + image + "' big -o '" +
                            pcOut.Path() + "'";
    CommandResult r = RunShell(get);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_TRUE(PcOutNames().empty());
    const std::string kept = pcOut.WriteFile("big", Text("kept"));
    r = RunShell(get + " --overwrite");
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_TRUE(ReadFileBytes(kept) == Text("kept"));
    EXPECT_EQ(PcOutNames(), std::vector<std::string>{"big"});
}

}  // namespace
