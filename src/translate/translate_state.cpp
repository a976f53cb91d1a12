#include "translate/translate_state.h"

#include "core/status.h"
#include "translate/byte_stream.h"
#include "translate/names.h"
#include "translate/registry.h"

void ResetTranslateState()
{
    // A stream still open belongs to an operation that never finished: it
    // is closed as a failed one, so it leaves no partial PC file behind.
    for (unsigned slot = 0; slot < StreamSlotCount; ++slot) {
        if (StreamTable[slot].flags == 0) continue;
        if (StatusCode == 0) StatusCode = kStatusCancelled;
        CloseStream(static_cast<int>(slot));
    }
    for (ByteStream& stream : StreamTable) stream = ByteStream{};
    CollisionName = nullptr;
    PcFileWritten = nullptr;
    for (Translator& translator : TranslatorTable) translator = Translator{};
    TranslatorCount = 0;
    MacToPcIndex = 0;
    PcToMacIndex = 0;
    ReleaseTypeMaps();
}
