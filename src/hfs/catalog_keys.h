// Keys and records of the catalog and extents B-trees, and their ordering.
#pragma once
#include <cstdint>

#include "hfs/bytes.h"
#include "hfs/layout.h"
#include "hfs/mac_names.h"

extern const uint8_t MacOrderTable[256];

// Both names length-prefixed. Negative when a sorts first.
int CompareMacNames(const uint8_t* a, const uint8_t* b);
// A search key (parent, name or null for "parent only") against a record key.
int CompareCatalogKey(uint32_t parentId, const uint8_t* name, const uint8_t* key);
int CompareCatalogKeys(const uint8_t* a, const uint8_t* b);
int CompareExtentKey(uint32_t fileId, uint8_t fork, uint16_t block, const uint8_t* key, uint8_t nodeType);
int CompareExtentKeys(const uint8_t* a, const uint8_t* b);
// Writes an extents key (kExtentKeySize bytes).
void BuildExtentKey(uint32_t fileId, uint8_t fork, uint16_t startBlock, uint8_t* out);
// Writes a catalog key and returns its size padded to even.
unsigned BuildCatalogKey(uint32_t parentId, const uint8_t* name, uint8_t* out);

// A catalog leaf record taken apart: the parent ID and name of its key, its
// type, and its data, which holds at least a record of that type.
struct CatalogRecord {
    uint32_t parentId;
    Str31 name;
    uint8_t type;            // kFolderRecord ... kFileThreadRecord
    uint16_t dataOffset;     // from the key's length byte
    uint16_t dataSize;
    const uint8_t* data;

    // A folder's ID or a file's number.
    uint32_t ItemId() const { return GetU32(data + (type == kFolderRecord ? unsigned{kFolderId} : unsigned{kFileRecFileId})); }
};

enum class CatalogRecordFault : uint8_t { None, NoData, UnknownType, Short };

// The size of a record of `type`; 0 for a type the catalog does not hold.
unsigned CatalogRecordSize(uint8_t type);

// Takes apart the record whose key starts at `key`, `recordSize` bytes with
// its key. The key's lengths must already be known to fit the record.
CatalogRecordFault DecodeCatalogRecord(const uint8_t* key, unsigned recordSize, CatalogRecord* out);

// The same for the record whose key is at `keyOffset` of a checked catalog
// leaf. False, with the damage reported, when the record has no data, a type
// the catalog does not hold, or less data than its type.
bool ReadCatalogRecord(const BlockData* leaf, uint16_t keyOffset, CatalogRecord* out);
