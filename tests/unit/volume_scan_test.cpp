// Finding volumes: bare volumes, Apple partition maps (also laid out in
// 2048-byte blocks), the older 'TS' map, and the backup-MDB question; a
// volume whose partition is not wholly its own is never written, and one
// partition that cannot be read does not hide the others.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/status.h"
#include "core/window_system.h"
#include "disk/drive_table.h"
#include "hfs/bytes.h"
#include "hfs/catalog_ops.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_scan.h"
#include "support/engine_state.h"
#include "support/mini_volume.h"
#include "support/sha256.h"
#include "ui/mac_session.h"

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
    // The mini volume (1,600 blocks) at block `start`, as much of it as the disk holds.
    void Volume(uint32_t start, const std::vector<uint8_t>& volume)
    {
        const size_t at = size_t{start} * kBlock;
        if (at < bytes.size())
            std::memcpy(bytes.data() + at, volume.data(), std::min(volume.size(), bytes.size() - at));
    }
    std::string Hash(uint64_t firstBlock, uint64_t blocks)
    {
        const size_t from = std::min(bytes.size(), size_t(firstBlock * kBlock));
        const size_t to = std::min(bytes.size(), size_t((firstBlock + blocks) * kBlock));
        return Sha256Hex(bytes.data() + from, to - from);
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

TEST_F(VolumeScan, ListsTheVolumesOfEachLayout)
{
    struct Case {
        const char* what;
        uint32_t blocks;
        void (*build)(DiskBuilder&);
        std::vector<std::string> volumes;
        uint32_t status = 0;
        uint32_t sectorSize = 512;
    };
    const Case cases[] = {
        {"bare: size from the MDB, 5 + 2 + 2873", 2880, [](DiskBuilder& d) { d.Mdb(0, "Floppy", 512, 5, 2873); },
         {"0 2880 Floppy"}},
        {"bare, 2048-byte allocation blocks: ceil((16 + 2) / 4) before the first", 4000,
         [](DiskBuilder& d) { d.Mdb(0, "Big", 2048, 16, 990); }, {"0 3980 Big"}},
        {"a bare volume wins over a partition map", 2000,
         [](DiskBuilder& d) {
             d.MapEntry(1, kBlock, "Apple_HFS", 100, 1000);
             d.Mdb(0, "Bare", 512, 5, 1900);
         },
         {"0 1907 Bare"}},
        {"every HFS partition; nine letters compared; no MDB, skipped", 3000,
         [](DiskBuilder& d) {
             d.MapEntry(1, kBlock, "Apple_partition_map", 1, 63);
             d.MapEntry(2, kBlock, "Apple_HFS", 100, 1000);
             d.MapEntry(3, kBlock, "Apple_Free", 1100, 100);
             d.MapEntry(4, kBlock, "Apple_HFSX", 1200, 1000);
             d.MapEntry(5, kBlock, "Apple_HFS", 2200, 700);
             d.Mdb(100, "First", 512, 5, 990);
             d.Mdb(1200, "Second", 512, 5, 990);
         },
         {"100 1000 First", "1200 1000 Second"}},
        {"an HFS entry starting at 0 ends the map, without a message", 3000,
         [](DiskBuilder& d) {
             d.MapEntry(1, kBlock, "Apple_HFS", 0, 1000);
             d.MapEntry(2, kBlock, "Apple_HFS", 100, 1000);
             d.Mdb(100, "Unseen", 512, 5, 990);
         },
         {}},
        {"at most twenty", 2300,
         [](DiskBuilder& d) {
             for (unsigned k = 1; k <= 21; ++k) {
                 d.MapEntry(k, kBlock, "Apple_HFS", 100 * k, 100);
                 d.Mdb(100 * k, ("V" + std::to_string(k)).c_str(), 512, 5, 90);
             }
         },
         [] {
             std::vector<std::string> twenty;
             for (unsigned k = 1; k <= 20; ++k)
                 twenty.push_back(std::to_string(100 * k) + " 100 V" + std::to_string(k));
             return twenty;
         }()},
        {"the old 'TS' map stops at its first empty entry", 3000,
         [](DiskBuilder& d) {
             PutU16(0x5453, d.Block(1));
             const uint32_t starts[] = {100, 1100, 0, 2100};
             for (unsigned i = 0; i < 4; ++i) {
                 PutU32(starts[i], d.Block(1) + 2 + 12 * i);
                 PutU32(900, d.Block(1) + 6 + 12 * i);
             }
             d.Mdb(100, "One", 512, 5, 890);
             d.Mdb(1100, "Two", 512, 5, 890);
             d.Mdb(2100, "Never", 512, 5, 890);
         },
         {"100 900 One", "1100 900 Two"}},
        {"no volume", 100, [](DiskBuilder&) {}, {}, kStatusNoVolume},
        {"allocation blocks below 512 bytes", 2880, [](DiskBuilder& d) { d.Mdb(0, "Tiny", 256, 5, 2000); }, {},
         kStatusNoVolume},
        {"a truncated disk", 2, [](DiskBuilder&) {}, {}, kStatusReadError},
    };
    for (const Case& c : cases) {
        DiskBuilder disk(c.blocks);
        c.build(disk);
        StatusCode = 0;
        EXPECT_EQ(Scan(disk.bytes), c.volumes) << c.what;
        EXPECT_EQ(StatusCode, c.status) << c.what;
    }
}

// Sixty folders made one at a time in the root, each flushed as a command
// would; a refused write is thrown away as the end of a command does.
void MakeFolders()
{
    for (int i = 0; i < 60; ++i) {
        const std::string name = "Folder " + std::to_string(i);
        uint8_t macName[32] = {static_cast<uint8_t>(name.size())};
        std::memcpy(macName + 1, name.data(), name.size());
        CreateMacFolder(macName);
        FlushVolume();
        if (StatusCode != 0) DiscardVolumeChanges();
        StatusCode = 0;
    }
}

TEST_F(VolumeScan, WritesNeverReachBlocksOutsideTheirOwnVolume)
{
    // A wrapped HFS+ volume: its MDB names the embedded volume's allocation
    // blocks, which the wrapper's bitmap leaves free.
    const MiniVolume mini = MakeMiniVolume();
    std::vector<uint8_t> wrapper = mini.bytes;
    const uint8_t* bitmap = wrapper.data() + 3 * kBlock;
    uint16_t firstFree = 0;
    while (bitmap[firstFree / 8] & (0x80u >> (firstFree % 8))) ++firstFree;
    PutU16(0x482B, wrapper.data() + 2 * kBlock + 124);
    PutU16(firstFree, wrapper.data() + 2 * kBlock + 126);
    PutU16(64, wrapper.data() + 2 * kBlock + 128);
    const uint32_t embedded = MiniVolume::kFirstAllocBlock + firstFree;  // volume-relative block
    for (uint32_t b = embedded; b < embedded + 64; ++b) std::memset(wrapper.data() + b * kBlock, 0x5A ^ b, kBlock);
    PutU16(0x482B, wrapper.data() + (embedded + 2) * kBlock);
    std::memcpy(wrapper.data() + 1598 * kBlock, wrapper.data() + 2 * kBlock, kBlock);

    struct Part {
        uint32_t start, length;
    };
    struct Case {
        const char* what;
        std::vector<Part> parts;  // Apple_HFS partitions after the map's own entry
        unsigned written;         // 0-based volume that takes the writes
        uint32_t diskBlocks;
        const char* why;          // in the reason the volume is only read
        bool wrapped;             // the first partition holds the wrapper
    };
    const Case cases[] = {
        {"length near 2^32", {{64, 1600}, {1664, 4294965700u}, {4864, 4800}}, 1, 9664, "past the end of the disk",
         false},
        {"overlap", {{64, 3200}, {1664, 1600}}, 0, 3264, "overlaps map entry 3", false},
        {"HFS+ wrapper", {{64, 1600}, {1664, 1600}}, 0, 3264, "HFS+ volume", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DiskBuilder disk(c.diskBlocks);
        disk.MapEntry(1, kBlock, "Apple_partition_map", 1, 63);
        for (unsigned k = 0; k < c.parts.size(); ++k) {
            disk.MapEntry(k + 2, kBlock, "Apple_HFS", c.parts[k].start, c.parts[k].length);
            disk.Volume(c.parts[k].start, c.wrapped && k == 0 ? wrapper : mini.bytes);
        }
        // The map, every other partition and, in a wrapper, the embedded volume.
        const auto hashes = [&] {
            std::vector<std::string> all{disk.Hash(0, 64)};
            for (unsigned k = 0; k < c.parts.size(); ++k)
                if (k != c.written) all.push_back(disk.Hash(c.parts[k].start, c.parts[k].length));
            if (c.wrapped)
                all.push_back(disk.Hash(c.parts[0].start + embedded, 64));
            return all;
        };
        const std::vector<std::string> before = hashes();

        ASSERT_EQ(Scan(disk.bytes).size(), c.parts.size());
        ASSERT_TRUE(OpenListedVolume(c.written)) << StatusCode;
        EXPECT_NE(std::string(MacVolume.writeRefusal ? MacVolume.writeRefusal : "").find(c.why), std::string::npos);
        MakeFolders();
        CloseMacDrive();
        std::ifstream image(dir.PathOf("disk.img"), std::ios::binary);  // in one read: the disk is 5 MB
        ASSERT_TRUE(image.read(reinterpret_cast<char*>(disk.bytes.data()), std::streamsize(disk.bytes.size())));
        EXPECT_EQ(hashes(), before);
    }
}

TEST_F(VolumeScan, PartitionsThatCannotBeReadAreListedBesideTheWholeOnes)
{
    const MiniVolume mini = MakeMiniVolume();
    struct Case {
        uint32_t diskBlocks;   // where the image is cut
        const char* third;     // what the third volume is listed as
    };
    const Case cases[] = {
        {3264 + 800, "read only: its partition (blocks 3264 to 4863) runs past the end of the disk (4064 blocks)"},
        {3264 + 1, "not opened: its partition starts at block 3264, past the end of the disk (3265 blocks)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.diskBlocks);
        DiskBuilder disk(c.diskBlocks);
        disk.MapEntry(1, kBlock, "Apple_partition_map", 1, 63);
        for (unsigned k = 0; k < 3; ++k) {
            disk.MapEntry(k + 2, kBlock, "Apple_HFS", 64 + 1600 * k, 1600);
            disk.Volume(64 + 1600 * k, mini.bytes);
        }
        ASSERT_EQ(Scan(disk.bytes).size(), 3u) << StatusCode;
        EXPECT_EQ(StatusCode, 0u);
        const ScannedVolume* third = ScannedVolumeAt(2);
        ASSERT_NE(third, nullptr);
        EXPECT_EQ((third->problem.empty() ? "read only: " + third->readOnlyReason : "not opened: " + third->problem),
                  c.third);
        for (unsigned v = 0; v < 2; ++v) {
            EXPECT_TRUE(ScannedVolumeAt(v)->readOnlyReason.empty() && ScannedVolumeAt(v)->problem.empty());
            ASSERT_EQ(Scan(disk.bytes).size(), 3u);
            EXPECT_TRUE(OpenListedVolume(v)) << StatusCode;
        }
        CloseMacDrive();
    }
}

}  // namespace
