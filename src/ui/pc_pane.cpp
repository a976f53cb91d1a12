#include "ui/pc_pane.h"

std::string PcDirectory;
std::vector<PcItem> PcItemList;
