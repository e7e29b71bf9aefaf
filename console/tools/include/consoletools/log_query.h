// The SQL the event log viewer runs: four query statements chosen by type and sub-type code,
// and the delete statement of one sub-type.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "logbase/log_codes.h"

namespace consoletools {

// Combo codes: the selected index + 1. The code after the last type (4) means every type,
// the code after the last sub-type (9) every sub-type.
inline constexpr int kAllLogTypes = logcode::kFailure + 1;
inline constexpr int kAllLogSubTypes = logcode::kOther + 1;

// "%d-%02d-%02d", the form LogCreateDate is stored and compared in.
std::string formatLogDate(int year, int month, int day);

// The query for a date range (both ends included) and the two codes; none for a code
// outside 1..4 or 1..9.
std::optional<std::string> logQueryStatement(const std::string& startDate,
                                             const std::string& endDate, int typeCode,
                                             int subTypeCode);

// "delete From Log" for code 9, else the lines of that sub-type; none outside 1..9.
std::optional<std::string> logDeleteStatement(int subTypeCode);

// The rows as a CSV file's bytes: UTF-8 with a byte-order mark (spreadsheets then read the
// Chinese text), the header row first, CRLF line ends, a field quoted (inner quotes doubled)
// when it holds a comma, quote, CR or LF.
std::string logCsv(const std::vector<std::string>& header,
                   const std::vector<std::vector<std::string>>& rows);

}  // namespace consoletools
