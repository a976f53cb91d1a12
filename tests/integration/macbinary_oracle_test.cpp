// The MacBinary translator against hfsutils: every file we write is taken
// by `hcopy -m` and lands with the same forks and Finder information, and
// what `hcopy -m` writes (MacBinary II), also turned into MacBinary I, we
// decode to the same file. Volumes we write are read back by hfsutils too.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hfs/volume.h"
#include "support/hfsutils_driver.h"
#include "support/macbinary_file.h"
#include "support/translator_fixture.h"
#include "translate/translators.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kImageBytes = 4ull << 20;
// `hcopy -m` clears three Finder flags of a file it writes in: on desk
// (0x0001), inited (0x0100) and changed (0x0200). Seen by writing 0xFFFF
// and reading 0xFCFE back from the catalog.
constexpr uint16_t kHcopyMacBinaryClears = 0x0301;

void ExpectSame(const MacFileImage& got, const MacFileImage& want, uint16_t flagMask, const std::string& what)
{
    EXPECT_EQ(got.name, want.name) << what;
    EXPECT_EQ(got.type, want.type) << what;
    EXPECT_EQ(got.creator, want.creator) << what;
    EXPECT_EQ(got.finderFlags, want.finderFlags & flagMask) << what;
    EXPECT_EQ(got.created, want.created) << what;
    EXPECT_EQ(got.modified, want.modified) << what;
    EXPECT_TRUE(got.data == want.data) << what << ": data fork differs (" << got.data.size() << " bytes, want "
                                        << want.data.size() << ")";
    EXPECT_TRUE(got.rsrc == want.rsrc) << what << ": resource fork differs (" << got.rsrc.size() << " bytes, want "
                                        << want.rsrc.size() << ")";
}

// The same file as MacBinary I: no CRC or versions, the low flag byte at 74.
Bytes AsMacBinaryOne(Bytes bin)
{
    bin[74] = bin[101];
    bin[101] = 0;
    for (size_t i = 120; i < 126; ++i) bin[i] = 0;
    return bin;
}

class MacBinaryOracle : public TranslatorTest {
protected:
    void SetUp() override
    {
        TranslatorTest::SetUp();
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils not installed";
    }
    // A volume made by hfsutils with `files` in its root.
    std::string SourceImage(HfsUtils& hfs, const std::vector<MacFileImage>& files)
    {
        const std::string path = images.PathOf("source.img");
        EXPECT_TRUE(hfs.Format(path, "Source", kImageBytes)) << hfs.LastError();
        EXPECT_TRUE(hfs.PutMacBinary(files, ":")) << hfs.LastError();
        return path;
    }
    void ClearPcDirectory()
    {
        for (const std::string& name : PcFiles()) fs::remove(PcPath(name));
    }
};

TEST_F(MacBinaryOracle, WhatWeWriteHcopyTakesUnchanged)
{
    const std::vector<MacFileImage> files = TranslatorSampleFiles();
    HfsUtils source;
    const std::string sourcePath = SourceImage(source, files);
    ASSERT_TRUE(OpenVolumeFile(sourcePath));
    std::vector<MacFileImage> onSource;
    std::vector<std::string> written;
    for (const MacFileImage& file : files) {
        MacFileImage want;
        ASSERT_TRUE(ReadMacFile(kRootFolderId, file.name, &want)) << file.name;
        onSource.push_back(want);
        ClearPcDirectory();
        MacBinaryMacToPc(MacName(file.name).data(), kRootFolderId);
        ASSERT_EQ(FinishCommand(), 0u) << file.name;
        const std::vector<std::string> pcFiles = PcFiles();
        ASSERT_EQ(pcFiles.size(), 1u) << file.name;
        // Kept apart from the PC directory so the next file's name is free.
        const std::string kept = images.PathOf("ours" + std::to_string(written.size()) + ".bin");
        fs::rename(PcPath(pcFiles[0]), kept);
        written.push_back(kept);
    }
    CloseVolume();

    HfsUtils target;
    ASSERT_TRUE(target.Format(images.PathOf("target.img"), "Target", kImageBytes)) << target.LastError();
    for (size_t i = 0; i < files.size(); ++i) {
        const CommandResult put = target.Run("hcopy", {"-m", written[i], ":"});
        ASSERT_EQ(put.exitCode, 0) << files[i].name << ": " << put.err;
        MacFileImage got;
        ASSERT_TRUE(target.GetMacBinary(":" + files[i].name, &got)) << target.LastError();
        ExpectSame(got, onSource[i], static_cast<uint16_t>(~kHcopyMacBinaryClears), files[i].name);
    }
}

TEST_F(MacBinaryOracle, WhatHcopyWritesWeDecode)
{
    const std::vector<MacFileImage> files = TranslatorSampleFiles();
    HfsUtils source;
    SourceImage(source, files);
    std::vector<MacFileImage> expected;
    std::vector<std::string> two;
    std::vector<std::string> one;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string path = images.PathOf("theirs" + std::to_string(i) + ".bin");
        const CommandResult get = source.Run("hcopy", {"-m", ":" + files[i].name, path});
        ASSERT_EQ(get.exitCode, 0) << files[i].name << ": " << get.err;
        const Bytes bin = ReadFileBytes(path);
        MacFileImage header;
        std::string why;
        ASSERT_TRUE(ReadMacBinary(bin, &header, &why)) << files[i].name << ": " << why;
        expected.push_back(header);
        two.push_back("two" + std::to_string(i) + ".bin");
        WritePc(two.back(), bin);
        one.push_back("one" + std::to_string(i) + ".bin");
        WritePc(one.back(), AsMacBinaryOne(bin));
    }

    for (const auto& [version, names] : {std::pair{"MacBinary II", two}, std::pair{"MacBinary I", one}}) {
        HfsUtils target;
        const std::string path = images.PathOf(std::string(version) == "MacBinary I" ? "one.img" : "two.img");
        ASSERT_TRUE(target.Format(path, "Target", kImageBytes)) << target.LastError();
        ASSERT_TRUE(OpenVolumeFile(path));
        for (size_t i = 0; i < names.size(); ++i) {
            MacBinaryPcToMac(names[i].c_str(), kRootFolderId);
            ASSERT_EQ(FinishCommand(), 0u) << version << " " << files[i].name;
            MacFileImage got;
            ASSERT_TRUE(ReadMacFile(kRootFolderId, expected[i].name, &got)) << version << " " << files[i].name;
            ExpectSame(got, expected[i], 0xFFFF, std::string(version) + " " + files[i].name);
        }
        std::string why;
        EXPECT_TRUE(VolumeClean(&why)) << version << ": " << why;
        CloseVolume();
        // hfsutils reads the volume we wrote.
        ASSERT_TRUE(target.Mount(path)) << target.LastError();
        for (const MacFileImage& want : expected) {
            MacFileImage got;
            ASSERT_TRUE(target.GetMacBinary(":" + want.name, &got)) << target.LastError();
            ExpectSame(got, want, 0xFFFF, std::string(version) + " through hfsutils: " + want.name);
        }
    }
}

}  // namespace
