#include "support/hfs_layout.h"

#include <algorithm>
#include <cstring>

#include "hfs/bytes.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kBlock = 512;

struct Extent {
    uint32_t forkBlock, start, count;
};

void AddExtents(const uint8_t* record, uint32_t forkBlock, std::vector<Extent>* out)
{
    for (int i = 0; i < 3 && GetU16(record + 4 * i + 2) != 0; ++i) {
        out->push_back({forkBlock, GetU16(record + 4 * i), GetU16(record + 4 * i + 2)});
        forkBlock += out->back().count;
    }
}

HfsTreeLayout MapTree(const Bytes& image, const HfsVolumeLayout& v, std::vector<Extent> extents, uint32_t fileBytes)
{
    HfsTreeLayout tree;
    std::sort(extents.begin(), extents.end(),
              [](const Extent& a, const Extent& b) { return a.forkBlock < b.forkBlock; });
    const size_t area = v.base + size_t{GetU16(&image[v.mdb + 28])} * kBlock;
    for (const Extent& e : extents)
        for (size_t b = 0; b < size_t{e.count} * v.blockBytes && tree.nodes.size() * kBlock < fileBytes; b += kBlock)
            tree.nodes.push_back(area + size_t{e.start} * v.blockBytes + b);
    auto usable = [&](uint32_t n) { return n != 0 && n < tree.nodes.size() && tree.nodes[n] + kBlock <= image.size(); };
    if (tree.nodes.empty() || tree.nodes[0] + kBlock > image.size()) return tree;
    for (uint32_t first = GetU32(&image[tree.nodes[0] + 16]); usable(first) && tree.levels.size() < 8;) {
        std::vector<uint32_t> level;
        for (uint32_t n = first; usable(n) && level.size() < tree.nodes.size(); n = GetU32(&image[tree.nodes[n]]))
            level.push_back(n);
        tree.levels.push_back(level);
        const size_t node = tree.nodes[first];
        first = image[node + 8] == 0 ? GetU32(&image[HfsRecordData(image, node + GetU16(&image[node + 510]))]) : 0;
    }
    return tree;
}

HfsVolumeLayout MapVolume(const Bytes& image, size_t base, uint32_t blocks)
{
    HfsVolumeLayout v;
    v.base = base;
    v.mdb = base + 2 * kBlock;
    v.alternate = base + (size_t{blocks} - 2) * kBlock;
    v.volumeBlocks = blocks;
    const uint8_t* mdb = &image[v.mdb];
    v.allocBlocks = GetU16(mdb + 18);
    v.blockBytes = GetU32(mdb + 20);
    std::vector<Extent> extents;
    AddExtents(mdb + 134, 0, &extents);
    v.extents = MapTree(image, v, extents, GetU32(mdb + 130));
    // The catalog's extents past its first three are records of file 4 in
    // the extents tree.
    std::vector<Extent> catalog;
    AddExtents(mdb + 150, 0, &catalog);
    if (!v.extents.levels.empty())
        for (uint32_t leaf : v.extents.levels.back())
            for (size_t key : HfsNodeRecords(image, v.extents.nodes[leaf]))
                if (image[key] == 7 && image[key + 1] == 0 && GetU32(&image[key + 2]) == 4)
                    AddExtents(&image[key + 8], GetU16(&image[key + 6]), &catalog);
    v.catalog = MapTree(image, v, catalog, GetU32(mdb + 146));
    return v;
}

}  // namespace

std::vector<size_t> HfsNodeRecords(const Bytes& image, size_t node)
{
    std::vector<size_t> keys;
    for (unsigned i = 0, count = GetU16(&image[node + 10]); i < count && i < 250; ++i) {
        const unsigned offset = GetU16(&image[node + 510 - 2 * i]);
        if (offset >= kBlock) break;
        keys.push_back(node + offset);
    }
    return keys;
}

size_t HfsRecordData(const Bytes& image, size_t key) { return key + ((image[key] + 2u) & ~1u); }

HfsDiskLayout MapHfsDisk(const Bytes& image)
{
    HfsDiskLayout disk;
    if (image.size() >= 3 * kBlock && GetU16(&image[2 * kBlock]) == 0x4244) {
        const uint8_t* mdb = &image[2 * kBlock];
        const uint32_t s = GetU32(mdb + 20) / kBlock;
        if (s != 0)
            disk.volumes.push_back(MapVolume(image, 0, ((GetU16(mdb + 28) + s + 1) / s + GetU16(mdb + 18)) * s));
        return disk;
    }
    for (size_t k = 1; (k + 1) * kBlock <= image.size() && GetU16(&image[k * kBlock]) == 0x504D; ++k) {
        const uint8_t* e = &image[k * kBlock];
        disk.mapEntries.push_back(k * kBlock);
        if (std::memcmp(e + 48, "Apple_HFS", 9) == 0)
            disk.volumes.push_back(MapVolume(image, size_t{GetU32(e + 8)} * kBlock, GetU32(e + 12)));
    }
    return disk;
}

// The image offsets of the keys of the leaf records, in key order.
static std::vector<size_t> LeafKeys(const Bytes& image, const HfsTreeLayout& tree)
{
    std::vector<size_t> keys;
    if (!tree.levels.empty())
        for (uint32_t leaf : tree.levels.back())
            for (size_t key : HfsNodeRecords(image, tree.nodes[leaf]))
                if (key >= tree.nodes[leaf] + 14 && key + 24 <= tree.nodes[leaf] + kBlock) keys.push_back(key);
    return keys;
}

RawVolume ParseRawVolume(const Bytes& image)
{
    RawVolume volume;
    const HfsDiskLayout disk = MapHfsDisk(image);
    if (disk.volumes.empty()) {
        volume.error = "no HFS master directory block";
        return volume;
    }
    const HfsVolumeLayout& v = disk.volumes[0];
    volume.allocBlockSize = v.blockBytes;
    if (v.extents.nodes.empty() || v.catalog.nodes.empty() || v.extents.nodes[0] + kBlock > image.size()) {
        volume.error = "no header node";
        return volume;
    }
    volume.extentsDepth = GetU16(&image[v.extents.nodes[0] + 14]);
    for (size_t key : LeafKeys(image, v.extents))
        if (image[key] == 7) ++volume.overflowRecords[{GetU32(&image[key + 2]), image[key + 1]}];
    for (size_t key : LeafKeys(image, v.catalog)) {
        const size_t data = HfsRecordData(image, key);
        if (image[key] < 6 || data + 24 > key - key % kBlock + kBlock) continue;  // nodes are block aligned
        RawCatalogChild child;
        child.name.assign(reinterpret_cast<const char*>(&image[key + 7]), std::min<uint8_t>(image[key + 6], 31));
        child.recordType = image[data];
        if (child.recordType == 1)
            child.id = GetU32(&image[data + 6]);
        else if (child.recordType == 2)
            child.id = GetU32(&image[data + 20]);
        else
            continue;  // threads
        volume.children[GetU32(&image[key + 2])].push_back(child);
    }
    volume.ok = true;
    return volume;
}

std::vector<uint8_t> BuildPartitionMap(uint32_t blockSize, uint32_t mapBlocks, const std::vector<MapPartition>& parts,
                                       uint32_t padTo)
{
    uint32_t total = mapBlocks + 1;
    for (const MapPartition& p : parts) total = std::max(total, p.start + p.blocks);
    Bytes image((size_t{total} * blockSize + padTo - 1) / padTo * padTo, 0);
    PutU16(0x4552, &image[0]);  // "ER"
    PutU16(static_cast<uint16_t>(blockSize), &image[2]);
    PutU32(total, &image[4]);
    std::vector<MapPartition> entries{{"Apple", "Apple_partition_map", 1, mapBlocks, {}}};
    entries.insert(entries.end(), parts.begin(), parts.end());
    for (size_t k = 0; k < entries.size(); ++k) {
        uint8_t* e = &image[(k + 1) * blockSize];
        PutU16(0x504D, e);  // "PM"
        PutU32(static_cast<uint32_t>(entries.size()), e + 4);
        PutU32(entries[k].start, e + 8);
        PutU32(entries[k].blocks, e + 12);
        std::memcpy(e + 16, entries[k].name, std::strlen(entries[k].name));
        std::memcpy(e + 48, entries[k].type, std::strlen(entries[k].type));
        PutU32(entries[k].blocks, e + 84);  // data area: the whole partition
        PutU32(0x33, e + 88);               // valid, allocated, readable, writable
        std::copy(entries[k].bytes.begin(), entries[k].bytes.end(),
                  image.begin() + static_cast<std::ptrdiff_t>(size_t{entries[k].start} * blockSize));
    }
    return image;
}
