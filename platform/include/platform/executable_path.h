// The running executable's full path, the one place that reads /proc/self/exe.
#pragma once

#include <string>

namespace platform {

// Full path of the running executable; empty when it cannot be read. Long paths are read
// whole, not cut.
std::string executablePath();

}  // namespace platform
