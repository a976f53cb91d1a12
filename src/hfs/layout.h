// The HFS on-disk layout, named once: the master directory block, B-tree
// nodes and their header record, catalog and extents keys and records. All
// numbers are big-endian; offsets are in bytes from the start of the
// structure named. The sizes are checked against the fields below.
#pragma once
#include <cstdint>

constexpr unsigned kHfsBlockSize = 512;

// ---- Master directory block (volume block 2; the alternate in the
// second-to-last block) ----
enum : uint16_t {
    kMdbSignature = 0,         // u16, kHfsSignature
    kMdbCreated = 2,           // u32 MacDate
    kMdbModified = 6,          // u32 MacDate
    kMdbAttributes = 10,       // u16
    kMdbRootFiles = 12,        // u16, files in the root folder
    kMdbBitmapStart = 14,      // u16, volume block of the allocation bitmap
    kMdbAllocPointer = 16,     // u16, where the next allocation search starts
    kMdbAllocBlocks = 18,      // u16
    kMdbAllocBlockSize = 20,   // u32, bytes
    kMdbClumpSize = 24,        // u32
    kMdbFirstAllocBlock = 28,  // u16, volume block of allocation block 0
    kMdbNextCatalogId = 30,    // u32
    kMdbFreeBlocks = 34,       // u16
    kMdbVolumeName = 36,       // length byte and up to 27 characters
    kMdbBackupDate = 64,       // u32 MacDate
    kMdbBackupSequence = 68,   // u16
    kMdbWriteCount = 70,       // u32
    kMdbExtentsClump = 74,     // u32
    kMdbCatalogClump = 78,     // u32
    kMdbRootFolders = 82,      // u16, folders in the root folder
    kMdbFileCount = 84,        // u32
    kMdbFolderCount = 88,      // u32
    kMdbFinderInfo = 92,       // 32 bytes
    kMdbEmbedSignature = 124,  // u16, signature of a volume embedded in an HFS wrapper
    kMdbEmbedExtent = 126,     // u16 start, u16 count
    kMdbExtentsSize = 130,     // u32, extents file physical length
    kMdbExtentsExtents = 134,  // extent record of the extents file
    kMdbCatalogSize = 146,     // u32, catalog file physical length
    kMdbCatalogExtents = 150,  // extent record of the catalog file
    kMdbEnd = 162,             // the rest of the block is unused
};
constexpr unsigned kMdbVolumeNameBytes = 28;
constexpr unsigned kMaxVolumeName = kMdbVolumeNameBytes - 1;
constexpr uint16_t kHfsSignature = 0x4244;  // "BD"
constexpr uint32_t kMdbBlock = 2;             // volume block of the MDB
constexpr uint32_t kAlternateMdbFromEnd = 2;  // the alternate MDB: volume size minus this

// Catalog node IDs the file system keeps for itself.
constexpr uint32_t kRootParentId = 1;
constexpr uint32_t kRootFolderId = 2;
constexpr uint32_t kExtentsFileId = 3;
constexpr uint32_t kCatalogFileId = 4;
constexpr uint32_t kFirstUserId = 16;  // IDs below are the file system's own

// ---- Extent records: three (start, count) descriptors of u16 ----
enum : uint16_t {
    kExtentStart = 0,
    kExtentCount = 2,
};
constexpr unsigned kExtentDescriptorSize = 4;
constexpr unsigned kExtentsPerRecord = 3;
constexpr unsigned kExtentRecordSize = kExtentDescriptorSize * kExtentsPerRecord;
// Offset of the start (or count) of descriptor `i` in an extent record.
constexpr unsigned ExtentStartAt(unsigned i) { return kExtentDescriptorSize * i + kExtentStart; }
constexpr unsigned ExtentCountAt(unsigned i) { return kExtentDescriptorSize * i + kExtentCount; }

// ---- B-tree nodes: 512 bytes, a descriptor, records packed upward from
// its end and their offsets stored downward from the end of the node ----
enum : uint8_t {
    kIndexNode = 0x00,
    kHeaderNode = 0x01,
    kMapNode = 0x02,
    kLeafNode = 0xFF,
};

// Node descriptor fields.
enum : uint16_t {
    kNodeForward = 0,       // u32
    kNodeBackward = 4,      // u32
    kNodeType = 8,          // u8
    kNodeHeight = 9,        // u8
    kNodeRecordCount = 10,  // u16
    kNodeFirstRecord = 14,  // the descriptor's size: record 0 starts here
};
// The offset of record 0 is the node's last u16; record i's is 2 * i before it.
constexpr unsigned kRecordOffsetSize = 2;
constexpr unsigned kNodeOffsetTable = kHfsBlockSize - kRecordOffsetSize;
constexpr unsigned NodeOffsetSlot(unsigned i) { return kNodeOffsetTable - 2 * i; }

// Header record fields, as offsets in the header node (node 0): the record
// is record 0, 106 bytes; record 1 is unused and record 2 is the node map.
enum : uint16_t {
    kHeaderDepth = 14,          // u16
    kHeaderRoot = 16,           // u32
    kHeaderLeafRecords = 20,    // u32
    kHeaderFirstLeaf = 24,      // u32
    kHeaderLastLeaf = 28,       // u32
    kHeaderNodeSize = 32,       // u16
    kHeaderMaxKeyLength = 34,   // u16
    kHeaderTotalNodes = 36,     // u32
    kHeaderFreeNodes = 40,      // u32
    kHeaderRecordEnd = 120,
    kHeaderMapRecord = 248,     // the node map record in the header node
};
constexpr unsigned kHeaderRecordSize = unsigned{kHeaderRecordEnd} - kNodeFirstRecord;
constexpr unsigned kHeaderMapRecordIndex = 2;
// A map node holds one record, from kNodeFirstRecord to here.
constexpr uint16_t kMapNodeRecordEnd = kHfsBlockSize - 6;

constexpr unsigned kMaxTreeDepth = 8;
constexpr unsigned kIndexPointerSize = 4;  // an index record's data: the child's node number, u32

// Offset of the data after a key whose length byte is `keyLength`: the
// length byte and key are padded to an even size.
constexpr unsigned PaddedKeySize(unsigned keyLength) { return (keyLength + 2u) & ~1u; }

// ---- Catalog keys (offsets from the key length byte) ----
enum : uint16_t {
    kCatKeyLength = 0,    // u8, bytes after this one
    kCatKeyReserved = 1,
    kCatKeyParentId = 2,  // u32
    kCatKeyName = 6,      // length byte and up to 31 characters
};
constexpr unsigned kCatalogIndexKeyLength = 37;                  // index keys: the name field padded to 32
constexpr unsigned kMaxCatalogKeySize = 1 + kCatalogIndexKeyLength;
constexpr unsigned kMinCatalogKeyLength = kCatKeyName;           // an empty name
constexpr unsigned kMaxMacName = 31;                             // characters in a file or folder name

// ---- Catalog records (offsets from the record type byte) ----
enum : uint8_t {
    kFolderRecord = 1,
    kFileRecord = 2,
    kFolderThreadRecord = 3,
    kFileThreadRecord = 4,
};

// Folder record fields.
enum : uint16_t {
    kFolderFlags = 2,      // u16
    kFolderValence = 4,    // u16
    kFolderId = 6,         // u32
    kFolderCreated = 10,   // u32 MacDate
    kFolderModified = 14,  // u32 MacDate
    kFolderBackup = 18,    // u32 MacDate
    kFolderUserInfo = 22,  // 16 bytes of Finder information
    kFolderFinderInfo = 38,
    kFolderRecordEnd = 70,  // after 16 reserved bytes
};

// A file's Finder information (16 bytes), as the catalog and the transfer
// formats hold it.
enum : uint16_t {
    kFinderInfoType = 0,
    kFinderInfoCreator = 4,
    kFinderInfoFlags = 8,  // u16
};
constexpr unsigned kFinderInfoSize = 16;
constexpr unsigned kMacCodeSize = 4;                // a type or creator code

// File record fields.
enum : uint16_t {
    kFileFlags = 2,             // u8
    kFileFinderInfo = 4,        // Finder information: type, creator, Finder flags, ...
    kFileType = kFileFinderInfo + kFinderInfoType,
    kFileCreator = kFileFinderInfo + kFinderInfoCreator,
    kFileFinderFlags = kFileFinderInfo + kFinderInfoFlags,
    kFileRecFileId = 20,        // u32
    kFileRecDataStart = 24,     // u16, unused
    kFileRecDataLogical = 26,   // u32
    kFileRecDataPhysical = 30,  // u32
    kFileRecRsrcStart = 34,     // u16, unused
    kFileRecRsrcLogical = 36,   // u32
    kFileRecRsrcPhysical = 40,  // u32
    kFileCreated = 44,          // u32 MacDate
    kFileModified = 48,         // u32 MacDate
    kFileBackup = 52,           // u32 MacDate
    kFileMoreFinderInfo = 56,   // 16 bytes
    kFileClumpSize = 72,        // u16
    kFileRecDataExtents = 74,   // extent record
    kFileRecRsrcExtents = 86,   // extent record
    kFileRecordEnd = 102,       // after 4 reserved bytes
};
constexpr uint8_t kFileThreadExists = 0x02;         // in the flags: the file has a thread record
constexpr uint8_t kFinderInvisibleByteBit = 0x40;  // bit 14 of the Finder flags, in their first byte

// Thread record fields (folder and file threads alike).
enum : uint16_t {
    kThreadParentId = 10,  // u32, after 8 reserved bytes
    kThreadName = 14,      // length byte and up to 31 characters, in 32 bytes
    kThreadRecordEnd = 46,
};
constexpr unsigned kThreadNameBytes = 32;

constexpr unsigned kFolderRecordSize = kFolderRecordEnd;
constexpr unsigned kFileRecordSize = kFileRecordEnd;
constexpr unsigned kThreadRecordSize = kThreadRecordEnd;

// A fork selector, and the fork type byte of an extents key.
enum : uint8_t { kDataFork = 0x00, kResourceFork = 0xFF };

constexpr uint16_t ForkLogicalOffset(uint8_t fork) { return fork ? kFileRecRsrcLogical : kFileRecDataLogical; }
constexpr uint16_t ForkPhysicalOffset(uint8_t fork) { return fork ? kFileRecRsrcPhysical : kFileRecDataPhysical; }
constexpr uint16_t ForkExtentsOffset(uint8_t fork) { return fork ? kFileRecRsrcExtents : kFileRecDataExtents; }

// ---- Extents keys (offsets from the key length byte) ----
enum : uint16_t {
    kExtKeyForkType = 1,    // u8
    kExtKeyFileId = 2,      // u32
    kExtKeyStartBlock = 6,  // u16, fork allocation block of the record's first extent
    kExtentKeySize = 8,
};
constexpr unsigned kExtentKeyLength = kExtentKeySize - 1;

// The sizes the formats fix, checked against the fields.
static_assert(kMdbEnd == 162 && kMdbCatalogExtents + kExtentRecordSize == kMdbEnd);
static_assert(kMdbExtentsExtents + kExtentRecordSize == kMdbCatalogSize);
static_assert(kMdbVolumeName + kMdbVolumeNameBytes == kMdbBackupDate);
static_assert(kNodeFirstRecord == 14 && kNodeRecordCount + 2 + 2 == kNodeFirstRecord);
static_assert(kHeaderRecordSize == 106 && kHeaderFreeNodes + 4 <= kHeaderRecordEnd);
static_assert(kMapNodeRecordEnd == 506);
static_assert(kFileRecordSize == 102 && kFileRecRsrcExtents + kExtentRecordSize + 4 == kFileRecordEnd);
static_assert(kFileRecDataExtents + kExtentRecordSize == kFileRecRsrcExtents);
static_assert(kFileFinderInfo + kFinderInfoSize == kFileRecFileId);
static_assert(kFolderRecordSize == 70 && kFolderFinderInfo + 16 + 16 == kFolderRecordEnd);
static_assert(kThreadRecordSize == 46 && kThreadName + kThreadNameBytes == kThreadRecordEnd);
static_assert(kExtentRecordSize == 12 && kExtentKeySize == 8 && kExtKeyStartBlock + 2 == kExtentKeySize);
static_assert(kMaxCatalogKeySize == 38 && kCatKeyName + 1 + kMaxMacName == kMaxCatalogKeySize);
