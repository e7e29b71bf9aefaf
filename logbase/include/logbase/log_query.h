// The event log viewer's reads and its delete, with typed filters and rows: callers never
// see the schema or write SQL.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "logbase/logbase_export.h"

namespace logbase {

struct LogFilter {
    std::string startDate;       // "YYYY-MM-DD", included
    std::string endDate;         // "YYYY-MM-DD", included
    std::optional<int> type;     // none: every type
    std::optional<int> subType;  // none: every sub-type
};

// One line as the viewer lists it: the stored date and time and the display texts.
struct LogRow {
    std::string date;
    std::string time;
    std::string typeText;
    std::string subTypeText;
    std::string content;

    bool operator==(const LogRow&) const = default;
};

// "%d-%02d-%02d", the form dates are stored and compared in (as text).
LOGBASE_EXPORT std::string formatLogDate(int year, int month, int day);

// The lines of the filter, in the store's order (no sorting is added), after every line
// logged so far is stored. None when the store is closed or the query fails. Takes the
// store-wide lock for the query only.
LOGBASE_EXPORT std::optional<std::vector<LogRow>> queryLog(const LogFilter& filter);

// One stored line with its sequence number: its place in the store, growing with each line.
struct LogEntry {
    std::int64_t seq = 0;
    int type = 0;
    int subType = 0;
    LogRow row;
};

// Up to `limit` lines of the filter, newest first; with `before`, only lines stored before
// that sequence number (the next page). None when the store is closed or the query fails.
LOGBASE_EXPORT std::optional<std::vector<LogEntry>> queryLogPage(const LogFilter& filter, int limit,
                                                                 std::optional<int> before);

// Deletes the lines of one sub-type (none: every line) in one change under the store-wide
// lock. False when the store is closed or the change fails.
LOGBASE_EXPORT bool deleteLog(std::optional<int> subType);

}  // namespace logbase
