// Where the structures of a clean HFS disk image lie, found by a reader of
// our own that trusts the bytes: tests that damage an image find their
// targets here. Each volume's master directory block and its alternate, the
// nodes of both B-tree files (the catalog's extents in the overflow tree
// included) and the nodes of each tree level. Bare volumes and Apple
// partition maps.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct HfsTreeLayout {
    std::vector<size_t> nodes;                  // image offset of each node of the file
    std::vector<std::vector<uint32_t>> levels;  // node numbers of each level along the forward links, root first
};

struct HfsVolumeLayout {
    size_t base = 0;                            // image offset of volume block 0
    size_t mdb = 0;
    size_t alternate = 0;
    uint32_t volumeBlocks = 0;
    uint32_t allocBlocks = 0;
    uint32_t blockBytes = 0;                    // bytes per allocation block
    HfsTreeLayout catalog, extents;
};

struct HfsDiskLayout {
    std::vector<HfsVolumeLayout> volumes;
    std::vector<size_t> mapEntries;             // image offsets of the partition map entries
};

// A bare volume's size follows from its MDB the way the engine's scan
// derives it; a partition's is its map entry's.
HfsDiskLayout MapHfsDisk(const std::vector<uint8_t>& image);

// The image offsets of the keys of the records of the node at `node`.
std::vector<size_t> HfsNodeRecords(const std::vector<uint8_t>& image, size_t node);
// The offset of the data after the key at `key`.
size_t HfsRecordData(const std::vector<uint8_t>& image, size_t key);
