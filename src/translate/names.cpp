#include "translate/names.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/progress.h"
#include "core/status.h"
#include "hfs/btree_node.h"
#include "hfs/btree_search.h"
#include "hfs/catalog_keys.h"
#include "hfs/catalog_ops.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "platform/platform.h"

char* CollisionName = nullptr;

const char PcNameCharacters[] = "$%'-_@~`!(){}^#&.+,;=[] ";

// ANSI 0x80 + i in code page 437, or a plain stand-in where 437 has nothing.
const uint8_t OemTable[128] = {
    0x5F, 0x5F, 0x2C, 0x9F, 0x5F, 0x5F, 0xC5, 0xD8, 0x5E, 0x25, 0x53, 0x3C, 0x5F, 0x5F, 0x5F, 0x5F,  // 80
    0x5F, 0x60, 0x27, 0x22, 0x22, 0xFA, 0x2D, 0xC4, 0x7E, 0x5F, 0x73, 0x3E, 0x5F, 0x5F, 0x5F, 0x59,  // 90
    0x5F, 0xAD, 0x9B, 0x9C, 0xE8, 0x9D, 0x7C, 0x53, 0x5F, 0x5F, 0xA6, 0xAE, 0xBF, 0x2D, 0x5F, 0xC4,  // A0
    0xA7, 0xF1, 0xFD, 0x33, 0x27, 0xE6, 0x5F, 0xFA, 0x5F, 0x31, 0xF8, 0xAF, 0xAC, 0xAB, 0x5F, 0xA8,  // B0
    0x41, 0x41, 0x41, 0x41, 0x8E, 0x8F, 0x92, 0x80, 0x45, 0x90, 0x45, 0x45, 0x49, 0x49, 0x49, 0x49,  // C0
    0x44, 0xA5, 0x4F, 0x4F, 0x4F, 0x4F, 0x99, 0x78, 0xE9, 0x55, 0x55, 0x55, 0x9A, 0x59, 0x70, 0xE1,  // D0
    0x85, 0xA0, 0x83, 0x61, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,  // E0
    0xEB, 0xA4, 0x95, 0xA2, 0x93, 0x6F, 0x94, 0xF6, 0xED, 0x97, 0xA3, 0x96, 0x81, 0x79, 0x50, 0x98,  // F0
};

namespace {

constexpr size_t kNameBuffer = 256;
// The counter characters of automatic renaming, in the order tried.
constexpr char kCounters[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

bool IsAsciiAlnum(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

uint8_t UpperAscii(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 32) : c; }

bool KeptInPcName(uint8_t c)
{
    if (IsAsciiAlnum(c)) return true;
    if (c >= 0x80) return CurrentOptions.allowUpper;
    return c != 0 && std::strchr(PcNameCharacters, c) != nullptr;
}

// Base names that Windows opens as devices whatever extension follows. The
// superscript digits are Windows-1252 0xB9, 0xB2, 0xB3.
bool IsDeviceBase(const char* name)
{
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    size_t length = 0;
    while (name[length] && name[length] != '.') ++length;
    while (length > 0 && name[length - 1] == ' ') --length;
    char base[8];
    if (length == 0 || length >= sizeof base) return false;
    for (size_t i = 0; i < length; ++i) base[i] = static_cast<char>(UpperAscii(static_cast<uint8_t>(name[i])));
    base[length] = 0;
    for (const char* device : kDevices)
        if (std::strcmp(base, device) == 0) return true;
    if (length != 4 || (std::strncmp(base, "COM", 3) != 0 && std::strncmp(base, "LPT", 3) != 0)) return false;
    const uint8_t digit = static_cast<uint8_t>(base[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

bool AllDots(const char* name)
{
    if (!*name) return false;
    for (const char* p = name; *p; ++p)
        if (*p != '.') return false;
    return true;
}

// Names the PC side cannot use as they are, mended on every platform so a
// copy gives the same names everywhere (and on media later read by Windows):
// a device base gets a "_" in front, trailing dots and spaces become "_".
void MendForWindows(char* name)
{
    size_t length = std::strlen(name);
    for (size_t i = length; i > 0 && (name[i - 1] == '.' || name[i - 1] == ' '); --i) name[i - 1] = '_';
    if (IsDeviceBase(name) && length + 1 < kNameBuffer) {
        std::memmove(name + 1, name, length + 1);
        name[0] = '_';
    }
}

// The name is already free when no file of it exists and Windows would not
// take it for a device.
bool CandidateFree(const char* name) { return !IsDeviceBase(name) && !PcFileExists(name); }

bool TryAutomaticName(char* name)
{
    const size_t length = std::strlen(name);
    const char* dot = std::strrchr(name, '.');
    size_t baseLength = length;
    if (dot && length - static_cast<size_t>(dot - name) <= 5) baseLength = static_cast<size_t>(dot - name);
    char candidate[kNameBuffer];
    std::memcpy(candidate, name, baseLength);
    size_t position = baseLength;
    if (baseLength < 8) {
        if (length + 1 >= kNameBuffer) return false;
        std::memcpy(candidate + baseLength + 1, name + baseLength, length - baseLength + 1);
    } else {
        position = baseLength - 1;
        std::memcpy(candidate + baseLength, name + baseLength, length - baseLength + 1);
    }
    for (size_t i = 0; kCounters[i]; ++i) {
        candidate[position] = kCounters[i];
        if (CandidateFree(candidate)) {
            std::memcpy(name, candidate, std::strlen(candidate) + 1);
            return true;
        }
    }
    return false;
}

NameExistsAnswer AskCollision(NameSide side, char* name)
{
    CollisionName = name;
    const NameExistsAnswer answer = Ws().AskNameExists(MainWindow, side, name);
    CollisionName = nullptr;
    return answer;
}

int CancelAnswer()
{
    if (ProgressWindow != nullptr) StatusCode = kStatusCancelled;
    return kCollisionCancel;
}

}  // namespace

void AnsiToOem(const char* source, char* destination)
{
    for (size_t i = 0;; ++i) {
        const uint8_t c = static_cast<uint8_t>(source[i]);
        destination[i] = static_cast<char>(c >= 0x80 ? OemTable[c - 0x80] : c);
        if (c == 0) return;
    }
}

void OemToAnsi(const char* source, char* destination)
{
    for (size_t i = 0;; ++i) {
        const uint8_t c = static_cast<uint8_t>(source[i]);
        uint8_t out = c;
        if (c >= 0x80) {
            for (unsigned j = 0; j < 128; ++j) {
                if (OemTable[j] == c) {
                    out = static_cast<uint8_t>(0x80 + j);
                    break;
                }
            }
        }
        destination[i] = static_cast<char>(out);
        if (c == 0) return;
    }
}

void SanitizePcName(char* name, const char* extension)
{
    if (name[0] == 0) return;
    size_t i = 0;
    for (; name[i] == ' '; ++i) name[i] = '!';
    for (; name[i]; ++i)
        if (!KeptInPcName(static_cast<uint8_t>(name[i]))) name[i] = '_';
    // "." and ".." would name the directory itself or its parent.
    if (AllDots(name))
        for (char* p = name; *p; ++p) *p = '_';

    const size_t extensionLength = std::strlen(extension);
    if (extensionLength != 0) {
        const size_t length = std::strlen(name);
        const char* dot = std::strrchr(name, '.');
        bool carries = false;
        if (dot && length - static_cast<size_t>(dot - name) <= 6) {
            const char* after = dot + 1;
            size_t compare = 0;
            while (compare < 3 && (after[compare] || extension[compare])) {
                if (UpperAscii(static_cast<uint8_t>(after[compare])) !=
                    UpperAscii(static_cast<uint8_t>(extension[compare])))
                    break;
                ++compare;
            }
            carries = compare == 3 || (after[compare] == 0 && extension[compare] == 0);
        }
        if (!carries && length + 1 + extensionLength < kNameBuffer) {
            name[length] = '.';
            std::memcpy(name + length + 1, extension, extensionLength + 1);
        }
    }
    MendForWindows(name);
}

int MakePcName(char* name, const char* extension)
{
    SanitizePcName(name, extension);
    if (!PcFileExists(name)) return kCollisionGoOn;
    if (!CurrentOptions.autoRename) return ResolvePcCollision(name);
    if (TryAutomaticName(name)) return kCollisionGoOn;
    return ResolvePcCollision(name);
}

int ResolvePcCollision(char* name)
{
    while (PcFileExists(name)) {
        switch (AskCollision(NameSide::Pc, name)) {
        case NameExistsAnswer::NewName:
            name[kNameBuffer - 1] = 0;
            break;  // ask again when the typed name exists too
        case NameExistsAnswer::Skip:
            return kCollisionSkip;
        case NameExistsAnswer::Overwrite:
            return kCollisionGoOn;
        case NameExistsAnswer::Cancel:
            return CancelAnswer();
        }
    }
    return kCollisionGoOn;
}

int CreateMacFileForCopy(char* name, uint8_t forkFlag, TransferRecord* record, int* slot)
{
    *slot = -1;
    for (;;) {
        name[kNameBuffer - 1] = 0;
        if (std::strlen(name) > kMaxMacName) name[kMaxMacName] = 0;
        uint8_t macName[32];
        PcNameToMac(macName, name);
        std::memset(record->name, 0, sizeof record->name);
        std::memcpy(record->name, macName, macName[0] + 1u);
        *slot = OpenStream(static_cast<uint8_t>(forkFlag | StreamMacFork | StreamWrite), record);
        if (StatusCode == 0 && *slot >= 0) return kCollisionGoOn;
        if (StatusCode != kStatusNameExists) return kCollisionFailed;
        StatusCode = 0;
        switch (AskCollision(NameSide::Mac, name)) {
        case NameExistsAnswer::NewName:
            break;
        case NameExistsAnswer::Overwrite: {
            const int kind = MacNameKind(name);
            if (kind < 0) return kCollisionFailed;
            if (kind == kItemFolder) {
                // A folder is not replaced by a file: say so and ask again.
                Ws().ShowMessage(MainWindow, "A folder of this name exists; it cannot be overwritten.", nullptr,
                                 kMbOk | kMbIconExclamation);
                break;
            }
            DeleteMacFile(macName, MacPaneState.folderId);
            if (StatusCode != 0) return kCollisionFailed;
            break;
        }
        case NameExistsAnswer::Skip:
            return kCollisionSkip;
        case NameExistsAnswer::Cancel:
            return CancelAnswer();
        }
    }
}

bool PcNativePath(const char* name, char* native, size_t size)
{
    const std::string& directory = CurrentOptions.pcDirectory;
    if (directory.empty()) return AnsiToNative(name, native, size);
    const bool separated = directory.back() == '/' || directory.back() == PathSeparator();
    const size_t prefix = directory.size() + (separated ? 0 : 1);
    if (prefix >= size || !AnsiToNative(name, native + prefix, size - prefix)) return false;
    std::memcpy(native, directory.data(), directory.size());
    if (!separated) native[directory.size()] = PathSeparator();
    return true;
}

// Looked at, never opened (a FIFO would block). Anything but a directory is
// a clash: a link too, even one that points nowhere, since writing through
// it would create or change a file elsewhere. A directory is not, so a
// folder walk enters it.
bool PcFileExists(const char* name)
{
    char native[1024];
    if (!PcNativePath(name, native, sizeof native)) return false;
    const PathKind kind = GetPathKind(native);
    return kind != PathKind::Missing && kind != PathKind::Directory;
}

int64_t PcFileModifiedTime(const char* name)
{
    char native[1024];
    int64_t seconds = 0;
    if (!PcNativePath(name, native, sizeof native) || !FileModifiedTime(native, &seconds)) return 0;
    return seconds;
}

void SetPcFileDate(const char* name, int64_t unixSeconds)
{
    char native[1024];
    if (PcNativePath(name, native, sizeof native)) FileSetModifiedTime(native, unixSeconds);
}

int MacNameKind(const char* name)
{
    if (StatusCode != 0) return -1;
    uint8_t macName[32];
    PcNameToMac(macName, name);
    CatalogHit hit{};
    const Lookup found = FindCatalogRecord(CatalogRoot(), MacPaneState.folderId, macName, &hit);
    if (found != Lookup::Found) return found == Lookup::Missing ? 0 : -1;
    const uint16_t data = RecordDataOffset(hit.leaf, hit.offset);
    if (RecordEndAt(hit.leaf, hit.offset) <= data) {
        ReportCorruption("catalog record without data");
        return -1;
    }
    return hit.leaf->data[data] == kFolderRecord ? kItemFolder : kItemFile;
}

bool MakeFreeMacName(char* name)
{
    name[kNameBuffer - 1] = 0;
    if (std::strlen(name) > kMaxMacName) name[kMaxMacName] = 0;
    const size_t length = std::strlen(name);
    const char* dot = std::strrchr(name, '.');
    size_t baseLength = length;
    if (dot && dot != name && length - static_cast<size_t>(dot - name) <= 5) baseLength = static_cast<size_t>(dot - name);
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%s", name + baseLength);
    for (unsigned n = 1; n <= 999; ++n) {
        char counter[8];
        const int counterLength = std::snprintf(counter, sizeof counter, " %u", n);
        size_t keep = baseLength;
        const size_t room = kMaxMacName - std::strlen(suffix) - static_cast<size_t>(counterLength);
        if (keep > room) keep = room;
        char candidate[kNameBuffer];
        std::snprintf(candidate, sizeof candidate, "%.*s%s%s", static_cast<int>(keep), name, counter, suffix);
        const int kind = MacNameKind(candidate);
        if (kind < 0) return false;
        if (kind == 0) {
            std::memcpy(name, candidate, std::strlen(candidate) + 1);
            return true;
        }
    }
    return false;
}
