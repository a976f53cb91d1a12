// Real disk images and encoded files of the shared corpus against what is
// recorded beside them: the hfsutils listings (expected/<image>.hls.txt) and
// MANIFEST.md's decoded forks. Skipped when the corpus is not there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "core/prefs.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "support/engine_state.h"
#include "support/engine_tree.h"
#include "support/hfsutils_driver.h"
#include "support/sha256.h"
#include "support/translator_fixture.h"
#include "translate/translators.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kCorpus = QUAYLINK_CORPUS_DIR;

// "\xNN" escapes of the recorded texts back to bytes.
std::string Unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size() && std::isxdigit(text[i + 2]) &&
            std::isxdigit(text[i + 3])) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Four Mac characters, each plain or escaped.
const std::string kFourChars = "((?:\\\\x[0-9a-f]{2}|.){4})";

struct ExpectedItem {
    bool folder = false;
    uint32_t cnid = 0, dataLength = 0, rsrcLength = 0;
    uint16_t finderFlags = 0;
    std::string path;            // Mac characters, ":A:B"
    std::string type, creator;
    std::string modified;        // "YYYY-MM-DD HH:MM:SS" from the 1904 epoch without any zone, or "0"
    std::string dataSha, rsrcSha;
};

struct ExpectedImage {
    std::string volumeName;
    std::optional<uint32_t> partitionStart;  // 512-byte block, for a partitioned image
    size_t files = 0, folders = 0;           // below the root
    std::vector<ExpectedItem> items;
};

// "d ID PATH", or "f ID PATH | TYPE CREATOR 0xFLAGS | DATA RSRC | CREATED MODIFIED | DATASHA RSRCSHA".
bool ParseItem(const std::string& line, ExpectedItem* item)
{
    static const std::regex folder("d (\\d+) (.*)");
    static const std::regex file("f (\\d+) (.*) \\| " + kFourChars + " " + kFourChars +
                                 " 0x([0-9a-f]{4}) \\| (\\d+) (\\d+) \\| .*?(0|[-0-9]+ [:0-9]+) \\| ([0-9a-f]{64}) "
                                 "([0-9a-f]{64})");
    std::smatch m;
    item->folder = std::regex_match(line, m, folder);
    if (!item->folder && !std::regex_match(line, m, file)) return false;
    item->cnid = static_cast<uint32_t>(std::stoul(m.str(1)));
    item->path = Unescape(m.str(2));
    if (item->folder) return true;
    item->type = Unescape(m.str(3));
    item->creator = Unescape(m.str(4));
    item->finderFlags = static_cast<uint16_t>(std::stoul(m.str(5), nullptr, 16));
    item->dataLength = static_cast<uint32_t>(std::stoul(m.str(6)));
    item->rsrcLength = static_cast<uint32_t>(std::stoul(m.str(7)));
    item->modified = m.str(8);
    item->dataSha = m.str(9);
    item->rsrcSha = m.str(10);
    return true;
}

bool ParseExpected(const std::string& path, ExpectedImage* out, std::string* why)
{
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("volume name (MDB): ", 0) == 0) out->volumeName = Unescape(line.substr(19));
        if (line.rfind("listing HFS partition", 0) == 0 && line.find("byte offset ") != std::string::npos)
            out->partitionStart = static_cast<uint32_t>(std::stoull(line.substr(line.find("byte offset ") + 12)) / 512);
        std::sscanf(line.c_str(), "## forks via hcopy -m: %zu files, %zu folders", &out->files, &out->folders);
        if (line.rfind("f ", 0) != 0 && line.rfind("d ", 0) != 0) continue;
        out->items.emplace_back();
        if (!ParseItem(line, &out->items.back())) {
            *why = "bad line: " + line;
            return false;
        }
    }
    *why = "no volume name";
    return !out->volumeName.empty();
}

// The pane's packed date of "YYYY-MM-DD HH:MM:SS".
std::optional<uint32_t> PaneDate(const std::string& text)
{
    std::tm tm{};
    if (text == "0") return 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                    &tm.tm_sec) != 6 ||
        tm.tm_year < 1981 || tm.tm_year > 2106)
        return std::nullopt;
    return (uint32_t(tm.tm_year - 1980) << 25) | (uint32_t(tm.tm_mon) << 21) | (uint32_t(tm.tm_mday) << 16) |
           (uint32_t(tm.tm_hour) << 11) | (uint32_t(tm.tm_min) << 5) | uint32_t(tm.tm_sec / 2);
}

// The corpus file a listing "<name>.hls.txt" describes, in any of its folders.
std::optional<fs::path> FindImage(const std::string& name)
{
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(kCorpus, error))
        if (entry.is_regular_file() && entry.path().filename() == name && entry.path().parent_path().filename() != "expected")
            return entry.path();
    return std::nullopt;
}

std::vector<std::string> ListingNames()
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(kCorpus / "expected", error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 8 && name.compare(name.size() - 8, 8, ".hls.txt") == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A gzipped image unpacked into `dir`; others as they are.
std::optional<std::string> UsableImage(const fs::path& image, const TempDir& dir)
{
    if (image.extension() != ".gz") return image.string();
    CommandOptions options;
    options.outFile = dir.PathOf(image.stem().string());
    if (RunCommand({"gzip", "-dc", image.string()}, options).exitCode != 0) return std::nullopt;
    return options.outFile;
}

class CorpusImageTest : public EngineStateTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(CorpusImageTest, ReadsAsRecorded)
{
    const std::string listing = GetParam();
    const std::string imageName = listing.substr(0, listing.size() - 8);
    const std::optional<fs::path> source = FindImage(imageName);
    ASSERT_TRUE(source) << imageName << " is not in the corpus";
    ExpectedImage expected;
    std::string why;
    ASSERT_TRUE(ParseExpected((kCorpus / "expected" / listing).string(), &expected, &why)) << why;
    TempDir dir;
    const std::optional<std::string> image = UsableImage(*source, dir);
    ASSERT_TRUE(image) << "cannot unpack " << *source;
    const Bytes before = ReadFileBytes(*image);

    ASSERT_TRUE(OpenImageAsMacDrive(image->c_str(), false)) << "status " << StatusCode;
    unsigned index = MacPaneState.count;
    for (unsigned i = 0; i < MacPaneState.count; ++i)
        if (MacPaneState.items[i]->size == expected.partitionStart.value_or(0)) index = i;
    ASSERT_LT(index, MacPaneState.count) << "no volume at block " << expected.partitionStart.value_or(0);
    if (!expected.partitionStart) {
        EXPECT_EQ(MacPaneState.count, 1u);
    }
    const MacItem* volume = MacPaneState.items[index];
    EXPECT_EQ(Printable(std::string(reinterpret_cast<const char*>(volume->name + 1), volume->name[0])),
              Printable(expected.volumeName));

    CurrentOptions.hideInvisible = false;
    ASSERT_TRUE(OpenListedVolume(index)) << "status " << StatusCode;
    EngineTree tree;
    ASSERT_TRUE(ListEngineTree(&tree)) << "status " << StatusCode;
    std::map<std::string, std::pair<const EngineEntry*, uint32_t>> byPath;  // the entry and its folder's ID
    size_t files = 0, folders = 0;
    for (const auto& [path, folder] : tree) {
        for (const EngineEntry& e : folder.items) {
            byPath[JoinMacPath(path, e.name)] = {&e, folder.id};
            (e.folder ? folders : files) += 1;
        }
    }
    EXPECT_EQ(files, expected.files);
    EXPECT_EQ(folders, expected.folders);
    ASSERT_EQ(expected.items.size(), expected.files + expected.folders);

    for (const ExpectedItem& want : expected.items) {
        SCOPED_TRACE(Printable(want.path));
        auto it = byPath.find(want.path);
        ASSERT_NE(it, byPath.end()) << "not listed";
        const EngineEntry& got = *it->second.first;
        EXPECT_EQ(got.folder, want.folder);
        EXPECT_EQ(got.id, want.cnid);
        if (want.folder) continue;
        EXPECT_EQ(Printable(got.type + got.creator), Printable(want.type + want.creator));
        EXPECT_EQ(got.finderFlags, want.finderFlags);
        EXPECT_EQ(got.dataLength, want.dataLength);
        EXPECT_EQ(got.rsrcLength, want.rsrcLength);
        if (const std::optional<uint32_t> date = PaneDate(want.modified)) {
            EXPECT_EQ(got.date, *date) << want.modified;
        }
        Bytes data, rsrc;
        ASSERT_TRUE(ReadEngineFork(it->second.second, got.name, kDataFork, &data)) << "status " << StatusCode;
        ASSERT_TRUE(ReadEngineFork(it->second.second, got.name, kResourceFork, &rsrc)) << "status " << StatusCode;
        EXPECT_EQ(Sha256Hex(data), want.dataSha);
        EXPECT_EQ(Sha256Hex(rsrc), want.rsrcSha);
    }
    EXPECT_EQ(StatusCode, 0u);
    const std::map<std::string, std::vector<std::string>> knownProblems = {
        {"complex.img.gz",
         {"catalog: the thread record of folder \"Drive Setup f\" (ID 119) gives parent 50 and name "
          "\"Drive Setup \\x0F\", its record parent 50"}},
        {"hello-world-untitled-volume.img", {"MDB: the volume is marked inconsistent (attributes 0x0900)"}},
    };
    std::vector<std::string> problems;
    CheckVolume(&problems);
    const auto known = knownProblems.find(imageName);
    EXPECT_EQ(problems, known == knownProblems.end() ? std::vector<std::string>{} : known->second);
    CloseMacDrive();
    EXPECT_TRUE(ReadFileBytes(*image) == before) << "reading changed the image";
}

std::string ParamName(const ::testing::TestParamInfo<std::string>& info)
{
    std::string name;
    for (char c : info.param.substr(0, info.param.size() - 8)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusImageTest, ::testing::ValuesIn(ListingNames()), ParamName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusImageTest);

class CorpusTest : public EngineStateTest {
protected:
    void SetUp() override
    {
        EngineStateTest::SetUp();
        if (!fs::is_directory(kCorpus)) GTEST_SKIP() << "the corpus folder " << kCorpus << " is absent";
    }
    static CommandResult Cli(std::vector<std::string> args)
    {
        args.insert(args.begin(), QUAYLINK_CLI_PATH);
        return RunCommand(args);
    }
};

// Images the scan lists by what they hold, each with the reason it opens no volume.
TEST_F(CorpusTest, VolumesThatCannotBeOpenedAreListedWithTheReason)
{
    TempDir dir;
    const std::string wrapped = (kCorpus / "cp2" / "MCUS  Free Software Disk.img.bin").string();
    MacFileImage file;
    ASSERT_TRUE(ReadMacBinary(ReadFileBytes(wrapped), &file));
    const std::string mfs = "an MFS volume (the 400K diskette format)";
    const std::string past = "its partition starts at block 1824, past the end of the disk (1824 blocks)";
    const std::string pastImage = (kCorpus / "imac" / "Device Image Header (All Drivers).hda").string();
    const struct {
        std::string image, volumes, ls;
    } cases[] = {
        {*UsableImage(kCorpus / "cp2" / "Workstation Installer.IMG.gz", dir), "(not opened: " + mfs,
         "No Mac HFS volumes found: @1: " + mfs + ", which this program does not read\n"},
        {dir.WriteFile("mcus.img", file.data), "(not opened: " + mfs,
         "No Mac HFS volumes found: @1: " + mfs + ", which this program does not read\n"},
        {wrapped, "", "No Mac HFS volumes found: \n"},
        {pastImage, "1 1824 407824 Untitled (not opened: " + past + ")\n", "Error reading Mac disk: @1: " + past + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        EXPECT_NE(Cli({"volumes", c.image}).out.find(c.volumes), std::string::npos);
        const CommandResult ls = Cli({"ls", c.image});
        EXPECT_EQ(ls.exitCode, 2);
        std::string said = ls.err;
        const size_t at = said.find(c.image);
        if (at != std::string::npos) said.erase(at, c.image.size());
        EXPECT_EQ(said, c.ls);
        EXPECT_EQ(ls.out, "");
    }
}

// Reads `count` blocks from `first`, calling again for the rest.
Bytes ReadRun(DriveEntry* drive, uint32_t first, uint32_t count)
{
    Bytes out(size_t{count} * 512);
    uint32_t done = 0;
    while (done < count) {
        const int32_t got = drive->ReadSectors(out.data() + size_t{done} * 512,
                                               static_cast<uint16_t>(std::min(count - done, 64u)), first + done, drive);
        if (got <= 0) break;
        done += static_cast<uint32_t>(got);
    }
    out.resize(size_t{done} * 512);
    return out;
}

// A DiskCopy 4.2 image with tags: the drive's blocks are its data area
// alone, and writing back what is there leaves the file as it was (its
// checksum recomputed to itself).
TEST_F(CorpusTest, DiskCopyImageKeepsItsTagsAndItsValidChecksum)
{
    const Bytes original = ReadFileBytes((kCorpus / "cp2" / "Installer Disk 1.image").string());
    for (uint32_t sectorSize : {512u, 2048u}) {
        ResetProgramState();
        TempImage image(original, sectorSize, true, "copy.dsk");
        ASSERT_NE(image.drive, nullptr);
        EXPECT_EQ(image.Slot().dataLength, 819200u);
        EXPECT_TRUE(ReadRun(image.drive, 0, 1600) == Bytes(original.begin() + 84, original.begin() + 84 + 819200));
        EXPECT_EQ(ReadRun(image.drive, 1600, 1).size(), 0u);  // the tags are not blocks
        StatusCode = 0;
        Bytes first = ReadRun(image.drive, 0, 5);
        EXPECT_EQ(image.drive->WriteSectors(first.data(), 5, 0, image.drive), sectorSize == 512 ? 5 : 4);
        CloseImage(image.slot);
        EXPECT_TRUE(image.Bytes() == original);
    }
}

// What `info` and `check` say about a DiskCopy image, then what a write does.
TEST_F(CorpusTest, DiskCopyProblemsAreReportedAndAWriteStoresTheRightChecksum)
{
    TempDir dir;
    Bytes original = ReadFileBytes((kCorpus / "imac" / "System 7.1.2 Disk Tools FD.badsum-810cb28e.dsk").string());
    const std::string badSum = dir.WriteFile("copy.dsk", original);
    original.resize(original.size() + 1000, 0xA5);  // the header's sizes no longer add up
    const std::string cut = dir.WriteFile("appended.dsk", original);
    const auto run = [](const std::vector<std::string>& args) {
        const CommandResult r = Cli(args);
        return std::to_string(r.exitCode) + " " + r.out + r.err;
    };
    const std::string stale = "Image warning: the DiskCopy 4.2 data checksum stored in the image (E73C0E60) does not "
                              "match its data (D7230362)\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> steps = {
        {{"info", badSum}, stale},
        {{"check", badSum}, "0 " + stale},
        {{"mkdir", badSum, ":New"}, "0 "},
        {{"check", badSum}, "0 " + badSum + "@1: volume Disk Tools is consistent"},
        {{"ls", cut}, "2 No Mac HFS volumes found: " + cut +
                          ": the file starts with a DiskCopy 4.2 header whose sizes (1474560 bytes of disk data, 0 of "
                          "tags) do not match the 1475560 bytes after it\n"},
    };
    for (const auto& [args, wanted] : steps) {
        const std::string said = run(args);
        EXPECT_NE(said.find(wanted), std::string::npos) << args[0] << ": " << said;
    }
    EXPECT_EQ(run({"info", badSum}).find("Image warning"), std::string::npos);
}

struct EncodedFile {
    std::string path;            // relative to the corpus folder
    std::string name, type, creator;
    uint16_t flags = 0;
    std::map<std::string, std::pair<uint32_t, std::string>> forks;  // "data"/"rsrc": length and SHA-256
};

// The BinHex and MacBinary files MANIFEST.md describes, with what its own
// decoder found in them.
std::vector<EncodedFile> ReadManifest()
{
    static const std::regex header("### (.*\\.(hqx|bin))");
    static const std::regex name("  - own (?:decode|parse): name (.*?)(?: \\(len \\d+\\))?, (?:version \\d+, )?type " +
                                 kFourChars + " creator " + kFourChars + ", (?:finder )?flags 0x([0-9a-f]{4}).*");
    static const std::regex fork("  - own (?:decode|parse): (data|rsrc) (\\d+) bytes.* sha256 ([0-9a-f]{64})");
    std::vector<EncodedFile> files;
    std::ifstream in(kCorpus / "MANIFEST.md");
    std::smatch m;
    bool inFile = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("### ", 0) == 0) {
            inFile = std::regex_match(line, m, header);
            if (inFile) files.push_back({m.str(1), "", "", "", 0, {}});
        } else if (inFile && std::regex_match(line, m, name)) {
            EncodedFile& f = files.back();
            f.name = m.str(1);
            f.type = Unescape(m.str(2));
            f.creator = Unescape(m.str(3));
            f.flags = static_cast<uint16_t>(std::stoul(m.str(4), nullptr, 16));
        } else if (inFile && std::regex_match(line, m, fork)) {
            files.back().forks[m.str(1)] = {static_cast<uint32_t>(std::stoul(m.str(2))), m.str(3)};
        }
    }
    return files;
}

class TranslatorCorpus : public TranslatorTest {};

TEST_F(TranslatorCorpus, EveryEncodedFileDecodesToItsRecordedForks)
{
    if (!fs::exists(kCorpus / "MANIFEST.md")) GTEST_SKIP() << "corpus not present at " << kCorpus;
    if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils not installed";
    const std::vector<EncodedFile> files = ReadManifest();
    unsigned hqx = 0;
    for (const EncodedFile& file : files) {
        SCOPED_TRACE(file.path);
        ASSERT_FALSE(file.name.empty());
        ASSERT_EQ(file.forks.size(), 2u);
        const bool binHex = file.path.substr(file.path.size() - 4) == ".hqx";
        hqx += binHex;
        const std::string pcName = binHex ? "in.hqx" : "in.bin";
        WritePc(pcName, ReadFileBytes((kCorpus / file.path).string()));
        HfsUtils hfs;
        const std::string image = images.PathOf("corpus.img");
        ASSERT_TRUE(hfs.Format(image, "Corpus", 4ull << 20)) << hfs.LastError();
        ASSERT_TRUE(OpenVolumeFile(image));
        (binHex ? BinHexPcToMac : MacBinaryPcToMac)(pcName.c_str(), kRootFolderId);
        ASSERT_EQ(FinishCommand(), 0u);
        MacFileImage got;
        ASSERT_TRUE(ReadMacFile(kRootFolderId, file.name, &got));
        EXPECT_EQ(got.type + got.creator, file.type + file.creator);
        EXPECT_EQ(got.finderFlags, file.flags);
        EXPECT_EQ(got.data.size(), file.forks.at("data").first);
        EXPECT_EQ(got.rsrc.size(), file.forks.at("rsrc").first);
        std::string why;
        EXPECT_TRUE(VolumeClean(&why)) << why;
        CloseVolume();
        fs::remove(PcPath(pcName));
        // What we decoded, as hfsutils reads it from the volume we wrote.
        ASSERT_TRUE(hfs.Mount(image) && hfs.GetMacBinary(":" + file.name, &got)) << hfs.LastError();
        EXPECT_EQ(Sha256Hex(got.data), file.forks.at("data").second);
        EXPECT_EQ(Sha256Hex(got.rsrc), file.forks.at("rsrc").second);
    }
    EXPECT_GT(hqx, 0u);
    EXPECT_LT(hqx, files.size());
}

}  // namespace
