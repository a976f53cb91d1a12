// The BinHex 4.0 translator: a whole Mac file in a PC text file. The binary
// stream (header, data fork, resource fork, each section followed by its
// CRC) is run-length escaped with 0x90 and written six bits per printable
// character between two colons. The decoder checks all three CRCs: a file
// that fails one is refused with code 16, so a damaged file is not kept.
#include <cstdio>
#include <cstring>

#include "core/status.h"
#include "hfs/mac_names.h"
#include "translate/byte_stream.h"
#include "translate/crc16.h"
#include "translate/names.h"
#include "translate/registry.h"
#include "translate/translators.h"
#include "translate/whole_file_copy.h"

namespace {

constexpr char kBinHexAlphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
constexpr char kBinHexBanner[] = "(This file must be converted with BinHex 4.0)";
constexpr uint8_t kRunMarker = 0x90;
constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kLF = 0x0A;
constexpr uint8_t kColon = ':';
constexpr unsigned kLineLength = 64;
constexpr unsigned kFinderInfoInHeader = 10;  // type, creator, Finder flags
// How far into a file the opening colon is looked for, and how many bytes
// outside the alphabet may stand between two characters of the data. Mail
// headers, a covering letter or a digest's table of contents may precede
// the data, and line ends and blanks sit between its characters, but never
// a megabyte of either: a file without data (or a device that never ends)
// is refused after that much, not read forever.
constexpr uint32_t kMaxTextOutsideData = 1u << 20;

// Six-bit value of each character; 0xFF for characters outside the alphabet.
struct BinHexValues {
    uint8_t value[256];
    constexpr BinHexValues() : value()
    {
        for (unsigned i = 0; i < 256; ++i) value[i] = 0xFF;
        for (unsigned i = 0; i < 64; ++i) value[static_cast<uint8_t>(kBinHexAlphabet[i])] = static_cast<uint8_t>(i);
    }
};
constexpr BinHexValues kBinHexValues;

// ---- encoding ----------------------------------------------------------------

struct HexEncoderState {
    int slot;
    uint32_t group;          // up to 3 bytes, the first in the highest bits
    unsigned count;          // bytes in the group
    unsigned line;           // characters on the current line
    uint16_t crc;
    unsigned pending;        // bytes of `text` not written yet
    uint8_t text[1024];      // the output, a stream call per kilobyte rather than per character
};
HexEncoderState Encoder;

void FlushText()
{
    WriteStreamSpan(Encoder.slot, Encoder.text, Encoder.pending);
    Encoder.pending = 0;
}

void PutText(uint8_t byte)
{
    Encoder.text[Encoder.pending++] = byte;
    if (Encoder.pending == sizeof Encoder.text) FlushText();
}

// Every full line holds 64 characters, the first counting its opening
// colon: decoders that check line lengths expect exactly that.
void PutCharacter(unsigned value)
{
    PutText(static_cast<uint8_t>(kBinHexAlphabet[value & 0x3F]));
    if (++Encoder.line < kLineLength) return;
    PutText(kCR);
    Encoder.line = 0;
}

void EncodeSixBits(uint8_t byte)
{
    Encoder.group = Encoder.group << 8 | byte;
    if (++Encoder.count < 3) return;
    PutCharacter(Encoder.group >> 18);
    PutCharacter(Encoder.group >> 12);
    PutCharacter(Encoder.group >> 6);
    PutCharacter(Encoder.group);
    Encoder.group = 0;
    Encoder.count = 0;
}

void FlushSixBits()
{
    if (Encoder.count == 1) {
        PutCharacter(Encoder.group >> 2);
        PutCharacter(Encoder.group << 4);
    } else if (Encoder.count == 2) {
        PutCharacter(Encoder.group >> 10);
        PutCharacter(Encoder.group >> 4);
        PutCharacter(Encoder.group << 2);
    }
    Encoder.group = 0;
    Encoder.count = 0;
}

// One byte of a section: counted in the CRC, and escaped when it is the
// run marker. Repeated bytes are written as they are.
void EncodeByte(uint8_t byte)
{
    Encoder.crc = Crc16Update(Encoder.crc, byte);
    EncodeSixBits(byte);
    if (byte == kRunMarker) EncodeSixBits(0);
}

void EncodeU32(uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) EncodeByte(static_cast<uint8_t>(value >> shift));
}

// Ends a section with its CRC, high byte first, and starts the next one.
void EncodeSectionCrc()
{
    const uint16_t crc = Encoder.crc;
    EncodeByte(static_cast<uint8_t>(crc >> 8));
    EncodeByte(static_cast<uint8_t>(crc));
    Encoder.crc = 0;
}

void EncodeFork(int source, uint32_t length)
{
    while (length > 0) {
        const uint8_t* bytes = nullptr;
        const int count = ReadStreamSpan(source, &bytes, length);
        if (StatusCode != 0 || count <= 0) break;
        for (int i = 0; i < count; ++i) EncodeByte(bytes[i]);
        length -= static_cast<uint32_t>(count);
    }
    EncodeSectionCrc();
}

// ---- decoding ----------------------------------------------------------------

struct HexDecoderState {
    int slot;
    bool ended;              // the closing colon, the end of the file or a failure was met
    uint8_t group[3];
    unsigned groupCount;     // bytes the current group delivered
    unsigned groupIndex;     // next of them to hand out
    unsigned repeat;         // copies of repeatByte still to deliver
    uint8_t repeatByte;
    uint8_t last;            // the last byte delivered
    uint16_t crc;
    const uint8_t* text;     // the run of the file read and not looked at yet
    int textLeft;
};
HexDecoderState Decoder;

// The next six-bit value, or -1 at the end of the data. Characters outside
// the alphabet (line ends, blanks) are skipped.
int NextValue()
{
    for (uint32_t skipped = 0; !Decoder.ended && skipped < kMaxTextOutsideData; ++skipped) {
        if (Decoder.textLeft <= 0) {
            Decoder.textLeft = ReadStreamSpan(Decoder.slot, &Decoder.text);
            if (StatusCode != 0 || Decoder.textLeft <= 0) break;
        }
        const uint8_t b = *Decoder.text++;
        --Decoder.textLeft;
        if (b == kColon) break;
        const uint8_t value = kBinHexValues.value[b];
        if (value != 0xFF) return value;
    }
    Decoder.ended = true;
    return -1;
}

// The next byte of the six-bit layer, or -1.
int NextGroupByte()
{
    if (Decoder.groupIndex < Decoder.groupCount) return Decoder.group[Decoder.groupIndex++];
    Decoder.groupIndex = 0;
    Decoder.groupCount = 0;
    int v[4];
    for (int& value : v) value = NextValue();
    if (v[0] < 0 || v[1] < 0) return -1;
    Decoder.group[0] = static_cast<uint8_t>(v[0] << 2 | v[1] >> 4);
    Decoder.groupCount = 1;
    if (v[2] >= 0) {
        Decoder.group[1] = static_cast<uint8_t>(v[1] << 4 | v[2] >> 2);
        Decoder.groupCount = 2;
        if (v[3] >= 0) {
            Decoder.group[2] = static_cast<uint8_t>(v[2] << 6 | v[3]);
            Decoder.groupCount = 3;
        }
    }
    return Decoder.group[Decoder.groupIndex++];
}

// The next byte of the binary stream with runs expanded, or -1. A run
// marker followed by a count c repeats the byte before it to c copies in
// all; a count of 0 stands for the marker itself.
int NextRawByte()
{
    // Each pass either delivers a byte or consumes at least one of the file,
    // so the loop ends with the file.
    for (;;) {
        if (Decoder.repeat > 0) {
            --Decoder.repeat;
            return Decoder.repeatByte;
        }
        const int b = NextGroupByte();
        if (b < 0) return -1;
        if (b != kRunMarker) {
            Decoder.last = static_cast<uint8_t>(b);
            return b;
        }
        const int count = NextGroupByte();
        if (count < 0) return -1;
        if (count == 0) {
            Decoder.last = kRunMarker;
            return kRunMarker;
        }
        // A count of 1 adds nothing: go on with the byte after it.
        Decoder.repeatByte = Decoder.last;
        Decoder.repeat = static_cast<unsigned>(count) - 1;
    }
}

// A byte of a section, counted in its CRC.
int DecodeByte()
{
    const int b = NextRawByte();
    if (b >= 0) Decoder.crc = Crc16Update(Decoder.crc, static_cast<uint8_t>(b));
    return b;
}

// Reads the CRC that ends a section and compares it with the one computed.
// A mismatch or a missing CRC is code 16 (unless a failure is already set).
bool CheckSectionCrc()
{
    const uint16_t computed = Decoder.crc;
    Decoder.crc = 0;
    const int high = NextRawByte();
    const int low = NextRawByte();
    if (StatusCode != 0) return false;
    if (high < 0 || low < 0 || static_cast<uint16_t>(high << 8 | low) != computed) {
        StatusCode = kStatusWrongFileType;
        return false;
    }
    return true;
}

// Reads a big-endian number of the header; false when the data ends.
bool DecodeU32(uint32_t* out)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const int b = DecodeByte();
        if (b < 0) return false;
        value = value << 8 | static_cast<uint32_t>(b);
    }
    *out = value;
    return true;
}

// Skips to the first character after the colon that opens the data: the
// first byte of the file, or a colon at the start of a line within the
// first kMaxTextOutsideData bytes.
bool FindDataStart(int slot)
{
    int previous = kLF;
    for (uint32_t read = 0; read < kMaxTextOutsideData; ++read) {
        const int b = ReadStreamByte(slot);
        if (StatusCode != 0 || b < 0) break;
        if (b == kColon && (previous == kCR || previous == kLF)) return true;
        previous = b;
    }
    if (StatusCode != kStatusCancelled) StatusCode = kStatusWrongFileType;
    return false;
}

// The header section up to and including its CRC. False with StatusCode set.
bool DecodeHeader(TransferRecord* record, uint32_t* dataLength, uint32_t* resourceLength)
{
    Decoder.crc = 0;
    const int length = DecodeByte();
    bool whole = length >= 1 && length <= static_cast<int>(kMaxMacName);
    uint8_t name[32] = {};
    if (whole) name[0] = static_cast<uint8_t>(length);
    for (int i = 0; whole && i < length; ++i) {
        const int b = DecodeByte();
        whole = b >= 0;
        name[1 + i] = static_cast<uint8_t>(b);
    }
    whole = whole && DecodeByte() >= 0;  // version
    for (unsigned i = 0; whole && i < kFinderInfoInHeader; ++i) {
        const int b = DecodeByte();
        whole = b >= 0;
        record->finderInfo[i] = static_cast<uint8_t>(b);
    }
    whole = whole && DecodeU32(dataLength) && DecodeU32(resourceLength);
    if (StatusCode != 0) return false;
    if (!whole) {
        StatusCode = kStatusWrongFileType;
        return false;
    }
    if (!CheckSectionCrc()) return false;
    std::memcpy(record->name, name, sizeof name);
    return true;
}

// A fork section: up to `length` bytes to the Mac stream, a kilobyte per
// stream call, then its CRC.
bool DecodeFork(int destination, uint32_t length)
{
    uint8_t bytes[1024];
    unsigned count = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const int b = DecodeByte();
        if (StatusCode != 0) return false;
        if (b < 0) break;  // the CRC check below refuses the short fork
        bytes[count++] = static_cast<uint8_t>(b);
        if (count == sizeof bytes) {
            WriteStreamSpan(destination, bytes, count);
            count = 0;
        }
    }
    WriteStreamSpan(destination, bytes, count);
    return StatusCode == 0 && CheckSectionCrc();
}

}  // namespace

void BinHexMacToPc(const uint8_t* macName, uint32_t folderId)
{
    WholeFileCopy copy;
    OpenMacToPcCopy(macName, folderId, kBinHexTranslator, &copy);
    if (copy.destination >= 0) {
        const TransferRecord& source = copy.sourceRecord;
        const uint8_t nameLength = static_cast<uint8_t>(source.name[0]);
        Encoder = HexEncoderState{copy.destination, 0, 0, 1, 0, 0, {}};
        for (const char* p = kBinHexBanner; *p; ++p) PutText(static_cast<uint8_t>(*p));
        PutText(kCR);
        PutText(kColon);
        EncodeByte(nameLength);
        for (unsigned i = 0; i < nameLength; ++i) EncodeByte(static_cast<uint8_t>(source.name[1 + i]));
        EncodeByte(0);  // version
        for (unsigned i = 0; i < kFinderInfoInHeader; ++i) EncodeByte(source.finderInfo[i]);
        EncodeU32(source.dataLength);
        EncodeU32(source.resourceLength);
        EncodeSectionCrc();
        EncodeFork(copy.source, source.dataLength);
        SwitchStreamFork(copy.source, &source);
        EncodeFork(copy.source, source.resourceLength);
        FlushSixBits();
        PutText(kColon);
        PutText(kCR);
        FlushText();
    }
    CloseCopy(&copy);
}

void BinHexPcToMac(const char* pcName, uint32_t folderId)
{
    WholeFileCopy copy;
    TransferRecord& destination = copy.destinationRecord;
    uint32_t dataLength = 0;
    uint32_t resourceLength = 0;
    Decoder = HexDecoderState{};
    OpenPcSource(pcName, &copy);
    Decoder.slot = copy.source;
    if (copy.source >= 0 && FindDataStart(copy.source) && DecodeHeader(&destination, &dataLength, &resourceLength)) {
        destination.parentId = folderId;
        CreateMacDestination(&copy);
    }
    if (copy.destination >= 0 && StatusCode == 0 && DecodeFork(copy.destination, dataLength)) {
        destination.dataLength = dataLength;
        destination.resourceLength = resourceLength;
        SwitchStreamFork(copy.destination, &destination);
        DecodeFork(copy.destination, resourceLength);
    }
    CloseCopy(&copy);
}
