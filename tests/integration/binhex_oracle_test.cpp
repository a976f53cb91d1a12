// The BinHex translator against macutils and hfsutils: files we write
// decode with `hexbin` and with `hcopy -b` to the same forks and Finder
// information, and files written by `binhex` and by `hcopy -b` (with their
// runs, in LF and CR LF form) decode with ours identically.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "disk/status.h"
#include "hfs/volume.h"
#include "support/hfsutils_driver.h"
#include "support/macbinary_file.h"
#include "support/run_command.h"
#include "support/translator_fixture.h"
#include "translate/translators.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kImageBytes = 4ull << 20;
// Finder flags the peer tools drop, as seen by giving them 0xFFFF: `hcopy -b`
// stores 0xBEFE (invisible, inited and on-desk cleared); `hexbin` reports
// 0xFEFF (inited cleared).
constexpr uint16_t kHcopyBinHexKeeps = static_cast<uint16_t>(~0x4101);
constexpr uint16_t kHexbinKeeps = static_cast<uint16_t>(~0x0100);
// `binhex` takes the low flag byte of its MacBinary input from byte 74,
// which MacBinary II (what the test side writes) leaves zero.
constexpr uint16_t kBinhexKeeps = 0xFF00;

// Name, type, creator, flags (under `flagMask`) and forks: BinHex keeps no dates.
void ExpectSameContent(const MacFileImage& got, const MacFileImage& want, uint16_t flagMask, const std::string& what)
{
    EXPECT_EQ(got.name, want.name) << what;
    EXPECT_EQ(got.type, want.type) << what;
    EXPECT_EQ(got.creator, want.creator) << what;
    EXPECT_EQ(got.finderFlags, want.finderFlags & flagMask) << what;
    EXPECT_TRUE(got.data == want.data) << what << ": data fork differs (" << got.data.size() << " bytes, want "
                                        << want.data.size() << ")";
    EXPECT_TRUE(got.rsrc == want.rsrc) << what << ": resource fork differs (" << got.rsrc.size() << " bytes, want "
                                        << want.rsrc.size() << ")";
}

std::string ShellQuote(const std::string& s)
{
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

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

// What `hexbin -3` makes of a BinHex file: the forks from NAME.data and
// NAME.rsrc, name, type, creator and flags from the MacBinary-style header
// in NAME.info (low flag byte at 74).
bool Hexbin(const std::string& hqxPath, const std::string& workDir, MacFileImage* out, std::string* why)
{
    fs::create_directories(workDir);
    // -c: our first line is 61 characters and the others 64, which hexbin's
    // equal-line-length heuristic would otherwise take for garbage.
    const CommandResult r = RunShell("cd " + ShellQuote(workDir) + " && hexbin -3 -c " + ShellQuote(hqxPath));
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

class BinHexOracle : public TranslatorTest {
protected:
    void SetUp() override
    {
        TranslatorTest::SetUp();
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils not installed";
        if (!MacutilsAvailable()) GTEST_SKIP() << "macutils not installed";
    }
    std::string SourceImage(HfsUtils& hfs, const std::vector<MacFileImage>& files)
    {
        const std::string path = images.PathOf("source.img");
        EXPECT_TRUE(hfs.Format(path, "Source", kImageBytes)) << hfs.LastError();
        EXPECT_TRUE(hfs.PutMacBinary(files, ":")) << hfs.LastError();
        return path;
    }
    // Decodes every PC file of `pcNames` onto a fresh volume and compares
    // each with `want`; hfsutils then reads the volume back.
    void DecodeAllAndCompare(const std::vector<std::string>& pcNames, const std::vector<MacFileImage>& want,
                             const std::string& what, uint16_t flagMask = 0xFFFF)
    {
        HfsUtils target;
        const std::string path = images.PathOf("target-" + std::to_string(targets_++) + ".img");
        ASSERT_TRUE(target.Format(path, "Target", kImageBytes)) << target.LastError();
        ASSERT_TRUE(OpenVolumeFile(path));
        for (size_t i = 0; i < pcNames.size(); ++i) {
            BinHexPcToMac(pcNames[i].c_str(), kRootFolderId);
            ASSERT_EQ(FinishCommand(), 0u) << what << " " << want[i].name;
            MacFileImage got;
            ASSERT_TRUE(ReadMacFile(kRootFolderId, want[i].name, &got)) << what << " " << want[i].name;
            ExpectSameContent(got, want[i], flagMask, what + " " + want[i].name);
        }
        std::string why;
        EXPECT_TRUE(VolumeClean(&why)) << what << ": " << why;
        CloseVolume();
        ASSERT_TRUE(target.Mount(path)) << target.LastError();
        for (const MacFileImage& file : want) {
            MacFileImage got;
            ASSERT_TRUE(target.GetMacBinary(":" + file.name, &got)) << target.LastError();
            ExpectSameContent(got, file, flagMask, what + " through hfsutils: " + file.name);
        }
    }

private:
    unsigned targets_ = 0;
};

TEST_F(BinHexOracle, WhatWeWriteHexbinAndHcopyDecode)
{
    const std::vector<MacFileImage> files = TranslatorSampleFiles();
    HfsUtils source;
    ASSERT_TRUE(OpenVolumeFile(SourceImage(source, files)));
    std::vector<MacFileImage> onSource;
    std::vector<std::string> written;
    for (const MacFileImage& file : files) {
        MacFileImage want;
        ASSERT_TRUE(ReadMacFile(kRootFolderId, file.name, &want)) << file.name;
        onSource.push_back(want);
        BinHexMacToPc(MacName(file.name).data(), kRootFolderId);
        ASSERT_EQ(FinishCommand(), 0u) << file.name;
        const std::vector<std::string> pcFiles = PcFiles();
        ASSERT_EQ(pcFiles.size(), 1u) << file.name;
        const std::string kept = images.PathOf("ours" + std::to_string(written.size()) + ".hqx");
        fs::rename(PcPath(pcFiles[0]), kept);
        written.push_back(kept);
    }
    CloseVolume();

    HfsUtils target;
    ASSERT_TRUE(target.Format(images.PathOf("target.img"), "Target", kImageBytes)) << target.LastError();
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string what = files[i].name;
        MacFileImage fromHexbin;
        std::string why;
        ASSERT_TRUE(Hexbin(written[i], images.PathOf("hexbin" + std::to_string(i)), &fromHexbin, &why))
            << what << ": " << why;
        ExpectSameContent(fromHexbin, onSource[i], kHexbinKeeps, "hexbin " + what);

        const CommandResult put = target.Run("hcopy", {"-b", written[i], ":"});
        ASSERT_EQ(put.exitCode, 0) << what << ": " << put.err;
        MacFileImage fromHcopy;
        ASSERT_TRUE(target.GetMacBinary(":" + what, &fromHcopy)) << target.LastError();
        ExpectSameContent(fromHcopy, onSource[i], kHcopyBinHexKeeps, "hcopy -b " + what);
    }
}

TEST_F(BinHexOracle, WhatBinhexWritesWeDecode)
{
    const std::vector<MacFileImage> files = TranslatorSampleFiles();
    std::vector<std::string> lf;
    std::vector<std::string> crlf;
    unsigned runs = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string input = images.WriteFile("in" + std::to_string(i) + ".bin", WriteMacBinary(files[i]));
        const CommandResult r = RunCommand({"binhex", input});
        ASSERT_EQ(r.exitCode, 0) << files[i].name << ": " << r.err;
        const Bytes text(r.out.begin(), r.out.end());
        // With runs the text is shorter than binhex's own output without them.
        const CommandResult plain = RunCommand({"binhex", "-R", input});
        ASSERT_EQ(plain.exitCode, 0) << plain.err;
        if (r.out.size() < plain.out.size()) ++runs;
        lf.push_back("lf" + std::to_string(i) + ".hqx");
        WritePc(lf.back(), text);
        crlf.push_back("crlf" + std::to_string(i) + ".hqx");
        WritePc(crlf.back(), ToCrLf(text));
    }
    EXPECT_GE(runs, 2u) << "binhex formed no runs; the test would not exercise them";
    DecodeAllAndCompare(lf, files, "binhex LF", kBinhexKeeps);
    DecodeAllAndCompare(crlf, files, "binhex CR LF", kBinhexKeeps);
}

TEST_F(BinHexOracle, WhatHcopyWritesWeDecode)
{
    const std::vector<MacFileImage> files = TranslatorSampleFiles();
    HfsUtils source;
    const std::string sourcePath = SourceImage(source, files);
    std::vector<MacFileImage> want;
    std::vector<std::string> lf;
    std::vector<std::string> crlf;
    for (size_t i = 0; i < files.size(); ++i) {
        MacFileImage stored;
        ASSERT_TRUE(source.GetMacBinary(":" + files[i].name, &stored)) << source.LastError();
        want.push_back(stored);
        const std::string path = images.PathOf("hcopy" + std::to_string(i) + ".hqx");
        const CommandResult r = source.Run("hcopy", {"-b", ":" + files[i].name, path});
        ASSERT_EQ(r.exitCode, 0) << files[i].name << ": " << r.err;
        const Bytes text = ReadFileBytes(path);
        lf.push_back("lf" + std::to_string(i) + ".hqx");
        WritePc(lf.back(), text);
        crlf.push_back("crlf" + std::to_string(i) + ".hqx");
        WritePc(crlf.back(), ToCrLf(text));
    }
    DecodeAllAndCompare(lf, want, "hcopy -b LF");
    DecodeAllAndCompare(crlf, want, "hcopy -b CR LF");
}

}  // namespace
