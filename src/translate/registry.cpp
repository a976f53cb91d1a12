#include "translate/registry.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/prefs.h"
#include "hfs/mac_names.h"
#include "platform/platform.h"
#include "translate/byte_stream.h"
#include "translate/translators.h"

Translator TranslatorTable[TranslatorLimit];
unsigned TranslatorCount = 0;
uint16_t MacToPcIndex = 0;
uint16_t PcToMacIndex = 0;

namespace {

const char* const kMainPrefs = "Main Prefs";
const char* const kMacTypeMap = "Mac Type Map";
const char* const kPcTypeMap = "PC Type Map";

const Translator& Selected(uint16_t index)
{
    return TranslatorTable[index < TranslatorCount ? index : uint16_t{kDataTranslator}];
}

// The two map sections as read by HoldTypeMaps: key and value, as the
// profile reading gives them.
using HeldSection = std::vector<std::pair<std::string, std::string>>;
struct HeldTypeMaps {
    bool held = false;
    HeldSection mac;
    HeldSection pc;
};
HeldTypeMaps HeldMaps;

void ReadSection(const char* section, HeldSection* out)
{
    out->clear();
    constexpr unsigned kKeysSize = 1 << 16;
    const std::unique_ptr<char[]> keys(new char[kKeysSize]);  // not cleared: the read ends it with two zeros
    ReadProfileString(section, nullptr, "", keys.get(), kKeysSize, FtmPath);
    for (const char* key = keys.get(); *key; key += std::strlen(key) + 1) {
        char value[256];
        ReadProfileString(section, key, "", value, sizeof value, FtmPath);
        out->emplace_back(key, value);
    }
}

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A; }

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameKey(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

// A map lookup with the profile reading's rules (key without regard to case
// and without surrounding blanks; the default without trailing blanks),
// from the held sections when they are held.
void ReadMap(const char* section, const char* key, const char* defaultValue, char* out, unsigned outSize)
{
    std::string_view k(key);
    while (!k.empty() && IsBlank(k.front())) k.remove_prefix(1);
    while (!k.empty() && IsBlank(k.back())) k.remove_suffix(1);
    if (!HeldMaps.held || k.empty()) {
        ReadProfileString(section, key, defaultValue, out, outSize, FtmPath);
        return;
    }
    std::string_view value(defaultValue);
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    for (const auto& [name, held] : std::strcmp(section, kMacTypeMap) == 0 ? HeldMaps.mac : HeldMaps.pc) {
        if (!SameKey(name, k)) continue;
        value = held;
        break;
    }
    const size_t n = value.size() < outSize - 1 ? value.size() : outSize - 1;
    std::memcpy(out, value.data(), n);
    out[n] = 0;
}

}  // namespace

int RegisterTranslator(const char* name, MacToPcOperation macToPc, PcToMacOperation pcToMac)
{
    if (TranslatorCount >= TranslatorLimit) return -1;
    char value[14];
    ReadProfileString(kMainPrefs, name, "        ", value, sizeof value, IniPath);
    // One delimiter each side; fewer than 8 characters between them means
    // no settings.
    const size_t length = std::strlen(value);
    char settings[14] = "        ";
    if (length >= 10) {
        std::memcpy(settings, value + 1, length - 2);
        settings[length - 2] = 0;
    }
    Translator& t = TranslatorTable[TranslatorCount];
    t = Translator{name, macToPc, pcToMac, {}, {}, {}};
    std::memcpy(t.macType, settings, 4);
    std::memcpy(t.macCreator, settings + 4, 4);
    std::snprintf(t.extension, sizeof t.extension, "%.3s", settings + 8);
    ++TranslatorCount;
    return 0;
}

void RegisterAllTranslators()
{
    TranslatorCount = 0;
    RegisterTranslator("Data File", DataMacToPc, DataPcToMac);
    RegisterTranslator("Text File", TextMacToPc, TextPcToMac);
    RegisterTranslator("Resource File", ResourceMacToPc, ResourcePcToMac);
    RegisterTranslator("MacBinary", MacBinaryMacToPc, MacBinaryPcToMac);
    RegisterTranslator("BinHex (HQX)", BinHexMacToPc, BinHexPcToMac);
}

void SaveTranslatorSettings()
{
    for (unsigned i = 0; i < TranslatorCount; ++i) {
        const Translator& t = TranslatorTable[i];
        char value[16];
        std::snprintf(value, sizeof value, "<%.4s%.4s%.3s>", t.macType, t.macCreator, t.extension);
        WriteProfileString(kMainPrefs, t.name, value, IniPath);
    }
}

const Translator& SelectedPcToMac() { return Selected(PcToMacIndex); }
const Translator& SelectedMacToPc() { return Selected(MacToPcIndex); }

void RunPcToMacTranslator(const char* pcName, uint32_t folderId)
{
    if (TranslatorCount == 0) return;
    SelectedPcToMac().pcToMac(pcName, folderId);
}

void RunMacToPcTranslator(const uint8_t* macName, uint32_t folderId)
{
    if (TranslatorCount == 0) return;
    SelectedMacToPc().macToPc(macName, folderId);
}

void LookupMacTypeMap(int slot, char* out, const char* defaultExtension)
{
    const ByteStream& s = StreamTable[slot];
    uint8_t typeAndCreator[1 + 2 * kMacCodeSize] = {2 * kMacCodeSize};
    std::memcpy(typeAndCreator + 1, s.fork.recordBuffer->data + s.fork.recordOffset + kFileType, 2 * kMacCodeSize);
    char key[9];
    MacNameToPc(key, typeAndCreator, true);
    ReadMap(kMacTypeMap, key, defaultExtension, out, 6);
    if (std::strcmp(out, defaultExtension) != 0) return;
    key[4] = 0;
    ReadMap(kMacTypeMap, key, defaultExtension, out, 6);
}

int LookupPcTypeMap(uint8_t* finderInfo, const char* pcName)
{
    const char* dot = std::strrchr(pcName, '.');
    if (!dot) return 0;
    const Translator& t = SelectedPcToMac();
    PutMacCode(finderInfo, t.macType);
    PutMacCode(finderInfo + kFinderInfoCreator, t.macCreator);
    char value[9];
    ReadMap(kPcTypeMap, dot + 1, "", value, sizeof value);
    const size_t length = std::strlen(value);
    if (length > 0) PutMacCode(finderInfo, std::string(value, length < 4 ? length : 4).c_str());
    if (length > 4) PutMacCode(finderInfo + kFinderInfoCreator, value + 4);
    return 1;
}

void PutMacCode(uint8_t* field, const char* code)
{
    uint8_t mac[32];
    PcNameToMac(mac, code);
    std::memset(field, ' ', 4);
    std::memcpy(field, mac + 1, mac[0] > 4 ? 4 : mac[0]);
}

void HoldTypeMaps()
{
    ReleaseTypeMaps();
    ReadSection(kMacTypeMap, &HeldMaps.mac);
    ReadSection(kPcTypeMap, &HeldMaps.pc);
    HeldMaps.held = true;
}

void ReleaseTypeMaps() { HeldMaps = HeldTypeMaps{}; }
