// The volume checker: clean on the volumes hfsutils makes and on the real
// images of the shared corpus; and for each kind of damage it claims to find,
// a clean volume damaged that way (bytes of the image edited at offsets found
// by a small reader of our own) reports it, and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/status.h"
#include "disk/image_drive.h"
#include "hfs/btree_node.h"
#include "hfs/catalog_keys.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "support/engine_state.h"
#include "support/hfs_layout.h"
#include "support/hfsutils_driver.h"
#include "support/run_command.h"
#include "ui/mac_session.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Problems = std::vector<std::string>;

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string Fmt(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// ---------------------------------------------------------------------------
// Running the check

// Opens volume `volume` of the image read-only and checks it. A damaged
// catalog may stop the root listing; the check runs on whatever opened.
Problems CheckImageFile(const std::string& path, unsigned volume = 0)
{
    Problems problems;
    if (OpenImageAsMacDrive(path.c_str(), false)) OpenListedVolume(volume);
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
::testing::AssertionResult Reports(const Problems& problems, const Problems& expected)
{
    auto within = [](const std::string& p, const std::string& e) { return p.find(e) != std::string::npos; };
    for (const std::string& p : problems)
        if (std::none_of(expected.begin(), expected.end(), [&](const std::string& e) { return within(p, e); }))
            return ::testing::AssertionFailure() << "unexpected problem: " << p << "\nall:" << Listing(problems);
    for (const std::string& e : expected)
        if (std::none_of(problems.begin(), problems.end(), [&](const std::string& p) { return within(p, e); }))
            return ::testing::AssertionFailure() << "not reported: " << e << "\nall:" << Listing(problems);
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------
// An image in memory with the reader's view of its (clean) first volume.

void Put16(uint8_t* p, uint32_t v) { PutU16(static_cast<uint16_t>(v), p); }
void Put32(uint8_t* p, uint32_t v) { PutU32(v, p); }

struct Record {
    uint32_t node = 0;
    unsigned index = 0;
    uint8_t* key = nullptr;
    uint8_t* data = nullptr;
};

std::string NameOf(const Record& r)
{
    return std::string(reinterpret_cast<const char*>(r.key + kCatKeyName + 1), r.key[kCatKeyName]);
}

struct Image {
    Bytes bytes;
    HfsVolumeLayout layout;

    uint8_t* Mdb() { return &bytes[layout.mdb]; }
    uint8_t* AlternateMdb() { return &bytes[layout.alternate]; }
    const HfsTreeLayout& Tree(bool catalog) const { return catalog ? layout.catalog : layout.extents; }
    uint8_t* Node(bool catalog, uint32_t n) { return &bytes[Tree(catalog).nodes.at(n)]; }
    uint8_t* Header(bool catalog) { return Node(catalog, 0); }
    const std::vector<std::vector<uint32_t>>& Levels(bool catalog) const { return Tree(catalog).levels; }
    uint8_t& BitmapByte(uint32_t block)
    {
        return bytes[layout.base + size_t{GetU16(Mdb() + kMdbBitmapStart)} * 512 + block / 8];
    }
    bool BitmapBit(uint32_t block) { return BitmapByte(block) & (0x80u >> (block % 8)); }
    void FlipBitmapBit(uint32_t block) { BitmapByte(block) ^= static_cast<uint8_t>(0x80u >> (block % 8)); }

    static uint16_t Count(const uint8_t* node) { return GetU16(node + kNodeRecordCount); }
    static uint8_t* RecordAt(uint8_t* node, unsigned i) { return node + GetU16(node + 510 - 2 * i); }
    static uint8_t* DataOf(uint8_t* key) { return key + ((key[0] + 2u) & ~1u); }
    Record At(bool catalog, uint32_t node, unsigned index)
    {
        uint8_t* key = RecordAt(Node(catalog, node), index);
        return Record{node, index, key, DataOf(key)};
    }
    std::vector<Record> LeafRecords(bool catalog)
    {
        std::vector<Record> out;
        for (uint32_t n : Levels(catalog).back())
            for (unsigned i = 0; i < Count(Node(catalog, n)); ++i) out.push_back(At(catalog, n, i));
        return out;
    }
    // The folder or file record named `name` (names are unique on the test volume).
    Record Item(const std::string& name)
    {
        for (const Record& r : LeafRecords(true))
            if ((r.data[0] == kFolderRecord || r.data[0] == kFileRecord) && NameOf(r) == name) return r;
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
    // The smallest ID at or above 16 that no record uses.
    uint32_t UnusedId()
    {
        std::vector<uint32_t> used;
        for (const Record& r : LeafRecords(true)) {
            used.push_back(GetU32(r.key + kCatKeyParentId));
            if (r.data[0] == kFolderRecord || r.data[0] == kFileRecord) used.push_back(IdOf(r));
        }
        uint32_t id = 16;
        while (std::find(used.begin(), used.end(), id) != used.end()) ++id;
        return id;
    }
};

bool MapImage(Image* image)
{
    const HfsDiskLayout disk = MapHfsDisk(image->bytes);
    if (disk.volumes.empty() || disk.volumes[0].catalog.levels.empty()) return false;
    image->layout = disk.volumes[0];
    return true;
}

// Inserts a catalog leaf record where its key belongs, never as a leaf's
// first record (which an index record repeats). False when no leaf there
// has room.
bool InsertLeafRecord(Image& image, const Bytes& record)
{
    const std::vector<uint32_t>& leaves = image.Levels(true).back();
    for (size_t l = 0; l < leaves.size(); ++l) {
        uint8_t* node = image.Node(true, leaves[l]);
        const unsigned count = Image::Count(node);
        unsigned at = 0;
        while (at < count && CompareCatalogKeys(Image::RecordAt(node, at), record.data()) < 0) ++at;
        if (at == count && l + 1 < leaves.size() &&
            CompareCatalogKeys(Image::RecordAt(image.Node(true, leaves[l + 1]), 0), record.data()) < 0)
            continue;   // belongs further on
        BlockData copy;
        std::memcpy(copy.data, node, 512);
        if (at == 0 || NodeFreeSpace(&copy) < record.size() + 2) return false;
        NodeInsertRecord(&copy, at, record.data(), static_cast<unsigned>(record.size()));
        std::memcpy(node, copy.data, 512);
        uint8_t* header = image.Header(true);
        Put32(header + kHeaderLeafRecords, GetU32(header + kHeaderLeafRecords) + 1);
        return true;
    }
    return false;
}

bool InsertFileThread(Image& image, uint32_t fileId, uint32_t parent, const std::string& name)
{
    Bytes record(8 + kThreadRecordSize, 0);
    record[0] = 7;
    Put32(&record[kCatKeyParentId], fileId);
    record[8] = kFileThreadRecord;
    Put32(&record[8 + kThreadParentId], parent);
    record[8 + kThreadName] = static_cast<uint8_t>(name.size());
    std::memcpy(&record[8 + kThreadName + 1], name.data(), name.size());
    return InsertLeafRecord(image, record);
}

// ---------------------------------------------------------------------------
// The clean volume, made once by hfsutils: nested folders, an empty folder,
// a crowded folder (a catalog three levels deep, some of its files deleted
// again), files with resource forks, a data fork and a resource fork broken
// into one-block extents (extents records in the overflow tree, the
// catalog's last extents too), and a last folder "Zed" whose records end the
// catalog.

constexpr unsigned kManyFiles = 200;

std::string ManyName(unsigned i) { return Fmt("A fairly long file name #%03u", i); }

struct CleanVolume {
    TempDir dir;
    std::string path = dir.PathOf("clean.img");
    Image image;
    std::string error;
};

std::unique_ptr<CleanVolume> MakeCleanVolume()
{
    auto clean = std::make_unique<CleanVolume>();
    using Files = std::vector<std::pair<std::string, Bytes>>;
    Files many, holes;
    std::vector<std::string> gone, odd;
    for (unsigned i = 0; i < kManyFiles; ++i) many.emplace_back(ManyName(i), PatternBytes((i * 37) % 1500, i));
    for (unsigned i = 0; i < kManyFiles; i += 7) gone.push_back(":Many:" + ManyName(i));
    std::vector<MacFileImage> forked(5);
    for (unsigned i = 0; i < 5; ++i)
        forked[i] = {"Forked " + std::to_string(i), "TEXT", "ttxt", 0, 0, 0, PatternBytes(i * 900, 10 + i),
                     PatternBytes(300 + i * 1200, 20 + i)};
    // One-block holes with the rest of the disk taken, so that the next
    // forks are scattered over them.
    for (unsigned i = 0; i < 70; ++i) holes.emplace_back("Hole " + std::to_string(i), PatternBytes(512, 100 + i));
    for (unsigned i = 1; i < 70; i += 2) odd.push_back(":Holes:Hole " + std::to_string(i));
    MacFileImage scattered;
    scattered.name = "Fragmented rsrc";
    scattered.rsrc = PatternBytes(13 * 512 - 100, 4);

    HfsUtils hfs;
    bool ok = hfs.Format(clean->path, "Checked", 1474560);
    for (const char* folder : {":Docs", ":Docs:Deep", ":Docs:Deep:Deeper", ":Empty", ":Many", ":K", ":K:F1", ":Holes"})
        ok = ok && hfs.Mkdir(folder);
    ok = ok && hfs.PutRawFiles(many, ":Many:") &&
         hfs.PutRawFiles({{"Readme", PatternBytes(3000, 1)}}, ":Docs:Deep:Deeper:") &&
         hfs.PutRawFiles({{"In F1", PatternBytes(700, 2)}}, ":K:F1:") && hfs.PutMacBinary(forked, ":Docs:") &&
         hfs.Delete(gone) && hfs.PutRawFiles(holes, ":Holes:") &&
         hfs.PutRawFiles({{"Filler", Bytes(hfs.FreeBytes(), 0)}}, ":") && hfs.Delete(odd) &&
         hfs.PutRawFiles({{"Fragmented data", PatternBytes(15 * 512, 3)}}, ":Docs:") &&
         hfs.PutMacBinary({scattered}, ":Docs:") && hfs.Delete({":Filler"}) && hfs.Mkdir(":Zed") &&
         hfs.PutRawFiles({{"Last file", PatternBytes(100, 5)}}, ":Zed:") &&
         hfs.PutRawFiles({{"After Zed", PatternBytes(200, 6)}}, ":");
    if (!ok) {
        clean->error = hfs.LastError();
        return clean;
    }
    clean->image.bytes = ReadFileBytes(clean->path);
    if (!MapImage(&clean->image)) clean->error = "the clean volume cannot be mapped";
    return clean;
}

class VolumeCheckTest : public EngineStateTest {
protected:
    void SetUp() override
    {
        EngineStateTest::SetUp();
        if (!HfsUtilsAvailable()) GTEST_SKIP() << "hfsutils not installed";
        ASSERT_TRUE(Clean().error.empty()) << Clean().error;
    }
    static CleanVolume& Clean()
    {
        static const std::unique_ptr<CleanVolume> clean = MakeCleanVolume();
        return *clean;
    }
};

// ---------------------------------------------------------------------------
// One kind of damage a row: it damages a copy of the clean volume and
// returns what the check must report.

struct Damage {
    const char* name;
    Problems (*apply)(Image&);
};
void PrintTo(const Damage& d, std::ostream* out) { *out << d.name; }

// A leaf of the crowded folder whose second and third records are its files.
uint32_t CrowdedLeaf(Image& im)
{
    const uint32_t many = im.IdOf("Many");
    auto ours = [&](const Record& r) { return r.data[0] == kFileRecord && GetU32(r.key + kCatKeyParentId) == many; };
    for (uint32_t n : im.Levels(true).back())
        if (Image::Count(im.Node(true, n)) >= 3 && ours(im.At(true, n, 1)) && ours(im.At(true, n, 2))) return n;
    ADD_FAILURE() << "no leaf of the crowded folder";
    return 0;
}

// The catalog's last free node: past its first extents on the clean volume.
uint32_t LastFreeNode(Image& im)
{
    uint8_t* h = im.Header(true);
    const uint8_t* map = h + GetU16(h + 510 - 4);
    uint32_t n = GetU32(h + kHeaderTotalNodes) - 1;
    while (n > 0 && (map[n / 8] & (0x80u >> (n % 8)))) --n;
    return n;
}

// Makes that node a map node (empty) after the header's map record: the
// volume stays consistent.
uint32_t AddMapNode(Image& im)
{
    const uint32_t n = LastFreeNode(im);
    uint8_t* h = im.Header(true);
    uint8_t* node = im.Node(true, n);
    std::fill_n(node, 512, 0);
    node[kNodeType] = kMapNode;
    Put16(node + kNodeRecordCount, 1);
    Put16(node + 510, kNodeFirstRecord);
    Put16(node + 508, 508);
    Put32(h + kNodeForward, n);
    h[GetU16(h + 510 - 4) + n / 8] |= static_cast<uint8_t>(0x80u >> (n % 8));
    Put32(h + kHeaderFreeNodes, GetU32(h + kHeaderFreeNodes) - 1);
    return n;
}

uint32_t SomeLeaf(Image& im) { return im.Levels(true).back()[3]; }
uint32_t SomeIndex(Image& im) { return im.Levels(true)[1][1]; }
uint32_t ExtentsLeaf(Image& im) { return im.Levels(false).back()[0]; }

const Damage kVolumeDamage[] = {
    {"None", [](Image& im) -> Problems {
         // The volume is what the damage needs: a catalog three levels deep
         // with several index nodes per level, and forks continued in the
         // extents tree.
         EXPECT_EQ(GetU16(im.Header(true) + kHeaderDepth), 3u);
         EXPECT_GE(im.Levels(true)[1].size(), 2u);
         EXPECT_GE(im.Overflow(im.IdOf("Fragmented data"), kDataFork).size(), 2u);
         EXPECT_GE(im.Overflow(im.IdOf("Fragmented rsrc"), kResourceFork).size(), 2u);
         EXPECT_FALSE(im.Overflow(kCatalogFileId, kDataFork).empty());
         return {};
     }},

    // The master directory block and its alternate
    {"MdbNextIdNotAboveEveryId", [](Image& im) -> Problems {
         const uint32_t last = im.IdOf("After Zed");
         Put32(im.Mdb() + kMdbNextCatalogId, last);
         return {Fmt("MDB: next catalog ID %u is not above file \"After Zed\" (ID %u)", last, last)};
     }},
    {"MdbCountersAgainstTheCatalog", [](Image& im) -> Problems {
         uint8_t* mdb = im.Mdb();
         const uint32_t rootFiles = GetU16(mdb + kMdbRootFiles), files = GetU32(mdb + kMdbFileCount);
         Put16(mdb + kMdbRootFiles, rootFiles + 1);
         Put16(mdb + kMdbRootFolders, 5);   // of Docs, Empty, Many, K, Holes, Zed
         Put32(mdb + kMdbFileCount, files + 2);
         Put32(mdb + kMdbFolderCount, 12);  // of those, Deep, Deeper and F1
         return {Fmt("MDB: counts %u files in the root folder, the catalog has %u", rootFiles + 1, rootFiles),
                 "MDB: counts 5 folders in the root folder, the catalog has 6",
                 Fmt("MDB: counts %u files on the volume, the catalog has %u", files + 2, files),
                 "MDB: counts 12 folders on the volume, the catalog has 9"};
     }},
    {"AlternateMdbCutOff", [](Image& im) -> Problems {
         im.bytes.resize(im.bytes.size() - 1024);
         return {"alternate MDB: volume block 2878 cannot be read"};
     }},
    {"AlternateMdbOlderInCountersDatesAndName", [](Image& im) -> Problems {
         // The alternate is only rewritten when a B-tree file grows.
         uint8_t* alt = im.AlternateMdb();
         for (unsigned field : {kMdbCreated, kMdbModified, kMdbNextCatalogId, kMdbWriteCount, kMdbFileCount,
                                kMdbFolderCount})
             Put32(alt + field, 16);
         for (unsigned field : {kMdbAttributes, kMdbRootFiles, kMdbFreeBlocks, kMdbRootFolders}) Put16(alt + field, 0);
         std::memcpy(alt + kMdbVolumeName, "\x03Old", 4);
         return {};
     }},

    // B-tree headers and node maps
    {"ExtentsHeaderIsNoHeader", [](Image& im) -> Problems {
         // Without the extents tree, the catalog's nodes past its first three
         // extents can neither be found nor followed to find the tree's depth
         // when the header's is wrong (the root's first child made a free
         // node past those extents).
         im.Header(false)[kNodeType] = kLeafNode;
         uint8_t* header = im.Header(true);
         const uint32_t far = LastFreeNode(im);
         EXPECT_GE(far * 512, GetU32(im.Mdb() + kMdbCatalogSize) / 2);  // past the first extents
         Put16(header + kHeaderDepth, 2);
         Put32(Image::DataOf(Image::RecordAt(im.Node(true, GetU32(header + kHeaderRoot)), 0)), far);
         return {"extents B-tree: node 0 is not a header node (type 255)", "cannot be located without the extents tree",
                 "catalog B-tree: header gives depth 2, but the tree has 3 levels",
                 Fmt("catalog B-tree: node %u is in use but free in the node map", far)};
     }},
    {"HeaderCountsAgainstTheTree", [](Image& im) -> Problems {
         uint8_t* h = im.Header(true);
         const std::vector<uint32_t>& leaves = im.Levels(true).back();
         const uint32_t records = GetU32(h + kHeaderLeafRecords);
         Put32(h + kHeaderLeafRecords, records + 1);
         Put32(h + kHeaderFirstLeaf, leaves[1]);
         Put32(h + kHeaderLastLeaf, leaves[0]);
         Put16(h + kHeaderDepth, 4);
         return {Fmt("catalog B-tree: header counts %u leaf records, the leaves hold %u", records + 1, records),
                 Fmt("catalog B-tree: header gives first leaf %u, the tree's first leaf is node %u", leaves[1],
                     leaves[0]),
                 Fmt("catalog B-tree: header gives last leaf %u", leaves[0]),
                 "catalog B-tree: header gives depth 4, but the tree has 3 levels"};
     }},
    {"HeaderTotalNodes", [](Image& im) -> Problems {
         uint8_t* h = im.Header(true);
         const uint32_t total = GetU32(h + kHeaderTotalNodes), free = GetU32(h + kHeaderFreeNodes);
         Put32(h + kHeaderTotalNodes, total - 1);
         return {Fmt("catalog B-tree: header counts %u nodes, the file holds %u", total - 1, total),
                 Fmt("catalog B-tree: header counts %u free nodes, the node map leaves %u free", free, free - 1)};
     }},
    {"NodeMapShorterThanTheFile", [](Image& im) -> Problems {
         // The header's map record cut to 8 bytes: the nodes past 64 are
         // free as far as the map goes.
         uint8_t* h = im.Header(true);
         const uint32_t total = GetU32(h + kHeaderTotalNodes), free = GetU32(h + kHeaderFreeNodes);
         const uint8_t* map = h + GetU16(h + 506);
         unsigned marked = 0;
         for (uint32_t n = 0; n < 64; ++n) marked += (map[n / 8] >> (7 - n % 8)) & 1;
         Put16(h + 504, GetU16(h + 506) + 8);
         return {Fmt("catalog B-tree: the node map covers 64 nodes, the header counts %u", total),
                 "in use but free in the node map",
                 Fmt("catalog B-tree: header counts %u free nodes, the node map leaves %u free", free, total - marked)};
     }},
    {"ExtentsTreeWithoutRoot", [](Image& im) -> Problems {
         // Taken for empty: the catalog's nodes and the forks it continued are lost.
         uint8_t* h = im.Header(false);
         const uint32_t root = GetU32(h + kHeaderRoot);
         Put32(h + kHeaderRoot, 0);
         return {"extents B-tree: header gives depth 1 with root node 0",
                 Fmt("extents B-tree: the tree is empty, but the header counts %u leaf records with first leaf %u and "
                     "last leaf %u", GetU32(h + kHeaderLeafRecords), GetU32(h + kHeaderFirstLeaf),
                     GetU32(h + kHeaderLastLeaf)),
                 Fmt("extents B-tree: node %u is marked in use in the node map but not part of the tree", root),
                 "catalog B-tree: node", "cannot be read (no extent record for fork block)",
                 "catalog file: physical length", "\"Fragmented data\" data fork: physical length 7680, but its",
                 "\"Fragmented rsrc\" resource fork: physical length 6656, but its extents"};
     }},
    {"NodeMapAgainstTheNodesInUse", [](Image& im) -> Problems {
         // The root's bit cleared; the last two nodes' bits set though they
         // are free, and one past the end of the file.
         uint8_t* h = im.Header(true);
         const uint32_t root = GetU32(h + kHeaderRoot), last = GetU32(h + kHeaderTotalNodes) - 1;
         const uint32_t free = GetU32(h + kHeaderFreeNodes);
         uint8_t* map = h + GetU16(h + 510 - 4);
         EXPECT_EQ(LastFreeNode(im), last);
         for (uint32_t n : {root, last - 1, last, 1000u}) map[n / 8] ^= static_cast<uint8_t>(0x80u >> (n % 8));
         return {Fmt("catalog B-tree: node %u is in use but free in the node map", root),
                 Fmt("catalog B-tree: nodes %u-%u are marked in use in the node map but not part of the tree", last - 1,
                     last),
                 Fmt("catalog B-tree: the node map marks 1 node(s) beyond the %u nodes of the file", last + 1),
                 Fmt("catalog B-tree: header counts %u free nodes, the node map leaves %u free", free, free - 1)};
     }},

    {"MapNode", [](Image& im) -> Problems {
         AddMapNode(im);
         return {};
     }},
    {"MapNodeChainComesBack", [](Image& im) -> Problems {
         const uint32_t n = AddMapNode(im);
         Put32(im.Node(true, n) + kNodeForward, n);
         return {Fmt("catalog B-tree: the map node chain comes back to node %u", n)};
     }},
    {"MapNodeChainLeavesTheFile", [](Image& im) -> Problems {
         Put32(im.Node(true, AddMapNode(im)) + kNodeForward, 9000);
         return {"catalog B-tree: the map node chain leads to node 9000, beyond the end of the file"};
     }},
    {"MapNodeOfLeafType", [](Image& im) -> Problems {
         const uint32_t n = AddMapNode(im);
         im.Node(true, n)[kNodeType] = kLeafNode;
         return {Fmt("catalog B-tree: node %u in the map node chain has type 255, not 2 (map node)", n)};
     }},
    {"MapNodeWithoutRecord", [](Image& im) -> Problems {
         const uint32_t n = AddMapNode(im);
         Put16(im.Node(true, n) + kNodeRecordCount, 0);
         return {Fmt("catalog B-tree: map node %u does not hold one map record from offset 14", n)};
     }},

    // B-tree nodes
    {"RecordOffsetsNotRising", [](Image& im) -> Problems {
         uint8_t* node = im.Node(true, SomeLeaf(im));
         Put16(node + 508, GetU16(node + 508) + 1);
         return {Fmt("catalog B-tree: node %u: record 1 offset %u is odd or not below the next offset", SomeLeaf(im),
                     GetU16(node + 508))};
     }},
    {"FreeSpaceOffset", [](Image& im) -> Problems {
         uint8_t* node = im.Node(true, SomeLeaf(im));
         Put16(node + 510 - 2 * Image::Count(node), 511);
         return {Fmt("catalog B-tree: node %u: free space offset 511 is odd or overlaps the offset", SomeLeaf(im))};
     }},
    // The catalog's last extents lie in the extents tree's leaf: damage
    // there hides the catalog nodes they map.
    {"ExtentsRecordTooShort", [](Image& im) -> Problems {
         uint8_t* node = im.Node(false, ExtentsLeaf(im));
         const unsigned records = Image::Count(node);
         Put16(node + 510 - 2 * records, GetU16(node + 510 - 2 * records) - 2);
         return {Fmt("extents B-tree: node %u: record %u: no room for the three extents", ExtentsLeaf(im), records - 1),
                 "cannot be read (B-tree node layout)"};
     }},
    {"KeyOutOfOrderInANode", [](Image& im) -> Problems {
         // A name that sorts before its neighbour's.
         const uint32_t leaf = CrowdedLeaf(im);
         im.At(true, leaf, 1).key[kCatKeyName + 1] = '!';
         return {Fmt("catalog B-tree: node %u record 1 has key (parent", leaf),
                 "which does not sort after the key before it"};
     }},
    {"KeyRepeatedInANode", [](Image& im) -> Problems {
         // The third name made the second's (all are as long).
         const uint32_t leaf = CrowdedLeaf(im);
         const uint8_t* second = im.At(true, leaf, 1).key + kCatKeyName;
         std::copy_n(second, 1 + second[0], im.At(true, leaf, 2).key + kCatKeyName);
         return {Fmt("catalog B-tree: node %u record 2 has key (parent", leaf),
                 "which does not sort after the key before it"};
     }},
    {"KeyOutOfOrderAcrossNodes", [](Image& im) -> Problems {
         // The last record of a leaf sorting after the next leaf's first.
         const uint32_t leaf = CrowdedLeaf(im), next = GetU32(im.Node(true, leaf) + kNodeForward);
         const Record r = im.At(true, leaf, Image::Count(im.Node(true, leaf)) - 1);
         EXPECT_EQ(GetU32(r.key + kCatKeyParentId), GetU32(im.At(true, next, 0).key + kCatKeyParentId));
         r.key[kCatKeyName + 1] = 0xFF;
         return {Fmt("catalog B-tree: node %u begins with key", next),
                 Fmt("which does not sort after the last key (parent %u, \"", GetU32(r.key + kCatKeyParentId))};
     }},
    {"ExtentsKeysOutOfOrder", [](Image& im) -> Problems {
         // Two records of one fork swapped in order.
         Put16(im.Overflow(im.IdOf("Fragmented data"), kDataFork).at(1).key + kExtKeyStartBlock, 1);
         return {"extents B-tree: node", "which does not sort after the key before it",
                 "starts at fork block 1, but the extents before it end at", "starts at fork block"};
     }},
    {"IndexKeyNotItsChildsFirstKey", [](Image& im) -> Problems {
         // One low character longer: still in order among its neighbours.
         const Record r = im.At(true, SomeIndex(im), 2);
         const unsigned length = r.key[kCatKeyName];
         EXPECT_LE(length, 30u);
         r.key[kCatKeyName + 1 + length] = 0x01;
         r.key[kCatKeyName] = static_cast<uint8_t>(length + 1);
         return {Fmt("catalog B-tree: index node %u record 2 has key", SomeIndex(im)),
                 Fmt("but its child node %u begins with", GetU32(r.data))};
     }},
    {"IndexChildOutsideTheFile", [](Image& im) -> Problems {
         Put32(im.At(true, SomeIndex(im), 2).data, 5000);
         return {Fmt("catalog B-tree: index node %u record 2 points to node 5000, outside the file", SomeIndex(im))};
     }},
    {"IndexChildTwice", [](Image& im) -> Problems {
         const uint32_t child = GetU32(im.At(true, SomeIndex(im), 1).data);
         Put32(im.At(true, SomeIndex(im), 2).data, child);
         return {Fmt("catalog B-tree: index node %u record 2 points to node %u, which is already in use", SomeIndex(im),
                     child)};
     }},
    {"SiblingLinksAtEveryLevel", [](Image& im) -> Problems {
         const auto& levels = im.Levels(true);
         const std::vector<uint32_t>& leaves = levels.back();
         const std::vector<uint32_t>& index = levels[1];
         Put32(im.Node(true, leaves[4]) + kNodeForward, leaves[6]);
         Put32(im.Node(true, leaves[0]) + kNodeBackward, leaves[9]);
         Put32(im.Node(true, index[1]) + kNodeBackward, 0);
         Put32(im.Node(true, index.back()) + kNodeForward, leaves[2]);
         Put32(im.Node(true, levels[0][0]) + kNodeForward, index[0]);
         const char* link = "catalog B-tree: node %u (height %u) has %s link %u, expected %u";
         return {Fmt(link, leaves[4], 1, "forward", leaves[6], leaves[5]),
                 Fmt(link, leaves[0], 1, "backward", leaves[9], 0),
                 Fmt(link, index[1], 2, "backward", 0, index[0]), Fmt(link, index.back(), 2, "forward", leaves[2], 0),
                 Fmt(link, levels[0][0], 3, "forward", index[0], 0)};
     }},

    // Catalog records
    {"RecordOfUnknownType", [](Image& im) -> Problems {
         // No longer a file: its folder, the MDB and its blocks miss it.
         const Record file = im.Item(ManyName(1));
         file.data[0] = 7;
         return {Fmt("catalog: record (parent %u, \"%s\") in node %u record %u has unknown type 7", im.IdOf("Many"),
                     ManyName(1).c_str(), file.node, file.index),
                 "catalog: folder \"Many\"", "MDB: counts", "marked in use but belong"};
     }},
    {"RecordOfWrongLength", [](Image& im) -> Problems {
         // A leaf's last record two bytes longer (the free space begins later).
         for (uint32_t n : im.Levels(true).back()) {
             uint8_t* node = im.Node(true, n);
             const unsigned count = Image::Count(node);
             const Record last = im.At(true, n, count - 1);
             if (last.data[0] != kFileRecord || GetU16(node + 510 - 2 * count) + 2 * (count + 1) + 2 > 512) continue;
             Put16(node + 510 - 2 * count, GetU16(node + 510 - 2 * count) + 2);
             return {"catalog: file record (parent", Fmt("in node %u record %u is 104 bytes, not 102", n, count - 1)};
         }
         ADD_FAILURE() << "no leaf ends with a file record and has room";
         return {};
     }},
    {"ThreadKeyWithAName", [](Image& im) -> Problems {
         // Not a leaf's first key, which its index record repeats.
         for (const char* folder : {"Empty", "Deep", "Deeper", "K", "F1", "Holes", "Zed", "Docs", "Many"}) {
             const uint32_t id = im.IdOf(folder);
             const Record thread = im.Thread(id);
             if (thread.index == 0) continue;
             thread.key[0] = std::max<uint8_t>(thread.key[0], 7);
             thread.key[kCatKeyName] = 1;
             thread.key[kCatKeyName + 1] = 0x01;
             return {Fmt("catalog: folder thread record for ID %u in node %u record %u has the name \"\\x01\" in its "
                         "key", id, thread.node, thread.index)};
         }
         ADD_FAILURE() << "every folder thread begins a leaf";
         return {};
     }},
    {"ReservedId", [](Image& im) -> Problems {
         Put32(im.Item("Forked 0").data + kFileRecFileId, 5);
         return {"catalog: file \"Forked 0\" (ID 5) in node", "has a reserved ID"};
     }},
    {"SharedId", [](Image& im) -> Problems {
         const uint32_t shared = im.IdOf("Forked 2");
         Put32(im.Item("Forked 1").data + kFileRecFileId, shared);
         return {Fmt("catalog: file \"Forked 1\" (ID %u) and file \"Forked 2\" (ID %u) share one ID", shared, shared)};
     }},
    {"FolderWithAFileThread", [](Image& im) -> Problems {
         im.Thread(im.IdOf("Empty")).data[0] = kFileThreadRecord;
         return {Fmt("catalog: folder \"Empty\" (ID %u) has a file thread record", im.IdOf("Empty"))};
     }},
    {"FolderThreadsThatDisagree", [](Image& im) -> Problems {
         const uint32_t docs = im.IdOf("Docs"), deep = im.IdOf("Deep"), deeper = im.IdOf("Deeper");
         im.Thread(deep).data[kThreadName + 1] = 'X';
         Put32(im.Thread(deeper).data + kThreadParentId, 2);
         return {Fmt("catalog: the thread record of folder \"Deep\" (ID %u) gives parent %u and name \"Xeep\", its "
                     "record parent %u", deep, docs, docs),
                 Fmt("catalog: the thread record of folder \"Deeper\" (ID %u) gives parent 2 and name \"Deeper\", its "
                     "record parent %u", deeper, deep)};
     }},
    {"FileThreadThatAgrees", [](Image& im) -> Problems {
         // hfsutils writes none: one goes into a leaf with room.
         for (const char* name : {"Readme", "In F1", "Forked 0", "Forked 3", "Fragmented data", "After Zed"}) {
             const Record r = im.Item(name);
             if (InsertFileThread(im, Image::IdOf(r), GetU32(r.key + kCatKeyParentId), name)) return {};
         }
         ADD_FAILURE() << "no leaf with room for a file thread";
         return {};
     }},
    {"FileThreadWithoutFile", [](Image& im) -> Problems {
         // A thread for a file that is gone; the next catalog ID must be
         // above a thread's ID too.
         const uint32_t unused = im.UnusedId();
         EXPECT_TRUE(InsertFileThread(im, unused, 2, "Gone"));
         Put32(im.Mdb() + kMdbNextCatalogId, unused);
         return {"catalog: file thread record in node", Fmt("is for ID %u, which has no file record", unused),
                 Fmt("MDB: next catalog ID %u is not above ID %u of a thread record", unused, unused),
                 Fmt("MDB: next catalog ID %u is not above file", unused)};
     }},
    {"ItemInAFile", [](Image& im) -> Problems {
         // The catalog ends with the records of the last folder made, Zed.
         const Record last = im.LeafRecords(true).back();
         const uint32_t after = im.IdOf("After Zed");
         EXPECT_EQ(NameOf(last), "Last file");
         Put32(last.key + kCatKeyParentId, after);
         return {Fmt("catalog: file \"Last file\" (ID %u) lies in file \"After Zed\" (ID %u), which is a file",
                     Image::IdOf(last), after),
                 Fmt("catalog: folder \"Zed\" (ID %u) has valence 1 but holds 0 item(s)", im.IdOf("Zed"))};
     }},
    {"RootInTheWrongParent", [](Image& im) -> Problems {
         const Record root = im.Item("Checked");
         Put32(root.key + kCatKeyParentId, 0);
         return {"catalog: the root folder lies in parent 0, not 1",
                 "catalog: the thread record of folder \"Checked\" (ID 2) gives parent 1",
                 Fmt("has key (parent 1, \"Checked\"), but its child node %u begins with (parent 0, \"Checked\")",
                     root.node)};
     }},
    {"RootFolderMissing", [](Image& im) -> Problems {
         // The root's record takes another ID: nothing is folder 2 any more.
         const uint32_t unused = im.UnusedId();
         Put32(im.Item("Checked").data + kFolderId, unused);
         return {"catalog: the root folder (ID 2) is missing",
                 Fmt("catalog: folder \"Checked\" (ID %u) lies in parent 1, beside the root folder", unused),
                 Fmt("catalog: folder \"Checked\" (ID %u) has no thread record", unused),
                 "is for ID 2, which has no folder record", "lies in folder 2, which does not exist", "has valence",
                 "MDB: counts 9 folders on the volume, the catalog has 10"};
     }},
    {"FolderLoop", [](Image& im) -> Problems {
         // F1 takes the ID of its own parent K (which takes a new one).
         const uint32_t k = im.IdOf("K"), unused = im.UnusedId();
         Put32(im.Item("K").data + kFolderId, unused);
         Put32(im.Item("F1").data + kFolderId, k);
         return {Fmt("catalog: folder \"F1\" (ID %u) is not below the root: its parent folders form a loop", k),
                 Fmt("catalog: folder \"K\" (ID %u) has no thread record", unused),
                 Fmt("catalog: the thread record of folder \"F1\" (ID %u) gives parent 2 and name \"K\"", k),
                 "which has no folder record", "catalog: file \"In F1\"",
                 Fmt("catalog: folder \"K\" (ID %u) has valence 1 but holds 0 item(s)", unused)};
     }},

    // Extents and allocation
    {"ExtentsRecordOfNoFile", [](Image& im) -> Problems {
         const uint32_t rsrc = im.IdOf("Fragmented rsrc");
         const Record last = im.LeafRecords(false).back();
         EXPECT_EQ(GetU32(last.key + kExtKeyFileId), rsrc);
         Put32(last.key + kExtKeyFileId, 0x00FFFFFF);
         return {Fmt("extents record in node %u record %u (file 16777215, fork type 255): the catalog has no such file",
                     last.node, last.index),
                 Fmt("file %u \"Fragmented rsrc\" resource fork: physical length 6656", rsrc)};
     }},
    {"ExtentsRecordOfNoForkType", [](Image& im) -> Problems {
         const uint32_t data = im.IdOf("Fragmented data");
         im.Overflow(data, kDataFork).back().key[kExtKeyForkType] = 0x7F;   // still in key order
         return {Fmt("(file %u, fork type 127): fork type is neither 0 (data) nor 255 (resource)", data),
                 "\"Fragmented data\" data fork: physical length 7680"};
     }},
    {"ExtentsRecordOfTheExtentsFile", [](Image& im) -> Problems {
         // Its extents live in the MDB alone: the catalog nodes the record
         // mapped are lost.
         const Record catalog = im.LeafRecords(false).front();
         EXPECT_EQ(GetU32(catalog.key + kExtKeyFileId), kCatalogFileId);
         Put32(catalog.key + kExtKeyFileId, kExtentsFileId);
         return {"(file 3, fork type 0): the extents file keeps all its extents in the MDB",
                 "catalog file: physical length", "cannot be read"};
     }},
    {"ExtentsRecordEmpty", [](Image& im) -> Problems {
         // It holds nothing, and its blocks belong to no one.
         const Record last = im.Overflow(im.IdOf("Fragmented rsrc"), kResourceFork).back();
         std::fill_n(last.data, 12, 0);
         return {Fmt("\"Fragmented rsrc\" resource fork: extents record in node %u record %u holds no blocks",
                     last.node, last.index),
                 "\"Fragmented rsrc\" resource fork: physical length 6656, but its extents hold",
                 "marked in use but belong"};
     }},
    {"FirstExtentRecordNotFull", [](Image& im) -> Problems {
         // The third extent dropped from a fork whose extents go on in the tree.
         Put16(im.Item("Fragmented data").data + kFileRecDataExtents + 10, 0);
         return {"\"Fragmented data\" data fork: has extents records although its first extent record is not full",
                 "starts at fork block 3, but the extents before it end at 2",
                 "\"Fragmented data\" data fork: physical length 7680, but its extents hold 14",
                 "marked in use but belong"};
     }},
    {"EmptyExtentBeforeUsedOnes", [](Image& im) -> Problems {
         uint8_t* extents = im.Item("Fragmented data").data + kFileRecDataExtents;
         Put16(extents + 2, 0);
         return {Fmt("\"Fragmented data\" data fork: its first extent record has an empty extent before extent (%u,1)",
                     GetU16(extents + 4)),
                 "starts at fork block 3, but the extents before it end at 2", "physical length 7680",
                 "marked in use but belong"};
     }},
    {"ExtentPastTheVolume", [](Image& im) -> Problems {
         uint8_t* rsrc = im.Item("Forked 1").data + kFileRecRsrcExtents;
         Put16(rsrc, 65000);
         return {Fmt("\"Forked 1\" resource fork: extent (65000,%u) goes past the last allocation block (2873)",
                     GetU16(rsrc + 2)),
                 "marked in use but belong"};
     }},
    {"BlockTwiceInAFork", [](Image& im) -> Problems {
         uint8_t* data = im.Item("Fragmented data").data + kFileRecDataExtents;
         Put16(data + 4, GetU16(data));
         return {Fmt("\"Fragmented data\" data fork: allocation block %u appears twice in its extents", GetU16(data)),
                 "marked in use but belong"};
     }},
    {"BlockInTwoForks", [](Image& im) -> Problems {
         const unsigned theirs = GetU16(im.Item("Fragmented rsrc").data + kFileRecRsrcExtents);
         Put16(im.Item("Fragmented data").data + kFileRecDataExtents, theirs);
         return {Fmt("allocation block %u belongs to both file %u \"Fragmented data\" data fork and file %u "
                     "\"Fragmented rsrc\" resource fork", theirs, im.IdOf("Fragmented data"),
                     im.IdOf("Fragmented rsrc")),
                 "marked in use but belong"};
     }},
    {"ForkLengths", [](Image& im) -> Problems {
         uint8_t* record = im.Item("Forked 1").data;
         const uint32_t physical = GetU32(record + kFileRecRsrcPhysical), data = GetU32(record + kFileRecDataPhysical);
         Put32(record + kFileRecRsrcPhysical, physical + 1);
         Put32(record + kFileRecDataLogical, data + 1);
         return {Fmt("\"Forked 1\" resource fork: physical length %u is not a whole number of allocation blocks (512 "
                     "bytes)", physical + 1),
                 Fmt("\"Forked 1\" resource fork: physical length %u, but its extents hold %u allocation blocks (%u "
                     "bytes)", physical + 1, physical / 512, physical),
                 Fmt("\"Forked 1\" data fork: logical length %u exceeds physical length", data + 1)};
     }},
    {"BitmapFreesABlockOfAFork", [](Image& im) -> Problems {
         const uint32_t free = GetU16(im.Mdb() + kMdbFreeBlocks);
         const unsigned owned = GetU16(im.Item("Forked 1").data + kFileRecRsrcExtents);
         EXPECT_TRUE(im.BitmapBit(owned));
         im.FlipBitmapBit(owned);
         return {Fmt("bitmap: allocation block %u of file %u \"Forked 1\" resource fork is free", owned,
                     im.IdOf("Forked 1")),
                 Fmt("MDB: counts %u free allocation blocks, the bitmap has %u", free, free + 1)};
     }},
    {"BitmapMarksBlocksOfNoFork", [](Image& im) -> Problems {
         const uint32_t free = GetU16(im.Mdb() + kMdbFreeBlocks), unowned = im.FreeBlock();
         EXPECT_FALSE(im.BitmapBit(unowned - 1));
         im.FlipBitmapBit(unowned);
         im.FlipBitmapBit(unowned - 1);
         return {Fmt("bitmap: allocation blocks %u-%u are marked in use but belong to no fork", unowned - 1, unowned),
                 Fmt("MDB: counts %u free allocation blocks, the bitmap has %u", free, free - 2)};
     }},
};

// One field set to a bad value a row, and what the check then says ('#'
// stands for the number of the damaged node).
enum class At {
    Mdb, CachedMdb, Alternate,          // the MDB on the medium, in the cache of the open volume; its alternate
    CatalogHeader, ExtentsHeader,       // node 0 of each B-tree file
    Leaf, LeafRecord1, LeafRecord2,     // a catalog leaf; the keys of its second and third records
    Index, IndexRecord1,                // a catalog index node; the key of its second record
    ExtentsLeaf, ExtentsLeafRecord0,    // the extents tree's first leaf; the key of its first record
};

struct FieldDamage {
    const char* name;
    At at;
    unsigned offset, width;
    uint32_t value;
    Problems says;
};
void PrintTo(const FieldDamage& d, std::ostream* out) { *out << d.name; }

const FieldDamage kFieldDamage[] = {
    {"MdbAttributes", At::Mdb, kMdbAttributes, 2, 0x0800,
     {"MDB: the volume was not unmounted cleanly (attributes 0x0800)",
      "MDB: the volume is marked inconsistent (attributes 0x0800)"}},
    {"MdbFreeCount", At::Mdb, kMdbFreeBlocks, 2, 3000,
     {"MDB: free block count 3000 exceeds the 2874 allocation blocks",
      "MDB: counts 3000 free allocation blocks, the bitmap has"}},
    {"MdbVolumeName", At::Mdb, kMdbVolumeName, 1, 28,
     {"MDB: volume name length 28 is not 1 to 27", "catalog: the root folder is named \"Checked\", the volume"}},
    {"MdbNextIdBelow16", At::Mdb, kMdbNextCatalogId, 4, 9,
     {"MDB: next catalog ID 9 is below 16", "MDB: next catalog ID 9 is not above"}},
    // The open refuses these; a faulty write could leave them in the cache.
    {"MdbSignature", At::CachedMdb, kMdbSignature, 2, 0x4C4B, {"MDB: signature is 0x4C4B, not 0x4244"}},
    {"MdbBlockSize", At::CachedMdb, kMdbAllocBlockSize, 4, 1000,
     {"MDB: allocation block size 1000 is not a multiple of 512",
      "alternate MDB: allocation block size is 512, the MDB has 1000"}},
    {"MdbNoBlocks", At::CachedMdb, kMdbAllocBlocks, 2, 0,
     {"MDB: the volume has no allocation blocks", "exceeds the 0 allocation blocks",
      "alternate MDB: allocation block count is 2874, the MDB has 0",
      "B-tree: node 0 cannot be read (extent beyond the volume)"}},  // the fork mapping refuses every extent
    // The bitmap moved onto the first allocation block, the extents file's header node.
    {"MdbBitmapOverTheBlocks", At::CachedMdb, kMdbBitmapStart, 2, 4,
     {"MDB: the bitmap (1 block(s) from volume block 4) does not lie between the MDB and the first allocation block",
      "bitmap: allocation block", "MDB: counts", "alternate MDB: first bitmap block is 3, the MDB has 4"}},
    {"AlternateMissing", At::Alternate, kMdbSignature, 2, 0, {"alternate MDB: volume block 2878 does not hold an MDB"}},
    {"AlternateBitmap", At::Alternate, kMdbBitmapStart, 2, 5, {"alternate MDB: first bitmap block is 5, the MDB has"}},
    {"AlternateBlocks", At::Alternate, kMdbAllocBlocks, 2, 2873,
     {"alternate MDB: allocation block count is 2873, the MDB has 2874"}},
    {"AlternateBlockSize", At::Alternate, kMdbAllocBlockSize, 4, 1024,
     {"alternate MDB: allocation block size is 1024, the MDB has 512"}},
    {"AlternateFirstBlock", At::Alternate, kMdbFirstAllocBlock, 2, 6,
     {"alternate MDB: first allocation block is 6, the MDB has 4"}},
    {"AlternateExtentsSize", At::Alternate, kMdbExtentsSize, 4, 512, {"alternate MDB: extents file size is 512, the"}},
    {"AlternateExtentsExtents", At::Alternate, kMdbExtentsExtents + 2, 2, 1,
     {"alternate MDB: extents file extents is (0,1) (0,0) (0,0), the MDB has (0,22) (0,0) (0,0)"}},
    {"AlternateCatalogSize", At::Alternate, kMdbCatalogSize, 4, 1024, {"alternate MDB: catalog file size is 1024"}},
    {"AlternateCatalogExtents", At::Alternate, kMdbCatalogExtents + 6, 2, 9, {"alternate MDB: catalog file extents"}},
    // Without its catalog the volume's owners are unknown: nothing more is said.
    {"CatalogHeaderIsNoHeader", At::CatalogHeader, kNodeType, 1, kLeafNode, {"catalog B-tree: node 0 is not a header"}},
    {"HeaderHeight", At::CatalogHeader, kNodeHeight, 1, 1, {"catalog B-tree: header node height is 1, not 0"}},
    {"HeaderBackwardLink", At::CatalogHeader, kNodeBackward, 4, 5, {"catalog B-tree: header node has backward link 5"}},
    {"HeaderMaxKey", At::CatalogHeader, kHeaderMaxKeyLength, 2, 31, {"catalog B-tree: maximum key length is 31, not"}},
    {"HeaderRecords", At::ExtentsHeader, kNodeRecordCount, 2, 2,
     {"extents B-tree: header node records do not hold together (2 records)"}},
    {"HeaderNodeSize", At::ExtentsHeader, kHeaderNodeSize, 2, 1024, {"extents B-tree: node size is 1024, not 512"}},
    {"HeaderDepthAboveEight", At::CatalogHeader, kHeaderDepth, 2, 9,
     {"catalog B-tree: depth 9 is more than 8", "catalog B-tree: header gives depth 9, but the tree has 3 levels"}},
    {"HeaderFreeNodesAboveTotal", At::CatalogHeader, kHeaderFreeNodes, 4, 0xFFFFFFFF,
     {"catalog B-tree: header counts 4294967295 free nodes of"}},
    {"HeaderRootBeyondTheFile", At::CatalogHeader, kHeaderRoot, 4, 0xFFFFFF,
     {"catalog B-tree: root node 16777215 lies beyond the end of the file"}},
    {"LeafHeight", At::Leaf, kNodeHeight, 1, 2, {"catalog B-tree: node # has height 2 where height 1 belongs"}},
    // Its children are lost to the walk; the leaves around them are not
    // blamed for linking to them.
    {"IndexNodeOfLeafType", At::Index, kNodeType, 1, kLeafNode,
     {"catalog B-tree: node # has type 255 where an index node of height 2 belongs"}},
    {"FirstRecordOffset", At::Leaf, 510, 2, 16, {"catalog B-tree: node #: first record at offset 16, not 14"}},
    {"RecordCount", At::Leaf, kNodeRecordCount, 2, 300, {"catalog B-tree: node #: record count 300 does not fit the"}},
    {"CatalogKeyLength", At::LeafRecord1, 0, 1, 5, {"catalog B-tree: node #: record 1: catalog key length 5 is not 6"}},
    {"KeyLongerThanTheRecord", At::LeafRecord2, 0, 1, 200, {"catalog B-tree: node #: record 2: key length 200 does"}},
    {"NameLongerThanTheKey", At::LeafRecord1, kCatKeyName, 1, 32, {"node #: record 1: name length 32 does not fit"}},
    {"IndexRecordWithoutChild", At::IndexRecord1, 0, 1, 39, {"node #: record 1: no room for the child node number"}},
    // The catalog's last extents lie in the extents tree's leaf: damage
    // there hides the catalog nodes they map.
    {"ExtentsKeyLength", At::ExtentsLeafRecord0, 0, 1, 6,
     {"extents B-tree: node #: record 0: extents key length 6, not 7", "cannot be read (B-tree node layout)"}},
    // Read but empty: every fork continued there has lost blocks.
    {"ExtentsLeafEmpty", At::ExtentsLeaf, kNodeRecordCount, 2, 0,
     {"extents B-tree: node # holds no records", "leaf records, the leaves hold 0",
      "cannot be read (no extent record for fork block)", "catalog file: physical length",
      "\"Fragmented data\" data fork: physical length 7680, but its extents hold 3 allocation blocks",
      "\"Fragmented rsrc\" resource fork: physical length 6656, but its extents hold 3"}},
};

class VolumeDamageTest : public VolumeCheckTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(VolumeDamageTest, IsReported)
{
    Image image = Clean().image;
    const Problems expected = GetParam().apply(image);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), expected));
}

class FieldDamageTest : public VolumeCheckTest, public ::testing::WithParamInterface<FieldDamage> {};

TEST_P(FieldDamageTest, IsReported)
{
    const FieldDamage& d = GetParam();
    Image image = Clean().image;
    uint32_t node = 0;
    const auto record = [&](bool catalog, uint32_t n, unsigned i) {
        node = n;
        return size_t(Image::RecordAt(image.Node(catalog, n), i) - image.bytes.data());
    };
    size_t at = 0;
    switch (d.at) {
    case At::Mdb: case At::CachedMdb: at = image.layout.mdb; break;
    case At::Alternate: at = image.layout.alternate; break;
    case At::CatalogHeader: at = image.Tree(true).nodes[0]; break;
    case At::ExtentsHeader: at = image.Tree(false).nodes[0]; break;
    case At::Leaf: at = image.Tree(true).nodes[node = SomeLeaf(image)]; break;
    case At::LeafRecord1: at = record(true, SomeLeaf(image), 1); break;
    case At::LeafRecord2: at = record(true, SomeLeaf(image), 2); break;
    case At::Index: at = image.Tree(true).nodes[node = SomeIndex(image)]; break;
    case At::IndexRecord1: at = record(true, SomeIndex(image), 1); break;
    case At::ExtentsLeaf: at = image.Tree(false).nodes[node = ExtentsLeaf(image)]; break;
    case At::ExtentsLeafRecord0: at = record(false, ExtentsLeaf(image), 0); break;
    }
    Problems says = d.says;
    for (std::string& s : says)
        if (const size_t hash = s.find('#'); hash != std::string::npos) s.replace(hash, 1, std::to_string(node));
    Problems problems;
    auto put = [&](uint8_t* p) {
        for (unsigned i = 0; i < d.width; ++i) p[i] = static_cast<uint8_t>(d.value >> (8 * (d.width - 1 - i)));
    };
    if (d.at == At::CachedMdb) {
        ASSERT_TRUE(OpenImageAsMacDrive(Clean().path.c_str(), false) && OpenListedVolume(0));
        put(MacVolume.mdb->data + d.offset);
        CheckVolume(&problems);
        CloseMacDrive();
    } else {
        put(&image.bytes[at + d.offset]);
        problems = CheckBytes(image.bytes);
    }
    EXPECT_TRUE(Reports(problems, says));
}

template <typename Row>
std::string RowName(const ::testing::TestParamInfo<Row>& info)
{
    return info.param.name;
}
INSTANTIATE_TEST_SUITE_P(Kinds, VolumeDamageTest, ::testing::ValuesIn(kVolumeDamage), RowName<Damage>);
INSTANTIATE_TEST_SUITE_P(Fields, FieldDamageTest, ::testing::ValuesIn(kFieldDamage), RowName<FieldDamage>);

// ---------------------------------------------------------------------------
// Damage that cannot be put in the image

TEST_F(VolumeCheckTest, CheckLeavesTheStatusTheCacheAndTheImageAlone)
{
    Problems problems;
    EXPECT_EQ(CheckVolume(&problems), 1);
    EXPECT_TRUE(Reports(problems, {"no volume is open"}));
    ASSERT_TRUE(OpenImageAsMacDrive(Clean().path.c_str(), false) && OpenListedVolume(0));
    StatusCode = kStatusCancelled;
    problems.clear();
    EXPECT_EQ(CheckVolume(&problems), 0) << Listing(problems);
    EXPECT_EQ(StatusCode, kStatusCancelled);
    for (BlockBuffer* b = CacheHead(); b; b = b->next) EXPECT_EQ(b->flags & kBlockDirty, 0);
    StatusCode = 0;
    CloseMacDrive();
    EXPECT_EQ(ReadFileBytes(Clean().path), Clean().image.bytes);
}

TEST_F(VolumeCheckTest, NodeOrBitmapThatCannotBeRead)
{
    auto open = []() -> ImageSlot* {
        if (!OpenImageAsMacDrive(Clean().path.c_str(), false) || !OpenListedVolume(0)) return nullptr;
        for (ImageSlot& s : ImageTable)
            if (s.used) return &s;
        return nullptr;
    };
    ImageSlot* slot = open();
    ASSERT_NE(slot, nullptr);
    const uint32_t before = slot->faults.reads;
    Problems problems;
    EXPECT_EQ(CheckVolume(&problems), 0);
    const uint32_t reads = slot->faults.reads - before;
    CloseMacDrive();
    // The check's reads, in order: the alternate MDB (the open read it past
    // the cache), then the extents tree's root ... and the bitmap last.
    for (const uint32_t failing : {2u, reads}) {
        ASSERT_NE(slot = open(), nullptr);
        slot->faults.failReadAt = slot->faults.reads + failing;
        problems.clear();
        CheckVolume(&problems);
        EXPECT_TRUE(Reports(problems, {failing == 2 ? Fmt("extents B-tree: node %u cannot be read (Error",
                                                          GetU32(MacVolume.extentsHeader->data + kHeaderRoot))
                                                    : "bitmap: volume block 3 cannot be read"}));
        CloseMacDrive();
    }
}

TEST_F(VolumeCheckTest, AllocationAreaOverTheAlternateMdbOfAPartition)
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

// Random damage: whatever the metadata holds, the check ends, and says
// something whenever the bytes it reads changed in a way that matters.
TEST_F(VolumeCheckTest, RandomDamageNeverBreaksTheCheck)
{
    const Image& clean = Clean().image;
    std::vector<size_t> metadata = clean.layout.catalog.nodes;   // every block the check reads
    metadata.insert(metadata.end(), clean.layout.extents.nodes.begin(), clean.layout.extents.nodes.end());
    metadata.insert(metadata.end(), {clean.layout.mdb, clean.layout.mdb + 512, clean.layout.alternate});
    // More rounds on demand: QUAYLINK_CHECK_FUZZ_ROUNDS=3000.
    const char* wanted = std::getenv("QUAYLINK_CHECK_FUZZ_ROUNDS");
    const unsigned rounds = wanted ? static_cast<unsigned>(std::strtoul(wanted, nullptr, 10)) : 60;
    uint32_t state = 12345;
    auto next = [&]() { state = state * 1103515245u + 12345u; return state >> 8; };
    unsigned reported = 0;
    for (unsigned round = 0; round < rounds; ++round) {
        Image image = clean;
        for (unsigned e = 0, edits = 1 + next() % 8; e < edits; ++e)
            image.bytes[metadata[next() % metadata.size()] + next() % 512] = static_cast<uint8_t>(next());
        if (!CheckBytes(image.bytes).empty()) ++reported;
    }
    EXPECT_GT(reported, rounds / 4);
}

// ---------------------------------------------------------------------------
// The corpus

// Every HFS volume of the shared corpus (the images its listings in
// expected/ describe). Two are not consistent, and the check must say
// exactly why:
// - complex.img.gz: the thread record of folder 119 spells the folder's
//   name with 0x0F where the folder's own key has "f" ("Drive Setup f");
//   the tool that built that image wrote the two differently.
// - hello-world-untitled-volume.img was imaged while Linux had it mounted
//   (attributes 0x0800: "inconsistent" set, "unmounted" clear). The copy in
//   the corpus has been mounted by libhfs since (its hash differs from the
//   manifest's): libhfs rebuilt what an unclean unmount leaves stale and set
//   "unmounted" on the way out, but kept the inconsistent bit: 0x0900.
class VolumeCheckCorpusTest : public EngineStateTest {};

TEST_F(VolumeCheckCorpusTest, CorpusVolumesAreCleanButTwo)
{
    const fs::path corpus = QUAYLINK_CORPUS_DIR;
    if (!fs::exists(corpus / "expected")) GTEST_SKIP() << "corpus not present";
    const std::map<std::string, Problems> expected = {
        {"complex.img.gz@1",
         {"catalog: the thread record of folder \"Drive Setup f\" (ID 119) gives parent 50 and name "
          "\"Drive Setup \\x0F\", its record parent 50"}},
        {"hello-world-untitled-volume.img@1", {"MDB: the volume is marked inconsistent (attributes 0x0900)"}},
    };
    std::map<std::string, fs::path> images;  // by name
    for (const auto& entry : fs::recursive_directory_iterator(corpus))
        if (entry.path().parent_path().filename() != "expected")
            images[entry.path().filename().string()] = entry.path();
    TempDir dir;
    CommandOptions unpack;  // gzip -dcf copies a file that is not compressed as it is
    unpack.outFile = dir.PathOf("image");
    unsigned checked = 0;
    for (const auto& entry : fs::directory_iterator(corpus / "expected")) {
        const std::string listing = entry.path().filename().string();
        const size_t suffix = listing.rfind(".hls.txt");
        if (suffix == std::string::npos) continue;
        const std::string name = listing.substr(0, suffix);
        ASSERT_EQ(images.count(name), 1u) << name;
        ASSERT_EQ(RunCommand({"gzip", "-dcf", images[name].string()}, unpack).exitCode, 0) << name;
        ResetEngineState();
        ASSERT_TRUE(OpenImageAsMacDrive(unpack.outFile.c_str(), false)) << name << " status " << StatusCode;
        const unsigned volumes = MacPaneState.count;
        CloseMacDrive();
        ASSERT_GE(volumes, 1u) << name;
        for (unsigned v = 0; v < volumes; ++v, ++checked) {
            const std::string key = name + "@" + std::to_string(v + 1);
            const Problems problems = CheckImageFile(unpack.outFile, v);
            const auto want = expected.find(key);
            EXPECT_EQ(problems, want == expected.end() ? Problems{} : want->second) << key << Listing(problems);
        }
    }
    EXPECT_GE(checked, 14u);
}

// ---------------------------------------------------------------------------
// quaylink-cli check

#ifdef QUAYLINK_CLI_PATH
TEST_F(VolumeCheckTest, CliSummarisesACleanVolumeAndNeverWrites)
{
    const std::string& path = Clean().path;
    const auto before = fs::last_write_time(path);
    const CommandResult r = RunCommand({QUAYLINK_CLI_PATH, "check", path});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Image image = Clean().image;
    EXPECT_EQ(r.out, Fmt("%s@1: volume Checked is consistent: %u files, 9 folders, %u of 2874 allocation blocks free\n",
                         path.c_str(), GetU32(image.Mdb() + kMdbFileCount), GetU16(image.Mdb() + kMdbFreeBlocks)));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFileBytes(path), image.bytes);
    EXPECT_EQ(fs::last_write_time(path), before);
    EXPECT_EQ(RunCommand({QUAYLINK_CLI_PATH, "check"}).exitCode, 1);
    EXPECT_EQ(RunCommand({QUAYLINK_CLI_PATH, "check", path + "@2"}).exitCode, 1);
}

// Commands on a damaged volume. Damage a write could spread or build on makes
// every write command fail before it writes; a harmless inconsistency is
// kept but does not stop writes, and the volume gains no problem; folders
// inside themselves end a walk of folders as a damaged volume.
enum class Outcome { Written, Refused, Damaged };
struct DamagedCommand {
    std::vector<std::string> args;   // "IMG" is the image, "PC" a small PC file
    Outcome outcome;
    const char* first = "";          // Refused: the start of the first problem named
};
struct WriteOnDamage {
    const char* name;
    void (*damage)(Image&);
    std::vector<DamagedCommand> commands;
};

const WriteOnDamage kWritesOnDamage[] = {
    {"BitmapFreesAFilesBlocks",
     [](Image& im) {
         const Record readme = im.Item("Readme");
         const uint32_t start = GetU16(readme.data + kFileRecDataExtents);
         const uint32_t count = GetU16(readme.data + kFileRecDataExtents + 2);
         for (uint32_t b = start; b < start + count; ++b) im.FlipBitmapBit(b);
         Put16(im.Mdb() + kMdbFreeBlocks, GetU16(im.Mdb() + kMdbFreeBlocks) + count);
     },
     {{{"put", "IMG", "PC"}, Outcome::Refused, "bitmap: allocation blocks"},
      {{"mkdir", "IMG", "New"}, Outcome::Refused, "bitmap: allocation blocks"}}},
    {"NextIdBelowIdsInUse", [](Image& im) { Put32(im.Mdb() + kMdbNextCatalogId, im.IdOf("Docs")); },
     {{{"mkdir", "IMG", "New"}, Outcome::Refused, "MDB: next catalog ID"},
      {{"put", "IMG", "PC"}, Outcome::Refused, "MDB: next catalog ID"}}},
    {"FolderWithTheRootsId", [](Image& im) { Put32(im.Item("K").data + kFolderId, kRootFolderId); },
     {{{"rm", "IMG", "-r", "K"}, Outcome::Refused, "catalog: "},
      {{"rename", "IMG", "K", "L"}, Outcome::Refused, "catalog: "}}},
    {"FolderInsideItself", [](Image& im) { Put32(im.Item("F1").data + kFolderId, im.IdOf("K")); },
     {{{"ls", "IMG", "-R"}, Outcome::Damaged},
      {{"ls", "IMG", "K", "-R"}, Outcome::Damaged},
      {{"rm", "IMG", "-r", "K"}, Outcome::Refused, "catalog: "}}},
    // Kept as it is, and no other problem added.
    {"ThreadNameDiffers", [](Image& im) { im.Thread(im.IdOf("Deep")).data[kThreadName + 1] ^= 0x20; },
     {{{"mkdir", "IMG", "New"}, Outcome::Written},
      {{"put", "IMG", "PC"}, Outcome::Written},
      {{"rm", "IMG", "-r", "K"}, Outcome::Written}}},
};

TEST_F(VolumeCheckTest, CliOnDamagedVolumes)
{
    TempDir dir;
    const std::string pc = dir.WriteFile("pc.bin", PatternBytes(20000, 9));
    for (const WriteOnDamage& row : kWritesOnDamage) {
        SCOPED_TRACE(row.name);
        // The clean volume is checked first: a clean check remembered from
        // before the damage must not let a write through.
        Image image = Clean().image;
        const std::string path = dir.WriteFile(std::string(row.name) + ".img", image.bytes);
        ASSERT_EQ(RunCommand({QUAYLINK_CLI_PATH, "check", path}).exitCode, 0);
        row.damage(image);
        std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)
            .write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<std::streamsize>(image.bytes.size()));
        const Problems problems = CheckImageFile(path);
        for (const DamagedCommand& c : row.commands) {
            SCOPED_TRACE(c.args[0] + " " + c.args.back());
            std::vector<std::string> argv{"timeout", "60", QUAYLINK_CLI_PATH};
            for (const std::string& a : c.args) argv.push_back(a == "IMG" ? path : a == "PC" ? pc : a);
            CommandOptions options;
            options.outFile = dir.PathOf("out.txt");  // a walk that never ends fills a file, not memory
            const Bytes before = ReadFileBytes(path);
            const CommandResult r = RunCommand(argv, options);
            if (c.outcome == Outcome::Written) {
                EXPECT_EQ(r.exitCode, 0) << r.err;
                EXPECT_EQ(CheckImageFile(path), problems) << "the volume gained a problem";
                continue;
            }
            EXPECT_EQ(r.exitCode, 2) << r.err;
            EXPECT_TRUE(ReadFileBytes(path) == before) << "the command changed the image";
            const std::string says =
                c.outcome == Outcome::Damaged
                    ? "Error Locating Node. Disk may be corrupt. (Use a disk diagnostic on the Mac.)"
                    : "Mac volume is read only\nquaylink-cli: " + path +
                          ": the volume is damaged where a write would spread the damage, so it is read only: " +
                          c.first;
            EXPECT_EQ(r.err.substr(0, says.size()), says);
            if (c.outcome == Outcome::Refused) {
                EXPECT_NE(r.err.find("quaylink-cli check"), std::string::npos);
            }
        }
        if (row.commands[0].outcome == Outcome::Written) {
            EXPECT_EQ(problems.size(), 1u) << Listing(problems);
        }
    }
}

TEST_F(VolumeCheckTest, CliListsEveryProblemEvenWhenTheRootCannotBeListed)
{
    // The catalog's root node with a wrong height: the engine's searches
    // refuse it, so the volume opens but its root folder cannot be listed.
    Image image = Clean().image;
    const Record docs = image.Item("Docs");
    const unsigned valence = GetU16(docs.data + kFolderValence);
    Put16(docs.data + kFolderValence, 99);
    const uint32_t root = GetU32(image.Header(true) + kHeaderRoot);
    image.Node(true, root)[kNodeHeight] = 7;
    TempDir dir;
    const std::string path = dir.WriteFile("damaged.img", image.bytes);
    const CommandResult r = RunCommand({QUAYLINK_CLI_PATH, "check", path});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, Fmt("catalog B-tree: node %u has height 7 where height 3 belongs\n"
                         "catalog: folder \"Docs\" (ID %u) has valence 99 but holds %u item(s)\n",
                         root, Image::IdOf(docs), valence));
    EXPECT_NE(r.err.find("problem"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(path), image.bytes);
}
#endif

}  // namespace
