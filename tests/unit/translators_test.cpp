// The translators on the mini volume. BinHex 4.0: the lines the encoder
// writes, and damaged, truncated and refused files (what it writes hexbin
// decodes, and runs come from macutils' binhex, in translator_oracle_test).
// MacBinary: the three header versions, refused headers. Both: the fault
// loops of either side. Data, Text and Resource: line ends across buffer
// boundaries and type maps. Round trips against hcopy, and a copy's Mac
// file whose name is taken, are cli_transfer_test's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "core/prefs.h"
#include "core/status.h"
#include "disk/image_drive.h"
#include "hfs/catalog_ops.h"
#include "support/macbinary_file.h"
#include "support/translator_fixture.h"
#include "translate/translators.h"
#include "ui/mac_session.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kAlphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
const std::string kBanner = "(This file must be converted with BinHex 4.0)";

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string ToText(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The six-bit layer over `raw`, in lines of 64 characters (the first
// counting its colon) ending in LF.
std::string SixBitEncode(const Bytes& raw)
{
    std::string chars;
    for (size_t i = 0; i < raw.size(); i += 3) {
        const uint32_t group = uint32_t{raw[i]} << 16 | (i + 1 < raw.size() ? uint32_t{raw[i + 1]} << 8 : 0) |
                               (i + 2 < raw.size() ? raw[i + 2] : 0);
        const size_t count = std::min<size_t>(3, raw.size() - i) + 1;
        for (size_t k = 0; k < count; ++k) chars += kAlphabet[(group >> (18 - 6 * k)) & 0x3F];
    }
    std::string text = kBanner + "\n:" + chars.substr(0, 63);
    for (size_t i = 63; i < chars.size(); i += 64) text += "\n" + chars.substr(i, 64);
    return text + ":\n";
}

void AppendEscaped(Bytes* raw, uint8_t b)
{
    raw->push_back(b);
    if (b == 0x90) raw->push_back(0);
}

void AppendSection(Bytes* raw, const Bytes& section)
{
    for (uint8_t b : section) AppendEscaped(raw, b);
    const uint16_t crc = Crc16Xmodem(section.data(), section.size());
    for (uint8_t b : {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)}) AppendEscaped(raw, b);
}

Bytes HeaderSection(const MacFileImage& file)
{
    Bytes h;
    h.push_back(static_cast<uint8_t>(file.name.size()));
    h.insert(h.end(), file.name.begin(), file.name.end());
    h.push_back(0);
    h.insert(h.end(), file.type.begin(), file.type.end());
    h.insert(h.end(), file.creator.begin(), file.creator.end());
    h.push_back(static_cast<uint8_t>(file.finderFlags >> 8));
    h.push_back(static_cast<uint8_t>(file.finderFlags));
    for (size_t n : {file.data.size(), file.rsrc.size()})
        for (int shift = 24; shift >= 0; shift -= 8) h.push_back(static_cast<uint8_t>(n >> shift));
    return h;
}

// The escaped binary stream of a whole file, without runs.
Bytes RawStream(const MacFileImage& file)
{
    Bytes raw;
    AppendSection(&raw, HeaderSection(file));
    AppendSection(&raw, file.data);
    AppendSection(&raw, file.rsrc);
    return raw;
}

// The test side's BinHex file of `file`: no runs, LF line ends.
Bytes HqxFile(const MacFileImage& file) { return ToBytes(SixBitEncode(RawStream(file))); }

class BinHexTranslator : public WholeFileTranslatorTest {
protected:
    BinHexTranslator() : WholeFileTranslatorTest(kBinHexFormat) {}
    // Removes a Mac file of the root and writes the volume back.
    void RemoveMacFile(const std::string& name)
    {
        DeleteMacFile(MacName(name).data(), kRootFolderId);
        ASSERT_EQ(FinishCommand(), 0u) << name;
    }
    // Puts `file` on the volume, encodes it and removes it again; the text
    // of the PC file.
    std::string EncodedText(const MacFileImage& file)
    {
        EXPECT_TRUE(PutMacFile(file)) << StatusCode;
        EXPECT_EQ(Encode(file.name), 0u);
        RemoveMacFile(file.name);
        return ToText(ReadPc(EncodedName(file.name)));
    }
};

TEST_F(BinHexTranslator, EncodedTextHasItsLinesAndDecodesBack)
{
    ASSERT_TRUE(OpenMiniVolume());
    MacFileImage file = SampleMacFile("Layout", 1000, 301, 1);
    file.data[10] = file.data[11] = file.rsrc[0] = 0x90;  // escaped as 0x90, 0x00
    MacFileImage crc = SampleMacFile("Crc", 2, 0, 3);     // a CRC byte of 0x90 is escaped too
    for (unsigned v = 0; v < 65536; ++v) {
        crc.data = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
        const uint16_t sum = Crc16Xmodem(crc.data.data(), 2);
        if ((sum >> 8) == 0x90 || (sum & 0xFF) == 0x90) break;
    }
    for (const MacFileImage& f : {file, crc, SampleMacFile("E", 0, 0, 2)}) {
        const std::string text = EncodedText(f);
        EXPECT_EQ(text.find('\n'), std::string::npos) << f.name;
        EXPECT_EQ(text.substr(0, kBanner.size() + 2), kBanner + "\r:") << f.name;
        EXPECT_EQ(text.substr(text.size() - 2), ":\r") << f.name;
        for (size_t line = kBanner.size() + 1, next; line + 1 < text.size(); line = next + 1) {
            next = text.find('\r', line);
            EXPECT_TRUE(next - line == 64 || next + 1 == text.size()) << f.name << " line at " << line;
            EXPECT_LE(next - line, 65u);
        }
        ExpectDecodesTo(EncodedName(f.name), f, f.name);
        RemoveMacFile(f.name);
    }
}

TEST_F(BinHexTranslator, DamagedCharacterIsRefusedAndLeavesNoFile)
{
    ASSERT_TRUE(OpenMiniVolume());
    const MacFileImage file = SampleMacFile("Damaged", 700, 200, 6);
    const std::string text = EncodedText(file);
    std::vector<std::pair<std::string, Bytes>> damaged;
    for (size_t i = text.find("\r:") + 2; i < text.rfind(':'); i += 5) {
        if (text[i] == '\r') continue;
        std::string copy = text;
        const char* p = std::strchr(kAlphabet, copy[i]);
        ASSERT_NE(p, nullptr);
        copy[i] = kAlphabet[(p - kAlphabet + 1 + i % 63) % 64];
        damaged.push_back({"character " + std::to_string(i), ToBytes(copy)});
    }
    EXPECT_GT(damaged.size(), 100u);
    ExpectRefused(damaged);
}

TEST_F(BinHexTranslator, TruncatedAndRefusedFilesCreateNothing)
{
    ASSERT_TRUE(OpenMiniVolume());
    const MacFileImage file = SampleMacFile("Cut", 600, 90, 7);
    const std::string text = EncodedText(file);
    std::vector<std::pair<std::string, Bytes>> cases;
    // Cut inside the header, inside each fork, and before the last character.
    const size_t last = text.find_last_of(kAlphabet, text.rfind(':') - 1);
    for (size_t cut : {size_t{60}, size_t{200}, last - 300, last - 2, last})
        cases.push_back({"cut at " + std::to_string(cut), ToBytes(text.substr(0, cut))});
    cases.push_back({"no colon at a line start", ToBytes(kBanner + "\r xx:abc\r")});
    cases.push_back({"empty file", {}});
    MacFileImage bad = file;
    bad.name = "";
    cases.push_back({"name length 0", HqxFile(bad)});
    bad.name = std::string(32, 'n');
    cases.push_back({"name length 32", HqxFile(bad)});
    Bytes headerOnly;
    AppendSection(&headerOnly, HeaderSection(file));
    cases.push_back({"header only", ToBytes(SixBitEncode(headerOnly))});
    // The data is looked for in the first megabyte, and no megabyte of
    // blanks stands inside it: endless input ends.
    std::string lines;
    while (lines.size() <= (1u << 20)) lines += "Text before the data, no colon at its start.\r\n";
    cases.push_back({"data after a megabyte of text", ToBytes(lines + text)});
    const size_t inside = text.find('\r', text.find(':') + 1);
    std::string gap = text;
    gap.insert(inside, std::string((1u << 20) + 1, ' '));
    cases.push_back({"a megabyte of blanks inside the data", ToBytes(gap)});
    ExpectRefused(cases);
    // Text after the closing colon is not read.
    WritePc("in.hqx", ToBytes(text + "trailing words: and more\r"));
    ExpectDecodesTo("in.hqx", file, "trailing text");
}

TEST_F(BinHexTranslator, TakenName)
{
    ExpectTakenNameGoesToTheClashDialog(SampleMacFile("Alpha", 50, 60, 8), HqxFile(SampleMacFile("Alpha", 50, 60, 8)));
}
TEST_F(BinHexTranslator, MacWriteFailures)
{
    const MacFileImage file = SampleMacFile("Doomed", 50000, 2000, 9);
    ExpectMacWriteFailuresLeaveNothing(file, HqxFile(file));
}
TEST_F(BinHexTranslator, MacReadFailures) { ExpectMacReadFailuresLeaveNoPcFile(); }
TEST_F(BinHexTranslator, Cancel) { ExpectCancelLeavesNoFile(HqxFile(SampleMacFile("Late", 90000, 0, 10))); }
TEST_F(BinHexTranslator, PcWriteFailures)
{
    ExpectPcWriteFailuresLeaveNoPartialFile(SampleMacFile("Large", 60000, 9000, 11));
}
TEST_F(BinHexTranslator, PcReadFailures)
{
    ExpectPcReadFailuresCreateNothing(HqxFile(SampleMacFile("Large", 70000, 9000, 12)), kStatusWrongFileType);
}

size_t Padded(size_t n) { return (n + 127) / 128 * 128; }

void PutCrc(Bytes* file)
{
    const uint16_t crc = Crc16Xmodem(file->data(), 124);
    (*file)[124] = static_cast<uint8_t>(crc >> 8);
    (*file)[125] = static_cast<uint8_t>(crc);
}

class MacBinaryTranslator : public WholeFileTranslatorTest {
protected:
    MacBinaryTranslator() : WholeFileTranslatorTest(kMacBinaryFormat) {}
};

TEST_F(MacBinaryTranslator, ReadsTheThreeHeaderVersions)
{
    ASSERT_TRUE(OpenMiniVolume());
    // MacBinary II as the peer tools write it.
    MacFileImage two = SampleMacFile("Version two", 300, 200, 1);
    WritePc("two.bin", WriteMacBinary(two));
    ExpectDecodesTo("two.bin", two, "II");
    // MacBinary I: no CRC, no versions; the low flag byte at 74.
    MacFileImage one = SampleMacFile("Version one", 129, 5, 2);
    Bytes bin = WriteMacBinary(one);
    bin[74] = static_cast<uint8_t>(one.finderFlags);
    bin[101] = 0x5A;  // whatever stands here is not a flag byte
    std::fill(bin.begin() + 122, bin.begin() + 126, 0);
    WritePc("one.bin", bin);
    ExpectDecodesTo("one.bin", one, "I");
    // Versions given but a CRC that does not match: read as MacBinary I.
    MacFileImage damaged = SampleMacFile("Bad CRC", 10, 0, 3);
    bin = WriteMacBinary(damaged);
    bin[74] = 0x12;
    bin[125] ^= 0xFF;
    damaged.finderFlags = static_cast<uint16_t>((damaged.finderFlags & 0xFF00) | 0x12);
    WritePc("badcrc.bin", bin);
    ExpectDecodesTo("badcrc.bin", damaged, "bad CRC");
    // MacBinary III: signature, version 130, and a secondary header the
    // reader skips (padded to 128 bytes) before the data fork.
    MacFileImage three = SampleMacFile("Version three", 1000, 0, 4);
    bin = WriteMacBinary(three);
    std::memcpy(bin.data() + 102, "mBIN", 4);
    bin[122] = 130;
    bin[120] = 0;
    bin[121] = 20;
    PutCrc(&bin);
    bin.insert(bin.begin() + 128, 128, 0xEE);
    WritePc("three.bin", bin);
    ExpectDecodesTo("three.bin", three, "III");
    ExpectVolumeClean();
}

TEST_F(MacBinaryTranslator, RefusedHeadersCreateNothing)
{
    ASSERT_TRUE(OpenMiniVolume());
    const Bytes good = WriteMacBinary(SampleMacFile("Refused", 300, 300, 5));
    auto changed = [&](size_t at, uint8_t value, bool crc) {
        Bytes b = good;
        b[at] = value;
        if (crc) PutCrc(&b);
        return b;
    };
    ExpectRefused({{"name length 0", changed(1, 0, true)},
                   {"name length 32", changed(1, 32, true)},
                   {"name length 255", changed(1, 255, false)},
                   {"byte 82 not zero", changed(82, 1, true)},
                   {"82 bytes", Bytes(good.begin(), good.begin() + 82)},
                   {"127 bytes", Bytes(good.begin(), good.begin() + 127)},
                   {"empty file", Bytes{}}});
}

TEST_F(MacBinaryTranslator, FileShorterThanItsForksIsRefused)
{
    ASSERT_TRUE(OpenMiniVolume());
    const MacFileImage file = SampleMacFile("Short", 1000, 400, 6);
    const Bytes bin = WriteMacBinary(file);
    auto lengths = [&](uint32_t data, uint32_t rsrc) {
        Bytes b = bin;
        for (int i = 0; i < 4; ++i) {
            b[83 + i] = static_cast<uint8_t>(data >> (24 - 8 * i));
            b[87 + i] = static_cast<uint8_t>(rsrc >> (24 - 8 * i));
        }
        PutCrc(&b);
        return b;
    };
    auto cut = [&](size_t size) { return Bytes(bin.begin(), bin.begin() + static_cast<std::ptrdiff_t>(size)); };
    ExpectRefused({{"data length beyond the file", lengths(1000 + 1024, 400)},
                   {"resource length beyond the file", lengths(1000, 400 + 128)},
                   {"lengths of 4 GB", lengths(0xFFFFFFFFu, 0xFFFFFFFFu)},
                   {"cut inside the data fork", cut(128 + 50)},
                   {"cut inside the padding after it", cut(128 + 1000 + 10)},
                   {"cut inside the resource fork", cut(128 + Padded(1000) + 399)}});
    WritePc("unpadded.bin", cut(128 + Padded(1000) + 400));
    ExpectDecodesTo("unpadded.bin", file, "without its last padding");
}

TEST_F(MacBinaryTranslator, TakenName)
{
    const MacFileImage file = SampleMacFile("Alpha", 77, 33, 7);
    ExpectTakenNameGoesToTheClashDialog(file, WriteMacBinary(file));
}
TEST_F(MacBinaryTranslator, MacWriteFailures)
{
    const MacFileImage file = SampleMacFile("Doomed", 40000, 3000, 8);
    ExpectMacWriteFailuresLeaveNothing(file, WriteMacBinary(file));
}
TEST_F(MacBinaryTranslator, MacReadFailures) { ExpectMacReadFailuresLeaveNoPcFile(); }
TEST_F(MacBinaryTranslator, Cancel)
{
    ExpectCancelLeavesNoFile(WriteMacBinary(SampleMacFile("Cancelled", 100000, 0, 9)));
}
TEST_F(MacBinaryTranslator, PcWriteFailures)
{
    ExpectPcWriteFailuresLeaveNoPartialFile(SampleMacFile("Large", 70000, 9000, 10));
}
TEST_F(MacBinaryTranslator, PcReadFailures)
{
    ExpectPcReadFailuresCreateNothing(WriteMacBinary(SampleMacFile("Large", 70000, 9000, 11)), kStatusPcReadError);
}

using ToPcOp = void (*)(const uint8_t*, uint32_t);
using ToMacOp = void (*)(const char*, uint32_t);

// Pattern bytes without CR, LF or 0x1A, so line ends are only where a test puts them.
Bytes PlainBytes(size_t size, uint32_t seed)
{
    Bytes bytes = PatternBytes(size, seed);
    for (uint8_t& b : bytes)
        if (b == 0x0D || b == 0x0A || b == 0x1A) b = 'x';
    return bytes;
}

class DataTranslators : public TranslatorTest {
protected:
    void SetUp() override
    {
        TranslatorTest::SetUp();
        RegisterAllTranslators();
        CurrentOptions.macUseMap = CurrentOptions.pcUseMap = true;
        ASSERT_TRUE(OpenMiniVolume());
    }
    void TypeMaps(const std::string& text) const { settings.WriteFile("PIER.FTM", Bytes(text.begin(), text.end())); }
    static void SetTranslator(uint16_t index, const char* type, const char* creator, const char* extension)
    {
        std::snprintf(TranslatorTable[index].macType, 5, "%s", type);
        std::snprintf(TranslatorTable[index].macCreator, 5, "%s", creator);
        std::snprintf(TranslatorTable[index].extension, 4, "%s", extension);
    }
    static bool PutMac(const std::string& name, const Bytes& data)
    {
        return PutMacFile(MacFileImage{name, "TEXT", "ttxt", 0, 0, 0, data, {}});
    }
    static MacFileImage GetMac(const std::string& name)
    {
        MacFileImage file;
        EXPECT_TRUE(ReadMacFile(kRootFolderId, name, &file)) << name;
        return file;
    }
    uint32_t ToPc(ToPcOp op, const std::string& name)
    {
        op(MacName(name).data(), kRootFolderId);
        return FinishCommand();
    }
    uint32_t ToMac(ToMacOp op, const std::string& name)
    {
        op(name.c_str(), MacPaneState.folderId);
        return FinishCommand();
    }
};

TEST_F(DataTranslators, TextLineEndsAtBufferBoundaries)
{
    Bytes mac = PlainBytes(100000, 3);
    for (size_t at : {size_t{0}, size_t{32766}, size_t{32767}, size_t{65535}, size_t{65536}, mac.size() - 1})
        mac[at] = 0x0D;
    Bytes pcText;
    for (uint8_t b : mac) {
        pcText.push_back(b);
        if (b == 0x0D) pcText.push_back(0x0A);
    }
    ASSERT_TRUE(PutMac("lines", mac));
    ASSERT_EQ(ToPc(TextMacToPc, "lines"), 0u);
    EXPECT_EQ(ReadPc("lines"), pcText);
    WritePc("back", pcText);
    ASSERT_EQ(ToMac(TextPcToMac, "back"), 0u);
    EXPECT_EQ(GetMac("back").data, mac);
    Bytes text = PlainBytes(98304 + 10, 4);
    text[32767] = 0x0D, text[32768] = 0x0A, text[65535] = 0x0A, text[98303] = 0x1A, text[98304] = 0x0D;
    Bytes want;
    for (uint8_t b : text)
        if (b != 0x0A && b != 0x1A) want.push_back(b);
    WritePc("pcfile", text);
    ASSERT_EQ(ToMac(TextPcToMac, "pcfile"), 0u);
    EXPECT_EQ(GetMac("pcfile").data, want);
}

TEST_F(DataTranslators, PcTypeMapGivesTypeAndCreator)
{
    SetTranslator(kDataTranslator, "BINA", "dflt", "");
    SetTranslator(kTextTranslator, "TEXT", "ttxt", "");
    SetTranslator(kResourceTranslator, "rsrc", "RSED", "");
    TypeMaps("[PC Type Map]\ngif=GIFFogle\nfour=ABCD\nhigh=\xE9\x02xyMOSS\nthree=TXT\nsix=TEXTab\n");
    // A short value is padded with spaces and leaves the translator's creator;
    // ANSI becomes Mac, 0x02 NUL; Text and Resource ignore the map.
    const std::tuple<const char*, ToMacOp, std::string> cases[] = {
        {"a.gif", DataPcToMac, "GIFFogle"},      {"b.four", DataPcToMac, "ABCDdflt"},
        {"noext", DataPcToMac, "BINAdflt"},      {"c.unknown", DataPcToMac, "BINAdflt"},
        {"d.high", DataPcToMac, std::string("\x8E\0xyMOSS", 8)},
        {"e.gif", TextPcToMac, "TEXTttxt"},      {"f.gif", ResourcePcToMac, "rsrcRSED"},
        {"h.three", DataPcToMac, "TXT dflt"},    {"i.six", DataPcToMac, "TEXTab  "},
        {"m.GiF", DataPcToMac, "GIFFogle"},
    };
    auto expect = [this](const std::string& name, ToMacOp op, const std::string& typeCreator) {
        WritePc(name, {1});
        ASSERT_EQ(ToMac(op, name), 0u) << name;
        EXPECT_EQ(GetMac(name).type + GetMac(name).creator, typeCreator) << name;
    };
    // Read at each lookup, then held for a whole command: the same answers.
    for (const char* prefix : {"", "held "}) {
        if (*prefix) HoldTypeMaps();
        for (const auto& [base, op, typeCreator] : cases) expect(prefix + std::string(base), op, typeCreator);
    }
    ReleaseTypeMaps();
    CurrentOptions.pcUseMap = false;
    expect("g.gif", DataPcToMac, "BINAdflt");
    // A translator without settings gives four spaces each.
    CurrentOptions.pcUseMap = true;
    SetTranslator(kDataTranslator, "    ", "    ", "");
    for (const auto& [name, typeCreator] :
         {std::pair{"j.unknown", "        "}, {"plain", "        "}, {"k.four", "ABCD    "}})
        expect(name, DataPcToMac, typeCreator);
}

}  // namespace
