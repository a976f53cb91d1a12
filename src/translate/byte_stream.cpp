#include "translate/byte_stream.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "core/progress.h"
#include "core/status.h"
#include "hfs/btree_search.h"
#include "hfs/catalog_ops.h"
#include "hfs/fork_io.h"
#include "hfs/mac_names.h"
#include "translate/names.h"

ByteStream StreamTable[StreamSlotCount];
void (*PcFileWritten)(const char* nativePath) = nullptr;

namespace {

bool ValidSlot(int slot) { return slot >= 0 && slot < static_cast<int>(StreamSlotCount) && StreamTable[slot].flags; }

// Native path of a PC name, in the operation's PC directory.
bool NativeName(const char* ansi, char* native, size_t size) { return PcNativePath(ansi, native, size); }

void ReleaseSlot(ByteStream& s)
{
    delete[] s.buffer;
    s = ByteStream{};
    s.file = kNoFile;
}

// The directory part of a native path, with its separator ("" for a bare name).
std::string DirectoryOf(const char* native)
{
    const std::string path(native);
    const size_t cut = path.find_last_of(PathSeparator() == '/' ? "/" : "/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// Opens the file a PC write stream writes to. A new name is created
// exclusively (never through a link); a name already taken is written
// beside, in a new file of the same directory (so the rename stays on one
// file system), and replaced only when the copy has succeeded.
FileHandle OpenPcDestination(ByteStream& s, const char* native)
{
    // The exclusive create answers "is the name free?" itself, so a new file
    // costs no look beforehand.
    const FileHandle created = FileOpen(native, FileMode::CreateNew);
    if (created != kNoFile) return created;
    const PathKind kind = GetPathKind(native);
    if (kind == PathKind::Missing) return kNoFile;  // not a clash: the directory refuses
    // A folder is never replaced, nor a file the user may not change.
    if (kind == PathKind::Directory || (kind == PathKind::Regular && !FileIsWritable(native))) return kNoFile;
    static unsigned counter = 0;
    const std::string directory = DirectoryOf(native);
    for (unsigned tries = 0; tries < 100; ++tries) {
        char name[40];
        std::snprintf(name, sizeof name, ".quaylink-%u.tmp", counter++ % 100000u);
        const std::string temp = directory + name;
        const FileHandle file = FileOpen(temp.c_str(), FileMode::CreateNew);
        if (file != kNoFile) {
            s.pcTemp = temp;
            return file;
        }
        if (GetPathKind(temp.c_str()) == PathKind::Missing) break;  // not a clash: the directory refuses
    }
    return kNoFile;
}

// Ends a PC write stream whose file is closed: the replacement takes the
// old file's place, or what was written goes.
void FinishPcWrite(ByteStream& s)
{
    char native[1024];
    if (!NativeName(s.record.name, native, sizeof native)) return;
    if (StatusCode == 0 && !s.pcTemp.empty() && !FileReplace(s.pcTemp.c_str(), native))
        StatusCode = kStatusPcWriteError;
    if (StatusCode != 0) FileDelete(s.pcTemp.empty() ? native : s.pcTemp.c_str());
    else if (PcFileWritten) PcFileWritten(native);
}

void PinRecord(ByteStream& s) { s.recordPin = ScopedPin(s.fork.recordBuffer); }

uint32_t RecordU32(const ForkRef& fork, uint16_t offset)
{
    return GetU32(fork.recordBuffer->data + fork.recordOffset + offset);
}

bool OpenMacWrite(ByteStream& s)
{
    FileCreateRequest request{};
    std::memcpy(request.name, s.record.name, 32);
    std::memcpy(request.finderInfo, s.record.finderInfo, sizeof request.finderInfo);
    request.created = s.record.created;
    request.modified = s.record.modified;
    CreateMacFile(&request);
    if (StatusCode != 0) return false;
    uint8_t name[32];
    std::memcpy(name, s.record.name, 32);
    if (LookupFile(name, s.record.parentId, &s.fork) != 0) return false;
    PinRecord(s);
    return true;
}

bool OpenMacRead(ByteStream& s, TransferRecord* record)
{
    const Str31 name(s.record.name);
    if (LookupFile(name.bytes, s.record.parentId, &s.fork) != 0) return false;
    PinRecord(s);
    record->dataLength = RecordU32(s.fork, kFileRecDataLogical);
    record->resourceLength = RecordU32(s.fork, kFileRecRsrcLogical);
    record->created = RecordU32(s.fork, kFileCreated);
    record->modified = RecordU32(s.fork, kFileModified);
    std::memcpy(record->finderInfo, s.fork.recordBuffer->data + s.fork.recordOffset + kFileFinderInfo,
                kFinderInfoSize);
    s.forkLength = (s.flags & StreamResourceFork) ? record->resourceLength : record->dataLength;
    return true;
}

void WriteBufferOut(ByteStream& s)
{
    if (s.flags & StreamPcFile) {
        const int64_t written = FileWrite(s.file, s.buffer, s.index);
        if (written < 0)
            StatusCode = kStatusPcWriteError;
        else if (written == 0 || static_cast<uint64_t>(written) < s.index)
            StatusCode = kStatusPcDiskFull;
        return;
    }
    // Whole blocks go to the fork; the tail of the last one is cleared so
    // no stale bytes reach the medium.
    const uint32_t padded = (s.index + kHfsBlockSize - 1u) / kHfsBlockSize * kHfsBlockSize;
    std::memset(s.buffer + s.index, 0, padded - s.index);
    const uint8_t fork = (s.flags & StreamResourceFork) ? kResourceFork : kDataFork;
    WriteForkBuffer(&s.fork, fork, &s.position, s.buffer, s.index);
}

// Refills a read stream's buffer. Returns false at the end or on failure.
int Refill(ByteStream& s)
{
    PumpMessages();
    if (StatusCode != 0) return 0;
    if (s.flags & StreamMacFork) {
        const uint8_t fork = (s.flags & StreamResourceFork) ? kResourceFork : kDataFork;
        const uint32_t firstBlock = (s.position + kHfsBlockSize - 1u) / kHfsBlockSize;
        const uint16_t blocks = ReadForkBlocks(s.buffer, firstBlock, s.bufferSize / kHfsBlockSize, fork, &s.fork);
        if (StatusCode != 0) return 0;
        if (blocks == 0) {
            ReportCorruption("fork shorter than its length");
            return 0;
        }
        s.limit = static_cast<uint16_t>(blocks * kHfsBlockSize);
        const uint32_t left = s.forkLength - s.position;
        AdvanceProgress(static_cast<uint16_t>(s.limit < left ? s.limit : left));
    } else {
        // A regular file is read for the length it had when opened. FileRead
        // fills what it is asked for unless the file ends first, so a short
        // read needs no second one to find the end.
        const int64_t want = s.pcLeft >= 0 && s.pcLeft < s.bufferSize ? s.pcLeft : s.bufferSize;
        const int64_t got = s.pcAtEnd || want == 0 ? 0 : FileRead(s.file, s.buffer, static_cast<size_t>(want));
        if (got < 0) {
            StatusCode = kStatusPcReadError;
            return StreamReadError;
        }
        if (s.pcLeft >= 0) s.pcLeft -= got;
        s.pcAtEnd = got < want || s.pcLeft == 0;
        s.limit = static_cast<uint16_t>(got);
        if (got == 0) return StreamEnd;
        AdvanceProgress(static_cast<uint16_t>(got));
    }
    s.index = 0;
    PumpMessages();
    return 1;
}

// Makes sure a read stream's buffer holds bytes to hand out: 1 when it does,
// else what a read answers (StreamEnd, StreamReadError, or 0 with StatusCode
// set by a failure on the Mac side).
int BytesReady(ByteStream& s)
{
    if ((s.flags & StreamMacFork) && s.position >= s.forkLength) return StreamEnd;
    if (s.index < s.limit) return 1;
    const int refilled = Refill(s);
    if (refilled > 0) return 1;
    return StatusCode != 0 && refilled != StreamReadError ? 0 : refilled;
}

}  // namespace

int OpenStream(uint8_t flags, TransferRecord* record)
{
    if (StatusCode != 0) return -1;
    int slot = -1;
    for (unsigned i = 0; i < StreamSlotCount; ++i) {
        if (StreamTable[i].flags == 0) {
            slot = static_cast<int>(i);
            break;
        }
    }
    if (slot < 0) {
        StatusCode = kStatusTooManyFiles;
        return -1;
    }
    ByteStream& s = StreamTable[slot];
    s = ByteStream{};
    s.file = kNoFile;
    s.bufferSize = kStreamBufferSize;
    s.buffer = new (std::nothrow) uint8_t[kStreamBufferSize];
    if (!s.buffer) {
        StatusCode = kStatusNoMemory;
        return -1;
    }
    s.flags = flags;
    s.record = *record;
    bool opened = false;
    if (flags & StreamWrite) {
        s.limit = s.bufferSize;
        if (flags & StreamPcFile) {
            char native[1024];
            s.file = NativeName(record->name, native, sizeof native) ? OpenPcDestination(s, native) : kNoFile;
            opened = s.file != kNoFile;
            if (!opened) StatusCode = kStatusPcCreateError;
        } else {
            opened = OpenMacWrite(s);
        }
    } else {
        s.limit = 0;
        if (flags & StreamPcFile) {
            char native[1024];
            FileStatus status{};
            s.file = NativeName(record->name, native, sizeof native) ? FileOpen(native, FileMode::Read, &status)
                                                                     : kNoFile;
            // Only a regular file has an end that reading is sure to reach.
            opened = s.file != kNoFile && status.size >= 0;
            if (!opened) StatusCode = kStatusPcOpenError;
            s.pcLeft = status.size;
            s.pcModified = status.modified;
        } else {
            opened = OpenMacRead(s, record);
        }
    }
    if (!opened) {
        if (StatusCode == 0) StatusCode = kStatusBadNode;
        if (s.file != kNoFile) FileClose(s.file);
        ReleaseSlot(s);
        return -1;
    }
    return slot;
}

int ReadStreamByte(int slot)
{
    if (StatusCode != 0 || !ValidSlot(slot)) return 0;
    ByteStream& s = StreamTable[slot];
    if (const int ready = BytesReady(s); ready <= 0) return ready;
    ++s.position;
    return s.buffer[s.index++];
}

void WriteStreamByte(int slot, uint8_t byte)
{
    if (StatusCode != 0 || !ValidSlot(slot)) return;
    ByteStream& s = StreamTable[slot];
    s.buffer[s.index++] = byte;
    if (s.index >= s.limit) {
        WriteBufferOut(s);
        s.index = 0;
    }
}

int ReadStreamSpan(int slot, const uint8_t** bytes, uint32_t most)
{
    if (StatusCode != 0 || !ValidSlot(slot) || most == 0) return 0;
    ByteStream& s = StreamTable[slot];
    if (const int ready = BytesReady(s); ready <= 0) return ready;
    uint32_t count = s.limit - s.index;
    if (count > most) count = most;
    // A Mac fork ends at its logical length, inside its last block.
    if ((s.flags & StreamMacFork) && count > s.forkLength - s.position) count = s.forkLength - s.position;
    *bytes = s.buffer + s.index;
    s.index = static_cast<uint16_t>(s.index + count);
    s.position += count;
    return static_cast<int>(count);
}

void WriteStreamSpan(int slot, const uint8_t* bytes, size_t count)
{
    if (!ValidSlot(slot)) return;
    ByteStream& s = StreamTable[slot];
    while (count > 0 && StatusCode == 0) {
        size_t room = static_cast<size_t>(s.limit - s.index);
        if (room > count) room = count;
        std::memcpy(s.buffer + s.index, bytes, room);
        s.index = static_cast<uint16_t>(s.index + room);
        bytes += room;
        count -= room;
        if (s.index >= s.limit) {
            WriteBufferOut(s);
            s.index = 0;
        }
    }
}

void FlushStream(int slot)
{
    if (!ValidSlot(slot)) return;
    ByteStream& s = StreamTable[slot];
    if (!(s.flags & StreamWrite) || StatusCode != 0 || s.index == 0) return;
    WriteBufferOut(s);
    s.index = 0;
}

int64_t PcStreamModifiedTime(int slot)
{
    return ValidSlot(slot) && (StreamTable[slot].flags & StreamPcFile) ? StreamTable[slot].pcModified : 0;
}

int64_t PcStreamBytesLeft(int slot)
{
    if (!ValidSlot(slot)) return -1;
    const ByteStream& s = StreamTable[slot];
    if ((s.flags & (StreamPcFile | StreamWrite)) != StreamPcFile || s.pcLeft < 0) return -1;
    return s.pcLeft + (s.limit - s.index);
}

void SwitchStreamFork(int slot, const TransferRecord* record)
{
    if (!ValidSlot(slot)) return;
    ByteStream& s = StreamTable[slot];
    if (!(s.flags & StreamMacFork)) return;
    if (s.flags & StreamWrite) {
        FlushStream(slot);
        s.limit = s.bufferSize;
    } else {
        s.limit = 0;
    }
    s.flags ^= StreamResourceFork;
    s.forkLength = (s.flags & StreamResourceFork) ? record->resourceLength : record->dataLength;
    s.index = 0;
    s.position = 0;
}

void CloseStream(int slot)
{
    if (!ValidSlot(slot)) return;
    FlushStream(slot);
    ByteStream& s = StreamTable[slot];
    if (s.flags & StreamPcFile) {
        FileClose(s.file);
        if (s.flags & StreamWrite) FinishPcWrite(s);
    } else {
        s.recordPin.Release();
    }
    ReleaseSlot(s);
}
