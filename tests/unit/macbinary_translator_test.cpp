// The MacBinary translator on the mini volume: what the encoder writes
// (checked with the test side's own MacBinary reader), files of the three
// header versions decoded, refused headers, and the failures of either side.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/status.h"
#include "hfs/volume.h"
#include "support/macbinary_file.h"
#include "support/translator_fixture.h"
#include "ui/mac_session.h"

namespace {

using Bytes = std::vector<uint8_t>;

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

TEST_F(MacBinaryTranslator, DecodeThenEncodeGivesTheSameBytes)
{
    ASSERT_TRUE(OpenMiniVolume());
    struct Case {
        std::string name;
        size_t data, rsrc;
        uint16_t flags;
    };
    const std::vector<Case> cases = {
        {"One and 128", 1, 128, 0x0000}, {"128 and one", 128, 1, 0xFFFF}, {"Empty", 0, 0, 0x4000},
        {"Odd sizes", 127, 129, 0x0100}, {"Big \xA5\x8E", 70000, 33000, 0x2000}};
    unsigned seed = 1;
    for (const Case& c : cases) {
        MacFileImage file = SampleMacFile(c.name, c.data, c.rsrc, seed++);
        file.finderFlags = c.flags;
        const Bytes input = WriteMacBinary(file);
        WritePc("input.bin", input);
        ExpectDecodesTo("input.bin", file, c.name);
        std::filesystem::remove(PcPath("input.bin"));
        ASSERT_EQ(Encode(c.name), 0u) << c.name;
        const std::vector<std::string> written = PcFiles();
        ASSERT_EQ(written.size(), 1u) << c.name;
        EXPECT_TRUE(ReadPc(written[0]) == input) << c.name << " re-encoded differs";
        std::filesystem::remove(PcPath(written[0]));
    }
    ExpectVolumeClean();
}

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

}  // namespace
