// Start-up preferences: where PIER.INI, PIER.FTM and the help file live, and
// the reading of PIER.INI into Prefs.
#include "core/prefs.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

PrefsRecord Prefs;
OperationOptions CurrentOptions;
char IniPath[256];
char FtmPath[256];
char HelpPath[256];
// The version word of the running system; 0 (high bit clear) where there is
// no such thing, which the disk layer reads as the NT family.
uint32_t WindowsVersion = 0;

namespace {

const char kMainPrefs[] = "Main Prefs";
const char kDiskPrefs[] = "Disk Prefs";
const char kMiscPrefs[] = "Misc Prefs";

bool SameWord(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

// A decimal number the way "%d" reads one: leading blanks, a sign, digits.
// `value` keeps its start value when there are no digits.
void ParseDecimal(const char* text, int32_t& value)
{
    while (*text == ' ' || *text == '\t') ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    if (*text < '0' || *text > '9') return;
    int64_t n = 0;
    for (; *text >= '0' && *text <= '9' && n < 100000000; ++text) n = n * 10 + (*text - '0');
    value = static_cast<int32_t>(negative ? -n : n);
}

// Reads a value of at most `maxChars` characters, default empty.
void ReadText(const char* section, const char* key, char* out, unsigned maxChars)
{
    ReadProfileString(section, key, "", out, maxChars + 1, IniPath);
}

// `name` in the program's directory (the first `dirLength` characters of
// `program`), or the bare name when the program's directory is unknown or
// the whole would not fit.
void PlaceBeside(const char* program, size_t dirLength, const char* name, char* out, size_t outSize)
{
    size_t nameLength = std::strlen(name);
    if (dirLength + nameLength >= outSize) dirLength = 0;
    std::memcpy(out, program, dirLength);
    std::memcpy(out + dirLength, name, nameLength + 1);
}

}  // namespace

void BuildFilePaths()
{
    char program[256];
    if (!GetModulePath(program, sizeof program)) program[0] = 0;
    BuildFilePathsFrom(program);
}

void BuildFilePathsFrom(const char* programPath)
{
    const char* separator = std::strrchr(programPath, PathSeparator());
    size_t dirLength = separator != nullptr ? static_cast<size_t>(separator - programPath) + 1 : 0;
    PlaceBeside(programPath, dirLength, "PIER.INI", IniPath, sizeof IniPath);
    PlaceBeside(programPath, dirLength, "PIER.FTM", FtmPath, sizeof FtmPath);
    PlaceBeside(programPath, dirLength, "QUAYLINK.HTM", HelpPath, sizeof HelpPath);
}

void LoadPreferences()
{
    BuildFilePaths();
    ReadPreferences();
}

void ReadPreferences()
{
    char dir[256];
    ReadText(kMainPrefs, "WorkingDir", dir, 255);
    if (dir[0] != 0) {
        if (dir[1] != ':') {
            SetCurrentDir(dir);
        } else {
            int letter = std::toupper(static_cast<unsigned char>(dir[0]));
            if (letter >= 'A' && letter <= 'Z' && SetCurrentDrive(letter - 'A' + 1)) SetCurrentDir(dir + 2);
        }
    }

    std::memset(&Prefs, 0, sizeof Prefs);
    Prefs.AddFloppy = static_cast<uint8_t>(ReadSwitch(kDiskPrefs, "AddFloppy", 1));
    Prefs.AddCDROM = static_cast<uint8_t>(ReadSwitch(kDiskPrefs, "AddCDROM", 1));
    Prefs.AddBIOS = static_cast<uint8_t>(ReadSwitch(kDiskPrefs, "AddBIOS", 1));
    Prefs.AddASPI = static_cast<uint8_t>(ReadSwitch(kDiskPrefs, "AddASPI", 1));
    Prefs.HideInvisible = static_cast<uint8_t>(ReadSwitch(kMiscPrefs, "HideInvisible", 1));
    Prefs.KeepDate = static_cast<uint8_t>(ReadSwitch(kMiscPrefs, "KeepDate", 1));

    char text[3];
    ReadText(kMiscPrefs, "MaxIOBufSzK", text, 2);
    int32_t kilobytes = 64;
    ParseDecimal(text, kilobytes);
    if (kilobytes > 64) kilobytes = 64;
    if (kilobytes < 4) kilobytes = 4;
    Prefs.MaxIOBufSzK = static_cast<uint8_t>(kilobytes);

    Prefs.SavePrefs = static_cast<uint8_t>(ReadSwitch(kMainPrefs, "SavePrefs", 0));
    Prefs.CopyPrefs = static_cast<uint8_t>(ReadSwitch(kMainPrefs, "CopyPrefs", 1));
    Prefs.AutoRename = static_cast<uint8_t>(ReadSwitch(kMainPrefs, "AutoRename", 0));
    Prefs.AllowUpper = static_cast<uint8_t>(ReadSwitch(kMainPrefs, "AllowUpper", 0));
    Prefs.MacUseMap = static_cast<uint8_t>(ReadSwitch(kMainPrefs, "MacUseMap", 1));
    Prefs.PCUseMap = static_cast<uint8_t>(ReadSwitch(kMainPrefs, "PCUseMap", 1));
    Prefs.MacCopyDir = static_cast<uint8_t>(ReadSwitch(kMainPrefs, "MacCopyDir", 0));
    Prefs.PCCopyDir = static_cast<uint8_t>(ReadSwitch(kMainPrefs, "PCCopyDir", 0));
    Prefs.MacCopyFilter = static_cast<uint8_t>(ReadSwitch(kMainPrefs, "MacCopyFilter", 0));
    Prefs.PCCopyFilter = static_cast<uint8_t>(ReadSwitch(kMainPrefs, "PCCopyFilter", 0));
    Prefs.MacTrans = ReadNumber(kMainPrefs, "MacTrans");
    Prefs.PCTrans = ReadNumber(kMainPrefs, "PCTrans");
    Prefs.MacSort = ReadNumber(kMainPrefs, "MacSort");
    Prefs.PCSort = ReadNumber(kMainPrefs, "PCSort");
    ReadText(kMainPrefs, "MacFilterType", Prefs.MacFilterType, 4);
    ReadText(kMainPrefs, "MacFilterCrtr", Prefs.MacFilterCrtr, 4);
    ReadText(kMainPrefs, "MacFilterExt", Prefs.MacFilterExt, 5);
    ReadText(kMainPrefs, "PCFilterExt", Prefs.PCFilterExt, 3);
    CurrentOptions = OptionsFromPrefs();
}

int ReadSwitch(const char* section, const char* key, int defaultValue)
{
    char value[10];
    ReadText(section, key, value, 9);
    if (SameWord(value, "no") || SameWord(value, "off")) return 0;
    if (value[0] == 'Y' || value[0] == 'y' || SameWord(value, "on") || SameWord(value, "auto")) return 1;
    if (SameWord(key, "AddASPI") && (SameWord(value, "dos") || SameWord(value, "win"))) return 1;
    if (SameWord(key, "AddFloppy") && (SameWord(value, "old") || SameWord(value, "bios"))) return 1;
    return defaultValue;
}

int32_t ReadNumber(const char* section, const char* key)
{
    char value[6];
    ReadProfileString(section, key, "0", value, sizeof value, IniPath);
    int32_t number = 0;
    ParseDecimal(value, number);
    return number;
}

void WriteSwitch(const char* section, const char* key, int value)
{
    WriteProfileString(section, key, value ? "YES" : "NO", IniPath);
}

void WriteNumber(const char* section, const char* key, int32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    WriteProfileString(section, key, text, IniPath);
}

OperationOptions OptionsFromPrefs()
{
    OperationOptions options;
    options.keepDate = Prefs.KeepDate != 0;
    options.macUseMap = Prefs.MacUseMap != 0;
    options.pcUseMap = Prefs.PCUseMap != 0;
    options.autoRename = Prefs.AutoRename != 0;
    options.allowUpper = Prefs.AllowUpper != 0;
    options.hideInvisible = Prefs.HideInvisible != 0;
    return options;
}
