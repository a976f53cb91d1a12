// Disk images opened or made from the desktop program: they join the drive
// table, the Mac Drive box and the "Disk Images" list of PIER.INI.
#include "ui/disk_images.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "disk/discovery.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/format.h"
#include "hfs/volume.h"
#include "platform/platform.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/main_window_ids.h"

namespace {

constexpr char kImageCaption[] = "Disk Image";
constexpr char kTableFull[] = "The Mac Drive box is full: no more disk images can be opened.";

bool Say(WindowHandle window, const std::string& text)
{
    Ws().ShowMessage(window, text.c_str(), kImageCaption, kMbOk | kMbIconExclamation);
    return false;
}

bool IsAbsolute(const char* path)
{
    if (path[0] == '/' || path[0] == PathSeparator()) return true;
    // "C:\..." on Windows.
    return PathSeparator() == '\\' && path[0] != 0 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// The path as PIER.INI keeps it: full, so that it names the same file from
// any working directory.
std::string FullPath(const char* path)
{
    char current[1024];
    if (IsAbsolute(path) || !GetCurrentDir(current, sizeof current)) return path;
    std::string full = current;
    if (!full.empty() && full.back() != PathSeparator() && full.back() != '/') full += PathSeparator();
    return full + path;
}

// The drive of the image file `path`, or -1.
int DriveOfImage(const std::string& path)
{
    for (uint32_t i = 0; i < DriveCount && i < kMaxDrives; ++i) {
        const ImageSlot* slot = ImageSlotOfDrive(&DriveTable[i]);
        if (slot && path == slot->path) return static_cast<int>(i);
    }
    return -1;
}

// 2048 for a CD image: an ISO 9660 volume descriptor at byte 32768, or a
// driver descriptor map that gives 2048-byte blocks. 512 for anything else.
uint32_t SectorSizeOf(const std::string& path)
{
    FileHandle file = FileOpen(path.c_str(), FileMode::Read);
    if (file == kNoFile) return kBlockSize;
    uint8_t iso[6] = {};
    uint8_t ddm[4] = {};
    const bool isoRead = FileReadAt(file, iso, sizeof iso, 32768) == static_cast<int64_t>(sizeof iso);
    const bool ddmRead = FileReadAt(file, ddm, sizeof ddm, 0) == static_cast<int64_t>(sizeof ddm);
    FileClose(file);
    if (isoRead && std::memcmp(iso + 1, "CD001", 5) == 0) return 2048;
    if (ddmRead && ddm[0] == 'E' && ddm[1] == 'R' && ((ddm[2] << 8) | ddm[3]) == 2048) return 2048;
    return kBlockSize;
}

// Adds the path as the first free ImageN of PIER.INI unless a key names it.
void RememberImage(const std::string& path)
{
    int freeKey = 0;
    for (unsigned key = 1; key <= kDiskImageKeys; ++key) {
        char name[16];
        std::snprintf(name, sizeof name, "Image%u", key);
        char listed[sizeof ImageTable[0].path];
        if (ReadProfileString(kDiskImagesSection, name, "", listed, sizeof listed, IniPath) == 0) {
            if (freeKey == 0) freeKey = static_cast<int>(key);
        } else if (path == listed) {
            return;
        }
    }
    if (freeKey == 0) return;  // twenty listed: this one is used for this run only
    char name[16];
    std::snprintf(name, sizeof name, "Image%d", freeKey);
    WriteProfileString(kDiskImagesSection, name, path.c_str(), IniPath);
}

// Chooses drive `index` in the Mac Drive box as the user does: its volumes
// are listed (or the reason they cannot be is said).
void ChooseDrive(WindowHandle window, int index)
{
    Ws().ComboSelect(kIdMacDriveBox, index);
    MainWindowCommand(window, kIdMacDriveBox, kNotifyCloseUp);
}

// The drive of the image file `full`, added to the table, the Mac Drive box
// and PIER.INI when it is not there yet; -1 after a message when it cannot be.
int AddDiskImage(WindowHandle window, const std::string& full)
{
    const int listed = DriveOfImage(full);
    if (listed >= 0) return listed;
    if (DriveCount >= kMaxDrives) {
        Say(window, kTableFull);
        return -1;
    }
    // Listed like the images of PIER.INI: the file is locked only while
    // its drive is in use.
    const int slot = ListImage(full.c_str(), SectorSizeOf(full), true);
    if (slot < 0) {
        Say(window, "Could not open the disk image " + full + ".");
        return -1;
    }
    const DriveEntry* added = AddImageDrive(slot);
    if (added == nullptr) {
        CloseImage(slot);
        Say(window, kTableFull);
        return -1;
    }
    Ws().ComboAdd(kIdMacDriveBox, added->Name);
    SizeComboDropDown(kIdMacDriveBox, false);
    RememberImage(full);
    return static_cast<int>(added - DriveTable);
}

}  // namespace

bool OpenDiskImage(WindowHandle window, const char* path)
{
    if (path == nullptr || path[0] == 0) return false;
    const int index = AddDiskImage(window, FullPath(path));
    if (index < 0) return false;
    ChooseDrive(window, index);
    return true;
}

bool NewDiskImage(WindowHandle window, const char* path)
{
    if (path == nullptr || path[0] == 0) return false;
    const std::string full = FullPath(path);
    if (FileExists(full.c_str())) return Say(window, "A file named " + full + " exists already; it is left as it is.");
    if (!CreateDisketteImage(full.c_str())) return Say(window, "Could not create the disk image " + full + ".");
    // Not chosen before it is formatted: a blank image holds no volume to list.
    const int index = AddDiskImage(window, full);
    if (index < 0) return false;
    const int chosen = RunFormatDialog(window, index);
    // Cancel leaves the blank image listed: it can be formatted later.
    if (chosen < 0) return true;
    ResetMacPane(window);
    FormatMacDrive(static_cast<unsigned>(chosen));
    ReportStatus(window);
    ChooseDrive(window, chosen);
    return true;
}
