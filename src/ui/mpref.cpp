#include <cstring>

#include "core/prefs.h"
#include "translate/registry.h"
#include "ui/dialog_logic.h"

namespace {

// The type-map check box means something only for the Data and Text
// translators.
bool UsesTypeMap(int translator) { return translator == kDataTranslator || translator == kTextTranslator; }

void ShowMacToPcTranslator(DialogControls& controls, int index)
{
    controls.SetText(kIdMPrefExtension,
                     index >= 0 && static_cast<unsigned>(index) < TranslatorCount ? TranslatorTable[index].extension
                                                                                  : "");
    controls.Enable(kIdMPrefUseMap, UsesTypeMap(index));
}

// Copies at most `room` - 1 characters of the field into `out`.
void ReadInto(DialogControls& controls, int control, char* out, unsigned room)
{
    const std::string text = controls.Text(control, room - 1);
    std::memcpy(out, text.c_str(), text.size() + 1);
}

}  // namespace

void FillTranslatorBox(DialogControls& controls, int control, int selected)
{
    controls.ComboReset(control);
    for (unsigned i = 0; i < TranslatorCount; ++i) controls.ComboAdd(control, TranslatorTable[i].name);
    controls.ComboSelect(control, selected);
}

void MPref::Init(DialogControls& controls)
{
    for (int id : {kIdMPrefExtension, kIdMPrefFilterType, kIdMPrefFilterCreator, kIdMPrefFilterExt})
        controls.UseListFont(id);
    FillTranslatorBox(controls, kIdMPrefTranslator, MacToPcIndex);
    controls.LimitText(kIdMPrefExtension, 3);
    controls.LimitText(kIdMPrefFilterType, 4);
    controls.LimitText(kIdMPrefFilterCreator, 4);
    controls.LimitText(kIdMPrefFilterExt, 5);
    ShowMacToPcTranslator(controls, controls.ComboSelection(kIdMPrefTranslator));
    controls.SetText(kIdMPrefFilterType, Prefs.MacFilterType);
    controls.SetText(kIdMPrefFilterCreator, Prefs.MacFilterCrtr);
    controls.SetText(kIdMPrefFilterExt, Prefs.MacFilterExt);
    controls.SetChecked(kIdMPrefUseMap, Prefs.MacUseMap);
    controls.SetChecked(kIdMPrefCopyDir, Prefs.MacCopyDir);
    controls.SetChecked(kIdMPrefFilter, Prefs.MacCopyFilter);
    controls.SetChecked(kIdMPrefAutoRename, Prefs.AutoRename);
}

int MPref::Command(DialogControls& controls, int control, int notification)
{
    // The extension typed for the translator selected before is dropped.
    if (control == kIdMPrefTranslator && notification == kNotifySelChange)
        ShowMacToPcTranslator(controls, controls.ComboSelection(kIdMPrefTranslator));
    if (control == kDialogCancel) return 0;
    if (control != kDialogOk) return kDialogKeepRunning;
    const int selected = controls.ComboSelection(kIdMPrefTranslator);
    if (selected >= 0 && static_cast<unsigned>(selected) < TranslatorCount) {
        MacToPcIndex = static_cast<uint16_t>(selected);
        ReadInto(controls, kIdMPrefExtension, TranslatorTable[selected].extension,
                 sizeof TranslatorTable[selected].extension);
    }
    Prefs.MacUseMap = controls.Checked(kIdMPrefUseMap);
    Prefs.MacCopyDir = controls.Checked(kIdMPrefCopyDir);
    Prefs.MacCopyFilter = controls.Checked(kIdMPrefFilter);
    Prefs.AutoRename = controls.Checked(kIdMPrefAutoRename);
    ReadInto(controls, kIdMPrefFilterType, Prefs.MacFilterType, sizeof Prefs.MacFilterType);
    ReadInto(controls, kIdMPrefFilterCreator, Prefs.MacFilterCrtr, sizeof Prefs.MacFilterCrtr);
    ReadInto(controls, kIdMPrefFilterExt, Prefs.MacFilterExt, sizeof Prefs.MacFilterExt);
    return 1;
}
