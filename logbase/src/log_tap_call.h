// Calls into the log listener from inside the store.
#pragma once

#include <string_view>

namespace logbase {

void tapLine(int type, int subType, std::string_view content);
void tapTrouble(std::string_view problem);

}  // namespace logbase
