// The folder of the running executable, without a trailing '/'.
#pragma once

#include <string>
#include <string_view>

#include "diskkit/diskkit_export.h"

// Everything before the last '/' of the executable path, e.g. "/opt/apps" for /opt/apps/run.
// Empty for a program in the root folder (so `GetModuleDir() + "/name"` is still right) and
// when the path cannot be read.
DISKKIT_EXPORT std::string GetModuleDir();

// The same cut applied to a given path; empty when it has no '/'.
DISKKIT_EXPORT std::string ModuleDirOf(std::string_view executablePath);
