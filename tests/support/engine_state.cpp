#include "support/engine_state.h"

#include "ui/program_state.h"

void ResetEngineState()
{
    ResetProgramState();
}
