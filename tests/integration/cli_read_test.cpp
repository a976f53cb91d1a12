// quaylink-cli's read commands (volumes, ls, cat, info) on a volume made by
// hfsutils: what they print, in which order, their exit status and the
// message of each failure, names outside ASCII in UTF-8 both ways, and an
// image that is byte for byte the same after every one of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/hfsutils_driver.h"
#include "support/raw_hfs.h"
#include "support/sha256.h"
#include "support/temp_image.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr const char* kNoVolume = "No Mac HFS volumes found\n";
constexpr const char* kReadError = "Error reading Mac disk\n";
constexpr const char* kBadNode = "Error Locating Node. Disk may be corrupt. (Use a disk diagnostic on the Mac.)\n";

// Mac names and the UTF-8 the program shows them as.
const std::string kCafe = "Caf\x8e", kCafeUtf8 = "Caf\xc3\xa9";              // e acute
const std::string kDot = "\xa5" "dot", kDotUtf8 = "\xe2\x80\xa2" "dot";      // bullet
const std::string kIts = "It\xd5s", kItsUtf8 = "It\xe2\x80\x99s";            // right single quote
const std::string kLeq = "a\xb2" "b", kLeqUtf8 = "a\xc2\x81" "b";            // less-or-equal: no Windows-1252 form
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

    static CommandResult Cli(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{QUAYLINK_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunCommand(argv);
    }
    // Runs a command that must succeed and say nothing on standard error.
    static std::string Ok(const std::vector<std::string>& args)
    {
        const CommandResult r = Cli(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }
    static uint32_t Cnid(const std::string& folder, const std::string& name)
    {
        for (const HlsEntry& e : Volume().tree.at(folder))
            if (e.name == name) return e.cnid;
        ADD_FAILURE() << "hls does not list " << name;
        return 0;
    }

    const std::vector<std::string> known{"Archive", "Sub", "Deeper", "Inner", "Bottom", "alpha", kLeqUtf8, "Beta",
                                         kCafeUtf8, kItsUtf8, "Secret", "Zeta", kDotUtf8};
    std::string image;
    std::string before;
};

TEST_F(CliReadTest, VolumesListsTheVolumeWithItsNameInUtf8)
{
    EXPECT_EQ(Ok({"volumes", image}).rfind("1 0 ", 0), 0u);
    EXPECT_NE(Ok({"volumes", image}).find(" " + kLabelUtf8 + "\n"), std::string::npos);
}

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
    // alpha: type at column 33, creator at 39, the two fork sizes, and the
    // date 0xC2000000 on the Mac clock seven hours behind UTC, which is
    // 2007-02-20 08:31 UTC, as month/day/years since 1900.
    const std::string alpha = "alpha" + std::string(28, ' ') + "APPL  AAAA  5000   100  02/20/107";
    bool sawAlpha = false, sawSub = false;
    for (const std::string& line : Lines(Ok({"ls", image}))) {
        if (line.rfind("alpha ", 0) == 0) {
            EXPECT_EQ(line, alpha);
            sawAlpha = true;
        }
        if (line.rfind("Sub ", 0) == 0) {
            EXPECT_EQ(line.substr(33, 9), " [FOLDER]") << line;
            sawSub = true;
        }
    }
    EXPECT_TRUE(sawAlpha && sawSub);
}

TEST_F(CliReadTest, LsRecursiveGivesOneHeaderPerFolder)
{
    const std::vector<std::string> lines = Lines(Ok({"ls", image, "-R"}));
    std::vector<std::string> headers;
    for (const std::string& line : lines)
        if (!line.empty() && line.back() == ':') headers.push_back(line);
    EXPECT_EQ(headers, (std::vector<std::string>{":", "Archive:", "Sub:", "Sub:Deeper:"}));
    const auto deeper = std::find(lines.begin(), lines.end(), "Sub:Deeper:");
    ASSERT_NE(deeper, lines.end());
    ASSERT_NE(deeper + 1, lines.end());
    EXPECT_EQ((deeper + 1)->rfind("Bottom ", 0), 0u);
    // A folder given by its path lists from there.
    EXPECT_EQ(Names(Ok({"ls", image, "Sub"}), known), (std::vector<std::string>{"Deeper", "Inner"}));
    EXPECT_EQ(Names(Ok({"ls", image, ":sub:DEEPER"}), known), (std::vector<std::string>{"Bottom"}));
}

TEST_F(CliReadTest, CatGivesTheForksHfsutilsGivesForNamesInUtf8)
{
    struct Case {
        std::string mac, argument;
    };
    const std::vector<Case> cases = {{"alpha", ":alpha"},
                                     {kCafe, kCafeUtf8},
                                     {kCafe, "CAF\xc3\x89"},  // capital E acute sorts with e acute
                                     {kDot, ":" + kDotUtf8},
                                     {kIts, kItsUtf8},
                                     {kLeq, kLeqUtf8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argument);
        const MacFileImage& mb = Volume().files.at(c.mac);
        EXPECT_EQ(Sha256Hex(Ok({"cat", image, c.argument})), Sha256Hex(mb.data));
        EXPECT_EQ(Sha256Hex(Ok({"cat", image, c.argument, "--rsrc"})), Sha256Hex(mb.rsrc));
    }
}

TEST_F(CliReadTest, InfoDescribesTheVolumeAndItems)
{
    const std::vector<std::string> volume = Lines(Ok({"info", image}));
    ASSERT_FALSE(volume.empty());
    EXPECT_EQ(volume[0], "Volume: " + kLabelUtf8);

    const std::vector<std::string> cafe = Lines(Ok({"info", image, kCafeUtf8}));
    for (const std::string& want :
         {"Name: " + kCafeUtf8, std::string("Kind: file"), std::string("Type: abcd"), std::string("Creator: MMMM"),
          std::string("Data fork: 42 bytes"), std::string("Resource fork: 7 bytes"),
          "ID: " + std::to_string(Cnid(":", kCafe))})
        EXPECT_NE(std::find(cafe.begin(), cafe.end(), want), cafe.end()) << want;

    const std::vector<std::string> sub = Lines(Ok({"info", image, "Sub"}));
    for (const std::string& want : {std::string("Kind: folder"), std::string("Items: 2"),
                                    "ID: " + std::to_string(Cnid(":", "Sub"))})
        EXPECT_NE(std::find(sub.begin(), sub.end(), want), sub.end()) << want;
}

TEST_F(CliReadTest, UsageErrorsExitWithOne)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"frobnicate", image}, {"ls"}, {"ls", image, "--sort", "colour"}, {"ls", image, "-x"},
             {"ls", image, "--sort"}, {"cat", image}, {"volumes"}, {"info", image, ":a", ":b"}}) {
        const CommandResult r = Cli(args);
        EXPECT_EQ(r.exitCode, 1) << (args.empty() ? "" : args[0]);
        EXPECT_NE(r.err, "");
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(CliReadTest, MissingItemsAndWrongKindsFailWithTwo)
{
    const CommandResult missing = Cli({"cat", image, ":Nope"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err, "quaylink-cli: no such file or folder on the volume: :Nope\n");
    EXPECT_EQ(Cli({"cat", image, ":Sub"}).exitCode, 2);
    EXPECT_EQ(Cli({"ls", image, ":alpha"}).exitCode, 2);
    EXPECT_EQ(Cli({"ls", image, ":alpha:beyond"}).exitCode, 2);
    const CommandResult second = Cli({"ls", image + "@2"});
    EXPECT_EQ(second.exitCode, 2);
    EXPECT_NE(second.err, "");
}

// Images that are not, or no longer, readable volumes.
class CliDamagedImageTest : public CliReadTest {
protected:
    // A copy of the test volume, changed by `damage`.
    std::string Damaged(const std::string& name, void (*damage)(Bytes&))
    {
        Bytes bytes = ReadWholeFile(Volume().image);
        damage(bytes);
        return scratch.WriteFile(name, bytes);
    }
    // Every read command fails on `path` with `message`, and leaves it as it was.
    void ExpectAllFail(const std::string& path, const std::string& message)
    {
        const std::string hash = Sha256File(path);
        for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
                 {"ls", path}, {"ls", path, "-R"}, {"cat", path, ":alpha"}, {"info", path}, {"info", path, ":alpha"}}) {
            SCOPED_TRACE(args[0]);
            const CommandResult r = Cli(args);
            EXPECT_EQ(r.exitCode, 2);
            EXPECT_EQ(r.err, message);
            EXPECT_EQ(r.out, "");
        }
        EXPECT_EQ(Sha256File(path), hash);
    }
    TempDir scratch;
};

TEST_F(CliDamagedImageTest, FileWithoutAVolume)
{
    const std::string zeros = scratch.WriteFile("zeros.img", Bytes(1474560, 0));
    ExpectAllFail(zeros, kNoVolume);
    const CommandResult volumes = Cli({"volumes", zeros});
    EXPECT_EQ(volumes.exitCode, 2);
    EXPECT_EQ(volumes.err, kNoVolume);
}

TEST_F(CliDamagedImageTest, MissingAndTruncatedFilesAreReadErrors)
{
    ExpectAllFail(scratch.PathOf("no such file.img"), kReadError);
    // Too short to hold the master directory block.
    ExpectAllFail(Damaged("short.img", [](Bytes& b) { b.resize(700); }), kReadError);
    // The master directory block is there; the B-trees it points to are not.
    ExpectAllFail(Damaged("cut.img", [](Bytes& b) { b.resize(1536); }), kReadError);
}

TEST_F(CliDamagedImageTest, AllocationBlocksBelowFiveHundredTwelveBytesAreNoVolume)
{
    const std::string path = Damaged("small-blocks.img", [](Bytes& b) {
        b[1024 + 20] = 0;
        b[1024 + 21] = 0;
        b[1024 + 22] = 1;  // 256 bytes
        b[1024 + 23] = 0;
    });
    ExpectAllFail(path, kNoVolume);
}

TEST_F(CliDamagedImageTest, JunkInTheCatalogRootNodeIsADamagedDisk)
{
    const std::string path = Damaged("junk-root.img", [](Bytes& b) {
        auto be16 = [&](size_t at) { return static_cast<uint32_t>((b[at] << 8) | b[at + 1]); };
        auto be32 = [&](size_t at) { return (be16(at) << 16) | be16(at + 2); };
        const size_t mdb = 1024;
        const size_t header = be16(mdb + 28) * size_t{512} + be16(mdb + 150) * size_t{be32(mdb + 20)};
        const size_t root = header + be32(header + 16) * size_t{512};
        ASSERT_LT(root + 512, b.size());
        for (size_t i = 0; i < 512; ++i) b[root + i] = static_cast<uint8_t>(0xA5 ^ (i * 7));
    });
    ExpectAllFail(path, kBadNode);
}

TEST_F(CliDamagedImageTest, ImageWithoutABackupMasterBlockIsReadAndLeftAlone)
{
    const std::string path = Damaged("no-backup.img", [](Bytes& b) {
        // The spare copy of the master directory block, second to last block.
        const size_t spare = b.size() - 1024;
        ASSERT_EQ(b[spare], 'B');
        ASSERT_EQ(b[spare + 1], 'D');
        std::fill(b.begin() + static_cast<long>(spare), b.begin() + static_cast<long>(spare + 512), 0);
    });
    const std::string hash = Sha256File(path);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"volumes", path}, {"ls", path, "-R", "-a"}, {"cat", path, kCafeUtf8}, {"cat", path, "alpha", "--rsrc"},
             {"info", path}, {"info", path, "Sub"}}) {
        SCOPED_TRACE(args[0]);
        const CommandResult r = Cli(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out, "");
    }
    EXPECT_EQ(Sha256File(path), hash);
    EXPECT_EQ(Sha256Hex(Cli({"cat", path, kCafeUtf8}).out), Sha256Hex(Volume().files.at(kCafe).data));
}

}  // namespace
