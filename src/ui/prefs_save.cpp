#include "ui/prefs_save.h"

#include <cstdio>
#include <cstring>

#include "core/main_state.h"
#include "core/prefs.h"
#include "platform/platform.h"
#include "translate/registry.h"
#include "ui/pc_pane.h"

namespace {

const char kMainPrefs[] = "Main Prefs";

// The translator choices of this moment and the translators' own entries
// belong to the translator registry; until it takes them over here, the
// choices read at start-up are written back and the entries stay as they are.
void CurrentTranslatorChoices(int32_t& macToPc, int32_t& pcToMac)
{
    macToPc = MacToPcIndex;
    pcToMac = PcToMacIndex;
}

void SaveTranslatorEntries() { SaveTranslatorSettings(); }

// A fixed-size text field, bounded even if it lost its terminator.
void WriteField(const char* key, const char* field, size_t size)
{
    const void* end = std::memchr(field, 0, size);
    size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - field) : size;
    char text[8];
    std::snprintf(text, sizeof text, "%.*s", static_cast<int>(length), field);
    WriteProfileString(kMainPrefs, key, text, IniPath);
}

}  // namespace

void SavePreferences()
{
    if (Prefs.SavePrefs) {
        WriteSwitch(kMainPrefs, "CopyPrefs", Prefs.CopyPrefs);
        WriteSwitch(kMainPrefs, "AutoRename", Prefs.AutoRename);
        WriteSwitch(kMainPrefs, "AllowUpper", Prefs.AllowUpper);
        WriteSwitch(kMainPrefs, "MacUseMap", Prefs.MacUseMap);
        WriteSwitch(kMainPrefs, "PCUseMap", Prefs.PCUseMap);
        WriteSwitch(kMainPrefs, "MacCopyDir", Prefs.MacCopyDir);
        WriteSwitch(kMainPrefs, "PCCopyDir", Prefs.PCCopyDir);
        WriteSwitch(kMainPrefs, "MacCopyFilter", Prefs.MacCopyFilter);
        WriteSwitch(kMainPrefs, "PCCopyFilter", Prefs.PCCopyFilter);

        int32_t macToPc = 0, pcToMac = 0;
        CurrentTranslatorChoices(macToPc, pcToMac);
        WriteNumber(kMainPrefs, "MacTrans", macToPc);
        WriteNumber(kMainPrefs, "PCTrans", pcToMac);
        WriteNumber(kMainPrefs, "MacSort", MacSortId);
        WriteNumber(kMainPrefs, "PCSort", PcSortId);

        WriteField("MacFilterType", Prefs.MacFilterType, sizeof Prefs.MacFilterType);
        WriteField("MacFilterCrtr", Prefs.MacFilterCrtr, sizeof Prefs.MacFilterCrtr);
        WriteField("MacFilterExt", Prefs.MacFilterExt, sizeof Prefs.MacFilterExt);
        WriteField("PCFilterExt", Prefs.PCFilterExt, sizeof Prefs.PCFilterExt);

        SaveTranslatorEntries();

        // The PC pane's directory, where the next start shows it again.
        if (!PcDirectory.empty() && PcDirectory.size() < 256)
            WriteProfileString(kMainPrefs, "WorkingDir", PcDirectory.c_str(), IniPath);
    }
    // Always, so that switching the option off is remembered.
    WriteSwitch(kMainPrefs, "SavePrefs", Prefs.SavePrefs);
}
