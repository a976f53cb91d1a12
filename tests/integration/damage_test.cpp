// Damaged media: valid volumes made by hfsutils (and real ones from the
// shared corpus, when it is there) are changed thousands of times, a few
// bytes at a time and seeded, in the places where a reader trusts the disk
// (master block fields, node descriptors, record offsets, key lengths, leaf
// links, index children, extents, valences, header nodes, partition map
// entries), and each changed image is walked in full. Every
// walk must end, either with everything listed and read or with the status
// of a damaged medium (3, 6 or 7); never with a crash, a sanitizer report,
// an endless loop or a write to the medium.
//
// QUAYLINK_LONG=1 runs a much longer campaign (200,000 cases; split it over
// processes with QUAYLINK_DAMAGE_SHARD=k/n). QUAYLINK_DAMAGE_CASE=N runs only
// case N of each test and prints its changes (to turn a failure into a
// regression case below). For example:
//
//   QUAYLINK_LONG=1 QUAYLINK_DAMAGE_SHARD=0/2 build/tests/quaylink_integration_tests --gtest_filter='Damage*'
//   QUAYLINK_DAMAGE_CASE=1234 build/tests/quaylink_integration_tests --gtest_filter=DamageTest.DamagedFloppyVolume
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
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
#include <thread>
#include <vector>

// The death callback lives in the sanitizer runtime, which only a sanitized
// build links.
#if defined(__SANITIZE_ADDRESS__) && defined(__has_include)
#if __has_include(<sanitizer/common_interface_defs.h>)
#include <sanitizer/common_interface_defs.h>
#define QUAYLINK_HAVE_SANITIZER_CALLBACK 1
#endif
#endif

#include "core/status.h"
#include "hfs/bytes.h"
#include "support/engine_state.h"
#include "support/hfs_layout.h"
#include "support/hfsutils_driver.h"
#include "support/mini_volume.h"
#include "support/run_command.h"
#include "support/temp_image.h"
#include "support/volume_walk.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Files = std::vector<std::pair<std::string, Bytes>>;
constexpr size_t kBlock = 512;

// ---------------------------------------------------------------------------
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

// A 1.44 MB volume: folders six deep and an empty one, a folder of 150
// empty files (so the catalog has index nodes), files with resource forks,
// and a file in many pieces (so the extents tree has records). Returns the
// number of files.
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

// An Apple partition map (driver descriptor in block 0, map entries from
// block 1) with two HFS partitions, the second with 1024-byte allocation
// blocks, and a free partition.
unsigned MakePartitioned(const TempDir& dir, const std::string& image)
{
    constexpr uint32_t kFirst = 64, kLeftBlocks = 1600, kRightBlocks = 69632;  // 34 MB: 1 KB allocation blocks
    const std::string left = dir.PathOf("left.img");
    const std::string right = dir.PathOf("right.img");
    const unsigned files =
        MakePartitionVolume(left, kLeftBlocks, "Left") + MakePartitionVolume(right, kRightBlocks, "Right");
    const uint32_t total = kFirst + kLeftBlocks + kRightBlocks + 64;

    Bytes disk(size_t{total} * kBlock, 0);
    PutU16(0x4552, &disk[0]);  // "ER"
    PutU16(kBlock, &disk[2]);
    PutU32(total, &disk[4]);
    struct Entry {
        const char* name;
        const char* type;
        uint32_t start, length;
    };
    const Entry entries[] = {
        {"Apple", "Apple_partition_map", 1, 63},
        {"Left", "Apple_HFS", kFirst, kLeftBlocks},
        {"Right", "Apple_HFS", kFirst + kLeftBlocks, kRightBlocks},
        {"Extra", "Apple_Free", kFirst + kLeftBlocks + kRightBlocks, 64},
    };
    for (size_t k = 0; k < 4; ++k) {
        uint8_t* e = &disk[(k + 1) * kBlock];
        PutU16(0x504D, e);  // "PM"
        PutU32(4, e + 4);
        PutU32(entries[k].start, e + 8);
        PutU32(entries[k].length, e + 12);
        std::memcpy(e + 16, entries[k].name, std::strlen(entries[k].name));
        std::memcpy(e + 48, entries[k].type, std::strlen(entries[k].type));
    }
    const Bytes l = ReadFileBytes(left);
    const Bytes r = ReadFileBytes(right);
    std::copy(l.begin(), l.end(), disk.begin() + kFirst * kBlock);
    std::copy(r.begin(), r.end(), disk.begin() + (kFirst + kLeftBlocks) * kBlock);
    dir.WriteFile(std::filesystem::path(image).filename().string(), disk);
    return files;
}

// ---------------------------------------------------------------------------
// Where the damage goes: the structures of the pristine image, which is
// trusted, as image offsets.

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

// ---------------------------------------------------------------------------
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
    std::string Describe() const
    {
        std::string text = log_;
        for (const auto& [offset, original] : originals_) {
            char line[64];
            std::snprintf(line, sizeof line, "  byte %zu: %02X -> %02X\n", offset, original, image_[offset]);
            text += line;
        }
        return text;
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
    void Note(const char* what) { log_ += std::string(what) + "\n"; }

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
        Note("random master block bytes");
        for (unsigned i = 0, n = 1 + Below(8); i < n; ++i) Set8(v.mdb + Below(Chance(80) ? 162 : 512), Below(256));
        if (Chance(20)) Set8(v.alternate + Below(2), Below(256));
    }

    void MdbField(const VolumeTargets& v)
    {
        Note("master block field");
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
        Note("node descriptor");
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
        Note("record offset");
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
        Note("key length");
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
            Note("leaf forward link (cycle, self, header, index, past the end)");
            Set32(node, Pick(targets));
        } else {
            Note("leaf backward link or first/last leaf");
            Set32(Chance(50) ? node + 4 : tree.header + Pick({10, 14}), Pick(targets));
        }
    }

    void IndexChild(const VolumeTargets& v)
    {
        const TreeTargets& tree = Chance(80) ? v.catalog : v.extents;
        if (tree.indexRecords.empty()) return LeafLink(v);
        Note("index record child");
        const RecordPos& r = Pick(tree.indexRecords);
        std::vector<uint32_t> targets = {0, NodeCount(tree), NodeCount(tree) - 1, static_cast<uint32_t>(rng_()),
                                         U32At(r.data) + 1};
        for (uint32_t n : tree.indexNodes) targets.push_back(n);  // a descent that loops or skips a level
        if (!tree.leaves.empty()) targets.push_back(Pick(tree.leaves));
        Set32(r.data, Pick(targets));
    }

    void ExtentPastEnd(const VolumeTargets& v)
    {
        Note("extent or fork length");
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
        Note("valence or volume counts");
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
        Note("header node field");
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
        Note("catalog record field");
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
        Note("key parent ID or name length");
        if (v.catalog.leafRecords.empty()) return MdbBytes(v);
        const RecordPos& r = Chance(70) || v.catalog.indexRecords.empty() ? Pick(v.catalog.leafRecords)
                                                                          : Pick(v.catalog.indexRecords);
        if (Chance(50)) Set32(r.key + 2, Interesting32(U32At(r.key + 2), 20));
        else Set8(r.key + 6, Interesting8(image_[r.key + 6]));
    }

    void NodeCopy(const VolumeTargets& v)
    {
        Note("one node copied over another");
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
        Note("random bytes in a node");
        const size_t node = AnyNode(v);
        for (unsigned i = 0, n = 1 + Below(Chance(70) ? 4 : 32); i < n; ++i) Set8(node + Below(kBlock), Below(256));
    }

    void PartitionMap(const VolumeTargets& v)
    {
        if (map_.mapEntries.empty()) return KeyFields(v);
        Note("partition map");
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
    std::string log_;
};

// ---------------------------------------------------------------------------
// A watchdog that ends the process when one walk takes far too long: an
// endless loop is a failure, and the case is printed so it can be re-run.

std::string g_currentCase;  // read by the watchdog and the sanitizer callback

class Watchdog {
public:
    Watchdog()
        : thread_([this] {
              while (!done_) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
                  const int64_t deadline = deadline_;
                  if (deadline != 0 && Now() > deadline) {
                      std::fprintf(stderr, "walk did not end within %d s: %s\n", kLimitSeconds, g_currentCase.c_str());
                      std::abort();
                  }
              }
          })
    {
    }
    ~Watchdog()
    {
        done_ = true;
        thread_.join();
    }
    void Start() { deadline_ = Now() + int64_t{kLimitSeconds} * 1000; }
    void Stop() { deadline_ = 0; }

private:
    static constexpr int kLimitSeconds = 20;
    static int64_t Now()
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    std::atomic<bool> done_{false};
    std::atomic<int64_t> deadline_{0};
    std::thread thread_;
};

#ifdef QUAYLINK_HAVE_SANITIZER_CALLBACK
void PrintCurrentCase() { std::fprintf(stderr, "while walking: %s\n", g_currentCase.c_str()); }
#endif

bool LongCampaign()
{
    const char* value = std::getenv("QUAYLINK_LONG");
    return value && *value && std::strcmp(value, "0") != 0;
}

// QUAYLINK_DAMAGE_SHARD=k/n: only the cases whose number is k modulo n, so
// that a long campaign can run in several processes.
bool InShard(unsigned i)
{
    const char* value = std::getenv("QUAYLINK_DAMAGE_SHARD");
    unsigned k = 0, n = 1;
    if (!value || std::sscanf(value, "%u/%u", &k, &n) != 2 || n == 0) return true;
    return i % n == k;
}

long OnlyCase()
{
    const char* value = std::getenv("QUAYLINK_DAMAGE_CASE");
    return value && *value ? std::strtol(value, nullptr, 10) : -1;
}

// ---------------------------------------------------------------------------

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

    // Real volumes from the shared corpus, copied (the corpus is read only;
    // a gzip one is unpacked): bare floppies of several system versions, one
    // with extents overflow records, a partition map, and a volume of many
    // small extents. The counts come from a walk of the untouched copy.
    static void AddCorpusImages()
    {
        for (const char* relative : {"imac/Speed Disk 3.1.3.dsk", "imac/System 7.5 Disk Tools FD.dsk",
                                     "opf/JW_disk9_hfstest_9.img", "cp2/apm-prodos-hfs.iso",
                                     "behier/manyExtents.img.gz"}) {
            const std::filesystem::path source = std::filesystem::path(QUAYLINK_CORPUS_DIR) / relative;
            if (!std::filesystem::exists(source)) continue;
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
#ifdef QUAYLINK_HAVE_SANITIZER_CALLBACK
        __sanitizer_set_death_callback(PrintCurrentCase);
#endif
    }

    // The pristine image walks cleanly: the base of every comparison.
    static void ExpectCleanWalk(const BaseImage& base)
    {
        for (const uint32_t sectorSize : {512u, 2048u}) {
            WalkOptions options;
            options.sectorSize = sectorSize;
            options.climb = true;
            const WalkSummary s = WalkVolume(base.path.c_str(), options);
            EXPECT_TRUE(s.Clean()) << "status " << s.firstStatus << " " << (LastCorruption ? LastCorruption : "");
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

    // Walks `cases` changed copies of the images, taking them in turn; each
    // case applies one to three changes chosen by its seed. A long campaign
    // (QUAYLINK_LONG) walks `longCases`.
    static void Campaign(const std::vector<BaseImage*>& bases, uint64_t seedBase, unsigned cases, unsigned longCases)
    {
        if (LongCampaign()) cases = longCases;
        Watchdog watchdog;
        const long only = OnlyCase();
        unsigned statusCounts[256] = {};
        const auto started = std::chrono::steady_clock::now();
        unsigned ran = 0;
        for (unsigned i = 0; i < cases; ++i) {
            if ((only >= 0 && static_cast<long>(i) != only) || (only < 0 && !InShard(i))) continue;
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
            g_currentCase = "case " + std::to_string(i) + " of " + base.name + " (seed " + std::to_string(seed) + ", " +
                            std::to_string(options.sectorSize) + "-byte sectors" +
                            (options.writable ? ", writable" : "") + ")\n" + mutation.Describe();
            if (only >= 0) std::printf("%s", g_currentCase.c_str());

            mutation.WriteTo(base.path, false);
            ResetEngineState();
            watchdog.Start();
            const WalkSummary s = WalkVolume(base.path.c_str(), options);
            watchdog.Stop();
            const uint32_t leftStatus = StatusCode;
            ResetEngineState();
            mutation.WriteTo(base.path, true);
            mutation.Undo();
            ++ran;

            bool ok = s.anomalies.empty() && s.deviceWrites == 0;
            for (uint32_t status : s.statuses)
                ok = ok && (status == kStatusReadError || status == kStatusBadNode || status == kStatusNoVolume);
            ++statusCounts[s.firstStatus & 0xFF];
            if (options.onFailure != WalkFailure::ClearAndGoOn) ok = ok && leftStatus == s.firstStatus;
            EXPECT_TRUE(ok) << g_currentCase << "first status " << s.firstStatus << ", left " << leftStatus
                            << ", writes " << s.deviceWrites << ", anomalies: "
                            << (s.anomalies.empty() ? "none" : s.anomalies[0]);
            if (!ok && only < 0) break;
            if (ran % 20000 == 0) {
                std::printf("  %u walked\n", ran);
                std::fflush(stdout);
            }
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("%u damaged images walked in %.1f s; first status 0: %u, 3: %u, 6: %u, 7: %u\n", ran, seconds,
                    statusCounts[0], statusCounts[3], statusCounts[6], statusCounts[7]);
        g_currentCase.clear();
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
    ASSERT_EQ(floppy_->map.volumes.size(), 1u);
    ASSERT_EQ(partitioned_->map.volumes.size(), 2u);
    // The damage must reach the structures that make the reader work hard.
    const VolumeTargets& f = floppy_->map.volumes[0];
    EXPECT_FALSE(f.catalog.indexNodes.empty());
    EXPECT_GT(f.catalog.leaves.size(), 10u);
    EXPECT_FALSE(f.extents.leafRecords.empty());
    EXPECT_EQ(partitioned_->map.volumes[1].volumeBytes / partitioned_->map.volumes[1].allocBlocks, 1024u);
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

// Cases the campaigns found, cut down to the damage that matters, on the
// small volume that needs no peer tools.
class DamageRegression : public EngineStateTest {
protected:
    WalkSummary Walk(const Bytes& bytes)
    {
        const std::string path = dir.WriteFile("damaged.img", bytes);
        return WalkVolume(path.c_str());
    }
    static void SetOffset(Bytes& image, size_t node, unsigned index, uint16_t offset)
    {
        PutU16(offset, &image[node + 510 - 2 * index]);
    }
    MiniVolume mini = MakeMiniVolume();
    TempDir dir;
};

// Record offsets that climb past the end of the node and fall back to the
// free space: only the last one was held to the node, so the check of the
// keys read far outside the node buffer.
TEST_F(DamageRegression, RecordOffsetsClimbingOutOfTheNode)
{
    Bytes image = mini.bytes;
    const size_t leaf = MiniVolume::CatalogNodeOffset(2);
    SetOffset(image, leaf, 1, 0xF000);
    SetOffset(image, leaf, 2, 0xF002);
    const WalkSummary s = Walk(image);
    EXPECT_EQ(s.firstStatus, kStatusBadNode);
    EXPECT_TRUE(s.anomalies.empty());

    // The same in the extents tree's leaf, reached while reading a fork.
    image = mini.bytes;
    const size_t extentsLeaf = MiniVolume::ExtentsNodeOffset(1);
    PutU16(3, &image[extentsLeaf + 10]);
    SetOffset(image, extentsLeaf, 1, 0x8000);
    SetOffset(image, extentsLeaf, 2, 0x8010);
    SetOffset(image, extentsLeaf, 3, 34);
    const WalkSummary e = Walk(image);
    EXPECT_EQ(e.firstStatus, kStatusBadNode);
    EXPECT_EQ(e.folders, 1u);  // the root listed; Delta's fourth extent is not found
}

}  // namespace
