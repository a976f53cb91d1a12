// The corpus's BinHex and MacBinary files decode to the forks MANIFEST.md
// records; hfsutils reads back what we wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hfs/volume.h"
#include "support/hfsutils_driver.h"
#include "support/sha256.h"
#include "support/translator_fixture.h"
#include "translate/translators.h"

namespace {

namespace fs = std::filesystem;

struct ForkFact {
    bool known = false;
    uint32_t length = 0;
    std::string sha256;
};

struct CorpusFile {
    std::string path;            // relative to the corpus folder
    bool binHex = false;         // else MacBinary
    std::string name;            // Mac name
    std::string type;
    std::string creator;
    uint16_t flags = 0;
    bool flagsKnown = false;
    ForkFact data;
    ForkFact rsrc;
};

std::string CorpusDir() { return QUAYLINK_CORPUS_DIR; }

// Four characters as MANIFEST writes them: plain, or "\x00" escapes.
bool TakeFourCharacters(const std::string& line, size_t* at, std::string* out)
{
    out->clear();
    while (out->size() < 4 && *at < line.size()) {
        if (line.compare(*at, 2, "\\x") == 0 && *at + 4 <= line.size()) {
            out->push_back(static_cast<char>(std::stoi(line.substr(*at + 2, 2), nullptr, 16)));
            *at += 4;
        } else {
            out->push_back(line[(*at)++]);
        }
    }
    return out->size() == 4;
}

// "type T creator C, flags 0xNNNN" (BinHex) or "type T creator C, finder flags 0xNNNN" (MacBinary).
void ParseTypeCreatorFlags(const std::string& line, CorpusFile* file)
{
    size_t at = line.find(", type ");
    if (at == std::string::npos) return;
    at += 7;
    if (!TakeFourCharacters(line, &at, &file->type)) return;
    if (line.compare(at, 9, " creator ") != 0) return;
    at += 9;
    if (!TakeFourCharacters(line, &at, &file->creator)) return;
    const size_t flags = line.find("flags 0x", at);
    if (flags == std::string::npos) return;
    file->flags = static_cast<uint16_t>(std::stoul(line.substr(flags + 8, 4), nullptr, 16));
    file->flagsKnown = true;
}

// "data N bytes ... sha256 H"
void ParseFork(const std::string& rest, ForkFact* fork)
{
    std::istringstream in(rest);
    std::string word;
    in >> fork->length >> word;
    const size_t sha = rest.find("sha256 ");
    if (word != "bytes" || sha == std::string::npos) return;
    fork->sha256 = rest.substr(sha + 7, 64);
    fork->known = fork->sha256.size() == 64;
}

std::vector<CorpusFile> ReadManifest()
{
    std::vector<CorpusFile> files;
    std::ifstream in(CorpusDir() + "/MANIFEST.md");
    std::string line;
    CorpusFile* current = nullptr;
    while (std::getline(in, line)) {
        if (line.rfind("### ", 0) == 0) {
            files.push_back(CorpusFile{});
            current = &files.back();
            current->path = line.substr(4);
            continue;
        }
        if (!current) continue;
        const std::string decode = "  - own decode: ";
        const std::string parse = "  - own parse: ";
        std::string rest;
        if (line.rfind(decode, 0) == 0) {
            current->binHex = true;
            rest = line.substr(decode.size());
        } else if (line.rfind(parse, 0) == 0) {
            rest = line.substr(parse.size());
        } else {
            continue;
        }
        if (rest.rfind("name ", 0) == 0) {
            // "name N, version 0, ..." or "name N (len n), type ..."
            const size_t len = rest.find(" (len ");
            const size_t end = len != std::string::npos ? len : rest.find(", version ");
            if (end != std::string::npos) current->name = rest.substr(5, end - 5);
            ParseTypeCreatorFlags(rest, current);
        } else if (rest.rfind("data ", 0) == 0) {
            ParseFork(rest.substr(5), &current->data);
        } else if (rest.rfind("rsrc ", 0) == 0) {
            ParseFork(rest.substr(5), &current->rsrc);
        }
    }
    std::vector<CorpusFile> encoded;
    for (const CorpusFile& f : files) {
        const bool hqx = f.path.size() > 4 && f.path.substr(f.path.size() - 4) == ".hqx";
        const bool bin = f.path.size() > 4 && f.path.substr(f.path.size() - 4) == ".bin";
        if (hqx || bin) encoded.push_back(f);
    }
    return encoded;
}

class TranslatorCorpus : public TranslatorTest {};

TEST_F(TranslatorCorpus, EveryEncodedFileDecodesToItsRecordedForks)
{
    if (!fs::exists(CorpusDir() + "/MANIFEST.md")) GTEST_SKIP() << "corpus not present at " << CorpusDir();
    if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils not installed";
    const std::vector<CorpusFile> files = ReadManifest();
    unsigned hqx = 0;
    unsigned bin = 0;
    for (const CorpusFile& file : files) {
        SCOPED_TRACE(file.path);
        ASSERT_FALSE(file.name.empty());
        ASSERT_TRUE(file.flagsKnown);
        ASSERT_TRUE(file.data.known && file.rsrc.known);
        (file.binHex ? hqx : bin) += 1;

        const std::string pcName = file.binHex ? "in.hqx" : "in.bin";
        const std::vector<uint8_t> bytes = ReadFileBytes(CorpusDir() + "/" + file.path);
        ASSERT_FALSE(bytes.empty());
        WritePc(pcName, bytes);
        HfsUtils hfs;
        const std::string image = images.PathOf("corpus.img");
        ASSERT_TRUE(hfs.Format(image, "Corpus", 4ull << 20)) << hfs.LastError();
        ASSERT_TRUE(OpenVolumeFile(image));
        if (file.binHex)
            BinHexPcToMac(pcName.c_str(), kRootFolderId);
        else
            MacBinaryPcToMac(pcName.c_str(), kRootFolderId);
        ASSERT_EQ(FinishCommand(), 0u);
        MacFileImage got;
        ASSERT_TRUE(ReadMacFile(kRootFolderId, file.name, &got));
        EXPECT_EQ(got.type, file.type);
        EXPECT_EQ(got.creator, file.creator);
        EXPECT_EQ(got.finderFlags, file.flags);
        EXPECT_EQ(got.data.size(), file.data.length);
        EXPECT_EQ(Sha256Hex(got.data), file.data.sha256);
        EXPECT_EQ(got.rsrc.size(), file.rsrc.length);
        EXPECT_EQ(Sha256Hex(got.rsrc), file.rsrc.sha256);
        std::string why;
        EXPECT_TRUE(VolumeClean(&why)) << why;
        CloseVolume();
        fs::remove(PcPath(pcName));

        ASSERT_TRUE(hfs.Mount(image)) << hfs.LastError();
        MacFileImage readBack;
        ASSERT_TRUE(hfs.GetMacBinary(":" + file.name, &readBack)) << hfs.LastError();
        EXPECT_EQ(Sha256Hex(readBack.data), file.data.sha256);
        EXPECT_EQ(Sha256Hex(readBack.rsrc), file.rsrc.sha256);
    }
    // No encoded file of the corpus goes untested.
    std::vector<std::string> onDisk;
    for (const auto& entry : fs::recursive_directory_iterator(CorpusDir())) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".hqx" || ext == ".bin") onDisk.push_back(fs::relative(entry.path(), CorpusDir()).generic_string());
    }
    std::vector<std::string> listed;
    for (const CorpusFile& file : files) listed.push_back(file.path);
    std::sort(onDisk.begin(), onDisk.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, onDisk);
    EXPECT_GT(hqx, 0u);
    EXPECT_GT(bin, 0u);
}

}  // namespace
