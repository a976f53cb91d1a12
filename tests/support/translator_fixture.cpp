#include "support/translator_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "disk/image_drive.h"
#include "hfs/btree_search.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "support/engine_tree.h"
#include "translate/byte_stream.h"
#include "translate/translators.h"
#include "ui/mac_session.h"

namespace fs = std::filesystem;

std::vector<uint8_t> MacName(const std::string& name)
{
    const size_t length = std::min<size_t>(name.size(), 255);
    std::vector<uint8_t> out(1 + length);
    out[0] = static_cast<uint8_t>(length);
    std::memcpy(out.data() + 1, name.data(), length);
    return out;
}

bool ReadMacFile(uint32_t parentId, const std::string& name, MacFileImage* out, uint8_t* finderInfo)
{
    if (name.empty() || name.size() > 31) return false;
    const std::vector<uint8_t> macName = MacName(name);
    ForkRef ref;
    if (LookupFile(macName.data(), parentId, &ref) != 0) return false;
    const uint8_t* record = ref.recordBuffer->data + ref.recordOffset;
    MacFileImage file;
    file.name = name;
    file.type.assign(reinterpret_cast<const char*>(record + 4), 4);
    file.creator.assign(reinterpret_cast<const char*>(record + 8), 4);
    file.finderFlags = GetU16(record + 12);
    file.created = GetU32(record + 44);
    file.modified = GetU32(record + 48);
    if (finderInfo) std::memcpy(finderInfo, record + 4, 16);
    if (!ReadEngineFork(parentId, name, kDataFork, &file.data)) return false;
    if (!ReadEngineFork(parentId, name, kResourceFork, &file.rsrc)) return false;
    *out = std::move(file);
    return true;
}

bool PutMacFile(const MacFileImage& file)
{
    if (file.name.empty() || file.name.size() > 31) return false;
    TransferRecord record{};
    record.name[0] = static_cast<char>(file.name.size());
    std::memcpy(record.name + 1, file.name.data(), file.name.size());
    std::memcpy(record.finderInfo, file.type.data(), std::min<size_t>(file.type.size(), 4));
    std::memcpy(record.finderInfo + 4, file.creator.data(), std::min<size_t>(file.creator.size(), 4));
    PutU16(file.finderFlags, record.finderInfo + 8);
    record.parentId = MacPaneState.folderId;
    record.created = file.created;
    record.modified = file.modified;
    const int slot = OpenStream(StreamMacFork | StreamWrite, &record);
    if (slot < 0) return false;
    for (uint8_t b : file.data) WriteStreamByte(slot, b);
    SwitchStreamFork(slot, &record);
    for (uint8_t b : file.rsrc) WriteStreamByte(slot, b);
    CloseStream(slot);
    if (StatusCode == 0) FlushVolume();
    return StatusCode == 0;
}

std::vector<std::string> MacFolderNames()
{
    std::vector<std::string> names;
    MacPathTarget root{};
    EngineFolder folder;
    if (EngineRootTarget(&root) && ListEngineFolder(root, &folder))
        for (const EngineEntry& entry : folder.items) names.push_back(entry.name);
    return names;
}

std::vector<MacFileImage> TranslatorSampleFiles()
{
    std::vector<MacFileImage> files;
    auto add = [&](const std::string& name, const char* type, const char* creator, uint16_t flags,
                   std::vector<uint8_t> data, std::vector<uint8_t> rsrc) {
        const uint32_t created = 0xB5A1C2D3u + static_cast<uint32_t>(files.size()) * 86400u;
        files.push_back({name, type, creator, flags, created, created + 3600u, std::move(data), std::move(rsrc)});
    };
    add("Empty", "TEXT", "ttxt", 0x0000, {}, {});
    add("Plain", "TEXT", "ttxt", 0x2000, PatternBytes(1000, 1), PatternBytes(300, 2));
    add("Edges", "BINA", "????", 0x0400, PatternBytes(128, 3), PatternBytes(129, 4));
    std::vector<uint8_t> runs;
    for (unsigned i = 0; i < 40; ++i) {
        runs.insert(runs.end(), 3 + i * 17, static_cast<uint8_t>(i * 37));
        runs.insert(runs.end(), i % 5 + 1, 0x90);
        runs.push_back(static_cast<uint8_t>(i));
    }
    runs.insert(runs.end(), 1000, 0);
    runs.insert(runs.end(), 700, 0x90);
    std::vector<uint8_t> rsrcRuns(5000, 0xFF);
    rsrcRuns[2500] = 0x90;
    add("Runs and marks", "APPL", "MPS ", 0x2100, runs, rsrcRuns);
    add("Big file", "PICT", "8BIM", 0x0000, PatternBytes(200000, 5), PatternBytes(70000, 6));
    add("Caf\x8E and \xA5 Mac chars", "TEXT", "R*ch", 0x0040, PatternBytes(33000, 7), {});
    add("A name of thirty-one characters", "rsrc", "RSED", 0x1000, {}, PatternBytes(32768, 8));
    return files;
}

MacFileImage SampleMacFile(const std::string& name, size_t dataSize, size_t rsrcSize, uint32_t seed)
{
    return {name, "TEXT", "ttxt", 0x2104, 0xB5A1C2D3 + seed, 0xB5A1C2D3 + 2 * seed + 7, PatternBytes(dataSize, seed),
            PatternBytes(rsrcSize, seed + 1000)};
}

void ExpectSameMacFile(const MacFileImage& got, const MacFileImage& want, const std::string& what,
                       MacFileCompare compare)
{
    EXPECT_EQ(got.name, want.name) << what;
    EXPECT_EQ(got.type, want.type) << what;
    EXPECT_EQ(got.creator, want.creator) << what;
    EXPECT_EQ(got.finderFlags, want.finderFlags & compare.flagMask) << what;
    if (compare.dates) {
        EXPECT_EQ(got.created, want.created) << what;
        EXPECT_EQ(got.modified, want.modified) << what;
    }
    EXPECT_TRUE(got.data == want.data) << what << ": data fork differs";
    EXPECT_TRUE(got.rsrc == want.rsrc) << what << ": resource fork differs";
}

void TranslatorTest::SetUp()
{
    EngineStateTest::SetUp();
    std::snprintf(IniPath, sizeof IniPath, "%s", settings.PathOf("PIER.INI").c_str());
    std::snprintf(FtmPath, sizeof FtmPath, "%s", settings.PathOf("PIER.FTM").c_str());
    CurrentOptions.pcDirectory = pc.Path();
    // The extensions a user would have set.
    std::snprintf(TranslatorTable[kMacBinaryTranslator].extension, 4, "bin");
    std::snprintf(TranslatorTable[kBinHexTranslator].extension, 4, "hqx");
}

bool TranslatorTest::OpenVolumeFile(const std::string& path)
{
    imagePath = path;
    return OpenImageAsMacDrive(path.c_str(), true) && OpenListedVolume(0);
}

void TranslatorTest::CloseVolume()
{
    CloseMacDrive();
    ResetDiskState();
    StatusCode = 0;
}

uint32_t TranslatorTest::FinishCommand()
{
    if (StatusCode == 0) FlushVolume();
    const uint32_t result = StatusCode;
    if (StatusCode != 0) ReportStatus(MainWindow);
    StatusCode = 0;
    return result;
}

bool TranslatorTest::VolumeClean(std::string* why)
{
    std::vector<std::string> problems;
    CheckVolume(&problems);
    why->clear();
    for (size_t i = 0; i < problems.size() && i < 12; ++i) *why += problems[i] + "\n";
    return problems.empty();
}

std::vector<std::string> TranslatorTest::PcFiles() const
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(pc.Path(), error)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const WholeFileFormat kMacBinaryFormat{MacBinaryMacToPc, MacBinaryPcToMac, "bin", true};
const WholeFileFormat kBinHexFormat{BinHexMacToPc, BinHexPcToMac, "hqx", false};

uint32_t WholeFileTranslatorTest::Encode(const std::string& macName, uint32_t folderId)
{
    format_.encode(MacName(macName).data(), folderId);
    return FinishCommand();
}

uint32_t WholeFileTranslatorTest::Decode(const std::string& pcName)
{
    format_.decode(pcName.c_str(), kRootFolderId);
    return FinishCommand();
}

void WholeFileTranslatorTest::ExpectDecodesTo(const std::string& pcName, const MacFileImage& want,
                                              const std::string& what, uint16_t flagMask)
{
    ASSERT_EQ(Decode(pcName), 0u) << what;
    MacFileImage got;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, want.name, &got)) << what;
    ExpectSameMacFile(got, want, what, {flagMask, format_.keepsDates});
}

void TranslatorTest::ExpectVolumeClean(const std::string& what)
{
    std::string why;
    EXPECT_TRUE(VolumeClean(&why)) << what << ": " << why;
}

void WholeFileTranslatorTest::ExpectRefused(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& inputs)
{
    const std::vector<std::string> before = MacFolderNames();
    const std::string pcName = EncodedName("refused");
    for (const auto& [what, bytes] : inputs) {
        WritePc(pcName, bytes);
        EXPECT_EQ(Decode(pcName), kStatusWrongFileType) << what;
        EXPECT_EQ(MacFolderNames(), before) << what;
    }
    ExpectVolumeClean();
}

void WholeFileTranslatorTest::ExpectTakenNameGoesToTheClashDialog(const MacFileImage& replacement,
                                                                  const std::vector<uint8_t>& encoded)
{
    RecordingWindowSystem ws;
    ASSERT_TRUE(OpenMiniVolume());
    MacFileImage old;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, replacement.name, &old));
    const std::string pcName = EncodedName("taken");
    WritePc(pcName, encoded);
    ws.unscriptedAnswer = NameExistsAnswer::Skip;  // nothing changes, and no failure
    EXPECT_EQ(Decode(pcName), 0u);
    ASSERT_EQ(ws.asked, std::vector<NameSide>{NameSide::Mac});
    MacFileImage got;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, replacement.name, &got));
    ExpectSameMacFile(got, old, "skipped");
    ws.unscriptedAnswer = NameExistsAnswer::Overwrite;
    ExpectDecodesTo(pcName, replacement, "overwritten");
    ExpectVolumeClean();
}

void WholeFileTranslatorTest::ExpectMacWriteFailuresLeaveNothing(const MacFileImage& file,
                                                                 const std::vector<uint8_t>& encoded)
{
    const std::string pcName = EncodedName("in");
    WritePc(pcName, encoded);
    ASSERT_TRUE(OpenMiniVolume());
    const std::vector<std::string> before = MacFolderNames();
    ImageTable[0].faults = ImageFaults{};
    format_.decode(pcName.c_str(), kRootFolderId);
    const uint32_t writes = ImageTable[0].faults.writes;
    ASSERT_EQ(FinishCommand(), 0u);
    MacFileImage got;
    ASSERT_TRUE(ReadMacFile(kRootFolderId, file.name, &got));
    ExpectSameMacFile(got, file, "without faults", {0xFFFF, format_.keepsDates});
    CloseVolume();
    ASSERT_GE(writes, 2u);
    for (uint32_t k = 1; k <= writes; ++k) {
        ASSERT_TRUE(OpenMiniVolume());
        ImageTable[0].faults = ImageFaults{};
        ImageTable[0].faults.failWriteAt = k;
        EXPECT_EQ(Decode(pcName), kStatusWriteError) << "write " << k;
        ImageTable[0].faults.failWriteAt = 0;
        // The discard may unmount a volume whose blocks it cannot re-read;
        // what matters is the medium, so look at it afresh.
        CloseVolume();
        ASSERT_TRUE(OpenVolumeFile(imagePath)) << "write " << k;
        EXPECT_EQ(MacFolderNames(), before) << "write " << k;
        ExpectVolumeClean("write " + std::to_string(k));
        CloseVolume();
    }
}

void WholeFileTranslatorTest::ExpectMacReadFailuresLeaveNoPcFile()
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
            EXPECT_EQ(PcFiles(), std::vector<std::string>{EncodedName("Delta")});
        } else {
            EXPECT_EQ(status, kStatusReadError) << "read " << k;
            EXPECT_TRUE(PcFiles().empty()) << "read " << k;
        }
        CloseVolume();
    }
    EXPECT_TRUE(succeeded);
}

void WholeFileTranslatorTest::ExpectCancelLeavesNoFile(const std::vector<uint8_t>& encoded)
{
    RecordingWindowSystem ws;
    ASSERT_TRUE(OpenMiniVolume());
    ws.cancelAtPump = 1;
    EXPECT_EQ(Encode("Gamma"), kStatusCancelled);
    EXPECT_TRUE(PcFiles().empty());
    const std::string pcName = EncodedName("big");
    WritePc(pcName, encoded);
    const std::vector<std::string> before = MacFolderNames();
    for (unsigned pump : {1u, 3u}) {  // the third: after the first 32 KB of the PC file
        ws.pumps = 0;
        ws.cancelAtPump = pump;
        EXPECT_EQ(Decode(pcName), kStatusCancelled) << "pump " << pump;
        EXPECT_EQ(MacFolderNames(), before) << "pump " << pump;
    }
    ExpectVolumeClean();
}

void WholeFileTranslatorTest::ExpectPcWriteFailuresLeaveNoPartialFile(const MacFileImage& file)
{
    ASSERT_TRUE(OpenMiniVolume());
    ASSERT_TRUE(PutMacFile(file));
    PcFileFaults = PcFileFaultRecord{};
    ASSERT_EQ(Encode(file.name), 0u);
    const uint32_t writes = PcFileFaults.writes;
    ASSERT_GE(writes, 3u);
    const std::string pcName = EncodedName(file.name);
    fs::remove(PcPath(pcName));
    // A new file, and one replacing a file of the name (the clash dialog's
    // OverWrite), which must stay byte for byte.
    RecordingWindowSystem ws;
    ws.unscriptedAnswer = NameExistsAnswer::Overwrite;
    const std::vector<uint8_t> old = PatternBytes(40000, 17);
    for (bool replacing : {false, true}) {
        for (uint32_t k = 1; k <= writes; ++k) {
            for (bool nothing : {false, true}) {
                const std::string what = (replacing ? "replacing, write " : "write ") + std::to_string(k);
                if (replacing) WritePc(pcName, old);
                PcFileFaults = PcFileFaultRecord{};
                PcFileFaults.failWriteAt = k;
                PcFileFaults.writeNothing = nothing;
                EXPECT_EQ(Encode(file.name), nothing ? kStatusPcDiskFull : kStatusPcWriteError) << what;
                EXPECT_EQ(PcFiles(), replacing ? std::vector<std::string>{pcName} : std::vector<std::string>{})
                    << what;
                if (replacing) {
                    EXPECT_TRUE(ReadPc(pcName) == old) << what;
                }
            }
        }
    }
}

void WholeFileTranslatorTest::ExpectPcReadFailuresCreateNothing(const std::vector<uint8_t>& encoded,
                                                                uint32_t firstReadFailure)
{
    ASSERT_TRUE(OpenMiniVolume());
    const std::string pcName = EncodedName("in");
    WritePc(pcName, encoded);
    const std::vector<std::string> before = MacFolderNames();
    PcFileFaults = PcFileFaultRecord{};
    format_.decode(pcName.c_str(), kRootFolderId);
    const uint32_t reads = PcFileFaults.reads;
    EXPECT_EQ(FinishCommand(), 0u);
    CloseVolume();
    ASSERT_TRUE(OpenMiniVolume());
    ASSERT_EQ(MacFolderNames(), before);
    ASSERT_GE(reads, 3u);
    for (uint32_t k = 1; k <= reads; ++k) {
        PcFileFaults = PcFileFaultRecord{};
        PcFileFaults.failReadAt = k;
        EXPECT_EQ(Decode(pcName), k == 1 ? firstReadFailure : kStatusPcReadError) << "read " << k;
        EXPECT_EQ(MacFolderNames(), before) << "read " << k;
    }
    ExpectVolumeClean();
}

std::string WholeFileTranslatorTest::HfsutilsSourceImage(HfsUtils& hfs, const std::vector<MacFileImage>& files)
{
    const std::string path = images.PathOf("source.img");
    EXPECT_TRUE(hfs.Format(path, "Source", kOracleImageBytes)) << hfs.LastError();
    EXPECT_TRUE(hfs.PutMacBinary(files, ":")) << hfs.LastError();
    return path;
}

void WholeFileTranslatorTest::EncodeEachApart(const std::string& path, const std::vector<MacFileImage>& files,
                                              std::vector<MacFileImage>* onSource, std::vector<std::string>* written)
{
    ASSERT_TRUE(OpenVolumeFile(path));
    for (const MacFileImage& file : files) {
        MacFileImage want;
        ASSERT_TRUE(ReadMacFile(kRootFolderId, file.name, &want)) << file.name;
        onSource->push_back(want);
        ASSERT_EQ(Encode(file.name), 0u) << file.name;
        const std::vector<std::string> pcFiles = PcFiles();
        ASSERT_EQ(pcFiles.size(), 1u) << file.name;
        // Moved out of the PC directory, so the next file's name is free.
        const std::string kept = images.PathOf("ours" + std::to_string(written->size()) + "." + format_.extension);
        fs::rename(PcPath(pcFiles[0]), kept);
        written->push_back(kept);
    }
    CloseVolume();
}

void WholeFileTranslatorTest::DecodeOntoNewVolume(const std::vector<std::string>& pcNames,
                                                  const std::vector<MacFileImage>& want, const std::string& what,
                                                  uint16_t flagMask)
{
    HfsUtils target;
    const std::string path = images.PathOf("target-" + std::to_string(newVolumes_++) + ".img");
    ASSERT_TRUE(target.Format(path, "Target", kOracleImageBytes)) << target.LastError();
    ASSERT_TRUE(OpenVolumeFile(path));
    for (size_t i = 0; i < pcNames.size(); ++i)
        ExpectDecodesTo(pcNames[i], want[i], what + " " + want[i].name, flagMask);
    ExpectVolumeClean(what);
    CloseVolume();
    ASSERT_TRUE(target.Mount(path)) << target.LastError();
    for (const MacFileImage& file : want) {
        MacFileImage got;
        ASSERT_TRUE(target.GetMacBinary(":" + file.name, &got)) << target.LastError();
        ExpectSameMacFile(got, file, what + " through hfsutils: " + file.name, {flagMask, format_.keepsDates});
    }
}
