// Damaged media: hand-made damage, one kind a row, that the checker must name
// exactly and the write guard must refuse (or let through when harmless); and
// a seeded campaign of changed images that every walk must survive with the
// status of a damaged medium. QUAYLINK_LONG=1 runs a much longer campaign.
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
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/status.h"
#include "disk/image_drive.h"
#include "hfs/btree_node.h"
#include "hfs/bytes.h"
#include "hfs/catalog_keys.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_check.h"
#include "support/engine_state.h"
#include "support/hfs_layout.h"
#include "support/hfsutils_driver.h"
#include "support/run_command.h"
#include "support/temp_image.h"
#include "support/volume_walk.h"
#include "ui/mac_session.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Files = std::vector<std::pair<std::string, Bytes>>;
constexpr size_t kBlock = 512;

// Making the base images with hfsutils.

void Require(bool ok, const HfsUtils& hfs)
{
    if (!ok) throw std::runtime_error(hfs.LastError());
}

MacFileImage Forked(const std::string& name, const char* type, const char* creator, const Bytes& data,
                    const Bytes& rsrc)
{
    return {name, type, creator, 0, 0xB5000000u, 0xB5000000u, data, rsrc};
}

unsigned MakeFloppy(const std::string& image)
{
    Files smalls, empties;
    std::vector<std::string> odd;
    for (uint32_t i = 1; i <= 80; ++i) smalls.emplace_back("s" + std::to_string(i), PatternBytes(600 + i, i));
    for (int i = 1; i <= 80; i += 2) odd.push_back(":s" + std::to_string(i));
    for (int i = 0; i < 150; ++i) empties.emplace_back("e" + std::to_string(1000 + i).substr(1), Bytes{});
    HfsUtils hfs;
    bool ok = hfs.Format(image, "Damage", 1474560);
    for (const char* folder : {":A", ":A:B", ":A:B:C", ":A:B:C:D", ":A:B:C:D:E", ":Empty", ":Many"})
        ok = ok && hfs.Mkdir(folder);
    // Fill the volume, free every other small file, and write a file that
    // must take the holes one or two blocks at a time.
    ok = ok && hfs.PutRawFiles(smalls, ":") &&
         hfs.PutRawFiles({{"Filler", Bytes(hfs.FreeBytes() - 2 * kBlock, 0)}}, ":") &&
         hfs.Delete(odd) && hfs.PutRawFiles({{"Big", PatternBytes(30000, 7)}}, ":") && hfs.Delete({":Filler"}) &&
         hfs.PutRawFiles(empties, ":Many:");
    const char* const places[][2] = {{":A:", "Res1"}, {":A:B:", "Res2"}, {":A:B:C:D:E:", "Deep"}, {":", "Res3"}};
    for (uint32_t i = 0; i < 4; ++i)
        ok = ok && hfs.PutMacBinary({Forked(places[i][1], "APPL", "tEst", PatternBytes(700 * (i + 1), 100 + i),
                                            PatternBytes(1500, 150 + i))}, places[i][0]);
    Require(ok, hfs);
    return 40 + 1 + 150 + 4;
}

// A small populated volume of `blocks` 512-byte blocks, as a separate file.
// Returns the number of files.
unsigned MakePartitionVolume(const std::string& image, uint32_t blocks, const std::string& label)
{
    Files files;
    for (uint32_t i = 0; i < 12; ++i)
        files.emplace_back(label + std::to_string(i), PatternBytes(900 * i + 10, i + 200));
    HfsUtils hfs;
    Require(hfs.Format(image, label, uint64_t{blocks} * kBlock) && hfs.Mkdir(":F") && hfs.Mkdir(":F:G") &&
                hfs.PutRawFiles(files, ":F:") &&
                hfs.PutMacBinary({Forked("Both", "TEXT", "ttxt", PatternBytes(3000, 300), PatternBytes(2000, 301))},
                                 ":F:G:"),
            hfs);
    return 13;
}

unsigned MakePartitioned(const TempDir& dir, const std::string& image)
{
    constexpr uint32_t kFirst = 64, kLeftBlocks = 1600, kRightBlocks = 69632;  // 34 MB: 1 KB allocation blocks
    const std::string left = dir.PathOf("left.img");
    const std::string right = dir.PathOf("right.img");
    const unsigned files =
        MakePartitionVolume(left, kLeftBlocks, "Left") + MakePartitionVolume(right, kRightBlocks, "Right");
    const Bytes disk =
        BuildPartitionMap(kBlock, 63, {{"Left", "Apple_HFS", kFirst, kLeftBlocks, ReadFileBytes(left)},
                                       {"Right", "Apple_HFS", kFirst + kLeftBlocks, kRightBlocks, ReadFileBytes(right)},
                                       {"Extra", "Apple_Free", kFirst + kLeftBlocks + kRightBlocks, 64, {}}});
    dir.WriteFile(fs::path(image).filename().string(), disk);
    return files;
}

struct RecordPos {
    size_t key;
    size_t data;
};

struct TreeTargets {
    std::vector<size_t> nodes;       // every node of the file
    size_t header = 0;               // node 0's header record
    std::vector<uint32_t> leaves;    // in chain order
    std::vector<uint32_t> indexNodes;
    std::vector<RecordPos> leafRecords, indexRecords;
};

struct VolumeTargets {
    size_t mdb = 0;
    size_t alternate = 0;
    uint32_t allocBlocks = 0;
    uint32_t volumeBytes = 0;        // of the allocation blocks
    TreeTargets catalog, extents;
    std::vector<size_t> files, folders, threads;  // catalog record data by kind
};

struct DiskTargets {
    std::vector<VolumeTargets> volumes;
    std::vector<size_t> mapEntries;
};

TreeTargets TargetTree(const Bytes& image, const HfsTreeLayout& tree)
{
    TreeTargets t;
    t.nodes = tree.nodes;
    if (t.nodes.empty()) return t;
    t.header = t.nodes[0] + 14;
    for (size_t level = 0; level < tree.levels.size(); ++level) {
        const bool leaf = level + 1 == tree.levels.size();
        for (uint32_t n : tree.levels[level]) {
            (leaf ? t.leaves : t.indexNodes).push_back(n);
            for (size_t key : HfsNodeRecords(image, t.nodes[n]))
                (leaf ? t.leafRecords : t.indexRecords).push_back({key, HfsRecordData(image, key)});
        }
    }
    return t;
}

DiskTargets Target(const Bytes& image)
{
    const HfsDiskLayout disk = MapHfsDisk(image);
    DiskTargets targets{{}, disk.mapEntries};
    for (const HfsVolumeLayout& layout : disk.volumes) {
        VolumeTargets v{layout.mdb, layout.alternate, layout.allocBlocks, layout.allocBlocks * layout.blockBytes,
                        TargetTree(image, layout.catalog), TargetTree(image, layout.extents), {}, {}, {}};
        for (const RecordPos& r : v.catalog.leafRecords)
            (image[r.data] == 1 ? v.folders : image[r.data] == 2 ? v.files : v.threads).push_back(r.data);
        targets.volumes.push_back(std::move(v));
    }
    return targets;
}

// Changing an image, and undoing the change.

class Mutation {
public:
    Mutation(Bytes& image, const DiskTargets& map, uint64_t seed) : image_(image), map_(map), rng_(seed) {}

    void Apply(unsigned count)
    {
        for (unsigned i = 0; i < count; ++i) ApplyOne();
    }
    // Writes the changed bytes (or the originals) into the image file.
    void WriteTo(const std::string& path, bool restore) const
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        for (const auto& [offset, original] : originals_) {
            file.seekp(static_cast<std::streamoff>(offset));
            const char byte = static_cast<char>(restore ? original : image_[offset]);
            file.write(&byte, 1);
        }
        if (!file) throw std::runtime_error("cannot patch " + path);
    }
    void Undo()
    {
        for (const auto& [offset, original] : originals_) image_[offset] = original;
    }
private:
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }
    bool Chance(unsigned percent) { return Below(100) < percent; }
    template <typename T>
    const T& Pick(const std::vector<T>& items) { return items[Below(static_cast<uint32_t>(items.size()))]; }
    uint32_t Pick(std::initializer_list<uint32_t> values)
    {
        return values.begin()[Below(static_cast<uint32_t>(values.size()))];
    }

    // Sets `bytes` bytes at `offset` (big-endian), noting what they held.
    void Set(size_t offset, uint32_t value, unsigned bytes)
    {
        for (unsigned i = 0; i < bytes && offset + i < image_.size(); ++i) {
            originals_.emplace(offset + i, image_[offset + i]);
            image_[offset + i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
        }
    }
    void Set8(size_t offset, uint32_t value) { Set(offset, value, 1); }
    void Set16(size_t offset, uint32_t value) { Set(offset, value, 2); }
    void Set32(size_t offset, uint32_t value) { Set(offset, value, 4); }
    uint32_t U16At(size_t offset) const { return GetU16(&image_[offset]); }
    uint32_t U32At(size_t offset) const { return GetU32(&image_[offset]); }
    uint32_t Interesting32(uint32_t original, uint32_t near)
    {
        return Pick({0, 1, 2, 3, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu, original + 1, original - 1, near,
                     near + 1, near - 1, static_cast<uint32_t>(rng_()), Below(near + 2)});
    }
    uint32_t Interesting16(uint32_t original, uint32_t near)
    {
        return Pick({0, 1, 2, 13, 14, 15, 511, 512, 513, 0x7FFF, 0x8000, 0xFFFF, 0xFFFE, original + 1, original - 1,
                     original ^ 1, near, near + 1, Below(0x10000), Below(near + 2)}) & 0xFFFF;
    }
    uint32_t Interesting8(uint32_t original)
    {
        return Pick({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 31, 32, 37, 38, 0x7F, 0x80, 0xFF, 0xFE, original + 1, original - 1,
                     Below(256)}) & 0xFF;
    }

    const TreeTargets& Tree(const VolumeTargets& v) { return Chance(75) ? v.catalog : v.extents; }
    size_t AnyNode(const VolumeTargets& v)
    {
        const TreeTargets& tree = Tree(v);
        if (tree.nodes.empty()) return v.mdb;
        // Mostly nodes in use (header, index, leaves), sometimes any node.
        if (Chance(70)) {
            std::vector<uint32_t> used = tree.leaves;
            used.insert(used.end(), tree.indexNodes.begin(), tree.indexNodes.end());
            used.push_back(0);
            return tree.nodes[Pick(used)];
        }
        return tree.nodes[Below(NodeCount(tree))];
    }
    static uint32_t NodeCount(const TreeTargets& tree) { return static_cast<uint32_t>(tree.nodes.size()); }

    void ApplyOne()
    {
        using Kind = void (Mutation::*)(const VolumeTargets&);
        static constexpr Kind kKinds[16] = {
            &Mutation::MdbBytes,    &Mutation::MdbField,       &Mutation::NodeDescriptor, &Mutation::RecordOffset,
            &Mutation::KeyLength,   &Mutation::LeafLink,       &Mutation::IndexChild,     &Mutation::ExtentPastEnd,
            &Mutation::Valence,     &Mutation::HeaderField,    &Mutation::CatalogRecord,  &Mutation::NodeCopy,
            &Mutation::RandomMetadata, &Mutation::PartitionMap, &Mutation::KeyFields,     &Mutation::RandomMetadata};
        const VolumeTargets& v = Pick(map_.volumes);
        (this->*kKinds[Below(16)])(v);
    }

    void MdbBytes(const VolumeTargets& v)
    {
        for (unsigned i = 0, n = 1 + Below(8); i < n; ++i) Set8(v.mdb + Below(Chance(80) ? 162 : 512), Below(256));
        if (Chance(20)) Set8(v.alternate + Below(2), Below(256));
    }

    void MdbField(const VolumeTargets& v)
    {
        static const std::pair<unsigned, unsigned> fields[] = {  // offset, width
            {0, 2},    {12, 2},  {14, 2},  {18, 2},  {20, 4},  {28, 2},  {30, 4},  {36, 1},  {82, 2},
            {84, 4},   {88, 4},  {130, 4}, {134, 2}, {136, 2}, {138, 2}, {140, 2}, {142, 2}, {144, 2},
            {146, 4},  {150, 2}, {152, 2}, {154, 2}, {156, 2}, {158, 2}, {160, 2}};
        const auto [offset, width] = fields[Below(sizeof fields / sizeof fields[0])];
        const size_t at = v.mdb + offset;
        if (width == 4) Set32(at, Interesting32(U32At(at), v.volumeBytes));
        else if (width == 2) Set16(at, Interesting16(U16At(at), v.allocBlocks));
        else Set8(at, Interesting8(image_[at]));
    }

    void NodeDescriptor(const VolumeTargets& v)
    {
        const TreeTargets& tree = Tree(v);
        const size_t node = AnyNode(v);
        switch (Below(5)) {
        case 0: Set32(node, Interesting32(U32At(node), NodeCount(tree))); break;
        case 1: Set32(node + 4, Interesting32(U32At(node + 4), NodeCount(tree))); break;
        case 2: Set8(node + 8, Pick({0, 1, 2, 0xFF, 0x80, Below(256)})); break;
        case 3: Set8(node + 9, Interesting8(image_[node + 9])); break;
        default: Set16(node + 10, Interesting16(U16At(node + 10), 250)); break;
        }
    }

    void RecordOffset(const VolumeTargets& v)
    {
        const size_t node = AnyNode(v);
        const unsigned count = U16At(node + 10);
        const unsigned i = Below(std::min(count + 2, 250u));
        const size_t at = node + 510 - 2 * i;
        if (Chance(25) && i > 0) {
            // Swap with the previous entry: offsets no longer rise.
            const uint32_t a = U16At(at), b = U16At(at + 2);
            Set16(at, b);
            Set16(at + 2, a);
        } else {
            Set16(at, Interesting16(U16At(at), 510 - 2 * count));
        }
    }

    void KeyLength(const VolumeTargets& v)
    {
        const std::vector<RecordPos>* lists[] = {&v.catalog.leafRecords, &v.catalog.indexRecords,
                                                 &v.extents.leafRecords, &v.extents.indexRecords};
        const std::vector<RecordPos>& list = *lists[Below(4)];
        if (list.empty()) return MdbBytes(v);
        const RecordPos& r = Pick(list);
        Set8(r.key, Interesting8(image_[r.key]));
    }

    void LeafLink(const VolumeTargets& v)
    {
        const TreeTargets& tree = Chance(80) ? v.catalog : v.extents;
        if (tree.leaves.empty()) return NodeDescriptor(v);
        const unsigned i = Below(static_cast<uint32_t>(tree.leaves.size()));
        const size_t node = tree.nodes[tree.leaves[i]];
        std::vector<uint32_t> targets = {tree.leaves[i], tree.leaves[Below(i + 1)], 0, NodeCount(tree),
                                         NodeCount(tree) - 1, static_cast<uint32_t>(rng_())};
        if (!tree.indexNodes.empty()) targets.push_back(Pick(tree.indexNodes));
        if (Chance(80)) {
            Set32(node, Pick(targets));
        } else {
            Set32(Chance(50) ? node + 4 : tree.header + Pick({10, 14}), Pick(targets));
        }
    }

    void IndexChild(const VolumeTargets& v)
    {
        const TreeTargets& tree = Chance(80) ? v.catalog : v.extents;
        if (tree.indexRecords.empty()) return LeafLink(v);
        const RecordPos& r = Pick(tree.indexRecords);
        std::vector<uint32_t> targets = {0, NodeCount(tree), NodeCount(tree) - 1, static_cast<uint32_t>(rng_()),
                                         U32At(r.data) + 1};
        for (uint32_t n : tree.indexNodes) targets.push_back(n);  // a descent that loops or skips a level
        if (!tree.leaves.empty()) targets.push_back(Pick(tree.leaves));
        Set32(r.data, Pick(targets));
    }

    void ExtentPastEnd(const VolumeTargets& v)
    {
        const uint32_t starts[] = {v.allocBlocks, v.allocBlocks - 1, 0xFFFF, 0xFFFE, 0, Below(0x10000)};
        const uint32_t counts[] = {1, 2, 0xFFFF, v.allocBlocks, v.allocBlocks + 1, 0, Below(0x10000)};
        size_t extents = 0;
        const unsigned where = Below(4);
        if (where <= 1 && !v.files.empty()) {
            const size_t file = Pick(v.files);
            if (Chance(30)) {
                const unsigned lengthField = Pick({26, 30, 36, 40});
                Set32(file + lengthField, Interesting32(U32At(file + lengthField), v.volumeBytes));
                return;
            }
            extents = file + (Chance(50) ? 74 : 86);
        } else if (where == 2 && !v.extents.leafRecords.empty()) {
            extents = Pick(v.extents.leafRecords).data;
        } else {
            extents = v.mdb + (Chance(50) ? 134 : 150);
        }
        const size_t d = extents + 4 * Below(3);
        if (Chance(50)) Set16(d, starts[Below(sizeof starts / sizeof starts[0])]);
        if (Chance(70)) Set16(d + 2, counts[Below(sizeof counts / sizeof counts[0])]);
    }

    void Valence(const VolumeTargets& v)
    {
        if (v.folders.empty() || Chance(15)) {
            Set16(v.mdb + Pick({12, 82}), Interesting16(0, 1000));
            return;
        }
        const size_t folder = Pick(v.folders);
        const uint32_t real = U16At(folder + 4);
        Set16(folder + 4, Pick({real + 1, real + 2, real + 10, real + 1000, 0xFFFF, 0, real ? real - 1 : 0}));
    }

    void HeaderField(const VolumeTargets& v)
    {
        const TreeTargets& tree = Chance(60) ? v.catalog : v.extents;
        if (tree.nodes.empty()) return MdbField(v);
        const size_t h = tree.header;
        const uint32_t nodes = NodeCount(tree);
        switch (Below(10)) {
        case 0: Set16(h + 0, Interesting16(U16At(h), 8)); break;                 // depth
        case 1: Set32(h + 2, Interesting32(U32At(h + 2), nodes)); break;         // root
        case 2: Set32(h + 6, Interesting32(U32At(h + 6), 1000)); break;          // leaf records
        case 3: Set32(h + 10, Interesting32(U32At(h + 10), nodes)); break;       // first leaf
        case 4: Set32(h + 14, Interesting32(U32At(h + 14), nodes)); break;       // last leaf
        case 5: Set16(h + 18, Interesting16(512, 1024)); break;                  // node size
        case 6: Set16(h + 20, Interesting16(U16At(h + 20), 37)); break;          // max key
        case 7: Set32(h + 22, Interesting32(U32At(h + 22), nodes)); break;       // total nodes
        case 8: Set32(h + 26, Interesting32(U32At(h + 26), nodes)); break;       // free nodes
        default:
            // The header node's own descriptor and record offsets.
            if (Chance(50)) Set8(tree.nodes[0] + 8, Below(256));
            else Set16(tree.nodes[0] + 510 - 2 * Below(4), Interesting16(14, 248));
        }
    }

    void CatalogRecord(const VolumeTargets& v)
    {
        const unsigned kind = Below(5);
        const size_t targets =
            kind == 0 ? v.catalog.leafRecords.size() : (kind == 1 ? v.folders : kind == 2 ? v.threads : v.files).size();
        if (targets == 0) return MdbBytes(v);
        switch (kind) {
        case 0: Set8(Pick(v.catalog.leafRecords).data, Pick({0, 1, 2, 3, 4, 5, 0x81, 0xFF})); break;
        case 1: {
            // Folder IDs: a folder inside itself, two folders with one ID, the root's ID.
            const size_t folder = Pick(v.folders);
            std::vector<uint32_t> ids = {0, 1, 2, 0xFFFFFFFFu, static_cast<uint32_t>(rng_())};
            for (size_t f : v.folders) ids.push_back(U32At(f + 6));
            Set32(folder + 6, Pick(ids));
            break;
        }
        case 2: {
            const size_t thread = Pick(v.threads);
            if (Chance(50)) Set32(thread + 10, Interesting32(U32At(thread + 10), 20));
            else Set8(thread + 14, Interesting8(image_[thread + 14]));
            break;
        }
        case 3: Set32(Pick(v.files) + 20, Interesting32(0, 20)); break;
        default: Set8(Pick(v.files) + 12, Below(256)); break;  // Finder flags, invisible bit included
        }
    }

    void KeyFields(const VolumeTargets& v)
    {
        if (v.catalog.leafRecords.empty()) return MdbBytes(v);
        const RecordPos& r = Chance(70) || v.catalog.indexRecords.empty() ? Pick(v.catalog.leafRecords)
                                                                          : Pick(v.catalog.indexRecords);
        if (Chance(50)) Set32(r.key + 2, Interesting32(U32At(r.key + 2), 20));
        else Set8(r.key + 6, Interesting8(image_[r.key + 6]));
    }

    void NodeCopy(const VolumeTargets& v)
    {
        const size_t from = AnyNode(v);
        const size_t to = AnyNode(v);
        if (from == to) return;
        const Bytes copy(image_.begin() + static_cast<std::ptrdiff_t>(from),
                         image_.begin() + static_cast<std::ptrdiff_t>(from + kBlock));
        for (size_t i = 0; i < kBlock; ++i)
            if (image_[to + i] != copy[i]) Set8(to + i, copy[i]);
    }

    void RandomMetadata(const VolumeTargets& v)
    {
        const size_t node = AnyNode(v);
        for (unsigned i = 0, n = 1 + Below(Chance(70) ? 4 : 32); i < n; ++i) Set8(node + Below(kBlock), Below(256));
    }

    void PartitionMap(const VolumeTargets& v)
    {
        if (map_.mapEntries.empty()) return KeyFields(v);
        const size_t e = Pick(map_.mapEntries);
        const uint32_t blocks = static_cast<uint32_t>(image_.size() / kBlock);
        switch (Below(8)) {
        case 0: Set16(e, Pick({0, 0x5453, 0x4244, Below(0x10000)})); break;
        case 1: Set32(e + 4, Interesting32(U32At(e + 4), 64)); break;
        case 2:
            Set32(e + 8, Pick({0, 1, 2, 64, blocks - 1, blocks, 0xFFFFFFFFu, 0x80000000u, Below(blocks),
                               U32At(e + 8) + 1}));
            break;
        case 3: Set32(e + 12, Pick({0, 1, 2, 3, 4, 100, blocks, 0xFFFFFFFFu, Below(blocks * 2)})); break;
        case 4: {
            const char* types[] = {"Apple_HFS", "Apple_HFSX", "Apple_Free", "Apple_partition_map", "Apple_HF"};
            const char* type = types[Below(5)];
            for (size_t i = 0; i < 32; ++i) Set8(e + 48 + i, i < std::strlen(type) ? type[i] : 0);
            break;
        }
        case 5: Set16(2 * kBlock, 0x4244); break;  // an MDB signature in block 2: a bare volume over the map
        case 6: Set16(kBlock, 0x5453); break;      // the older map: its entries are whatever block 1 holds
        default:
            for (int i = 0; i < 4; ++i) Set8(e + Below(64), Below(256));
            break;
        }
    }

    Bytes& image_;
    const DiskTargets& map_;
    std::mt19937_64 rng_;
    std::map<size_t, uint8_t> originals_;
};

bool LongCampaign()
{
    const char* value = std::getenv("QUAYLINK_LONG");
    return value && *value && std::strcmp(value, "0") != 0;
}

struct BaseImage {
    std::string name;
    std::string path;      // the image the walks read (changed and restored in place)
    Bytes pristine;
    DiskTargets map;
    unsigned files = 0;
    unsigned folders = 0;
    unsigned volumes = 0;
};

class DamageTest : public EngineStateTest {
protected:
    static void SetUpTestSuite()
    {
        if (!HfsUtilsAvailable()) return;
        dir_ = new TempDir();
        try {
            // The floppy's folders: the root, A to E six deep, Empty, Many;
            // the partitions': each volume's root, F and F:G.
            floppy_ = AddImage("floppy", MakeFloppy(dir_->PathOf("floppy.img")), 8, 1);
            partitioned_ = AddImage("partitioned", MakePartitioned(*dir_, dir_->PathOf("partitioned.img")), 6, 2);
            AddCorpusImages();
        } catch (const std::exception& e) {
            setupError_ = e.what();
        }
    }
    static BaseImage* AddImage(const std::string& name, unsigned files, unsigned folders, unsigned volumes)
    {
        auto* base = new BaseImage{name, dir_->PathOf(name + ".img"), {}, {}, files, folders, volumes};
        base->pristine = ReadFileBytes(base->path);
        base->map = Target(base->pristine);
        images_.emplace_back(base);
        return base;
    }

    static void AddCorpusImages()
    {
        for (const char* relative : {"imac/Speed Disk 3.1.3.dsk", "imac/System 7.5 Disk Tools FD.dsk",
                                     "opf/JW_disk9_hfstest_9.img", "cp2/apm-prodos-hfs.iso",
                                     "behier/manyExtents.img.gz"}) {
            const fs::path source = fs::path(QUAYLINK_CORPUS_DIR) / relative;
            if (!fs::exists(source)) continue;
            const std::string name = "corpus" + std::to_string(corpus_.size());
            CommandOptions unpack;  // gzip -dcf copies a file that is not compressed as it is
            unpack.outFile = dir_->PathOf(name + ".img");
            if (RunCommand({"gzip", "-dcf", source.string()}, unpack).exitCode != 0)
                throw std::runtime_error(std::string("cannot copy ") + relative);
            const WalkSummary s = WalkVolume(unpack.outFile.c_str());
            ResetEngineState();
            if (!s.Clean()) throw std::runtime_error(std::string("corpus image does not walk cleanly: ") + relative);
            corpus_.push_back(AddImage(name, s.files, s.folders, s.volumes));
            corpus_.back()->name = relative;
        }
    }
    static void TearDownTestSuite()
    {
        images_.clear();
        corpus_.clear();
        delete dir_;
        floppy_ = partitioned_ = nullptr;
        dir_ = nullptr;
    }
    void SetUp() override
    {
        EngineStateTest::SetUp();
        if (!dir_) GTEST_SKIP() << "hfsutils not installed";
        ASSERT_TRUE(setupError_.empty()) << setupError_;
    }

    // The pristine image walks cleanly: the base of every comparison.
    static void ExpectCleanWalk(const BaseImage& base)
    {
        for (const uint32_t sectorSize : {512u, 2048u}) {
            WalkOptions options;
            options.sectorSize = sectorSize;
            options.climb = true;
            const WalkSummary s = WalkVolume(base.path.c_str(), options);
            EXPECT_TRUE(s.Clean()) << s.firstStatus;
            EXPECT_EQ(s.volumes, base.volumes);
            EXPECT_EQ(s.volumesOpened, base.volumes);
            EXPECT_EQ(s.folders, base.folders);
            EXPECT_EQ(s.files, base.files);
            EXPECT_EQ(s.climbs, base.folders - base.volumes);  // every folder but the roots
            EXPECT_EQ(s.climbsAstray, 0u);
            EXPECT_EQ(s.deviceWrites, 0u);
            ResetEngineState();
        }
    }

    // Walks changed copies of the images in turn; each case applies one to
    // three changes chosen by its seed. A walk that does not end is killed.
    static void Campaign(const std::vector<BaseImage*>& bases, uint64_t seedBase, unsigned cases, unsigned longCases)
    {
        if (LongCampaign()) cases = longCases;
        for (unsigned i = 0; i < cases; ++i) {
            const uint64_t seed = seedBase * 1000003u + i;
            BaseImage& base = *bases[i % bases.size()];
            Mutation mutation(base.pristine, base.map, seed);
            std::mt19937_64 choices(seed ^ 0x5EEDu);
            mutation.Apply(1 + static_cast<unsigned>(choices() % 3));
            WalkOptions options;
            options.sectorSize = choices() % 4 == 0 ? 2048 : 512;
            options.writable = choices() % 2 == 0;
            const WalkFailure modes[] = {WalkFailure::Stop, WalkFailure::CarryOn, WalkFailure::ClearAndGoOn};
            options.onFailure = modes[choices() % 3];
            options.showInvisible = choices() % 4 != 0;
            options.climb = choices() % 2 == 0;
            mutation.WriteTo(base.path, false);
            ResetEngineState();
            alarm(20);
            const WalkSummary s = WalkVolume(base.path.c_str(), options);
            alarm(0);
            const uint32_t leftStatus = StatusCode;
            ResetEngineState();
            mutation.WriteTo(base.path, true);
            mutation.Undo();
            bool ok = s.anomalies.empty() && s.deviceWrites == 0;
            for (uint32_t status : s.statuses)
                ok = ok && (status == kStatusReadError || status == kStatusBadNode || status == kStatusNoVolume);
            if (options.onFailure != WalkFailure::ClearAndGoOn) ok = ok && leftStatus == s.firstStatus;
            ASSERT_TRUE(ok) << "case " << i << " of " << base.name << ": first status " << s.firstStatus << ", left "
                            << leftStatus << ", writes " << s.deviceWrites << ", anomalies: "
                            << (s.anomalies.empty() ? "none" : s.anomalies[0]);
        }
    }

    static inline TempDir* dir_ = nullptr;
    static inline std::vector<std::unique_ptr<BaseImage>> images_;
    static inline BaseImage* floppy_ = nullptr;
    static inline BaseImage* partitioned_ = nullptr;
    static inline std::vector<BaseImage*> corpus_;
    static inline std::string setupError_;
};

TEST_F(DamageTest, BaseImagesWalkCleanly)
{
    ExpectCleanWalk(*floppy_);
    ExpectCleanWalk(*partitioned_);
}

TEST_F(DamageTest, DamagedFloppyVolume) { Campaign({floppy_}, 1, 10000, 100000); }

TEST_F(DamageTest, DamagedPartitionedDisk) { Campaign({partitioned_}, 2, 8000, 50000); }

TEST_F(DamageTest, DamagedCorpusImages)
{
    if (corpus_.empty()) GTEST_SKIP() << "corpus not present";
    Campaign(corpus_, 3, 8000, 50000);
}

// Damage made by hand, one kind a row: what the checker says of it.

using Problems = std::vector<std::string>;

std::string Fmt(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

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
         EXPECT_EQ(GetU16(im.Header(true) + kHeaderDepth), 3u);
         EXPECT_GE(im.Levels(true)[1].size(), 2u);
         EXPECT_GE(im.Overflow(im.IdOf("Fragmented data"), kDataFork).size(), 2u);
         EXPECT_GE(im.Overflow(im.IdOf("Fragmented rsrc"), kResourceFork).size(), 2u);
         EXPECT_FALSE(im.Overflow(kCatalogFileId, kDataFork).empty());
         return {};
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
         uint8_t* alt = im.AlternateMdb();
         for (unsigned field : {kMdbCreated, kMdbModified, kMdbNextCatalogId, kMdbWriteCount, kMdbFileCount,
                                kMdbFolderCount})
             Put32(alt + field, 16);
         for (unsigned field : {kMdbAttributes, kMdbRootFiles, kMdbFreeBlocks, kMdbRootFolders}) Put16(alt + field, 0);
         std::memcpy(alt + kMdbVolumeName, "\x03Old", 4);
         return {};
     }},

    {"ExtentsHeaderIsNoHeader", [](Image& im) -> Problems {
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
    {"ExtentsRecordTooShort", [](Image& im) -> Problems {
         uint8_t* node = im.Node(false, ExtentsLeaf(im));
         const unsigned records = Image::Count(node);
         Put16(node + 510 - 2 * records, GetU16(node + 510 - 2 * records) - 2);
         return {Fmt("extents B-tree: node %u: record %u: no room for the three extents", ExtentsLeaf(im), records - 1),
                 "cannot be read (B-tree node layout)"};
     }},
    {"KeyRepeatedInANode", [](Image& im) -> Problems {
         const uint32_t leaf = CrowdedLeaf(im);
         const uint8_t* second = im.At(true, leaf, 1).key + kCatKeyName;
         std::copy_n(second, 1 + second[0], im.At(true, leaf, 2).key + kCatKeyName);
         return {Fmt("catalog B-tree: node %u record 2 has key (parent", leaf),
                 "which does not sort after the key before it"};
     }},
    {"KeyOutOfOrderAcrossNodes", [](Image& im) -> Problems {
         const uint32_t leaf = CrowdedLeaf(im), next = GetU32(im.Node(true, leaf) + kNodeForward);
         const Record r = im.At(true, leaf, Image::Count(im.Node(true, leaf)) - 1);
         EXPECT_EQ(GetU32(r.key + kCatKeyParentId), GetU32(im.At(true, next, 0).key + kCatKeyParentId));
         r.key[kCatKeyName + 1] = 0xFF;
         return {Fmt("catalog B-tree: node %u begins with key", next),
                 Fmt("which does not sort after the last key (parent %u, \"", GetU32(r.key + kCatKeyParentId))};
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

    {"RecordOfUnknownType", [](Image& im) -> Problems {
         const Record file = im.Item(ManyName(1));
         file.data[0] = 7;
         return {Fmt("catalog: record (parent %u, \"%s\") in node %u record %u has unknown type 7", im.IdOf("Many"),
                     ManyName(1).c_str(), file.node, file.index),
                 "catalog: folder \"Many\"", "MDB: counts", "marked in use but belong"};
     }},
    {"RecordOfWrongLength", [](Image& im) -> Problems {
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
    {"ThreadNameDiffers", [](Image& im) -> Problems {
         const uint32_t deep = im.IdOf("Deep");
         im.Thread(deep).data[kThreadName + 1] ^= 0x20;
         return {Fmt("catalog: the thread record of folder \"Deep\" (ID %u) gives parent %u and name \"deep\"", deep,
                     im.IdOf("Docs"))};
     }},
    {"ItemInAFile", [](Image& im) -> Problems {
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
         const uint32_t unused = im.UnusedId();
         Put32(im.Item("Checked").data + kFolderId, unused);
         return {"catalog: the root folder (ID 2) is missing",
                 Fmt("catalog: folder \"Checked\" (ID %u) lies in parent 1, beside the root folder", unused),
                 Fmt("catalog: folder \"Checked\" (ID %u) has no thread record", unused),
                 "is for ID 2, which has no folder record", "lies in folder 2, which does not exist", "has valence",
                 "MDB: counts 9 folders on the volume, the catalog has 10"};
     }},
    {"FolderLoop", [](Image& im) -> Problems {
         const uint32_t k = im.IdOf("K"), unused = im.UnusedId();
         Put32(im.Item("K").data + kFolderId, unused);
         Put32(im.Item("F1").data + kFolderId, k);
         return {Fmt("catalog: folder \"F1\" (ID %u) is not below the root: its parent folders form a loop", k),
                 Fmt("catalog: folder \"K\" (ID %u) has no thread record", unused),
                 Fmt("catalog: the thread record of folder \"F1\" (ID %u) gives parent 2 and name \"K\"", k),
                 "which has no folder record", "catalog: file \"In F1\"",
                 Fmt("catalog: folder \"K\" (ID %u) has valence 1 but holds 0 item(s)", unused)};
     }},

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
         const Record catalog = im.LeafRecords(false).front();
         EXPECT_EQ(GetU32(catalog.key + kExtKeyFileId), kCatalogFileId);
         Put32(catalog.key + kExtKeyFileId, kExtentsFileId);
         return {"(file 3, fork type 0): the extents file keeps all its extents in the MDB",
                 "catalog file: physical length", "cannot be read"};
     }},
    {"ExtentsRecordEmpty", [](Image& im) -> Problems {
         const Record last = im.Overflow(im.IdOf("Fragmented rsrc"), kResourceFork).back();
         std::fill_n(last.data, 12, 0);
         return {Fmt("\"Fragmented rsrc\" resource fork: extents record in node %u record %u holds no blocks",
                     last.node, last.index),
                 "\"Fragmented rsrc\" resource fork: physical length 6656, but its extents hold",
                 "marked in use but belong"};
     }},
    {"FirstExtentRecordNotFull", [](Image& im) -> Problems {
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
    {"MdbVolumeName", At::Mdb, kMdbVolumeName, 1, 28,
     {"MDB: volume name length 28 is not 1 to 27", "catalog: the root folder is named \"Checked\", the volume"}},
    {"MdbNextIdBelow16", At::Mdb, kMdbNextCatalogId, 4, 9,
     {"MDB: next catalog ID 9 is below 16", "MDB: next catalog ID 9 is not above"}},
    {"MdbSignature", At::CachedMdb, kMdbSignature, 2, 0x4C4B, {"MDB: signature is 0x4C4B, not 0x4244"}},
    {"MdbBlockSize", At::CachedMdb, kMdbAllocBlockSize, 4, 1000,
     {"MDB: allocation block size 1000 is not a multiple of 512",
      "alternate MDB: allocation block size is 512, the MDB has 1000"}},
    {"MdbNoBlocks", At::CachedMdb, kMdbAllocBlocks, 2, 0,
     {"MDB: the volume has no allocation blocks", "exceeds the 0 allocation blocks",
      "alternate MDB: allocation block count is 2874, the MDB has 0",
      "B-tree: node 0 cannot be read (extent beyond the volume)"}},  // the fork mapping refuses every extent
    {"MdbBitmapOverTheBlocks", At::CachedMdb, kMdbBitmapStart, 2, 4,
     {"MDB: the bitmap (1 block(s) from volume block 4) does not lie between the MDB and the first allocation block",
      "bitmap: allocation block", "MDB: counts", "alternate MDB: first bitmap block is 3, the MDB has 4"}},
    {"AlternateMissing", At::Alternate, kMdbSignature, 2, 0, {"alternate MDB: volume block 2878 does not hold an MDB"}},
    {"AlternateBlocks", At::Alternate, kMdbAllocBlocks, 2, 2873,
     {"alternate MDB: allocation block count is 2873, the MDB has 2874"}},
    {"AlternateCatalogExtents", At::Alternate, kMdbCatalogExtents + 6, 2, 9, {"alternate MDB: catalog file extents"}},
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
    {"IndexNodeOfLeafType", At::Index, kNodeType, 1, kLeafNode,
     {"catalog B-tree: node # has type 255 where an index node of height 2 belongs"}},
    {"FirstRecordOffset", At::Leaf, 510, 2, 16, {"catalog B-tree: node #: first record at offset 16, not 14"}},
    {"RecordCount", At::Leaf, kNodeRecordCount, 2, 300, {"catalog B-tree: node #: record count 300 does not fit the"}},
    {"CatalogKeyLength", At::LeafRecord1, 0, 1, 5, {"catalog B-tree: node #: record 1: catalog key length 5 is not 6"}},
    {"KeyLongerThanTheRecord", At::LeafRecord2, 0, 1, 200, {"catalog B-tree: node #: record 2: key length 200 does"}},
    {"NameLongerThanTheKey", At::LeafRecord1, kCatKeyName, 1, 32, {"node #: record 1: name length 32 does not fit"}},
    {"IndexRecordWithoutChild", At::IndexRecord1, 0, 1, 39, {"node #: record 1: no room for the child node number"}},
    {"ExtentsKeyLength", At::ExtentsLeafRecord0, 0, 1, 6,
     {"extents B-tree: node #: record 0: extents key length 6, not 7", "cannot be read (B-tree node layout)"}},
    {"ExtentsLeafEmpty", At::ExtentsLeaf, kNodeRecordCount, 2, 0,
     {"extents B-tree: node # holds no records", "leaf records, the leaves hold 0",
      "cannot be read (no extent record for fork block)", "catalog file: physical length",
      "\"Fragmented data\" data fork: physical length 7680, but its extents hold 3 allocation blocks",
      "\"Fragmented rsrc\" resource fork: physical length 6656, but its extents hold 3"}},
};

// Damage a write can neither spread nor build on: the volume stays writable.
// (A missing alternate MDB leaves the volume's size unknown: read only too.)
bool Harmless(const std::string& row)
{
    return row == "None" || row == "ThreadNameDiffers" || row == "MapNode" ||
           row == "MdbAttributes" || (row.rfind("Alternate", 0) == 0 && row != "AlternateMissing" &&
                                      row != "AlternateMdbCutOff");
}

void ExpectWriteGuard(const Bytes& clean, const Bytes& bytes, const std::string& row)
{
#ifdef QUAYLINK_CLI_PATH
    TempDir dir;
    const std::string path = dir.WriteFile("damaged.img", clean);
    ASSERT_EQ(RunCommand({QUAYLINK_CLI_PATH, "check", path}).exitCode, 0);
    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    fs::resize_file(path, bytes.size());
    const std::string pc = dir.WriteFile("pc.bin", PatternBytes(20000, 9));
    Problems problems, blockers;
    std::vector<ProblemSeverity> severities;
    if (OpenImageAsMacDrive(path.c_str(), false)) OpenListedVolume(0);
    const bool opened = VolumeIsOpen();
    if (opened) {
        StatusCode = 0;
        CheckVolume(&problems, &severities);
        for (size_t i = 0; i < problems.size(); ++i)
            if (severities[i] == ProblemSeverity::Blocking) blockers.push_back(problems[i]);
    }
    CloseMacDrive();
    StatusCode = 0;
    const std::vector<std::vector<std::string>> commands = {
        {"mkdir", path, "New"}, {"put", path, pc}, {"rename", path, "Empty", "Vacant"}, {"rm", path, "-r", "K"}};
    std::vector<std::string> argv{"timeout", "60", QUAYLINK_CLI_PATH};
    const std::vector<std::string>& command = commands[row.size() % commands.size()];
    argv.insert(argv.end(), command.begin(), command.end());
    SCOPED_TRACE(command[0]);
    const CommandResult r = RunCommand(argv);
    if (Harmless(row)) {
        EXPECT_TRUE(blockers.empty()) << "blocks writes:" << Listing(blockers);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        for (const std::string& p : CheckImageFile(path))
            EXPECT_NE(std::find(problems.begin(), problems.end(), p), problems.end()) << "the write added: " << p;
        return;
    }
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_TRUE(ReadFileBytes(path) == bytes) << "the command changed the image";
    if (!opened || row == "AlternateMissing" || row == "AlternateMdbCutOff") return;
    ASSERT_FALSE(blockers.empty()) << "a write is allowed on:" << Listing(problems);
    const std::string guard = "Mac volume is read only\nquaylink-cli: " + path +
                              ": the volume is damaged where a write would spread the damage, so it is read only: ";
    if (r.err.rfind(guard, 0) == 0) {
        EXPECT_EQ(r.err.find(blockers[0].substr(0, 30)), guard.size()) << r.err;  // the rest may be Mac characters
    }
#else
    (void)clean;
    (void)bytes;
    (void)row;
#endif
}

class VolumeDamageTest : public VolumeCheckTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(VolumeDamageTest, IsReported)
{
    Image image = Clean().image;
    const Problems expected = GetParam().apply(image);
    EXPECT_TRUE(Reports(CheckBytes(image.bytes), expected));
    ExpectWriteGuard(Clean().image.bytes, image.bytes, GetParam().name);
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
    if (d.at != At::CachedMdb) ExpectWriteGuard(Clean().image.bytes, image.bytes, d.name);
}

template <typename Row>
std::string RowName(const ::testing::TestParamInfo<Row>& info)
{
    return info.param.name;
}
INSTANTIATE_TEST_SUITE_P(Kinds, VolumeDamageTest, ::testing::ValuesIn(kVolumeDamage), RowName<Damage>);
INSTANTIATE_TEST_SUITE_P(Fields, FieldDamageTest, ::testing::ValuesIn(kFieldDamage), RowName<FieldDamage>);

#ifdef QUAYLINK_CLI_PATH

// Folders inside themselves (F1 takes its parent's ID): a walk of folders
// ends as a damaged volume instead of going round; a write is refused.
TEST_F(VolumeCheckTest, CliWalkOfFoldersInsideThemselvesEnds)
{
    Image image = Clean().image;
    Put32(image.Item("F1").data + kFolderId, image.IdOf("K"));
    TempDir dir;
    const std::string path = dir.WriteFile("loop.img", image.bytes);
    CommandOptions options;
    options.outFile = dir.PathOf("out.txt");  // a walk that never ends fills a file, not memory
    for (const std::vector<std::string>& args : {std::vector<std::string>{"ls", path, "-R"}, {"ls", path, "K", "-R"}}) {
        std::vector<std::string> argv{"timeout", "60", QUAYLINK_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        const CommandResult r = RunCommand(argv, options);
        EXPECT_EQ(r.exitCode, 2) << args[2];
        EXPECT_EQ(r.err.rfind("Error Locating Node. Disk may be corrupt. (Use a disk diagnostic on the Mac.)", 0), 0u)
            << r.err;
    }
    ExpectWriteGuard(Clean().image.bytes, image.bytes, "FolderInsideItself");
}

#endif

}  // namespace
