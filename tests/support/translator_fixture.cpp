#include "support/translator_fixture.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "disk/status.h"
#include "hfs/btree_search.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "platform/platform.h"
#include "support/engine_tree.h"
#include "support/mini_volume.h"
#include "translate/byte_stream.h"
#include "ui/mac_session.h"
#include "ui/main_state.h"

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

std::vector<std::string> MacFolderNames(uint32_t folderId)
{
    std::vector<std::string> names;
    MacPathTarget target{};
    if (folderId == kRootFolderId) {
        if (!EngineRootTarget(&target)) return names;
    } else {
        target.id = folderId;
        target.kind = kItemFolder;
    }
    EngineFolder folder;
    if (!ListEngineFolder(target, &folder)) return names;
    for (const EngineEntry& entry : folder.items) names.push_back(entry.name);
    return names;
}

std::vector<MacFileImage> TranslatorSampleFiles()
{
    std::vector<MacFileImage> files;
    auto add = [&](const std::string& name, const char* type, const char* creator, uint16_t flags,
                   std::vector<uint8_t> data, std::vector<uint8_t> rsrc) {
        MacFileImage f;
        f.name = name;
        f.type = type;
        f.creator = creator;
        f.finderFlags = flags;
        f.created = 0xB5A1C2D3u + static_cast<uint32_t>(files.size()) * 86400u;
        f.modified = f.created + 3600u;
        f.data = std::move(data);
        f.rsrc = std::move(rsrc);
        files.push_back(std::move(f));
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

void TranslatorTest::SetUp()
{
    EngineStateTest::SetUp();
    std::copy(std::begin(TranslatorTable), std::end(TranslatorTable), savedTable_);
    savedCount_ = TranslatorCount;
    char directory[1024];
    if (GetCurrentDir(directory, sizeof directory)) savedDirectory_ = directory;
    PcFileFaults = PcFileFaultRecord{};
    ASSERT_TRUE(SetCurrentDir(pc.Path().c_str()));
    // The extensions a user would have set; the type maps are not used by
    // these translators.
    std::snprintf(TranslatorTable[kMacBinaryTranslator].extension, 4, "bin");
    std::snprintf(TranslatorTable[kBinHexTranslator].extension, 4, "hqx");
}

void TranslatorTest::TearDown()
{
    for (unsigned slot = 0; slot < StreamSlotCount; ++slot) CloseStream(static_cast<int>(slot));
    CloseVolume();
    PcFileFaults = PcFileFaultRecord{};
    if (!savedDirectory_.empty()) SetCurrentDir(savedDirectory_.c_str());
    std::copy(std::begin(savedTable_), std::end(savedTable_), TranslatorTable);
    TranslatorCount = savedCount_;
    EngineStateTest::TearDown();
}

bool TranslatorTest::OpenVolumeBytes(const std::vector<uint8_t>& image)
{
    return OpenVolumeFile(images.WriteFile("volume.img", image));
}

bool TranslatorTest::OpenVolumeFile(const std::string& path)
{
    imagePath = path;
    return OpenImageAsMacDrive(path.c_str(), true) && OpenListedVolume(0);
}

bool TranslatorTest::OpenMiniVolume() { return OpenVolumeBytes(MakeMiniVolume().bytes); }

void TranslatorTest::CloseVolume()
{
    CloseMacDrive();
    ResetDiskState();
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
