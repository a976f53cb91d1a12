#include "ui/program_state.h"

#include "core/core_state.h"
#include "disk/discovery.h"
#include "disk/image_drive.h"
#include "hfs/format.h"
#include "hfs/hfs_state.h"
#include "platform/platform.h"
#include "translate/translate_state.h"
#include "ui/dialogs.h"
#include "ui/format_text.h"
#include "ui/mac_session.h"
#include "ui/pc_pane.h"

void ResetProgramState()
{
    ResetTranslateState();
    CloseMacDrive();
    ResetHfsState();
    ResetDiskState();
    ResetCoreState();
    PcFileFaults = PcFileFaultRecord{};
    PcDirectory.clear();
    PcItemList.clear();
    PcShownIndex = 0;
    HScrollMax = 0;
    HScrollPos = 0;
    // Wired here, explicitly: a registration made by the formatter's own
    // file would vanish from a program that never names that file, since
    // the linker leaves unreferenced objects of a library out.
    DisketteImageFormatter = FormatDiskette;
    DriveSizeText = FormatSize;
}
