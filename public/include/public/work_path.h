// The program folder: where the running executable lives.
#pragma once

#include <string>
#include <string_view>

#include "public/public_export.h"

// Folder of the running executable with a trailing '/', e.g. "/opt/vantrel/bin/" for
// /opt/vantrel/bin/vantrel; "/" for a program in the root folder. Empty when the executable
// path cannot be read.
PUBLIC_EXPORT std::string GetCurWorkPath();

// The same split applied to a given executable path: everything up to and including the last
// '/'. Empty when the path has no '/'.
PUBLIC_EXPORT std::string WorkPathOf(std::string_view executablePath);
