// The event log as CSV, as the viewer exports it and the web API serves it.
#pragma once

#include <string>
#include <vector>

#include "logbase/logbase_export.h"

namespace logbase {

// The rows as a CSV file's bytes: UTF-8 with a byte-order mark (spreadsheets then read the
// Chinese text), the header row first, CRLF line ends, a field quoted (inner quotes doubled)
// when it holds a comma, quote, CR or LF.
LOGBASE_EXPORT std::string logCsv(const std::vector<std::string>& header,
                                  const std::vector<std::vector<std::string>>& rows);

}  // namespace logbase
