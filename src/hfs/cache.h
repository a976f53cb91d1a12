// The block cache of the open volume's metadata (MDB, bitmap, B-tree nodes)
// and the raw block transfers of the drive in use. Cached blocks are changed
// in place and written back only by FlushVolume; file data never enters the
// cache.
#pragma once
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "hfs/bytes.h"

enum class NodeCheck : uint8_t { Unchecked, Good, Bad };

struct BlockBuffer : BlockData {
    uint32_t block;          // absolute 512-byte block on the drive
    BlockBuffer* next;       // use order: head is the most recently used
    BlockBuffer* prev;
    bool loaded;             // false: set up but never filled; must be read before use
    NodeCheck nodeCheck;     // B-tree node validation, done once per load
    bool matchesMedium;      // data is what the medium holds (read, or written back)
    bool listedDirty;        // on the dirty list
    bool hasMediumCopy;      // mediumCopy holds the block as it was when it turned dirty
    std::unique_ptr<uint8_t[]> mediumCopy;
};

// Pins a buffer while the guard lives and then puts its pinned bit back as
// it was, so that a pin held further out (an open stream, a caller) survives.
// Movable, so a stream can hold one from its open to its close.
class ScopedPin {
public:
    ScopedPin() = default;
    explicit ScopedPin(BlockData* block) : block_(block), wasPinned_(block && (block->flags & kBlockPinned))
    {
        if (block_) PinBlock(block_);
    }
    ScopedPin(ScopedPin&& other) noexcept
        : block_(std::exchange(other.block_, nullptr)), wasPinned_(other.wasPinned_)
    {
    }
    ScopedPin& operator=(ScopedPin&& other) noexcept
    {
        if (this != &other) {
            Release();
            block_ = std::exchange(other.block_, nullptr);
            wasPinned_ = other.wasPinned_;
        }
        return *this;
    }
    ScopedPin(const ScopedPin&) = delete;
    ScopedPin& operator=(const ScopedPin&) = delete;
    ~ScopedPin() { Release(); }
    // Ends the pin now.
    void Release()
    {
        if (block_ && !wasPinned_) UnpinBlock(block_);
        block_ = nullptr;
    }

private:
    BlockData* block_ = nullptr;
    bool wasPinned_ = false;
};

// Drive transfers of the drive in use (DriveTable[MacDriveIndex]); counts are
// cut to the transfer limit. Return the blocks moved, or 0 with StatusCode set.
uint16_t ReadDeviceBlocks(uint8_t* buffer, uint16_t count, uint32_t block);
uint16_t WriteDeviceBlocks(const uint8_t* buffer, uint16_t count, uint32_t block);

// Finds `block` in the cache or sets up a buffer for it (reusing the least
// recently used clean, unpinned buffer when memory runs out). Returns 1 when a
// new buffer was set up, 0 when found (or on failure: StatusCode 2, *out
// unchanged).
int FindCachedBlock(BlockBuffer** out, uint32_t block);

// Cache mode: *buffer receives the cached block, read from the medium when
// needed. A count above 1 is cut to 1. A count of 0 sets up a zeroed buffer
// the caller will overwrite whole, without reading. With StatusCode already
// set only a loaded cache hit is served. Returns the blocks served.
uint16_t GetBlock(BlockBuffer** buffer, uint32_t block, uint16_t count);
// Direct mode: reads `count` blocks straight into `data`.
uint16_t GetBlockDirect(uint8_t* data, uint32_t block, uint16_t count);
// The same with a volume-relative block number; a block outside the volume
// is a corrupt structure (StatusCode 6).
uint16_t GetVolumeBlock(BlockBuffer** buffer, uint32_t block, uint16_t count);
uint16_t GetVolumeBlockDirect(uint8_t* data, uint32_t block, uint16_t count);

// The cached, loaded buffer of absolute block `block`, or null. Neither reads
// nor changes the use order: for readers that look at a block once and would
// only crowd the cache with it.
const BlockBuffer* PeekCachedBlock(uint32_t block);

// Frees every buffer without writing anything.
void FreeBlockCache();

// The head of the use-ordered list.
BlockBuffer* CacheHead();
unsigned CacheBufferCount();

// The dirty buffers, in the order they turned dirty: write-back and discard
// touch these and nothing else.
const std::vector<BlockBuffer*>& DirtyBuffers();
// What the medium held when `buffer` turned dirty, or nullptr when the cache
// does not know (a buffer set up without reading, or no memory for the copy).
const uint8_t* MediumCopy(const BlockBuffer* buffer);
// After a write-back has landed: every dirty buffer is clean and holds what
// the medium holds.
void MarkDirtyBuffersClean();

// Tests: make buffer allocation fail once this many buffers exist (0: never).
extern unsigned CacheAllocationLimit;
