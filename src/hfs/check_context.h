// What the parts of the volume check share: the problem list, and the leaf
// records of the two B-trees, collected by the tree walk and checked by the
// catalog and allocation passes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "hfs/catalog_keys.h"
#include "hfs/volume_check.h"
#include "hfs/volume.h"

// One catalog leaf record, copied out of its node.
struct CatalogEntry {
    uint32_t node;
    uint16_t index;
    uint32_t parentId;                // from the key
    uint8_t name[32];                 // from the key: length byte (at most 31) and characters
    CatalogRecordFault fault;         // what the decoder found wrong with it
    uint8_t type;                     // the record's type; 0 without data
    uint16_t dataSize;                // bytes of record data after the padded key
    uint8_t data[kFileRecordSize];    // the first bytes of the data, zero past dataSize
};

// One extents leaf record.
struct ExtentEntry {
    uint32_t node;
    uint16_t index;
    uint8_t forkType;
    uint32_t fileId;
    uint16_t startBlock;              // fork allocation block of the first extent
    uint8_t extents[kExtentRecordSize];  // three (start, count) descriptors
};

struct CheckContext {
    std::vector<std::string>* problems;
    std::vector<ProblemSeverity>* severities = nullptr;  // when the caller wants them
    int count = 0;
    std::vector<CatalogEntry> catalog;   // in key order when the tree is sound
    std::vector<ExtentEntry> extents;
    bool catalogComplete = false;        // every catalog leaf was read
    bool extentsComplete = false;
};

// Adds one problem line, blocking unless a severity says otherwise.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void Problem(CheckContext* ctx, const char* format, ...);
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
void Problem(CheckContext* ctx, ProblemSeverity severity, const char* format, ...);

// A Mac name (length byte and characters) as quoted Windows-1252 text.
std::string QuotedMacName(const uint8_t* name);
// Why the last read failed: the corruption noted by the engine, or the status.
std::string ReadFailureText();

// The parts of the check, in the order CheckVolume runs them.
void CheckMasterBlock(CheckContext* ctx);
void CheckAlternateMasterBlock(CheckContext* ctx);
void CheckExtentsTree(CheckContext* ctx);
void CheckCatalogTree(CheckContext* ctx);
void CheckCatalogRecords(CheckContext* ctx);
void CheckAllocation(CheckContext* ctx);
