// The block cache: one block per cached request, overwrite-only buffers,
// direct runs cut to the transfer limit, and buffers that were set up but
// never filled.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "core/main_state.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/cache.h"
#include "support/engine_state.h"

namespace {

class BlockCache : public EngineStateTest {
protected:
    void SetUp() override
    {
        EngineStateTest::SetUp();
        image = std::make_unique<TempImage>(PatternBytes(256 * 512, 7));
        ASSERT_NE(image->drive, nullptr);
        MacDriveIndex = 0;
    }
    void TearDown() override
    {
        FreeBlockCache();
        image.reset();
        EngineStateTest::TearDown();
    }
    uint32_t DeviceReads() { return image->Slot().faults.reads; }

    std::unique_ptr<TempImage> image;
};

TEST_F(BlockCache, CachedRequestsServeOneBlockAndHitWithoutReading)
{
    const auto expected = PatternBytes(256 * 512, 7);
    BlockBuffer* b = nullptr;
    EXPECT_EQ(GetBlock(&b, 10, 3), 1);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(std::equal(b->data, b->data + 512, expected.begin() + 10 * 512));
    const uint32_t reads = DeviceReads();
    BlockBuffer* again = nullptr;
    EXPECT_EQ(GetBlock(&again, 10, 1), 1);
    EXPECT_EQ(again, b);
    EXPECT_EQ(DeviceReads(), reads);
    EXPECT_EQ(CacheHead(), b);
}

TEST_F(BlockCache, ZeroCountSetsUpABufferWithoutReading)
{
    const uint32_t reads = DeviceReads();
    BlockBuffer* b = nullptr;
    EXPECT_EQ(GetBlock(&b, 20, 0), 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->flags, 0);
    EXPECT_EQ(DeviceReads(), reads);
    EXPECT_EQ(CacheBufferCount(), 1u);
}

TEST_F(BlockCache, DirectReadsAreCutToTheTransferLimit)
{
    MaxTransferBytes = 8 * 1024;
    std::vector<uint8_t> data(100 * 512);
    EXPECT_EQ(GetBlockDirect(data.data(), 0, 100), 16);
    EXPECT_EQ(CacheBufferCount(), 0u);  // file data never enters the cache
}

TEST_F(BlockCache, ABufferThatWasNeverFilledIsReadWhenAskedAgain)
{
    image->Slot().faults.failReadAt = image->Slot().faults.reads + 1;
    BlockBuffer* b = nullptr;
    EXPECT_EQ(GetBlock(&b, 30, 1), 0);
    EXPECT_EQ(StatusCode, static_cast<uint32_t>(kStatusReadError));
    StatusCode = 0;
    image->Slot().faults.failReadAt = 0;
    EXPECT_EQ(GetBlock(&b, 30, 1), 1);
    const auto expected = PatternBytes(256 * 512, 7);
    EXPECT_TRUE(std::equal(b->data, b->data + 512, expected.begin() + 30 * 512));
}

TEST_F(BlockCache, AfterAFailureOnlyLoadedBlocksAreServed)
{
    BlockBuffer* b = nullptr;
    ASSERT_EQ(GetBlock(&b, 5, 1), 1);
    StatusCode = kStatusWriteError;
    const uint32_t reads = DeviceReads();
    BlockBuffer* hit = nullptr;
    EXPECT_EQ(GetBlock(&hit, 5, 1), 1);
    BlockBuffer* miss = nullptr;
    EXPECT_EQ(GetBlock(&miss, 6, 1), 0);
    EXPECT_EQ(miss, nullptr);
    EXPECT_EQ(GetBlockDirect(std::vector<uint8_t>(512).data(), 0, 1), 0);
    EXPECT_EQ(DeviceReads(), reads);
    EXPECT_EQ(StatusCode, static_cast<uint32_t>(kStatusWriteError));  // the first failure stays
}

TEST_F(BlockCache, WritesRefuseReadOnlyDrives)
{
    DriveTable[0].Flags |= kDriveReadOnly;
    const std::vector<uint8_t> data(512, 1);
    EXPECT_EQ(WriteDeviceBlocks(data.data(), 1, 3), 0);
    EXPECT_EQ(StatusCode, static_cast<uint32_t>(kStatusReadOnly));
    EXPECT_EQ(image->Bytes(), PatternBytes(256 * 512, 7));
}

}  // namespace
