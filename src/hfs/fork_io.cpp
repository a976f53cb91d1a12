#include "hfs/fork_io.h"

#include <cstddef>
#include <cstring>

#include "core/status.h"
#include "hfs/extents.h"

bool MapForkBlock(uint32_t forkBlock, uint8_t fork, const ForkRef* ref, bool forWrite, uint32_t* volumeBlock,
                  uint32_t* available)
{
    const uint32_t s = MacVolume.allocBlockSize;
    if (s == 0) {
        ReportCorruption("no allocation block size");
        return false;
    }
    const uint32_t a = forkBlock / s;
    const uint32_t r = forkBlock % s;
    if (a > 0xFFFF) {
        if (!forWrite) ReportCorruption("fork block beyond any extent");
        return false;
    }
    ExtentRecordPos pos;
    if (!FindExtentRecord(static_cast<uint16_t>(a), fork, ref, &pos)) {
        if (StatusCode == 0 && !forWrite) ReportCorruption("no extent record for fork block");
        return false;
    }
    uint32_t b = pos.firstBlock;
    const uint32_t allocBlocks = VolumeAllocBlockCount();
    for (unsigned i = 0; i < kExtentsPerRecord; ++i) {
        const uint8_t* d = pos.buffer->data + pos.offset;
        const uint32_t start = GetU16(d + ExtentStartAt(i));
        const uint32_t count = GetU16(d + ExtentCountAt(i));
        if (b + count > a) {
            if (start + count > allocBlocks) {
                ReportCorruption("extent beyond the volume");
                return false;
            }
            *available = (b + count - a) * s - r;
            *volumeBlock = MacVolume.firstAllocBlock + (start + (a - b)) * s + r;
            return true;
        }
        b += count;
    }
    if (!forWrite) ReportCorruption("fork block not covered by its extent record");
    return false;
}

uint16_t ReadForkNode(BlockBuffer** out, uint32_t forkBlock, uint8_t fork, ForkRef* ref)
{
    uint32_t volumeBlock = 0;
    uint32_t available = 0;
    if (StatusCode != 0) return 0;
    if (!MapForkBlock(forkBlock, fork, ref, false, &volumeBlock, &available)) return 0;
    return GetVolumeBlock(out, volumeBlock, 1);
}

uint16_t CopyForkNode(uint8_t* out, uint32_t forkBlock, uint8_t fork, ForkRef* ref)
{
    uint32_t volumeBlock = 0;
    uint32_t available = 0;
    if (StatusCode != 0) return 0;
    if (!MapForkBlock(forkBlock, fork, ref, false, &volumeBlock, &available)) return 0;
    if (volumeBlock < MacVolume.volumeSize) {
        if (const BlockBuffer* cached = PeekCachedBlock(MacVolume.partitionStart + volumeBlock)) {
            std::memcpy(out, cached->data, kHfsBlockSize);
            return 1;
        }
    }
    return GetVolumeBlockDirect(out, volumeBlock, 1);
}

uint16_t ReadForkBlocks(uint8_t* data, uint32_t forkBlock, uint16_t count, uint8_t fork, ForkRef* ref)
{
    uint32_t volumeBlock = 0;
    uint32_t available = 0;
    if (StatusCode != 0 || count == 0) return 0;
    if (!MapForkBlock(forkBlock, fork, ref, false, &volumeBlock, &available)) return 0;
    if (count > available) count = static_cast<uint16_t>(available);
    return GetVolumeBlockDirect(data, volumeBlock, count);
}

uint16_t WriteForkBlocks(const uint8_t* data, uint32_t forkBlock, uint16_t count, uint8_t fork, ForkRef* ref)
{
    uint32_t volumeBlock = 0;
    uint32_t available = 0;
    if (StatusCode != 0 || count == 0) return 0;
    if (!MapForkBlock(forkBlock, fork, ref, true, &volumeBlock, &available)) return 0;
    if (count > available) count = static_cast<uint16_t>(available);
    if (volumeBlock >= MacVolume.volumeSize || count > MacVolume.volumeSize - volumeBlock) {
        ReportCorruption("write outside the volume");
        return 0;
    }
    return WriteDeviceBlocks(data, count, MacVolume.partitionStart + volumeBlock);
}

int WriteForkBuffer(ForkRef* ref, uint8_t fork, uint32_t* position, const uint8_t* data, uint32_t byteCount)
{
    if (StatusCode != 0) return 0;
    const uint32_t s = MacVolume.allocBlockSize;
    uint32_t remaining = (byteCount + kHfsBlockSize - 1) / kHfsBlockSize;
    uint32_t block = *position / kHfsBlockSize;
    // Each round writes at least one block or grants at least one more
    // allocation block, so the loop ends.
    while (remaining > 0) {
        const uint16_t chunk = static_cast<uint16_t>(remaining > 0xFFFF ? 0xFFFF : remaining);
        const uint16_t written = WriteForkBlocks(data, block, chunk, fork, ref);
        if (written > 0) {
            block += written;
            data += size_t{written} * kHfsBlockSize;
            remaining -= written;
            continue;
        }
        if (StatusCode != 0) return 0;
        uint32_t wanted = (remaining + s - 1) / s;
        while (wanted > 0) {
            uint16_t granted = static_cast<uint16_t>(wanted > 0xFFFF ? 0xFFFF : wanted);
            ExtendFork(ref, fork, &granted);
            if (StatusCode != 0) return 0;
            wanted -= granted < wanted ? granted : wanted;
        }
    }
    const uint16_t logical = static_cast<uint16_t>(ref->recordOffset + ForkLogicalOffset(fork));
    BlockPutU32(GetU32(ref->recordBuffer->data + logical) + byteCount, ref->recordBuffer, logical);
    *position += byteCount;
    return 1;
}
