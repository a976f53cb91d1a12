// Finding volumes: bare volumes, Apple partition maps (also laid out in
// 2048-byte blocks), the older 'TS' map, and the backup-MDB question.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "disk/drive_table.h"
#include "disk/status.h"
#include "hfs/bytes.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "support/engine_state.h"
#include "ui/mac_session.h"
#include "ui/window_system.h"

namespace {

constexpr unsigned kBlock = 512;

struct DiskBuilder {
    std::vector<uint8_t> bytes;
    explicit DiskBuilder(uint32_t blocks) : bytes(size_t{blocks} * kBlock, 0) {}
    uint8_t* Block(uint64_t n) { return bytes.data() + n * kBlock; }

    // An MDB at volume block 2 of a volume starting at `start`, and its
    // backup at the volume's second-to-last block.
    void Mdb(uint32_t start, const char* name, uint32_t allocBytes, uint16_t firstAlloc, uint16_t allocBlocks,
             uint32_t volumeBlocks = 0)
    {
        uint8_t* m = Block(start + 2);
        PutU16(0x4244, m);
        PutU16(allocBlocks, m + 18);
        PutU32(allocBytes, m + 20);
        PutU16(firstAlloc, m + 28);
        m[36] = static_cast<uint8_t>(std::strlen(name));
        std::memcpy(m + 37, name, m[36]);
        if (volumeBlocks) std::memcpy(Block(start + volumeBlocks - 2), m, kBlock);
    }
    // Apple partition map entry k (1-based) in map blocks of `mapBlock` bytes.
    void MapEntry(unsigned k, unsigned mapBlock, const char* type, uint32_t start, uint32_t length)
    {
        uint8_t* e = bytes.data() + size_t{k} * mapBlock;
        PutU16(0x504D, e);
        PutU32(start, e + 8);
        PutU32(length, e + 12);
        std::strncpy(reinterpret_cast<char*>(e + 48), type, 32);
    }
};

class VolumeScan : public EngineStateTest {
protected:
    // Writes the disk, opens it as the Mac drive and returns the volume list
    // as "start size name" strings.
    std::vector<std::string> Scan(const std::vector<uint8_t>& bytes, uint32_t sectorSize = 512)
    {
        const std::string path = dir.WriteFile("disk.img", bytes);
        OpenImageAsMacDrive(path.c_str(), true, sectorSize);
        std::vector<std::string> volumes;
        for (unsigned i = 0; i < MacPaneState.count; ++i) {
            const MacItem* v = MacPaneState.items[i];
            volumes.push_back(std::to_string(v->size) + " " + std::to_string(v->resourceSize) + " " +
                              std::string(reinterpret_cast<const char*>(v->name + 1), v->name[0]));
        }
        return volumes;
    }
    TempDir dir;
};

TEST_F(VolumeScan, BareVolumeSizeComesFromItsMdb)
{
    DiskBuilder disk(2880);
    disk.Mdb(0, "Floppy", 512, 5, 2873);
    EXPECT_EQ(Scan(disk.bytes), std::vector<std::string>{"0 2880 Floppy"});  // 5 + 2 + 2873
    EXPECT_EQ(StatusCode, 0u);

    DiskBuilder big(4000);
    big.Mdb(0, "Big", 2048, 16, 990);  // ceil((16 + 2) / 4) = 5 allocation blocks before the first
    EXPECT_EQ(Scan(big.bytes), std::vector<std::string>{"0 3980 Big"});
}

TEST_F(VolumeScan, BareVolumeWinsOverAPartitionMap)
{
    DiskBuilder disk(2000);
    disk.MapEntry(1, kBlock, "Apple_HFS", 100, 1000);
    disk.Mdb(0, "Bare", 512, 5, 1900);
    EXPECT_EQ(Scan(disk.bytes), std::vector<std::string>{"0 1907 Bare"});
}

TEST_F(VolumeScan, ApplePartitionMapListsEveryHfsPartition)
{
    DiskBuilder disk(3000);
    disk.MapEntry(1, kBlock, "Apple_partition_map", 1, 63);
    disk.MapEntry(2, kBlock, "Apple_HFS", 100, 1000);
    disk.MapEntry(3, kBlock, "Apple_Free", 1100, 100);
    disk.MapEntry(4, kBlock, "Apple_HFSX", 1200, 1000);  // nine letters compared: taken
    disk.MapEntry(5, kBlock, "Apple_HFS", 2200, 700);    // no MDB there: skipped
    disk.Mdb(100, "First", 512, 5, 990);
    disk.Mdb(1200, "Second", 512, 5, 990);
    EXPECT_EQ(Scan(disk.bytes), (std::vector<std::string>{"100 1000 First", "1200 1000 Second"}));
    EXPECT_EQ(StatusCode, 0u);
}

TEST_F(VolumeScan, HfsEntryStartingAtZeroEndsTheMap)
{
    DiskBuilder disk(3000);
    disk.MapEntry(1, kBlock, "Apple_HFS", 0, 1000);
    disk.MapEntry(2, kBlock, "Apple_HFS", 100, 1000);
    disk.Mdb(100, "Unseen", 512, 5, 990);
    EXPECT_TRUE(Scan(disk.bytes).empty());
    EXPECT_EQ(StatusCode, 0u);  // an empty list, no message
}

TEST_F(VolumeScan, AtMostTwentyVolumesAreListed)
{
    DiskBuilder disk(22 * 100 + 100);
    for (unsigned k = 1; k <= 21; ++k) {
        disk.MapEntry(k, kBlock, "Apple_HFS", 100 * k, 100);
        disk.Mdb(100 * k, ("V" + std::to_string(k)).c_str(), 512, 5, 90);
    }
    const auto volumes = Scan(disk.bytes);
    ASSERT_EQ(volumes.size(), 20u);
    EXPECT_EQ(volumes.back(), "2000 100 V20");
}

TEST_F(VolumeScan, MapInTwoKilobyteBlocksNeedsFactorFour)
{
    // A CD-ROM layout: the map's entries and its starts count 2048-byte blocks.
    DiskBuilder disk(4 * 600);
    PutU16(0x4552, disk.Block(0));  // "ER" driver descriptor
    PutU16(2048, disk.Block(0) + 2);
    disk.MapEntry(1, 2048, "Apple_partition_map", 1, 2);
    disk.MapEntry(2, 2048, "Apple_HFS", 100, 400);
    disk.Mdb(400, "CD Volume", 2048, 16, 390);
    EXPECT_EQ(Scan(disk.bytes, 2048), std::vector<std::string>{"400 1600 CD Volume"});
    EXPECT_EQ(DriveTable[0].BlocksPerSector, 4);
    EXPECT_EQ(Scan(disk.bytes, 512), std::vector<std::string>{"400 1600 CD Volume"});
}

TEST_F(VolumeScan, OldMapStopsAtTheFirstEmptyEntry)
{
    DiskBuilder disk(3000);
    uint8_t* map = disk.Block(1);
    PutU16(0x5453, map);
    const uint32_t starts[] = {100, 1100, 0, 2100};
    for (unsigned i = 0; i < 4; ++i) {
        PutU32(starts[i], map + 2 + 12 * i);
        PutU32(900, map + 6 + 12 * i);
    }
    disk.Mdb(100, "One", 512, 5, 890);
    disk.Mdb(1100, "Two", 512, 5, 890);
    disk.Mdb(2100, "Never", 512, 5, 890);
    EXPECT_EQ(Scan(disk.bytes), (std::vector<std::string>{"100 900 One", "1100 900 Two"}));
}

TEST_F(VolumeScan, NoVolumeAndUnusableVolumesGiveCode7)
{
    DiskBuilder empty(100);
    EXPECT_TRUE(Scan(empty.bytes).empty());
    EXPECT_EQ(StatusCode, static_cast<uint32_t>(kStatusNoVolume));

    DiskBuilder tiny(2880);
    tiny.Mdb(0, "Tiny blocks", 256, 5, 2000);  // allocation blocks below 512 bytes
    EXPECT_TRUE(Scan(tiny.bytes).empty());
    EXPECT_EQ(StatusCode, static_cast<uint32_t>(kStatusNoVolume));
}

TEST_F(VolumeScan, TruncatedDiskIsAReadError)
{
    DiskBuilder disk(2);
    EXPECT_TRUE(Scan(disk.bytes).empty());
    EXPECT_EQ(StatusCode, static_cast<uint32_t>(kStatusReadError));
}

class RecordingQuestions : public HeadlessWindowSystem {};

TEST_F(VolumeScan, MissingBackupMdbAsksAndMarksTheDriveReadOnly)
{
    RecordingQuestions ws;
    SetWindowSystem(&ws);
    DiskBuilder disk(2880);
    disk.Mdb(0, "No backup", 512, 5, 2873);
    ASSERT_EQ(Scan(disk.bytes).size(), 1u);
    MacVolume.partitionStart = 0;
    MacVolume.volumeSize = 2880;

    ws.questionAnswer = kIdYes;
    EXPECT_EQ(CheckAlternateMdb(), 0);
    EXPECT_STREQ(ws.lastText, "Mount volume read only?");
    EXPECT_STREQ(ws.lastCaption, "Can't find backup VIB");
    EXPECT_EQ(ws.lastStyle, static_cast<unsigned>(kMbYesNo | kMbIconQuestion));
    EXPECT_TRUE(DriveTable[0].Flags & kDriveReadOnly);

    ws.questionAnswer = kIdNo;
    EXPECT_EQ(CheckAlternateMdb(), 1);
    EXPECT_FALSE(DriveTable[0].Flags & kDriveReadOnly);
    EXPECT_EQ(ws.messageCount, 2);

    // With the backup in place nothing is asked.
    disk.Mdb(0, "No backup", 512, 5, 2873, 2880);
    ASSERT_EQ(Scan(disk.bytes).size(), 1u);
    MacVolume.volumeSize = 2880;
    EXPECT_EQ(CheckAlternateMdb(), 0);
    EXPECT_EQ(ws.messageCount, 2);
    SetWindowSystem(nullptr);
}

TEST_F(VolumeScan, DriveThatCannotBeWrittenIsNotAsked)
{
    RecordingQuestions ws;
    SetWindowSystem(&ws);
    DiskBuilder disk(2880);
    disk.Mdb(0, "CD", 512, 5, 2873);
    const std::string path = dir.WriteFile("disk.img", disk.bytes);
    ASSERT_TRUE(OpenImageAsMacDrive(path.c_str(), false));
    ASSERT_EQ(DriveTable[0].WriteSectors, nullptr);
    MacVolume.volumeSize = 2880;
    EXPECT_EQ(CheckAlternateMdb(), 0);
    EXPECT_EQ(ws.messageCount, 0);
    SetWindowSystem(nullptr);
}

}  // namespace
