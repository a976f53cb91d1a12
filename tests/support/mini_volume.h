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
    static constexpr uint32_t kBlocks = 1600;
    static constexpr uint32_t kFirstAllocBlock = 4;
};

MiniVolume MakeMiniVolume();
