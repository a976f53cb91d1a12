// A small reader of the B-trees of a bare HFS volume image, written apart
// from the engine so tests can check what the engine reads against the
// bytes: the catalog's records in key order, the extents-overflow records,
// and the tree shapes. Volumes only; no partition maps.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct RawCatalogChild {
    std::string name;        // Mac characters
    uint8_t recordType = 0;  // 1 folder, 2 file
    uint32_t id = 0;         // folder ID or file number
};

struct RawTreeShape {
    uint16_t depth = 0;
    uint32_t leafRecords = 0;
    uint32_t nodes = 0;
};

struct RawVolume {
    bool ok = false;
    std::string error;
    uint32_t allocBlockSize = 0;
    RawTreeShape catalog;
    RawTreeShape extents;
    // Folder ID -> its folder and file records, in the catalog's key order.
    std::map<uint32_t, std::vector<RawCatalogChild>> children;
    // (file ID, fork type 0x00 or 0xFF) -> number of extents-overflow records.
    std::map<std::pair<uint32_t, uint8_t>, unsigned> overflowRecords;
};

// Parses the volume that starts at byte 0 of `image`.
RawVolume ParseRawVolume(const std::vector<uint8_t>& image);

// The whole file, read in one go (large images included).
std::vector<uint8_t> ReadWholeFile(const std::string& path);
