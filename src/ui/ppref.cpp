#include <cstring>

#include "core/prefs.h"
#include "translate/registry.h"
#include "ui/dialog_logic.h"

namespace {

bool UsesTypeMap(int translator) { return translator == kDataTranslator || translator == kTextTranslator; }

void ShowPcToMacTranslator(DialogControls& controls, int index)
{
    const bool valid = index >= 0 && static_cast<unsigned>(index) < TranslatorCount;
    controls.SetText(kIdPPrefType, valid ? TranslatorTable[index].macType : "");
    controls.SetText(kIdPPrefCreator, valid ? TranslatorTable[index].macCreator : "");
    controls.Enable(kIdPPrefUseMap, UsesTypeMap(index));
}

// A type or creator is always four characters: a shorter entry is padded
// with spaces ("TEX" is "TEX ", an empty field four spaces).
void ReadCode(DialogControls& controls, int control, char* out)
{
    const std::string text = controls.Text(control, 4);
    std::memset(out, ' ', 4);
    std::memcpy(out, text.data(), text.size());
    out[4] = 0;
}

}  // namespace

void PPref::Init(DialogControls& controls)
{
    for (int id : {kIdPPrefType, kIdPPrefCreator, kIdPPrefFilterExt}) controls.UseListFont(id);
    FillTranslatorBox(controls, kIdPPrefTranslator, PcToMacIndex);
    controls.LimitText(kIdPPrefType, 4);
    controls.LimitText(kIdPPrefCreator, 4);
    controls.LimitText(kIdPPrefFilterExt, 3);
    ShowPcToMacTranslator(controls, controls.ComboSelection(kIdPPrefTranslator));
    controls.SetText(kIdPPrefFilterExt, Prefs.PCFilterExt);
    controls.SetChecked(kIdPPrefUseMap, Prefs.PCUseMap);
    controls.SetChecked(kIdPPrefCopyDir, Prefs.PCCopyDir);
    controls.SetChecked(kIdPPrefFilter, Prefs.PCCopyFilter);
}

int PPref::Command(DialogControls& controls, int control, int notification)
{
    if (control == kIdPPrefTranslator && notification == kNotifySelChange)
        ShowPcToMacTranslator(controls, controls.ComboSelection(kIdPPrefTranslator));
    if (control == kDialogCancel) return 0;
    if (control != kDialogOk) return kDialogKeepRunning;
    const int selected = controls.ComboSelection(kIdPPrefTranslator);
    if (selected >= 0 && static_cast<unsigned>(selected) < TranslatorCount) {
        PcToMacIndex = static_cast<uint16_t>(selected);
        ReadCode(controls, kIdPPrefType, TranslatorTable[selected].macType);
        ReadCode(controls, kIdPPrefCreator, TranslatorTable[selected].macCreator);
    }
    Prefs.PCUseMap = controls.Checked(kIdPPrefUseMap);
    Prefs.PCCopyDir = controls.Checked(kIdPPrefCopyDir);
    Prefs.PCCopyFilter = controls.Checked(kIdPPrefFilter);
    const std::string ext = controls.Text(kIdPPrefFilterExt, 3);
    std::memcpy(Prefs.PCFilterExt, ext.c_str(), ext.size() + 1);
    return 1;
}
