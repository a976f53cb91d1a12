// A small, complete HFS volume built in memory, for tests that must not
// depend on peer tools (the unit tests also run on Windows). 1600 blocks of
// 512 bytes, allocation blocks of 512 bytes:
//
//   Mini (root)            Alpha   data 1000, resource 300 bytes
//                          Beta    both forks empty
//                          Delta   data 4400 bytes in four extents, the
//                                  fourth in the extents overflow tree;
//                                  resource 100 bytes
//                          Docs    folder
//                          Gamma   data 5000 bytes in three extents
//   Docs                   Note    data 20000 bytes
//
// The catalog has an index root over two leaves; the extents tree has one
// leaf. The alternate MDB sits in the second-to-last block. Blocks that no
// fork owns are filled with a pattern, and the tail of a fork's last block
// with 0xEE, so bytes read from the wrong place show.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct MiniFork {
    std::string path;        // from the root, ':' between names ("Docs:Note")
    uint8_t fork;            // 0 data, 0xFF resource
    std::vector<uint8_t> bytes;
};

struct MiniVolume {
    std::vector<uint8_t> bytes;         // the whole image
    std::vector<MiniFork> forks;        // both forks of every file
    unsigned folders = 2;               // the root and Docs
    unsigned files = 5;
    uint64_t forkBytes = 0;             // sum of the logical lengths

    // Where things lie, for tests that damage them.
    static constexpr uint32_t kBlocks = 1600;
    static constexpr uint32_t kFirstAllocBlock = 4;
    static constexpr uint32_t kExtentsStart = 0;    // allocation blocks of the extents file
    static constexpr uint32_t kExtentsNodes = 4;
    static constexpr uint32_t kCatalogStart = 4;    // allocation blocks of the catalog file
    static constexpr uint32_t kCatalogNodes = 8;
    // Image byte offset of node `n` of the catalog or extents file.
    static size_t CatalogNodeOffset(uint32_t n) { return size_t{kFirstAllocBlock + kCatalogStart + n} * 512; }
    static size_t ExtentsNodeOffset(uint32_t n) { return size_t{kFirstAllocBlock + kExtentsStart + n} * 512; }
};

MiniVolume MakeMiniVolume();
