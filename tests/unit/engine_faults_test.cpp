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

}  // namespace
