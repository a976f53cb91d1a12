// The MacBinary translator against hfsutils: every file we write is taken
// by `hcopy -m` and lands with the same forks and Finder information, and
// what `hcopy -m` writes (MacBinary II), also turned into MacBinary I, we
// decode to the same file. Volumes we write are read back by hfsutils too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/hfsutils_driver.h"
#include "support/macbinary_file.h"
#include "support/translator_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

// `hcopy -m` clears three Finder flags of a file it writes in: on desk
// (0x0001), inited (0x0100) and changed (0x0200). Seen by writing 0xFFFF
// and reading 0xFCFE back from the catalog.
constexpr uint16_t kHcopyMacBinaryClears = 0x0301;

// The same file as MacBinary I: no CRC or versions, the low flag byte at 74.
Bytes AsMacBinaryOne(Bytes bin)
{
    bin[74] = bin[101];
    bin[101] = 0;
    for (size_t i = 120; i < 126; ++i) bin[i] = 0;
    return bin;
}

class MacBinaryOracle : public WholeFileTranslatorTest {
protected:
    MacBinaryOracle() : WholeFileTranslatorTest(kMacBinaryFormat) {}
    void SetUp() override
    {
        WholeFileTranslatorTest::SetUp();
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils not installed";
    }
};

TEST_F(MacBinaryOracle, WhatWeWriteHcopyTakesUnchanged)
{
    const std::vector<MacFileImage> files = TranslatorSampleFiles();
    HfsUtils source;
    std::vector<MacFileImage> onSource;
    std::vector<std::string> written;
    ASSERT_NO_FATAL_FAILURE(EncodeEachApart(HfsutilsSourceImage(source, files), files, &onSource, &written));

    HfsUtils target;
    ASSERT_TRUE(target.Format(images.PathOf("target.img"), "Target", kOracleImageBytes)) << target.LastError();
    for (size_t i = 0; i < files.size(); ++i) {
        const CommandResult put = target.Run("hcopy", {"-m", written[i], ":"});
        ASSERT_EQ(put.exitCode, 0) << files[i].name << ": " << put.err;
        MacFileImage got;
        ASSERT_TRUE(target.GetMacBinary(":" + files[i].name, &got)) << target.LastError();
        ExpectSameMacFile(got, onSource[i], files[i].name, {static_cast<uint16_t>(~kHcopyMacBinaryClears)});
    }
}

TEST_F(MacBinaryOracle, WhatHcopyWritesWeDecode)
{
    const std::vector<MacFileImage> files = TranslatorSampleFiles();
    HfsUtils source;
    HfsutilsSourceImage(source, files);
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
    DecodeOntoNewVolume(two, expected, "MacBinary II");
    DecodeOntoNewVolume(one, expected, "MacBinary I");
}

}  // namespace
