// The logic of each dialog: what it shows when it opens, what each command
// does and the value it ends with. The window layer runs them through
// WindowSystem::RunDialog; ui/dialogs.h opens them for the commands.
#pragma once
#include <cstdint>
#include <string>

#include "core/dialog.h"
#include "hfs/listing.h"
#include "transfer/pc_items.h"

// Control ids.
enum : int {
    kIdPcInfoName = 141,
    kIdPcInfoSize = 143,
    kIdPcInfoDate = 145,
    kIdMacInfoName = 151,
    kIdMacInfoType = 153,
    kIdMacInfoCreator = 155,
    kIdMacInfoDataSize = 157,
    kIdMacInfoRsrcSize = 159,
    kIdMacInfoDate = 161,
    kIdCreateFolderName = 170,
    kIdCreateDirName = 172,
    kIdPPrefTranslator = 180,
    kIdPPrefUseMap = 181,
    kIdPPrefType = 182,
    kIdPPrefCreator = 183,
    kIdPPrefCopyDir = 184,
    kIdPPrefFilter = 185,
    kIdPPrefFilterExt = 186,
    kIdMPrefTranslator = 189,
    kIdMPrefUseMap = 190,
    kIdMPrefExtension = 191,
    kIdMPrefCopyDir = 192,
    kIdMPrefFilter = 193,
    kIdMPrefFilterType = 194,
    kIdMPrefFilterCreator = 195,
    kIdMPrefFilterExt = 196,
    kIdMPrefAutoRename = 198,
    kIdAboutTitle = 130,
    kIdAboutVersion = 131,
    kIdAboutLine1 = 132,
    kIdAboutLine2 = 133,
    kIdFormatDriveLabel = 116,
    kIdFormatDriveBox = 117,
    kIdFormatLabel = 300,
    kIdPCollisionEdit = 400,
    kIdPCollisionSkip = 401,
    kIdPCollisionOverwrite = 402,
    kIdPCollisionName = 403,
    kIdMCollisionEdit = 405,
    kIdMCollisionSkip = 406,
    kIdMCollisionOverwrite = 407,
    kIdMCollisionName = 408,
};

// What a PC name field lets through of a typed character: the character
// (with allowUpper, a character of 128 or more is first taken through the
// OEM set and back, so one without an OEM form becomes its plain letter or
// "_"), or -1 when it is swallowed. Characters below 32 pass unchanged.
int PcNameFilter(int character, bool allowUpper);

// A name typed into a PC field names an entry of the one directory: a
// pasted path (the filter keeps separators out of typed text only) or a
// name of dots alone would reach elsewhere, so neither is taken.
bool IsPlainPcName(const std::string& name);

// DOSINFO and DOSDIRINFO: a PC file's or directory's name, size and date;
// renames it in `directory` (native path).
class DosInfo : public DialogLogic {
public:
    DosInfo(const PcItem& item, std::string directory) : item_(item), directory_(std::move(directory)) {}
    const char* TemplateName() const override { return IsDirectory() ? "DOSDIRINFO" : "DOSINFO"; }
    void Init(DialogControls& controls) override;
    int Command(DialogControls& controls, int control, int notification) override;

private:
    bool IsDirectory() const { return item_.kind == kPcDirectory; }
    PcItem item_;
    std::string directory_;
};
using DosDirInfo = DosInfo;

// MACINFO: a Mac file of the pane's current folder; renames it and sets its
// type and creator.
class MacInfo : public DialogLogic {
public:
    explicit MacInfo(const MacItem& item) : item_(item) {}
    const char* TemplateName() const override { return "MACINFO"; }
    void Init(DialogControls& controls) override;
    int Command(DialogControls& controls, int control, int notification) override;

private:
    MacItem item_;
};

// MACFLDRINFO: a Mac folder of the pane's current folder; renames it.
class MacFldrInfo : public DialogLogic {
public:
    explicit MacFldrInfo(const MacItem& item) : item_(item) {}
    const char* TemplateName() const override { return "MACFLDRINFO"; }
    void Init(DialogControls& controls) override;
    int Command(DialogControls& controls, int control, int notification) override;

private:
    MacItem item_;
};

// CREATEFLD: a new folder in the Mac pane's current folder (the caller
// writes the volume).
class CreateFldr : public DialogLogic {
public:
    const char* TemplateName() const override { return "CREATEFLD"; }
    void Init(DialogControls& controls) override;
    int Command(DialogControls& controls, int control, int notification) override;
};

// CREATEDIR: a new directory in `directory` (native path).
class CreateDir : public DialogLogic {
public:
    explicit CreateDir(std::string directory) : directory_(std::move(directory)) {}
    const char* TemplateName() const override { return "CREATEDIR"; }
    void Init(DialogControls& controls) override;
    int Command(DialogControls& controls, int control, int notification) override;

private:
    std::string directory_;
};

// PREFMAC: the Mac-to-PC copy preferences.
class MPref : public DialogLogic {
public:
    const char* TemplateName() const override { return "PREFMAC"; }
    void Init(DialogControls& controls) override;
    int Command(DialogControls& controls, int control, int notification) override;
};

// PREFPC: the PC-to-Mac copy preferences.
class PPref : public DialogLogic {
public:
    const char* TemplateName() const override { return "PREFPC"; }
    void Init(DialogControls& controls) override;
    int Command(DialogControls& controls, int control, int notification) override;
};

// PCOLLISION and MCOLLISION: another name for a taken one. `name` is the
// caller's buffer (256 bytes); OK writes the new name there. End values:
// 0 OK, 1 Skip, 2 Cancel, 3 OverWrite.
class PCollision : public DialogLogic {
public:
    PCollision(bool macSide, char* name) : mac_(macSide), name_(name) {}
    const char* TemplateName() const override { return mac_ ? "MCOLLISION" : "PCOLLISION"; }
    void Init(DialogControls& controls) override;
    int Command(DialogControls& controls, int control, int notification) override;

private:
    int Edit() const { return mac_ ? kIdMCollisionEdit : kIdPCollisionEdit; }
    bool mac_;
    char* name_;
};

// ABOUTBOX.
class AboutBox : public DialogLogic {
public:
    const char* TemplateName() const override { return "ABOUTBOX"; }
    void Init(DialogControls& controls) override;
    int Command(DialogControls& controls, int control, int notification) override;
};

// Format: the drive to format and its label; ends with the drive's index
// in DriveTable (VolumeLabel then holds the label) or -1.
class FormatDialog : public DialogLogic {
public:
    const char* TemplateName() const override { return "Format"; }
    void Init(DialogControls& controls) override;
    int Command(DialogControls& controls, int control, int notification) override;

    int chosenDrive = -1;  // selected in the drive box when the dialog opens; -1 none
};

// The translators' names into a drop-down list, `selected` selected.
void FillTranslatorBox(DialogControls& controls, int control, int selected);
// A Mac name (or type or creator: a length byte and the characters) as
// PC text.
std::string PcText(const uint8_t* macName);
// "1,234 bytes".
std::string ByteCountText(uint32_t bytes);
// The date line of a packed DOS date and time; empty when there is none.
std::string DosDateText(uint32_t dosDateTime);
