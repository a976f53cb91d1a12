// The Data, Text and Resource translators in both directions on the mini
// volume: exact round trips, line ends across buffer boundaries, empty forks,
// dates, type maps, names, and failures on either side part-way through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "core/prefs.h"
#include "core/progress.h"
#include "core/status.h"
#include "disk/image_drive.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "hfs/mac_time.h"
#include "hfs/volume.h"
#include "platform/platform.h"
#include "support/host.h"
#include "support/scripted_dialogs.h"
#include "support/translator_fixture.h"
#include "translate/byte_stream.h"
#include "translate/names.h"
#include "translate/registry.h"
#include "translate/translators.h"
#include "ui/mac_session.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kLf = 0x0A;

// Pattern bytes without CR, LF or 0x1A, so that line ends are only where a
// test puts them.
Bytes PlainBytes(size_t size, uint32_t seed)
{
    Bytes bytes = PatternBytes(size, seed);
    for (uint8_t& b : bytes)
        if (b == kCr || b == kLf || b == 0x1A) b = 'x';
    return bytes;
}

// The file system's spelling of a Windows-1252 name.
std::string NativeOf(const char* ansi)
{
    char native[1024];
    return AnsiToNative(ansi, native, sizeof native) ? native : "";
}

Bytes ToPcText(const Bytes& mac)
{
    Bytes out;
    for (uint8_t b : mac) {
        out.push_back(b);
        if (b == kCr) out.push_back(kLf);
    }
    return out;
}

Bytes ToMacText(const Bytes& pc)
{
    Bytes out;
    for (uint8_t b : pc)
        if (b != kLf && b != 0x1A) out.push_back(b);
    return out;
}

class DataTranslators : public TranslatorTest {
protected:
    void SetUp() override
    {
        TranslatorTest::SetUp();
        std::memcpy(savedIni_, IniPath, sizeof savedIni_);
        std::memcpy(savedFtm_, FtmPath, sizeof savedFtm_);
        std::snprintf(IniPath, sizeof IniPath, "%s", settings_.PathOf("PIER.INI").c_str());
        std::snprintf(FtmPath, sizeof FtmPath, "%s", settings_.PathOf("PIER.FTM").c_str());
        RegisterAllTranslators();
        Prefs.KeepDate = 1;
        Prefs.MacUseMap = 1;
        Prefs.PCUseMap = 1;
        PcFileFaults = PcFileFaultRecord{};
    }
    void TearDown() override
    {
        PcFileFaults = PcFileFaultRecord{};
        CloseProgress();
        ProgressTotal = 0;
        ReleaseTypeMaps();
        std::memcpy(IniPath, savedIni_, sizeof savedIni_);
        std::memcpy(FtmPath, savedFtm_, sizeof savedFtm_);
        TranslatorTest::TearDown();
    }

    void WriteTypeMaps(const std::string& text) const
    {
        settings_.WriteFile("PIER.FTM", Bytes(text.begin(), text.end()));
    }
    void SetTranslator(uint16_t index, const char* type, const char* creator, const char* extension)
    {
        std::snprintf(TranslatorTable[index].macType, 5, "%s", type);
        std::snprintf(TranslatorTable[index].macCreator, 5, "%s", creator);
        std::snprintf(TranslatorTable[index].extension, 4, "%s", extension);
    }

    // A Mac file with a data fork in the pane's current folder, flushed.
    static bool PutMac(const std::string& name, const Bytes& data, const char* typeCreator = "TEXTttxt",
                       uint32_t modified = 0)
    {
        return PutMacFile(
            MacFileImage{name, std::string(typeCreator, 4), std::string(typeCreator + 4, 4), 0, modified, modified, data, {}});
    }
    MacFileImage GetMac(const std::string& name, uint32_t folder = kRootFolderId)
    {
        MacFileImage file;
        EXPECT_TRUE(ReadMacFile(folder, name, &file)) << name;
        return file;
    }
    bool MacHas(const std::string& name, uint32_t folder = kRootFolderId)
    {
        const std::vector<std::string> names = MacFolderNames(folder);
        return std::find(names.begin(), names.end(), name) != names.end();
    }
    uint32_t ToPc(void (*op)(const uint8_t*, uint32_t), const std::string& name)
    {
        op(MacName(name).data(), kRootFolderId);
        return FinishCommand();
    }
    uint32_t ToMac(void (*op)(const char*, uint32_t), const std::string& name)
    {
        op(name.c_str(), MacPaneState.folderId);
        return FinishCommand();
    }
    // Drops the volume and opens the image again from the medium.
    bool Reopen()
    {
        const std::string path = imagePath;
        CloseVolume();
        return OpenVolumeFile(path);
    }
    void ExpectClean()
    {
        std::string why;
        EXPECT_TRUE(VolumeClean(&why)) << why;
    }

    TempDir settings_;
    char savedIni_[256];
    char savedFtm_[256];
};

TEST_F(DataTranslators, TextLineEndsAtBufferBoundaries)
{
    ASSERT_TRUE(OpenMiniVolume());
    // CRs at the last byte of the first read buffer, and where the written
    // CR LF pairs straddle the first and second write buffers. Character
    // codes are not translated. (The line end rules on their own, and round
    // trips of the Data and Resource translators, are cli_transfer_test's,
    // against hcopy.)
    Bytes mac = PlainBytes(100000, 3);
    for (size_t at : {size_t{0}, size_t{32766}, size_t{32767}, size_t{65535}, size_t{65536}, mac.size() - 1})
        mac[at] = kCr;
    ASSERT_TRUE(PutMac("lines", mac));
    ASSERT_EQ(ToPc(TextMacToPc, "lines"), 0u);
    const Bytes pcText = ReadPc("lines");
    EXPECT_EQ(pcText, ToPcText(mac));
    // And back: the PC file becomes the Mac text it came from.
    ASSERT_TRUE(FileDelete(PcPath("lines").c_str()));
    WritePc("back", pcText);
    ASSERT_EQ(ToMac(TextPcToMac, "back"), 0u);
    EXPECT_EQ(GetMac("back").data, mac);

    // PC side: a CR LF split between two read buffers, an LF and a 0x1A as
    // the last byte of one.
    Bytes text = PlainBytes(98304 + 10, 4);
    text[32767] = kCr;
    text[32768] = kLf;
    text[65535] = kLf;
    text[98303] = 0x1A;
    text[98304] = kCr;
    WritePc("pcfile", text);
    ASSERT_EQ(ToMac(TextPcToMac, "pcfile"), 0u);
    EXPECT_EQ(GetMac("pcfile").data, ToMacText(text));
}

TEST_F(DataTranslators, EachForkGoesOutOnItsOwnAndEmptyForksGiveEmptyFiles)
{
    ASSERT_TRUE(OpenMiniVolume());
    const MacFileImage alpha = GetMac("Alpha");
    ASSERT_EQ(ToPc(DataMacToPc, "Alpha"), 0u);
    EXPECT_EQ(ReadPc("Alpha"), alpha.data);
    ASSERT_TRUE(FileDelete(PcPath("Alpha").c_str()));
    ASSERT_EQ(ToPc(ResourceMacToPc, "Alpha"), 0u);
    EXPECT_EQ(ReadPc("Alpha"), alpha.rsrc);

    ASSERT_EQ(ToPc(ResourceMacToPc, "Gamma"), 0u);  // no resource fork
    EXPECT_TRUE(PcFileExists("Gamma"));
    EXPECT_TRUE(ReadPc("Gamma").empty());
    for (auto op : {DataMacToPc, TextMacToPc, ResourceMacToPc}) {
        ASSERT_EQ(ToPc(op, "Beta"), 0u);
        EXPECT_TRUE(PcFileExists("Beta"));
        EXPECT_TRUE(ReadPc("Beta").empty());
        ASSERT_TRUE(FileDelete(PcPath("Beta").c_str()));
    }
    // An empty PC file to the Mac and back is cli_transfer_test's, against hcopy.
}

// Only the Data translator carries the modification date, and only with
// KeepDate; otherwise a file made on the Mac gets now for both dates.
TEST_F(DataTranslators, KeepDateCarriesTheModificationDate)
{
    ASSERT_TRUE(OpenMiniVolume());
    ASSERT_TRUE(PutMac("dated", {1, 2, 3}, "TEXTttxt", UnixToMacDate(1100000000)));
    for (const auto& [op, keepDate, carried] :
         {std::tuple{&DataMacToPc, 1, true}, {&TextMacToPc, 1, false}, {&DataMacToPc, 0, false}}) {
        Prefs.KeepDate = static_cast<uint8_t>(keepDate);
        ASSERT_EQ(ToPc(op, "dated"), 0u);
        EXPECT_EQ(PcFileModifiedTime("dated") == 1100000000, carried);
        ASSERT_TRUE(FileDelete(PcPath("dated").c_str()));
    }
    const uint32_t before = MacNow();
    for (const auto& [name, op, keepDate] :
         {std::tuple{"kept", &DataPcToMac, 1}, {"text", &TextPcToMac, 1}, {"off", &DataPcToMac, 0}}) {
        WritePc(name, {4});
        SetPcFileDate(name, 1200000000);
        Prefs.KeepDate = static_cast<uint8_t>(keepDate);
        ASSERT_EQ(ToMac(op, name), 0u);
    }
    const uint32_t after = MacNow();
    const MacFileImage kept = GetMac("kept");
    EXPECT_EQ(kept.created, UnixToMacDate(1200000000));
    EXPECT_EQ(kept.modified, UnixToMacDate(1200000000));
    for (const char* name : {"text", "off"}) {
        const MacFileImage now = GetMac(name);
        EXPECT_GE(now.created, before) << name;
        EXPECT_LE(now.created, after) << name;
        EXPECT_EQ(now.created, now.modified) << name;
    }
}

TEST_F(DataTranslators, MacTypeMapGivesTheExtension)
{
    ASSERT_TRUE(OpenMiniVolume());
    SetTranslator(kDataTranslator, "BINA", "????", "dat");
    SetTranslator(kTextTranslator, "TEXT", "ttxt", "txt");
    ASSERT_TRUE(PutMac("both", {1}, "TEXTttxt"));
    ASSERT_TRUE(PutMac("typeonly", {1}, "TEXTxxxx"));
    ASSERT_TRUE(PutMac("neither", {1}, "GIFFogle"));
    WriteTypeMaps("[Mac Type Map]\nTEXTttxt=doc\nTEXT=asc\n");
    for (const char* name : {"both", "typeonly", "neither"}) ASSERT_EQ(ToPc(DataMacToPc, name), 0u);
    EXPECT_TRUE(PcFileExists("both.doc"));
    EXPECT_TRUE(PcFileExists("typeonly.asc"));
    EXPECT_TRUE(PcFileExists("neither.dat"));
    // An entry equal to the translator's extension still lets the type entry decide.
    WriteTypeMaps("[Mac Type Map]\nTEXTttxt=dat\nTEXT=asc\n");
    ASSERT_TRUE(FileDelete(PcPath("both.doc").c_str()));
    ASSERT_EQ(ToPc(DataMacToPc, "both"), 0u);
    EXPECT_TRUE(PcFileExists("both.asc"));
    // Text ignores the map; Data with MacUseMap off too.
    ASSERT_EQ(ToPc(TextMacToPc, "both"), 0u);
    EXPECT_TRUE(PcFileExists("both.txt"));
    Prefs.MacUseMap = 0;
    ASSERT_EQ(ToPc(DataMacToPc, "both"), 0u);
    EXPECT_TRUE(PcFileExists("both.dat"));
}

TEST_F(DataTranslators, PcTypeMapGivesTypeAndCreator)
{
    ASSERT_TRUE(OpenMiniVolume());
    SetTranslator(kDataTranslator, "BINA", "dflt", "");
    SetTranslator(kTextTranslator, "TEXT", "ttxt", "");
    SetTranslator(kResourceTranslator, "rsrc", "RSED", "");
    WriteTypeMaps("[PC Type Map]\ngif=GIFFogle\nfour=ABCD\nhigh=\xE9\x02xyMOSS\nthree=TXT\nsix=TEXTab\n");
    auto typeOf = [this](const char* name) {
        const MacFileImage file = GetMac(name);
        return file.type + file.creator;
    };
    // A short value is padded with spaces and leaves the translator's creator.
    const std::tuple<const char*, void (*)(const char*, uint32_t), std::string> cases[] = {
        {"a.gif", DataPcToMac, "GIFFogle"},
        {"b.four", DataPcToMac, "ABCDdflt"},
        {"noext", DataPcToMac, "BINAdflt"},
        {"c.unknown", DataPcToMac, "BINAdflt"},
        {"d.high", DataPcToMac, std::string("\x8E\0xyMOSS", 8)},  // ANSI to Mac, 0x02 to NUL
        {"e.gif", TextPcToMac, "TEXTttxt"},                        // Text and Resource ignore the map
        {"f.gif", ResourcePcToMac, "rsrcRSED"},
        {"h.three", DataPcToMac, "TXT dflt"},
        {"i.six", DataPcToMac, "TEXTab  "},
        {"m.GiF", DataPcToMac, "GIFFogle"},
    };
    // Read at each lookup, then held for a whole command: the same answers.
    for (const char* prefix : {"", "held "}) {
        if (*prefix) HoldTypeMaps();
        for (const auto& [base, op, typeCreator] : cases) {
            const std::string name = prefix + std::string(base);
            WritePc(name, {1});
            ASSERT_EQ(ToMac(op, name), 0u) << name;
            EXPECT_EQ(typeOf(name.c_str()), typeCreator) << name;
        }
    }
    ReleaseTypeMaps();
    Prefs.PCUseMap = 0;
    WritePc("g.gif", {1});
    ASSERT_EQ(ToMac(DataPcToMac, "g.gif"), 0u);
    EXPECT_EQ(typeOf("g.gif"), "BINAdflt");
    // A translator without settings gives four spaces each, whether or not
    // the name has an extension the map lacks.
    Prefs.PCUseMap = 1;
    SetTranslator(kDataTranslator, "    ", "    ", "");
    for (const auto& [name, typeCreator] : {std::pair<const char*, const char*>{"j.unknown", "        "},
                                            {"plain", "        "},
                                            {"k.four", "ABCD    "},
                                            {"l.three", "TXT     "}}) {
        WritePc(name, {1});
        ASSERT_EQ(ToMac(DataPcToMac, name), 0u) << name;
        EXPECT_EQ(typeOf(name), typeCreator) << name;
    }
}

TEST_F(DataTranslators, PcNamesStayAnsiOnTheirWayToTheMac)
{
    if (RunningUnderWine()) GTEST_SKIP() << "wine keeps names above 0x7F in the host's character set";
    ASSERT_TRUE(OpenMiniVolume());
    WritePc(NativeOf("caf\xE9.txt"), {1});
    ASSERT_EQ(ToMac(DataPcToMac, "caf\xE9.txt"), 0u);
    EXPECT_TRUE(MacHas("caf\x8E.txt"));  // Mac Roman e-acute
    const std::string forty(40, 'n');
    WritePc(forty, {2});
    ASSERT_EQ(ToMac(DataPcToMac, forty), 0u);
    EXPECT_TRUE(MacHas(std::string(31, 'n')));
}

// Every byte of a Mac name that the PC rules keep comes back unchanged after
// a trip to the PC and back; the others come back as "_".
TEST_F(DataTranslators, MacNameBytesSurviveTheRoundTrip)
{
    if (RunningUnderWine()) GTEST_SKIP() << "wine keeps names above 0x7F in the host's character set";
    const std::string kept = "$%'-_@~`!(){}^#&.+,;=[] ";
    for (bool allowUpper : {true, false}) {
        ASSERT_TRUE(OpenMiniVolume());
        Prefs.AllowUpper = allowUpper ? 1 : 0;
        MacPathTarget docs;
        ASSERT_TRUE(ResolveMacPath("Docs", &docs));
        std::vector<std::string> originals;
        for (unsigned start = 1; start < 256; start += 31) {
            std::string name;
            for (unsigned c = start; c < start + 31 && c < 256; ++c)
                if (c != ':') name += static_cast<char>(c);
            ASSERT_TRUE(PutMac(name, {static_cast<uint8_t>(start)})) << start;
            originals.push_back(name);
        }
        ASSERT_TRUE(ShowMacFolder(docs));
        std::vector<std::string> seen;
        for (const std::string& original : originals) {
            // What the rules say survives, in Mac characters.
            std::string expected;
            for (char ch : original) {
                const uint8_t c = static_cast<uint8_t>(ch);
                const bool keep = c >= 0x80 ? allowUpper
                                            : std::isalnum(c) != 0 || kept.find(ch) != std::string::npos;
                expected += keep ? ch : '_';
            }
            if (expected[0] == ' ') expected[0] = '!';
            // Names that clean to the same PC name would meet the collision dialog.
            if (std::find(seen.begin(), seen.end(), expected) != seen.end()) continue;
            seen.push_back(expected);

            ASSERT_EQ(ToPc(DataMacToPc, original), 0u);
            char pcName[256];
            MacNameToPc(pcName, MacName(expected).data(), true);
            ASSERT_TRUE(PcFileExists(pcName)) << expected;
            ASSERT_EQ(ToMac(DataPcToMac, pcName), 0u) << expected;
            EXPECT_EQ(MacNameKind(pcName), kItemFile) << expected;
            MacFileImage file;
            EXPECT_TRUE(ReadMacFile(docs.id, expected, &file)) << expected;
            ASSERT_TRUE(FileDelete(PcPath(NativeOf(pcName)).c_str()));
        }
        ExpectClean();
        CloseVolume();
    }
}

TEST_F(DataTranslators, FailedPcWriteLeavesNoFileAndReportsOnce)
{
    ASSERT_TRUE(OpenMiniVolume());
    ASSERT_TRUE(PutMac("big", PatternBytes(100000, 5)));
    for (bool writeNothing : {false, true}) {
        for (auto op : {DataMacToPc, TextMacToPc}) {
            ScriptedDialogs dialogs;
            PcFileFaults = PcFileFaultRecord{};
            PcFileFaults.failWriteAt = 2;
            PcFileFaults.writeNothing = writeNothing;
            EXPECT_EQ(ToPc(op, "big"), writeNothing ? kStatusPcDiskFull : kStatusPcWriteError);
            EXPECT_EQ(PcFileFaults.writes, 2u);  // none after the failing one
            EXPECT_EQ(dialogs.messages.size(), 1u);
            EXPECT_FALSE(PcFileExists("big"));
            EXPECT_TRUE(PcFiles().empty());
        }
    }
}

TEST_F(DataTranslators, CancelDuringACopyToThePcLeavesNoFile)
{
    ASSERT_TRUE(OpenMiniVolume());
    ASSERT_TRUE(PutMac("big", PatternBytes(100000, 6)));
    ScriptedDialogs dialogs;
    dialogs.showsProgress = true;
    ProgressTotal = 100000;
    OpenProgress(nullptr, kProgressCopyMacToPc);
    dialogs.cancelAtPump = 3;
    EXPECT_EQ(ToPc(DataMacToPc, "big"), kStatusCancelled);
    EXPECT_TRUE(dialogs.messages.empty());  // a cancel is reported silently
    EXPECT_TRUE(PcFiles().empty());
}

TEST_F(DataTranslators, FailedPcReadLeavesNothingOnTheMac)
{
    ASSERT_TRUE(OpenMiniVolume());
    WritePc("first", PatternBytes(5000, 7));
    WritePc("second", PatternBytes(100000, 8));
    ASSERT_EQ(ToMac(DataPcToMac, "first"), 0u);
    ScriptedDialogs dialogs;
    PcFileFaults = PcFileFaultRecord{};
    PcFileFaults.failReadAt = 2;
    EXPECT_EQ(ToMac(DataPcToMac, "second"), kStatusPcReadError);
    EXPECT_EQ(dialogs.messages.size(), 1u);
    PcFileFaults = PcFileFaultRecord{};
    ASSERT_TRUE(Reopen());
    EXPECT_FALSE(MacHas("second"));
    EXPECT_EQ(GetMac("first").data, PatternBytes(5000, 7));
    ExpectClean();
}

// The k-th device write of a copy to the Mac fails, for every k until the
// copy gets through: the file under way is gone after the discard, the one
// put before it is whole, and the volume checks clean from the medium.
TEST_F(DataTranslators, FailedMacWriteLeavesNothingOfThatFile)
{
    WritePc("first", PatternBytes(3000, 9));
    WritePc("second", PatternBytes(80000, 10));
    bool gotThrough = false;
    for (uint32_t k = 1; k <= 64 && !gotThrough; ++k) {
        ASSERT_TRUE(OpenMiniVolume());
        ASSERT_EQ(ToMac(DataPcToMac, "first"), 0u);
        ImageFaults& faults = ImageTable[0].faults;  // the Mac drive's image, the only one open
        faults = ImageFaults{};
        faults.failWriteAt = k;
        ScriptedDialogs dialogs;
        DataPcToMac("second", MacPaneState.folderId);
        // Only the copy's own writes fail; the flush that ends it does not.
        gotThrough = StatusCode == 0;
        faults = ImageFaults{};
        const uint32_t status = FinishCommand();
        if (!gotThrough) {
            EXPECT_EQ(status, kStatusWriteError) << k;
            EXPECT_EQ(dialogs.messages.size(), 1u) << k;
        }
        ASSERT_TRUE(Reopen()) << k;
        EXPECT_EQ(GetMac("first").data, PatternBytes(3000, 9)) << k;
        if (gotThrough)
            EXPECT_EQ(GetMac("second").data, PatternBytes(80000, 10));
        else
            EXPECT_FALSE(MacHas("second")) << k;
        ExpectClean();
        CloseVolume();
    }
    EXPECT_TRUE(gotThrough);
}

TEST_F(DataTranslators, SkipInTheDialogWritesNothing)
{
    ASSERT_TRUE(OpenMiniVolume());
    WritePc("Alpha", {1, 2});
    ScriptedDialogs dialogs;
    dialogs.Script({{kAnswerSkip, ""}, {kAnswerSkip, ""}});
    EXPECT_EQ(ToPc(DataMacToPc, "Alpha"), 0u);
    EXPECT_EQ(ReadPc("Alpha"), (Bytes{1, 2}));
    EXPECT_EQ(ToMac(DataPcToMac, "Alpha"), 0u);
    EXPECT_EQ(GetMac("Alpha").data.size(), 1000u);
    EXPECT_EQ(dialogs.templates, (std::vector<std::string>{"PCOLLISION", "MCOLLISION"}));
}

}  // namespace
