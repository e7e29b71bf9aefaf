// The event log store: one SQLite database file, written by one background thread.
#pragma once

#include <string>

#include "logbase/logbase_export.h"

// Opens (creating if needed) the database `folder` + `fileName`. Lines logged before this
// call are kept (bounded) and stored now. Returns false when the file cannot be opened.
LOGBASE_EXPORT bool InitLogbaseModule(const std::string& folder, const std::string& fileName);

// Logs one line. The format begins "%d,%d,'" and ends "'": type, sub-type, then the content.
// Never waits for the disk; safe from any thread.
LOGBASE_EXPORT void InsertLogOb(const char* format, ...) __attribute__((format(printf, 1, 2)));
