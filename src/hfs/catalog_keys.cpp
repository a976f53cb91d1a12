#include "hfs/catalog_keys.h"

#include <cstring>

#include "core/status.h"
#include "hfs/btree_node.h"
#include "hfs/bytes.h"
#include "hfs/extents.h"

// Sort weight of each Mac character: case does not count and accented
// letters sort right after their base letter.
const uint8_t MacOrderTable[256] = {
    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10,
    0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20,
    0x21, 0x22, 0x23, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2F, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46,
    0x47, 0x48, 0x52, 0x53, 0x55, 0x56, 0x5B, 0x5C, 0x5D, 0x5E, 0x63, 0x64, 0x65, 0x66, 0x67, 0x69,
    0x72, 0x73, 0x74, 0x75, 0x77, 0x78, 0x7D, 0x7E, 0x7F, 0x80, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
    0x4E, 0x48, 0x52, 0x53, 0x55, 0x56, 0x5B, 0x5C, 0x5D, 0x5E, 0x63, 0x64, 0x65, 0x66, 0x67, 0x69,
    0x72, 0x73, 0x74, 0x75, 0x77, 0x78, 0x7D, 0x7E, 0x7F, 0x80, 0x82, 0x88, 0x89, 0x8A, 0x8B, 0x8C,
    0x4A, 0x4C, 0x54, 0x57, 0x68, 0x6A, 0x79, 0x4F, 0x49, 0x50, 0x4A, 0x4B, 0x4C, 0x54, 0x57, 0x58,
    0x59, 0x5A, 0x5F, 0x60, 0x61, 0x62, 0x68, 0x6E, 0x6F, 0x70, 0x6A, 0x6B, 0x7A, 0x7B, 0x7C, 0x79,
    0x8D, 0x8E, 0x8F, 0x90, 0x91, 0x92, 0x93, 0x76, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x4D, 0x6C,
    0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0x51, 0x71, 0xA5, 0x4D, 0x6C,
    0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0x26, 0x27, 0xAD, 0x21, 0x49, 0x4B, 0x6B, 0x6D, 0x6D,
    0xAE, 0xAF, 0x24, 0x25, 0x2D, 0x2E, 0xB0, 0xB1, 0x81, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8,
    0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8,
    0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8,
};

int CompareMacNames(const uint8_t* a, const uint8_t* b)
{
    const unsigned m = a[0] < b[0] ? a[0] : b[0];
    for (unsigned i = 1; i <= m; ++i) {
        const int wa = MacOrderTable[a[i]];
        const int wb = MacOrderTable[b[i]];
        if (wa != wb) return wa - wb;
    }
    return static_cast<int>(a[0]) - static_cast<int>(b[0]);
}

int CompareCatalogKey(uint32_t parentId, const uint8_t* name, const uint8_t* key)
{
    const uint32_t p = GetU32(key + kCatKeyParentId);
    if (p > parentId) return -1;
    if (p < parentId) return 1;
    if (!name) return 0;
    return CompareMacNames(name, key + kCatKeyName);
}

int CompareCatalogKeys(const uint8_t* a, const uint8_t* b)
{
    const uint32_t pa = GetU32(a + kCatKeyParentId);
    const uint32_t pb = GetU32(b + kCatKeyParentId);
    if (pa != pb) return pa < pb ? -1 : 1;
    return CompareMacNames(a + kCatKeyName, b + kCatKeyName);
}

int CompareExtentKey(uint32_t fileId, uint8_t fork, uint16_t block, const uint8_t* key, uint8_t nodeType)
{
    const uint32_t keyId = GetU32(key + kExtKeyFileId);
    if (fileId != keyId) return fileId < keyId ? -1 : 1;
    const uint8_t keyFork = key[kExtKeyForkType];
    if (fork != keyFork) return fork < keyFork ? -1 : 1;
    const uint16_t start = GetU16(key + kExtKeyStartBlock);
    if (nodeType == kIndexNode) return static_cast<int>(block) - static_cast<int>(start);
    const uint32_t end = start + ExtentRecordBlocks(key + kExtentKeySize);
    return block < end ? -1 : 1;
}

int CompareExtentKeys(const uint8_t* a, const uint8_t* b)
{
    const uint32_t ia = GetU32(a + kExtKeyFileId);
    const uint32_t ib = GetU32(b + kExtKeyFileId);
    if (ia != ib) return ia < ib ? -1 : 1;
    if (a[kExtKeyForkType] != b[kExtKeyForkType]) return a[kExtKeyForkType] < b[kExtKeyForkType] ? -1 : 1;
    const uint16_t sa = GetU16(a + kExtKeyStartBlock);
    const uint16_t sb = GetU16(b + kExtKeyStartBlock);
    if (sa != sb) return sa < sb ? -1 : 1;
    return 0;
}

void BuildExtentKey(uint32_t fileId, uint8_t fork, uint16_t startBlock, uint8_t* out)
{
    out[kCatKeyLength] = kExtentKeyLength;
    out[kExtKeyForkType] = fork;
    PutU32(fileId, out + kExtKeyFileId);
    PutU16(startBlock, out + kExtKeyStartBlock);
}

unsigned BuildCatalogKey(uint32_t parentId, const uint8_t* name, uint8_t* out)
{
    const unsigned nameLength = MacNameLength(name);
    out[kCatKeyLength] = static_cast<uint8_t>(kMinCatalogKeyLength + nameLength);
    out[kCatKeyReserved] = 0;
    PutU32(parentId, out + kCatKeyParentId);
    out[kCatKeyName] = static_cast<uint8_t>(nameLength);
    std::memcpy(out + kCatKeyName + 1, name + 1, nameLength);
    unsigned size = kCatKeyName + 1 + nameLength;
    if (size & 1u) out[size++] = 0;
    return size;
}

unsigned CatalogRecordSize(uint8_t type)
{
    switch (type) {
    case kFolderRecord: return kFolderRecordSize;
    case kFileRecord: return kFileRecordSize;
    case kFolderThreadRecord:
    case kFileThreadRecord: return kThreadRecordSize;
    default: return 0;
    }
}

CatalogRecordFault DecodeCatalogRecord(const uint8_t* key, unsigned recordSize, CatalogRecord* out)
{
    const unsigned dataOffset = PaddedKeySize(key[kCatKeyLength]);
    if (dataOffset >= recordSize) return CatalogRecordFault::NoData;
    *out = CatalogRecord{GetU32(key + kCatKeyParentId), Str31(key + kCatKeyName), key[dataOffset],
                         static_cast<uint16_t>(dataOffset), static_cast<uint16_t>(recordSize - dataOffset),
                         key + dataOffset};
    const unsigned needed = CatalogRecordSize(out->type);
    if (needed == 0) return CatalogRecordFault::UnknownType;
    if (out->dataSize < needed) return CatalogRecordFault::Short;
    return CatalogRecordFault::None;
}

bool ReadCatalogRecord(const BlockData* leaf, uint16_t keyOffset, CatalogRecord* out)
{
    const uint16_t end = RecordEndAt(leaf, keyOffset);
    const CatalogRecordFault fault = end <= keyOffset ? CatalogRecordFault::NoData
                                                      : DecodeCatalogRecord(leaf->data + keyOffset, end - keyOffset, out);
    switch (fault) {
    case CatalogRecordFault::None: return true;
    case CatalogRecordFault::NoData: ReportCorruption("catalog record without data"); break;
    case CatalogRecordFault::UnknownType: ReportCorruption("catalog record of an unknown type"); break;
    case CatalogRecordFault::Short: ReportCorruption("catalog record shorter than its type"); break;
    }
    return false;
}
