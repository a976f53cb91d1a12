#include "core/window_system.h"

#include <algorithm>
#include <cstdio>

#include "core/prefs.h"

int HeadlessWindowSystem::ShowMessage(WindowHandle, const char* text, const char* caption, unsigned style)
{
    ++messageCount;
    std::snprintf(lastText, sizeof lastText, "%s", text ? text : "");
    std::snprintf(lastCaption, sizeof lastCaption, "%s", caption ? caption : "");
    lastStyle = style;
    if (style & kMbYesNo) return questionAnswer;
    return (style & kMbOkCancel) ? okCancelAnswer : kIdOk;
}

bool HeadlessWindowSystem::AskImagePath(WindowHandle, bool, char* path, size_t pathSize)
{
    if (imagePathAnswer.empty() || imagePathAnswer.size() >= pathSize) return false;
    std::snprintf(path, pathSize, "%s", imagePathAnswer.c_str());
    return true;
}

int HeadlessWindowSystem::RunDialog(WindowHandle owner, DialogLogic& logic)
{
    std::vector<DialogStep> steps;
    if (!dialogScripts.empty()) {
        steps = std::move(dialogScripts.front());
        dialogScripts.pop_front();
    }
    DialogRun run{logic.TemplateName(), 0, DialogModel{}};
    run.model.owner = owner;
    run.model.allowUpper = Prefs.AllowUpper != 0;
    run.endValue = run.model.Run(logic, steps);
    dialogRuns.push_back(std::move(run));
    return dialogRuns.back().endValue;
}

int HeadlessWindowSystem::ListCount(int control) { return static_cast<int>(lists_[control].items.size()); }

int HeadlessWindowSystem::ListSelectedCount(int control)
{
    int count = 0;
    for (bool on : lists_[control].selected) count += on;
    return count;
}

int HeadlessWindowSystem::ListCaretIndex(int control) { return lists_[control].caret; }

int HeadlessWindowSystem::ListFirstSelected(int control)
{
    const auto& selected = lists_[control].selected;
    for (size_t i = 0; i < selected.size(); ++i)
        if (selected[i]) return static_cast<int>(i);
    return -1;
}

bool HeadlessWindowSystem::ListItemSelected(int control, int index)
{
    const auto& selected = lists_[control].selected;
    return index >= 0 && static_cast<size_t>(index) < selected.size() && selected[index];
}

intptr_t HeadlessWindowSystem::ListItemData(int control, int index)
{
    const auto& items = lists_[control].items;
    return index >= 0 && static_cast<size_t>(index) < items.size() ? items[index] : -1;
}

void HeadlessWindowSystem::ListSelect(int control, int index, bool selected)
{
    ListModel& list = lists_[control];
    if (index < 0) {
        list.selected.assign(list.items.size(), selected);
    } else if (static_cast<size_t>(index) < list.items.size()) {
        list.selected[index] = selected;
        list.caret = index;
    }
}

int HeadlessWindowSystem::ListTopIndex(int control) { return lists_[control].top; }

void HeadlessWindowSystem::ListSetTopIndex(int control, int index)
{
    ListModel& list = lists_[control];
    if (index >= 0 && static_cast<size_t>(index) < list.items.size()) list.top = index;
}

void HeadlessWindowSystem::ListReset(int control) { lists_[control] = ListModel{}; }

void HeadlessWindowSystem::ListAddItem(int control, intptr_t itemData)
{
    ListModel& list = lists_[control];
    list.items.push_back(itemData);
    list.selected.push_back(false);
}

int HeadlessWindowSystem::ComboCount(int control) { return static_cast<int>(combos_[control].items.size()); }

int HeadlessWindowSystem::ComboSelection(int control) { return combos_[control].selection; }

void HeadlessWindowSystem::ComboSelect(int control, int index)
{
    ComboModel& combo = combos_[control];
    combo.selection = (index >= 0 && static_cast<size_t>(index) < combo.items.size()) ? index : -1;
}

int HeadlessWindowSystem::ComboText(int control, int index, char* out, int outSize)
{
    if (outSize <= 0) return 0;
    out[0] = 0;
    const ComboModel& combo = combos_[control];
    if (index < 0 || static_cast<size_t>(index) >= combo.items.size()) return -1;
    return std::snprintf(out, static_cast<size_t>(outSize), "%s", combo.items[index].c_str());
}

void HeadlessWindowSystem::ComboInsertFirst(int control, const char* text)
{
    ComboModel& combo = combos_[control];
    combo.items.insert(combo.items.begin(), text);
    if (combo.selection >= 0) ++combo.selection;
}

void HeadlessWindowSystem::ComboAdd(int control, const char* text) { combos_[control].items.push_back(text); }

void HeadlessWindowSystem::ComboDeleteFirst(int control)
{
    ComboModel& combo = combos_[control];
    if (combo.items.empty()) return;
    combo.items.erase(combo.items.begin());
    if (combo.selection >= 0) --combo.selection;  // the first item itself: none selected
}

void HeadlessWindowSystem::ComboReset(int control) { combos_[control] = ComboModel{}; }

void HeadlessWindowSystem::ComboShowDropDown(int control, bool show) { combos_[control].droppedDown = show; }

void HeadlessWindowSystem::EnableControl(int control, bool enable) { enabled_[control] = enable; }

bool HeadlessWindowSystem::ControlEnabled(int control) const
{
    auto it = enabled_.find(control);
    return it == enabled_.end() || it->second;
}

void HeadlessWindowSystem::SetControlText(int control, const char* text) { texts_[control] = text ? text : ""; }

bool HeadlessWindowSystem::MenuChecked(int id) { return checked_[id]; }

void HeadlessWindowSystem::MenuCheck(int id, bool checked) { checked_[id] = checked; }

void HeadlessWindowSystem::MenuInsert(int menu, int position, int id, const char* text)
{
    auto& items = menus_[menu];
    size_t at = position < 0 ? items.size() : std::min(static_cast<size_t>(position), items.size());
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(at), MenuEntry{id, text ? text : ""});
}

void HeadlessWindowSystem::MenuDelete(int menu, int id)
{
    auto& items = menus_[menu];
    for (auto it = items.begin(); it != items.end(); ++it)
        if (it->id == id) {
            items.erase(it);
            return;
        }
}

namespace {
HeadlessWindowSystem g_headless;
WindowSystem* g_current = &g_headless;
}  // namespace

WindowSystem& Ws() { return *g_current; }

void SetWindowSystem(WindowSystem* ws)
{
    if (!ws) g_headless = HeadlessWindowSystem{};  // back to empty controls
    g_current = ws ? ws : &g_headless;
}
