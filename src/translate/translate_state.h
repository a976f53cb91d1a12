// Puts every global of the translator layer back to its start-up value:
// no stream open, no translator registered or chosen, no type maps held.
#pragma once

void ResetTranslateState();
