#include "support/engine_state.h"

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "core/window_system.h"
#include "hfs/cache.h"
#include "hfs/listing.h"
#include "ui/mac_session.h"

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
