#include "translate/registry.h"

#include <cstdio>
#include <cstring>

#include "hfs/mac_names.h"
#include "platform/platform.h"
#include "translate/byte_stream.h"
#include "translate/translators.h"
#include "ui/prefs.h"

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
    uint8_t typeAndCreator[9] = {8};
    std::memcpy(typeAndCreator + 1, s.fork.recordBuffer->data + s.fork.recordOffset + 4, 8);
    char key[9];
    MacNameToPc(key, typeAndCreator, true);
    ReadProfileString(kMacTypeMap, key, defaultExtension, out, 6, FtmPath);
    if (std::strcmp(out, defaultExtension) != 0) return;
    key[4] = 0;
    ReadProfileString(kMacTypeMap, key, defaultExtension, out, 6, FtmPath);
}

int LookupPcTypeMap(uint8_t* finderInfo, const char* pcName)
{
    const Translator& t = SelectedPcToMac();
    char defaults[9];
    std::snprintf(defaults, sizeof defaults, "%.4s%.4s", t.macType, t.macCreator);
    const char* dot = std::strrchr(pcName, '.');
    if (!dot) return 0;
    char value[9];
    ReadProfileString(kPcTypeMap, dot + 1, defaults, value, sizeof value, FtmPath);
    uint8_t mac[32];
    PcNameToMac(mac, value);
    std::memcpy(finderInfo, mac + 1, mac[0] > 8 ? 8 : mac[0]);
    return 1;
}
