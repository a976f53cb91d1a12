// The one reset of the whole program's state: every global of every layer
// back to its start-up value, with no volume or image open, and the
// diskette formatter wired into the image drives. Every program starts
// with it. The command-line
// program starts from it; the tests reset with it before and after each case.
#pragma once

void ResetProgramState();
