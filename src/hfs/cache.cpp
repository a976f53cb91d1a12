#include "hfs/cache.h"

#include <cstring>
#include <new>
#include <unordered_map>

#include "core/main_state.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "hfs/volume.h"

unsigned CacheAllocationLimit = 0;

namespace {

// Buffers kept before clean ones are reused: 1 MiB of metadata blocks.
constexpr unsigned kCacheSoftLimit = 2048;

BlockBuffer* g_head = nullptr;
BlockBuffer* g_tail = nullptr;
unsigned g_count = 0;
std::vector<BlockBuffer*> g_dirty;
// Lookup by block number; the list keeps the use order for reuse.
std::unordered_map<uint32_t, BlockBuffer*>& Index()
{
    static std::unordered_map<uint32_t, BlockBuffer*> index;
    return index;
}

void Unlink(BlockBuffer* b)
{
    (b->prev ? b->prev->next : g_head) = b->next;
    (b->next ? b->next->prev : g_tail) = b->prev;
    b->next = b->prev = nullptr;
}

void PushFront(BlockBuffer* b)
{
    b->prev = nullptr;
    b->next = g_head;
    (g_head ? g_head->prev : g_tail) = b;
    g_head = b;
}

// Runs as a cached block turns dirty: lists it, and keeps a copy of what the
// medium holds so a write-back can undo itself without reading it back.
void BeforeFirstChange(BlockData* block)
{
    BlockBuffer* b = static_cast<BlockBuffer*>(block);
    if (!b->listedDirty) {
        g_dirty.push_back(b);
        b->listedDirty = true;
    }
    b->hasMediumCopy = false;
    if (!b->matchesMedium) return;
    if (!b->mediumCopy) b->mediumCopy.reset(new (std::nothrow) uint8_t[kHfsBlockSize]);
    if (!b->mediumCopy) return;
    std::memcpy(b->mediumCopy.get(), b->data, kHfsBlockSize);
    b->hasMediumCopy = true;
}

BlockBuffer* AllocateBuffer()
{
    if (CacheAllocationLimit != 0 && g_count >= CacheAllocationLimit) return nullptr;
    BlockBuffer* b = new (std::nothrow) BlockBuffer();
    if (!b) return nullptr;
    b->beforeFirstChange = BeforeFirstChange;
    ++g_count;
    return b;
}

// The least recently used buffer that is neither dirty nor pinned.
BlockBuffer* ReusableBuffer()
{
    for (BlockBuffer* b = g_tail; b; b = b->prev)
        if (b->flags == 0) return b;
    return nullptr;
}

DriveEntry* CurrentDrive()
{
    if (MacDriveIndex >= DriveCount) return nullptr;
    return &DriveTable[MacDriveIndex];
}

uint16_t ClampToTransferLimit(uint16_t count)
{
    const uint32_t limit = MaxTransferBytes / kBlockSize;
    return count > limit ? static_cast<uint16_t>(limit) : count;
}

bool LoadBuffer(BlockBuffer* b)
{
    if (ReadDeviceBlocks(b->data, 1, b->block) < 1) return false;
    b->loaded = true;
    b->matchesMedium = true;
    b->nodeCheck = NodeCheck::Unchecked;
    return true;
}

bool InsideVolume(uint32_t block, uint16_t count)
{
    if (MacVolume.volumeSize == 0) return true;  // no volume chosen yet: scan reads
    return block < MacVolume.volumeSize && count <= MacVolume.volumeSize - block;
}

}  // namespace

uint16_t ReadDeviceBlocks(uint8_t* buffer, uint16_t count, uint32_t block)
{
    count = ClampToTransferLimit(count);
    DriveEntry* drive = CurrentDrive();
    if (!drive || !drive->ReadSectors) {
        StatusCode = kStatusNotSupported;
        return 0;
    }
    const int32_t n = drive->ReadSectors(buffer, count, block, drive);
    if (n <= 0 || n > count) {
        if (StatusCode == 0) StatusCode = kStatusReadError;
        return 0;
    }
    return static_cast<uint16_t>(n);
}

uint16_t WriteDeviceBlocks(const uint8_t* buffer, uint16_t count, uint32_t block)
{
    count = ClampToTransferLimit(count);
    DriveEntry* drive = CurrentDrive();
    if (!drive || (drive->Flags & kDriveReadOnly) || !drive->WriteSectors || MacVolume.writeRefusal) {
        StatusCode = kStatusReadOnly;
        return 0;
    }
    // The drive operations take a mutable pointer but only read from it.
    const int32_t n = drive->WriteSectors(const_cast<uint8_t*>(buffer), count, block, drive);
    if (n <= 0 || n > count) {
        if (StatusCode == 0) StatusCode = kStatusWriteError;
        return 0;
    }
    return static_cast<uint16_t>(n);
}

const BlockBuffer* PeekCachedBlock(uint32_t block)
{
    const auto& index = Index();
    const auto it = index.find(block);
    return it != index.end() && it->second->loaded ? it->second : nullptr;
}

int FindCachedBlock(BlockBuffer** out, uint32_t block)
{
    auto& index = Index();
    if (auto it = index.find(block); it != index.end()) {
        BlockBuffer* b = it->second;
        if (b != g_head) {
            Unlink(b);
            PushFront(b);
        }
        *out = b;
        return 0;
    }
    // Past the soft limit a clean buffer is reused before a new one is made,
    // so a walk of a large catalog holds a bounded set of blocks instead of
    // every block it ever read. Dirty and pinned buffers are never reused.
    BlockBuffer* reused = g_count >= kCacheSoftLimit ? ReusableBuffer() : nullptr;
    BlockBuffer* b = reused ? reused : AllocateBuffer();
    if (!b) b = reused = ReusableBuffer();
    if (!b) {
        StatusCode = kStatusNoMemory;
        return 0;
    }
    if (reused) {
        Unlink(b);
        index.erase(b->block);
    }
    b->block = block;
    b->flags = 0;
    b->loaded = false;
    b->matchesMedium = false;
    b->nodeCheck = NodeCheck::Unchecked;
    PushFront(b);
    index[block] = b;
    *out = b;
    return 1;
}

uint16_t GetBlock(BlockBuffer** buffer, uint32_t block, uint16_t count)
{
    if (count > 1) count = 1;
    BlockBuffer* b = nullptr;
    const int isNew = FindCachedBlock(&b, block);
    if (!b) return 0;
    if (!isNew && b->loaded) {
        *buffer = b;
        return count;
    }
    if (count == 0) {
        // The caller overwrites the whole block; nothing to read.
        std::memset(b->data, 0, sizeof b->data);
        b->loaded = true;
        b->matchesMedium = false;
        b->nodeCheck = NodeCheck::Unchecked;
        *buffer = b;
        return 0;
    }
    if (StatusCode != 0) return 0;
    if (!LoadBuffer(b)) return 0;
    *buffer = b;
    return 1;
}

uint16_t GetBlockDirect(uint8_t* data, uint32_t block, uint16_t count)
{
    if (StatusCode != 0) return 0;
    return ReadDeviceBlocks(data, count, block);
}

uint16_t GetVolumeBlock(BlockBuffer** buffer, uint32_t block, uint16_t count)
{
    if (!InsideVolume(block, 1)) {
        ReportCorruption("block outside the volume");
        return 0;
    }
    return GetBlock(buffer, MacVolume.partitionStart + block, count);
}

uint16_t GetVolumeBlockDirect(uint8_t* data, uint32_t block, uint16_t count)
{
    if (!InsideVolume(block, count)) {
        ReportCorruption("run outside the volume");
        return 0;
    }
    return GetBlockDirect(data, MacVolume.partitionStart + block, count);
}

void FreeBlockCache()
{
    BlockBuffer* b = g_head;
    while (b) {
        BlockBuffer* next = b->next;
        delete b;
        b = next;
    }
    g_head = g_tail = nullptr;
    g_count = 0;
    g_dirty.clear();
    Index().clear();
    // The volume's pinned buffers went with the cache.
    MacVolume.mdb = MacVolume.extentsHeader = MacVolume.catalogHeader = nullptr;
}

BlockBuffer* CacheHead() { return g_head; }

const std::vector<BlockBuffer*>& DirtyBuffers()
{
    // Buffers made clean since they were listed (a discard) leave the list.
    std::erase_if(g_dirty, [](BlockBuffer* b) {
        if (b->flags & kBlockDirty) return false;
        b->listedDirty = false;
        b->hasMediumCopy = false;
        return true;
    });
    return g_dirty;
}

const uint8_t* MediumCopy(const BlockBuffer* buffer)
{
    return buffer->hasMediumCopy ? buffer->mediumCopy.get() : nullptr;
}

void MarkDirtyBuffersClean()
{
    for (BlockBuffer* b : g_dirty) {
        b->flags &= static_cast<uint8_t>(~kBlockDirty);
        b->matchesMedium = true;
        b->listedDirty = false;
        b->hasMediumCopy = false;
    }
    g_dirty.clear();
}

unsigned CacheBufferCount() { return g_count; }
