// Copying the event log database while its writer may be running.
#pragma once

#include <string>

#include "logbase/logbase_export.h"

// Copies the database `source` (never created here) to `target` with SQLite's online backup:
// one consistent snapshot holding every row committed before the call, taken while another
// process may go on writing. The copy is written to a temporary file beside `target` and
// renamed over it, so a failed copy never leaves a partial file under `target`. False with
// `problem` set on failure (missing or foreign database, unwritable target).
LOGBASE_EXPORT bool BackupLogDatabase(const std::string& source, const std::string& target,
                                      std::string& problem);
