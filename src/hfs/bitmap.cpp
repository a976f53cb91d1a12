#include "hfs/bitmap.h"

#include <bit>
#include <cstdint>

#include "core/status.h"
#include "hfs/cache.h"
#include "hfs/volume.h"

namespace {

constexpr uint32_t kBitsPerBitmapBlock = kHfsBlockSize * 8;

// The cached bitmap block that holds the bit of allocation block `block`.
BlockBuffer* BitmapBlockFor(uint32_t block)
{
    BlockBuffer* buffer = nullptr;
    const uint32_t bitmapBlock = GetU16(MacVolume.mdb->data + kMdbBitmapStart) + block / kBitsPerBitmapBlock;
    if (GetVolumeBlock(&buffer, bitmapBlock, 1) < 1) return nullptr;
    return buffer;
}

// The bitmap byte of allocation blocks 8k..8k+7 (k = block / 8), or -1.
int BitmapByte(uint32_t block)
{
    const BlockBuffer* buffer = BitmapBlockFor(block);
    if (!buffer) return -1;
    return buffer->data[(block / 8) % kHfsBlockSize];
}

void Mark(uint16_t start, uint16_t count, bool used)
{
    if (count == 0 || StatusCode != 0) return;
    const uint32_t last = uint32_t{start} + count - 1;
    if (last >= VolumeAllocBlockCount()) {
        ReportCorruption("allocation run beyond the bitmap");
        return;
    }
    // Only bits that change move the free count: a run freed twice before
    // a flush, or a damaged bitmap, must not make it drift.
    uint32_t changed = 0;
    uint32_t block = start;
    while (block <= last) {
        BlockBuffer* buffer = BitmapBlockFor(block);
        if (!buffer) return;
        const unsigned firstBit = block % 8;
        const uint32_t byteEnd = (block | 7u) < last ? (block | 7u) : last;
        const unsigned lastBit = byteEnd % 8;
        // Bits firstBit..lastBit of this byte, counted from the most significant.
        const uint8_t mask = static_cast<uint8_t>((0xFFu >> firstBit) & (0xFFu << (7 - lastBit)));
        const unsigned offset = (block / 8) % kHfsBlockSize;
        const uint8_t old = buffer->data[offset];
        changed += static_cast<uint32_t>(std::popcount(static_cast<uint8_t>((used ? ~old : old) & mask)));
        BlockPutU8(static_cast<uint8_t>(used ? (old | mask) : (old & ~mask)), buffer, offset);
        block = byteEnd + 1;
    }
    if (!used && start < MacVolume.freeSearchStart) MacVolume.freeSearchStart = start;
    const uint16_t freeBlocks = GetU16(MacVolume.mdb->data + kMdbFreeBlocks);
    BlockPutU16(static_cast<uint16_t>(used ? freeBlocks - changed : freeBlocks + changed), MacVolume.mdb,
                kMdbFreeBlocks);
}

}  // namespace

bool AllocationBlockUsed(uint16_t block)
{
    const int byte = BitmapByte(block);
    return byte >= 0 && (byte & (0x80 >> (block % 8))) != 0;
}

int FindFreeRun(uint16_t* start, uint16_t* count)
{
    const uint32_t total = VolumeAllocBlockCount();
    if (*start != 0) {
        if (*start >= total || AllocationBlockUsed(*start) || StatusCode != 0) return -1;
        uint32_t end = *start;
        while (end < total && end - *start < *count && !AllocationBlockUsed(static_cast<uint16_t>(end))) ++end;
        if (StatusCode != 0) return -1;
        if (end - *start >= *count) return 0;
        *count = static_cast<uint16_t>(end - *start);
        return 1;
    }

    // The scan touches nothing else in the cache, so the bitmap block in hand
    // stays valid until the scan moves past it.
    const BlockBuffer* held = nullptr;
    uint32_t heldIndex = UINT32_MAX;
    auto byteOf = [&](uint32_t b) -> int {
        if (b / kBitsPerBitmapBlock != heldIndex) {
            held = BitmapBlockFor(b);
            if (!held) return -1;
            heldIndex = b / kBitsPerBitmapBlock;
        }
        return held->data[(b / 8) % kHfsBlockSize];
    };
    int64_t runStart = -1;
    uint32_t bestStart = 0;
    uint32_t bestLength = 0;
    // Every block below the search start is in use, so the scan can begin
    // there (at a byte boundary) and find the same runs as from block 0. It
    // moves up to the first free block the scan meets.
    uint32_t block = MacVolume.freeSearchStart & ~7u;
    bool seenFree = false;
    // Closes the open run at `end`; true when it is long enough.
    auto runEnds = [&](uint32_t end) {
        const uint32_t length = end - static_cast<uint32_t>(runStart);
        if (length >= *count) return true;
        if (length > bestLength) {
            bestStart = static_cast<uint32_t>(runStart);
            bestLength = length;
        }
        runStart = -1;
        return false;
    };
    // The open run is long enough once it reaches `*count` free blocks.
    auto longEnough = [&] { return runStart >= 0 && block - static_cast<uint32_t>(runStart) >= *count; };
    while (block < total) {
        if (longEnough()) {
            *start = static_cast<uint16_t>(runStart);
            return 0;
        }
        const int byte = byteOf(block);
        if (byte < 0) return -1;
        if (block % 8 == 0 && block + 8 < total) {
            // Whole bytes that cannot change the answer are skipped, a run of
            // them at a time within the block in hand.
            const uint8_t same = runStart < 0 ? 0xFF : 0x00;
            if (byte == same) {
                unsigned offset = (block / 8) % kHfsBlockSize;
                do {
                    block += 8;
                    ++offset;
                } while (offset < kHfsBlockSize && block + 8 < total && held->data[offset] == same && !longEnough());
                continue;
            }
        }
        const bool used = (byte & (0x80 >> (block % 8))) != 0;
        if (!used && !seenFree) {
            MacVolume.freeSearchStart = block;
            seenFree = true;
        }
        if (!used && runStart < 0) runStart = block;
        if (used && runStart >= 0 && runEnds(block)) {
            *start = static_cast<uint16_t>(runStart);
            return 0;
        }
        ++block;
    }
    if (runStart >= 0 && runEnds(total)) {
        *start = static_cast<uint16_t>(runStart);
        return 0;
    }
    if (!seenFree) MacVolume.freeSearchStart = total;
    if (bestLength == 0) return -1;
    *start = static_cast<uint16_t>(bestStart);
    *count = static_cast<uint16_t>(bestLength);
    return 1;
}

void MarkAllocated(uint16_t start, uint16_t count) { Mark(start, count, true); }

void MarkFree(uint16_t start, uint16_t count)
{
    if (count == 0 || StatusCode != 0) return;
    if (uint32_t{start} + count > VolumeAllocBlockCount()) {
        ReportCorruption("allocation run beyond the bitmap");
        return;
    }
    MacVolume.pendingFree.push_back(AllocationRun{start, count});
}

void ReleasePendingFrees()
{
    for (const AllocationRun& run : MacVolume.pendingFree) Mark(run.start, run.count, false);
    MacVolume.pendingFree.clear();
}
