// Keys and records of the catalog and extents B-trees, and their ordering.
#pragma once
#include <cstdint>

// Catalog key fields (offsets from the key length byte).
enum : uint16_t {
    kCatKeyLength = 0,
    kCatKeyParentId = 2,
    kCatKeyName = 6,
};

// Catalog record types (first byte of the record data).
enum : uint8_t {
    kFolderRecord = 1,
    kFileRecord = 2,
    kFolderThreadRecord = 3,
    kFileThreadRecord = 4,
};

constexpr unsigned kFolderRecordSize = 70;
constexpr unsigned kFileRecordSize = 102;
constexpr unsigned kThreadRecordSize = 46;

// Folder record fields.
enum : uint16_t {
    kFolderFlags = 2,
    kFolderValence = 4,
    kFolderId = 6,
    kFolderCreated = 10,
    kFolderModified = 14,
};

// File record fields (besides the fork fields in volume.h).
enum : uint16_t {
    kFileFlags = 2,
    kFileType = 4,
    kFileCreator = 8,
    kFileFinderFlags = 12,
    kFileCreated = 44,
    kFileModified = 48,
};

constexpr uint8_t kFinderInvisibleByteBit = 0x40;  // bit 14 of the Finder flags, in their first byte

// Thread record fields.
enum : uint16_t {
    kThreadParentId = 10,
    kThreadName = 14,
};

// Extents key fields.
enum : uint16_t {
    kExtKeyForkType = 1,
    kExtKeyFileId = 2,
    kExtKeyStartBlock = 6,
};

extern const uint8_t MacOrderTable[256];

// Both names length-prefixed. Negative when a sorts first.
int CompareMacNames(const uint8_t* a, const uint8_t* b);
// A search key (parent, name or null for "parent only") against a record key.
int CompareCatalogKey(uint32_t parentId, const uint8_t* name, const uint8_t* key);
int CompareCatalogKeys(const uint8_t* a, const uint8_t* b);
int CompareExtentKey(uint32_t fileId, uint8_t fork, uint16_t block, const uint8_t* key, uint8_t nodeType);
int CompareExtentKeys(const uint8_t* a, const uint8_t* b);
// Writes a catalog key and returns its size padded to even.
unsigned BuildCatalogKey(uint32_t parentId, const uint8_t* name, uint8_t* out);
