// No ASPI manager outside Windows: the library never loads, so no SCSI
// device is listed. The other calls are never reached.
#include "disk/aspi.h"

namespace {

void* NoManager() { return nullptr; }
AspiEntryPoint NoEntry(void*, const char*) { return nullptr; }
void NoFree(void*) {}
void* NoEvent() { return nullptr; }
bool NoWait(void*, uint32_t) { return false; }
void NoEventCall(void*) {}
void NoPause(uint32_t) {}

}  // namespace

const AspiSystemCalls kSystemAspiCalls = {NoManager, NoEntry,     NoFree,      NoEvent,
                                          NoWait,    NoEventCall, NoEventCall, NoPause};
AspiSystemCalls AspiSystem = kSystemAspiCalls;
