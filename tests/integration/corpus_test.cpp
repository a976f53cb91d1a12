// Real HFS images of the shared corpus against the listings recorded beside
// them (expected/<image>.hls.txt). Skipped when the corpus is not there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/prefs.h"
#include "core/status.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "support/engine_state.h"
#include "support/engine_tree.h"
#include "support/macbinary_file.h"
#include "support/run_command.h"
#include "support/sha256.h"
#include "support/temp_image.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kCorpus = QUAYLINK_CORPUS_DIR;

// \xNN escapes of the recorded listings back to bytes.
std::string Unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && std::isxdigit(text[i + 2]) &&
            std::isxdigit(text[i + 3])) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Takes `count` characters (an escape counts as one) from the front of `text`.
std::string TakeChars(std::string* text, size_t count)
{
    std::string raw;
    size_t i = 0;
    for (size_t n = 0; n < count && i < text->size(); ++n) {
        const size_t width = ((*text)[i] == '\\' && i + 1 < text->size() && (*text)[i + 1] == 'x') ? 4 : 1;
        raw += text->substr(i, width);
        i += width;
    }
    text->erase(0, i);
    return Unescape(raw);
}

struct ExpectedItem {
    bool folder = false;
    uint32_t cnid = 0;
    std::string path;            // Mac characters, ":A:B"
    std::string type, creator;   // four Mac characters each
    uint16_t finderFlags = 0;
    uint32_t dataLength = 0, rsrcLength = 0;
    std::string modified;        // "YYYY-MM-DD HH:MM:SS", from the 1904 epoch without any zone
    std::string dataSha, rsrcSha;
};

struct ExpectedImage {
    std::string volumeName;
    std::optional<uint32_t> partitionStart;  // 512-byte block, for a partitioned image
    size_t files = 0, folders = 0;           // below the root
    std::vector<ExpectedItem> items;
};

std::vector<std::string> Split(const std::string& text, const std::string& separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + separator.size();
    }
}

bool ParseItem(const std::string& line, ExpectedItem* item)
{
    std::vector<std::string> fields = Split(line, " | ");
    if (fields.empty()) return false;
    // "f 21 :Name" / "d 16 :Name"
    const std::string& head = fields[0];
    const size_t space = head.find(' ', 2);
    if (head.size() < 4 || space == std::string::npos) return false;
    item->folder = head[0] == 'd';
    item->cnid = static_cast<uint32_t>(std::stoul(head.substr(2, space - 2)));
    if (item->folder) {
        item->path = Unescape(line.substr(space + 1));
        return true;
    }
    if (fields.size() < 5) return false;
    // A " | " inside a name would split it: the last four fields are fixed.
    std::string pathText = head.substr(space + 1);
    for (size_t i = 1; i + 4 < fields.size(); ++i) pathText += " | " + fields[i];
    item->path = Unescape(pathText);
    const size_t n = fields.size();
    std::string info = fields[n - 4];
    item->type = TakeChars(&info, 4);
    if (info.empty() || info[0] != ' ') return false;
    info.erase(0, 1);
    item->creator = TakeChars(&info, 4);
    if (info.size() < 2 || info[0] != ' ') return false;
    item->finderFlags = static_cast<uint16_t>(std::stoul(info.substr(1), nullptr, 16));
    const std::vector<std::string> lengths = Split(fields[n - 3], " ");
    // Each date is "YYYY-MM-DD HH:MM:SS", or "0" for none.
    const std::vector<std::string> words = Split(fields[n - 2], " ");
    std::vector<std::string> dates;
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "0" || i + 1 >= words.size()) {
            dates.push_back(words[i]);
        } else {
            dates.push_back(words[i] + " " + words[i + 1]);
            ++i;
        }
    }
    const std::vector<std::string> hashes = Split(fields[n - 1], " ");
    if (lengths.size() != 2 || dates.size() != 2 || hashes.size() != 2) return false;
    item->dataLength = static_cast<uint32_t>(std::stoul(lengths[0]));
    item->rsrcLength = static_cast<uint32_t>(std::stoul(lengths[1]));
    item->modified = dates[1];
    item->dataSha = hashes[0];
    item->rsrcSha = hashes[1];
    return true;
}

bool ParseExpected(const std::string& text, ExpectedImage* out, std::string* why)
{
    bool inForks = false;
    for (const std::string& line : Split(text, "\n")) {
        if (line.rfind("volume name (MDB): ", 0) == 0) {
            out->volumeName = Unescape(line.substr(19));
        } else if (line.rfind("listing HFS partition", 0) == 0) {
            const size_t at = line.find("byte offset ");
            if (at == std::string::npos) return false;
            out->partitionStart = static_cast<uint32_t>(std::stoull(line.substr(at + 12)) / 512);
        } else if (line.rfind("## forks via hcopy -m: ", 0) == 0) {
            inForks = true;
            if (std::sscanf(line.c_str(), "## forks via hcopy -m: %zu files, %zu folders", &out->files, &out->folders) !=
                2) {
                *why = "bad line: " + line;
                return false;
            }
        } else if (line.rfind("##", 0) == 0) {
            inForks = false;
        } else if (inForks && (line.rfind("f ", 0) == 0 || line.rfind("d ", 0) == 0)) {
            ExpectedItem item;
            if (!ParseItem(line, &item)) {
                *why = "bad line: " + line;
                return false;
            }
            out->items.push_back(item);
        }
    }
    if (out->volumeName.empty()) {
        *why = "no volume name";
        return false;
    }
    return true;
}

std::optional<uint32_t> PaneDate(const std::string& text)
{
    std::tm tm{};
    if (text == "0") return 0;  // no date
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                    &tm.tm_sec) != 6)
        return std::nullopt;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    const time_t shifted = timegm(&tm);
    std::tm p{};
    if (!gmtime_r(&shifted, &p) || p.tm_year < 81 || p.tm_year > 206) return std::nullopt;
    return (uint32_t(p.tm_year - 80) << 25) | (uint32_t(p.tm_mon + 1) << 21) | (uint32_t(p.tm_mday) << 16) |
           (uint32_t(p.tm_hour) << 11) | (uint32_t(p.tm_min) << 5) | uint32_t(p.tm_sec / 2);
}

// The image a listing describes: "<name>.hls.txt" describes the corpus file
// <name> in any of its folders.
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
    const CommandResult result = RunCommand({"gzip", "-dc", image.string()}, options);
    if (result.exitCode != 0) return std::nullopt;
    return options.outFile;
}

class CorpusImageTest : public EngineStateTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(CorpusImageTest, ReadsAsRecorded)
{
    const std::string listing = GetParam();
    const std::string imageName = listing.substr(0, listing.size() - 8);
    const std::optional<fs::path> source = FindImage(imageName);
    if (!source) GTEST_SKIP() << imageName << " is not in the corpus";
    ExpectedImage expected;
    std::string why;
    const Bytes listingBytes = ReadFileBytes((kCorpus / "expected" / listing).string());
    ASSERT_TRUE(ParseExpected(std::string(listingBytes.begin(), listingBytes.end()), &expected, &why)) << why;

    TempDir dir;
    const std::optional<std::string> image = UsableImage(*source, dir);
    ASSERT_TRUE(image) << "cannot unpack " << *source;
    const std::string before = Sha256File(*image);

    ASSERT_TRUE(OpenImageAsMacDrive(image->c_str(), false)) << "status " << StatusCode;
    unsigned index = 0;
    if (expected.partitionStart) {
        bool found = false;
        for (unsigned i = 0; i < MacPaneState.count; ++i) {
            if (MacPaneState.items[i]->size == *expected.partitionStart) {
                index = i;
                found = true;
            }
        }
        ASSERT_TRUE(found) << "no volume at block " << *expected.partitionStart;
    } else {
        ASSERT_EQ(MacPaneState.count, 1u);
        EXPECT_EQ(MacPaneState.items[0]->size, 0u);
    }
    const MacItem* volume = MacPaneState.items[index];
    EXPECT_EQ(Printable(std::string(reinterpret_cast<const char*>(volume->name + 1), volume->name[0])),
              Printable(expected.volumeName));

    CurrentOptions.hideInvisible = false;
    ASSERT_TRUE(OpenListedVolume(index)) << "status " << StatusCode;
    EngineTree tree;
    ASSERT_TRUE(ListEngineTree(&tree)) << "status " << StatusCode;

    struct Found {
        const EngineEntry* entry;
        uint32_t parentId;
    };
    std::map<std::string, Found> byPath;
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
        const EngineEntry& got = *it->second.entry;
        EXPECT_EQ(got.folder, want.folder);
        EXPECT_EQ(got.id, want.cnid);
        if (want.folder) continue;
        EXPECT_EQ(Printable(got.type), Printable(want.type));
        EXPECT_EQ(Printable(got.creator), Printable(want.creator));
        EXPECT_EQ(got.finderFlags, want.finderFlags);
        EXPECT_EQ(got.dataLength, want.dataLength);
        EXPECT_EQ(got.rsrcLength, want.rsrcLength);
        if (const std::optional<uint32_t> date = PaneDate(want.modified)) {
            EXPECT_EQ(got.date, *date) << "modified " << want.modified;
        }
        Bytes data, rsrc;
        ASSERT_TRUE(ReadEngineFork(it->second.parentId, got.name, kDataFork, &data)) << "status " << StatusCode;
        ASSERT_TRUE(ReadEngineFork(it->second.parentId, got.name, kResourceFork, &rsrc)) << "status " << StatusCode;
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
    EXPECT_EQ(Sha256File(*image), before) << "reading changed the image";
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
    // The status of opening `path` as the Mac drive.
    static uint32_t OpenStatus(const std::string& path)
    {
        OpenImageAsMacDrive(path.c_str(), false);
        const uint32_t status = StatusCode;
        CloseMacDrive();
        StatusCode = 0;
        return status;
    }
    static CommandResult CliLs(const std::string& path) { return RunCommand({QUAYLINK_CLI_PATH, "ls", path}); }
};

TEST_F(CorpusTest, EveryListingHasItsImage)
{
    const std::vector<std::string> names = ListingNames();
    EXPECT_GE(names.size(), 16u);
    for (const std::string& listing : names)
        EXPECT_TRUE(FindImage(listing.substr(0, listing.size() - 8))) << listing;
}

TEST_F(CorpusTest, MfsImagesAreListedByWhatTheyHoldAndNotOpened)
{
    TempDir dir;
    std::vector<std::string> images;
    if (auto gz = UsableImage(kCorpus / "cp2" / "Workstation Installer.IMG.gz", dir)) images.push_back(*gz);
    const std::string wrapped = (kCorpus / "cp2" / "MCUS  Free Software Disk.img.bin").string();
    MacFileImage file;
    ASSERT_TRUE(ReadMacBinary(ReadFileBytes(wrapped), &file));
    images.push_back(dir.WriteFile("mcus.img", file.data));
    ASSERT_EQ(images.size(), 2u);
    for (const std::string& image : images) {
        SCOPED_TRACE(image);
        const CommandResult ls = CliLs(image);
        EXPECT_EQ(ls.exitCode, 2);
        EXPECT_EQ(ls.err, "No Mac HFS volumes found: " + image +
                              "@1: an MFS volume (the 400K diskette format), which this program does not read\n");
        EXPECT_EQ(ls.out, "");
        const CommandResult volumes = RunCommand({QUAYLINK_CLI_PATH, "volumes", image});
        EXPECT_NE(volumes.out.find(" (not opened: an MFS volume (the 400K diskette format)"), std::string::npos)
            << volumes.out;
    }
    EXPECT_EQ(OpenStatus(wrapped), kStatusNoVolume);
    EXPECT_EQ(CliLs(wrapped).err, "No Mac HFS volumes found: " + wrapped + "\n");
}

TEST_F(CorpusTest, PartitionWhoseVolumeLiesPastTheEndIsListedAsUnreadable)
{
    const std::string image = (kCorpus / "imac" / "Device Image Header (All Drivers).hda").string();
    EXPECT_EQ(OpenStatus(image), 0u);
    const CommandResult volumes = RunCommand({QUAYLINK_CLI_PATH, "volumes", image});
    EXPECT_EQ(volumes.out, "1 1824 407824 Untitled (not opened: its partition starts at block 1824, past the end of "
                           "the disk (1824 blocks))\n");
    const CommandResult ls = CliLs(image);
    EXPECT_EQ(ls.exitCode, 2);
    EXPECT_EQ(ls.err, "Error reading Mac disk: " + image +
                          "@1: its partition starts at block 1824, past the end of the disk (1824 blocks)\n");
}

TEST_F(CorpusTest, PartitionedImageListsEveryVolumeAndReadsItByIndex)
{
    const std::string image = (kCorpus / "cp2" / "apm-prodos-hfs.iso").string();
    ASSERT_TRUE(OpenImageAsMacDrive(image.c_str(), false)) << "status " << StatusCode;
    // One HFS partition among ProDOS and the map itself: map entry 2, blocks 1604 to 3203.
    ASSERT_EQ(MacPaneState.count, 1u);
    EXPECT_EQ(MacPaneState.items[0]->kind, kItemVolume);
    EXPECT_EQ(MacPaneState.items[0]->size, 1604u);
    EXPECT_EQ(MacPaneState.items[0]->resourceSize, 1600u);
    ASSERT_TRUE(OpenListedVolume(0)) << "status " << StatusCode;
    EXPECT_EQ(MacVolume.partitionStart, 1604u);
    CloseMacDrive();

    const CommandResult volumes = RunCommand({QUAYLINK_CLI_PATH, "volumes", image});
    EXPECT_EQ(volumes.exitCode, 0) << volumes.err;
    EXPECT_EQ(volumes.out, "1 1604 1600 New Disk\n");
    const CommandResult cat = RunCommand({QUAYLINK_CLI_PATH, "cat", image + "@1", ":HardPressed.CDV", "--rsrc"});
    EXPECT_EQ(cat.exitCode, 0) << cat.err;
    EXPECT_EQ(Sha256Hex(cat.out), "468ee4800dee15ced52ed379cf8e972f165176c898b0f3a6e728c78a200fda51");
    const CommandResult missing = RunCommand({QUAYLINK_CLI_PATH, "ls", image + "@2"});
    EXPECT_EQ(missing.exitCode, 1);
}

}  // namespace
