// Where an installed copy keeps what a build tree keeps beside the program.
#pragma once

#include <string>

#include "public/public_export.h"

// The help document's folder of an installed copy, relative to the program folder (the
// layout of `cmake --install`), with a trailing '/'.
PUBLIC_EXPORT std::string InstalledDocFolder(const std::string& programFolder);

// Whether the program runs from an installed tree: its documentation folder exists.
PUBLIC_EXPORT bool IsInstalledLayout(const std::string& programFolder);

// The help document `fileName`: beside the program when it is there, else in the installed
// documentation folder when it is there, else the path beside the program (so an error
// names where it was expected).
PUBLIC_EXPORT std::string HelpDocumentPath(const std::string& programFolder,
                                           const std::string& fileName);
