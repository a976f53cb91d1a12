// Local wall-clock time over the platform's zone offsets.
#include "platform/platform.h"

#include <initializer_list>

namespace {

constexpr int64_t kDay = 86400;
// Far beyond any date a disk or a file system carries; keeps the sums below
// away from the ends of int64_t.
constexpr int64_t kLimit = int64_t{1} << 50;

int64_t Clamp(int64_t seconds) { return seconds < -kLimit ? -kLimit : seconds > kLimit ? kLimit : seconds; }

}  // namespace

int64_t UnixToLocalWall(int64_t unixSeconds)
{
    const int64_t t = Clamp(unixSeconds);
    return t + LocalUtcOffset(t);
}

int64_t LocalWallToUnix(int64_t wallSeconds)
{
    const int64_t wall = Clamp(wallSeconds);
    // No zone changes its offset twice within two days, so the offsets a day
    // either side are the only ones the reading can have been made with.
    const int64_t before = LocalUtcOffset(wall - kDay);
    const int64_t after = LocalUtcOffset(wall + kDay);
    bool found = false;
    int64_t best = 0;
    for (const int64_t offset : {before, after}) {
        const int64_t t = wall - offset;
        if (t + LocalUtcOffset(t) == wall && (!found || t < best)) {
            best = t;
            found = true;
        }
    }
    return found ? best : wall - before;
}
