// The test hook that makes one PC file read or write fail, shared by the
// POSIX and Windows file layers.
#include "platform/platform.h"

PcFileFaultRecord PcFileFaults{};

bool PcFileReadFault(int64_t* result)
{
    ++PcFileFaults.reads;
    if (PcFileFaults.failReadAt == 0 || PcFileFaults.reads != PcFileFaults.failReadAt) return false;
    *result = -1;
    return true;
}

bool PcFileWriteFault(int64_t* result)
{
    ++PcFileFaults.writes;
    if (PcFileFaults.failWriteAt == 0 || PcFileFaults.writes != PcFileFaults.failWriteAt) return false;
    *result = PcFileFaults.writeNothing ? 0 : -1;
    return true;
}
