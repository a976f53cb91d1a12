#include "hfs/hfs_state.h"

#include <cstring>

#include "hfs/cache.h"
#include "hfs/format.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "hfs/volume_scan.h"

void ResetHfsState()
{
    FreeBlockCache();
    FreeMacItemList();
    ForgetScannedVolumes();
    MacVolume = MacVolumeState{};
    ExtentsFileRecord = BTreeFileRecord{};
    CatalogFileRecord = BTreeFileRecord{};
    MacPaneState = MacPaneStateRecord{};
    std::memset(VolumeLabel, 0, sizeof VolumeLabel);
    CacheAllocationLimit = 0;
}
