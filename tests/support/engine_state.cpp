#include "support/engine_state.h"

#include "disk/status.h"
#include "hfs/cache.h"
#include "hfs/listing.h"
#include "ui/mac_session.h"
#include "ui/main_state.h"
#include "ui/prefs.h"
#include "ui/window_system.h"

void ResetEngineState()
{
    CloseMacDrive();
    ResetDiskState();
    CacheAllocationLimit = 0;
    LastCorruption = nullptr;
    StatusCode = 0;
    Prefs = PrefsRecord{};
    Prefs.HideInvisible = 1;
    Prefs.KeepDate = 1;
    MacSortId = kSortByName;
    DisplayUpdates = 1;
    MacDriveIndex = 0;
    SetWindowSystem(nullptr);
}
