// Partitioned images behind drives with 512-byte and 2048-byte sectors (a
// CD-ROM's): the volumes found, their contents and every fork must be the
// same either way. One image is a real Apple partition map laid out in
// 512-byte blocks; the other is built here in 2048-byte blocks around two
// volumes made by hfsutils, so the scan must learn the map's block size from
// where the map entries lie. And volumes of every size hformat makes, slack
// at the end and allocation blocks of any multiple of 512 bytes included:
// each is found at its full size and is writable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "hfs/bytes.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "support/engine_state.h"
#include "support/engine_tree.h"
#include "support/hfs_layout.h"
#include "support/hfsutils_driver.h"
#include "support/run_command.h"
#include "support/sha256.h"
#include "support/temp_image.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// One line per item of every volume of the image: what the pane shows and
// the hashes of both forks. Volumes by their listed start and size.
std::vector<std::string> Snapshot(const std::string& image, uint32_t sectorSize, uint16_t* blocksPerSector)
{
    std::vector<std::string> lines;
    if (!OpenImageAsMacDrive(image.c_str(), false, sectorSize)) {
        ADD_FAILURE() << "open with " << sectorSize << "-byte sectors: status " << StatusCode;
        return lines;
    }
    *blocksPerSector = DriveTable[MacDriveIndex].BlocksPerSector;
    const unsigned volumes = MacPaneState.count;
    std::vector<std::pair<uint32_t, uint32_t>> extents;
    for (unsigned v = 0; v < volumes; ++v) extents.emplace_back(MacPaneState.items[v]->size, MacPaneState.items[v]->resourceSize);
    for (unsigned v = 0; v < volumes; ++v) {
        // Each volume from a fresh drive, as the pane does after going up.
        if (v > 0 && !OpenImageAsMacDrive(image.c_str(), false, sectorSize)) break;
        const MacItem* volume = MacPaneState.items[v];
        lines.push_back("volume " + std::to_string(extents[v].first) + " " + std::to_string(extents[v].second) + " " +
                        std::string(reinterpret_cast<const char*>(volume->name + 1), volume->name[0]));
        if (!OpenListedVolume(v)) {
            ADD_FAILURE() << "volume " << v << ": status " << StatusCode;
            break;
        }
        EngineTree tree;
        if (!ListEngineTree(&tree)) {
            ADD_FAILURE() << "listing volume " << v << ": status " << StatusCode;
            break;
        }
        for (const auto& [path, folder] : tree) {
            for (const EngineEntry& e : folder.items) {
                std::string line = JoinMacPath(path, e.name) + " id " + std::to_string(e.id);
                if (!e.folder) {
                    Bytes data, rsrc;
                    EXPECT_TRUE(ReadEngineFork(folder.id, e.name, kDataFork, &data)) << "status " << StatusCode;
                    EXPECT_TRUE(ReadEngineFork(folder.id, e.name, kResourceFork, &rsrc)) << "status " << StatusCode;
                    line += " " + e.type + "/" + e.creator + " " + std::to_string(e.finderFlags) + " " +
                            std::to_string(e.dataLength) + " " + std::to_string(e.rsrcLength) + " " + Sha256Hex(data) +
                            " " + Sha256Hex(rsrc);
                } else {
                    line += " items " + std::to_string(e.valence);
                }
                lines.push_back(line);
            }
        }
    }
    CloseMacDrive();
    return lines;
}

class SectorSizeTest : public EngineStateTest {
protected:
    void SetUp() override
    {
        EngineStateTest::SetUp();
        Prefs.HideInvisible = 0;
    }
};

TEST_F(SectorSizeTest, MapInFiveHundredTwelveByteBlocksReadsTheSameBehindBothSectorSizes)
{
    const fs::path image = fs::path(QUAYLINK_CORPUS_DIR) / "cp2" / "apm-prodos-hfs.iso";
    if (!fs::exists(image)) GTEST_SKIP() << "the corpus folder is absent";
    uint16_t small = 0, large = 0;
    const std::vector<std::string> viaSmall = Snapshot(image.string(), 512, &small);
    const std::vector<std::string> viaLarge = Snapshot(image.string(), 2048, &large);
    EXPECT_EQ(small, 1u);
    EXPECT_EQ(large, 4u);
    ASSERT_EQ(viaSmall.size(), 2u);
    EXPECT_EQ(viaSmall[0], "volume 1604 1600 New Disk");
    EXPECT_NE(viaSmall[1].find("468ee4800dee15ced52ed379cf8e972f165176c898b0f3a6e728c78a200fda51"), std::string::npos);
    EXPECT_EQ(viaLarge, viaSmall);
}

// Two volumes made by hfsutils inside an Apple partition map whose blocks
// are 2048 bytes: the driver descriptor says so, the map entries lie at
// 2048-byte offsets and count in 2048-byte units.
class CdromMapTest : public SectorSizeTest {
protected:
    void SetUp() override
    {
        SectorSizeTest::SetUp();
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
    }

    bool MakeVolume(const std::string& path, const std::string& label, const std::vector<MacFileImage>& files)
    {
        HfsUtils hfs;
        const bool ok = hfs.Format(path, label, 1474560) && hfs.Mkdir(":Folder") && hfs.PutMacBinary(files, ":") &&
                        hfs.PutMacBinary({files.back()}, ":Folder");
        EXPECT_TRUE(ok) << hfs.LastError();
        return ok;
    }

    static MacFileImage File(const std::string& name, size_t dataSize, size_t rsrcSize, uint32_t seed)
    {
        MacFileImage f;
        f.name = name;
        f.type = "TEXT";
        f.creator = "ttxt";
        f.data = PatternBytes(dataSize, seed);
        f.rsrc = PatternBytes(rsrcSize, seed + 1);
        return f;
    }

    // Block 0: the driver descriptor; blocks 1-3: the map (itself, the two
    // volumes); the first volume from block `firstStart` on, the second right
    // after it. Blocks are `blockSize` bytes; the image is padded to whole
    // 2048-byte sectors.
    static Bytes Wrap(uint32_t blockSize, uint32_t firstStart, const Bytes& first, const Bytes& second)
    {
        const uint32_t firstBlocks = static_cast<uint32_t>(first.size() / blockSize);
        return BuildPartitionMap(blockSize, 3,
                                 {{"First", "Apple_HFS", firstStart, firstBlocks, first},
                                  {"Second", "Apple_HFS", firstStart + firstBlocks,
                                   static_cast<uint32_t>(second.size() / blockSize), second}},
                                 2048);
    }

    // Both volumes, each read from an image of its own.
    void MakeVolumes()
    {
        first = dir.PathOf("first.img");
        second = dir.PathOf("second.img");
        ASSERT_TRUE(MakeVolume(first, "First Volume",
                               {File("Alpha", 5000, 300, 1), File("Beta", 0, 70000, 2), File("Gamma", 123457, 0, 3)}));
        ASSERT_TRUE(MakeVolume(second, "Second Volume", {File("Delta", 2049, 2047, 4), File("Epsilon", 40000, 1, 5)}));
        uint16_t factor = 0;
        bare = Snapshot(first, 512, &factor);
        const std::vector<std::string> bareSecond = Snapshot(second, 512, &factor);
        ASSERT_EQ(bare.size(), 6u);
        ASSERT_EQ(bareSecond.size(), 5u);
        EXPECT_EQ(bare[0].rfind("volume 0 ", 0), 0u) << bare[0];
        bare.insert(bare.end(), bareSecond.begin(), bareSecond.end());
    }

    // The bare volumes' lines with the volume lines of a map.
    std::vector<std::string> InMap(uint32_t firstStart, uint32_t secondStart) const
    {
        std::vector<std::string> expected = bare;
        expected[0] = "volume " + std::to_string(firstStart) + " 2880 First Volume";
        expected[6] = "volume " + std::to_string(secondStart) + " 2880 Second Volume";
        return expected;
    }

    std::string first, second;
    std::vector<std::string> bare;
    TempDir dir;
};

TEST_F(CdromMapTest, MapInTwoThousandFortyEightByteBlocksIsFoundAndReadBehindBothSectorSizes)
{
    ASSERT_NO_FATAL_FAILURE(MakeVolumes());
    const std::string wrapped = dir.WriteFile("cdrom.iso", Wrap(2048, 4, ReadFileBytes(first), ReadFileBytes(second)));
    // The volumes start at 2048-byte blocks 4 and 724, that is 512-byte
    // blocks 16 and 2896, each 2880 blocks long. Nothing lies at 512-byte
    // block 1: only the probe's finding "PM" at block 4 leads the scan to
    // the entries.
    uint16_t small = 0, large = 0;
    EXPECT_EQ(Snapshot(wrapped, 2048, &large), InMap(16, 2896));
    EXPECT_EQ(large, 4u);
    EXPECT_EQ(Snapshot(wrapped, 512, &small), InMap(16, 2896));
    EXPECT_EQ(small, 1u);
}

TEST_F(CdromMapTest, VolumesThatDoNotStartOnASectorReadTheSameBehindBothSectorSizes)
{
    ASSERT_NO_FATAL_FAILURE(MakeVolumes());
    // A map in 512-byte blocks with the volumes at odd blocks: behind
    // 2048-byte sectors every volume block is part of a device sector.
    const std::string wrapped = dir.WriteFile("odd.img", Wrap(512, 67, ReadFileBytes(first), ReadFileBytes(second)));
    uint16_t factor = 0;
    EXPECT_EQ(Snapshot(wrapped, 2048, &factor), InMap(67, 2947));
    EXPECT_EQ(Snapshot(wrapped, 512, &factor), InMap(67, 2947));
    // And a bare volume behind 2048-byte sectors.
    std::vector<std::string> bareFirst(bare.begin(), bare.begin() + 6);
    EXPECT_EQ(Snapshot(first, 2048, &factor), bareFirst);
}

// Image sizes in KB for the hformat sweep: the diskettes, sizes whose
// alternate MDB is not where the volume's allocation blocks would put it,
// and one size for each allocation block size hformat picks up to 1 GB (it
// takes the smallest that keeps the count of blocks below 65,536).
// QUAYLINK_LONG=1 adds a size every 7,919 KB.
std::vector<uint64_t> SweepSizesKb()
{
    std::vector<uint64_t> kb{800, 1000, 1440, 3333, 4097, 76000, 131071, 200000, 262145, 400000, 1000000, 1048576};
    for (uint64_t s = 1; s <= 32; ++s) kb.push_back((s * 65536 - 32768) / 2 + 2 * s + 1);
    const char* longRun = std::getenv("QUAYLINK_LONG");
    if (longRun && std::strcmp(longRun, "1") == 0)
        for (uint64_t k = 1024; k <= 1048576; k += 7919) kb.push_back(k);
    return kb;
}

TEST(HformatSweep, EveryVolumeOpensWritableAtItsFullSizeAndStaysConsistent)
{
    if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils is not installed";
    TempDir dir;
    const std::string source = dir.WriteFile("note.txt", PatternBytes(3000, 7));
    std::set<uint32_t> blockSizes;
    const auto cli = [](std::vector<std::string> args) {
        args.insert(args.begin(), QUAYLINK_CLI_PATH);
        return RunCommand(args);
    };
    for (const uint64_t kb : SweepSizesKb()) {
        SCOPED_TRACE(std::to_string(kb) + " KB");
        const std::string image = dir.PathOf("sweep.img");
        HfsUtils hfs;
        ASSERT_TRUE(hfs.Format(image, "Sweep", kb * 1024)) << hfs.LastError();
        std::ifstream file(image, std::ios::binary);
        uint8_t mdb[512] = {};
        file.seekg(1024);
        file.read(reinterpret_cast<char*>(mdb), sizeof mdb);
        blockSizes.insert((uint32_t{mdb[20]} << 24 | uint32_t{mdb[21]} << 16 | uint32_t{mdb[22]} << 8 | mdb[23]) / 512);

        const CommandResult put = cli({"put", image, source, "--as", "data"});
        EXPECT_EQ(put.exitCode, 0) << put.err;
        const CommandResult mkdir = cli({"mkdir", image, ":Folder"});
        EXPECT_EQ(mkdir.exitCode, 0) << mkdir.err;
        const CommandResult check = cli({"check", image});
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
        const CommandResult info = cli({"info", image});
        EXPECT_NE(info.out.find("(" + std::to_string(kb * 2) + " blocks of 512 bytes)"), std::string::npos) << info.out;

        HlsTree tree;
        ASSERT_TRUE(hfs.Mount(image) && hfs.List(&tree)) << hfs.LastError();
        std::vector<std::string> root;
        for (const HlsEntry& e : tree[":"]) root.push_back(e.name + " " + std::to_string(e.dataLength));
        EXPECT_EQ(root, (std::vector<std::string>{"Folder 0", "note.txt 3000"}));
    }
    for (uint32_t s = 1; s <= 32; ++s) EXPECT_TRUE(blockSizes.count(s)) << s << " x 512-byte allocation blocks";
}

}  // namespace
