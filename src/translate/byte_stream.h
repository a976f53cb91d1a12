// Byte streams: a translator reads bytes from a source and writes bytes to a
// destination, each a PC file or one fork of a Mac file. Two slots, each
// with a 32 KB buffer, so PC files move in 32 KB calls and Mac forks in runs
// of up to 64 blocks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "hfs/volume.h"
#include "platform/platform.h"

// One file being moved.
struct TransferRecord {
    char name[256];          // PC: zero-terminated Windows-1252 name; Mac: length-prefixed Mac name
    uint8_t finderInfo[16];  // type, creator, Finder flags, icon location, folder (as in the catalog)
    uint32_t parentId;       // Mac folder that holds, or is to hold, the file
    uint32_t dataLength;
    uint32_t resourceLength;
    uint32_t created;        // MacDate; 0 on a new Mac file: now
    uint32_t modified;
};

enum StreamFlags : uint8_t {
    StreamPcFile = 0x01,
    StreamMacFork = 0x02,
    StreamWrite = 0x04,
    StreamResourceFork = 0x08,
};

constexpr unsigned StreamSlotCount = 2;
constexpr uint16_t kStreamBufferSize = 32768;
constexpr int StreamEnd = -1;
constexpr int StreamReadError = -3;

struct ByteStream {
    uint8_t flags;           // 0: the slot is free
    FileHandle file;
    ForkRef fork;
    TransferRecord record;
    uint32_t forkLength;     // Mac read streams: logical length of the fork
    uint32_t position;       // bytes read, or written to the fork
    uint8_t* buffer;
    uint16_t bufferSize;
    uint16_t limit;          // reading: valid bytes; writing: the buffer size
    uint16_t index;          // next byte to hand out or fill
    ScopedPin recordPin;     // Mac streams: keeps the file's catalog record in the cache
    bool pcAtEnd;            // PC read streams: the last read stopped at the end of the file
    int64_t pcLeft;          // PC read streams: bytes of a regular file still to read; -1: read to the end
    int64_t pcModified;      // PC read streams: the file's modification time (seconds since 1970), or 0
    std::string pcTemp;      // PC write streams replacing a file: the native name written to, renamed over
                             // the old file at a close without failure; empty for a new file
};

extern ByteStream StreamTable[StreamSlotCount];
// Told the native path of every PC file a write stream finished whole (new
// or replaced); null unless a front end listens. The command line keeps the
// files a command wrote, which its --overwrite must never replace.
extern void (*PcFileWritten)(const char* nativePath);

// Opens a slot; returns 0 or 1, or -1 with StatusCode set. A Mac read stream
// fills `record` from the catalog (lengths, dates, Finder info); a Mac write
// stream creates the file in the Mac pane's current folder. A PC read stream
// reads only a regular file (a FIFO or device is refused: StatusCode 101). A
// PC write stream never writes through a link: a new name is created
// exclusively, and an existing file or link of the name is replaced only at a
// close without failure, by a file written beside it.
int OpenStream(uint8_t flags, TransferRecord* record);
// The next byte (0..255), StreamEnd, or StreamReadError after a PC read
// failure; 0 when StatusCode is already set.
int ReadStreamByte(int slot);
void WriteStreamByte(int slot, uint8_t byte);
// The same reading and writing a run at a time, for copies that move many
// bytes: ReadStreamSpan hands out every byte the buffer holds now (refilling
// it first when empty), or `most` of them when fewer, and answers their
// count, or what ReadStreamByte would answer at the end or on failure;
// WriteStreamSpan stores `count` bytes as that many WriteStreamByte calls would.
int ReadStreamSpan(int slot, const uint8_t** bytes, uint32_t most = UINT32_MAX);
void WriteStreamSpan(int slot, const uint8_t* bytes, size_t count);
// The modification time of the PC file open for reading in `slot` (seconds
// since 1970), or 0 when it is not known.
int64_t PcStreamModifiedTime(int slot);
// Bytes of the PC file open for reading in `slot` not handed out yet, or -1
// when that is not known (a pipe).
int64_t PcStreamBytesLeft(int slot);
// Moves an open Mac stream to the other fork of its file.
void SwitchStreamFork(int slot, const TransferRecord* record);
void FlushStream(int slot);
// Flushes and frees the slot (a slot below 0 is ignored). A PC write stream
// closed with StatusCode set deletes what it wrote: no partial PC file is
// left, and a file it was to replace stays as it was.
void CloseStream(int slot);
