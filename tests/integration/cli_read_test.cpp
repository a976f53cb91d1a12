// quaylink-cli read commands on a volume made by hfsutils: output, order,
// exit status and messages; the image stays byte for byte the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "hfs/mac_names.h"
#include "hfs/mac_time.h"
#include "support/hfsutils_driver.h"
#include "support/sha256.h"
#include "support/temp_image.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

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
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
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

struct CliVolume {
    TempDir dir;
    std::string image;
    HlsTree tree;                                // cnids and counts, from hls
    std::map<std::string, MacFileImage> files;   // root files, from hcopy -m
    std::string error;
};

const CliVolume& Volume()
{
    static CliVolume v;
    static bool made = false;
    if (made) return v;
    made = true;
    HfsUtils hfs;
    v.image = v.dir.PathOf("cli.img");
    const std::vector<MacFileImage> root = {
        File("Zeta", "TEXT", "ttxt", 0, 300, 0, 0xC0000000),   File("alpha", "APPL", "AAAA", 0, 5000, 100, 0xC2000000),
        File("Beta", "PICT", "ZZZZ", 0, 1, 0, 0xC1000000),     File(kCafe, "abcd", "MMMM", 0, 42, 7, 0xBF000000),
        File(kDot, "TEXT", "ttxt", 0, 7, 0, 0xBE000000),       File(kIts, "TEXT", "ttxt", 0, 8, 0, 0xBD000000),
        File(kLeq, "TEXT", "ttxt", 0, 9, 0, 0xBC000000),       File("Secret", "TEXT", "ttxt", 0x4000, 10, 0, 0xBB000000),
    };
    const bool built = hfs.Format(v.image, kLabel, 1474560) && hfs.Mkdir(":Archive") && hfs.Mkdir(":Sub") &&
                       hfs.Mkdir(":Sub:Deeper") && hfs.PutMacBinary(root, ":") &&
                       hfs.PutMacBinary({File("Inner", "TEXT", "ttxt", 0, 11, 0, 0xB0000000)}, ":Sub") &&
                       hfs.PutMacBinary({File("Bottom", "TEXT", "ttxt", 0, 12, 3, 0xB0000000)}, ":Sub:Deeper");
    HfsUtils reader;
    std::vector<std::string> names;
    for (const MacFileImage& f : root) names.push_back(f.name);
    if (!built || !reader.MountCopy(v.image) || !reader.List(&v.tree) || !reader.GetMacBinaryMany(":", names, &v.files))
        v.error = hfs.LastError() + reader.LastError();
    return v;
}

class CliReadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
        ASSERT_EQ(Volume().error, "");
        image = Volume().image;
        before = Sha256File(image);
    }
    void TearDown() override
    {
        if (!image.empty()) {
            EXPECT_EQ(Sha256File(image), before) << "a read command changed the image";
        }
    }

    static CommandResult Cli(const std::vector<std::string>& args, const CommandOptions& options = {})
    {
        std::vector<std::string> argv{QUAYLINK_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunCommand(argv, options);
    }
    // Runs a command that must succeed and say nothing on standard error.
    static std::string Ok(const std::vector<std::string>& args)
    {
        const CommandResult r = Cli(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }

    const std::vector<std::string> known{"Archive", "Sub", "Deeper", "Inner", "Bottom", "alpha", kLeqUtf8, "Beta",
                                         kCafeUtf8, kItsUtf8, "Secret", "Zeta", kDotUtf8};
    std::string image;
    std::string before;
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
    const std::string alpha = "alpha" + std::string(28, ' ') + "APPL  AAAA  5000   100  2007-02-20 ";
    bool sawAlpha = false, sawSub = false, sawLeq = false;
    for (const std::string& line : Lines(Ok({"ls", image}))) {
        if (line.rfind("alpha ", 0) == 0) {
            EXPECT_EQ(line.substr(0, alpha.size()), alpha);
            EXPECT_EQ(line.substr(alpha.size() + 2), ":31") << line;
            sawAlpha = true;
        }
        if (line.rfind("Sub ", 0) == 0) {
            EXPECT_EQ(line.substr(33, 9), " [FOLDER]") << line;
            sawSub = true;
        }
        if (line.rfind(kLeqUtf8 + " ", 0) == 0) {
            EXPECT_EQ(line.substr(kLeqUtf8.size() + 30, 4), "TEXT") << line;
            sawLeq = true;
        }
    }
    EXPECT_TRUE(sawLeq);
    EXPECT_TRUE(sawAlpha && sawSub);
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
    std::vector<std::string> want;
    for (const std::string& name : {std::string("Archive"), std::string("Sub"), std::string("alpha"), kLeq}) {
        want.push_back(Hex(name));
    }
    const V top = FromJson(Ok({"ls", image, "--json"}), names);
    ASSERT_GE(top.size(), 4u);
    EXPECT_EQ(top[0], want[0] + " Archive folder");
    EXPECT_EQ(top[2], want[2] + " alpha file");
    EXPECT_EQ(top[3].substr(0, want[3].size()), want[3]);
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
    static const std::string& HostileImage()
    {
        static TempDir dir;
        static std::string path;
        if (!path.empty()) return path;
        HfsUtils hfs;
        std::vector<MacFileImage> files;
        for (const Name& n : Names())
            files.push_back(File(n.mac, "T\x1bX\x7f", std::string("\x3f\0\0\x01", 4), 0, 5, 0, 0xC2000000));
        if (hfs.Format(dir.PathOf("hostile.img"), "Vol\x1b[2J", 1474560) && hfs.PutMacBinary(files, ":"))
            path = dir.PathOf("hostile.img");
        else
            ADD_FAILURE() << hfs.LastError();
        return path;
    }
    void SetUp() override
    {
        CliReadTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        image = HostileImage();
        ASSERT_FALSE(image.empty());
        before = Sha256File(image);
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
    auto run = [&](const std::vector<std::string>& args) {
        const CommandResult r = Cli(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
    };
    run({"mkdir", copy, "??"});
    run({"mkdir", copy, "--", "-\xcf\x80 \xc3\xa9"});                // "-pi e-acute"
    run({"rename", copy, "--", "-dash", "\xe2\x88\x9e-\xe2\x82\xac"});  // infinity, euro
    run({"settype", copy, "--", "\xe2\x88\x9e-\xe2\x82\xac", "\xcf\x80TXT", "-\xc3\xa9-\xe2\x80\xa0"});
    // Before, a character Windows-1252 lacks became "?" and this deleted "??".
    EXPECT_EQ(Cli({"rm", copy, "\xe6\x97\xa5\xe6\x9c\xac"}).exitCode, 1);
    EXPECT_EQ(Cli({"check", copy}).exitCode, 0);
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

}  // namespace
