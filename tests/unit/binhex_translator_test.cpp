// The BinHex 4.0 translator on the mini volume: the text the encoder writes
// (its lines, and the binary stream under the six-bit layer with CRCs from
// the test side's own CRC), a file written by macutils' binhex decoded,
// line ends and stray text, runs, and damaged, truncated and refused files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "disk/image_drive.h"
#include "disk/status.h"
#include "hfs/catalog_ops.h"
#include "hfs/volume.h"
#include "platform/platform.h"
#include "support/macbinary_file.h"
#include "support/recording_window.h"
#include "support/translator_fixture.h"
#include "translate/byte_stream.h"
#include "translate/translators.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kAlphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
const std::string kBanner = "(This file must be converted with BinHex 4.0)";

// Written by macutils' `binhex` from a MacBinary file of: name "Runs" and
// the Mac character 0xA5, type TEXT, creator ttxt, Finder flags 0x2100, the
// data fork RunsData() and the resource fork RunsRsrc(). Its runs include
// consecutive ones (600 x) and escaped 0x90 bytes; its line ends are LF.
const char kRunsHqx[] = R"hqx((This file must be converted; you knew that already.)

:"9*eER1P!&4&@&4dG(Kd)3!!!!53!!!!!#bNH8KPE'a[H*$rH*$rH*"DN!#3!*!
!N!#3!*!!!!!"!J-%"3B(#!N+#``0$Jm3%4)6&"8@&aJC'KXF(4iI)#%L)b3P*LF
S+5SV,#dZ,c!a-M-d06Bh1$Nk1c`p2Mp!38*$4%9'4dK*5NY-68j28&&58e499PG
B@9TEA&eHAf"KBQ0NC@CRD'PUDfaYEQp`FA*cG(9fGhKjHRYmIAjrJ)'#Ji5&KSH
)LBU,M)f1Mj!!NC+6P*@@PjLCQTZFRCkIS+'LSk5PTUHSUDUVV+fZVl#aXV1dYED
hZ,QkZlbp[Vr!`F,$a-A'amM*bX[-cFl2d0(5dp69eYIBfGVEh0hHhq$KiZ2NjHE
Rk1RUkqcYlZr`mI,cp2AfprMjq[[mrIlrN!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!
!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!
!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!
!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!
!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!
!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!
!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!
!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!
!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!
!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!
!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!
!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!
!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!!N!#3!*!
!SBN!N#KbFh*M(,X:
)hqx";

Bytes RunsData()
{
    Bytes data = {'H', 'e', 'l', 'l', 'o'};
    data.insert(data.end(), 600, 'x');
    data.insert(data.end(), 5, 0x90);
    data.push_back(0x90);
    data.push_back(0x00);
    for (unsigned i = 0; i < 256; ++i) data.push_back(static_cast<uint8_t>(i));
    data.insert(data.end(), 300, 0x90);
    return data;
}

Bytes RunsRsrc()
{
    Bytes rsrc(40, 0);
    for (char c : std::string("rsrc")) rsrc.push_back(static_cast<uint8_t>(c));
    return rsrc;
}

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

void AppendSection(Bytes* raw, const Bytes& section)
{
    for (uint8_t b : section) {
        raw->push_back(b);
        if (b == 0x90) raw->push_back(0);
    }
    const uint16_t crc = Crc16Xmodem(section.data(), section.size());
    for (uint8_t b : {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)}) {
        raw->push_back(b);
        if (b == 0x90) raw->push_back(0);
    }
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

MacFileImage Sample(const std::string& name, size_t data, size_t rsrc, uint32_t seed)
{
    MacFileImage file;
    file.name = name;
    file.type = "APPL";
    file.creator = "CwIE";
    file.finderFlags = 0x2100;
    file.data = PatternBytes(data, seed);
    file.rsrc = PatternBytes(rsrc, seed + 500);
    return file;
}

MacFileImage RunsFile()
{
    MacFileImage file;
    file.name = "Runs\xA5";
    file.type = "TEXT";
    file.creator = "ttxt";
    file.finderFlags = 0x2100;
    file.data = RunsData();
    file.rsrc = RunsRsrc();
    return file;
}

// Name, type, creator, flags and forks (BinHex keeps no dates).
void ExpectSameContent(const MacFileImage& got, const MacFileImage& want, const std::string& what)
{
    EXPECT_EQ(got.name, want.name) << what;
    EXPECT_EQ(got.type, want.type) << what;
    EXPECT_EQ(got.creator, want.creator) << what;
    EXPECT_EQ(got.finderFlags, want.finderFlags) << what;
    EXPECT_TRUE(got.data == want.data) << what << ": data fork differs (" << got.data.size() << " bytes, want "
                                        << want.data.size() << ")";
    EXPECT_TRUE(got.rsrc == want.rsrc) << what << ": resource fork differs (" << got.rsrc.size() << " bytes, want "
                                        << want.rsrc.size() << ")";
}

std::vector<std::string> SplitLines(const std::string& text, char eol)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == eol) {
            lines.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

class ClashWindowSystem : public RecordingWindowSystem {
public:
    intptr_t RunDialog(WindowHandle, const char* templateName, DialogProc, intptr_t) override
    {
        dialogs.push_back(templateName ? templateName : "");
        return answer;
    }
    std::vector<std::string> dialogs;
    intptr_t answer = 1;
};

class BinHexTranslator : public TranslatorTest {
protected:
    uint32_t Encode(const std::string& macName)
    {
        BinHexMacToPc(MacName(macName).data(), kRootFolderId);
        return FinishCommand();
    }
    uint32_t Decode(const std::string& pcName)
    {
        BinHexPcToMac(pcName.c_str(), kRootFolderId);
        return FinishCommand();
    }
    uint32_t DecodeText(const std::string& text)
    {
        WritePc("in.hqx", ToBytes(text));
        return Decode("in.hqx");
    }
    // Removes a Mac file of the root and writes the volume back.
    void RemoveMacFile(const std::string& name)
    {
        DeleteMacFile(MacName(name).data(), kRootFolderId);
        ASSERT_EQ(FinishCommand(), 0u) << name;
    }
    std::string EncodedText(const MacFileImage& file)
    {
        EXPECT_TRUE(PutMacFile(file)) << StatusCode;
        EXPECT_EQ(Encode(file.name), 0u);
        std::string name = file.name;
        std::replace_if(name.begin(), name.end(), [](char c) { return static_cast<uint8_t>(c) >= 0x80; }, '_');
        return ToText(ReadPc(name + ".hqx"));
    }
};

TEST_F(BinHexTranslator, EncodedTextHasItsLinesAndStream)
{
    ASSERT_TRUE(OpenMiniVolume());
    MacFileImage file = Sample("Layout", 1000, 301, 1);
    file.data[10] = 0x90;  // escaped as 0x90, 0x00
    file.data[11] = 0x90;
    file.rsrc[0] = 0x90;
    const std::string text = EncodedText(file);
    EXPECT_EQ(text.find('\n'), std::string::npos) << "line ends are CR alone";
    const std::vector<std::string> lines = SplitLines(text, '\r');
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], kBanner);
    EXPECT_EQ(lines[1].size(), 61u);
    EXPECT_EQ(lines[1][0], ':');
    for (size_t i = 2; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].size(), 64u) << "line " << i;
    EXPECT_LE(lines.back().size(), 65u);
    EXPECT_EQ(lines.back().back(), ':');
    EXPECT_EQ(text.back(), '\r');
    EXPECT_TRUE(SixBitDecode(text) == RawStream(file));
}

// The smallest file: 23 header bytes and two empty forks with their CRCs,
// 27 bytes, which the six-bit layer writes as 36 characters.
TEST_F(BinHexTranslator, EmptyForksAndOneCharacterName)
{
    ASSERT_TRUE(OpenMiniVolume());
    MacFileImage file = Sample("E", 0, 0, 2);
    const std::string text = EncodedText(file);
    EXPECT_EQ(text, kBanner + "\r:" + text.substr(kBanner.size() + 2, 36) + ":\r");
    const Bytes raw = SixBitDecode(text);
    EXPECT_EQ(raw.size(), 27u);
    EXPECT_TRUE(raw == RawStream(file));
}

// A section whose CRC holds the byte 0x90 has it escaped like data.
TEST_F(BinHexTranslator, CrcHoldingTheRunMarkerIsEscaped)
{
    ASSERT_TRUE(OpenMiniVolume());
    MacFileImage file = Sample("Crc", 2, 0, 3);
    bool found = false;
    for (unsigned v = 0; v < 65536 && !found; ++v) {
        file.data = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
        const uint16_t crc = Crc16Xmodem(file.data.data(), 2);
        found = (crc >> 8) == 0x90 || (crc & 0xFF) == 0x90;
    }
    ASSERT_TRUE(found);
    const std::string text = EncodedText(file);
    EXPECT_TRUE(SixBitDecode(text) == RawStream(file));
    RemoveMacFile("Crc");
    WritePc("crc.hqx", ToBytes(text));
    ASSERT_EQ(Decode("crc.hqx"), 0u);
    MacFileImage got;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Crc", &got));
    ExpectSameContent(got, file, "crc");
}

TEST_F(BinHexTranslator, EncodeThenDecodeKeepsEveryFile)
{
    ASSERT_TRUE(OpenMiniVolume());
    for (const std::string name : {"Alpha", "Beta", "Delta", "Gamma"}) {
        MacFileImage want;
        ASSERT_TRUE(ReadMacFile(kRootFolderId, name, &want)) << name;
        ASSERT_EQ(Encode(name), 0u) << name;
        RemoveMacFile(name);
        ASSERT_EQ(Decode(name + ".hqx"), 0u) << name;
        MacFileImage got;
        ASSERT_TRUE(ReadMacFile(kRootFolderId, name, &got)) << name;
        ExpectSameContent(got, want, name);
    }
    // Large enough for several stream buffers on both sides.
    MacFileImage big = Sample("Big", 100000, 40000, 4);
    for (size_t i = 0; i < big.data.size(); i += 97) big.data[i] = 0x90;
    ASSERT_TRUE(PutMacFile(big));
    ASSERT_EQ(Encode("Big"), 0u);
    RemoveMacFile("Big");
    ASSERT_EQ(Decode("Big.hqx"), 0u);
    MacFileImage got;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Big", &got));
    ExpectSameContent(got, big, "Big");
    std::string why;
    EXPECT_TRUE(VolumeClean(&why)) << why;
}

TEST_F(BinHexTranslator, DecodesMacutilsOutputInEveryLineEndStyle)
{
    ASSERT_TRUE(OpenMiniVolume());
    const std::string lf = kRunsHqx;
    std::string crlf;
    std::string cr;
    std::string blanks;
    for (char c : lf) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        cr += c == '\n' ? '\r' : c;
        blanks += c;
        if (c == 'N') blanks += " \t";  // stray blanks inside the lines
    }
    const std::string before = "From: someone\nSubject: a file\n\nText: with a colon: inside\n\n" + lf;
    const std::vector<std::pair<std::string, std::string>> variants = {
        {"LF", lf}, {"CR LF", crlf}, {"CR", cr}, {"blanks", blanks}, {"text before", before}};
    const MacFileImage want = RunsFile();
    for (const auto& [what, text] : variants) {
        ASSERT_EQ(DecodeText(text), 0u) << what;
        MacFileImage got;
        ASSERT_TRUE(ReadMacFile(kRootFolderId, want.name, &got)) << what;
        ExpectSameContent(got, want, what);
        RemoveMacFile(want.name);
    }
}

// Runs as another program may write them: the run marker's count includes
// the byte before it, consecutive runs go past 255, a run may repeat an
// escaped 0x90, and a count of 1 adds nothing.
TEST_F(BinHexTranslator, ExpandsRuns)
{
    ASSERT_TRUE(OpenMiniVolume());
    MacFileImage file = Sample("Runs", 0, 0, 5);
    Bytes data;
    data.insert(data.end(), 300, 'X');
    data.insert(data.end(), 5, 0x90);
    data.push_back('A');
    data.push_back('B');
    data.insert(data.end(), 2, 'C');
    file.data = data;
    Bytes header = HeaderSection(file);
    Bytes raw;
    AppendSection(&raw, header);
    const Bytes runs = {'X', 0x90, 255, 0x90, 46,  // 255 + 45 = 300
                        0x90, 0, 0x90, 5,          // escaped 0x90, then four more
                        'A', 0x90, 1, 'B',         // count 1: A once
                        'C', 0x90, 2};             // C twice
    raw.insert(raw.end(), runs.begin(), runs.end());
    const uint16_t crc = Crc16Xmodem(data.data(), data.size());
    Bytes tail = {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
    for (uint8_t b : tail) {
        raw.push_back(b);
        if (b == 0x90) raw.push_back(0);
    }
    AppendSection(&raw, {});
    ASSERT_EQ(DecodeText(SixBitEncode(raw)), 0u);
    MacFileImage got;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Runs", &got));
    ExpectSameContent(got, file, "runs");
}

// A damaged character anywhere in the data gives code 16, and once the
// command has ended the volume holds nothing of the file.
TEST_F(BinHexTranslator, DamagedCharacterIsRefusedAndLeavesNoFile)
{
    ASSERT_TRUE(OpenMiniVolume());
    const MacFileImage file = Sample("Damaged", 700, 200, 6);
    const std::string text = EncodedText(file);
    RemoveMacFile(file.name);
    const std::vector<std::string> before = MacFolderNames(kRootFolderId);
    const size_t start = text.find("\r:") + 2;
    const size_t end = text.rfind(':');
    unsigned damaged = 0;
    for (size_t i = start; i < end; i += 5) {
        if (text[i] == '\r') continue;
        std::string copy = text;
        const char* p = std::strchr(kAlphabet, copy[i]);
        ASSERT_NE(p, nullptr);
        copy[i] = kAlphabet[(p - kAlphabet + 1 + i % 63) % 64];
        EXPECT_EQ(DecodeText(copy), kStatusWrongFileType) << "character " << i;
        EXPECT_EQ(MacFolderNames(kRootFolderId), before) << "character " << i;
        ++damaged;
    }
    EXPECT_GT(damaged, 100u);
    std::string why;
    EXPECT_TRUE(VolumeClean(&why)) << why;
}

TEST_F(BinHexTranslator, TruncatedAndRefusedFilesCreateNothing)
{
    ASSERT_TRUE(OpenMiniVolume());
    const MacFileImage file = Sample("Cut", 600, 90, 7);
    const std::string text = EncodedText(file);
    RemoveMacFile(file.name);
    const std::vector<std::string> before = MacFolderNames(kRootFolderId);

    std::vector<std::pair<std::string, std::string>> cases;
    // Cut inside the header, inside each fork, and before the last character.
    const size_t last = text.find_last_of(kAlphabet, text.rfind(':') - 1);
    for (size_t cut : {size_t{60}, size_t{200}, last - 300, last - 2, last})
        cases.push_back({"cut at " + std::to_string(cut), text.substr(0, cut)});
    cases.push_back({"no colon at a line start", kBanner + "\r xx:abc\r"});
    cases.push_back({"empty file", ""});
    MacFileImage bad = file;
    bad.name = "";
    cases.push_back({"name length 0", SixBitEncode(RawStream(bad))});
    bad.name = std::string(32, 'n');
    cases.push_back({"name length 32", SixBitEncode(RawStream(bad))});
    cases.push_back({"header only", SixBitEncode([&] {
                         Bytes raw;
                         AppendSection(&raw, HeaderSection(file));
                         return raw;
                     }())});
    for (const auto& [what, input] : cases) {
        EXPECT_EQ(DecodeText(input), kStatusWrongFileType) << what;
        EXPECT_EQ(MacFolderNames(kRootFolderId), before) << what;
    }
    // Text after the closing colon is not read.
    ASSERT_EQ(DecodeText(text + "trailing words: and more\r"), 0u);
    MacFileImage got;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Cut", &got));
    ExpectSameContent(got, file, "trailing text");
    std::string why;
    EXPECT_TRUE(VolumeClean(&why)) << why;
}

TEST_F(BinHexTranslator, TakenNameGoesToTheClashDialog)
{
    ClashWindowSystem ws;
    ASSERT_TRUE(OpenMiniVolume());
    MacFileImage alpha;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Alpha", &alpha));
    MacFileImage replacement = Sample("Alpha", 50, 60, 8);
    ASSERT_EQ(DecodeText(SixBitEncode(RawStream(replacement))), 0u);
    ASSERT_EQ(ws.dialogs.size(), 1u);
    EXPECT_EQ(ws.dialogs[0], "MCOLLISION");
    MacFileImage got;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Alpha", &got));
    EXPECT_TRUE(got.data == alpha.data);
    ws.answer = 3;  // OverWrite
    ASSERT_EQ(Decode("in.hqx"), 0u);
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Alpha", &got));
    ExpectSameContent(got, replacement, "overwritten");
}

// Every device write of the decode itself failed in turn (the write-back
// that ends the command is the flush's own business).
TEST_F(BinHexTranslator, MacWriteFailureLeavesNothingAfterTheDiscard)
{
    const MacFileImage file = Sample("Doomed", 50000, 2000, 9);
    WritePc("in.hqx", ToBytes(SixBitEncode(RawStream(file))));
    ASSERT_TRUE(OpenMiniVolume());
    const std::vector<std::string> before = MacFolderNames(kRootFolderId);
    ImageTable[0].faults = ImageFaults{};
    BinHexPcToMac("in.hqx", kRootFolderId);
    const uint32_t writes = ImageTable[0].faults.writes;
    ASSERT_EQ(FinishCommand(), 0u);
    MacFileImage got;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Doomed", &got));
    ExpectSameContent(got, file, "without faults");
    CloseVolume();
    ASSERT_GE(writes, 2u);
    for (uint32_t k = 1; k <= writes; ++k) {
        ASSERT_TRUE(OpenMiniVolume());
        ImageTable[0].faults = ImageFaults{};
        ImageTable[0].faults.failWriteAt = k;
        EXPECT_EQ(Decode("in.hqx"), kStatusWriteError) << "write " << k;
        ImageTable[0].faults.failWriteAt = 0;
        CloseVolume();
        ASSERT_TRUE(OpenVolumeFile(imagePath));
        EXPECT_EQ(MacFolderNames(kRootFolderId), before) << "write " << k;
        std::string why;
        EXPECT_TRUE(VolumeClean(&why)) << "write " << k << ": " << why;
        CloseVolume();
    }
}

TEST_F(BinHexTranslator, MacReadFailureOrCancelLeavesNoPcFile)
{
    bool succeeded = false;
    for (uint32_t k = 1; k < 100 && !succeeded; ++k) {
        ASSERT_TRUE(OpenMiniVolume());
        ImageTable[0].faults = ImageFaults{};
        ImageTable[0].faults.failReadAt = k;
        const uint32_t status = Encode("Delta");
        ImageTable[0].faults.failReadAt = 0;
        if (status == 0) {
            succeeded = true;
            EXPECT_EQ(PcFiles(), std::vector<std::string>{"Delta.hqx"});
        } else {
            EXPECT_EQ(status, kStatusReadError) << "read " << k;
            EXPECT_TRUE(PcFiles().empty()) << "read " << k;
        }
        CloseVolume();
    }
    EXPECT_TRUE(succeeded);

    RecordingWindowSystem ws;
    ASSERT_TRUE(OpenMiniVolume());
    std::filesystem::remove(PcPath("Delta.hqx"));
    ws.cancelAtPump = 1;
    EXPECT_EQ(Encode("Gamma"), kStatusCancelled);
    EXPECT_TRUE(PcFiles().empty());
    // Cancelled while the PC file is read: the marker search answers the
    // cancel, not a refusal.
    WritePc("in.hqx", ToBytes(SixBitEncode(RawStream(Sample("Late", 90000, 0, 10)))));
    const std::vector<std::string> before = MacFolderNames(kRootFolderId);
    for (unsigned pump : {1u, 3u}) {
        ws.pumps = 0;
        ws.cancelAtPump = pump;
        EXPECT_EQ(Decode("in.hqx"), kStatusCancelled) << "pump " << pump;
        EXPECT_EQ(MacFolderNames(kRootFolderId), before) << "pump " << pump;
    }
}

TEST_F(BinHexTranslator, PcWriteFailureLeavesNoPartialFile)
{
    ASSERT_TRUE(OpenMiniVolume());
    ASSERT_TRUE(PutMacFile(Sample("Large", 60000, 9000, 11)));
    PcFileFaults = PcFileFaultRecord{};
    ASSERT_EQ(Encode("Large"), 0u);
    const uint32_t writes = PcFileFaults.writes;
    ASSERT_GE(writes, 3u);
    std::filesystem::remove(PcPath("Large.hqx"));
    for (uint32_t k = 1; k <= writes; ++k) {
        for (bool nothing : {false, true}) {
            PcFileFaults = PcFileFaultRecord{};
            PcFileFaults.failWriteAt = k;
            PcFileFaults.writeNothing = nothing;
            EXPECT_EQ(Encode("Large"), nothing ? kStatusPcDiskFull : kStatusPcWriteError) << "write " << k;
            EXPECT_TRUE(PcFiles().empty()) << "write " << k;
        }
    }
}

// A read failure before the opening colon is found counts as a file that
// holds none; after it, the read error stands.
TEST_F(BinHexTranslator, PcReadFailureCreatesNothing)
{
    ASSERT_TRUE(OpenMiniVolume());
    WritePc("in.hqx", ToBytes(SixBitEncode(RawStream(Sample("Large", 70000, 9000, 12)))));
    const std::vector<std::string> before = MacFolderNames(kRootFolderId);
    PcFileFaults = PcFileFaultRecord{};
    BinHexPcToMac("in.hqx", kRootFolderId);
    const uint32_t reads = PcFileFaults.reads;
    EXPECT_EQ(FinishCommand(), 0u);
    CloseVolume();
    ASSERT_TRUE(OpenMiniVolume());
    ASSERT_EQ(MacFolderNames(kRootFolderId), before);
    ASSERT_GE(reads, 3u);
    for (uint32_t k = 1; k <= reads; ++k) {
        PcFileFaults = PcFileFaultRecord{};
        PcFileFaults.failReadAt = k;
        EXPECT_EQ(Decode("in.hqx"), k == 1 ? kStatusWrongFileType : kStatusPcReadError) << "read " << k;
        EXPECT_EQ(MacFolderNames(kRootFolderId), before) << "read " << k;
    }
    std::string why;
    EXPECT_TRUE(VolumeClean(&why)) << why;
}

}  // namespace
