// The volume checker: clean on the volumes hfsutils makes and on the real
// images of the shared corpus; and for each kind of damage it claims to find,
// a clean volume damaged that way (bytes of the image edited at offsets found
// through the engine's fork mapping and a small reader of our own) reports it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <cstdlib>
#include <string>
#include <vector>

#include "disk/image_drive.h"
#include "disk/status.h"
#include "hfs/btree_node.h"
#include "hfs/catalog_keys.h"
#include "hfs/fork_io.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "support/engine_state.h"
#include "support/hfsutils_driver.h"
#include "support/macbinary_file.h"
#include "support/run_command.h"
#include "ui/mac_session.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Problems = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Running the check

// Opens volume `volume` of the image read-only and checks it. A damaged
// catalog may stop the root listing; the check runs on whatever opened.
Problems CheckImageFile(const std::string& path, unsigned volume = 0)
{
    Problems problems;
    if (!OpenImageAsMacDrive(path.c_str(), false)) {
        problems.push_back("(image not opened, status " + std::to_string(StatusCode) + ")");
        CloseMacDrive();
        return problems;
    }
    OpenListedVolume(volume);
    if (!VolumeIsOpen()) {
        problems.push_back("(volume not opened, status " + std::to_string(StatusCode) + ")");
    } else {
        StatusCode = 0;
        CheckVolume(&problems);
    }
    CloseMacDrive();
    StatusCode = 0;
    return problems;
}

Problems CheckBytes(const Bytes& bytes)
{
    TempDir dir;
    return CheckImageFile(dir.WriteFile("damaged.img", bytes));
}

std::string Listing(const Problems& problems)
{
    std::string text;
    for (const std::string& p : problems) text += "\n  " + p;
    return problems.empty() ? " (none)" : text;
}

// Every problem matches one of the expected texts, and every expected text
// matches at least one problem.
::testing::AssertionResult Reports(const Problems& problems, const std::vector<std::string>& expected)
{
    for (const std::string& p : problems) {
        const bool known = std::any_of(expected.begin(), expected.end(),
                                       [&](const std::string& e) { return p.find(e) != std::string::npos; });
        if (!known) return ::testing::AssertionFailure() << "unexpected problem: " << p << "\nall:" << Listing(problems);
    }
    for (const std::string& e : expected) {
        const bool found = std::any_of(problems.begin(), problems.end(),
                                       [&](const std::string& p) { return p.find(e) != std::string::npos; });
        if (!found) return ::testing::AssertionFailure() << "not reported: " << e << "\nall:" << Listing(problems);
    }
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------
// Where things lie in an image: the nodes of both B-tree files, mapped once
// through the engine; everything else is read from the bytes by the small
// reader below, which trusts the (clean) volume it is given.

struct Layout {
    uint32_t partitionStart = 0;
    uint32_t volumeSize = 0;
    uint32_t allocBlocks = 0;
    uint32_t blockBytes = 0;
    uint32_t firstAllocBlock = 0;
    std::vector<size_t> catalogNodes;   // image offset of each node
    std::vector<size_t> extentsNodes;
};

bool MapTree(ForkRef* tree, uint32_t partitionStart, std::vector<size_t>* out)
{
    const uint32_t nodes = TreeNodeCapacity(tree);
    for (uint32_t n = 0; n < nodes; ++n) {
        uint32_t block = 0;
        uint32_t available = 0;
        if (!MapForkBlock(n, kDataFork, tree, false, &block, &available)) return false;
        out->push_back((size_t{partitionStart} + block) * 512);
    }
    return true;
}

bool MapLayout(const std::string& path, Layout* out, unsigned volume = 0)
{
    *out = Layout{};
    bool ok = OpenImageAsMacDrive(path.c_str(), false) && OpenListedVolume(volume);
    if (ok) {
        out->partitionStart = MacVolume.partitionStart;
        out->volumeSize = MacVolume.volumeSize;
        out->allocBlocks = VolumeAllocBlockCount();
        out->blockBytes = MacVolume.allocBlockSize * 512u;
        out->firstAllocBlock = MacVolume.firstAllocBlock;
        ok = MapTree(&MacVolume.catalogFile, out->partitionStart, &out->catalogNodes) &&
             MapTree(&MacVolume.extentsFile, out->partitionStart, &out->extentsNodes);
    }
    CloseMacDrive();
    StatusCode = 0;
    return ok;
}

void Put16(uint8_t* p, uint32_t v) { PutU16(static_cast<uint16_t>(v), p); }
void Put32(uint8_t* p, uint32_t v) { PutU32(v, p); }

struct Record {
    uint32_t node = 0;
    unsigned index = 0;
    uint8_t* key = nullptr;
    uint8_t* data = nullptr;
};

// An image in memory with the reader's view of it.
struct Image {
    Bytes bytes;
    Layout layout;

    uint8_t* Mdb() { return &bytes[(size_t{layout.partitionStart} + 2) * 512]; }
    uint8_t* AlternateMdb() { return &bytes[(size_t{layout.partitionStart} + layout.volumeSize - 2) * 512]; }
    uint8_t* Node(bool catalog, uint32_t n) { return &bytes[(catalog ? layout.catalogNodes : layout.extentsNodes).at(n)]; }
    uint8_t* Header(bool catalog) { return Node(catalog, 0); }
    size_t BitmapOffset() { return (size_t{layout.partitionStart} + GetU16(Mdb() + kMdbBitmapStart)) * 512; }
    bool BitmapBit(uint32_t block) { return bytes[BitmapOffset() + block / 8] & (0x80u >> (block % 8)); }
    void SetBitmapBit(uint32_t block, bool on)
    {
        uint8_t& byte = bytes[BitmapOffset() + block / 8];
        byte = static_cast<uint8_t>(on ? byte | (0x80u >> (block % 8)) : byte & ~(0x80u >> (block % 8)));
    }

    static uint16_t Count(const uint8_t* node) { return GetU16(node + kNodeRecordCount); }
    static uint8_t* RecordAt(uint8_t* node, unsigned i) { return node + GetU16(node + 510 - 2 * i); }
    static uint8_t* DataOf(uint8_t* key) { return key + ((key[0] + 2u) & ~1u); }
    Record At(bool catalog, uint32_t node, unsigned index)
    {
        uint8_t* key = RecordAt(Node(catalog, node), index);
        return Record{node, index, key, DataOf(key)};
    }

    // The nodes of each level, from the root down, along the forward links.
    std::vector<std::vector<uint32_t>> Levels(bool catalog)
    {
        std::vector<std::vector<uint32_t>> levels;
        uint32_t first = GetU32(Header(catalog) + kHeaderRoot);
        for (int guard = 0; first != 0 && guard < 8; ++guard) {
            std::vector<uint32_t> level;
            for (uint32_t n = first; n != 0 && level.size() < 10000; n = GetU32(Node(catalog, n) + kNodeForward))
                level.push_back(n);
            levels.push_back(level);
            uint8_t* node = Node(catalog, first);
            first = node[kNodeType] == kIndexNode ? GetU32(DataOf(RecordAt(node, 0))) : 0;
        }
        return levels;
    }
    std::vector<Record> LeafRecords(bool catalog)
    {
        std::vector<Record> out;
        const auto levels = Levels(catalog);
        if (levels.empty()) return out;
        for (uint32_t n : levels.back())
            for (unsigned i = 0; i < Count(Node(catalog, n)); ++i) out.push_back(At(catalog, n, i));
        return out;
    }

    // The folder or file record named `name` (names are unique on the test volume).
    Record Item(const std::string& name)
    {
        for (const Record& r : LeafRecords(true)) {
            const uint8_t* n = r.key + kCatKeyName;
            if ((r.data[0] == kFolderRecord || r.data[0] == kFileRecord) && std::string(n + 1, n + 1 + n[0]) == name)
                return r;
        }
        ADD_FAILURE() << "no record named " << name;
        return Record{};
    }
    Record Thread(uint32_t id)
    {
        for (const Record& r : LeafRecords(true))
            if ((r.data[0] == kFolderThreadRecord || r.data[0] == kFileThreadRecord) &&
                GetU32(r.key + kCatKeyParentId) == id)
                return r;
        ADD_FAILURE() << "no thread for " << id;
        return Record{};
    }
    static uint32_t IdOf(const Record& r)
    {
        return GetU32(r.data + (r.data[0] == kFolderRecord ? unsigned{kFolderId} : unsigned{kFileRecFileId}));
    }
    uint32_t IdOf(const std::string& name) { return IdOf(Item(name)); }
    // The extents records of one fork, in key order.
    std::vector<Record> Overflow(uint32_t fileId, uint8_t fork)
    {
        std::vector<Record> out;
        for (const Record& r : LeafRecords(false))
            if (GetU32(r.key + kExtKeyFileId) == fileId && r.key[kExtKeyForkType] == fork) out.push_back(r);
        return out;
    }
    // A block that no fork owns: the last free block of the bitmap.
    uint32_t FreeBlock()
    {
        for (uint32_t b = layout.allocBlocks; b-- > 0;)
            if (!BitmapBit(b)) return b;
        ADD_FAILURE() << "no free block";
        return 0;
    }
};

// ---------------------------------------------------------------------------
// The clean volume, made once by hfsutils: nested folders, an empty folder,
// a crowded folder (a catalog three levels deep, some of its files deleted
// again), files with resource forks, a data fork and a resource fork broken
// into one-block extents (extents records in the overflow tree), and a last
// folder "Zed" whose records end the catalog.

constexpr uint64_t kFloppyBytes = 1474560;
constexpr unsigned kManyFiles = 200;

std::string ManyName(unsigned i)
{
    char name[40];
    std::snprintf(name, sizeof name, "A fairly long file name #%03u", i);
    return name;
}

Bytes SizedBytes(size_t size, uint32_t seed) { return PatternBytes(size, seed); }

bool PutRawFiles(HfsUtils& hfs, TempDir& scratch, const std::vector<std::pair<std::string, Bytes>>& files,
                 const std::string& folder)
{
    // hcopy names each copy after its source file.
    std::vector<std::string> args{"-r"};
    for (const auto& [name, bytes] : files) args.push_back(scratch.WriteFile(name, bytes));
    args.push_back(folder);
    const CommandResult r = hfs.Run("hcopy", args);
    for (size_t i = 1; i + 1 < args.size(); ++i) fs::remove(args[i]);
    return r.exitCode == 0;
}

uint64_t FreeBytes(HfsUtils& hfs)
{
    const CommandResult r = hfs.Run("hvol", {});
    const size_t at = r.out.find("Volume has ");
    return at == std::string::npos ? 0 : std::stoull(r.out.substr(at + 11));
}

struct CleanVolume {
    TempDir dir;
    std::string path;
    Image image;
    std::string error;
};

CleanVolume* MakeCleanVolume()
{
    auto* clean = new CleanVolume;
    clean->path = clean->dir.PathOf("clean.img");
    HfsUtils hfs;
    TempDir scratch;
    auto fail = [&](const std::string& what) {
        clean->error = what + ": " + hfs.LastError();
        return clean;
    };
    if (!hfs.Format(clean->path, "Checked", kFloppyBytes)) return fail("hformat");
    if (hfs.Run("hmkdir", {":Docs", ":Docs:Deep", ":Docs:Deep:Deeper", ":Empty", ":Many", ":K", ":K:F1", ":Holes"})
            .exitCode != 0)
        return fail("hmkdir");

    std::vector<std::pair<std::string, Bytes>> many;
    for (unsigned i = 0; i < kManyFiles; ++i) many.emplace_back(ManyName(i), SizedBytes((i * 37) % 1500, i));
    if (!PutRawFiles(hfs, scratch, many, ":Many:")) return fail("hcopy many");
    if (!PutRawFiles(hfs, scratch, {{"Readme", SizedBytes(3000, 1)}}, ":Docs:Deep:Deeper:") ||
        !PutRawFiles(hfs, scratch, {{"In F1", SizedBytes(700, 2)}}, ":K:F1:"))
        return fail("hcopy");
    std::vector<MacFileImage> forked;
    for (unsigned i = 0; i < 5; ++i) {
        MacFileImage f;
        f.name = "Forked " + std::to_string(i);
        f.type = "TEXT";
        f.creator = "ttxt";
        f.data = SizedBytes(i * 900, 10 + i);
        f.rsrc = SizedBytes(300 + i * 1200, 20 + i);
        forked.push_back(f);
    }
    if (!hfs.PutMacBinary(forked, ":Docs:")) return fail("hcopy -m");
    std::vector<std::string> gone;
    for (unsigned i = 0; i < kManyFiles; i += 7) gone.push_back(":Many:" + ManyName(i));
    if (!hfs.Delete(gone)) return fail("hdel");

    // One-block holes with the rest of the disk taken, so that the next
    // forks are scattered over them.
    std::vector<std::pair<std::string, Bytes>> holes;
    for (unsigned i = 0; i < 70; ++i) holes.emplace_back("Hole " + std::to_string(i), SizedBytes(512, 100 + i));
    if (!PutRawFiles(hfs, scratch, holes, ":Holes:")) return fail("hcopy holes");
    if (!PutRawFiles(hfs, scratch, {{"Filler", Bytes(FreeBytes(hfs), 0)}}, ":")) return fail("hcopy filler");
    std::vector<std::string> odd;
    for (unsigned i = 1; i < 70; i += 2) odd.push_back(":Holes:Hole " + std::to_string(i));
    if (!hfs.Delete(odd)) return fail("hdel holes");
    if (!PutRawFiles(hfs, scratch, {{"Fragmented data", SizedBytes(15 * 512, 3)}}, ":Docs:")) return fail("hcopy");
    MacFileImage scattered;
    scattered.name = "Fragmented rsrc";
    scattered.rsrc = SizedBytes(13 * 512 - 100, 4);
    if (!hfs.PutMacBinary({scattered}, ":Docs:")) return fail("hcopy -m scattered");
    if (!hfs.Delete({":Filler"})) return fail("hdel filler");

    if (!hfs.Mkdir(":Zed") || !PutRawFiles(hfs, scratch, {{"Last file", SizedBytes(100, 5)}}, ":Zed:") ||
        !PutRawFiles(hfs, scratch, {{"After Zed", SizedBytes(200, 6)}}, ":"))
        return fail("hcopy zed");

    clean->image.bytes = ReadFileBytes(clean->path);
    if (!MapLayout(clean->path, &clean->image.layout)) clean->error = "the engine cannot map the clean volume";
    ResetEngineState();
    return clean;
}

class VolumeCheckTest : public EngineStateTest {
protected:
    static void SetUpTestSuite()
    {
        if (HfsUtilsAvailable() && !clean_) clean_ = MakeCleanVolume();
    }
    static void TearDownTestSuite()
    {
        delete clean_;
        clean_ = nullptr;
    }
    void SetUp() override
    {
        EngineStateTest::SetUp();
        if (!clean_) GTEST_SKIP() << "hfsutils not installed";
        ASSERT_TRUE(clean_->error.empty()) << clean_->error;
    }
    // A copy of the clean volume to damage.
    static Image Clean() { return clean_->image; }

    static CleanVolume* clean_;
};

CleanVolume* VolumeCheckTest::clean_ = nullptr;

// Tests that make their own volumes or take them from the corpus.
class VolumeCheckOwnVolumeTest : public EngineStateTest {};

// ---------------------------------------------------------------------------
// Clean volumes

TEST_F(VolumeCheckTest, VolumeMadeByHfsutilsIsClean)
{
    Image image = Clean();
    // The volume is what the damage tests need: a catalog three levels deep
    // with several index nodes per level, and forks continued in the
    // extents tree.
    EXPECT_EQ(GetU16(image.Header(true) + kHeaderDepth), 3u);
    EXPECT_GE(image.Levels(true)[1].size(), 2u);
    EXPECT_GE(image.Overflow(image.IdOf("Fragmented data"), kDataFork).size(), 2u);
    EXPECT_GE(image.Overflow(image.IdOf("Fragmented rsrc"), kResourceFork).size(), 2u);
}

TEST_F(VolumeCheckTest, CheckLeavesTheStatusAndTheImageAlone)
{
    ASSERT_TRUE(OpenImageAsMacDrive(clean_->path.c_str(), false));
    ASSERT_TRUE(OpenListedVolume(0));
    StatusCode = kStatusCancelled;
    Problems problems;
    EXPECT_EQ(CheckVolume(&problems), 0);
    EXPECT_EQ(StatusCode, kStatusCancelled);
    for (BlockBuffer* b = CacheHead(); b; b = b->next) EXPECT_EQ(b->flags & kBlockDirty, 0);
    StatusCode = 0;
    CloseMacDrive();
    EXPECT_EQ(ReadFileBytes(clean_->path), clean_->image.bytes);
}

TEST_F(VolumeCheckOwnVolumeTest, WithoutAnOpenVolumeSaysSo)
{
    Problems problems;
    EXPECT_EQ(CheckVolume(&problems), 1);
    EXPECT_TRUE(Reports(problems, {"no volume is open"}));
}

// An empty volume of 500 MB has a catalog of 7,984 nodes, whose node map
// goes on in two map nodes.
class BigVolume {
public:
    BigVolume()
    {
        path = dir.PathOf("big.img");
        ok = hfs.Format(path, "Big", 500ull << 20) && MapLayout(path, &layout);
    }
    // Writes `bytes` at image offset `offset` (the image is sparse: never
    // read whole).
    void Patch(size_t offset, const Bytes& bytes)
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(offset));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    Bytes Read(size_t offset, size_t size)
    {
        Bytes out(size);
        std::ifstream file(path, std::ios::binary);
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
        return out;
    }
    size_t CatalogNode(uint32_t n) const { return layout.catalogNodes.at(n); }

    TempDir dir;
    HfsUtils hfs;
    std::string path;
    Layout layout;
    bool ok = false;
};

Bytes U32Bytes(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

TEST_F(VolumeCheckOwnVolumeTest, BigVolumeWithMapNodesIsClean)
{
    if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils not installed";
    BigVolume big;
    ASSERT_TRUE(big.ok) << big.hfs.LastError();
    const Bytes header = big.Read(big.CatalogNode(0), 512);
    EXPECT_EQ(GetU32(header.data() + kHeaderTotalNodes), 7984u);
    EXPECT_NE(GetU32(header.data() + kNodeForward), 0u);
    EXPECT_TRUE(Reports(CheckImageFile(big.path), {}));
}

// Every HFS volume of the shared corpus. Two are not consistent, and the
// check must say exactly why:
// - complex.img.gz: the thread record of folder 119 spells the folder's
//   name with 0x0F where the folder's own key has "f" ("Drive Setup f");
//   the tool that built that image wrote the two differently.
// - hello-world-untitled-volume.img was imaged while Linux had it mounted
//   (attributes 0x0800: "inconsistent" set, "unmounted" clear). The copy in
//   the corpus has been mounted by libhfs since (its hash differs from the
//   manifest's): libhfs rebuilt what an unclean unmount leaves stale and set
//   "unmounted" on the way out, but kept the inconsistent bit: 0x0900.
TEST_F(VolumeCheckOwnVolumeTest, CorpusVolumesAreCleanButTwo)
{
    const fs::path corpus = QUAYLINK_CORPUS_DIR;
    if (!fs::exists(corpus)) GTEST_SKIP() << "corpus not present";
    const std::map<std::string, Problems> expected = {
        {"complex.img.gz@1",
         {"catalog: the thread record of folder \"Drive Setup f\" (ID 119) gives parent 50 and name "
          "\"Drive Setup \\x0F\", its record parent 50"}},
        {"hello-world-untitled-volume.img@1", {"MDB: the volume is marked inconsistent (attributes 0x0900)"}},
    };
    // Images without an HFS volume: MFS disks, and a partition map whose HFS
    // entry lies past the end of the file.
    const std::vector<std::string> notHfs = {"MCUS  Free Software Disk.img.bin", "Workstation Installer.IMG.gz",
                                             "Device Image Header (All Drivers).hda"};
    const std::vector<std::string> imageExtensions = {".img", ".dsk", ".po", ".iso", ".image", ".hda", ".gz", ".bin"};
    TempDir unpacked;
    unsigned checked = 0;
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(corpus))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        if (file.parent_path().filename() == "expected" || name.rfind("._", 0) == 0) continue;
        if (std::find(imageExtensions.begin(), imageExtensions.end(), file.extension().string()) ==
            imageExtensions.end())
            continue;
        if (file.extension() == ".bin" && name.find(".img") == std::string::npos) continue;  // encoded files
        if (std::find(notHfs.begin(), notHfs.end(), name) != notHfs.end()) continue;
        std::string path = file.string();
        if (file.extension() == ".gz") {
            path = unpacked.PathOf(file.stem().string());
            CommandOptions options;
            options.outFile = path;
            ASSERT_EQ(RunCommand({"gunzip", "-c", file.string()}, options).exitCode, 0) << name;
        }
        ResetEngineState();
        ASSERT_TRUE(OpenImageAsMacDrive(path.c_str(), false)) << name << " status " << StatusCode;
        const unsigned volumes = MacPaneState.count;
        CloseMacDrive();
        ASSERT_GE(volumes, 1u) << name;
        for (unsigned v = 0; v < volumes; ++v) {
            const std::string key = name + "@" + std::to_string(v + 1);
            const Problems problems = CheckImageFile(path, v);
            const auto want = expected.find(key);
            EXPECT_EQ(problems, want == expected.end() ? Problems{} : want->second) << key << Listing(problems);
            ++checked;
        }
        if (file.extension() == ".gz") fs::remove(path);
    }
    EXPECT_GE(checked, 14u);
}

// ---------------------------------------------------------------------------
// The master directory block and its alternate

// Damage done in the cache of an open volume, as a faulty write would leave
// it; the open itself refuses such a volume.
Problems CheckWithCachedMdb(const std::string& path, void (*damage)(uint8_t* mdb))
{
    Problems problems;
    EXPECT_TRUE(OpenImageAsMacDrive(path.c_str(), false) && OpenListedVolume(0));
    if (!VolumeIsOpen()) return problems;
    damage(MacVolume.mdb->data);
    CheckVolume(&problems);
    CloseMacDrive();
    return problems;
}

TEST_F(VolumeCheckTest, MdbFieldsTheOpenRefusesAreCheckedInTheCache)
{
    EXPECT_TRUE(Reports(CheckWithCachedMdb(clean_->path, [](uint8_t* mdb) { Put16(mdb + kMdbSignature, 0x4C4B); }),
                        {"MDB: signature is 0x4C4B, not 0x4244"}));
    EXPECT_TRUE(Reports(CheckWithCachedMdb(clean_->path, [](uint8_t* mdb) { Put32(mdb + kMdbAllocBlockSize, 1000); }),
                        {"MDB: allocation block size 1000 is not a multiple of 512",
                         "alternate MDB: allocation block size is 512, the MDB has 1000"}));
    EXPECT_TRUE(Reports(CheckWithCachedMdb(clean_->path, [](uint8_t* mdb) { Put16(mdb + kMdbAllocBlocks, 0); }),
                        {"MDB: the volume has no allocation blocks", "exceeds the 0 allocation blocks",
                         "alternate MDB: allocation block count is 2874, the MDB has 0",
                         // ... and the fork mapping refuses every extent
                         "B-tree: node 0 cannot be read (extent beyond the volume)"}));
    // The bitmap moved onto the first allocation block.
    EXPECT_TRUE(Reports(CheckWithCachedMdb(clean_->path, [](uint8_t* mdb) { Put16(mdb + kMdbBitmapStart, 4); }),
                        {"MDB: the bitmap (1 block(s) from volume block 4) does not lie between the MDB and the first "
                         "allocation block (4)",
                         // ... so the block read as the bitmap is the extents file's header node
                         "bitmap: allocation block", "MDB: counts",
                         "alternate MDB: first bitmap block is 3, the MDB has 4"}));
}

TEST_F(VolumeCheckTest, MdbAttributesNameFreeCountAndNextId)
{
    Image image = Clean();
    uint8_t* mdb = image.Mdb();
    Put16(mdb + kMdbAttributes, 0x0800);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"MDB: the volume was not unmounted cleanly (attributes 0x0800)",
                                                  "MDB: the volume is marked inconsistent (attributes 0x0800)"}));
    image = Clean();
    mdb = image.Mdb();
    const uint32_t free = GetU16(mdb + kMdbFreeBlocks);
    Put16(mdb + kMdbFreeBlocks, 3000);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"MDB: free block count 3000 exceeds the 2874 allocation blocks",
                         "MDB: counts 3000 free allocation blocks, the bitmap has " + std::to_string(free)}));
    image = Clean();
    mdb = image.Mdb();
    mdb[kMdbVolumeName] = 28;
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"MDB: volume name length 28 is not 1 to 27",
                                                  "catalog: the root folder is named \"Checked\", the volume"}));
    image = Clean();
    Put32(image.Mdb() + kMdbNextCatalogId, 9);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"MDB: next catalog ID 9 is below 16", "MDB: next catalog ID 9 is not above"}));
}

TEST_F(VolumeCheckTest, NextCatalogIdMustBeAboveEveryId)
{
    Image image = Clean();
    const uint32_t last = image.IdOf("After Zed");
    Put32(image.Mdb() + kMdbNextCatalogId, last);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"MDB: next catalog ID " + std::to_string(last) +
                                                  " is not above file \"After Zed\" (ID " + std::to_string(last) + ")"}));
}

TEST_F(VolumeCheckTest, MdbCountersAgainstTheCatalog)
{
    Image image = Clean();
    uint8_t* mdb = image.Mdb();
    const uint32_t rootFiles = GetU16(mdb + kMdbRootFiles);
    const uint32_t rootFolders = GetU16(mdb + kMdbRootFolders);
    const uint32_t files = GetU32(mdb + kMdbFileCount);
    const uint32_t folders = GetU32(mdb + kMdbFolderCount);
    EXPECT_EQ(rootFolders, 6u);   // Docs, Empty, Many, K, Holes, Zed
    EXPECT_EQ(folders, 9u);       // and Deep, Deeper, F1
    Put16(mdb + kMdbRootFiles, rootFiles + 1);
    Put16(mdb + kMdbRootFolders, rootFolders - 1);
    Put32(mdb + kMdbFileCount, files + 2);
    Put32(mdb + kMdbFolderCount, folders + 3);
    EXPECT_TRUE(Reports(
        CheckBytes(image.bytes),
        {"MDB: counts " + std::to_string(rootFiles + 1) + " files in the root folder, the catalog has " +
             std::to_string(rootFiles),
         "MDB: counts 5 folders in the root folder, the catalog has 6",
         "MDB: counts " + std::to_string(files + 2) + " files on the volume, the catalog has " + std::to_string(files),
         "MDB: counts 12 folders on the volume, the catalog has 9"}));
}

TEST_F(VolumeCheckTest, AlternateMdbMissingUnreadableOrDifferent)
{
    Image image = Clean();
    std::fill_n(image.AlternateMdb(), 512, 0);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"alternate MDB: volume block 2878 does not hold an MDB (signature 0x0000)"}));

    // An image cut short before its last two blocks.
    image = Clean();
    image.bytes.resize(image.bytes.size() - 1024);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"alternate MDB: volume block 2878 cannot be read"}));

    image = Clean();
    uint8_t* alt = image.AlternateMdb();
    Put16(alt + kMdbBitmapStart, 5);
    Put16(alt + kMdbAllocBlocks, 2873);
    Put32(alt + kMdbAllocBlockSize, 1024);
    Put16(alt + kMdbFirstAllocBlock, 6);
    Put32(alt + kMdbExtentsSize, 512);
    Put16(alt + kMdbExtentsExtents + 2, 1);
    Put32(alt + kMdbCatalogSize, 1024);
    Put16(alt + kMdbCatalogExtents + 6, 9);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"alternate MDB: first bitmap block is 5, the MDB has 3",
                         "alternate MDB: allocation block count is 2873, the MDB has 2874",
                         "alternate MDB: allocation block size is 1024, the MDB has 512",
                         "alternate MDB: first allocation block is 6, the MDB has 4",
                         "alternate MDB: extents file size is 512, the MDB has",
                         "alternate MDB: extents file extents is (0,1) (0,0) (0,0), the MDB has (0,22) (0,0) (0,0)",
                         "alternate MDB: catalog file size is 1024, the MDB has",
                         "alternate MDB: catalog file extents is"}));
}

TEST_F(VolumeCheckTest, AlternateMdbMayBeOlderInCountersDatesAndName)
{
    // The alternate is only rewritten when a B-tree file grows.
    Image image = Clean();
    uint8_t* alt = image.AlternateMdb();
    Put32(alt + kMdbCreated, 1);
    Put32(alt + kMdbModified, 2);
    Put16(alt + kMdbAttributes, 0);
    Put16(alt + kMdbRootFiles, 0);
    Put32(alt + kMdbNextCatalogId, 16);
    Put16(alt + kMdbFreeBlocks, 2830);
    std::memcpy(alt + kMdbVolumeName, "\x03Old", 4);
    Put32(alt + kMdbWriteCount, 7);
    Put32(alt + kMdbFileCount, 0);
    Put32(alt + kMdbFolderCount, 0);
    Put16(alt + kMdbRootFolders, 0);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {}));
}

TEST_F(VolumeCheckOwnVolumeTest, AllocationAreaOverTheAlternateMdbOfAPartition)
{
    const fs::path source = fs::path(QUAYLINK_CORPUS_DIR) / "cp2/apm-prodos-hfs.iso";
    if (!fs::exists(source)) GTEST_SKIP() << "corpus not present";
    Bytes bytes = ReadFileBytes(source.string());
    // Entry 2 of the partition map (block 2) is the HFS partition of 1,600
    // blocks; its volume's allocation blocks end at block 1,598.
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(&bytes[2 * 512 + 48]), 9), "Apple_HFS");
    Put32(&bytes[2 * 512 + 12], 1599);
    EXPECT_TRUE(Reports(CheckBytes(bytes),
                        {"MDB: the allocation blocks end at volume block 1598, past the alternate MDB at block 1597",
                         "alternate MDB: volume block 1597 does not hold an MDB"}));
}

// ---------------------------------------------------------------------------
// B-tree headers and node maps

TEST_F(VolumeCheckTest, HeaderNodeThatIsNoHeader)
{
    Image image = Clean();
    image.Header(true)[kNodeType] = kLeafNode;
    // Without its catalog the volume's owners are unknown: nothing more is said.
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog B-tree: node 0 is not a header node (type 255)"}));
    // Without the extents tree, the catalog's nodes past its first three
    // extents cannot be found.
    image = Clean();
    image.Header(false)[kNodeType] = kLeafNode;
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"extents B-tree: node 0 is not a header node (type 255)",
                                                  "cannot be located without the extents tree"}));
    // ... nor followed to find the tree's depth when the header's is wrong
    // (the root's first child made a free node past those extents).
    uint8_t* header = image.Header(true);
    const uint8_t* map = header + GetU16(header + 510 - 4);
    uint32_t far = GetU32(header + kHeaderTotalNodes) - 1;
    while (far > 0 && (map[far / 8] & (0x80u >> (far % 8)))) --far;
    ASSERT_GE(far * 512, GetU32(image.Mdb() + kMdbCatalogSize) / 2);  // past the first extents
    Put16(header + kHeaderDepth, 2);
    Put32(Image::DataOf(Image::RecordAt(image.Node(true, GetU32(header + kHeaderRoot)), 0)), far);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"extents B-tree: node 0 is not a header node (type 255)",
                                                  "cannot be located without the extents tree",
                                                  "catalog B-tree: header gives depth 2, but the tree has 3 levels",
                                                  "catalog B-tree: node " + std::to_string(far) +
                                                      " is in use but free in the node map"}));
}

TEST_F(VolumeCheckTest, HeaderNodeDescriptorAndRecords)
{
    Image image = Clean();
    uint8_t* h = image.Header(true);
    h[kNodeHeight] = 1;
    Put32(h + kNodeBackward, 5);
    Put16(h + kHeaderMaxKeyLength, 31);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog B-tree: header node height is 1, not 0",
                                                  "catalog B-tree: header node has backward link 5",
                                                  "catalog B-tree: maximum key length is 31, not 37"}));
    image = Clean();
    h = image.Header(false);
    Put16(h + kNodeRecordCount, 2);
    Put16(h + kHeaderNodeSize, 1024);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"extents B-tree: header node records do not hold together (2 records)",
                         "extents B-tree: node size is 1024, not 512"}));
}

TEST_F(VolumeCheckTest, HeaderCountsAgainstTheTree)
{
    Image image = Clean();
    uint8_t* h = image.Header(true);
    const auto levels = image.Levels(true);
    const uint32_t leafRecords = GetU32(h + kHeaderLeafRecords);
    Put32(h + kHeaderLeafRecords, leafRecords + 1);
    Put32(h + kHeaderFirstLeaf, levels.back()[1]);
    Put32(h + kHeaderLastLeaf, levels.back()[0]);
    Put16(h + kHeaderDepth, 4);
    EXPECT_TRUE(Reports(
        CheckBytes(image.bytes),
        {"catalog B-tree: header counts " + std::to_string(leafRecords + 1) + " leaf records, the leaves hold " +
             std::to_string(leafRecords),
         "catalog B-tree: header gives first leaf " + std::to_string(levels.back()[1]) +
             ", the tree's first leaf is node " + std::to_string(levels.back()[0]),
         "catalog B-tree: header gives last leaf " + std::to_string(levels.back()[0]),
         "catalog B-tree: header gives depth 4, but the tree has 3 levels"}));
}

TEST_F(VolumeCheckTest, HeaderOfAnEmptyTreeAndImpossibleHeaders)
{
    Image image = Clean();
    uint8_t* h = image.Header(true);
    const uint32_t total = GetU32(h + kHeaderTotalNodes);
    const uint32_t free = GetU32(h + kHeaderFreeNodes);
    Put16(h + kHeaderDepth, 9);
    Put32(h + kHeaderFreeNodes, total + 1);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog B-tree: depth 9 is more than 8", "header gives depth 9, but the tree has 3 levels",
                         "catalog B-tree: header counts " + std::to_string(total + 1) + " free nodes of " +
                             std::to_string(total)}));
    image = Clean();
    h = image.Header(true);
    Put32(h + kHeaderTotalNodes, total - 1);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog B-tree: header counts " + std::to_string(total - 1) + " nodes, the file holds " +
                             std::to_string(total),
                         "catalog B-tree: header counts " + std::to_string(free) + " free nodes, the node map leaves " +
                             std::to_string(free - 1) + " free"}));
    image = Clean();
    h = image.Header(true);
    Put32(h + kHeaderRoot, total + 3);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog B-tree: root node " + std::to_string(total + 3) +
                                                  " lies beyond the end of the file"}));
    // The extents tree of a fresh volume is empty: root 0, depth 0.
    BigVolume big;
    ASSERT_TRUE(big.ok);
    big.Patch(big.layout.extentsNodes[0] + kHeaderDepth, {0, 1});
    big.Patch(big.layout.extentsNodes[0] + kHeaderLeafRecords, U32Bytes(3));
    EXPECT_TRUE(Reports(CheckImageFile(big.path),
                        {"extents B-tree: header gives depth 1 with root node 0",
                         "extents B-tree: the tree is empty, but the header counts 3 leaf records with first leaf 0 "
                         "and last leaf 0"}));
}

TEST_F(VolumeCheckTest, NodeMapAgainstTheNodesInUse)
{
    Image image = Clean();
    uint8_t* h = image.Header(true);
    const uint32_t root = GetU32(h + kHeaderRoot);
    const uint32_t total = GetU32(h + kHeaderTotalNodes);
    const uint32_t free = GetU32(h + kHeaderFreeNodes);
    uint8_t* map = h + GetU16(h + 510 - 4);
    // The root's bit cleared; the last node's bit set though it is free.
    ASSERT_FALSE(map[(total - 1) / 8] & (0x80u >> ((total - 1) % 8)));
    map[root / 8] = static_cast<uint8_t>(map[root / 8] & ~(0x80u >> (root % 8)));
    map[(total - 1) / 8] = static_cast<uint8_t>(map[(total - 1) / 8] | (0x80u >> ((total - 1) % 8)));
    map[1000 / 8] |= 0x80u >> (1000 % 8);
    EXPECT_TRUE(Reports(
        CheckBytes(image.bytes),
        {"catalog B-tree: node " + std::to_string(root) + " is in use but free in the node map",
         "catalog B-tree: node " + std::to_string(total - 1) + " is marked in use in the node map but not part of the tree",
         "catalog B-tree: the node map marks 1 node(s) beyond the " + std::to_string(total) + " nodes of the file"}));
    image = Clean();
    Put32(image.Header(true) + kHeaderFreeNodes, free - 1);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog B-tree: header counts " + std::to_string(free - 1) +
                                                  " free nodes, the node map leaves " + std::to_string(free) + " free"}));
}

TEST_F(VolumeCheckOwnVolumeTest, MapNodeChain)
{
    if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils not installed";
    BigVolume big;
    ASSERT_TRUE(big.ok);
    const size_t header = big.CatalogNode(0);
    const uint32_t first = GetU32(big.Read(header, 4).data());
    const uint32_t second = GetU32(big.Read(big.CatalogNode(first), 4).data());
    ASSERT_NE(second, 0u);
    // The second map node leads back to the first.
    big.Patch(big.CatalogNode(second) + kNodeForward, U32Bytes(first));
    EXPECT_TRUE(Reports(CheckImageFile(big.path),
                        {"catalog B-tree: the map node chain comes back to node " + std::to_string(first)}));
    big.Patch(big.CatalogNode(second) + kNodeForward, U32Bytes(0));

    big.Patch(big.CatalogNode(second) + kNodeType, {kLeafNode});
    EXPECT_TRUE(Reports(CheckImageFile(big.path), {"catalog B-tree: node " + std::to_string(second) +
                                                   " in the map node chain has type 255, not 2 (map node)"}));
    big.Patch(big.CatalogNode(second) + kNodeType, {kMapNode});

    big.Patch(big.CatalogNode(second) + kNodeRecordCount, {0, 0});
    EXPECT_TRUE(Reports(CheckImageFile(big.path), {"catalog B-tree: map node " + std::to_string(second) +
                                                   " does not hold one map record from offset 14"}));
    big.Patch(big.CatalogNode(second) + kNodeRecordCount, {0, 1});

    big.Patch(big.CatalogNode(first) + kNodeForward, U32Bytes(9000));
    EXPECT_TRUE(Reports(CheckImageFile(big.path),
                        {"catalog B-tree: the map node chain leads to node 9000, beyond the end of the file"}));

    // Without its map nodes the header's map covers 2,048 of 7,984 nodes, and
    // the map nodes' own bits stand for nothing.
    big.Patch(header + kNodeForward, U32Bytes(0));
    EXPECT_TRUE(Reports(CheckImageFile(big.path),
                        {"catalog B-tree: the node map covers 2048 nodes, the header counts 7984",
                         "catalog B-tree: nodes " + std::to_string(first) + "-" + std::to_string(second) +
                             " are marked in use in the node map but not part of the tree"}));
}

// ---------------------------------------------------------------------------
// B-tree nodes

TEST_F(VolumeCheckTest, NodeTypeHeightAndLayout)
{
    Image image = Clean();
    const auto levels = image.Levels(true);
    const uint32_t leaf = levels.back()[3];
    const uint32_t index = levels[1][1];
    image.Node(true, leaf)[kNodeHeight] = 2;
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog B-tree: node " + std::to_string(leaf) + " has height 2 where height 1 belongs"}));
    image = Clean();
    image.Node(true, index)[kNodeType] = kLeafNode;
    // Its children are lost to the walk; the leaves around them are not
    // blamed for linking to them.
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog B-tree: node " + std::to_string(index) +
                         " has type 255 where an index node of height 2 belongs"}));
    image = Clean();
    uint8_t* node = image.Node(true, leaf);
    Put16(node + 510 - 2, GetU16(node + 510 - 2) + 1);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog B-tree: node " + std::to_string(leaf) + ": record 1 offset " +
                         std::to_string(GetU16(node + 510 - 2)) + " is odd or not below the next offset"}));
    image = Clean();
    node = image.Node(true, leaf);
    Put16(node + 510, 16);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog B-tree: node " + std::to_string(leaf) + ": first record at offset 16, not 14"}));
    image = Clean();
    node = image.Node(true, leaf);
    Put16(node + 510 - 2 * Image::Count(node), 511);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog B-tree: node " + std::to_string(leaf) +
                                                  ": free space offset 511 is odd or overlaps the offset table"}));
    image = Clean();
    node = image.Node(true, leaf);
    Image::RecordAt(node, 1)[0] = 5;
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog B-tree: node " + std::to_string(leaf) +
                                                  ": record 1: catalog key length 5 is not 6 to 37"}));
    image = Clean();
    Image::RecordAt(image.Node(true, index), 1)[0] = 39;
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog B-tree: node " + std::to_string(index) +
                                                  ": record 1: no room for the child node number"}));
    image = Clean();
    node = image.Node(true, leaf);
    Put16(node + kNodeRecordCount, 300);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog B-tree: node " + std::to_string(leaf) + ": record count 300 does not fit the node"}));
    image = Clean();
    node = image.Node(true, leaf);
    Image::RecordAt(node, 1)[kCatKeyName] = 32;
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog B-tree: node " + std::to_string(leaf) +
                                                  ": record 1: name length 32 does not fit the key"}));
    image = Clean();
    node = image.Node(true, leaf);
    Image::RecordAt(node, 2)[0] = 200;
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog B-tree: node " + std::to_string(leaf) + ": record 2: key length 200 does not fit"}));
}

// The catalog grew while the disk was fragmented: its last extents are
// recorded in the extents tree. Damage there hides those catalog nodes.
TEST_F(VolumeCheckTest, DamagedExtentsLeafHidesTheCatalogNodesItMaps)
{
    Image image = Clean();
    ASSERT_FALSE(image.Overflow(kCatalogFileId, kDataFork).empty());
    const uint32_t leaf = image.Levels(false).back()[0];
    const unsigned records = image.Count(image.Node(false, leaf));
    Image::RecordAt(image.Node(false, leaf), 0)[0] = 6;
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"extents B-tree: node " + std::to_string(leaf) + ": record 0: extents key length 6, not 7",
                         "cannot be read (B-tree node layout)"}));
    image = Clean();
    Put16(image.Node(false, leaf) + 510 - 2 * records, GetU16(image.Node(false, leaf) + 510 - 2 * records) - 2);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"extents B-tree: node " + std::to_string(leaf) + ": record " + std::to_string(records - 1) +
                             ": no room for the three extents",
                         "cannot be read (B-tree node layout)"}));
    image = Clean();
    Put16(image.Node(false, leaf) + kNodeRecordCount, 0);
    // Read but empty: every fork continued there has lost blocks.
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"extents B-tree: node " + std::to_string(leaf) + " holds no records",
                         "extents B-tree: header counts " + std::to_string(records) + " leaf records, the leaves hold 0",
                         "cannot be read (no extent record for fork block)", "catalog file: physical length",
                         "\"Fragmented data\" data fork: physical length 7680, but its extents hold 3 allocation blocks",
                         "\"Fragmented rsrc\" resource fork: physical length 6656, but its extents hold 3"}));
}

TEST_F(VolumeCheckTest, NodeThatCannotBeRead)
{
    // The check's reads, in order: the alternate MDB (the open read it past
    // the cache), then the extents tree's root.
    ASSERT_TRUE(OpenImageAsMacDrive(clean_->path.c_str(), false) && OpenListedVolume(0));
    ImageSlot* slot = nullptr;
    for (ImageSlot& s : ImageTable)
        if (s.used) slot = &s;
    ASSERT_NE(slot, nullptr);
    slot->faults.failReadAt = slot->faults.reads + 2;
    Problems problems;
    CheckVolume(&problems);
    const uint32_t extentsRoot = GetU32(MacVolume.extentsHeader->data + kHeaderRoot);
    EXPECT_TRUE(Reports(problems, {"extents B-tree: node " + std::to_string(extentsRoot) + " cannot be read (Error"}));

    // The bitmap is read last.
    CloseMacDrive();
    ASSERT_TRUE(OpenImageAsMacDrive(clean_->path.c_str(), false) && OpenListedVolume(0));
    for (ImageSlot& s : ImageTable)
        if (s.used) slot = &s;
    const uint32_t before = slot->faults.reads;
    problems.clear();
    EXPECT_EQ(CheckVolume(&problems), 0);
    const uint32_t reads = slot->faults.reads - before;
    CloseMacDrive();
    ASSERT_TRUE(OpenImageAsMacDrive(clean_->path.c_str(), false) && OpenListedVolume(0));
    for (ImageSlot& s : ImageTable)
        if (s.used) slot = &s;
    slot->faults.failReadAt = slot->faults.reads + reads;
    problems.clear();
    CheckVolume(&problems);
    EXPECT_TRUE(Reports(problems, {"bitmap: volume block 3 cannot be read"}));
    CloseMacDrive();
}

TEST_F(VolumeCheckTest, KeyOrderWithinAndAcrossNodes)
{
    Image image = Clean();
    const auto leaves = image.Levels(true).back();
    // In a leaf of the crowded folder, a name that sorts before its neighbour.
    uint32_t leaf = 0;
    for (uint32_t n : leaves) {
        const Record r = image.At(true, n, 1);
        if (r.data[0] == kFileRecord && GetU32(r.key + kCatKeyParentId) == image.IdOf("Many") &&
            image.Count(image.Node(true, n)) >= 3) {
            leaf = n;
            break;
        }
    }
    ASSERT_NE(leaf, 0u);
    Record r = image.At(true, leaf, 1);
    r.key[kCatKeyName + 1] = '!';
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog B-tree: node " + std::to_string(leaf) +
                                                  " record 1 has key (parent", "which does not sort after the key before it"}));
    // The last record of a leaf sorting after the next leaf's first.
    image = Clean();
    const uint32_t next = GetU32(image.Node(true, leaf) + kNodeForward);
    r = image.At(true, leaf, image.Count(image.Node(true, leaf)) - 1);
    ASSERT_EQ(GetU32(r.key + kCatKeyParentId), GetU32(image.At(true, next, 0).key + kCatKeyParentId));
    r.key[kCatKeyName + 1] = 0xFF;
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog B-tree: node " + std::to_string(next) + " begins with key",
                         "which does not sort after the last key (parent " +
                             std::to_string(GetU32(r.key + kCatKeyParentId)) + ", \""}));
    // The same in the extents tree: two records of one fork swapped in order.
    image = Clean();
    const std::vector<Record> scattered = image.Overflow(image.IdOf("Fragmented data"), kDataFork);
    ASSERT_GE(scattered.size(), 2u);
    Put16(scattered[1].key + kExtKeyStartBlock, 1);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"extents B-tree: node", "which does not sort after the key before it",
                         "starts at fork block 1, but the extents before it end at",
                         "starts at fork block"}));
}

TEST_F(VolumeCheckTest, IndexKeysAndChildPointers)
{
    Image image = Clean();
    const auto levels = image.Levels(true);
    // An index key one low character longer than its child's first key:
    // still in order among its neighbours, but not the child's first key.
    const uint32_t index = levels[1][1];
    Record r = image.At(true, index, 2);
    const unsigned length = r.key[kCatKeyName];
    ASSERT_LE(length, 30u);
    r.key[kCatKeyName + 1 + length] = 0x01;
    r.key[kCatKeyName] = static_cast<uint8_t>(length + 1);
    const uint32_t child = GetU32(r.data);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog B-tree: index node " + std::to_string(index) + " record 2 has key",
                         "but its child node " + std::to_string(child) + " begins with"}));
    // A child outside the file.
    image = Clean();
    r = image.At(true, index, 2);
    Put32(r.data, 5000);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog B-tree: index node " + std::to_string(index) +
                                                  " record 2 points to node 5000, outside the file"}));
    // Two index records leading to the same child.
    image = Clean();
    r = image.At(true, index, 2);
    Put32(r.data, GetU32(image.At(true, index, 1).data));
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog B-tree: index node " + std::to_string(index) +
                                                  " record 2 points to node " + std::to_string(GetU32(r.data)) +
                                                  ", which is already in use"}));
}

TEST_F(VolumeCheckTest, SiblingLinksAtEveryLevel)
{
    Image image = Clean();
    const auto levels = image.Levels(true);
    const std::vector<uint32_t>& leaves = levels.back();
    Put32(image.Node(true, leaves[4]) + kNodeForward, leaves[6]);
    Put32(image.Node(true, leaves[0]) + kNodeBackward, leaves[9]);
    const std::vector<uint32_t>& index = levels[1];
    Put32(image.Node(true, index[1]) + kNodeBackward, 0);
    Put32(image.Node(true, index.back()) + kNodeForward, leaves[2]);
    Put32(image.Node(true, levels[0][0]) + kNodeForward, index[0]);
    const auto link = [](uint32_t node, unsigned height, const char* which, uint32_t is, uint32_t expected) {
        return "catalog B-tree: node " + std::to_string(node) + " (height " + std::to_string(height) + ") has " +
               which + " link " + std::to_string(is) + ", expected " + std::to_string(expected);
    };
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {link(leaves[4], 1, "forward", leaves[6], leaves[5]),
                                                  link(leaves[0], 1, "backward", leaves[9], 0),
                                                  link(index[1], 2, "backward", 0, index[0]),
                                                  link(index.back(), 2, "forward", leaves[2], 0),
                                                  link(levels[0][0], 3, "forward", index[0], 0)}));
}

// ---------------------------------------------------------------------------
// Catalog records

TEST_F(VolumeCheckTest, RecordOfUnknownTypeOrWrongLength)
{
    Image image = Clean();
    Record file = image.Item(ManyName(1));
    file.data[0] = 7;
    // The record no longer counts as a file: its folder, the MDB and its
    // blocks miss it.
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog: record (parent " + std::to_string(image.IdOf("Many")) + ", \"" + ManyName(1) +
                             "\") in node " + std::to_string(file.node) + " record " + std::to_string(file.index) +
                             " has unknown type 7",
                         "catalog: folder \"Many\"", "MDB: counts", "marked in use but belong"}));

    // A leaf's last record two bytes longer (the free space begins later).
    image = Clean();
    Record last;
    const std::vector<uint32_t> leaves = image.Levels(true).back();
    for (uint32_t n : leaves) {
        uint8_t* node = image.Node(true, n);
        const unsigned count = Image::Count(node);
        const Record r = image.At(true, n, count - 1);
        if (r.data[0] == kFileRecord && GetU16(node + 510 - 2 * count) + 2 * (count + 1) + 2 <= 512) {
            last = r;
            break;
        }
    }
    ASSERT_NE(last.key, nullptr);
    uint8_t* node = image.Node(true, last.node);
    const unsigned count = Image::Count(node);
    Put16(node + 510 - 2 * count, GetU16(node + 510 - 2 * count) + 2);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog: file record (parent", "in node " +
                                                  std::to_string(last.node) + " record " + std::to_string(last.index) +
                                                  " is 104 bytes, not 102"}));
}

TEST_F(VolumeCheckTest, ThreadKeyWithAName)
{
    Image image = Clean();
    // Not a leaf's first key, which its index record repeats.
    uint32_t id = 0;
    Record thread;
    for (const char* folder : {"Empty", "Deep", "Deeper", "K", "F1", "Holes", "Zed", "Docs", "Many"}) {
        id = image.IdOf(folder);
        thread = image.Thread(id);
        if (thread.index != 0) break;
    }
    ASSERT_NE(thread.index, 0u);
    thread.key[0] = std::max<uint8_t>(thread.key[0], 7);
    thread.key[kCatKeyName] = 1;
    thread.key[kCatKeyName + 1] = 0x01;
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog: folder thread record for ID " + std::to_string(id) +
                                                  " in node " + std::to_string(thread.node) + " record " +
                                                  std::to_string(thread.index) + " has the name \"\\x01\" in its key"}));
}

// The smallest ID at or above 16 that no record uses.
uint32_t UnusedId(Image& image)
{
    std::vector<uint32_t> used;
    for (const Record& r : image.LeafRecords(true)) {
        used.push_back(GetU32(r.key + kCatKeyParentId));
        if (r.data[0] == kFolderRecord || r.data[0] == kFileRecord) used.push_back(Image::IdOf(r));
    }
    uint32_t id = 16;
    while (std::find(used.begin(), used.end(), id) != used.end()) ++id;
    return id;
}

TEST_F(VolumeCheckTest, ReservedAndSharedIds)
{
    Image image = Clean();
    Put32(image.Item("Forked 0").data + kFileRecFileId, 5);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog: file \"Forked 0\" (ID 5) in node", "has a reserved ID"}));
    image = Clean();
    const uint32_t shared = image.IdOf("Forked 2");
    Put32(image.Item("Forked 1").data + kFileRecFileId, shared);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"catalog: file \"Forked 1\" (ID " + std::to_string(shared) +
                                                  ") and file \"Forked 2\" (ID " + std::to_string(shared) +
                                                  ") share one ID"}));
}

TEST_F(VolumeCheckTest, FolderThreadsMissingOrphanedOrWrong)
{
    Image image = Clean();
    const uint32_t empty = image.IdOf("Empty");
    Record thread = image.Thread(empty);
    thread.data[0] = 9;
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"has unknown type 9", "catalog: folder \"Empty\" (ID " + std::to_string(empty) +
                                                   ") has no thread record"}));
    // The folder takes another ID: its thread is left without a folder.
    image = Clean();
    const uint32_t unused = UnusedId(image);
    thread = image.Thread(empty);
    Put32(image.Item("Empty").data + kFolderId, unused);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog: folder \"Empty\" (ID " + std::to_string(unused) + ") has no thread record",
                         "catalog: folder thread record in node " + std::to_string(thread.node) + " record " +
                             std::to_string(thread.index) + " is for ID " + std::to_string(empty) +
                             ", which has no folder record"}));
    image = Clean();
    image.Thread(empty).data[0] = kFileThreadRecord;
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog: folder \"Empty\" (ID " + std::to_string(empty) + ") has a file thread record"}));

    image = Clean();
    const uint32_t deep = image.IdOf("Deep");
    const uint32_t deeper = image.IdOf("Deeper");
    image.Thread(deep).data[kThreadName + 1] = 'X';
    Put32(image.Thread(deeper).data + kThreadParentId, 2);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog: the thread record of folder \"Deep\" (ID " + std::to_string(deep) +
                             ") gives parent " + std::to_string(image.IdOf("Docs")) + " and name \"Xeep\", its record "
                             "parent " + std::to_string(image.IdOf("Docs")),
                         "catalog: the thread record of folder \"Deeper\" (ID " + std::to_string(deeper) +
                             ") gives parent 2 and name \"Deeper\", its record parent " + std::to_string(deep)}));
}

// Inserts a catalog leaf record where its key belongs, never as a leaf's
// first record (which an index record repeats). False when no leaf there
// has room.
bool InsertLeafRecord(Image& image, const Bytes& record)
{
    const std::vector<uint32_t> leaves = image.Levels(true).back();
    for (size_t l = 0; l < leaves.size(); ++l) {
        uint8_t* node = image.Node(true, leaves[l]);
        const unsigned count = Image::Count(node);
        unsigned at = 0;
        while (at < count && CompareCatalogKeys(Image::RecordAt(node, at), record.data()) < 0) ++at;
        if (at == count && l + 1 < leaves.size() &&
            CompareCatalogKeys(Image::RecordAt(image.Node(true, leaves[l + 1]), 0), record.data()) < 0)
            continue;   // belongs further on
        if (at == 0) return false;
        BlockData copy;
        std::memcpy(copy.data, node, 512);
        if (NodeFreeSpace(&copy) < record.size() + 2) return false;
        NodeInsertRecord(&copy, at, record.data(), static_cast<unsigned>(record.size()));
        std::memcpy(node, copy.data, 512);
        uint8_t* header = image.Header(true);
        Put32(header + kHeaderLeafRecords, GetU32(header + kHeaderLeafRecords) + 1);
        return true;
    }
    return false;
}

Bytes FileThread(uint32_t fileId, uint32_t parent, const std::string& name)
{
    Bytes record(8 + kThreadRecordSize, 0);
    record[0] = 7;
    Put32(&record[kCatKeyParentId], fileId);
    record[8] = kFileThreadRecord;
    Put32(&record[8 + kThreadParentId], parent);
    record[8 + kThreadName] = static_cast<uint8_t>(name.size());
    std::memcpy(&record[8 + kThreadName + 1], name.data(), name.size());
    return record;
}

TEST_F(VolumeCheckTest, FileThreadsAreAllowedWhenTheyAgree)
{
    // hfsutils writes no file threads; one is added to a leaf with room.
    const std::vector<std::string> candidates = {"Readme", "In F1", "Forked 0", "Forked 3", "Fragmented data",
                                                 "Last file", "After Zed"};
    Image image = Clean();
    std::string name;
    uint32_t id = 0;
    uint32_t parent = 0;
    for (const std::string& c : candidates) {
        const Record r = image.Item(c);
        if (InsertLeafRecord(image, FileThread(Image::IdOf(r), GetU32(r.key + kCatKeyParentId), c))) {
            name = c;
            id = Image::IdOf(r);
            parent = GetU32(r.key + kCatKeyParentId);
            break;
        }
    }
    ASSERT_FALSE(name.empty()) << "no leaf with room for a file thread";
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {}));

    Image wrong = Clean();
    ASSERT_TRUE(InsertLeafRecord(wrong, FileThread(id, parent + 1, name)));
    EXPECT_TRUE(Reports(CheckBytes(wrong.bytes),
                        {"catalog: the thread record of file \"" + name + "\" (ID " + std::to_string(id) +
                         ") gives parent " + std::to_string(parent + 1)}));
    // A thread for a file that is gone: the ID of a deleted file.
    Image orphan = Clean();
    const uint32_t unused = UnusedId(orphan);
    bool inserted = false;
    for (const std::string& c : candidates) {
        Image attempt = Clean();
        const Record r = attempt.Item(c);
        const Bytes thread = FileThread(unused, GetU32(r.key + kCatKeyParentId), c);
        if (InsertLeafRecord(attempt, thread)) {
            orphan = attempt;
            inserted = true;
            break;
        }
    }
    ASSERT_TRUE(inserted);
    EXPECT_TRUE(Reports(CheckBytes(orphan.bytes),
                        {"catalog: file thread record in node", "is for ID " + std::to_string(unused) +
                                                                ", which has no file record"}));
    // The next catalog ID must be above a thread's ID too.
    Put32(orphan.Mdb() + kMdbNextCatalogId, unused);
    EXPECT_TRUE(Reports(CheckBytes(orphan.bytes),
                        {"which has no file record",
                         "MDB: next catalog ID " + std::to_string(unused) + " is not above ID " +
                             std::to_string(unused) + " of a thread record",
                         "MDB: next catalog ID " + std::to_string(unused) + " is not above file"}));
}

TEST_F(VolumeCheckTest, ItemsInAMissingFolderOrInAFile)
{
    // The catalog ends with the records of the last folder made, Zed.
    Image image = Clean();
    const std::vector<Record> all = image.LeafRecords(true);
    Record last = all.back();
    ASSERT_EQ(std::string(reinterpret_cast<char*>(last.key + kCatKeyName + 1), last.key[kCatKeyName]), "Last file");
    const uint32_t zed = image.IdOf("Zed");
    const uint32_t lastId = Image::IdOf(last);
    Put32(last.key + kCatKeyParentId, 0x00FFFFFF);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog: file \"Last file\" (ID " + std::to_string(lastId) +
                             ") lies in folder 16777215, which does not exist",
                         "catalog: folder \"Zed\" (ID " + std::to_string(zed) + ") has valence 1 but holds 0 item(s)"}));
    image = Clean();
    last = image.LeafRecords(true).back();
    const uint32_t after = image.IdOf("After Zed");
    ASSERT_GT(after, zed);
    Put32(last.key + kCatKeyParentId, after);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog: file \"Last file\" (ID " + std::to_string(lastId) + ") lies in file \"After Zed\" (ID " +
                             std::to_string(after) + "), which is a file",
                         "catalog: folder \"Zed\" (ID " + std::to_string(zed) + ") has valence 1 but holds 0 item(s)"}));
}

TEST_F(VolumeCheckTest, ItemsBesideTheRootAndARootInTheWrongPlace)
{
    // The root folder's first item moved into parent 1, next to the root.
    Image image = Clean();
    Record first = image.Item("After Zed");
    ASSERT_NE(first.index, 0u);
    Put32(first.key + kCatKeyParentId, 1);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"which does not sort after the key before it",
                         "catalog: file \"After Zed\" (ID " + std::to_string(Image::IdOf(first)) +
                             ") lies in parent 1, beside the root folder",
                         "catalog: folder \"Checked\" (ID 2) has valence", "MDB: counts"}));
    image = Clean();
    Record root = image.Item("Checked");
    Put32(root.key + kCatKeyParentId, 0);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog: the root folder lies in parent 0, not 1",
                         "catalog: the thread record of folder \"Checked\" (ID 2) gives parent 1",
                         "has key (parent 1, \"Checked\"), but its child node " + std::to_string(root.node) +
                             " begins with (parent 0, \"Checked\")"}));
}

TEST_F(VolumeCheckTest, RootFolderMissing)
{
    // The root's record takes another ID: nothing is folder 2 any more.
    Image image = Clean();
    const uint32_t unused = UnusedId(image);
    Put32(image.Item("Checked").data + kFolderId, unused);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog: the root folder (ID 2) is missing",
                         "catalog: folder \"Checked\" (ID " + std::to_string(unused) + ") lies in parent 1, beside the "
                         "root folder",
                         "catalog: folder \"Checked\" (ID " + std::to_string(unused) + ") has no thread record",
                         "is for ID 2, which has no folder record", "lies in folder 2, which does not exist",
                         "has valence", "MDB: counts 9 folders on the volume, the catalog has 10"}));
}

TEST_F(VolumeCheckTest, FolderLoopAndValence)
{
    // F1 takes the ID of its own parent K (which takes a new one): F1 lies
    // in itself.
    Image image = Clean();
    const uint32_t k = image.IdOf("K");
    const uint32_t unused = UnusedId(image);
    Put32(image.Item("K").data + kFolderId, unused);
    Put32(image.Item("F1").data + kFolderId, k);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog: folder \"F1\" (ID " + std::to_string(k) +
                             ") is not below the root: its parent folders form a loop",
                         "catalog: folder \"K\" (ID " + std::to_string(unused) + ") has no thread record",
                         "catalog: the thread record of folder \"F1\" (ID " + std::to_string(k) + ") gives parent 2 and "
                         "name \"K\"",
                         "which has no folder record", "catalog: file \"In F1\"",
                         "catalog: folder \"K\" (ID " + std::to_string(unused) + ") has valence 1 but holds 0 item(s)"}));
    image = Clean();
    Record docs = image.Item("Docs");
    const unsigned valence = GetU16(docs.data + kFolderValence);
    Put16(docs.data + kFolderValence, valence + 1);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"catalog: folder \"Docs\" (ID " + std::to_string(Image::IdOf(docs)) + ") has valence " +
                         std::to_string(valence + 1) + " but holds " + std::to_string(valence) + " item(s)"}));
}

// ---------------------------------------------------------------------------
// Extents and allocation

TEST_F(VolumeCheckTest, ExtentsRecordsThatBelongToNoFork)
{
    Image image = Clean();
    const uint32_t rsrcId = image.IdOf("Fragmented rsrc");
    Record last = image.LeafRecords(false).back();
    ASSERT_EQ(GetU32(last.key + kExtKeyFileId), rsrcId);
    Put32(last.key + kExtKeyFileId, 0x00FFFFFF);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"extents record in node " + std::to_string(last.node) + " record " +
                             std::to_string(last.index) + " (file 16777215, fork type 255): the catalog has no such file",
                         "file " + std::to_string(rsrcId) + " \"Fragmented rsrc\" resource fork: physical length 6656"}));
    // The last record of the scattered data fork given fork type 0x7F (still
    // in key order).
    image = Clean();
    const uint32_t dataId = image.IdOf("Fragmented data");
    Record data = image.Overflow(dataId, kDataFork).back();
    data.key[kExtKeyForkType] = 0x7F;
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"(file " + std::to_string(dataId) + ", fork type 127): fork type is neither 0 (data) nor 255 "
                         "(resource)",
                         "\"Fragmented data\" data fork: physical length 7680"}));
    // The catalog's first extents record given to the extents file, whose
    // extents live in the MDB alone: the catalog nodes it mapped are lost.
    image = Clean();
    Record catalog = image.LeafRecords(false).front();
    ASSERT_EQ(GetU32(catalog.key + kExtKeyFileId), kCatalogFileId);
    Put32(catalog.key + kExtKeyFileId, kExtentsFileId);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"(file 3, fork type 0): the extents file keeps all its extents in the MDB",
                         "catalog file: physical length", "cannot be read"}));
}

TEST_F(VolumeCheckTest, ExtentsRecordsThatDoNotContinueTheirFork)
{
    Image image = Clean();
    const uint32_t rsrcId = image.IdOf("Fragmented rsrc");
    Record last = image.Overflow(rsrcId, kResourceFork).back();
    const uint32_t start = GetU16(last.key + kExtKeyStartBlock);
    Put16(last.key + kExtKeyStartBlock, start + 1);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"file " + std::to_string(rsrcId) + " \"Fragmented rsrc\" resource fork: extents record in node " +
                         std::to_string(last.node) + " record " + std::to_string(last.index) + " starts at fork block " +
                         std::to_string(start + 1) + ", but the extents before it end at " + std::to_string(start)}));
    // Emptied, the record holds nothing, and its blocks belong to no one.
    image = Clean();
    last = image.Overflow(rsrcId, kResourceFork).back();
    std::fill_n(Image::DataOf(last.key), 12, 0);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"\"Fragmented rsrc\" resource fork: extents record in node " + std::to_string(last.node) +
                             " record " + std::to_string(last.index) + " holds no blocks",
                         "\"Fragmented rsrc\" resource fork: physical length 6656, but its extents hold",
                         "marked in use but belong"}));
}

TEST_F(VolumeCheckTest, FirstExtentRecordsWithGaps)
{
    // The third extent dropped from a fork whose extents go on in the tree.
    Image image = Clean();
    Record file = image.Item("Fragmented data");
    uint8_t* extents = file.data + kFileRecDataExtents;
    Put16(extents + 10, 0);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"\"Fragmented data\" data fork: has extents records although its first extent record is not full",
                         "starts at fork block 3, but the extents before it end at 2",
                         "\"Fragmented data\" data fork: physical length 7680, but its extents hold 14",
                         "marked in use but belong"}));
    // The first extent emptied in front of used ones.
    image = Clean();
    file = image.Item("Fragmented data");
    extents = file.data + kFileRecDataExtents;
    const unsigned secondStart = GetU16(extents + 4);
    Put16(extents + 2, 0);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"\"Fragmented data\" data fork: its first extent record has an empty extent before extent (" +
                             std::to_string(secondStart) + ",1)",
                         "starts at fork block 3, but the extents before it end at 2", "physical length 7680",
                         "marked in use but belong"}));
}

TEST_F(VolumeCheckTest, ExtentsOutsideTheVolumeOrUsedTwice)
{
    Image image = Clean();
    Record file = image.Item("Forked 1");
    uint8_t* rsrc = file.data + kFileRecRsrcExtents;
    const unsigned count = GetU16(rsrc + 2);
    Put16(rsrc, 65000);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"\"Forked 1\" resource fork: extent (65000," + std::to_string(count) +
                             ") goes past the last allocation block (2873)",
                         "marked in use but belong"}));
    // One fork naming a block twice.
    image = Clean();
    file = image.Item("Fragmented data");
    uint8_t* data = file.data + kFileRecDataExtents;
    const unsigned first = GetU16(data);
    Put16(data + 4, first);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"\"Fragmented data\" data fork: allocation block " + std::to_string(first) +
                             " appears twice in its extents",
                         "marked in use but belong"}));
    // Two forks sharing a block.
    image = Clean();
    const unsigned theirs = GetU16(image.Item("Fragmented rsrc").data + kFileRecRsrcExtents);
    Put16(image.Item("Fragmented data").data + kFileRecDataExtents, theirs);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"allocation block " + std::to_string(theirs) + " belongs to both file " +
                             std::to_string(image.IdOf("Fragmented data")) + " \"Fragmented data\" data fork and file " +
                             std::to_string(image.IdOf("Fragmented rsrc")) + " \"Fragmented rsrc\" resource fork",
                         "marked in use but belong"}));
}

TEST_F(VolumeCheckTest, ForkLengths)
{
    Image image = Clean();
    uint8_t* record = image.Item("Forked 1").data;
    const uint32_t physical = GetU32(record + kFileRecRsrcPhysical);
    Put32(record + kFileRecRsrcPhysical, physical + 1);
    Put32(record + kFileRecDataLogical, GetU32(record + kFileRecDataPhysical) + 1);
    EXPECT_TRUE(Reports(
        CheckBytes(image.bytes),
        {"\"Forked 1\" resource fork: physical length " + std::to_string(physical + 1) +
             " is not a whole number of allocation blocks (512 bytes)",
         "\"Forked 1\" resource fork: physical length " + std::to_string(physical + 1) + ", but its extents hold " +
             std::to_string(physical / 512) + " allocation blocks (" + std::to_string(physical) + " bytes)",
         "\"Forked 1\" data fork: logical length " + std::to_string(GetU32(record + kFileRecDataPhysical) + 1) +
             " exceeds physical length"}));
    image = Clean();
    record = image.Item("Forked 1").data;
    Put32(record + kFileRecRsrcPhysical, physical + 512);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"\"Forked 1\" resource fork: physical length " +
                                                  std::to_string(physical + 512) + ", but its extents hold"}));
}

TEST_F(VolumeCheckTest, BitmapAgainstTheForks)
{
    Image image = Clean();
    const uint32_t free = GetU16(image.Mdb() + kMdbFreeBlocks);
    const unsigned owned = GetU16(image.Item("Forked 1").data + kFileRecRsrcExtents);
    ASSERT_TRUE(image.BitmapBit(owned));
    image.SetBitmapBit(owned, false);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"bitmap: allocation block " + std::to_string(owned) + " of file " +
                             std::to_string(image.IdOf("Forked 1")) + " \"Forked 1\" resource fork is free",
                         "MDB: counts " + std::to_string(free) + " free allocation blocks, the bitmap has " +
                             std::to_string(free + 1)}));
    image = Clean();
    const uint32_t unowned = image.FreeBlock();
    image.SetBitmapBit(unowned, true);
    image.SetBitmapBit(unowned - 1, true);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes),
                        {"bitmap: allocation blocks " + std::to_string(unowned - 1) + "-" + std::to_string(unowned) +
                             " are marked in use but belong to no fork",
                         "MDB: counts " + std::to_string(free) + " free allocation blocks, the bitmap has " +
                             std::to_string(free - 2)}));
    image = Clean();
    Put16(image.Mdb() + kMdbFreeBlocks, free - 1);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), {"MDB: counts " + std::to_string(free - 1) +
                                                  " free allocation blocks, the bitmap has " + std::to_string(free)}));
}

// ---------------------------------------------------------------------------
// Random damage: whatever the metadata holds, the check ends, and says
// something whenever the bytes it reads changed in a way that matters.

TEST_F(VolumeCheckTest, RandomDamageNeverBreaksTheCheck)
{
    const Image clean = Clean();
    std::vector<size_t> metadata;   // every byte the check reads
    for (size_t n : clean.layout.catalogNodes) metadata.push_back(n);
    for (size_t n : clean.layout.extentsNodes) metadata.push_back(n);
    metadata.push_back((size_t{clean.layout.partitionStart} + 2) * 512);
    metadata.push_back((size_t{clean.layout.partitionStart} + 3) * 512);
    metadata.push_back((size_t{clean.layout.partitionStart} + clean.layout.volumeSize - 2) * 512);
    // More rounds on demand: QUAYLINK_CHECK_FUZZ_ROUNDS=3000.
    const char* wanted = std::getenv("QUAYLINK_CHECK_FUZZ_ROUNDS");
    const unsigned rounds = wanted ? static_cast<unsigned>(std::strtoul(wanted, nullptr, 10)) : 60;
    uint32_t state = 12345;
    auto next = [&]() { state = state * 1103515245u + 12345u; return state >> 8; };
    unsigned reported = 0;
    for (unsigned round = 0; round < rounds; ++round) {
        Image image = clean;
        const unsigned edits = 1 + next() % 8;
        for (unsigned e = 0; e < edits; ++e) {
            const size_t block = metadata[next() % metadata.size()];
            image.bytes[block + next() % 512] = static_cast<uint8_t>(next());
        }
        const Problems problems = CheckBytes(image.bytes);
        if (!problems.empty()) ++reported;
    }
    EXPECT_GT(reported, rounds / 4);
}

// ---------------------------------------------------------------------------
// quaylink-cli check

#ifdef QUAYLINK_CLI_PATH
TEST_F(VolumeCheckTest, CliSummarisesACleanVolumeAndNeverWrites)
{
    const auto before = fs::last_write_time(clean_->path);
    const CommandResult r = RunCommand({QUAYLINK_CLI_PATH, "check", clean_->path});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Image image = Clean();
    const uint8_t* mdb = image.Mdb();
    EXPECT_EQ(r.out, clean_->path + "@1: volume Checked is consistent: " + std::to_string(GetU32(mdb + kMdbFileCount)) +
                         " files, 9 folders, " + std::to_string(GetU16(mdb + kMdbFreeBlocks)) +
                         " of 2874 allocation blocks free\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFileBytes(clean_->path), clean_->image.bytes);
    EXPECT_EQ(fs::last_write_time(clean_->path), before);
    EXPECT_EQ(RunCommand({QUAYLINK_CLI_PATH, "check"}).exitCode, 1);
    EXPECT_EQ(RunCommand({QUAYLINK_CLI_PATH, "check", clean_->path + "@2"}).exitCode, 2);
}

TEST_F(VolumeCheckTest, CliListsEveryProblemEvenWhenTheRootCannotBeListed)
{
    // The catalog's root node with a wrong height: the engine's searches
    // refuse it, so the volume opens but its root folder cannot be listed.
    Image image = Clean();
    Record docs = image.Item("Docs");
    Put16(docs.data + kFolderValence, 99);
    const uint32_t root = GetU32(image.Header(true) + kHeaderRoot);
    image.Node(true, root)[kNodeHeight] = 7;
    TempDir dir;
    const std::string path = dir.WriteFile("damaged.img", image.bytes);
    const CommandResult r = RunCommand({QUAYLINK_CLI_PATH, "check", path});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "catalog B-tree: node " + std::to_string(root) + " has height 7 where height 3 belongs\n"
                     "catalog: folder \"Docs\" (ID " + std::to_string(Image::IdOf(docs)) + ") has valence 99 but holds " +
                     std::to_string(GetU16(clean_->image.bytes.data() + (docs.data - image.bytes.data()) + kFolderValence)) +
                     " item(s)\n");
    EXPECT_NE(r.err.find("problem"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(path), image.bytes);
}
#endif

}  // namespace
