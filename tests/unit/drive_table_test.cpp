// The drive table and the block-to-sector mapping, over an in-memory device
// that records every call and can fail or come up short.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "disk/drive_table.h"
#include "disk/status.h"
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
    static std::vector<uint8_t> Blocks(uint8_t fill, uint32_t count) { return std::vector<uint8_t>(count * 512, fill); }

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
}

TEST_F(DriveTableTest, SectorSizeOfADriveThatCannotTellIs512)
{
    DriveEntry e{};
    e.BlocksPerSector = 4;
    EXPECT_EQ(DriveSectorSize(&e), 512u);
    EXPECT_FALSE(IsDisketteDrive(&e));
}

// ---- reading ---------------------------------------------------------------

TEST_F(MappedIoTest, ReadStartingInsideASectorStopsAtTheRequestAndTheNextCallCompletesIt)
{
    std::vector<uint8_t> out(64 * 512);
    EXPECT_EQ(Read(out, 64, 10), 62);
    EXPECT_EQ(Dev.calls, (std::vector<DeviceCall>{{'r', 16, 2}}));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 62 * 512), DeviceBlocks(10, 62));

    std::vector<uint8_t> rest(2 * 512);
    EXPECT_EQ(Read(rest, 2, 72), 2);
    EXPECT_EQ(Dev.calls.back(), (DeviceCall{'r', 1, 18}));
    EXPECT_EQ(rest, DeviceBlocks(72, 2));
    EXPECT_EQ(StatusCode, 0u);
}

TEST_F(MappedIoTest, ReadOfFewerBlocksThanASectorDeliversOnlyThoseBlocks)
{
    std::vector<uint8_t> out(4 * 512, 0xEE);
    EXPECT_EQ(Read(out, 2, 9), 2);
    EXPECT_EQ(Dev.calls, (std::vector<DeviceCall>{{'r', 1, 2}}));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 1024), DeviceBlocks(9, 2));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 1024, out.end()), std::vector<uint8_t>(2 * 512, 0xEE));
}

TEST_F(MappedIoTest, ReadLeavesAPartialTrailingSectorForTheNextCall)
{
    std::vector<uint8_t> out(6 * 512);
    EXPECT_EQ(Read(out, 6, 0), 4);
    EXPECT_EQ(Dev.calls, (std::vector<DeviceCall>{{'r', 1, 0}}));
}

TEST_F(MappedIoTest, ShortDeviceReadDeliversOnlyTheSectorsRead)
{
    Dev.bytes.resize(3 * 2048);  // the medium ends after sector 2
    std::vector<uint8_t> out(16 * 512);
    EXPECT_EQ(Read(out, 16, 1), 11);
    EXPECT_EQ(Dev.calls, (std::vector<DeviceCall>{{'r', 4, 0}}));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 11 * 512), DeviceBlocks(1, 11));

    Dev.bytes = PatternBytes(64 * 2048);
    Dev.maxSectors = 2;  // an adapter that refuses large transfers
    EXPECT_EQ(Read(out, 16, 8), 8);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 8 * 512), DeviceBlocks(8, 8));
}

TEST_F(MappedIoTest, FailedReadSetsStatus3AndLeavesTheCallersBufferAlone)
{
    for (int32_t failValue : {0, -1, -3}) {
        Dev.reads = 0;
        Dev.failReadAt = 1;
        Dev.failValue = failValue;
        StatusCode = 0;
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

TEST_F(MappedIoTest, ReadFailsEvenWhenAFailureIsAlreadyStored)
{
    // Later failures overwrite: only the SCSI path keeps an earlier code.
    StatusCode = kStatusBadNode;
    Dev.failReadAt = 1;
    std::vector<uint8_t> out(512);
    EXPECT_EQ(Read(out, 1, 0), 0);
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

TEST_F(MappedIoTest, WriteInsideASectorReadsPatchesAndWritesItBack)
{
    const std::vector<uint8_t> before = Dev.bytes;
    EXPECT_EQ(Write(Blocks(0x11, 3), 3, 5), 3);
    EXPECT_EQ(Dev.calls, (std::vector<DeviceCall>{{'r', 1, 1}, {'w', 1, 1}}));

    std::vector<uint8_t> expected = before;
    std::memset(expected.data() + 5 * 512, 0x11, 3 * 512);
    EXPECT_EQ(Dev.bytes, expected);
    EXPECT_EQ(StatusCode, 0u);
}

TEST_F(MappedIoTest, WriteOfWholeSectorsPlusATailTakesTwoCalls)
{
    const std::vector<uint8_t> before = Dev.bytes;
    std::vector<uint8_t> data = Blocks(0x22, 6);
    std::memset(data.data() + 4 * 512, 0x33, 2 * 512);

    EXPECT_EQ(Write(data, 6, 4), 4);
    EXPECT_EQ(Dev.calls, (std::vector<DeviceCall>{{'w', 1, 1}}));
    std::vector<uint8_t> tail(data.begin() + 4 * 512, data.end());
    EXPECT_EQ(Write(tail, 2, 8), 2);
    EXPECT_EQ(Dev.calls, (std::vector<DeviceCall>{{'w', 1, 1}, {'r', 1, 2}, {'w', 1, 2}}));

    std::vector<uint8_t> expected = before;
    std::memcpy(expected.data() + 4 * 512, data.data(), data.size());
    EXPECT_EQ(Dev.bytes, expected);  // blocks 10 and 11 kept their old bytes
}

TEST_F(MappedIoTest, WriteOfWholeSectorsNeedsNoRead)
{
    EXPECT_EQ(Write(Blocks(0x44, 8), 8, 16), 8);
    EXPECT_EQ(Dev.calls, (std::vector<DeviceCall>{{'w', 2, 4}}));

    // A block factor of 1: every block is a sector.
    entry.BlocksPerSector = 1;
    Dev.sectorSize = 512;
    Dev.calls.clear();
    EXPECT_EQ(Write(Blocks(0x45, 3), 3, 7), 3);
    EXPECT_EQ(Dev.calls, (std::vector<DeviceCall>{{'w', 3, 7}}));
}

TEST_F(MappedIoTest, ShortDeviceWriteReportsOnlyTheSectorsWritten)
{
    Dev.maxSectors = 1;
    EXPECT_EQ(Write(Blocks(0x55, 12), 12, 0), 4);
    EXPECT_EQ(StatusCode, 0u);
}

TEST_F(MappedIoTest, FailedWriteOrPreliminaryReadSetsStatus4)
{
    const std::vector<uint8_t> before = Dev.bytes;
    for (int32_t failValue : {0, -2}) {
        // The read of a partly covered sector fails: nothing is written.
        Dev = FakeDevice{};
        Dev.bytes = before;
        Dev.failReadAt = 1;
        Dev.failValue = failValue;
        StatusCode = 0;
        EXPECT_EQ(Write(Blocks(0x66, 2), 2, 1), 0);
        EXPECT_EQ(StatusCode, kStatusWriteError);
        EXPECT_EQ(Dev.writes, 0u);

        // The write itself fails, whole sectors or patched.
        for (uint32_t first : {0u, 1u}) {
            Dev = FakeDevice{};
            Dev.bytes = before;
            Dev.failWriteAt = 1;
            Dev.failValue = failValue;
            StatusCode = 0;
            EXPECT_EQ(Write(Blocks(0x66, 4), 4, first), 0);
            EXPECT_EQ(StatusCode, kStatusWriteError);
            EXPECT_EQ(Dev.bytes, before);
        }
    }
}

}  // namespace
