// Start-up preferences: the three file paths beside the program and the
// settings read from PIER.INI.
#pragma once
#include <cstdint>
#include <string>

struct PrefsRecord {
    uint8_t HideInvisible;
    uint8_t KeepDate;
    uint8_t MacUseMap;
    uint8_t PCUseMap;
    uint8_t MacCopyDir;
    uint8_t PCCopyDir;
    uint8_t MacCopyFilter;
    uint8_t PCCopyFilter;
    uint8_t AutoRename;
    uint8_t AllowUpper;
    int32_t MacTrans;
    int32_t PCTrans;
    int32_t MacSort;
    int32_t PCSort;
    char MacFilterType[5];
    char MacFilterCrtr[5];
    char MacFilterExt[6];
    char PCFilterExt[4];
    uint8_t CopyPrefs;
    uint8_t SavePrefs;
    uint8_t AddFloppy;
    uint8_t AddCDROM;
    uint8_t AddBIOS;
    uint8_t AddASPI;
    uint8_t MaxIOBufSzK;
};

extern PrefsRecord Prefs;

// What the operation under way follows: a copy's dates, type maps and
// renaming, the PC names' character set, and whether listings show
// invisible files. The window fills it from the preferences when a command
// starts; the command line fills it from its flags. Commands set these and
// never the preferences, which only the preference dialogs and the
// preference file change.
struct OperationOptions {
    bool keepDate = true;
    bool macUseMap = true;
    bool pcUseMap = true;
    bool autoRename = false;
    bool allowUpper = false;
    bool hideInvisible = true;
    // The native path of the PC directory a copy's PC names are in; empty
    // for the process's current directory.
    std::string pcDirectory;
};
extern OperationOptions CurrentOptions;
OperationOptions OptionsFromPrefs();
extern char IniPath[256];
extern char FtmPath[256];
extern char HelpPath[256];
extern uint32_t WindowsVersion;

void BuildFilePaths();
void LoadPreferences();
// The two halves that do not ask the system where the program is: the paths
// beside a given program path, and WorkingDir and Prefs read from IniPath.
void BuildFilePathsFrom(const char* programPath);
void ReadPreferences();

int ReadSwitch(const char* section, const char* key, int defaultValue);
int32_t ReadNumber(const char* section, const char* key);
void WriteSwitch(const char* section, const char* key, int value);
void WriteNumber(const char* section, const char* key, int32_t value);
