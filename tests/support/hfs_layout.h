// Where the structures of a clean HFS disk image lie, found by a reader of
// our own, written apart from the engine, that trusts the bytes: tests that
// damage an image find their targets here, and tests check what the engine
// reads against it. Each volume's master directory block and its alternate,
// the nodes of both B-tree files (the catalog's extents in the overflow tree
// included) and the nodes of each tree level. Bare volumes and Apple
// partition maps.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
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

struct MapPartition {
    const char* name;
    const char* type;                           // "Apple_HFS", "Apple_Free" ...
    uint32_t start = 0;                         // in map blocks
    uint32_t blocks = 0;
    std::vector<uint8_t> bytes;                 // the volume, when there is one
};
std::vector<uint8_t> BuildPartitionMap(uint32_t blockSize, uint32_t mapBlocks, const std::vector<MapPartition>& parts,
                                       uint32_t padTo = 512);

// A bare volume's size follows from its MDB the way the engine's scan
// derives it; a partition's is its map entry's.
HfsDiskLayout MapHfsDisk(const std::vector<uint8_t>& image);

// The image offsets of the keys of the records of the node at `node`.
std::vector<size_t> HfsNodeRecords(const std::vector<uint8_t>& image, size_t node);
// The offset of the data after the key at `key`.
size_t HfsRecordData(const std::vector<uint8_t>& image, size_t key);

struct RawCatalogChild {
    std::string name;        // Mac characters
    uint8_t recordType = 0;  // 1 folder, 2 file
    uint32_t id = 0;         // folder ID or file number
};

struct RawVolume {
    bool ok = false;
    std::string error;
    uint32_t allocBlockSize = 0;
    uint16_t extentsDepth = 0;  // as the extents tree's header node gives it
    // Folder ID -> its folder and file records, in the catalog's key order.
    std::map<uint32_t, std::vector<RawCatalogChild>> children;
    // (file ID, fork type 0x00 or 0xFF) -> number of extents-overflow records.
    std::map<std::pair<uint32_t, uint8_t>, unsigned> overflowRecords;
};

// The leaf records of the first volume of `image`, read along its layout.
RawVolume ParseRawVolume(const std::vector<uint8_t>& image);
