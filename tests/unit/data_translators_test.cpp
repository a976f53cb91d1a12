// The Data, Text and Resource translators on the mini volume: line ends
// across buffer boundaries, single forks, dates, type maps, ANSI names, and
// failures on either side part-way through. Round trips against hcopy are
// cli_transfer_test's.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "disk/image_drive.h"
#include "core/status.h"
#include "hfs/listing.h"
#include "hfs/mac_time.h"
#include "platform/platform.h"
#include "support/host.h"
#include "support/translator_fixture.h"
#include "translate/translators.h"
#include "ui/mac_session.h"
#include "core/prefs.h"
#include "core/progress.h"

namespace {

using Bytes = std::vector<uint8_t>;
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
    static bool PutMac(const std::string& name, const Bytes& data, const char* typeCreator = "TEXTttxt",
                       uint32_t modified = 0)
    {
        return PutMacFile(MacFileImage{name, std::string(typeCreator, 4), std::string(typeCreator + 4, 4), 0,
                                       modified, modified, data, {}});
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

TEST_F(DataTranslators, FailedOrCancelledCopyToThePcLeavesNoFile)
{
    ASSERT_TRUE(PutMac("big", PatternBytes(100000, 5)));
    for (bool writeNothing : {false, true}) {
        for (auto op : {DataMacToPc, TextMacToPc}) {
            RecordingWindowSystem ws;
            PcFileFaults = PcFileFaultRecord{};
            PcFileFaults.failWriteAt = 2;
            PcFileFaults.writeNothing = writeNothing;
            EXPECT_EQ(ToPc(op, "big"), writeNothing ? kStatusPcDiskFull : kStatusPcWriteError);
            EXPECT_EQ(PcFileFaults.writes, 2u);
            EXPECT_EQ(ws.messages.size(), 1u);
            EXPECT_TRUE(PcFiles().empty());
        }
    }
    PcFileFaults = PcFileFaultRecord{};
    RecordingWindowSystem ws;
    ProgressTotal = 100000;
    OpenProgress(nullptr, kProgressCopyMacToPc);
    ws.cancelAtPump = 3;
    EXPECT_EQ(ToPc(DataMacToPc, "big"), kStatusCancelled);
    EXPECT_TRUE(ws.messages.empty());
    EXPECT_TRUE(PcFiles().empty());
}

TEST_F(DataTranslators, FailedPcReadLeavesNothingOnTheMac)
{
    WritePc("first", PatternBytes(5000, 7));
    WritePc("second", PatternBytes(100000, 8));
    ASSERT_EQ(ToMac(DataPcToMac, "first"), 0u);
    RecordingWindowSystem ws;
    PcFileFaults.failReadAt = 2;
    EXPECT_EQ(ToMac(DataPcToMac, "second"), kStatusPcReadError);
    EXPECT_EQ(ws.messages.size(), 1u);
    PcFileFaults = PcFileFaultRecord{};
    ASSERT_TRUE(Reopen());
    EXPECT_FALSE(MacHas("second"));
    EXPECT_EQ(GetMac("first").data, PatternBytes(5000, 7));
    ExpectVolumeClean();
}

TEST_F(DataTranslators, FailedMacWriteLeavesNothingOfThatFile)
{
    WritePc("first", PatternBytes(3000, 9));
    WritePc("second", PatternBytes(80000, 10));
    bool gotThrough = false;
    for (uint32_t k = 1; k <= 64 && !gotThrough; ++k) {
        if (k > 1) {
            ASSERT_TRUE(OpenMiniVolume());
        }
        ASSERT_EQ(ToMac(DataPcToMac, "first"), 0u);
        ImageTable[0].faults = ImageFaults{};
        ImageTable[0].faults.failWriteAt = k;
        RecordingWindowSystem ws;
        DataPcToMac("second", MacPaneState.folderId);
        gotThrough = StatusCode == 0;  // only the copy's own writes fail, not the flush
        ImageTable[0].faults = ImageFaults{};
        const uint32_t status = FinishCommand();
        EXPECT_TRUE(gotThrough || (status == kStatusWriteError && ws.messages.size() == 1)) << k;
        ASSERT_TRUE(Reopen()) << k;
        EXPECT_EQ(GetMac("first").data, PatternBytes(3000, 9)) << k;
        EXPECT_EQ(MacHas("second"), gotThrough) << k;
        EXPECT_TRUE(!gotThrough || GetMac("second").data == PatternBytes(80000, 10));
        ExpectVolumeClean();
        CloseVolume();
    }
    EXPECT_TRUE(gotThrough);
}

}  // namespace
