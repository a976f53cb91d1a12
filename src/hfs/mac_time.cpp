#include "hfs/mac_time.h"

#include "platform/platform.h"

uint32_t MacNow() { return UnixToMacDate(UnixNow()); }
