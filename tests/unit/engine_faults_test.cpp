// The read side under failing drives and scarce memory: every device read of
// opening, listing and reading a small volume failed in turn, short device
// transfers, cache buffers that cannot be allocated, the end-of-command
// report with its discard and unmount, and the read-only mount.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/main_state.h"
#include "core/status.h"
#include "core/window_system.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/cache.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "support/engine_state.h"
#include "support/mini_volume.h"
#include "support/recording_window.h"
#include "support/volume_walk.h"
#include "ui/mac_session.h"

namespace {

using Bytes = std::vector<uint8_t>;
using ForkKey = std::pair<std::string, uint8_t>;

constexpr const char* kReadErrorText = "Error reading Mac disk";

class EngineFaults : public EngineStateTest {
protected:
    void SetUp() override
    {
        EngineStateTest::SetUp();
        SetWindowSystem(&ws);
    }
    bool Called(const std::string& call) const
    {
        return std::find(ws.calls.begin(), ws.calls.end(), call) != ws.calls.end();
    }
    void Clear()
    {
        ws.messages.clear();
        ws.calls.clear();
    }

    // The image as the only drive, and the drive in use. The walk selects it.
    std::unique_ptr<TempImage> Drive(const Bytes& bytes, bool writable = false, uint32_t sectorSize = 512)
    {
        ResetEngineState();
        SetWindowSystem(&ws);
        Clear();
        auto image = std::make_unique<TempImage>(bytes, sectorSize, writable);
        EXPECT_NE(image->drive, nullptr);
        MacDriveIndex = 0;
        return image;
    }

    static WalkOptions Collecting(std::map<ForkKey, Bytes>* forks)
    {
        WalkOptions options;
        options.onFork = [forks](const std::string& path, uint8_t fork, const Bytes& bytes) {
            (*forks)[{path, fork}] = bytes;
        };
        return options;
    }

    std::map<ForkKey, Bytes> BuiltForks() const
    {
        std::map<ForkKey, Bytes> forks;
        for (const MiniFork& f : mini.forks) forks[{f.path, f.fork}] = f.bytes;
        return forks;
    }

    // The cached buffer for absolute block `block`, or null.
    static BlockBuffer* Cached(uint32_t block)
    {
        for (BlockBuffer* b = CacheHead(); b; b = b->next)
            if (b->block == block) return b;
        return nullptr;
    }

    MiniVolume mini = MakeMiniVolume();
    RecordingWindowSystem ws;
};

TEST_F(EngineFaults, CleanWalkReadsEveryForkAsBuilt)
{
    auto image = Drive(mini.bytes);
    std::map<ForkKey, Bytes> forks;
    std::map<std::string, std::vector<std::string>> folders;
    WalkOptions options = Collecting(&forks);
    options.onFolder = [&folders](const std::string& path, const std::vector<std::string>& names) {
        folders[path] = names;
    };
    options.climb = true;
    const WalkSummary s = WalkSelectedDrive(options);
    EXPECT_TRUE(s.Clean()) << s.firstStatus << " " << (LastCorruption ? LastCorruption : "");
    EXPECT_EQ(s.volumes, 1u);
    EXPECT_EQ(s.folders, mini.folders);
    EXPECT_EQ(s.files, mini.files);
    EXPECT_EQ(s.bytes, mini.forkBytes);
    EXPECT_EQ(s.deviceWrites, 0u);
    EXPECT_EQ(forks, BuiltForks());
    const std::vector<std::string> root = {"Docs", "Alpha", "Beta", "Delta", "Gamma"};
    EXPECT_EQ(folders[""], root);
    EXPECT_EQ(folders["Docs"], std::vector<std::string>{"Note"});
    EXPECT_EQ(s.climbs, 1u);  // from Docs back to the root
    EXPECT_EQ(s.climbsAstray, 0u);
    EXPECT_TRUE(ws.messages.empty());
}

// Failing the k-th device read, for every k a clean walk makes: the rest of
// the command runs on (the walk carries on through every remaining item) but
// reads nothing more and keeps the one read error, and its report is one
// message that leaves no status behind. The block factor probe reads block 0
// twice and ignores both results' failures, so reads 1 and 2 cost nothing.
TEST_F(EngineFaults, FailingEachDeviceReadStopsTheWalkWithOneReport)
{
    for (const uint32_t sectorSize : {512u, 2048u}) {
        SCOPED_TRACE("sector size " + std::to_string(sectorSize));
        WalkOptions options;
        options.climb = true;
        WalkSummary clean;
        {
            auto image = Drive(mini.bytes, false, sectorSize);
            clean = WalkSelectedDrive(options);
            ASSERT_TRUE(clean.Clean());
        }
        ASSERT_GT(clean.deviceReads, 10u);
        options.onFailure = WalkFailure::CarryOn;
        for (uint32_t k = 1; k <= clean.deviceReads; ++k) {
            SCOPED_TRACE("failing read " + std::to_string(k));
            auto image = Drive(mini.bytes, false, sectorSize);
            image->Slot().faults.failReadAt = k;
            const WalkSummary s = WalkSelectedDrive(options);
            EXPECT_TRUE(s.anomalies.empty());
            EXPECT_EQ(s.deviceWrites, 0u);
            if (k <= 2) {
                EXPECT_TRUE(s.Clean());
                EXPECT_EQ(s.digest, clean.digest);
                EXPECT_EQ(StatusCode, 0u);
                continue;
            }
            EXPECT_EQ(s.statuses, std::vector<uint32_t>{kStatusReadError});
            EXPECT_EQ(StatusCode, kStatusReadError);
            EXPECT_EQ(image->Slot().faults.reads, k);  // nothing read after the failure
            EXPECT_TRUE(ws.messages.empty());

            ReportStatus(MainWindow);
            ASSERT_EQ(ws.messages.size(), 1u);
            EXPECT_EQ(ws.messages[0].text, kReadErrorText);
            EXPECT_TRUE(ws.messages[0].caption.empty());
            EXPECT_EQ(ws.messages[0].style, kMbOk | kMbIconExclamation);
            EXPECT_EQ(StatusCode, 0u);
            // Nothing was changed in memory, so nothing was read back.
            EXPECT_EQ(image->Slot().faults.reads, k);
        }
    }
}

TEST_F(EngineFaults, ShortDeviceTransfersGiveTheSameBytes)
{
    const std::map<ForkKey, Bytes> built = BuiltForks();
    for (const uint32_t sectorSize : {512u, 2048u}) {
        for (const uint32_t transferBytes : {32768u, 4096u}) {
            SCOPED_TRACE(std::to_string(sectorSize) + "-byte sectors, transfers of " + std::to_string(transferBytes));
            auto image = Drive(mini.bytes, false, sectorSize);
            MaxTransferBytes = transferBytes;
            image->Slot().faults.maxSectorsPerCall = 1;
            std::map<ForkKey, Bytes> forks;
            const WalkSummary s = WalkSelectedDrive(Collecting(&forks));
            EXPECT_TRUE(s.Clean());
            EXPECT_EQ(s.files, mini.files);
            EXPECT_EQ(forks, built);
        }
    }
}

TEST_F(EngineFaults, WithAllocationFailingTheLeastRecentlyUsedCleanBufferIsReused)
{
    auto image = Drive(mini.bytes);
    ASSERT_TRUE(WalkSelectedDrive().Clean());
    const unsigned buffers = CacheBufferCount();
    ASSERT_GE(buffers, 5u);  // the MDB, two header nodes, catalog index and leaves, extents leaf
    CacheAllocationLimit = buffers;

    // The least recently used buffers are at the tail; dirty the last clean
    // one, so the one before it must be taken instead.
    std::vector<BlockBuffer*> clean;
    for (BlockBuffer* b = CacheHead(); b; b = b->next)
        if (b->flags == 0) clean.push_back(b);
    ASSERT_GE(clean.size(), 2u);
    BlockBuffer* dirtied = clean.back();
    BlockBuffer* expected = clean[clean.size() - 2];
    const uint32_t dirtiedBlock = dirtied->block;
    const uint32_t replacedBlock = expected->block;
    BlockPutU8(dirtied->data[0], dirtied, 0);

    const uint32_t bitmapBlock = 3;  // never cached by a walk
    ASSERT_EQ(Cached(bitmapBlock), nullptr);
    BlockBuffer* got = nullptr;
    EXPECT_EQ(GetVolumeBlock(&got, bitmapBlock, 1), 1u);
    EXPECT_EQ(StatusCode, 0u);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(CacheBufferCount(), buffers);
    EXPECT_EQ(Cached(replacedBlock), nullptr);
    EXPECT_EQ(Cached(dirtiedBlock), dirtied);
    EXPECT_EQ(CacheHead(), got);
    EXPECT_EQ(Bytes(got->data, got->data + 512), Bytes(&mini.bytes[3 * 512], &mini.bytes[4 * 512]));

    // Every buffer pinned or dirty: nothing can be reused.
    for (BlockBuffer* b = CacheHead(); b; b = b->next)
        if (b->flags == 0) b->flags = kBlockPinned;
    BlockBuffer* none = nullptr;
    ASSERT_EQ(Cached(1000), nullptr);
    EXPECT_EQ(GetVolumeBlock(&none, 1000, 1), 0u);
    EXPECT_EQ(StatusCode, kStatusNoMemory);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(CacheBufferCount(), buffers);
    EXPECT_EQ(Cached(replacedBlock), nullptr);
    DiscardVolumeChanges();
}

TEST_F(EngineFaults, WalkWithFewCacheBuffersReadsTheSameOrRunsOutOfMemory)
{
    WalkSummary clean;
    {
        auto image = Drive(mini.bytes);
        clean = WalkSelectedDrive();
        ASSERT_TRUE(clean.Clean());
    }
    // Five buffers: the three the volume pins, the file record's leaf the
    // walk pins while it reads, and one that every other node takes in turn.
    {
        auto image = Drive(mini.bytes);
        CacheAllocationLimit = 5;
        const WalkSummary s = WalkSelectedDrive();
        EXPECT_TRUE(s.Clean());
        EXPECT_EQ(s.digest, clean.digest);
        EXPECT_GT(s.deviceReads, clean.deviceReads);  // nodes read again after reuse
    }
    // Three: all pinned once the volume is open.
    {
        auto image = Drive(mini.bytes);
        CacheAllocationLimit = 3;
        const WalkSummary s = WalkSelectedDrive();
        EXPECT_EQ(s.statuses, std::vector<uint32_t>{kStatusNoMemory});
        EXPECT_TRUE(s.anomalies.empty());
        ReportStatus(MainWindow);
        ASSERT_EQ(ws.messages.size(), 1u);
        EXPECT_EQ(ws.messages[0].text, "Insufficient memory for that operation");
        EXPECT_EQ(StatusCode, 0u);
    }
}

// A cancel shows nothing but still drops what the command changed in memory.
TEST_F(EngineFaults, ReportTextsAndSilentCancel)
{
    auto image = Drive(mini.bytes);
    const std::pair<uint32_t, const char*> reports[] = {
        {12, "Misc error: 12"},
        {kStatusBadNode, "Error Locating Node. Disk may be corrupt. (Use a disk diagnostic on the Mac.)"}};
    for (const auto& [code, text] : reports) {
        Clear();
        StatusCode = code;
        ReportStatus(MainWindow);
        ASSERT_EQ(ws.messages.size(), 1u);
        EXPECT_EQ(ws.messages[0].text, text);
        EXPECT_EQ(StatusCode, 0u);
    }
    ASSERT_TRUE(WalkSelectedDrive().Clean());
    BlockBuffer* mdb = MacVolume.mdb;
    BlockPutU8('X', mdb, kMdbVolumeName + 1);
    Clear();
    StatusCode = kStatusCancelled;
    ReportStatus(MainWindow);
    ReportStatus(MainWindow);  // nothing left to report
    EXPECT_TRUE(ws.messages.empty());
    EXPECT_EQ(StatusCode, 0u);
    EXPECT_EQ(mdb->data[kMdbVolumeName + 1], 'M');
    EXPECT_EQ(mdb->flags, kBlockPinned);
    EXPECT_EQ(MacVolume.mdb, mdb);
    EXPECT_EQ(image->Slot().faults.writes, 0u);
}

TEST_F(EngineFaults, FailedRereadDuringDiscardUnmountsWithoutASecondMessage)
{
    auto image = Drive(mini.bytes);
    ASSERT_TRUE(WalkSelectedDrive().Clean());
    BlockBuffer* leaf = Cached(MiniVolume::CatalogNodeOffset(2) / 512);
    ASSERT_NE(leaf, nullptr);
    BlockPutU8(0, leaf, 20);
    image->Slot().faults.failReadAt = image->Slot().faults.reads + 1;
    Clear();

    StatusCode = kStatusBadNode;
    ReportStatus(MainWindow);
    ASSERT_EQ(ws.messages.size(), 1u);
    EXPECT_EQ(ws.messages[0].text, "Error Locating Node. Disk may be corrupt. (Use a disk diagnostic on the Mac.)");
    EXPECT_EQ(StatusCode, 0u);
    // Unmounted: no cache, no list, the Mac side of the window emptied.
    EXPECT_EQ(CacheBufferCount(), 0u);
    EXPECT_EQ(CacheHead(), nullptr);
    EXPECT_EQ(MacVolume.mdb, nullptr);
    EXPECT_EQ(MacPaneState.items, nullptr);
    EXPECT_TRUE(Called("ListReset " + std::to_string(kIdMacList)));
    EXPECT_TRUE(Called("ComboReset " + std::to_string(kIdMacFolderBox)));
    EXPECT_TRUE(Called("Enable " + std::to_string(kIdMacFolderBox) + " off"));
    EXPECT_TRUE(Called("ComboReset " + std::to_string(kIdMacDriveBox)));
    EXPECT_TRUE(Called("ComboAdd " + std::to_string(kIdMacDriveBox) + " [IMAGE disk.img]"));
    EXPECT_TRUE(Called("Enable " + std::to_string(kIdMacUpButton) + " off"));
    EXPECT_EQ(image->Slot().faults.writes, 0u);
    EXPECT_EQ(image->Bytes(), mini.bytes);
}

TEST_F(EngineFaults, SuccessfulDiscardRereadsChangedBuffers)
{
    auto image = Drive(mini.bytes);
    ASSERT_TRUE(WalkSelectedDrive().Clean());
    BlockBuffer* leaf = Cached(MiniVolume::CatalogNodeOffset(2) / 512);
    ASSERT_NE(leaf, nullptr);
    const Bytes before(leaf->data, leaf->data + 512);
    BlockFill(0xAA, leaf, 14, 100);
    StatusCode = kStatusBadNode;
    ReportStatus(MainWindow);
    EXPECT_EQ(StatusCode, 0u);
    EXPECT_EQ(Bytes(leaf->data, leaf->data + 512), before);
    EXPECT_EQ(leaf->flags, 0u);
    EXPECT_NE(MacVolume.mdb, nullptr);  // still mounted
    EXPECT_TRUE(WalkSelectedDrive().Clean());
}

// A writable drive whose volume has no alternate MDB: the question is asked
// once; Yes mounts read only, and the first write then fails with code 5
// without touching the medium.
TEST_F(EngineFaults, MissingAlternateMdbAnsweredYesMountsReadOnly)
{
    Bytes bytes = mini.bytes;
    std::fill(bytes.begin() + (MiniVolume::kBlocks - 2) * 512, bytes.begin() + (MiniVolume::kBlocks - 1) * 512, 0);

    auto image = Drive(bytes, true);
    ws.questionAnswer = kIdYes;
    EXPECT_TRUE(WalkSelectedDrive().Clean());
    ASSERT_EQ(ws.messages.size(), 1u);
    EXPECT_EQ(ws.messages[0].text, "Mount volume read only?");
    EXPECT_EQ(ws.messages[0].caption, "Can't find backup VIB");
    EXPECT_EQ(ws.messages[0].style, kMbYesNo | kMbIconQuestion);
    EXPECT_NE(DriveTable[0].Flags & kDriveReadOnly, 0u);

    BlockPutU8('X', MacVolume.mdb, kMdbVolumeName + 1);
    FlushVolume();
    EXPECT_EQ(StatusCode, kStatusReadOnly);
    Clear();
    ReportStatus(MainWindow);
    ASSERT_EQ(ws.messages.size(), 1u);
    EXPECT_EQ(ws.messages[0].text, "Mac volume is read only");
    EXPECT_EQ(image->Slot().faults.writes, 0u);
    EXPECT_EQ(image->Bytes(), bytes);

    auto again = Drive(bytes, true);
    ws.questionAnswer = kIdNo;
    EXPECT_TRUE(WalkSelectedDrive().Clean());
    EXPECT_EQ(ws.messages.size(), 1u);
    EXPECT_EQ(DriveTable[0].Flags & kDriveReadOnly, 0u);
}

TEST_F(EngineFaults, FailedAlternateMdbReadAsksTheSameQuestion)
{
    auto image = Drive(mini.bytes, true);
    SelectMacDrive(MainWindow);
    ASSERT_EQ(StatusCode, 0u);
    ASSERT_EQ(MacPaneState.count, 1u);
    // The next read is the alternate MDB's.
    image->Slot().faults.failReadAt = image->Slot().faults.reads + 1;
    EXPECT_TRUE(OpenListedVolume(0));
    EXPECT_EQ(StatusCode, 0u);
    ASSERT_EQ(ws.messages.size(), 1u);
    EXPECT_EQ(ws.messages[0].text, "Mount volume read only?");
    EXPECT_NE(DriveTable[0].Flags & kDriveReadOnly, 0u);
    EXPECT_EQ(MacPaneState.count, 5u);  // the root listed
}

// A read-only image (no write operation) is never asked about.
TEST_F(EngineFaults, DriveWithoutWritesIsNotAsked)
{
    Bytes bytes = mini.bytes;
    std::fill(bytes.begin() + (MiniVolume::kBlocks - 2) * 512, bytes.begin() + (MiniVolume::kBlocks - 1) * 512, 0);
    auto image = Drive(bytes, false);
    EXPECT_TRUE(WalkSelectedDrive().Clean());
    EXPECT_TRUE(ws.messages.empty());
}

}  // namespace
