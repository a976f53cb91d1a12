#include "core/main_state.h"

WindowHandle MainWindow = nullptr;
uint16_t ActivePane = 1;
uint16_t MacSortId = kSortByName;
uint16_t PcSortId = kSortByName;
uint16_t MacDriveIndex = 0;
uint32_t DisplayUpdates = 1;
