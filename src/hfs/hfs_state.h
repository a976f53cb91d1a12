// Puts every global of the HFS layer back to its start-up value: no volume,
// an empty block cache and pane list, no scanned volumes.
#pragma once

void ResetHfsState();
