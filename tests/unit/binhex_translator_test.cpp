// The BinHex 4.0 translator on the mini volume: the text the encoder writes
// (its lines, and the stream under the six-bit layer), runs, and damaged,
// truncated and refused files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/status.h"
#include "hfs/catalog_ops.h"
#include "support/macbinary_file.h"
#include "support/translator_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kAlphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
const std::string kBanner = "(This file must be converted with BinHex 4.0)";

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string ToText(const Bytes& b) { return std::string(b.begin(), b.end()); }

// ---- the test side's view of the format --------------------------------------

// The bytes under the six-bit layer: the characters after the first colon
// that starts a line, up to the next colon (other characters skipped).
Bytes SixBitDecode(const std::string& text)
{
    size_t start = 0;
    while (start < text.size() && !(text[start] == ':' && (start == 0 || text[start - 1] == '\r' || text[start - 1] == '\n')))
        ++start;
    ++start;
    std::vector<int> values;
    for (size_t i = start; i < text.size() && text[i] != ':'; ++i) {
        const char* p = std::strchr(kAlphabet, text[i]);
        if (p && text[i]) values.push_back(static_cast<int>(p - kAlphabet));
    }
    Bytes out;
    for (size_t i = 0; i + 1 < values.size(); i += 4) {
        out.push_back(static_cast<uint8_t>(values[i] << 2 | values[i + 1] >> 4));
        if (i + 2 < values.size()) out.push_back(static_cast<uint8_t>(values[i + 1] << 4 | values[i + 2] >> 2));
        if (i + 3 < values.size()) out.push_back(static_cast<uint8_t>(values[i + 2] << 6 | values[i + 3]));
    }
    return out;
}

// The six-bit layer over `raw`, in lines of 64 characters with `eol`.
std::string SixBitEncode(const Bytes& raw, const std::string& eol = "\n")
{
    std::string chars;
    for (size_t i = 0; i < raw.size(); i += 3) {
        const uint32_t group = uint32_t{raw[i]} << 16 | (i + 1 < raw.size() ? uint32_t{raw[i + 1]} << 8 : 0) |
                               (i + 2 < raw.size() ? raw[i + 2] : 0);
        const size_t count = std::min<size_t>(3, raw.size() - i) + 1;
        for (size_t k = 0; k < count; ++k) chars += kAlphabet[(group >> (18 - 6 * k)) & 0x3F];
    }
    std::string text = kBanner + eol + ":";
    size_t column = 1;
    for (char c : chars) {
        if (column == 64) {
            text += eol;
            column = 0;
        }
        text += c;
        ++column;
    }
    return text + ":" + eol;
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

TEST_F(BinHexTranslator, EncodedTextHasItsLinesAndStream)
{
    ASSERT_TRUE(OpenMiniVolume());
    MacFileImage file = SampleMacFile("Layout", 1000, 301, 1);
    file.data[10] = file.data[11] = file.rsrc[0] = 0x90;  // escaped as 0x90, 0x00
    for (const MacFileImage& f : {file, SampleMacFile("E", 0, 0, 2)}) {
        const std::string text = EncodedText(f);
        EXPECT_EQ(text.find('\n'), std::string::npos) << f.name;
        EXPECT_EQ(text.substr(0, kBanner.size() + 2), kBanner + "\r:") << f.name;
        EXPECT_EQ(text.substr(text.size() - 2), ":\r") << f.name;
        for (size_t line = kBanner.size() + 1, next; line + 1 < text.size(); line = next + 1) {
            next = text.find('\r', line);
            EXPECT_TRUE(next - line == 64 || next + 1 == text.size()) << f.name << " line at " << line;
            EXPECT_LE(next - line, 65u);
        }
        EXPECT_TRUE(SixBitDecode(text) == RawStream(f)) << f.name;
    }
}

TEST_F(BinHexTranslator, CrcHoldingTheRunMarkerIsEscaped)
{
    ASSERT_TRUE(OpenMiniVolume());
    MacFileImage file = SampleMacFile("Crc", 2, 0, 3);
    bool found = false;
    for (unsigned v = 0; v < 65536 && !found; ++v) {
        file.data = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
        const uint16_t crc = Crc16Xmodem(file.data.data(), 2);
        found = (crc >> 8) == 0x90 || (crc & 0xFF) == 0x90;
    }
    ASSERT_TRUE(found);
    const std::string text = EncodedText(file);
    EXPECT_TRUE(SixBitDecode(text) == RawStream(file));
    ExpectDecodesTo("Crc.hqx", file, "crc");
}

TEST_F(BinHexTranslator, ExpandsRuns)
{
    ASSERT_TRUE(OpenMiniVolume());
    MacFileImage file = SampleMacFile("Runs", 0, 0, 5);
    file.data.insert(file.data.end(), 300, 'X');
    file.data.insert(file.data.end(), 5, 0x90);
    file.data.insert(file.data.end(), {'A', 'B', 'C', 'C'});
    Bytes raw;
    AppendSection(&raw, HeaderSection(file));
    const Bytes runs = {'X', 0x90, 255, 0x90, 46,  // 255 + 45 = 300
                        0x90, 0, 0x90, 5,          // escaped 0x90, then four more
                        'A', 0x90, 1, 'B',         // count 1: A once
                        'C', 0x90, 2};             // C twice
    raw.insert(raw.end(), runs.begin(), runs.end());
    const uint16_t crc = Crc16Xmodem(file.data.data(), file.data.size());
    for (uint8_t b : {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)}) AppendEscaped(&raw, b);
    AppendSection(&raw, {});
    WritePc("runs.hqx", ToBytes(SixBitEncode(raw)));
    ExpectDecodesTo("runs.hqx", file, "runs");
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

}  // namespace
