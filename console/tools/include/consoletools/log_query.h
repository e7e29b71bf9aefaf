// The event log viewer's combo codes as log filters, and its CSV export.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "logbase/log_codes.h"
#include "logbase/log_query.h"

namespace consoletools {

// Combo codes: the selected index + 1. The code after the last type (4) means every type,
// the code after the last sub-type (9) every sub-type.
inline constexpr int kAllLogTypes = logcode::kFailure + 1;
inline constexpr int kAllLogSubTypes = logcode::kOther + 1;

// The log filter of a date range (both ends included) and the two combo codes; none for a
// code outside 1..4 or 1..9.
std::optional<logbase::LogFilter> logFilterOf(const std::string& startDate,
                                              const std::string& endDate, int typeCode,
                                              int subTypeCode);

// logbase::logCsv: the rows as a CSV file's bytes.
std::string logCsv(const std::vector<std::string>& header,
                   const std::vector<std::vector<std::string>>& rows);

}  // namespace consoletools
