// quaylink-cli from the outside, against hfsutils: the read commands'
// output, order, exit status and messages (the image staying byte for byte
// the same), hostile names, and get and put: round trips, collision
// policies, PC-side safety, writers that take turns, trees (get -r, put -r,
// rm -r) with their filters, the progress line and Ctrl-C.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "disk/image_drive.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "hfs/mac_time.h"
#include "support/hfsutils_driver.h"
#include "support/run_command.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A command still running after 30 s (one that blocks) is stopped and answers 124.
CommandResult Cli(const std::vector<std::string>& args, const CommandOptions& options = {})
{
    std::vector<std::string> argv{"timeout", "30", QUAYLINK_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, options);
}

// Runs a command that must succeed and say nothing on standard error.
std::string Ok(const std::vector<std::string>& args)
{
    const CommandResult r = Cli(args);
    EXPECT_EQ(r.exitCode, 0) << args[0] << ": " << r.err;
    EXPECT_EQ(r.err, "") << args[0];
    return r.out;
}

// Runs a command that must fail with `exitCode` and say `said` on standard error.
CommandResult Fails(const std::vector<std::string>& args, int exitCode, const std::string& said = "")
{
    const CommandResult r = Cli(args);
    EXPECT_EQ(r.exitCode, exitCode) << args[0] << ": " << r.err;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    return r;
}

// Mac names and the UTF-8 the program shows them as.
const std::string kCafe = "Caf\x8e", kCafeUtf8 = "Caf\xc3\xa9";              // e acute
const std::string kDot = "\xa5" "dot", kDotUtf8 = "\xe2\x80\xa2" "dot";      // bullet
const std::string kIts = "It\xd5s", kItsUtf8 = "It\xe2\x80\x99s";            // right single quote
const std::string kLeq = "a\xb2" "b", kLeqUtf8 = "a\xe2\x89\xa4" "b";        // less-or-equal: no Windows-1252 form
const std::string kLabel = "CLI \xa5 Vol", kLabelUtf8 = "CLI \xe2\x80\xa2 Vol";

MacFileImage File(const std::string& name, const std::string& type, const std::string& creator, uint16_t flags,
                  size_t dataSize, size_t rsrcSize, uint32_t modified)
{
    MacFileImage f;
    f.name = name;
    f.type = type;
    f.creator = creator;
    f.finderFlags = flags;
    f.created = modified - 1000;
    f.modified = modified;
    f.data = PatternBytes(dataSize, modified);
    f.rsrc = PatternBytes(rsrcSize, modified + 1);
    return f;
}

std::string Hex(const std::string& bytes)
{
    std::string hex;
    for (unsigned char c : bytes) hex += std::string{"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
    return hex;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The names the listing lines begin with (each name is followed by spaces).
std::vector<std::string> Names(const std::string& text, const std::vector<std::string>& known)
{
    std::vector<std::string> names;
    for (const std::string& line : Lines(text)) {
        std::string best;
        for (const std::string& k : known)
            if (line.rfind(k + " ", 0) == 0 && k.size() > best.size()) best = k;
        names.push_back(best.empty() ? "?" + line : best);
    }
    return names;
}

// An image `make` builds with hfsutils once per process; empty when that failed.
const std::string& MadeOnce(const std::string& name, bool (*make)(HfsUtils& hfs, const std::string& path))
{
    static TempDir dir;
    static std::map<std::string, std::string> made;
    std::string& path = made[name];
    if (!path.empty()) return path;
    HfsUtils hfs;
    if (make(hfs, dir.PathOf(name)))
        path = dir.PathOf(name);
    else
        ADD_FAILURE() << hfs.LastError();
    return path;
}

// The volume the read tests share.
bool MakeReadVolume(HfsUtils& hfs, const std::string& path)
{
    const std::vector<MacFileImage> root = {
        File("Zeta", "TEXT", "ttxt", 0, 300, 0, 0xC0000000),   File("alpha", "APPL", "AAAA", 0, 5000, 100, 0xC2000000),
        File("Beta", "PICT", "ZZZZ", 0, 1, 0, 0xC1000000),     File(kCafe, "abcd", "MMMM", 0, 42, 7, 0xBF000000),
        File(kDot, "TEXT", "ttxt", 0, 7, 0, 0xBE000000),       File(kIts, "TEXT", "ttxt", 0, 8, 0, 0xBD000000),
        File(kLeq, "TEXT", "ttxt", 0, 9, 0, 0xBC000000),       File("Secret", "TEXT", "ttxt", 0x4000, 10, 0, 0xBB000000),
    };
    return hfs.Format(path, kLabel, 1474560) && hfs.Mkdir(":Archive") && hfs.Mkdir(":Sub") &&
           hfs.Mkdir(":Sub:Deeper") && hfs.PutMacBinary(root, ":") &&
           hfs.PutMacBinary({File("Inner", "TEXT", "ttxt", 0, 11, 0, 0xB0000000)}, ":Sub") &&
           hfs.PutMacBinary({File("Bottom", "TEXT", "ttxt", 0, 12, 3, 0xB0000000)}, ":Sub:Deeper");
}

class CliReadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
        image = Image();
        ASSERT_FALSE(image.empty());
        before = ReadFileBytes(image);
    }
    void TearDown() override
    {
        if (!image.empty()) {
            EXPECT_TRUE(ReadFileBytes(image) == before) << "a read command changed the image";
        }
    }

    virtual const std::string& Image() const { return MadeOnce("cli.img", MakeReadVolume); }

    const std::vector<std::string> known{"Archive", "Sub", "Deeper", "Inner", "Bottom", "alpha", kLeqUtf8, "Beta",
                                         kCafeUtf8, kItsUtf8, "Secret", "Zeta", kDotUtf8};
    std::string image;
    Bytes before;
};

TEST_F(CliReadTest, LsListsFoldersFirstThenFilesInMacOrder)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(Names(Ok({"ls", image}), known),
              (V{"Archive", "Sub", "alpha", kLeqUtf8, "Beta", kCafeUtf8, kItsUtf8, "Zeta", kDotUtf8}));
    EXPECT_EQ(Names(Ok({"ls", image, "-a"}), known),
              (V{"Archive", "Sub", "alpha", kLeqUtf8, "Beta", kCafeUtf8, kItsUtf8, "Secret", "Zeta", kDotUtf8}));
    EXPECT_EQ(Names(Ok({"ls", image, "--sort", "name"}), known), Names(Ok({"ls", image}), known));
    // Size: files from the largest data fork down.
    EXPECT_EQ(Names(Ok({"ls", image, "--sort", "size"}), known),
              (V{"Archive", "Sub", "alpha", "Zeta", kCafeUtf8, kLeqUtf8, kItsUtf8, kDotUtf8, "Beta"}));
    // Type and creator compare like names (case does not count), then the name decides.
    EXPECT_EQ(Names(Ok({"ls", image, "--sort", "type"}), known),
              (V{"Archive", "Sub", kCafeUtf8, "alpha", "Beta", kLeqUtf8, kItsUtf8, "Zeta", kDotUtf8}));
    EXPECT_EQ(Names(Ok({"ls", image, "--sort", "creator"}), known),
              (V{"Archive", "Sub", "alpha", kCafeUtf8, kLeqUtf8, kItsUtf8, "Zeta", kDotUtf8, "Beta"}));
    // Date: the latest first; the folders still come first.
    const V byDate = Names(Ok({"ls", image, "--sort", "date"}), known);
    ASSERT_EQ(byDate.size(), 9u);
    EXPECT_EQ(std::set<std::string>(byDate.begin(), byDate.begin() + 2), (std::set<std::string>{"Archive", "Sub"}));
    EXPECT_EQ(V(byDate.begin() + 2, byDate.end()), (V{"alpha", "Beta", "Zeta", kCafeUtf8, kDotUtf8, kItsUtf8, kLeqUtf8}));
}

TEST_F(CliReadTest, LsLinesShowThePaneColumns)
{
    const std::vector<std::string> lines = Lines(Ok({"ls", image}));
    auto line = [&](const std::string& name) {
        for (const std::string& l : lines)
            if (l.rfind(name + " ", 0) == 0) return l;
        return "no line for " + name;
    };
    EXPECT_EQ(line("Archive").substr(33, 9), " [FOLDER]");
    const std::string alpha = "alpha" + std::string(28, ' ') + "APPL  AAAA  5000   100  2007-02-20 ";
    EXPECT_EQ(line("alpha").substr(0, alpha.size()) + line("alpha").substr(alpha.size() + 2), alpha + ":31");
    EXPECT_EQ(line(kLeqUtf8).substr(kLeqUtf8.size() + 30, 4), "TEXT");
}

TEST_F(CliReadTest, BadArgumentsAndMissingItemsFailNamingThem)
{
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string named;  // what the message must hold
    };
    const std::vector<Case> cases = {
        {{}, 1, ""},
        {{"frobnicate", image}, 1, ""},
        {{"ls"}, 1, ""},
        {{"ls", image, "--sort", "colour"}, 1, ""},
        {{"ls", image, "-x"}, 1, ""},
        {{"ls", image, "--sort"}, 1, ""},
        {{"cat", image}, 1, ""},
        {{"volumes"}, 1, ""},
        {{"info", image, ":a", ":b"}, 1, ""},
        {{"ls", image + "@0"}, 1, image + "@0"},
        {{"ls", image + "@abc"}, 1, image + "@abc"},
        {{"info", image + "@2"}, 1, image + "@2"},
        {{"volumes", image + "@"}, 1, image + "@"},
        // Characters Mac OS Roman lacks are refused, never made "?".
        {{"cat", image, "\xe6\x97\xa5\xe6\x9c\xac"}, 1, "U+65E5"},
        {{"rm", image, "\xe6\x97\xa5\xe6\x9c\xac"}, 1, "\xe6\x97\xa5\xe6\x9c\xac"},
        {{"mkdir", image, "Sub:\xe2\x82\xbd"}, 1, "Sub:\xe2\x82\xbd"},
        {{"rename", image, "alpha", "\xd0\x96"}, 1, "U+0416"},
        {{"settype", image, "alpha", "\xd0\x96\xd0\x96", "ttxt"}, 1, "U+0416"},
        {{"put", image, "no-file", "--to", "\xe6\x97\xa5"}, 1, "U+65E5"},
        {{"ls", image, "bad\xff"}, 1, "is not UTF-8"},
        // Without "--" a name that begins with "-" is taken for an option.
        {{"cat", image, "-dash"}, 1, "unknown option -dash"},
        {{"cat", image, ":Nope"}, 2, "quaylink-cli: no such file or folder on the volume: :Nope\n"},
        {{"cat", image, ":Sub"}, 2, ""},
        {{"ls", image, ":alpha"}, 2, ""},
        {{"ls", image, ":alpha:beyond"}, 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "" : c.args[0] + " " + c.args.back());
        const CommandResult r = Cli(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_NE(r.err, "");
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(CliReadTest, MacRomanAgreesWithPythonsCodec)
{
    if (!ProgramAvailable("python3")) GTEST_SKIP() << "python3 is not installed";
    uint8_t all[256];
    for (unsigned i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    CommandOptions hex;
    hex.input = std::string(all, all + 256);
    const CommandResult python =
        RunCommand({"python3", "-c", "import sys; sys.stdout.buffer.write(sys.stdin.buffer.read().decode('mac_roman')"
                                     ".encode('utf-8'))"},
                   hex);
    ASSERT_EQ(python.exitCode, 0) << python.err;
    EXPECT_EQ(MacRomanToUtf8(all, 256), python.out);
    std::string back;
    ASSERT_TRUE(Utf8ToMacRoman(python.out, &back));
    EXPECT_EQ(back, std::string(reinterpret_cast<const char*>(all), 256));
}

TEST_F(CliReadTest, FailedWritesToStandardOutputFail)
{
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"ls", image}, {"ls", image, "-R", "--json"}, {"info", image}, {"volumes", image}, {"cat", image, "alpha"},
             {"--help"}}) {
        SCOPED_TRACE(args[0]);
        CommandOptions full;
        full.outFile = "/dev/full";
        const CommandResult r = Cli(args, full);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("could not write to standard output"), std::string::npos) << r.err;
    }
}

// Python reads the JSON; `script` gets it as `d` and prints one value a line.
std::vector<std::string> FromJson(const std::string& json, const std::string& script)
{
    CommandOptions input;
    input.input = json;
    const CommandResult r =
        RunCommand({"python3", "-c", "import json, sys, datetime\nd = json.load(sys.stdin)\n" + script}, input);
    EXPECT_EQ(r.exitCode, 0) << r.err << json;
    return Lines(r.out);
}

TEST_F(CliReadTest, JsonGivesExactValues)
{
    if (!ProgramAvailable("python3")) GTEST_SKIP() << "python3 is not installed";
    using V = std::vector<std::string>;
    // Names read back through Python's Mac OS Roman are the catalog's bytes.
    const std::string names = "for i in d['items']: print(i['name'].encode('mac_roman').hex(), i['path'], i['kind'])";
    const V top = FromJson(Ok({"ls", image, "--json"}), names);
    ASSERT_GE(top.size(), 4u);
    EXPECT_EQ(top[0], Hex("Archive") + " Archive folder");
    EXPECT_EQ(top[2], Hex("alpha") + " alpha file");
    EXPECT_EQ(top[3].substr(0, Hex(kLeq).size()), Hex(kLeq));
    // -R nests each folder's items in it.
    EXPECT_EQ(FromJson(Ok({"ls", image, "-R", "--json"}),
                       "def walk(items):\n  for i in items:\n    print(i['path'])\n    walk(i.get('items', []))\n"
                       "walk(d['items'])"),
              (V{"Archive", "Sub", "Sub:Deeper", "Sub:Deeper:Bottom", "Sub:Inner", "alpha", "a\xe2\x89\xa4" "b", "Beta",
                 kCafeUtf8, kItsUtf8, "Zeta", kDotUtf8}));
    // Sizes are numbers; the date is the instant of the Mac date, with the zone's offset.
    EXPECT_EQ(FromJson(Ok({"info", image, "alpha", "--json"}),
                       "print(d['type'], d['creator'], d['dataSize'] + 1, d['resourceSize'], d['kind'])\n"
                       "print(int(datetime.datetime.fromisoformat(d['modified']).timestamp()))"),
              (V{"APPL AAAA 5001 100 file", std::to_string(MacDateToUnix(0xC2000000))}));
    EXPECT_EQ(FromJson(Ok({"info", image, "--json"}), "print(d['name'], d['files'], d['blocks'], d['backupMdb'])"),
              (V{kLabelUtf8 + " 10 2880 True"}));
    EXPECT_EQ(FromJson(Ok({"volumes", image, "--json"}),
                       "print([(v['index'], v['start'], v['blocks'], v['name']) for v in d])"),
              (V{"[(1, 0, 2880, '" + kLabelUtf8 + "')]"}));
}

// A volume whose names, types and creators hold control characters, and
// names of characters Windows-1252 lacks.
class CliHostileNamesTest : public CliReadTest {
protected:
    struct Name {
        std::string mac, shown;
    };
    static const std::vector<Name>& Names()
    {
        static const std::vector<Name> names = {
            {"Esc\x1b]0;pwned\x07", "Esc?]0;pwned?"},
            {"CR\rLF\nline", "CR?LF?line"},
            {"Del\x7f", "Del?"},
            {"Csi\x9b", "Csi\xc3\xb5"},                          // 0x9B is o tilde in Mac OS Roman
            {"Pi \xb9 caf\x8e", "Pi \xcf\x80 caf\xc3\xa9"},      // pi went through Windows-1252 as U+0090
            {"-dash", "-dash"},
        };
        return names;
    }
    const std::string& Image() const override
    {
        return MadeOnce("hostile.img", [](HfsUtils& hfs, const std::string& path) {
            std::vector<MacFileImage> files;
            for (const Name& n : Names())
                files.push_back(File(n.mac, "T\x1bX\x7f", std::string("\x3f\0\0\x01", 4), 0, 5, 0, 0xC2000000));
            return hfs.Format(path, "Vol\x1b[2J", 1474560) && hfs.PutMacBinary(files, ":");
        });
    }
    // No byte of `text` is a control character other than a line end.
    static void ExpectNoControls(const std::string& text)
    {
        for (size_t i = 0; i < text.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0;
            EXPECT_FALSE((c < 0x20 && c != '\n') || c == 0x7F || c1) << "byte " << i << " of\n" << text;
        }
    }
};

TEST_F(CliHostileNamesTest, ControlsShowAsQuestionMarksAndPiAsPi)
{
    const std::string ls = Ok({"ls", image, "-a"});
    ExpectNoControls(ls);
    const std::vector<std::string> lines = Lines(ls);
    ASSERT_EQ(lines.size(), Names().size());  // no name forges a line
    for (const Name& n : Names()) {
        SCOPED_TRACE(n.shown);
        auto shown = [&](const std::string& l) {
            return l.rfind(n.shown + " ", 0) == 0 && l.find("T?X?  ????") != std::string::npos;
        };
        EXPECT_NE(std::find_if(lines.begin(), lines.end(), shown), lines.end()) << ls;
        const std::string path = MacRomanToUtf8(reinterpret_cast<const uint8_t*>(n.mac.data()), n.mac.size());
        const std::string info = Ok({"info", image, "--", path});
        ExpectNoControls(info);
        EXPECT_NE(info.find("Name: " + n.shown + "\n"), std::string::npos) << info;
        EXPECT_EQ(Ok({"cat", image, "--", path}).size(), 5u);
        // --json carries the exact name, escaped, and the codes as hex where unprintable.
        if (!ProgramAvailable("python3")) continue;
        const std::string json = Ok({"info", image, "--json", "--", path});
        ExpectNoControls(json);
        EXPECT_EQ(FromJson(json, "print(d['name'].encode('mac_roman').hex(), d['type'], d['creator'])"),
                  (std::vector<std::string>{Hex(n.mac) + " 0x541B587F 0x3F000001"}));
    }
    ExpectNoControls(Ok({"ls", image, "-R", "-a"}));
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"volumes", image}, {"info", image}, {"check", image}}) {
        const CommandResult r = Cli(args);
        ExpectNoControls(r.out + r.err);
        EXPECT_NE((r.out + r.err).find("Vol?[2J"), std::string::npos) << r.out << r.err;
    }
}

TEST_F(CliHostileNamesTest, NewNamesGoStraightToMacRoman)
{
    TempDir scratch;
    const std::string copy = scratch.WriteFile("copy.img", ReadFileBytes(image));
    auto run = [](const std::vector<std::string>& args) { Fails(args, 0); };
    run({"mkdir", copy, "??"});
    run({"mkdir", copy, "--", "-\xcf\x80 \xc3\xa9"});                // "-pi e-acute"
    run({"rename", copy, "--", "-dash", "\xe2\x88\x9e-\xe2\x82\xac"});  // infinity, euro
    run({"settype", copy, "--", "\xe2\x88\x9e-\xe2\x82\xac", "\xcf\x80TXT", "-\xc3\xa9-\xe2\x80\xa0"});
    // Before, a character Windows-1252 lacks became "?" and this deleted "??".
    Fails({"rm", copy, "\xe6\x97\xa5\xe6\x9c\xac"}, 1);
    Fails({"check", copy}, 0);
    HfsUtils reader;
    HlsTree tree;
    ASSERT_TRUE(reader.MountCopy(copy) && reader.List(&tree)) << reader.LastError();
    std::set<std::string> names;
    for (const HlsEntry& e : tree.at(":")) names.insert(e.name);
    for (const std::string& mac : {std::string("??"), std::string("-\xb9 \x8e"), std::string("\xb0-\xdb")})
        EXPECT_EQ(names.count(mac), 1u) << Hex(mac);
    MacFileImage renamed;
    ASSERT_TRUE(reader.GetMacBinary(":\xb0-\xdb", &renamed)) << reader.LastError();
    EXPECT_EQ(renamed.type, "\xb9TXT");
    EXPECT_EQ(renamed.creator, "-\x8e-\xa0");
}

class CliTransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
        image = dir.PathOf("v.img");
        ASSERT_TRUE(hfs.Format(image, "Transfer", 1474560)) << hfs.LastError();
        ASSERT_TRUE(fs::create_directory(pcIn.Path() + "/sub"));
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

// What we put hcopy reads back, and what hcopy put we get back, byte for byte.
TEST_F(CliTransferTest, RoundTripsThroughHcopy)
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

    const std::vector<std::pair<std::string, size_t>> theirs = {{"zero", 0}, {"exact", 65536}, {"large", 400000}};
    for (const auto& [name, size] : theirs)
        ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile(name, PatternBytes(size, size + 7)), ":" + name)) << hfs.LastError();
    ASSERT_TRUE(hfs.Mkdir(":Folder"));
    ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile("inner", PatternBytes(5000, 3)), ":Folder:inner"));
    const Bytes before = ReadFileBytes(image);
    Ok({"get", image, "-o", pcOut.Path(), "zero", "exact", "large", "Folder:inner"});
    EXPECT_TRUE(ReadFileBytes(image) == before) << "get wrote to the image";
    for (const auto& [name, size] : theirs) EXPECT_EQ(ReadFileBytes(pcOut.PathOf(name)), PatternBytes(size, size + 7));
    EXPECT_EQ(ReadFileBytes(pcOut.PathOf("inner")), PatternBytes(5000, 3));

    // A folder is not a file, and a relative image path works from anywhere.
    EXPECT_EQ(Cli({"get", image, "Folder", "-o", pcOut.Path()}).exitCode, 2);
    const CommandResult r = RunShell("cd '" + dir.Path() + "' && '" QUAYLINK_CLI_PATH "' get v.img one -o '" +
                                     pcIn.Path() + "/sub'");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(pcIn.Path() + "/sub/one"), PatternBytes(1, 2));
}

// A loop device stands for a disk (512-byte sectors) and for a CD-ROM drive
// (2048): the CLI asks the device for its sector size. Needs root; skipped
// where loop devices cannot be made.
TEST_F(CliTransferTest, LoopDevicesOfBothSectorSizes)
{
    if (!ProgramAvailable("losetup") || RunCommand({"losetup", "-f"}).exitCode != 0)
        GTEST_SKIP() << "no loop devices here";
    for (const char* sectorSize : {"512", "2048"}) {
        SCOPED_TRACE(sectorSize);
        const CommandResult attach = RunCommand({"losetup", "-f", "--show", "--sector-size", sectorSize, image});
        if (attach.exitCode != 0) GTEST_SKIP() << "losetup: " << attach.err;
        const std::string device = attach.out.substr(0, attach.out.find('\n'));
        const std::string name = std::string("on loop ") + sectorSize;
        const Bytes data = PatternBytes(70000, std::stoul(sectorSize));
        const CommandResult put = Cli({"put", device, pcIn.WriteFile(name, data)});
        const CommandResult check = Cli({"check", device});
        const CommandResult ls = Cli({"ls", device});
        // Transfers move the device's own sectors (buffered block devices
        // would take any 512-byte piece, so only the slot tells).
        const int slot = OpenImage(device.c_str(), 512, false);
        const uint32_t used = slot >= 0 ? ImageTable[slot].sectorSize : 0;
        CloseImage(slot);
        RunCommand({"losetup", "-d", device});
        EXPECT_EQ(used, std::stoul(sectorSize));
        EXPECT_EQ(put.exitCode, 0) << put.err;
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
        EXPECT_NE(ls.out.find(name), std::string::npos) << ls.out;
        EXPECT_EQ(HfsData(":" + name), data);
    }
}

TEST_F(CliTransferTest, MacClashesFollowThePolicy)
{
    ASSERT_TRUE(hfs.PutRaw(pcIn.WriteFile("old", Text("old")), ":same"));
    ASSERT_TRUE(hfs.Mkdir(":Folder"));
    const std::string fresh = pcIn.WriteFile("fresh", Text("fresh"));
    const std::string same = pcIn.WriteFile("same", Text("new"));
    const std::string folder = pcIn.WriteFile("Folder", Text("file"));

    // No policy: nothing is written, not even the file without a clash.
    Bytes before = ReadFileBytes(image);
    Fails({"put", image, fresh, same}, 2, "same already exists");
    EXPECT_TRUE(ReadFileBytes(image) == before);

    EXPECT_EQ(Cli({"put", image, same, "--skip"}).exitCode, 0);  // says what it skipped
    EXPECT_EQ(HfsData(":same"), Text("old"));
    Ok({"put", image, same, "--rename"});
    Ok({"put", image, same, "--rename"});
    EXPECT_EQ(HfsData(":same"), Text("old"));
    EXPECT_EQ(HfsData(":same 1"), Text("new"));
    EXPECT_EQ(HfsData(":same 2"), Text("new"));
    Ok({"put", image, same, "--overwrite"});
    EXPECT_EQ(HfsData(":same"), Text("new"));

    // A folder is never overwritten by a file.
    before = ReadFileBytes(image);
    Fails({"put", image, folder, "--overwrite"}, 2, "cannot overwrite the folder");
    EXPECT_TRUE(ReadFileBytes(image) == before);
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

    Fails({"get", image, "other", "Report.txt", "-o", pcOut.Path()}, 2, "Report.txt already exists");
    EXPECT_EQ(PcOutNames(), std::vector<std::string>{"Report.txt"});
    // Many sources are checked against one read of the directory: the clash
    // is found all the same, last in line, and nothing is copied.
    std::vector<std::string> many{"get", image};
    for (int i = 0; i < 12; ++i) many.push_back("other");
    many.insert(many.end(), {"Report.txt", "-o", pcOut.Path()});
    Fails(many, 2, "Report.txt already exists");
    EXPECT_EQ(PcOutNames(), std::vector<std::string>{"Report.txt"});

    EXPECT_EQ(Cli({"get", image, "Report.txt", "-o", pcOut.Path(), "--skip"}).exitCode, 0);
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
        const Bytes before = ReadFileBytes(image);
        EXPECT_EQ(Cli(args).exitCode, 2) << c.sources.back();
        EXPECT_TRUE(ReadFileBytes(image) == before) << c.sources.back();
        if (c.macName.empty()) continue;
        args.push_back("--overwrite");
        Fails(args, 2, "an earlier source");
        EXPECT_EQ(HfsData(":" + c.macName), Text("first"));
    }

    // get: x/y and x|y both become x_y.
    EXPECT_EQ(Cli({"get", image, "x/y", "x|y", "-o", pcOut.Path()}).exitCode, 2);
    EXPECT_TRUE(PcOutNames().empty());
    Fails({"get", image, "x/y", "x|y", "-o", pcOut.Path(), "--overwrite"}, 2);
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
        std::vector<std::string> args{"put", image};
        args.insert(args.end(), c.args.begin(), c.args.end());
        CommandOptions options;
        options.input = c.input;
        const CommandResult r = Cli(args, options);
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
    const Bytes before = ReadFileBytes(image);
    EXPECT_EQ(Cli({"ls", image}).exitCode, 0);
    EXPECT_EQ(Fails({"mkdir", image, "Waited"}, 2).err,
              "quaylink-cli: the image is in use by another program: " + image + "\n");
    EXPECT_TRUE(ReadFileBytes(image) == before);
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
        Fails(args, 2);
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
        Fails({"get", image, name, "-o", pcOut.Path()}, 2, name + " already exists");
        Ok({"get", image, name, "-o", pcOut.Path(), "--overwrite"});
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(pcOut.PathOf(name)))) << name;
        EXPECT_EQ(ReadFileBytes(pcOut.PathOf(name)), Text("mac")) << name;
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(outside)));
    EXPECT_EQ(ReadFileBytes(victim), Text("victim"));
    EXPECT_EQ(PcOutNames(), (std::vector<std::string>{"dangling", "fifo", "linked"}));
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

// src/d<f>/f<n>.txt, each of `size` bytes of its own pattern.
std::map<std::string, Bytes> MakePcTree(const TempDir& pc, int folders, int perFolder, size_t size)
{
    std::map<std::string, Bytes> files;
    for (int f = 0; f < folders; ++f) {
        fs::create_directories(pc.PathOf("src/d" + std::to_string(f)));
        for (int n = 0; n < perFolder; ++n) {
            const std::string name = "d" + std::to_string(f) + "/f" + std::to_string(n) + ".txt";
            files[name] = PatternBytes(size, static_cast<uint32_t>(f * 10000 + n));
            pc.WriteFile("src/" + name, files[name]);
        }
    }
    return files;
}

// A tree put and got back, whole and through each filter flag; hfsutils sees
// what was put, and each copy back equals the source.
TEST_F(CliTransferTest, TreesBothWaysWithFilters)
{
    ASSERT_TRUE(hfs.Format(image, "Trees", 32 << 20)) << hfs.LastError();
    auto files = MakePcTree(pcIn, 3, 4, 3000);
    pcIn.WriteFile("src/d0/notes.MD", {1, 2, 3});
    files["d0/notes.MD"] = {1, 2, 3};
    Ok({"put", "-r", image, pcIn.PathOf("src"), "--type", "TEXT", "--creator", "ttxt"});
    ExpectChecked();
    for (const auto& [path, bytes] : files) {
        std::string mac = ":src:" + path;
        std::replace(mac.begin(), mac.end(), '/', ':');
        EXPECT_EQ(HfsData(mac), bytes) << mac;
    }
    const struct {
        std::vector<std::string> filter;
        size_t copied;
    } cases[] = {{{}, files.size()},
                 {{"--ext", "txt"}, 12},
                 {{"--type", "TEXT", "--creator", "ttxt"}, files.size()},
                 {{"--creator", "XXXX"}, 0}};
    int n = 0;
    for (const auto& c : cases) {
        const std::string out = pcOut.PathOf("out" + std::to_string(n++));
        fs::create_directory(out);
        std::vector<std::string> args{"get", "-r", image, ":src", "-o", out, "-q"};
        args.insert(args.end(), c.filter.begin(), c.filter.end());
        const CommandResult r = Cli(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto got = ReadFileTree(out);
        EXPECT_EQ(got.size(), c.copied);
        for (const auto& [path, bytes] : got) EXPECT_EQ(bytes, files.at(path.substr(4))) << path;
        if (c.copied == 0) {
            EXPECT_NE(r.err.find("No files marked!"), std::string::npos);
        }
    }
    // The PC filter; a folder without -r stays an error.
    Ok({"put", "-r", image, pcIn.PathOf("src/d0"), "--to", ":src:d1", "--ext", "md"});
    const std::string listed = Ok({"ls", image, ":src:d1:d0"});
    EXPECT_NE(listed.find("notes.MD"), std::string::npos);
    EXPECT_EQ(listed.find("f0.txt"), std::string::npos);
    EXPECT_EQ(Cli({"put", image, pcIn.PathOf("src")}).exitCode, 2);
    EXPECT_EQ(Cli({"get", image, ":src", "-o", pcOut.Path()}).exitCode, 2);
    ExpectChecked();
}

// 5,000 files in one folder, both ways.
TEST_F(CliTransferTest, TreeFolderOfFiveThousandFiles)
{
    ASSERT_TRUE(hfs.Format(image, "Trees", 32 << 20)) << hfs.LastError();
    const auto files = MakePcTree(pcIn, 1, 5000, 10);
    Ok({"put", "-r", image, pcIn.PathOf("src/d0"), "-q"});
    ExpectChecked();
    Ok({"get", "-r", image, ":d0", "-o", pcOut.Path()});
    EXPECT_EQ(ReadFileTree(pcOut.Path()).size(), 5000u);
    EXPECT_EQ(ReadFileBytes(pcOut.PathOf("d0/f4999.txt")), files.at("d0/f4999.txt"));
}

// On a terminal the progress line shows and -q silences it; off a terminal
// nothing shows.
TEST_F(CliTransferTest, TreeProgressLineOnATerminalOnly)
{
    if (!ProgramAvailable("script")) GTEST_SKIP() << "script (util-linux) is not installed";
    ASSERT_TRUE(hfs.Format(image, "Trees", 32 << 20)) << hfs.LastError();
    MakePcTree(pcIn, 2, 3, 100000);
    const std::string cli = QUAYLINK_CLI_PATH;
    CommandResult r = RunCommand({"script", "-qec", cli + " put -r " + image + " " + pcIn.PathOf("src"), "/dev/null"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Copying from PC to Mac: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/6 files"), std::string::npos) << r.out;
    r = RunCommand({"script", "-qec", cli + " get -r -q " + image + " :src -o " + pcOut.Path(), "/dev/null"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out.find("Copying"), std::string::npos) << r.out;
    Ok({"get", "-r", image, ":src", "-o", pcOut.Path(), "--overwrite"});
}

// SIGINT while a tree is put: exit status 2 and "Cancelled", and a volume
// that passes the check holding whole files only.
TEST_F(CliTransferTest, InterruptStopsATreeCopy)
{
    ASSERT_TRUE(hfs.Format(image, "Trees", 64 << 20)) << hfs.LastError();
    const auto files = MakePcTree(pcIn, 4, 1000, 10000);
    const std::string marker = pcIn.WriteFile("marker", {});
    // The copy's first write changes the image's time. The shell's own test,
    // polled without pause or child process, sees it at once; a moment later
    // some files are done and most are not, however busy the machine.
    const CommandResult r = RunShell("'" QUAYLINK_CLI_PATH "' put -r " + image + " " + pcIn.PathOf("src") +
                                     " 2>&1 & pid=$!\ni=0; while [ $i -lt 3000000 ] && ! [ " + image + " -nt " +
                                     marker + " ]; do i=$((i + 1)); done\nsleep 0.3\n" +
                                     "kill -INT $pid; wait $pid; echo \"status $?\"");
    EXPECT_NE(r.out.find("status 2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Cancelled"), std::string::npos) << r.out;
    ExpectChecked();
    HlsTree tree;
    ASSERT_TRUE(hfs.List(&tree));
    size_t present = 0;
    for (const auto& [folder, entries] : tree)
        for (const HlsEntry& e : entries) {
            if (e.folder) continue;
            ++present;
            EXPECT_EQ(e.dataLength, 10000u) << folder << ":" << e.name;
        }
    EXPECT_GT(present, 0u);
    EXPECT_LT(present, files.size());
}

// "a/b" and "a_b" land on one PC name: --overwrite must not let the second
// replace the first it has just written, and --rename keeps both.
TEST_F(CliTransferTest, TreeOverwriteNeverReplacesWhatTheCommandWrote)
{
    ASSERT_TRUE(hfs.Mkdir(":F") && hfs.PutRaw(pcIn.WriteFile("one", {1}), ":F:a/b") &&
                hfs.PutRaw(pcIn.WriteFile("two", {2}), ":F:a_b"))
        << hfs.LastError();
    Fails({"get", "-r", image, "F", "-o", pcOut.Path(), "--overwrite"}, 2, "a file this command wrote");
    EXPECT_EQ(ReadFileBytes(pcOut.PathOf("F/a_b")), Bytes{1});
    fs::remove_all(pcOut.PathOf("F"));
    Ok({"get", "-r", image, "F", "-o", pcOut.Path(), "--rename"});
    EXPECT_EQ(ReadFileBytes(pcOut.PathOf("F/a_b")), Bytes{1});
    EXPECT_EQ(ReadFileBytes(pcOut.PathOf("F/a_b0")), Bytes{2});
}

TEST_F(CliTransferTest, RmRecursiveCheckedByHfsutils)
{
    ASSERT_TRUE(hfs.Mkdir(":A") && hfs.Mkdir(":A:B") && hfs.Mkdir(":Keep") &&
                hfs.PutRawFiles({{"one", PatternBytes(3000)}, {"two", {}}}, ":A:") &&
                hfs.PutRawFiles({{"three", PatternBytes(70000)}}, ":A:B:") &&
                hfs.PutRawFiles({{"C", PatternBytes(10)}}, ":") && hfs.PutRawFiles({{"k", {}}}, ":Keep:"))
        << hfs.LastError();
    Ok({"rm", "-r", image, "A", "C"});
    Fails({"rm", image, "Keep"}, 2, "folder not empty");
    ExpectChecked();
    HlsTree tree;
    ASSERT_TRUE(hfs.List(&tree)) << hfs.LastError();
    EXPECT_EQ(tree.size(), 2u);
    EXPECT_EQ(RootNames(), std::vector<std::string>{"Keep"});
    EXPECT_EQ(tree[":Keep"].size(), 1u);
}

}  // namespace
