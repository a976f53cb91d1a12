// The three translators that move one fork as a plain PC file: "Data File"
// (the data fork, byte for byte, with the type maps and the modification
// date), "Text File" (the data fork with CR and CR LF line ends converted)
// and "Resource File" (the resource fork, byte for byte).
#include <cstring>

#include "core/prefs.h"
#include "core/status.h"
#include "hfs/mac_names.h"
#include "hfs/mac_time.h"
#include "translate/byte_stream.h"
#include "translate/names.h"
#include "translate/registry.h"
#include "translate/translators.h"

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kEndOfText = 0x1A;  // the old PC end-of-file mark

enum class Conversion { None, CrToCrLf, DropLfAndEof };

// The settings of translator `index`; empty ones (no extension, type and
// creator of four spaces) before the table is filled.
const Translator& Settings(uint16_t index)
{
    static const Translator kEmpty{"", nullptr, nullptr, "", "    ", "    "};
    return index < TranslatorCount ? TranslatorTable[index] : kEmpty;
}

// Copies the source to its end, a buffer at a time. The conversions work on
// runs between the bytes they touch, with the effect of a byte-by-byte copy.
void CopyBytes(int source, int destination, Conversion conversion)
{
    for (;;) {
        const uint8_t* bytes = nullptr;
        const int count = ReadStreamSpan(source, &bytes);
        if (StatusCode != 0 || count <= 0) return;
        const uint8_t* const end = bytes + count;
        switch (conversion) {
        case Conversion::None:
            WriteStreamSpan(destination, bytes, static_cast<size_t>(count));
            break;
        case Conversion::CrToCrLf:
            while (bytes < end) {
                const void* cr = std::memchr(bytes, kCr, static_cast<size_t>(end - bytes));
                const uint8_t* runEnd = cr ? static_cast<const uint8_t*>(cr) + 1 : end;
                WriteStreamSpan(destination, bytes, static_cast<size_t>(runEnd - bytes));
                if (cr) WriteStreamByte(destination, kLf);
                bytes = runEnd;
            }
            break;
        case Conversion::DropLfAndEof:
            while (bytes < end) {
                const uint8_t* run = bytes;
                while (run < end && *run != kLf && *run != kEndOfText) ++run;
                WriteStreamSpan(destination, bytes, static_cast<size_t>(run - bytes));
                bytes = run < end ? run + 1 : end;
            }
            break;
        }
    }
}

// A PC modification time as a MacDate; 0 (stamp the time of the copy) when
// there is none, and the ends of the MacDate range for times beyond it.
uint32_t MacDateOf(int64_t unixSeconds)
{
    if (unixSeconds == 0) return 0;
    const int64_t mac = UnixToMacSeconds(unixSeconds);
    if (mac < 1) return 1;
    if (mac > static_cast<int64_t>(UINT32_MAX)) return UINT32_MAX;
    return static_cast<uint32_t>(mac);
}

void MacToPc(const uint8_t* macName, uint32_t folderId, uint16_t index)
{
    const bool data = index == kDataTranslator;
    const Translator& settings = Settings(index);
    TransferRecord source{};
    TransferRecord destination{};
    int in = -1;
    int out = -1;

    const Str31 sourceName(macName);
    sourceName.CopyTo(source.name);
    source.parentId = folderId;
    in = OpenStream(index == kResourceTranslator ? StreamMacFork | StreamResourceFork : StreamMacFork, &source);
    if (in >= 0) {
        char name[256];
        MacNameToPc(name, sourceName.bytes, true);
        char extension[12];
        if (data && CurrentOptions.macUseMap)
            LookupMacTypeMap(in, extension, settings.extension);
        else
            std::memcpy(extension, settings.extension, sizeof settings.extension);
        extension[sizeof extension - 1] = 0;
        if (MakePcName(name, extension) == kCollisionGoOn) {
            std::memcpy(destination.name, name, sizeof destination.name);
            out = OpenStream(StreamPcFile | StreamWrite, &destination);
            if (out >= 0)
                CopyBytes(in, out, index == kTextTranslator ? Conversion::CrToCrLf : Conversion::None);
        }
    }
    CloseStream(out);
    if (data && out >= 0 && StatusCode == 0 && source.modified != 0 && CurrentOptions.keepDate)
        SetPcFileDate(destination.name, MacDateToUnix(source.modified));
    CloseStream(in);
}

void PcToMac(const char* pcName, uint32_t folderId, uint16_t index)
{
    const bool data = index == kDataTranslator;
    const Translator& settings = Settings(index);
    TransferRecord source{};
    TransferRecord destination{};
    int in = -1;
    int out = -1;

    std::strncpy(source.name, pcName, sizeof source.name - 1);
    in = OpenStream(StreamPcFile, &source);
    if (in >= 0) {
        const uint32_t date = data && CurrentOptions.keepDate ? MacDateOf(PcStreamModifiedTime(in)) : 0;
        destination.created = destination.modified = date;
        destination.parentId = folderId;
        // The name is kept as the file system gave it: PC names are ANSI end
        // to end, with no OEM round trip.
        char name[256];
        std::memcpy(name, source.name, sizeof name);
        if (!(data && CurrentOptions.pcUseMap && LookupPcTypeMap(destination.finderInfo, name))) {
            PutMacCode(destination.finderInfo, settings.macType);
            PutMacCode(destination.finderInfo + kFinderInfoCreator, settings.macCreator);
        }
        const uint8_t fork = index == kResourceTranslator ? StreamResourceFork : 0;
        if (CreateMacFileForCopy(name, fork, &destination, &out) == kCollisionGoOn)
            CopyBytes(in, out, index == kTextTranslator ? Conversion::DropLfAndEof : Conversion::None);
    }
    CloseStream(out);
    CloseStream(in);
}

}  // namespace

void DataMacToPc(const uint8_t* macName, uint32_t folderId) { MacToPc(macName, folderId, kDataTranslator); }
void DataPcToMac(const char* pcName, uint32_t folderId) { PcToMac(pcName, folderId, kDataTranslator); }
void TextMacToPc(const uint8_t* macName, uint32_t folderId) { MacToPc(macName, folderId, kTextTranslator); }
void TextPcToMac(const char* pcName, uint32_t folderId) { PcToMac(pcName, folderId, kTextTranslator); }
void ResourceMacToPc(const uint8_t* macName, uint32_t folderId) { MacToPc(macName, folderId, kResourceTranslator); }
void ResourcePcToMac(const char* pcName, uint32_t folderId) { PcToMac(pcName, folderId, kResourceTranslator); }
