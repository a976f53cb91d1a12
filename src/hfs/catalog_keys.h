// Keys and records of the catalog and extents B-trees, and their ordering.
#pragma once
#include <cstdint>

#include "hfs/layout.h"

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
