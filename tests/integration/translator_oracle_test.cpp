// BinHex and MacBinary against macutils and hfsutils: what we write they
// decode, and what they write we decode, to the same forks and Finder information.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/hfsutils_driver.h"
#include "support/translator_fixture.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint16_t kHcopyBinHexKeeps = static_cast<uint16_t>(~0x4101);
constexpr uint16_t kHexbinKeeps = static_cast<uint16_t>(~0x0100);
// `binhex` takes the low flag byte of its MacBinary input from byte 74,
// which MacBinary II (what the test side writes) leaves zero.
constexpr uint16_t kBinhexKeeps = 0xFF00;

Bytes ToCrLf(const Bytes& text)
{
    Bytes out;
    for (uint8_t b : text) {
        if (b == '\n') out.push_back('\r');
        out.push_back(b);
    }
    return out;
}

bool MacutilsAvailable() { return ProgramAvailable("hexbin") && ProgramAvailable("binhex"); }

bool Hexbin(const std::string& hqxPath, const std::string& workDir, MacFileImage* out, std::string* why)
{
    fs::create_directories(workDir);
    // Without -c: hexbin takes lines of another length than the first for
    // garbage, so this checks that every full line has 64 characters.
    const CommandResult r = RunShell("cd '" + workDir + "' && hexbin -3 '" + hqxPath + "'");
    if (r.exitCode != 0) {
        *why = "hexbin failed: " + r.err;
        return false;
    }
    std::string base;
    for (const auto& entry : fs::directory_iterator(workDir)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 5 && name.substr(name.size() - 5) == ".info") base = name.substr(0, name.size() - 5);
    }
    const Bytes info = ReadFileBytes(workDir + "/" + base + ".info");
    if (base.empty() || info.size() < 128 || info[1] == 0 || info[1] > 63) {
        *why = "hexbin wrote no usable .info: " + r.out + r.err;
        return false;
    }
    out->name.assign(reinterpret_cast<const char*>(info.data() + 2), info[1]);
    out->type.assign(reinterpret_cast<const char*>(info.data() + 65), 4);
    out->creator.assign(reinterpret_cast<const char*>(info.data() + 69), 4);
    out->finderFlags = static_cast<uint16_t>(info[73] << 8 | info[74]);
    out->data = ReadFileBytes(workDir + "/" + base + ".data");
    out->rsrc = ReadFileBytes(workDir + "/" + base + ".rsrc");
    return true;
}

class BinHexOracle : public WholeFileTranslatorTest {
protected:
    BinHexOracle() : WholeFileTranslatorTest(kBinHexFormat) {}
    void SetUp() override
    {
        WholeFileTranslatorTest::SetUp();
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils not installed";
        if (!MacutilsAvailable()) GTEST_SKIP() << "macutils not installed";
    }
    // Puts `texts` in the PC directory as they are and with CR LF line ends,
    // and decodes each set onto a new volume.
    void DecodeLfAndCrLf(const std::vector<Bytes>& texts, const std::vector<MacFileImage>& want,
                         const std::string& what, uint16_t flagMask = 0xFFFF)
    {
        std::vector<std::string> lf;
        std::vector<std::string> crlf;
        for (size_t i = 0; i < texts.size(); ++i) {
            lf.push_back("lf" + std::to_string(i) + ".hqx");
            WritePc(lf.back(), texts[i]);
            crlf.push_back("crlf" + std::to_string(i) + ".hqx");
            WritePc(crlf.back(), ToCrLf(texts[i]));
        }
        DecodeOntoNewVolume(lf, want, what + " LF", flagMask);
        DecodeOntoNewVolume(crlf, want, what + " CR LF", flagMask);
    }
};

TEST_F(BinHexOracle, WhatWeWriteHexbinAndHcopyDecode)
{
    const std::vector<MacFileImage> files = TranslatorSampleFiles();
    HfsUtils source;
    std::vector<MacFileImage> onSource;
    std::vector<std::string> written;
    ASSERT_NO_FATAL_FAILURE(EncodeEachApart(HfsutilsSourceImage(source, files), files, &onSource, &written));

    HfsUtils target;
    ASSERT_TRUE(target.Format(images.PathOf("target.img"), "Target", kOracleImageBytes)) << target.LastError();
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string what = files[i].name;
        MacFileImage fromHexbin;
        std::string why;
        ASSERT_TRUE(Hexbin(written[i], images.PathOf("hexbin" + std::to_string(i)), &fromHexbin, &why))
            << what << ": " << why;
        ExpectSameMacFile(fromHexbin, onSource[i], "hexbin " + what, {kHexbinKeeps, false});

        const CommandResult put = target.Run("hcopy", {"-b", written[i], ":"});
        ASSERT_EQ(put.exitCode, 0) << what << ": " << put.err;
        MacFileImage fromHcopy;
        ASSERT_TRUE(target.GetMacBinary(":" + what, &fromHcopy)) << target.LastError();
        ExpectSameMacFile(fromHcopy, onSource[i], "hcopy -b " + what, {kHcopyBinHexKeeps, false});
    }
}

TEST_F(BinHexOracle, WhatBinhexWritesWeDecode)
{
    const std::vector<MacFileImage> files = TranslatorSampleFiles();
    std::vector<Bytes> texts;
    unsigned runs = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string input = images.WriteFile("in" + std::to_string(i) + ".bin", WriteMacBinary(files[i]));
        const CommandResult r = RunCommand({"binhex", input});
        ASSERT_EQ(r.exitCode, 0) << files[i].name << ": " << r.err;
        texts.push_back(Bytes(r.out.begin(), r.out.end()));
        // With runs the text is shorter than binhex's own output without them.
        const CommandResult plain = RunCommand({"binhex", "-R", input});
        ASSERT_EQ(plain.exitCode, 0) << plain.err;
        if (r.out.size() < plain.out.size()) ++runs;
    }
    EXPECT_GE(runs, 2u) << "binhex formed no runs; the test would not exercise them";
    DecodeLfAndCrLf(texts, files, "binhex", kBinhexKeeps);
}

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
