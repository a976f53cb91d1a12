// The one reset of the whole program's state: every global of every layer
// back to its start-up value, with no volume or image open. The command-line
// program starts from it; the tests reset with it before and after each case.
#pragma once

void ResetProgramState();
