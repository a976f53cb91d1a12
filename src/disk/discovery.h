// Finding the drives that may hold Mac volumes, and the Mac Drive box.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/dialog.h"
#include "core/window_system.h"

struct DriveEntry;

// Empties DriveTable (closing the images it held) and refills it: SCSI
// devices (AddASPI), then, on Windows NT when those found nothing, physical
// drives (AddBIOS) and CD-ROM letters (AddCDROM), then diskette drives A and
// B (AddFloppy), then the images listed in IniPath. At most 20 drives.
void DiscoverDrives();

// The steps. Each finds nothing on a system without the devices (see
// disk/device_calls.h). Physical drives: a fixed one only with a Mac
// signature, a removable one always; CD-ROM letters D to Z; a diskette drive
// when it takes 1.44 MB media (the NT test or the VWIN32 one, by
// WindowsVersion), formatted by DisketteImageFormatter.
void AddAspiDrives();
void AddPhysicalDrives();
void AddCdromDrives();
void AddFloppyDrive(uint32_t unit);
// The size text of a physical drive's name (bytes, 0xFFFFFFFF for 4 GiB and
// more); the program wires in the panes' size form when it starts.
extern void (*DriveSizeText)(uint32_t bytes, char* out);
// PIER.INI's list of disk images: the section and its keys Image1 to Image20.
constexpr char kDiskImagesSection[] = "Disk Images";
constexpr unsigned kDiskImageKeys = 20;
// The image files of the section "Disk Images" of IniPath (keys Image1 to
// Image20, full native paths), in key order, each named "[IMAGE name]" after
// its base name. A file that cannot be opened is left out; the others are
// checked and measured, then closed until their drive is used (ListImage).
void AddImageDrives();

// The SCSI identification text (`length` bytes, not terminated) with every
// run of blanks made one blank, written to `out` (room for length + 1) and
// terminated. A zero byte ends the text; other control characters become "?".
void CompactInquiryText(const uint8_t* text, size_t length, char* out);

// The names of the device drives (`out` holds 32 bytes): "[WASPI-DISK 03] "
// and the compacted identification (INQUIRY bytes 8 to 31), the whole cut to
// 30 characters; "[DRIVE 1] (1.0G)" with the capacity as the size text;
// "[CDROM E]"; "[DISKETTE A]".
void AspiDriveName(const char* typeText, unsigned adapter, unsigned target, const uint8_t* identification,
                   char* out);
void PhysicalDriveName(unsigned number, const char* sizeText, char* out);
void CdromDriveName(unsigned letterIndex, char* out);
void DisketteDriveName(unsigned unit, char* out);

// Whether the medium behind `entry` (its ReadSectors and unit set) holds a
// partition map or an HFS volume: block 1, 2 or 4 starts with "PM", "TS" or
// "BD". Reads 8 blocks twice, the first read only to wake the device, and
// leaves StatusCode as it found it.
bool HasMacSignature(DriveEntry* entry);

// Label 116 "Mac Drive:", a warning when no drive was found, and every
// drive's name into the drop-down list 117: in the main window, or in a
// dialog (the Format dialog).
void FillMacDriveBox(WindowHandle window);
void FillMacDriveBox(DialogControls& dialog);
