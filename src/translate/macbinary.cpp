// The MacBinary translator: a whole Mac file (both forks and its Finder
// information) in one PC file, a 128-byte header followed by each fork padded
// to a multiple of 128 bytes. We write MacBinary II (header CRC, Finder
// flags' low byte at 101) and read MacBinary I, II and III.
#include <cstdio>
#include <cstring>

#include "core/status.h"
#include "hfs/bytes.h"
#include "hfs/mac_names.h"
#include "translate/byte_stream.h"
#include "translate/crc16.h"
#include "translate/names.h"
#include "translate/registry.h"
#include "translate/translators.h"
#include "translate/whole_file_copy.h"

namespace {

// The header, byte offsets.
enum : unsigned {
    kMbNameLength = 1,
    kMbName = 2,             // 63 bytes
    kMbFinderInfo = 65,      // 16 bytes: type, creator, flags high at 73, ...
    kMbFlagsHigh = 73,
    kMbFlagsLowOld = 74,     // MacBinary I keeps the low byte here; later versions keep it zero
    kMbMustBeZero = 82,
    kMbDataLength = 83,
    kMbRsrcLength = 87,
    kMbCreated = 91,
    kMbModified = 95,
    kMbFlagsLow = 101,
    kMbSecondaryLength = 120,
    kMbWriterVersion = 122,
    kMbReaderVersion = 123,
    kMbCrc = 124,
    kMbHeaderSize = 128,
};

constexpr uint8_t kMacBinaryII = 129;
constexpr unsigned kFinderFlagsLow = kFinderInfoFlags + 1;  // in the catalog's Finder info
constexpr unsigned kMbPad = 128;

unsigned PaddingOf(uint32_t length) { return (kMbPad - length % kMbPad) % kMbPad; }

void BuildHeader(const uint8_t* macName, const TransferRecord& source, uint8_t* header)
{
    std::memset(header, 0, kMbHeaderSize);
    Str31(macName).CopyTo(header + kMbNameLength);  // the name's characters follow at kMbName
    std::memcpy(header + kMbFinderInfo, source.finderInfo, kFinderFlagsLow);  // type, creator, flags high byte
    header[kMbFlagsLow] = source.finderInfo[kFinderFlagsLow];
    PutU32(source.dataLength, header + kMbDataLength);
    PutU32(source.resourceLength, header + kMbRsrcLength);
    PutU32(source.created, header + kMbCreated);
    PutU32(source.modified, header + kMbModified);
    header[kMbWriterVersion] = kMacBinaryII;
    header[kMbReaderVersion] = kMacBinaryII;
    PutU16(Crc16(header, kMbCrc), header + kMbCrc);
}

// Copies `length` bytes a buffer at a time. False when a failure or the
// end of the source stops it first.
bool CopyBytes(int from, int to, uint32_t length)
{
    while (length > 0) {
        const uint8_t* bytes = nullptr;
        const int count = ReadStreamSpan(from, &bytes, length);
        if (StatusCode != 0 || count <= 0) return false;
        WriteStreamSpan(to, bytes, static_cast<size_t>(count));
        length -= static_cast<uint32_t>(count);
    }
    return StatusCode == 0;
}

void WriteZeros(int slot, unsigned count)
{
    static const uint8_t kZeros[kMbPad] = {};
    WriteStreamSpan(slot, kZeros, count);
}

// Reads and drops up to `count` bytes; stops at the end of the file.
void SkipBytes(int slot, uint32_t count)
{
    while (count > 0) {
        const uint8_t* bytes = nullptr;
        const int skipped = ReadStreamSpan(slot, &bytes, count);
        if (StatusCode != 0 || skipped <= 0) return;
        count -= static_cast<uint32_t>(skipped);
    }
}

// Reads the 128-byte header. False (StatusCode set) when the file is too
// short to hold one or a read fails.
bool ReadHeader(int slot, uint8_t* header)
{
    unsigned have = 0;
    while (have < kMbHeaderSize) {
        const uint8_t* bytes = nullptr;
        const int count = ReadStreamSpan(slot, &bytes, kMbHeaderSize - have);
        if (StatusCode != 0) return false;
        if (count <= 0) {
            StatusCode = kStatusWrongFileType;
            return false;
        }
        std::memcpy(header + have, bytes, static_cast<size_t>(count));
        have += static_cast<unsigned>(count);
    }
    return true;
}

// The bytes a file needs after its header to hold what the header says: the
// secondary header, the data fork and, when there is one, the resource fork,
// with the padding between them (the last padding may be missing).
int64_t BytesAfterHeader(uint16_t secondary, uint32_t dataLength, uint32_t resourceLength)
{
    int64_t need = int64_t{secondary} + PaddingOf(secondary) + dataLength;
    if (resourceLength > 0) need += int64_t{PaddingOf(dataLength)} + resourceLength;
    return need;
}

// The forks of `record` from the source to the destination, data fork
// first, each padded to a multiple of 128 bytes in the PC file: zeros
// written when encoding (`toPc`), bytes skipped when decoding. A PC file
// that ends inside a fork is damaged (code 16): its header lied or it was
// cut short, and what came of it is not kept.
void CopyForks(const WholeFileCopy& copy, const TransferRecord& record, bool toPc)
{
    const uint32_t lengths[2] = {record.dataLength, record.resourceLength};
    for (unsigned fork = 0; fork < 2 && StatusCode == 0; ++fork) {
        if (fork == 1) SwitchStreamFork(toPc ? copy.source : copy.destination, &record);
        const bool whole = CopyBytes(copy.source, copy.destination, lengths[fork]);
        if (toPc) {
            WriteZeros(copy.destination, PaddingOf(lengths[fork]));
        } else if (!whole) {
            if (StatusCode == 0) StatusCode = kStatusWrongFileType;
        } else {
            SkipBytes(copy.source, PaddingOf(lengths[fork]));
        }
    }
}

// A header with a matching CRC and a writer version of 129 or more is
// MacBinary II or III; anything else is read as MacBinary I.
bool IsLaterVersion(const uint8_t* header)
{
    return header[kMbWriterVersion] >= kMacBinaryII && Crc16(header, kMbCrc) == GetU16(header + kMbCrc);
}

}  // namespace

void MacBinaryMacToPc(const uint8_t* macName, uint32_t folderId)
{
    WholeFileCopy copy;
    OpenMacToPcCopy(macName, folderId, kMacBinaryTranslator, &copy);
    if (copy.destination >= 0) {
        const TransferRecord& source = copy.sourceRecord;
        uint8_t header[kMbHeaderSize];
        BuildHeader(reinterpret_cast<const uint8_t*>(source.name), source, header);
        WriteStreamSpan(copy.destination, header, kMbHeaderSize);
        CopyForks(copy, source, true);
    }
    CloseCopy(&copy);
}

void MacBinaryPcToMac(const char* pcName, uint32_t folderId)
{
    WholeFileCopy copy;
    TransferRecord& destination = copy.destinationRecord;
    OpenPcSource(pcName, &copy);
    uint8_t header[kMbHeaderSize];
    if (copy.source >= 0 && ReadHeader(copy.source, header)) {
        const uint8_t nameLength = header[kMbNameLength];
        if (nameLength == 0 || nameLength > kMaxMacName || header[kMbMustBeZero] != 0)
            StatusCode = kStatusWrongFileType;
    }
    if (copy.source >= 0 && StatusCode == 0) {
        const bool later = IsLaterVersion(header);
        destination.name[0] = static_cast<char>(header[kMbNameLength]);
        std::memcpy(destination.name + 1, header + kMbName, header[kMbNameLength]);
        std::memcpy(destination.finderInfo, header + kMbFinderInfo, sizeof destination.finderInfo);
        destination.finderInfo[kFinderFlagsLow] = header[later ? kMbFlagsLow : kMbFlagsLowOld];
        destination.dataLength = GetU32(header + kMbDataLength);
        destination.resourceLength = GetU32(header + kMbRsrcLength);
        destination.created = GetU32(header + kMbCreated);
        destination.modified = GetU32(header + kMbModified);
        destination.parentId = folderId;
        // Later versions may put a secondary header before the data fork.
        const uint16_t secondary = later ? GetU16(header + kMbSecondaryLength) : 0;
        const int64_t left = PcStreamBytesLeft(copy.source);
        if (left >= 0 && left < BytesAfterHeader(secondary, destination.dataLength, destination.resourceLength))
            StatusCode = kStatusWrongFileType;
        SkipBytes(copy.source, secondary + PaddingOf(secondary));
        if (StatusCode == 0) CreateMacDestination(&copy);
    }
    if (copy.destination >= 0 && StatusCode == 0) CopyForks(copy, destination, false);
    CloseCopy(&copy);
}
