// The master directory block's own fields, and its alternate copy in the
// volume's second-to-last block.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/status.h"
#include "hfs/check_context.h"

namespace {

constexpr uint16_t kAttrUnmounted = 0x0100;     // set when the volume was put away cleanly
constexpr uint16_t kAttrInconsistent = 0x0800;  // set by a system that may have left it half-written

std::string ExtentsText(const uint8_t* p)
{
    char text[64];
    std::snprintf(text, sizeof text, "(%u,%u) (%u,%u) (%u,%u)", GetU16(p + ExtentStartAt(0)),
                  GetU16(p + ExtentCountAt(0)), GetU16(p + ExtentStartAt(1)), GetU16(p + ExtentCountAt(1)),
                  GetU16(p + ExtentStartAt(2)), GetU16(p + ExtentCountAt(2)));
    return text;
}

std::string FieldText(const uint8_t* p, unsigned width)
{
    if (width == 2) return std::to_string(GetU16(p));
    if (width == 4) return std::to_string(GetU32(p));
    return ExtentsText(p);
}

// Fields the alternate must share with the MDB. The alternate is rewritten
// only when a B-tree file grows, so counters, dates, attributes and the
// name may be older there; the volume's layout and the B-tree files' places
// may not.
struct SharedField {
    uint16_t offset;
    uint8_t width;
    const char* what;
};
constexpr SharedField kSharedFields[] = {
    {kMdbBitmapStart, 2, "first bitmap block"},
    {kMdbAllocBlocks, 2, "allocation block count"},
    {kMdbAllocBlockSize, 4, "allocation block size"},
    {kMdbFirstAllocBlock, 2, "first allocation block"},
    {kMdbExtentsSize, 4, "extents file size"},
    {kMdbExtentsExtents, kExtentRecordSize, "extents file extents"},
    {kMdbCatalogSize, 4, "catalog file size"},
    {kMdbCatalogExtents, kExtentRecordSize, "catalog file extents"},
};

}  // namespace

void CheckMasterBlock(CheckContext* ctx)
{
    const uint8_t* mdb = MacVolume.mdb->data;
    if (GetU16(mdb + kMdbSignature) != kHfsSignature)
        Problem(ctx, "MDB: signature is 0x%04X, not 0x4244", GetU16(mdb + kMdbSignature));
    const uint16_t attributes = GetU16(mdb + kMdbAttributes);
    if (!(attributes & kAttrUnmounted))
        Problem(ctx, ProblemSeverity::Harmless, "MDB: the volume was not unmounted cleanly (attributes 0x%04X)",
                attributes);
    if (attributes & kAttrInconsistent)
        Problem(ctx, ProblemSeverity::Harmless, "MDB: the volume is marked inconsistent (attributes 0x%04X)",
                attributes);

    const uint32_t blockBytes = GetU32(mdb + kMdbAllocBlockSize);
    if (blockBytes == 0 || blockBytes % kHfsBlockSize != 0) {
        Problem(ctx, "MDB: allocation block size %u is not a multiple of 512", blockBytes);
        return;
    }
    const uint32_t s = blockBytes / kHfsBlockSize;
    const uint32_t blocks = GetU16(mdb + kMdbAllocBlocks);
    const uint32_t first = GetU16(mdb + kMdbFirstAllocBlock);
    if (blocks == 0) Problem(ctx, "MDB: the volume has no allocation blocks");
    const uint64_t allocEnd = first + uint64_t{blocks} * s;
    if (MacVolume.volumeSize <= kAlternateMdbFromEnd || allocEnd > MacVolume.volumeSize - kAlternateMdbFromEnd)
        Problem(ctx, "MDB: the allocation blocks end at volume block %s, past the alternate MDB at block %u",
                std::to_string(allocEnd).c_str(), MacVolume.volumeSize - kAlternateMdbFromEnd);
    const uint32_t bitmapStart = GetU16(mdb + kMdbBitmapStart);
    const uint32_t bitmapBlocks = (blocks + kHfsBlockSize * 8 - 1) / (kHfsBlockSize * 8);
    if (bitmapStart <= kMdbBlock || bitmapStart + bitmapBlocks > first)
        Problem(ctx, "MDB: the bitmap (%u block(s) from volume block %u) does not lie between the MDB and the "
                "first allocation block (%u)", bitmapBlocks, bitmapStart, first);
    const uint32_t freeBlocks = GetU16(mdb + kMdbFreeBlocks);
    if (freeBlocks > blocks)
        Problem(ctx, "MDB: free block count %u exceeds the %u allocation blocks", freeBlocks, blocks);
    const unsigned nameLength = mdb[kMdbVolumeName];
    if (nameLength == 0 || nameLength > kMaxVolumeName)
        Problem(ctx, "MDB: volume name length %u is not 1 to 27", nameLength);
    const uint32_t nextId = GetU32(mdb + kMdbNextCatalogId);
    if (nextId < kFirstUserId) Problem(ctx, "MDB: next catalog ID %u is below 16", nextId);
}

// The alternate is read only by repair tools, and a write that changes it
// copies the whole MDB over it: what is wrong with it never blocks a write.
void CheckAlternateMasterBlock(CheckContext* ctx)
{
    if (MacVolume.volumeSize <= kAlternateMdbFromEnd) return;   // reported with the allocation area
    const uint32_t where = MacVolume.volumeSize - kAlternateMdbFromEnd;
    BlockBuffer* alternate = nullptr;
    StatusCode = 0;
    LastCorruption = nullptr;
    if (GetVolumeBlock(&alternate, where, 1) < 1 || !alternate) {
        Problem(ctx, ProblemSeverity::Harmless, "alternate MDB: volume block %u cannot be read (%s)", where,
                ReadFailureText().c_str());
        StatusCode = 0;
        return;
    }
    const uint8_t* alt = alternate->data;
    const uint8_t* mdb = MacVolume.mdb->data;
    if (GetU16(alt + kMdbSignature) != kHfsSignature) {
        Problem(ctx, ProblemSeverity::Harmless,
                "alternate MDB: volume block %u does not hold an MDB (signature 0x%04X)", where,
                GetU16(alt + kMdbSignature));
        return;
    }
    for (const SharedField& field : kSharedFields) {
        if (std::memcmp(alt + field.offset, mdb + field.offset, field.width) == 0) continue;
        Problem(ctx, ProblemSeverity::Harmless, "alternate MDB: %s is %s, the MDB has %s", field.what,
                FieldText(alt + field.offset, field.width).c_str(), FieldText(mdb + field.offset, field.width).c_str());
    }
}
