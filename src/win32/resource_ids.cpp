// The resource script's numbers must be the ones the command logic uses.
#include "win32/resource_ids.h"

#include "core/progress.h"
#include "ui/dialog_logic.h"
#include "ui/main_window_ids.h"

static_assert(IDC_PC_DIRECTORY_BOX == kIdPcDirectoryBox && IDC_PC_UP == kIdPcUpButton &&
              IDC_PC_DRIVE_LABEL == kIdPcDriveLabel && IDC_PC_DRIVE_BOX == kIdPcDriveBox &&
              IDC_PC_HEADER == kIdPcHeader && IDC_PC_LIST == kIdPcList && IDC_PC_SCROLL == kIdPcScrollBar &&
              IDC_PC_DIRECTORY_LABEL == kIdPcDirectoryLabel);
static_assert(IDC_MAC_FOLDER_LABEL == kIdMacFolderLabel && IDC_MAC_FOLDER_BOX == kIdMacFolderBox &&
              IDC_MAC_UP == kIdMacUpButton && IDC_MAC_DRIVE_LABEL == kIdMacDriveLabel &&
              IDC_MAC_DRIVE_BOX == kIdMacDriveBox && IDC_MAC_HEADER == kIdMacHeader && IDC_MAC_LIST == kIdMacList);
static_assert(IDC_COPY == kCmdCopy && IDC_NEW == kCmdNew && IDC_DELETE == kCmdDelete && IDC_INFO == kCmdInfo);
static_assert(IDM_EXIT == kCmdExit && IDM_SELECT_ALL == kCmdSelectAll && IDM_DESELECT_ALL == kCmdDeselectAll &&
              IDM_FORMAT == kCmdFormat && IDM_ABOUT == kCmdAbout && IDM_HELP == kCmdHelp &&
              IDM_MAC_COPY_PREFS == kCmdMacCopyPrefs && IDM_PC_COPY_PREFS == kCmdPcCopyPrefs &&
              IDM_SAVE_PREFS == kCmdSavePrefs && IDM_COPY_PREFS == kCmdCopyPrefs &&
              IDM_ALLOW_UPPER == kCmdAllowUpper && IDM_OPEN_IMAGE == kCmdOpenImage &&
              IDM_NEW_IMAGE == kCmdNewImage);
static_assert(IDC_PROGRESS_ITEM == kIdProgressItem && IDC_PROGRESS_BAR == kIdProgressBar);
static_assert(IDC_PC_INFO_NAME == kIdPcInfoName && IDC_PC_INFO_SIZE == kIdPcInfoSize &&
              IDC_PC_INFO_DATE == kIdPcInfoDate && IDC_MAC_INFO_NAME == kIdMacInfoName &&
              IDC_MAC_INFO_TYPE == kIdMacInfoType && IDC_MAC_INFO_CREATOR == kIdMacInfoCreator &&
              IDC_MAC_INFO_DATA_SIZE == kIdMacInfoDataSize && IDC_MAC_INFO_RSRC_SIZE == kIdMacInfoRsrcSize &&
              IDC_MAC_INFO_DATE == kIdMacInfoDate && IDC_CREATE_FOLDER_NAME == kIdCreateFolderName &&
              IDC_CREATE_DIR_NAME == kIdCreateDirName);
static_assert(IDC_PPREF_TRANSLATOR == kIdPPrefTranslator && IDC_PPREF_USE_MAP == kIdPPrefUseMap &&
              IDC_PPREF_TYPE == kIdPPrefType && IDC_PPREF_CREATOR == kIdPPrefCreator &&
              IDC_PPREF_COPY_DIR == kIdPPrefCopyDir && IDC_PPREF_FILTER == kIdPPrefFilter &&
              IDC_PPREF_FILTER_EXT == kIdPPrefFilterExt);
static_assert(IDC_MPREF_TRANSLATOR == kIdMPrefTranslator && IDC_MPREF_USE_MAP == kIdMPrefUseMap &&
              IDC_MPREF_EXTENSION == kIdMPrefExtension && IDC_MPREF_COPY_DIR == kIdMPrefCopyDir &&
              IDC_MPREF_FILTER == kIdMPrefFilter && IDC_MPREF_FILTER_TYPE == kIdMPrefFilterType &&
              IDC_MPREF_FILTER_CREATOR == kIdMPrefFilterCreator && IDC_MPREF_FILTER_EXT == kIdMPrefFilterExt &&
              IDC_MPREF_AUTO_RENAME == kIdMPrefAutoRename);
static_assert(IDC_ABOUT_TITLE == kIdAboutTitle && IDC_ABOUT_VERSION == kIdAboutVersion &&
              IDC_ABOUT_LINE1 == kIdAboutLine1 && IDC_ABOUT_LINE2 == kIdAboutLine2);
static_assert(IDC_FORMAT_DRIVE_LABEL == kIdFormatDriveLabel && IDC_FORMAT_DRIVE_BOX == kIdFormatDriveBox &&
              IDC_FORMAT_LABEL == kIdFormatLabel);
static_assert(IDC_PCOLLISION_EDIT == kIdPCollisionEdit && IDC_PCOLLISION_SKIP == kIdPCollisionSkip &&
              IDC_PCOLLISION_OVERWRITE == kIdPCollisionOverwrite && IDC_PCOLLISION_NAME == kIdPCollisionName &&
              IDC_MCOLLISION_EDIT == kIdMCollisionEdit && IDC_MCOLLISION_SKIP == kIdMCollisionSkip &&
              IDC_MCOLLISION_OVERWRITE == kIdMCollisionOverwrite && IDC_MCOLLISION_NAME == kIdMCollisionName);
