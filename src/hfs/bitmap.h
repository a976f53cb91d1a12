// The volume bitmap: one bit per allocation block, most significant bit
// first, a set bit meaning used. Bitmap blocks are changed in the cache and
// written at the next flush, together with the MDB's free-block count.
#pragma once
#include <cstdint>

// Looks for free allocation blocks. With *start 0, the first free run at
// least *count long (returns 0, *start set), else the longest run (returns 1,
// *start and *count set), or -1 when no block is free. With *start nonzero,
// the run must begin exactly there: -1 when that block is used, 0 when the
// run is long enough, else 1 with *count cut to the run's length.
int FindFreeRun(uint16_t* start, uint16_t* count);
// Sets `count` bits from `start` and lowers the MDB's free count.
void MarkAllocated(uint16_t start, uint16_t count);
// Gives a run back. The blocks stay marked used (and out of the free count)
// until ReleasePendingFrees, which the flush calls: until the change that
// freed them reaches the medium, a discard may bring their owner back, so
// new data must not land on them. Replacing a file therefore needs room for
// the old and the new one at once.
void MarkFree(uint16_t start, uint16_t count);
// Clears the bits of every run freed since the last flush and raises the
// MDB's free count, in the cache; the flush writes them with the rest.
void ReleasePendingFrees();
// Whether allocation block `block` is marked used; false with StatusCode set
// when the bitmap cannot be read.
bool AllocationBlockUsed(uint16_t block);
