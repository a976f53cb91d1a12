#include "ui/program_state.h"

#include "core/core_state.h"
#include "disk/image_drive.h"
#include "hfs/hfs_state.h"
#include "platform/platform.h"
#include "translate/translate_state.h"
#include "ui/mac_session.h"

void ResetProgramState()
{
    ResetTranslateState();
    CloseMacDrive();
    ResetHfsState();
    ResetDiskState();
    ResetCoreState();
    PcFileFaults = PcFileFaultRecord{};
}
