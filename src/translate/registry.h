// The five translators, their user-set defaults (PC extension; Mac type and
// creator) kept in PIER.INI, the choice for each direction, and the file
// type maps of PIER.FTM.
#pragma once
#include <cstdint>

// Translates one Mac file of the given folder into the current PC directory.
using MacToPcOperation = void (*)(const uint8_t* macName, uint32_t folderId);
// Translates one PC file of the current PC directory into the given folder.
using PcToMacOperation = void (*)(const char* pcName, uint32_t folderId);

struct Translator {
    const char* name;
    MacToPcOperation macToPc;
    PcToMacOperation pcToMac;
    char extension[4];       // up to 3 characters used; empty: none
    char macType[5];
    char macCreator[5];
};

constexpr unsigned TranslatorLimit = 5;

enum : uint16_t {
    kDataTranslator = 0,
    kTextTranslator = 1,
    kResourceTranslator = 2,
    kMacBinaryTranslator = 3,
    kBinHexTranslator = 4,
};

extern Translator TranslatorTable[TranslatorLimit];
extern unsigned TranslatorCount;
extern uint16_t MacToPcIndex;
extern uint16_t PcToMacIndex;

void RegisterAllTranslators();
int RegisterTranslator(const char* name, MacToPcOperation macToPc, PcToMacOperation pcToMac);
void SaveTranslatorSettings();
// The selected translator of each direction; an index outside the table
// (a damaged preference) falls back to the Data translator.
void RunPcToMacTranslator(const char* pcName, uint32_t folderId);
void RunMacToPcTranslator(const uint8_t* macName, uint32_t folderId);
const Translator& SelectedPcToMac();
const Translator& SelectedMacToPc();

// The PC extension for the Mac file open for reading in `slot`: a type and
// creator entry of "Mac Type Map" wins over a type entry, and
// `defaultExtension` is the fallback. `out` holds at least 6 characters.
void LookupMacTypeMap(int slot, char* out, const char* defaultExtension);
// When `pcName` has an extension: writes the "PC Type Map" type and creator
// for it (default: the selected PC-to-Mac translator's) over the start of
// `finderInfo` and returns nonzero; else returns 0 and changes nothing.
// A value fills whole fields: a type or creator shorter than four
// characters is padded with spaces, and a field the value does not reach
// keeps the translator's code.
int LookupPcTypeMap(uint8_t* finderInfo, const char* pcName);
// Writes a type or creator given as PC text (4 characters; fewer are padded
// with spaces) into the 4-byte `field` in Mac characters.
void PutMacCode(uint8_t* field, const char* code);

// The maps are read from PIER.FTM at every lookup, so an edit shows at the
// next file. A command that copies many files may hold them instead: both
// sections are read once and used until ReleaseTypeMaps.
void HoldTypeMaps();
void ReleaseTypeMaps();
