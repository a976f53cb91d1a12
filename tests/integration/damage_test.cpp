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
#include <cinttypes>
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

#include "disk/status.h"
#include "hfs/bytes.h"
#include "support/engine_state.h"
#include "support/mini_volume.h"
#include "support/temp_image.h"
#include "support/volume_walk.h"
#include "ui/main_state.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kBlock = 512;

// ---------------------------------------------------------------------------
// Making the base images with hfsutils.

bool HfsutilsAvailable()
{
    return std::system("command -v hformat >/dev/null 2>&1 && command -v hcopy >/dev/null 2>&1 && "
                       "command -v hmkdir >/dev/null 2>&1 && command -v hdel >/dev/null 2>&1") == 0;
}

// Runs one hfsutils command with its own HOME (hmount keeps its state there).
// Paths are temporary paths without quotes in them.
void Hfs(const std::string& home, const std::string& command)
{
    const std::string line = "HOME='" + home + "' " + command + " >/dev/null 2>&1";
    if (std::system(line.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

void Shell(const std::string& command)
{
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

void WriteBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

// The whole file, read in one piece (the images run to tens of megabytes).
Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error("cannot read " + path);
    Bytes bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) throw std::runtime_error("cannot read " + path);
    return bytes;
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t U32(const uint8_t* p) { return uint32_t{U16(p)} << 16 | U16(p + 2); }
void Put16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void Put32(uint8_t* p, uint32_t v)
{
    Put16(p, v >> 16);
    Put16(p + 2, v);
}

// A MacBinary II file, so that hcopy -m makes a file with a resource fork.
Bytes MacBinary(const std::string& name, const char* type, const char* creator, const Bytes& data, const Bytes& rsrc)
{
    Bytes out(128, 0);
    out[1] = static_cast<uint8_t>(name.size());
    std::memcpy(&out[2], name.data(), name.size());
    std::memcpy(&out[65], type, 4);
    std::memcpy(&out[69], creator, 4);
    Put32(&out[83], static_cast<uint32_t>(data.size()));
    Put32(&out[87], static_cast<uint32_t>(rsrc.size()));
    Put32(&out[91], 0xB5000000u);
    Put32(&out[95], 0xB5000000u);
    out[122] = out[123] = 129;
    uint16_t crc = 0;
    for (int i = 0; i < 124; ++i) {
        crc = static_cast<uint16_t>(crc ^ (out[i] << 8));
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    Put16(&out[124], crc);
    for (const Bytes* fork : {&data, &rsrc}) {
        out.insert(out.end(), fork->begin(), fork->end());
        out.resize((out.size() + 127) / 128 * 128, 0);
    }
    return out;
}

uint16_t FreeAllocationBlocks(const std::string& image)
{
    const Bytes bytes = ReadAll(image);
    return bytes.size() >= 3 * kBlock ? U16(&bytes[2 * kBlock + 34]) : 0;
}

// A 1.44 MB volume: folders six deep and an empty one, a folder of 150
// empty files (so the catalog has index nodes), files with resource forks,
// and a file in many pieces (so the extents tree has records). Returns the
// number of files.
unsigned MakeFloppy(const TempDir& dir, const std::string& home, const std::string& image)
{
    WriteBytes(image, Bytes(1474560, 0));
    Hfs(home, "hformat -l Damage " + Quoted(image));
    Hfs(home, "hmkdir :A :A:B :A:B:C :A:B:C:D :A:B:C:D:E :Empty :Many");
    unsigned files = 0;

    std::string smalls;
    for (int i = 1; i <= 80; ++i) {
        const std::string path = dir.PathOf("s" + std::to_string(i));
        WriteBytes(path, PatternBytes(600 + i, static_cast<uint32_t>(i)));
        smalls += " " + Quoted(path);
    }
    Hfs(home, "hcopy -r" + smalls + " :");
    // Fill the volume, free every other small file, and write a file that
    // must take the holes one or two blocks at a time.
    const uint32_t free = FreeAllocationBlocks(image);
    WriteBytes(dir.PathOf("filler"), Bytes((free - 2) * kBlock, 0));
    Hfs(home, "hcopy -r " + Quoted(dir.PathOf("filler")) + " :Filler");
    std::string odd;
    for (int i = 1; i <= 80; i += 2) odd += " :s" + std::to_string(i);
    Hfs(home, "hdel" + odd);
    WriteBytes(dir.PathOf("big"), PatternBytes(30000, 7));
    Hfs(home, "hcopy -r " + Quoted(dir.PathOf("big")) + " :Big");
    Hfs(home, "hdel :Filler");
    files += 40 + 1;

    std::string empties;
    for (int i = 0; i < 150; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "e%03d", i);
        const std::string path = dir.PathOf(name);
        WriteBytes(path, {});
        empties += " " + Quoted(path);
    }
    Hfs(home, "hcopy -r" + empties + " :Many:");
    files += 150;

    const char* places[] = {":A:Res1", ":A:B:Res2", ":A:B:C:D:E:Deep", ":Res3"};
    uint32_t seed = 100;
    for (const char* place : places) {
        const std::string path = dir.PathOf("mb" + std::to_string(seed));
        WriteBytes(path, MacBinary("x", "APPL", "tEst", PatternBytes(700 * (seed - 99), seed),
                                   PatternBytes(1500, seed + 50)));
        Hfs(home, "hcopy -m " + Quoted(path) + " " + place);
        ++seed;
        ++files;
    }
    Hfs(home, "humount");
    return files;
}

// A small populated volume of `blocks` 512-byte blocks, as a separate file.
unsigned MakePartitionVolume(const TempDir& dir, const std::string& home, const std::string& image, uint32_t blocks,
                             const std::string& label)
{
    WriteBytes(image, Bytes(size_t{blocks} * kBlock, 0));
    Hfs(home, "hformat -l " + label + " " + Quoted(image));
    Hfs(home, "hmkdir :F :F:G");
    std::string files;
    for (int i = 0; i < 12; ++i) {
        const std::string path = dir.PathOf(label + std::to_string(i));
        WriteBytes(path, PatternBytes(900 * i + 10, static_cast<uint32_t>(i + 200)));
        files += " " + Quoted(path);
    }
    Hfs(home, "hcopy -r" + files + " :F:");
    const std::string mb = dir.PathOf(label + "mb");
    WriteBytes(mb, MacBinary("r", "TEXT", "ttxt", PatternBytes(3000, 300), PatternBytes(2000, 301)));
    Hfs(home, "hcopy -m " + Quoted(mb) + " :F:G:Both");
    Hfs(home, "humount");
    return 13;
}

// An Apple partition map (driver descriptor in block 0, map entries from
// block 1) with two HFS partitions, the second with 1024-byte allocation
// blocks, and a free partition.
unsigned MakePartitioned(const TempDir& dir, const std::string& home, const std::string& image)
{
    constexpr uint32_t kFirst = 64, kLeftBlocks = 1600, kRightBlocks = 69632;  // 34 MB: 1 KB allocation blocks
    const std::string left = dir.PathOf("left.img");
    const std::string right = dir.PathOf("right.img");
    unsigned files = MakePartitionVolume(dir, home, left, kLeftBlocks, "Left");
    files += MakePartitionVolume(dir, home, right, kRightBlocks, "Right");
    const uint32_t total = kFirst + kLeftBlocks + kRightBlocks + 64;

    Bytes disk(size_t{total} * kBlock, 0);
    Put16(&disk[0], 0x4552);  // "ER"
    Put16(&disk[2], kBlock);
    Put32(&disk[4], total);
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
        Put16(e, 0x504D);  // "PM"
        Put32(e + 4, 4);
        Put32(e + 8, entries[k].start);
        Put32(e + 12, entries[k].length);
        std::memcpy(e + 16, entries[k].name, std::strlen(entries[k].name));
        std::memcpy(e + 48, entries[k].type, std::strlen(entries[k].type));
    }
    const Bytes l = ReadAll(left);
    const Bytes r = ReadAll(right);
    std::copy(l.begin(), l.end(), disk.begin() + kFirst * kBlock);
    std::copy(r.begin(), r.end(), disk.begin() + (kFirst + kLeftBlocks) * kBlock);
    WriteBytes(image, disk);
    return files;
}

// ---------------------------------------------------------------------------
// Where the structures of a valid image lie (read from the pristine image,
// which is trusted).

struct TreeMap {
    std::vector<size_t> nodes;       // image offset of every node of the file
    uint32_t header = 0;             // image offset of node 0's header record
    std::vector<uint32_t> leaves;    // leaf numbers in chain order
    std::vector<uint32_t> indexNodes;
};

struct RecordPos {
    size_t node;     // image offset of its node
    size_t key;      // image offset of its key
    size_t data;     // image offset of its data
};

struct VolumeMap {
    size_t base = 0;                 // image offset of volume block 0
    size_t mdb = 0;
    size_t alternate = 0;
    uint32_t allocBlocks = 0;
    uint32_t factor = 0;             // 512-byte blocks per allocation block
    TreeMap catalog, extents;
    std::vector<RecordPos> leafRecords, indexRecords, extentRecords, extentIndexRecords;
    std::vector<size_t> files, folders, threads;  // data offsets by record kind
};

struct DiskMap {
    std::vector<VolumeMap> volumes;
    std::vector<size_t> mapEntries;  // image offsets of partition map entries
};

TreeMap MapTree(const Bytes& image, const VolumeMap& v, unsigned sizeField, unsigned extentsField)
{
    TreeMap tree;
    const uint8_t* mdb = &image[v.mdb];
    const uint32_t firstAlloc = U16(mdb + 28);
    const uint32_t nodes = U32(mdb + sizeField) / kBlock;
    for (uint32_t n = 0; n < nodes; ++n) {
        uint32_t a = n / v.factor;
        const uint32_t r = n % v.factor;
        for (int i = 0; i < 3; ++i) {
            const uint32_t start = U16(mdb + extentsField + 4 * i);
            const uint32_t count = U16(mdb + extentsField + 4 * i + 2);
            if (a < count) {
                tree.nodes.push_back(v.base + (size_t{firstAlloc} + size_t{start + a} * v.factor + r) * kBlock);
                break;
            }
            a -= count;
        }
    }
    if (tree.nodes.empty()) return tree;
    const uint8_t* header = &image[tree.nodes[0]];
    tree.header = static_cast<uint32_t>(tree.nodes[0] + 14);
    for (uint32_t n = U32(header + 24), steps = 0; n != 0 && n < tree.nodes.size() && steps < tree.nodes.size();
         n = U32(&image[tree.nodes[n]]), ++steps)
        tree.leaves.push_back(n);
    for (uint32_t n = 1; n < tree.nodes.size(); ++n) {
        const uint8_t* node = &image[tree.nodes[n]];
        if (node[8] == 0 && U16(node + 10) > 0) tree.indexNodes.push_back(n);
    }
    return tree;
}

std::vector<RecordPos> Records(const Bytes& image, size_t node)
{
    std::vector<RecordPos> records;
    const uint8_t* d = &image[node];
    const unsigned count = U16(d + 10);
    for (unsigned i = 0; i < count && i < 250; ++i) {
        const unsigned offset = U16(d + 510 - 2 * i);
        if (offset >= kBlock) break;
        records.push_back({node, node + offset, node + offset + ((d[offset] + 2u) & ~1u)});
    }
    return records;
}

VolumeMap MapVolume(const Bytes& image, size_t base, uint32_t blocks)
{
    VolumeMap v;
    v.base = base;
    v.mdb = base + 2 * kBlock;
    v.alternate = base + (size_t{blocks} - 2) * kBlock;
    const uint8_t* mdb = &image[v.mdb];
    v.allocBlocks = U16(mdb + 18);
    v.factor = U32(mdb + 20) / kBlock;
    v.extents = MapTree(image, v, 130, 134);
    v.catalog = MapTree(image, v, 146, 150);
    for (uint32_t leaf : v.catalog.leaves) {
        for (const RecordPos& r : Records(image, v.catalog.nodes[leaf])) {
            v.leafRecords.push_back(r);
            const uint8_t type = image[r.data];
            (type == 1 ? v.folders : type == 2 ? v.files : v.threads).push_back(r.data);
        }
    }
    for (uint32_t n : v.catalog.indexNodes)
        for (const RecordPos& r : Records(image, v.catalog.nodes[n])) v.indexRecords.push_back(r);
    for (uint32_t leaf : v.extents.leaves)
        for (const RecordPos& r : Records(image, v.extents.nodes[leaf])) v.extentRecords.push_back(r);
    for (uint32_t n : v.extents.indexNodes)
        for (const RecordPos& r : Records(image, v.extents.nodes[n])) v.extentIndexRecords.push_back(r);
    return v;
}

DiskMap MapDisk(const Bytes& image)
{
    DiskMap map;
    if (U16(&image[2 * kBlock]) == 0x4244) {
        const uint8_t* mdb = &image[2 * kBlock];
        const uint32_t s = U32(mdb + 20) / kBlock;
        map.volumes.push_back(MapVolume(image, 0, ((U16(mdb + 28) + s + 1) / s + U16(mdb + 18)) * s));
        return map;
    }
    for (size_t k = 1; (k + 1) * kBlock <= image.size() && U16(&image[k * kBlock]) == 0x504D; ++k) {
        const uint8_t* e = &image[k * kBlock];
        map.mapEntries.push_back(k * kBlock);
        if (std::memcmp(e + 48, "Apple_HFS", 9) == 0)
            map.volumes.push_back(MapVolume(image, U32(e + 8) * kBlock, U32(e + 12)));
    }
    return map;
}

// ---------------------------------------------------------------------------
// Changing an image, and undoing the change.

class Mutation {
public:
    Mutation(Bytes& image, const DiskMap& map, uint64_t seed) : image_(image), map_(map), rng_(seed) {}

    void Apply(unsigned count)
    {
        for (unsigned i = 0; i < count; ++i) ApplyOne();
    }
    // Writes the changed bytes into the image file.
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

    void Set8(size_t offset, uint32_t value)
    {
        if (offset >= image_.size()) return;
        originals_.emplace(offset, image_[offset]);
        image_[offset] = static_cast<uint8_t>(value);
    }
    void Set16(size_t offset, uint32_t value)
    {
        Set8(offset, value >> 8);
        Set8(offset + 1, value);
    }
    void Set32(size_t offset, uint32_t value)
    {
        Set16(offset, value >> 16);
        Set16(offset + 2, value);
    }
    uint32_t Interesting32(uint32_t original, uint32_t near)
    {
        const uint32_t values[] = {0, 1, 2, 3, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu,
                                   original + 1, original - 1, near, near + 1, near - 1, static_cast<uint32_t>(rng_()),
                                   Below(near + 2)};
        return values[Below(sizeof values / sizeof values[0])];
    }
    uint32_t Interesting16(uint32_t original, uint32_t near)
    {
        const uint32_t values[] = {0, 1, 2, 13, 14, 15, 511, 512, 513, 0x7FFF, 0x8000, 0xFFFF, 0xFFFE,
                                   original + 1, original - 1, original ^ 1, near, near + 1, Below(0x10000),
                                   Below(near + 2)};
        return values[Below(sizeof values / sizeof values[0])] & 0xFFFF;
    }
    uint32_t Interesting8(uint32_t original)
    {
        const uint32_t values[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 31, 32, 37, 38, 0x7F, 0x80, 0xFF, 0xFE,
                                   original + 1, original - 1, Below(256)};
        return values[Below(sizeof values / sizeof values[0])] & 0xFF;
    }
    void Note(const char* what) { log_ += std::string(what) + "\n"; }

    const VolumeMap& Volume() { return Pick(map_.volumes); }
    const TreeMap& Tree(const VolumeMap& v) { return Chance(75) ? v.catalog : v.extents; }
    size_t AnyNode(const VolumeMap& v)
    {
        const TreeMap& tree = Tree(v);
        if (tree.nodes.empty()) return v.mdb;
        // Mostly nodes in use (header, index, leaves), sometimes any node.
        if (Chance(70)) {
            std::vector<uint32_t> used = tree.leaves;
            used.insert(used.end(), tree.indexNodes.begin(), tree.indexNodes.end());
            used.push_back(0);
            return tree.nodes[Pick(used)];
        }
        return tree.nodes[Below(static_cast<uint32_t>(tree.nodes.size()))];
    }
    static uint32_t NodeCount(const TreeMap& tree) { return static_cast<uint32_t>(tree.nodes.size()); }

    void ApplyOne()
    {
        const VolumeMap& v = Volume();
        switch (Below(16)) {
        case 0: MdbBytes(v); break;
        case 1: MdbField(v); break;
        case 2: NodeDescriptor(v); break;
        case 3: RecordOffset(v); break;
        case 4: KeyLength(v); break;
        case 5: LeafLink(v); break;
        case 6: IndexChild(v); break;
        case 7: ExtentPastEnd(v); break;
        case 8: Valence(v); break;
        case 9: HeaderField(v); break;
        case 10: CatalogRecord(v); break;
        case 11: NodeCopy(v); break;
        case 12: RandomMetadata(v); break;
        case 13:
            if (!map_.mapEntries.empty()) {
                PartitionMap();
                break;
            }
            [[fallthrough]];
        case 14: KeyFields(v); break;
        default: RandomMetadata(v); break;
        }
    }

    void MdbBytes(const VolumeMap& v)
    {
        Note("random master block bytes");
        const unsigned n = 1 + Below(8);
        for (unsigned i = 0; i < n; ++i) Set8(v.mdb + Below(Chance(80) ? 162 : 512), Below(256));
        if (Chance(20)) Set8(v.alternate + Below(2), Below(256));
    }

    void MdbField(const VolumeMap& v)
    {
        Note("master block field");
        struct Field {
            unsigned offset, width;
        };
        static const Field fields[] = {{0, 2}, {12, 2}, {14, 2}, {18, 2}, {20, 4}, {28, 2}, {30, 4}, {36, 1},
                                       {82, 2}, {84, 4}, {88, 4}, {130, 4}, {134, 2}, {136, 2}, {138, 2}, {140, 2},
                                       {142, 2}, {144, 2}, {146, 4}, {150, 2}, {152, 2}, {154, 2}, {156, 2},
                                       {158, 2}, {160, 2}};
        const Field& f = fields[Below(sizeof fields / sizeof fields[0])];
        const uint8_t* p = &image_[v.mdb + f.offset];
        if (f.width == 4)
            Set32(v.mdb + f.offset, Interesting32(U32(p), v.allocBlocks * v.factor * 512u));
        else if (f.width == 2)
            Set16(v.mdb + f.offset, Interesting16(U16(p), v.allocBlocks));
        else
            Set8(v.mdb + f.offset, Interesting8(*p));
    }

    void NodeDescriptor(const VolumeMap& v)
    {
        Note("node descriptor");
        const TreeMap& tree = Tree(v);
        const size_t node = AnyNode(v);
        switch (Below(5)) {
        case 0: Set32(node, Interesting32(U32(&image_[node]), NodeCount(tree))); break;
        case 1: Set32(node + 4, Interesting32(U32(&image_[node + 4]), NodeCount(tree))); break;
        case 2: Set8(node + 8, Pick(std::vector<uint32_t>{0, 1, 2, 0xFF, 0x80, Below(256)})); break;
        case 3: Set8(node + 9, Interesting8(image_[node + 9])); break;
        default: Set16(node + 10, Interesting16(U16(&image_[node + 10]), 250)); break;
        }
    }

    void RecordOffset(const VolumeMap& v)
    {
        Note("record offset");
        const size_t node = AnyNode(v);
        const unsigned count = U16(&image_[node + 10]);
        const unsigned i = Below(std::min(count + 2, 250u));
        const size_t at = node + 510 - 2 * i;
        if (Chance(25) && i > 0) {
            // Swap with the previous entry: offsets no longer rise.
            const uint16_t a = U16(&image_[at]);
            const uint16_t b = U16(&image_[at + 2]);
            Set16(at, b);
            Set16(at + 2, a);
        } else {
            Set16(at, Interesting16(U16(&image_[at]), 510 - 2 * count));
        }
    }

    void KeyLength(const VolumeMap& v)
    {
        Note("key length");
        const std::vector<RecordPos>* lists[] = {&v.leafRecords, &v.indexRecords, &v.extentRecords,
                                                 &v.extentIndexRecords};
        const std::vector<RecordPos>& list = *lists[Below(4)];
        if (list.empty()) return MdbBytes(v);
        const RecordPos& r = Pick(list);
        Set8(r.key, Interesting8(image_[r.key]));
    }

    void LeafLink(const VolumeMap& v)
    {
        const TreeMap& tree = Chance(80) ? v.catalog : v.extents;
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
            Set32(Chance(50) ? node + 4 : tree.header + Pick(std::vector<uint32_t>{10, 14}), Pick(targets));
        }
    }

    void IndexChild(const VolumeMap& v)
    {
        const bool catalog = Chance(80);
        const std::vector<RecordPos>& records = catalog ? v.indexRecords : v.extentIndexRecords;
        const TreeMap& tree = catalog ? v.catalog : v.extents;
        if (records.empty()) return LeafLink(v);
        Note("index record child");
        const RecordPos& r = Pick(records);
        std::vector<uint32_t> targets = {0, NodeCount(tree), NodeCount(tree) - 1, static_cast<uint32_t>(rng_()),
                                         U32(&image_[r.data]) + 1};
        for (uint32_t n : tree.indexNodes) targets.push_back(n);  // a descent that loops or skips a level
        if (!tree.leaves.empty()) targets.push_back(Pick(tree.leaves));
        Set32(r.data, Pick(targets));
    }

    void ExtentPastEnd(const VolumeMap& v)
    {
        Note("extent or fork length");
        const uint32_t starts[] = {v.allocBlocks, v.allocBlocks - 1, 0xFFFF, 0xFFFE, 0, Below(0x10000)};
        const uint32_t counts[] = {1, 2, 0xFFFF, v.allocBlocks, v.allocBlocks + 1, 0, Below(0x10000)};
        size_t extents = 0;
        const unsigned where = Below(4);
        if (where <= 1 && !v.files.empty()) {
            const size_t file = Pick(v.files);
            if (Chance(30)) {
                const unsigned lengthField = Pick(std::vector<unsigned>{26, 30, 36, 40});
                const uint32_t volumeBytes = v.allocBlocks * v.factor * 512u;
                Set32(file + lengthField, Interesting32(U32(&image_[file + lengthField]), volumeBytes));
                return;
            }
            extents = file + (Chance(50) ? 74 : 86);
        } else if (where == 2 && !v.extentRecords.empty()) {
            extents = Pick(v.extentRecords).data;
        } else {
            extents = v.mdb + (Chance(50) ? 134 : 150);
        }
        const size_t d = extents + 4 * Below(3);
        if (Chance(50)) Set16(d, starts[Below(sizeof starts / sizeof starts[0])]);
        if (Chance(70)) Set16(d + 2, counts[Below(sizeof counts / sizeof counts[0])]);
    }

    void Valence(const VolumeMap& v)
    {
        Note("valence or volume counts");
        if (v.folders.empty() || Chance(15)) {
            Set16(v.mdb + Pick(std::vector<unsigned>{12, 82}), Interesting16(0, 1000));
            return;
        }
        const size_t folder = Pick(v.folders);
        const uint32_t real = U16(&image_[folder + 4]);
        Set16(folder + 4, Pick(std::vector<uint32_t>{real + 1, real + 2, real + 10, real + 1000, 0xFFFF, 0,
                                                     real ? real - 1 : 0}));
    }

    void HeaderField(const VolumeMap& v)
    {
        Note("header node field");
        const TreeMap& tree = Chance(60) ? v.catalog : v.extents;
        if (tree.nodes.empty()) return MdbField(v);
        const size_t h = tree.header;
        switch (Below(10)) {
        case 0: Set16(h + 0, Interesting16(U16(&image_[h]), 8)); break;                                 // depth
        case 1: Set32(h + 2, Interesting32(U32(&image_[h + 2]), NodeCount(tree))); break;               // root
        case 2: Set32(h + 6, Interesting32(U32(&image_[h + 6]), 1000)); break;                          // leaf records
        case 3: Set32(h + 10, Interesting32(U32(&image_[h + 10]), NodeCount(tree))); break;             // first leaf
        case 4: Set32(h + 14, Interesting32(U32(&image_[h + 14]), NodeCount(tree))); break;             // last leaf
        case 5: Set16(h + 18, Interesting16(512, 1024)); break;                                          // node size
        case 6: Set16(h + 20, Interesting16(U16(&image_[h + 20]), 37)); break;                          // max key
        case 7: Set32(h + 22, Interesting32(U32(&image_[h + 22]), NodeCount(tree))); break;             // total nodes
        case 8: Set32(h + 26, Interesting32(U32(&image_[h + 26]), NodeCount(tree))); break;             // free nodes
        default: {
            // The header node's own descriptor and record offsets.
            const size_t node = tree.nodes[0];
            if (Chance(50))
                Set8(node + 8, Below(256));
            else
                Set16(node + 510 - 2 * Below(4), Interesting16(14, 248));
        }
        }
    }

    void CatalogRecord(const VolumeMap& v)
    {
        Note("catalog record field");
        switch (Below(5)) {
        case 0: {
            if (v.leafRecords.empty()) return MdbBytes(v);
            Set8(Pick(v.leafRecords).data, Pick(std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 0x81, 0xFF}));
            break;
        }
        case 1: {
            // Folder IDs: a folder inside itself, two folders with one ID, the root's ID.
            if (v.folders.empty()) return MdbBytes(v);
            const size_t folder = Pick(v.folders);
            std::vector<uint32_t> ids = {0, 1, 2, 0xFFFFFFFFu, static_cast<uint32_t>(rng_())};
            for (size_t f : v.folders) ids.push_back(U32(&image_[f + 6]));
            Set32(folder + 6, Pick(ids));
            break;
        }
        case 2: {
            if (v.threads.empty()) return MdbBytes(v);
            const size_t thread = Pick(v.threads);
            if (Chance(50))
                Set32(thread + 10, Interesting32(U32(&image_[thread + 10]), 20));
            else
                Set8(thread + 14, Interesting8(image_[thread + 14]));
            break;
        }
        case 3: {
            if (v.files.empty()) return MdbBytes(v);
            Set32(Pick(v.files) + 20, Interesting32(0, 20));
            break;
        }
        default: {
            // Finder flags, invisible bit included.
            if (v.files.empty()) return MdbBytes(v);
            Set8(Pick(v.files) + 12, Below(256));
            break;
        }
        }
    }

    void KeyFields(const VolumeMap& v)
    {
        Note("key parent ID or name length");
        if (v.leafRecords.empty()) return MdbBytes(v);
        const RecordPos& r = Chance(70) || v.indexRecords.empty() ? Pick(v.leafRecords) : Pick(v.indexRecords);
        if (Chance(50))
            Set32(r.key + 2, Interesting32(U32(&image_[r.key + 2]), 20));
        else
            Set8(r.key + 6, Interesting8(image_[r.key + 6]));
    }

    void NodeCopy(const VolumeMap& v)
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

    void RandomMetadata(const VolumeMap& v)
    {
        Note("random bytes in a node");
        const size_t node = AnyNode(v);
        const unsigned n = 1 + Below(Chance(70) ? 4 : 32);
        for (unsigned i = 0; i < n; ++i) Set8(node + Below(kBlock), Below(256));
    }

    void PartitionMap()
    {
        Note("partition map");
        const size_t e = Pick(map_.mapEntries);
        const uint32_t blocks = static_cast<uint32_t>(image_.size() / kBlock);
        switch (Below(8)) {
        case 0: Set16(e, Pick(std::vector<uint32_t>{0, 0x5453, 0x4244, Below(0x10000)})); break;
        case 1: Set32(e + 4, Interesting32(U32(&image_[e + 4]), 64)); break;
        case 2: Set32(e + 8, Pick(std::vector<uint32_t>{0, 1, 2, 64, blocks - 1, blocks, 0xFFFFFFFFu,
                                                        0x80000000u, Below(blocks), U32(&image_[e + 8]) + 1})); break;
        case 3: Set32(e + 12, Pick(std::vector<uint32_t>{0, 1, 2, 3, 4, 100, blocks, 0xFFFFFFFFu, Below(blocks * 2)}));
            break;
        case 4: {
            const char* types[] = {"Apple_HFS", "Apple_HFSX", "Apple_Free", "Apple_partition_map", "Apple_HF"};
            const char* type = types[Below(5)];
            for (size_t i = 0; i < 32; ++i) Set8(e + 48 + i, i < std::strlen(type) ? type[i] : 0);
            break;
        }
        case 5:
            // Block 2 of the device with an MDB signature: a bare volume over the map.
            Set16(2 * kBlock, 0x4244);
            break;
        case 6:
            // The older map: its entries are whatever the first map entry holds.
            Set16(kBlock, 0x5453);
            break;
        default:
            for (int i = 0; i < 4; ++i) Set8(e + Below(64), Below(256));
            break;
        }
    }

    Bytes& image_;
    const DiskMap& map_;
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
    DiskMap map;
    unsigned files = 0;
    unsigned folders = 0;
    unsigned volumes = 0;
};

class DamageTest : public EngineStateTest {
protected:
    static void SetUpTestSuite()
    {
        if (!HfsutilsAvailable()) return;
        dir_ = new TempDir();
        const std::string home = dir_->PathOf("home");
        std::filesystem::create_directory(home);
        try {
            floppy_ = new BaseImage();
            floppy_->path = dir_->PathOf("floppy.img");
            floppy_->files = MakeFloppy(*dir_, home, floppy_->path);
            floppy_->folders = 8;  // the root, A to E six deep, Empty, Many
            floppy_->volumes = 1;
            partitioned_ = new BaseImage();
            partitioned_->path = dir_->PathOf("partitioned.img");
            partitioned_->files = MakePartitioned(*dir_, home, partitioned_->path);
            partitioned_->folders = 6;  // each volume's root, F and F:G
            partitioned_->volumes = 2;
            for (BaseImage* base : {floppy_, partitioned_}) {
                base->pristine = ReadAll(base->path);
                base->map = MapDisk(base->pristine);
            }
            floppy_->name = "floppy";
            partitioned_->name = "partitioned";
            AddCorpusImages();
        } catch (const std::exception& e) {
            setupError_ = e.what();
        }
    }

    // Real volumes from the shared corpus, copied (the corpus is read only;
    // a gzip one is unpacked): bare floppies of several system versions, one
    // with extents overflow records, a partition map, and a volume of many
    // small extents. The counts come from a walk of the untouched copy.
    static void AddCorpusImages()
    {
        static const char* const kCorpusImages[] = {
            "imac/Speed Disk 3.1.3.dsk",
            "imac/System 7.5 Disk Tools FD.dsk",
            "opf/JW_disk9_hfstest_9.img",
            "cp2/apm-prodos-hfs.iso",
            "behier/manyExtents.img.gz",
        };
        for (const char* relative : kCorpusImages) {
            const std::filesystem::path source = std::filesystem::path(QUAYLINK_CORPUS_DIR) / relative;
            if (!std::filesystem::exists(source)) continue;
            auto base = std::make_unique<BaseImage>();
            base->name = relative;
            base->path = dir_->PathOf("corpus" + std::to_string(corpus_.size()) + ".img");
            if (source.extension() == ".gz") {
                Shell("gzip -dc " + Quoted(source.string()) + " > " + Quoted(base->path));
            } else {
                std::filesystem::copy_file(source, base->path);
                std::filesystem::permissions(base->path, std::filesystem::perms::owner_write,
                                             std::filesystem::perm_options::add);
            }
            base->pristine = ReadAll(base->path);
            base->map = MapDisk(base->pristine);
            const WalkSummary s = WalkVolume(base->path.c_str());
            ResetEngineState();
            if (!s.Clean()) throw std::runtime_error(std::string("corpus image does not walk cleanly: ") + relative);
            base->files = s.files;
            base->folders = s.folders;
            base->volumes = s.volumes;
            corpus_.push_back(base.release());
        }
    }
    static void TearDownTestSuite()
    {
        for (BaseImage* base : corpus_) delete base;
        corpus_.clear();
        delete floppy_;
        delete partitioned_;
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
    // case applies one to three changes chosen by its seed.
    static void Campaign(const std::vector<BaseImage*>& bases, uint64_t seedBase, unsigned cases)
    {
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
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("%u damaged images walked in %.1f s; first status 0: %u, 3: %u, 6: %u, 7: %u\n", ran, seconds,
                    statusCounts[0], statusCounts[3], statusCounts[6], statusCounts[7]);
        g_currentCase.clear();
    }

    static unsigned Cases(unsigned normal, unsigned longRun) { return LongCampaign() ? longRun : normal; }

    static TempDir* dir_;
    static BaseImage* floppy_;
    static BaseImage* partitioned_;
    static std::vector<BaseImage*> corpus_;
    static std::string setupError_;
};

TempDir* DamageTest::dir_ = nullptr;
BaseImage* DamageTest::floppy_ = nullptr;
BaseImage* DamageTest::partitioned_ = nullptr;
std::vector<BaseImage*> DamageTest::corpus_;
std::string DamageTest::setupError_;

TEST_F(DamageTest, BaseImagesWalkCleanly)
{
    ASSERT_EQ(floppy_->map.volumes.size(), 1u);
    ASSERT_EQ(partitioned_->map.volumes.size(), 2u);
    // The damage must reach the structures that make the reader work hard.
    const VolumeMap& f = floppy_->map.volumes[0];
    EXPECT_FALSE(f.catalog.indexNodes.empty());
    EXPECT_GT(f.catalog.leaves.size(), 10u);
    EXPECT_FALSE(f.extentRecords.empty());
    EXPECT_EQ(partitioned_->map.volumes[1].factor, 2u);
    ExpectCleanWalk(*floppy_);
    ExpectCleanWalk(*partitioned_);
}

TEST_F(DamageTest, DamagedFloppyVolume)
{
    Campaign({floppy_}, 1, Cases(10000, 100000));
}

TEST_F(DamageTest, DamagedPartitionedDisk)
{
    Campaign({partitioned_}, 2, Cases(8000, 50000));
}

TEST_F(DamageTest, DamagedCorpusImages)
{
    if (corpus_.empty()) GTEST_SKIP() << "corpus not present";
    Campaign(corpus_, 3, Cases(8000, 50000));
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
