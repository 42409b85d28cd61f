#include "platform/selection.h"

bool GatherSelection(const std::string&, std::vector<std::string>&) { return true; }
