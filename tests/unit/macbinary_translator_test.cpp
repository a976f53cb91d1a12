// The MacBinary translator on the mini volume: what the encoder writes
// (checked with the test side's own MacBinary reader), files of the three
// header versions decoded, refused headers, and the failures of either side.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "disk/image_drive.h"
#include "disk/status.h"
#include "hfs/volume.h"
#include "platform/platform.h"
#include "support/engine_tree.h"
#include "support/macbinary_file.h"
#include "support/recording_window.h"
#include "support/translator_fixture.h"
#include "translate/byte_stream.h"
#include "translate/translators.h"
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

MacFileImage SampleFile(const std::string& name, size_t dataSize, size_t rsrcSize, uint32_t seed)
{
    MacFileImage file;
    file.name = name;
    file.type = "TEXT";
    file.creator = "ttxt";
    file.finderFlags = 0x2104;
    file.created = 0xB5A1C2D3 + seed;
    file.modified = 0xB5A1C2D3 + 2 * seed + 7;
    file.data = PatternBytes(dataSize, seed);
    file.rsrc = PatternBytes(rsrcSize, seed + 1000);
    return file;
}

void ExpectSameFile(const MacFileImage& got, const MacFileImage& want, const std::string& what)
{
    EXPECT_EQ(got.name, want.name) << what;
    EXPECT_EQ(got.type, want.type) << what;
    EXPECT_EQ(got.creator, want.creator) << what;
    EXPECT_EQ(got.finderFlags, want.finderFlags) << what;
    EXPECT_EQ(got.created, want.created) << what;
    EXPECT_EQ(got.modified, want.modified) << what;
    EXPECT_TRUE(got.data == want.data) << what << ": data fork differs (" << got.data.size() << " bytes, want "
                                        << want.data.size() << ")";
    EXPECT_TRUE(got.rsrc == want.rsrc) << what << ": resource fork differs (" << got.rsrc.size() << " bytes, want "
                                        << want.rsrc.size() << ")";
}

// A window system that answers the Mac name-clash dialog from a script.
class ClashWindowSystem : public RecordingWindowSystem {
public:
    intptr_t RunDialog(WindowHandle, const char* templateName, DialogProc, intptr_t) override
    {
        dialogs.push_back(templateName ? templateName : "");
        return answer;
    }
    std::vector<std::string> dialogs;
    intptr_t answer = 1;  // Skip
};

class MacBinaryTranslator : public TranslatorTest {
protected:
    // Decodes the PC file `pcName`; returns the command's status.
    uint32_t Decode(const std::string& pcName)
    {
        MacBinaryPcToMac(pcName.c_str(), kRootFolderId);
        return FinishCommand();
    }
    uint32_t Encode(const std::string& macName, uint32_t folderId = kRootFolderId)
    {
        MacBinaryMacToPc(MacName(macName).data(), folderId);
        return FinishCommand();
    }
};

TEST_F(MacBinaryTranslator, EncodesEveryFileOfTheVolumeAsMacBinaryII)
{
    ASSERT_TRUE(OpenMiniVolume());
    MacPathTarget note{};
    MacPathTarget docs{};
    ASSERT_TRUE(ResolveMacPath("Docs:Note", &note, &docs));
    const std::vector<std::pair<std::string, uint32_t>> files = {
        {"Alpha", kRootFolderId}, {"Beta", kRootFolderId}, {"Delta", kRootFolderId},
        {"Gamma", kRootFolderId}, {"Note", note.parentId}};
    for (const auto& [name, folder] : files) {
        MacFileImage want;
        ASSERT_TRUE(ReadMacFile(folder, name, &want)) << name;
        ASSERT_EQ(Encode(name, folder), 0u) << name;
        const Bytes bin = ReadPc(name + ".bin");
        ASSERT_EQ(bin.size(), 128 + Padded(want.data.size()) + Padded(want.rsrc.size())) << name;
        MacFileImage got;
        std::string why;
        ASSERT_TRUE(ReadMacBinary(bin, &got, &why)) << name << ": " << why;
        ExpectSameFile(got, want, name);
        // Fields this writer leaves zero: byte 0, the old low flag byte, icon
        // position and folder, protected flag, byte 82, and the rest of the
        // header but the low flag byte and the versions.
        for (size_t i : {size_t{0}, size_t{74}}) EXPECT_EQ(bin[i], 0) << name << " byte " << i;
        for (size_t i = 75; i <= 82; ++i) EXPECT_EQ(bin[i], 0) << name << " byte " << i;
        for (size_t i = 99; i < 122; ++i) {
            if (i != 101) {
                EXPECT_EQ(bin[i], 0) << name << " byte " << i;
            }
        }
        EXPECT_EQ(bin[122], 129) << name;
        EXPECT_EQ(bin[123], 129) << name;
        // Padding is zero bytes.
        const size_t dataEnd = 128 + want.data.size();
        EXPECT_TRUE(std::all_of(bin.begin() + static_cast<long>(dataEnd),
                                bin.begin() + static_cast<long>(128 + Padded(want.data.size())),
                                [](uint8_t b) { return b == 0; }))
            << name;
        EXPECT_TRUE(std::all_of(bin.end() - static_cast<long>(Padded(want.rsrc.size()) - want.rsrc.size()), bin.end(),
                                [](uint8_t b) { return b == 0; }))
            << name;
    }
    EXPECT_EQ(ReadPc("Beta.bin").size(), 128u);  // both forks empty: the header alone
}

// Decoding then encoding gives back the very bytes: every field the format
// keeps survives, and each fork is padded by its own length.
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
        MacFileImage file = SampleFile(c.name, c.data, c.rsrc, seed++);
        file.finderFlags = c.flags;
        const Bytes input = WriteMacBinary(file);
        WritePc("input.bin", input);
        ASSERT_EQ(Decode("input.bin"), 0u) << c.name;
        MacFileImage onMac;
        ASSERT_TRUE(ReadMacFile(kRootFolderId, c.name, &onMac)) << c.name;
        ExpectSameFile(onMac, file, c.name);
        for (const std::string& f : PcFiles()) std::filesystem::remove(PcPath(f));
        ASSERT_EQ(Encode(c.name), 0u) << c.name;
        const std::vector<std::string> written = PcFiles();
        ASSERT_EQ(written.size(), 1u) << c.name;
        EXPECT_TRUE(ReadPc(written[0]) == input) << c.name << " re-encoded differs";
        std::filesystem::remove(PcPath(written[0]));
    }
    std::string why;
    EXPECT_TRUE(VolumeClean(&why)) << why;
}

TEST_F(MacBinaryTranslator, ReadsTheThreeHeaderVersions)
{
    ASSERT_TRUE(OpenMiniVolume());
    // MacBinary II as the peer tools write it.
    MacFileImage two = SampleFile("Version two", 300, 200, 1);
    WritePc("two.bin", WriteMacBinary(two));
    ASSERT_EQ(Decode("two.bin"), 0u);

    // MacBinary I: no CRC, no versions; the low flag byte at 74.
    MacFileImage one = SampleFile("Version one", 129, 5, 2);
    Bytes bin = WriteMacBinary(one);
    bin[74] = static_cast<uint8_t>(one.finderFlags);
    bin[101] = 0x5A;  // whatever stands here is not a flag byte
    std::fill(bin.begin() + 122, bin.begin() + 126, 0);
    WritePc("one.bin", bin);
    ASSERT_EQ(Decode("one.bin"), 0u);

    // Versions given but a CRC that does not match: read as MacBinary I.
    MacFileImage damaged = SampleFile("Bad CRC", 10, 0, 3);
    bin = WriteMacBinary(damaged);
    bin[74] = 0x12;
    bin[125] ^= 0xFF;
    damaged.finderFlags = static_cast<uint16_t>((damaged.finderFlags & 0xFF00) | 0x12);
    WritePc("badcrc.bin", bin);
    ASSERT_EQ(Decode("badcrc.bin"), 0u);

    // MacBinary III: signature, version 130, and a secondary header the
    // reader skips (padded to 128 bytes) before the data fork.
    MacFileImage three = SampleFile("Version three", 1000, 0, 4);
    bin = WriteMacBinary(three);
    std::memcpy(bin.data() + 102, "mBIN", 4);
    bin[122] = 130;
    bin[120] = 0;
    bin[121] = 20;
    PutCrc(&bin);
    bin.insert(bin.begin() + 128, 128, 0xEE);
    WritePc("three.bin", bin);
    ASSERT_EQ(Decode("three.bin"), 0u);

    for (const MacFileImage* want : {&two, &one, &damaged, &three}) {
        MacFileImage got;
        ASSERT_TRUE(ReadMacFile(kRootFolderId, want->name, &got)) << want->name;
        ExpectSameFile(got, *want, want->name);
    }
    std::string why;
    EXPECT_TRUE(VolumeClean(&why)) << why;
}

TEST_F(MacBinaryTranslator, KeepsIconPositionAndFolderFromTheHeader)
{
    ASSERT_TRUE(OpenMiniVolume());
    Bytes bin = WriteMacBinary(SampleFile("Placed", 4, 4, 9));
    const uint8_t placement[6] = {0x01, 0xDC, 0x02, 0xE0, 0x00, 0x07};
    std::memcpy(bin.data() + 75, placement, 6);
    PutCrc(&bin);
    WritePc("header.bin", bin);
    ASSERT_EQ(Decode("header.bin"), 0u);
    MacFileImage got;
    uint8_t finderInfo[16];
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Placed", &got, finderInfo));
    EXPECT_EQ(0, std::memcmp(finderInfo + 10, placement, 6));
    // Encoding writes neither back.
    ASSERT_EQ(Encode("Placed"), 0u);
    const Bytes out = ReadPc("Placed.bin");
    ASSERT_GE(out.size(), 128u);
    EXPECT_TRUE(std::all_of(out.begin() + 75, out.begin() + 81, [](uint8_t b) { return b == 0; }));
}

TEST_F(MacBinaryTranslator, RefusedHeadersCreateNothing)
{
    ASSERT_TRUE(OpenMiniVolume());
    const std::vector<std::string> before = MacFolderNames(kRootFolderId);
    ASSERT_FALSE(before.empty());
    const Bytes good = WriteMacBinary(SampleFile("Refused", 300, 300, 5));
    struct Case {
        std::string what;
        Bytes bytes;
    };
    std::vector<Case> cases;
    Bytes b = good;
    b[1] = 0;
    PutCrc(&b);
    cases.push_back({"name length 0", b});
    b = good;
    b[1] = 32;
    PutCrc(&b);
    cases.push_back({"name length 32", b});
    b = good;
    b[1] = 255;
    cases.push_back({"name length 255", b});
    b = good;
    b[82] = 1;
    PutCrc(&b);
    cases.push_back({"byte 82 not zero", b});
    cases.push_back({"82 bytes", Bytes(good.begin(), good.begin() + 82)});
    cases.push_back({"127 bytes", Bytes(good.begin(), good.begin() + 127)});
    cases.push_back({"empty file", Bytes{}});
    for (const Case& c : cases) {
        WritePc("refused.bin", c.bytes);
        EXPECT_EQ(Decode("refused.bin"), kStatusWrongFileType) << c.what;
        EXPECT_EQ(MacFolderNames(kRootFolderId), before) << c.what;
    }
    std::string why;
    EXPECT_TRUE(VolumeClean(&why)) << why;
}

TEST_F(MacBinaryTranslator, FileEndingInsideAForkKeepsWhatWasRead)
{
    ASSERT_TRUE(OpenMiniVolume());
    MacFileImage file = SampleFile("Short", 1000, 400, 6);
    Bytes bin = WriteMacBinary(file);
    bin.resize(128 + 50);
    WritePc("short.bin", bin);
    ASSERT_EQ(Decode("short.bin"), 0u);
    MacFileImage got;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Short", &got));
    EXPECT_TRUE(got.data == Bytes(file.data.begin(), file.data.begin() + 50));
    EXPECT_TRUE(got.rsrc.empty());
}

TEST_F(MacBinaryTranslator, TakenNameGoesToTheClashDialog)
{
    ClashWindowSystem ws;
    ASSERT_TRUE(OpenMiniVolume());
    MacFileImage alpha;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Alpha", &alpha));
    MacFileImage replacement = SampleFile("Alpha", 77, 33, 7);
    WritePc("alpha.bin", WriteMacBinary(replacement));

    ws.answer = 1;  // Skip: nothing changes, and no failure
    EXPECT_EQ(Decode("alpha.bin"), 0u);
    ASSERT_EQ(ws.dialogs.size(), 1u);
    EXPECT_EQ(ws.dialogs[0], "MCOLLISION");
    MacFileImage got;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Alpha", &got));
    ExpectSameFile(got, alpha, "skipped");

    ws.answer = 3;  // OverWrite
    EXPECT_EQ(Decode("alpha.bin"), 0u);
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Alpha", &got));
    ExpectSameFile(got, replacement, "overwritten");
    std::string why;
    EXPECT_TRUE(VolumeClean(&why)) << why;
}

// Every device write the decode makes (its fork data; the write-back at the
// end of the command is the flush's own business) failed in turn: the
// command fails with the drive's code and, after the discard, the volume
// holds nothing of the file.
TEST_F(MacBinaryTranslator, MacWriteFailureLeavesNothingAfterTheDiscard)
{
    const MacFileImage file = SampleFile("Doomed", 40000, 3000, 8);
    WritePc("doomed.bin", WriteMacBinary(file));
    ASSERT_TRUE(OpenMiniVolume());
    const std::vector<std::string> before = MacFolderNames(kRootFolderId);
    ImageTable[0].faults = ImageFaults{};
    MacBinaryPcToMac("doomed.bin", kRootFolderId);
    const uint32_t writes = ImageTable[0].faults.writes;
    ASSERT_EQ(FinishCommand(), 0u);
    MacFileImage got;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, "Doomed", &got));
    ExpectSameFile(got, file, "without faults");
    CloseVolume();
    ASSERT_GE(writes, 2u);
    for (uint32_t k = 1; k <= writes; ++k) {
        ASSERT_TRUE(OpenMiniVolume());
        ImageTable[0].faults = ImageFaults{};
        ImageTable[0].faults.failWriteAt = k;
        EXPECT_EQ(Decode("doomed.bin"), kStatusWriteError) << "write " << k;
        ImageTable[0].faults.failWriteAt = 0;
        // The discard may unmount a volume whose blocks it cannot re-read;
        // what matters is the medium, so look at it afresh.
        CloseVolume();
        ASSERT_TRUE(OpenVolumeFile(imagePath)) << "write " << k;
        EXPECT_EQ(MacFolderNames(kRootFolderId), before) << "write " << k;
        std::string why;
        EXPECT_TRUE(VolumeClean(&why)) << "write " << k << ": " << why;
        CloseVolume();
    }
}

TEST_F(MacBinaryTranslator, MacReadFailureLeavesNoPcFile)
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
            EXPECT_EQ(PcFiles(), std::vector<std::string>{"Delta.bin"});
        } else {
            EXPECT_EQ(status, kStatusReadError) << "read " << k;
            EXPECT_TRUE(PcFiles().empty()) << "read " << k;
        }
        CloseVolume();
    }
    EXPECT_TRUE(succeeded);
}

TEST_F(MacBinaryTranslator, CancelLeavesNoFileOnEitherSide)
{
    RecordingWindowSystem ws;
    ASSERT_TRUE(OpenMiniVolume());
    ws.cancelAtPump = 1;
    EXPECT_EQ(Encode("Gamma"), kStatusCancelled);
    EXPECT_TRUE(PcFiles().empty());

    const std::vector<std::string> before = MacFolderNames(kRootFolderId);
    WritePc("big.bin", WriteMacBinary(SampleFile("Cancelled", 100000, 0, 9)));
    ws.pumps = 0;
    ws.cancelAtPump = 3;  // after the first 32 KB of the PC file
    EXPECT_EQ(Decode("big.bin"), kStatusCancelled);
    EXPECT_EQ(MacFolderNames(kRootFolderId), before);
    std::string why;
    EXPECT_TRUE(VolumeClean(&why)) << why;
}

// Every PC write of an encode failed in turn, or wrote nothing: code 103 or
// 100, reported once, and no partial PC file.
TEST_F(MacBinaryTranslator, PcWriteFailureLeavesNoPartialFile)
{
    ASSERT_TRUE(OpenMiniVolume());
    ASSERT_TRUE(PutMacFile(SampleFile("Large", 70000, 9000, 10)));
    PcFileFaults = PcFileFaultRecord{};
    ASSERT_EQ(Encode("Large"), 0u);
    const uint32_t writes = PcFileFaults.writes;
    ASSERT_GE(writes, 3u);
    std::filesystem::remove(PcPath("Large.bin"));
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

// Every PC read of a decode failed in turn: code 102, and after the discard
// nothing of the file on the volume.
TEST_F(MacBinaryTranslator, PcReadFailureCreatesNothing)
{
    ASSERT_TRUE(OpenMiniVolume());
    WritePc("large.bin", WriteMacBinary(SampleFile("Large", 70000, 9000, 11)));
    const std::vector<std::string> before = MacFolderNames(kRootFolderId);
    PcFileFaults = PcFileFaultRecord{};
    MacBinaryPcToMac("large.bin", kRootFolderId);
    const uint32_t reads = PcFileFaults.reads;
    EXPECT_EQ(FinishCommand(), 0u);
    CloseVolume();
    ASSERT_TRUE(OpenMiniVolume());
    ASSERT_EQ(MacFolderNames(kRootFolderId), before);
    ASSERT_GE(reads, 3u);
    for (uint32_t k = 1; k <= reads; ++k) {
        PcFileFaults = PcFileFaultRecord{};
        PcFileFaults.failReadAt = k;
        EXPECT_EQ(Decode("large.bin"), kStatusPcReadError) << "read " << k;
        EXPECT_EQ(MacFolderNames(kRootFolderId), before) << "read " << k;
    }
    std::string why;
    EXPECT_TRUE(VolumeClean(&why)) << why;
}

}  // namespace
