// The drive table and the block-to-sector mapping, over an in-memory device
// that records every call and can fail or come up short.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <vector>

#include "core/status.h"
#include "disk/drive_table.h"
#include "support/temp_image.h"

namespace {

struct DeviceCall {
    char op;  // 'r' or 'w'
    uint32_t count;
    uint32_t first;
    bool operator==(const DeviceCall&) const = default;
};

// One fake device at a time; its sectors are `sectorSize` bytes of `bytes`.
struct FakeDevice {
    std::vector<uint8_t> bytes;
    uint32_t sectorSize = 2048;
    uint32_t failReadAt = 0;   // 1-based device read that fails
    uint32_t failWriteAt = 0;
    int32_t failValue = 0;     // what a failing call returns (0 or negative)
    uint32_t maxSectors = 0;   // short transfers; 0 no limit
    int32_t claimExtra = 0;    // added to the count a successful call reports
    std::vector<DeviceCall> calls;
    uint32_t reads = 0;
    uint32_t writes = 0;
};
FakeDevice Dev;

uint32_t SectorsToMove(uint32_t count, uint32_t first)
{
    const uint32_t total = static_cast<uint32_t>(Dev.bytes.size() / Dev.sectorSize);
    if (first >= total) return 0;
    uint32_t n = std::min(count, total - first);
    if (Dev.maxSectors) n = std::min(n, Dev.maxSectors);
    return n;
}

int32_t FakeRead(uint8_t* buffer, uint32_t count, uint32_t first, const DriveEntry*)
{
    Dev.calls.push_back({'r', count, first});
    if (++Dev.reads == Dev.failReadAt) {
        // A failing device may still have scribbled over the staging buffer.
        std::memset(buffer, 0xA5, count * Dev.sectorSize);
        return Dev.failValue;
    }
    const uint32_t n = SectorsToMove(count, first);
    std::memcpy(buffer, Dev.bytes.data() + size_t{first} * Dev.sectorSize, size_t{n} * Dev.sectorSize);
    return static_cast<int32_t>(n) + (n ? Dev.claimExtra : 0);
}

int32_t FakeWrite(uint8_t* buffer, uint32_t count, uint32_t first, const DriveEntry*)
{
    Dev.calls.push_back({'w', count, first});
    if (++Dev.writes == Dev.failWriteAt) return Dev.failValue;
    const uint32_t n = SectorsToMove(count, first);
    std::memcpy(Dev.bytes.data() + size_t{first} * Dev.sectorSize, buffer, size_t{n} * Dev.sectorSize);
    return static_cast<int32_t>(n) + (n ? Dev.claimExtra : 0);
}

class DriveTableTest : public DiskStateTest {};

class MappedIoTest : public DiskStateTest {
protected:
    void SetUp() override
    {
        DiskStateTest::SetUp();
        Dev = FakeDevice{};
        Dev.bytes = PatternBytes(64 * 2048);
        entry.BlocksPerSector = 4;
    }
    void TearDown() override
    {
        Dev = FakeDevice{};
        DiskStateTest::TearDown();
    }
    // The device's bytes of `count` blocks from block `first`.
    std::vector<uint8_t> DeviceBlocks(uint32_t first, uint32_t count) const
    {
        auto from = Dev.bytes.begin() + first * 512;
        return {from, from + count * 512};
    }
    int32_t Read(std::vector<uint8_t>& out, uint16_t count, uint32_t first)
    {
        return MappedReadBlocks(out.data(), count, first, &entry, FakeRead);
    }
    int32_t Write(const std::vector<uint8_t>& in, uint16_t count, uint32_t first)
    {
        return MappedWriteBlocks(in.data(), count, first, &entry, FakeRead, FakeWrite);
    }

    DriveEntry entry{};
};

// ---- the table -------------------------------------------------------------

TEST_F(DriveTableTest, NewEntryIsZeroedAndTheTableStopsAtTwenty)
{
    std::memset(static_cast<void*>(DriveTable), 0x5A, sizeof DriveTable);
    for (unsigned i = 0; i < 21; ++i) {
        DriveEntry* e = BeginDriveEntry();
        EXPECT_EQ(e->Flags, 0u);
        EXPECT_EQ(e->ReadSectors, nullptr);
        EXPECT_EQ(e->WriteSectors, nullptr);
        EXPECT_EQ(e->FormatVolume, nullptr);
        EXPECT_EQ(e->Name[0], 0);
        e->Unit = i;
        std::snprintf(e->Name, sizeof e->Name, "drive %u", i);
        CommitDriveEntry();
    }
    EXPECT_EQ(DriveCount, 20u);
    for (unsigned i = 0; i < 20; ++i) EXPECT_EQ(DriveTable[i].Unit, i);
    // The 21st was built after the last listed entry and dropped.
    EXPECT_STREQ(DriveTable[20].Name, "drive 20");
    // Even with a count past the limit, a new entry stays inside the table.
    DriveCount = 59;
    EXPECT_EQ(BeginDriveEntry(), &DriveTable[20]);
    // A drive that cannot tell its sector size has 512 bytes, and is no diskette.
    DriveEntry e{};
    e.BlocksPerSector = 4;
    EXPECT_EQ(DriveSectorSize(&e), 512u);
    EXPECT_FALSE(IsDisketteDrive(&e));
}

// ---- reading ---------------------------------------------------------------

TEST_F(MappedIoTest, ReadsDeliverTheWholeBlocksOfOneDeviceCall)
{
    struct Case {
        const char* what;
        uint32_t sectors;     // on the medium
        uint32_t maxSectors;  // per device call; 0 no limit
        uint16_t count;
        uint32_t first;
        int32_t moved;
        DeviceCall call;
    };
    const Case cases[] = {
        {"starting inside a sector: up to the request", 64, 0, 64, 10, 62, {'r', 16, 2}},
        {"the rest of that request", 64, 0, 2, 72, 2, {'r', 1, 18}},
        {"fewer blocks than a sector", 64, 0, 2, 9, 2, {'r', 1, 2}},
        {"a partial trailing sector is left for the next call", 64, 0, 6, 0, 4, {'r', 1, 0}},
        {"the medium ends after sector 2", 3, 0, 16, 1, 11, {'r', 4, 0}},
        {"an adapter that refuses large transfers", 64, 2, 16, 8, 8, {'r', 4, 2}},
    };
    for (const Case& c : cases) {
        Dev.calls.clear();
        Dev.bytes = PatternBytes(size_t{c.sectors} * 2048);
        Dev.maxSectors = c.maxSectors;
        std::vector<uint8_t> out(size_t{c.count} * 512 + 1024, 0xEE);
        const size_t moved = size_t{static_cast<uint32_t>(c.moved)} * 512;
        EXPECT_EQ(Read(out, c.count, c.first), c.moved) << c.what;
        EXPECT_EQ(Dev.calls, std::vector<DeviceCall>{c.call}) << c.what;
        EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + moved), DeviceBlocks(c.first, c.moved)) << c.what;
        EXPECT_EQ(std::vector<uint8_t>(out.begin() + moved, out.end()), std::vector<uint8_t>(out.size() - moved, 0xEE))
            << c.what;
        EXPECT_EQ(StatusCode, 0u) << c.what;
    }
}

TEST_F(MappedIoTest, FailedReadSetsStatus3AndLeavesTheCallersBufferAlone)
{
    for (int32_t failValue : {0, -1, -3}) {
        Dev.reads = 0;
        Dev.failReadAt = 1;
        Dev.failValue = failValue;
        StatusCode = failValue == -3 ? uint32_t{kStatusBadNode} : 0u;
        std::vector<uint8_t> out(8 * 512, 0xEE);
        EXPECT_EQ(Read(out, 8, 3), 0) << failValue;
        EXPECT_EQ(StatusCode, kStatusReadError);
        EXPECT_EQ(out, std::vector<uint8_t>(8 * 512, 0xEE));
    }
    // Past the end of the medium nothing exists to read.
    StatusCode = 0;
    std::vector<uint8_t> out(4 * 512);
    EXPECT_EQ(Read(out, 4, 64 * 4), 0);
    EXPECT_EQ(StatusCode, kStatusReadError);
}

TEST_F(MappedIoTest, TransfersStayInsideTheSectorBuffer)
{
    // A caller asking for far more than the buffer holds, and a device
    // claiming more than it was asked for, still move at most what fits.
    entry.BlocksPerSector = 8;
    Dev.sectorSize = 4096;
    Dev.bytes = PatternBytes(64 * 4096);
    Dev.claimExtra = 100;
    std::vector<uint8_t> out(65535 * 512);
    EXPECT_EQ(Read(out, 65535, 0), 72);
    EXPECT_EQ(Dev.calls.back(), (DeviceCall{'r', 9, 0}));
    EXPECT_EQ(Write(out, 65535, 0), 72);
    EXPECT_EQ(Dev.calls.back(), (DeviceCall{'w', 9, 0}));

    // A block factor the buffer cannot stage is refused without a device call.
    Dev.calls.clear();
    for (uint16_t f : {0, 73}) {
        entry.BlocksPerSector = f;
        StatusCode = 0;
        EXPECT_EQ(Read(out, 1, 0), 0);
        EXPECT_EQ(StatusCode, kStatusReadError);
        EXPECT_EQ(Write(out, 1, 0), 0);
        EXPECT_EQ(StatusCode, kStatusWriteError);
    }
    EXPECT_TRUE(Dev.calls.empty());
}

// ---- writing ---------------------------------------------------------------

TEST_F(MappedIoTest, WritesPatchPartlyCoveredSectorsAndReportWhatOneCallWrote)
{
    struct Case {
        const char* what;
        uint16_t blocksPerSector;
        uint32_t maxSectors;
        uint16_t count;
        uint32_t first;
        int32_t moved;
        std::vector<DeviceCall> calls;
    };
    const Case cases[] = {
        {"inside a sector: read, patch, write back", 4, 0, 3, 5, 3, {{'r', 1, 1}, {'w', 1, 1}}},
        {"whole sectors and a tail: the sectors first", 4, 0, 6, 4, 4, {{'w', 1, 1}}},
        {"the tail", 4, 0, 2, 8, 2, {{'r', 1, 2}, {'w', 1, 2}}},
        {"whole sectors need no read", 4, 0, 8, 16, 8, {{'w', 2, 4}}},
        {"a block factor of 1: every block is a sector", 1, 0, 3, 7, 3, {{'w', 3, 7}}},
        {"a short device write", 4, 1, 12, 0, 4, {{'w', 3, 0}}},
    };
    uint32_t seed = 0;
    for (const Case& c : cases) {
        Dev = FakeDevice{};
        Dev.sectorSize = 512u * c.blocksPerSector;
        Dev.bytes = PatternBytes(64 * 2048);
        Dev.maxSectors = c.maxSectors;
        entry.BlocksPerSector = c.blocksPerSector;
        const std::vector<uint8_t> data = PatternBytes(size_t{c.count} * 512, ++seed);
        std::vector<uint8_t> expected = Dev.bytes;
        std::copy(data.begin(), data.begin() + c.moved * 512, expected.begin() + c.first * 512);
        EXPECT_EQ(Write(data, c.count, c.first), c.moved) << c.what;
        EXPECT_EQ(Dev.calls, c.calls) << c.what;
        EXPECT_EQ(Dev.bytes, expected) << c.what;
        EXPECT_EQ(StatusCode, 0u) << c.what;
    }
}

TEST_F(MappedIoTest, FailedWriteOrPreliminaryReadSetsStatus4)
{
    // The read of a partly covered sector fails (nothing is written), or the
    // write itself fails, of whole sectors or patched.
    const std::vector<uint8_t> before = Dev.bytes;
    for (int32_t failValue : {0, -2}) {
        for (const auto& [failRead, count, first] : {std::tuple{true, 2, 1}, {false, 4, 0}, {false, 4, 1}}) {
            Dev = FakeDevice{};
            Dev.bytes = before;
            (failRead ? Dev.failReadAt : Dev.failWriteAt) = 1;
            Dev.failValue = failValue;
            StatusCode = 0;
            EXPECT_EQ(Write(std::vector<uint8_t>(count * 512, 0x66), static_cast<uint16_t>(count), first), 0);
            EXPECT_EQ(StatusCode, kStatusWriteError);
            EXPECT_EQ(Dev.writes, failRead ? 0u : 1u);
            EXPECT_EQ(Dev.bytes, before);
        }
    }
}

}  // namespace
