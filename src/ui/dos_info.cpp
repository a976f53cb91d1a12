#include <cctype>
#include <vector>

#include "core/window_system.h"
#include "platform/platform.h"
#include "ui/dialog_logic.h"

bool IsPlainPcName(const std::string& name)
{
    if (name.empty() || name.find_first_not_of('.') == std::string::npos) return false;
    return name.find('/') == std::string::npos && name.find('\\') == std::string::npos;
}

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Renames the entry itself (a link stays a link pointing where it did). A
// name another entry already has is refused: the system's rename would put
// this entry in its place. A change of case alone is the same entry on a
// file system that ignores case, so only an entry spelt exactly so counts.
bool RenamePcEntry(const std::string& directory, const std::string& from, const std::string& to)
{
    if (!IsPlainPcName(to)) return false;
    std::string fromPath, toPath;
    if (!PcChildPath(directory, from, &fromPath) || !PcChildPath(directory, to, &toPath)) return false;
    if (GetPathKind(toPath.c_str()) != PathKind::Missing) {
        if (!SameIgnoringCase(from, to)) return false;
        std::vector<PcItem> items;
        if (!ReadPcDirectory(directory.c_str(), &items)) return false;
        for (const PcItem& item : items)
            if (item.name == to) return false;
    }
    return FileRename(fromPath.c_str(), toPath.c_str());
}

}  // namespace

void DosInfo::Init(DialogControls& controls)
{
    controls.UseListFont(kIdPcInfoName);
    controls.UseListFont(kIdPcInfoDate);
    controls.SetText(kIdPcInfoName, item_.name.c_str());
    if (!IsDirectory()) {
        controls.UseListFont(kIdPcInfoSize);
        controls.SetText(kIdPcInfoSize, ByteCountText(item_.size).c_str());
    }
    controls.SetText(kIdPcInfoDate, DosDateText(item_.modified).c_str());
    controls.FilterTyping(kIdPcInfoName, PcNameFilter);
}

int DosInfo::Command(DialogControls& controls, int control, int notification)
{
    if (control == kIdPcInfoName && notification == kNotifyEditChange) EnableOkWhenFilled(controls, kIdPcInfoName);
    if (control == kDialogCancel) return 0;
    if (control != kDialogOk) return kDialogKeepRunning;
    const std::string name = controls.Text(kIdPcInfoName, 255);
    if (name == item_.name) return 0;
    const bool dir = IsDirectory();
    if (controls.ShowMessage(dir ? "Rename directory?" : "Rename this file?",
                             dir ? "Rename PC Directory" : "Rename PC File", kMbYesNo | kMbIconQuestion) != kIdYes)
        return 0;
    if (!RenamePcEntry(directory_, item_.name, name)) {
        controls.ShowMessage(dir ? "Could not rename directory." : "Could not rename this file.", nullptr,
                             kMbOk | kMbIconExclamation);
        return 0;
    }
    return 1;
}
