#include "support/engine_state.h"

#include "core/prefs.h"
#include "ui/program_state.h"

void ResetEngineState()
{
    ResetProgramState();
    // The defaults the command line starts with.
    Prefs.HideInvisible = 1;
    Prefs.KeepDate = 1;
}
