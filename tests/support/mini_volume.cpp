#include "mini_volume.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#include "hfs/bytes.h"
#include "temp_image.h"

namespace {

constexpr uint32_t kBlock = 512;
constexpr uint32_t kAllocBlocks = MiniVolume::kBlocks - 6;  // 4 blocks before, MDB copy and one spare after
constexpr uint32_t kCreated = 0xB4F0A2C0u;                  // March 2000
constexpr uint32_t kModified = 0xB5105E00u;
constexpr uint32_t kExtentsStart = 0;  // allocation blocks of the extents file
constexpr uint32_t kExtentsNodes = 4;
constexpr uint32_t kCatalogStart = 4;  // allocation blocks of the catalog file
constexpr uint32_t kCatalogNodes = 8;
size_t CatalogNodeOffset(uint32_t n) { return size_t{MiniVolume::kFirstAllocBlock + kCatalogStart + n} * 512; }
size_t ExtentsNodeOffset(uint32_t n) { return size_t{MiniVolume::kFirstAllocBlock + kExtentsStart + n} * 512; }

using Bytes = std::vector<uint8_t>;
using Extent = std::pair<uint16_t, uint16_t>;  // start, count (allocation blocks)

void Put16(uint8_t* p, uint32_t v) { PutU16(static_cast<uint16_t>(v), p); }
void Put32(uint8_t* p, uint32_t v) { PutU32(v, p); }
void PutExtents(uint8_t* p, const std::vector<Extent>& extents)
{
    for (size_t i = 0; i < extents.size() && i < 3; ++i) {
        Put16(p + 4 * i, extents[i].first);
        Put16(p + 4 * i + 2, extents[i].second);
    }
}

// A catalog leaf key: length 6 + name length, padded to an even size.
Bytes LeafKey(uint32_t parent, const std::string& name)
{
    Bytes key(7 + name.size(), 0);
    key[0] = static_cast<uint8_t>(6 + name.size());
    Put32(&key[2], parent);
    key[6] = static_cast<uint8_t>(name.size());
    std::memcpy(&key[7], name.data(), name.size());
    if (key.size() & 1u) key.push_back(0);
    return key;
}

// A catalog index record: the key with its name padded to 31 characters,
// then the child node.
Bytes IndexRecord(uint32_t parent, const std::string& name, uint32_t child)
{
    Bytes record(42, 0);
    record[0] = 37;
    Put32(&record[2], parent);
    record[6] = static_cast<uint8_t>(name.size());
    std::memcpy(&record[7], name.data(), name.size());
    Put32(&record[38], child);
    return record;
}

Bytes Join(Bytes key, const Bytes& data)
{
    key.insert(key.end(), data.begin(), data.end());
    return key;
}

Bytes FolderRecord(uint32_t parent, const std::string& name, uint32_t id, uint16_t valence)
{
    Bytes d(70, 0);
    d[0] = 1;
    Put16(&d[4], valence);
    Put32(&d[6], id);
    Put32(&d[10], kCreated);
    Put32(&d[14], kModified);
    return Join(LeafKey(parent, name), d);
}

Bytes ThreadRecord(uint32_t id, uint32_t parent, const std::string& name)
{
    Bytes d(46, 0);
    d[0] = 3;
    Put32(&d[10], parent);
    d[14] = static_cast<uint8_t>(name.size());
    std::memcpy(&d[15], name.data(), name.size());
    return Join(LeafKey(id, ""), d);
}

struct FileSpec {
    uint32_t parent;
    std::string name;
    uint32_t id;
    const char* type;
    const char* creator;
    uint32_t dataLength;
    std::vector<Extent> dataExtents;  // a fourth extent goes to the overflow tree
    uint32_t rsrcLength;
    std::vector<Extent> rsrcExtents;
};

uint32_t ExtentBlocks(const std::vector<Extent>& extents)
{
    uint32_t n = 0;
    for (const Extent& e : extents) n += e.second;
    return n;
}

Bytes FileRecord(const FileSpec& f)
{
    Bytes d(102, 0);
    d[0] = 2;
    std::memcpy(&d[4], f.type, 4);
    std::memcpy(&d[8], f.creator, 4);
    Put32(&d[20], f.id);
    Put32(&d[26], f.dataLength);
    Put32(&d[30], ExtentBlocks(f.dataExtents) * kBlock);
    Put32(&d[36], f.rsrcLength);
    Put32(&d[40], ExtentBlocks(f.rsrcExtents) * kBlock);
    Put32(&d[44], kCreated);
    Put32(&d[48], kModified);
    PutExtents(&d[74], f.dataExtents);
    PutExtents(&d[86], f.rsrcExtents);
    return Join(LeafKey(f.parent, f.name), d);
}

// Writes a node: descriptor, records from offset 14, offsets from the end.
void WriteNode(uint8_t* node, uint32_t forward, uint32_t backward, uint8_t type, uint8_t height,
               const std::vector<Bytes>& records)
{
    std::memset(node, 0, kBlock);
    Put32(node, forward);
    Put32(node + 4, backward);
    node[8] = type;
    node[9] = height;
    Put16(node + 10, static_cast<uint32_t>(records.size()));
    uint32_t offset = 14;
    for (size_t i = 0; i < records.size(); ++i) {
        if (offset + records[i].size() > kBlock - 2 * (records.size() + 1)) throw std::logic_error("node overflow");
        std::memcpy(node + offset, records[i].data(), records[i].size());
        Put16(node + 510 - 2 * i, offset);
        offset += static_cast<uint32_t>(records[i].size());
    }
    Put16(node + 510 - 2 * records.size(), offset);
}

void WriteHeaderNode(uint8_t* node, uint16_t depth, uint32_t root, uint32_t leafRecords, uint32_t firstLeaf,
                     uint32_t lastLeaf, uint16_t maxKey, uint32_t totalNodes, uint32_t usedNodes)
{
    Bytes header(106, 0);
    Put16(&header[0], depth);
    Put32(&header[2], root);
    Put32(&header[6], leafRecords);
    Put32(&header[10], firstLeaf);
    Put32(&header[14], lastLeaf);
    Put16(&header[18], kBlock);
    Put16(&header[20], maxKey);
    Put32(&header[22], totalNodes);
    Put32(&header[26], totalNodes - usedNodes);
    Bytes map(256, 0);
    for (uint32_t n = 0; n < usedNodes; ++n) map[n / 8] |= static_cast<uint8_t>(0x80u >> (n % 8));
    WriteNode(node, 0, 0, 1, 0, {header, Bytes(128, 0), map});
}

}  // namespace

MiniVolume MakeMiniVolume()
{
    MiniVolume v;
    v.bytes = PatternBytes(size_t{MiniVolume::kBlocks} * kBlock, 99);
    uint8_t* image = v.bytes.data();
    std::memset(image, 0, 2 * kBlock);  // boot blocks
    auto allocBlock = [&](uint32_t a) { return image + size_t{MiniVolume::kFirstAllocBlock + a} * kBlock; };
    const std::vector<FileSpec> files = {
        {2, "Alpha", 17, "TEXT", "ttxt", 1000, {{12, 2}}, 300, {{14, 1}}},
        {2, "Beta", 18, "BINA", "????", 0, {}, 0, {}},
        {2, "Delta", 19, "APPL", "dlta", 4400, {{50, 2}, {60, 2}, {70, 2}, {80, 3}}, 100, {{90, 1}}},
        {2, "Gamma", 20, "TEXT", "ttxt", 5000, {{20, 3}, {30, 4}, {40, 3}}, 0, {}},
        {16, "Note", 21, "TEXT", "ttxt", 20000, {{100, 40}}, 0, {}},
    };
    // Fork contents, laid out along their extents; the tail of the last
    // block is 0xEE.
    std::vector<bool> used(kAllocBlocks, false);
    for (uint32_t a = 0; a < kExtentsNodes + kCatalogNodes; ++a) used[a] = true;
    uint32_t seed = 1;
    for (const FileSpec& f : files) {
        const std::string path = f.parent == 16 ? "Docs:" + f.name : f.name;
        for (int fork = 0; fork < 2; ++fork) {
            const uint32_t length = fork ? f.rsrcLength : f.dataLength;
            const std::vector<Extent>& extents = fork ? f.rsrcExtents : f.dataExtents;
            Bytes content = PatternBytes(length, seed++);
            Bytes laid = content;
            laid.resize(size_t{ExtentBlocks(extents)} * kBlock, 0xEE);
            size_t at = 0;
            for (const Extent& e : extents) {
                for (uint32_t b = 0; b < e.second; ++b) {
                    std::memcpy(allocBlock(e.first + b), &laid[at], kBlock);
                    used[e.first + b] = true;
                    at += kBlock;
                }
            }
            v.forkBytes += length;
            v.forks.push_back({path, static_cast<uint8_t>(fork ? 0xFF : 0), std::move(content)});
        }
    }
    // Catalog: header, an index root (node 1) over leaves 2 and 3.
    std::memset(image + CatalogNodeOffset(0), 0, kCatalogNodes * kBlock);
    WriteHeaderNode(image + CatalogNodeOffset(0), 2, 1, 9, 2, 3, 37, kCatalogNodes, 4);
    WriteNode(image + CatalogNodeOffset(1), 0, 0, 0x00, 2,
              {IndexRecord(1, "Mini", 2), IndexRecord(2, "Docs", 3)});
    WriteNode(image + CatalogNodeOffset(2), 3, 0, 0xFF, 1,
              {FolderRecord(1, "Mini", 2, 5), ThreadRecord(2, 1, "Mini"), FileRecord(files[0]), FileRecord(files[1]),
               FileRecord(files[2])});
    WriteNode(image + CatalogNodeOffset(3), 0, 2, 0xFF, 1,
              {FolderRecord(2, "Docs", 16, 1), FileRecord(files[3]), ThreadRecord(16, 2, "Docs"), FileRecord(files[4])});
    // Extents: header and one leaf with Delta's fourth data extent, which
    // begins at fork allocation block 6.
    std::memset(image + ExtentsNodeOffset(0), 0, kExtentsNodes * kBlock);
    WriteHeaderNode(image + ExtentsNodeOffset(0), 1, 1, 1, 1, 1, 7, kExtentsNodes, 2);
    Bytes overflow(20, 0);
    overflow[0] = 7;  // data fork (0) of file 19 from fork block 6
    Put32(&overflow[2], 19);
    Put16(&overflow[6], 6);
    PutExtents(&overflow[8], {files[2].dataExtents[3]});
    WriteNode(image + ExtentsNodeOffset(1), 0, 0, 0xFF, 1, {overflow});
    // Volume bitmap (block 3) and MDB (block 2), with its copy.
    uint8_t* bitmap = image + 3 * kBlock;
    std::memset(bitmap, 0, kBlock);
    uint32_t free = 0;
    for (uint32_t a = 0; a < kAllocBlocks; ++a) {
        if (used[a])
            bitmap[a / 8] |= static_cast<uint8_t>(0x80u >> (a % 8));
        else
            ++free;
    }
    uint8_t* mdb = image + 2 * kBlock;
    std::memset(mdb, 0, kBlock);
    Put16(mdb, 0x4244);
    Put32(mdb + 2, kCreated);
    Put32(mdb + 6, kModified);
    Put16(mdb + 10, 0x0100);  // cleanly unmounted
    Put16(mdb + 12, 4);       // files in the root
    Put16(mdb + 14, 3);       // bitmap block
    Put16(mdb + 18, kAllocBlocks);
    Put32(mdb + 20, kBlock);
    Put32(mdb + 24, 4 * kBlock);
    Put16(mdb + 28, MiniVolume::kFirstAllocBlock);
    Put32(mdb + 30, 22);  // next catalog ID
    Put16(mdb + 34, free);
    mdb[36] = 4;
    std::memcpy(mdb + 37, "Mini", 4);
    Put32(mdb + 74, kExtentsNodes * kBlock);
    Put32(mdb + 78, kCatalogNodes * kBlock);
    Put16(mdb + 82, 1);  // folders in the root
    Put32(mdb + 84, 5);
    Put32(mdb + 88, 1);
    Put32(mdb + 130, kExtentsNodes * kBlock);
    PutExtents(mdb + 134, {{kExtentsStart, kExtentsNodes}});
    Put32(mdb + 146, kCatalogNodes * kBlock);
    PutExtents(mdb + 150, {{kCatalogStart, kCatalogNodes}});
    std::memcpy(image + size_t{MiniVolume::kBlocks - 2} * kBlock, mdb, kBlock);
    std::memset(image + size_t{MiniVolume::kBlocks - 1} * kBlock, 0, kBlock);
    return v;
}
