#include "hfs/mac_time.h"

#include "platform/platform.h"

uint32_t MacNow() { return UnixToMacDate(UnixNow()); }

int64_t MacDateToUnix(uint32_t macDate) { return LocalWallToUnix(int64_t{macDate} - kMacEpochToUnixEpoch); }

int64_t UnixToMacSeconds(int64_t unixSeconds) { return UnixToLocalWall(unixSeconds) + kMacEpochToUnixEpoch; }

uint32_t UnixToMacDate(int64_t unixSeconds)
{
    const int64_t mac = UnixToMacSeconds(unixSeconds);
    return mac < 0 ? 0 : mac > int64_t{UINT32_MAX} ? UINT32_MAX : static_cast<uint32_t>(mac);
}
