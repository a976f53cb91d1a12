// The read side on built volumes. Finding volumes: bare ones, Apple
// partition maps, the older 'TS' map; a volume whose partition is not wholly
// its own is never written. And the mini volume under failing drives and
// scarce memory: every device read of opening, listing and reading it failed
// in turn, few cache buffers, and the end-of-command report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "core/window_system.h"
#include "disk/discovery.h"
#include "disk/drive_table.h"
#include "hfs/bytes.h"
#include "hfs/cache.h"
#include "hfs/catalog_ops.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_scan.h"
#include "support/engine_state.h"
#include "support/mini_volume.h"
#include "support/recording_window.h"
#include "support/sha256.h"
#include "support/shadow_volume.h"
#include "support/simulated_devices.h"
#include "support/volume_walk.h"
#include "ui/mac_session.h"

namespace {

constexpr unsigned kBlock = 512;

struct DiskBuilder {
    std::vector<uint8_t> bytes;
    explicit DiskBuilder(uint32_t blocks) : bytes(size_t{blocks} * kBlock, 0) {}
    uint8_t* Block(uint64_t n) { return bytes.data() + n * kBlock; }
    // An MDB at volume block 2 of a volume starting at `start`.
    void Mdb(uint32_t start, const char* name, uint32_t allocBytes, uint16_t firstAlloc, uint16_t allocBlocks)
    {
        uint8_t* m = Block(start + 2);
        PutU16(0x4244, m);
        PutU16(allocBlocks, m + 18);
        PutU32(allocBytes, m + 20);
        PutU16(firstAlloc, m + 28);
        m[36] = static_cast<uint8_t>(std::strlen(name));
        std::memcpy(m + 37, name, m[36]);
    }
    // Apple partition map entry k (1-based).
    void MapEntry(unsigned k, const char* type, uint32_t start, uint32_t length)
    {
        uint8_t* e = Block(k);
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
    std::vector<std::string> Scan(const std::vector<uint8_t>& bytes)
    {
        OpenImageAsMacDrive(dir.WriteFile("disk.img", bytes).c_str(), true);
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
             d.MapEntry(1, "Apple_HFS", 100, 1000);
             d.Mdb(0, "Bare", 512, 5, 1900);
         },
         {"0 1907 Bare"}},
        {"every HFS partition; nine letters compared; no MDB, skipped", 3000,
         [](DiskBuilder& d) {
             d.MapEntry(1, "Apple_partition_map", 1, 63);
             d.MapEntry(2, "Apple_HFS", 100, 1000);
             d.MapEntry(3, "Apple_Free", 1100, 100);
             d.MapEntry(4, "Apple_HFSX", 1200, 1000);
             d.MapEntry(5, "Apple_HFS", 2200, 700);
             d.Mdb(100, "First", 512, 5, 990);
             d.Mdb(1200, "Second", 512, 5, 990);
         },
         {"100 1000 First", "1200 1000 Second"}},
        {"an HFS entry starting at 0 ends the map, without a message", 3000,
         [](DiskBuilder& d) {
             d.MapEntry(1, "Apple_HFS", 0, 1000);
             d.MapEntry(2, "Apple_HFS", 100, 1000);
             d.Mdb(100, "Unseen", 512, 5, 990);
         },
         {}},
        {"at most twenty", 2300,
         [](DiskBuilder& d) {
             for (unsigned k = 1; k <= 21; ++k) {
                 d.MapEntry(k, "Apple_HFS", 100 * k, 100);
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
        disk.MapEntry(1, "Apple_partition_map", 1, 63);
        for (unsigned k = 0; k < c.parts.size(); ++k) {
            disk.MapEntry(k + 2, "Apple_HFS", c.parts[k].start, c.parts[k].length);
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

// A card in a reader, seen as a physical drive: a partition map with two
// volumes and a third that the card is too short for. Browsing, copying in
// and deleting on the second volume leave the map and the first volume as
// they were; the third, cut short by the drive's length, is only read.
TEST_F(VolumeScan, APhysicalDriveIsWrittenOnlyInsideTheOpenedVolume)
{
    InstallSimulatedDevices();
    Prefs.AddASPI = Prefs.AddCDROM = Prefs.AddFloppy = 0;
    Prefs.AddBIOS = 1;
    const MiniVolume mini = MakeMiniVolume();
    DiskBuilder disk(64 + 2 * 1600 + 800);
    disk.MapEntry(1, "Apple_partition_map", 1, 63);
    for (unsigned k = 0; k < 3; ++k) {
        disk.MapEntry(k + 2, "Apple_HFS", 64 + 1600 * k, 1600);
        disk.Volume(64 + 1600 * k, mini.bytes);
    }
    SimDevice& card = Sim.devices["\\\\.\\PhysicalDrive1"];
    card.bytes = disk.bytes;
    card.media = kMediaRemovable;
    card.cylinders = 1;
    card.heads = 1;
    card.sectorsPerTrack = 4064;  // the geometry's product: smaller than the card, as real ones are
    DiscoverDrives();
    ASSERT_EQ(DriveCount, 1u);
    EXPECT_STREQ(DriveTable[0].Name, "[DRIVE 1] (2.0M)");
    MacDriveIndex = 0;
    SelectMacDrive(MainWindow);
    ASSERT_EQ(MacPaneState.count, 3u) << StatusCode;

    ASSERT_TRUE(OpenListedVolume(2)) << StatusCode;
    ASSERT_NE(MacVolume.writeRefusal, nullptr);
    EXPECT_NE(std::string(MacVolume.writeRefusal).find("past the end of the disk"), std::string::npos);
    SelectMacDrive(MainWindow);
    ASSERT_TRUE(OpenListedVolume(1)) << StatusCode;
    EXPECT_EQ(MacVolume.writeRefusal, nullptr);
    ShadowVolume model;
    std::string why;
    ASSERT_TRUE(model.LoadFromEngine(&why)) << why;
    WriteOp copy = MakeWriteOp(WriteOp::CreateFile, model.Root(), "Copied");
    copy.file.data = {7, 30000, nullptr};
    copy.file.rsrc = {8, 700, nullptr};
    const WriteOp ops[] = {MakeWriteOp(WriteOp::CreateFolder, model.Root(), "New"), copy,
                           MakeWriteOp(WriteOp::DeleteFile, model.Root(), "Alpha"),
                           MakeWriteOp(WriteOp::DeleteFile, model.Find(":Docs"), "Note")};
    for (const WriteOp& op : ops) {
        uint32_t id = 0;
        ASSERT_EQ(EndCommand(RunEngineOp(&model, op, &id)), 0u) << op.name;
        model.Apply(op, id);
    }
    EXPECT_TRUE(EngineMatches(model, true, &why)) << why;
    EXPECT_TRUE(VolumeIsClean(&why)) << why;
    EXPECT_EQ(Sim.openHandles, 0);
    const std::vector<uint8_t>& after = card.bytes;
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 1664 * kBlock, disk.bytes.begin()));
    EXPECT_TRUE(std::equal(after.begin() + 3264 * kBlock, after.end(), disk.bytes.begin() + 3264 * kBlock));
    EXPECT_NE(after, disk.bytes);
}

using Bytes = std::vector<uint8_t>;

class EngineFaults : public EngineStateTest {
protected:
    // The image as the only drive, and the drive in use. The walk selects it.
    std::unique_ptr<TempImage> Drive(const Bytes& bytes, uint32_t sectorSize = 512)
    {
        ResetEngineState();
        SetWindowSystem(&ws);
        ws.messages.clear();
        auto image = std::make_unique<TempImage>(bytes, sectorSize, false);
        EXPECT_NE(image->drive, nullptr);
        return image;
    }
    MiniVolume mini = MakeMiniVolume();
    RecordingWindowSystem ws;
};

TEST_F(EngineFaults, FailingEachDeviceReadStopsTheWalkWithOneReport)
{
    for (const uint32_t sectorSize : {512u, 2048u}) {
        SCOPED_TRACE("sector size " + std::to_string(sectorSize));
        std::map<std::pair<std::string, uint8_t>, Bytes> forks;
        std::map<std::string, std::vector<std::string>> folders;
        WalkOptions options;
        options.onFork = [&](const std::string& path, uint8_t fork, const Bytes& bytes) { forks[{path, fork}] = bytes; };
        options.onFolder = [&](const std::string& path, const std::vector<std::string>& names) { folders[path] = names; };
        options.climb = true;
        WalkSummary clean;
        {
            auto image = Drive(mini.bytes, sectorSize);
            clean = WalkSelectedDrive(options);
        }
        ASSERT_TRUE(clean.Clean()) << clean.firstStatus;
        EXPECT_EQ(clean.folders, mini.folders);
        EXPECT_EQ(clean.files, mini.files);
        EXPECT_EQ(clean.bytes, mini.forkBytes);
        for (const MiniFork& f : mini.forks) EXPECT_EQ(forks[std::pair(f.path, f.fork)], f.bytes) << f.path;
        EXPECT_EQ(forks.size(), mini.forks.size());
        EXPECT_EQ(folders[""], (std::vector<std::string>{"Docs", "Alpha", "Beta", "Delta", "Gamma"}));
        EXPECT_EQ(folders["Docs"], std::vector<std::string>{"Note"});
        EXPECT_EQ(clean.climbs, 1u);  // from Docs back to the root
        EXPECT_EQ(clean.climbsAstray, 0u);
        ASSERT_GT(clean.deviceReads, 10u);
        options.onFailure = WalkFailure::CarryOn;
        for (uint32_t k = 1; k <= clean.deviceReads; ++k) {
            SCOPED_TRACE("failing read " + std::to_string(k));
            auto image = Drive(mini.bytes, sectorSize);
            image->Slot().faults.failReadAt = k;
            const WalkSummary s = WalkSelectedDrive(options);
            EXPECT_TRUE(s.anomalies.empty());
            EXPECT_EQ(s.deviceWrites, 0u);
            if (k <= 2) {  // the boot blocks
                EXPECT_TRUE(s.Clean() && s.digest == clean.digest && StatusCode == 0);
                continue;
            }
            EXPECT_EQ(s.statuses, std::vector<uint32_t>{kStatusReadError});
            EXPECT_EQ(StatusCode, kStatusReadError);
            EXPECT_TRUE(ws.messages.empty());
            ReportStatus(MainWindow);
            ASSERT_EQ(ws.messages.size(), 1u);
            EXPECT_EQ(ws.messages[0].text, "Error reading Mac disk");
            EXPECT_TRUE(ws.messages[0].caption.empty());
            EXPECT_EQ(ws.messages[0].style, kMbOk | kMbIconExclamation);
            EXPECT_EQ(StatusCode, 0u);
            // Nothing was read after the failure, nor read back: nothing had changed.
            EXPECT_EQ(image->Slot().faults.reads, k);
        }
    }
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
