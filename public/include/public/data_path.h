// The data folder: where the database, the frame dumps, TimingTask/ and "Vantrel.ini" live.
#pragma once

#include <string>

#include "public/public_export.h"

// The data folder with a trailing '/'. Until SetDataPath is called it is the program folder
// (GetCurWorkPath()), so tools and tests that never choose one keep their files beside the
// program.
PUBLIC_EXPORT std::string GetDataPath();

// Chooses the data folder for the whole process (a trailing '/' is added when missing); an
// empty path goes back to the program folder. Called once at start, before any module opens
// a file.
PUBLIC_EXPORT void SetDataPath(const std::string& folder);
