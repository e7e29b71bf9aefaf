// The viewer's four queries (chosen by which codes the filter holds) and its delete, with
// every value bound.
#include "logbase/log_query.h"

#include <cstdio>
#include <exception>
#include <mutex>

#include "log_store.h"

namespace logbase {

namespace {

// The same statements the viewer has always run, so the rows and their order stay the
// store's; only the values are bound instead of written into the text.
constexpr const char* kAllTypesAllSubTypes =
    "select LogCreateDate,LogCreateTime,LogTypeContent,LogChildTypeContent,LogContent from "
    "Log,LogChildType,LogType where Log.LogChildType=LogChildType.LogChildTypeCode AND "
    "Log.LogCreateDate>= ? AND Log.LogCreateDate<= ? And Log.LogType=LogType.LogTypeCode";
constexpr const char* kAllTypesOneSubType =
    "select LogCreateDate,LogCreateTime,LogTypeContent,LogChildTypeContent,LogContent from "
    "Log,LogChildType,LogType where Log.LogChildType=LogChildType.LogChildTypeCode AND "
    "Log.LogCreateDate>= ? AND Log.LogCreateDate<= ?  AND Log.LogChildType =? And "
    "Log.LogType=LogType.LogTypeCode";
constexpr const char* kOneTypeAllSubTypes =
    "select LogCreateDate,LogCreateTime,LogTypeContent,LogChildTypeContent,LogContent from "
    "Log,LogChildType,LogType where Log.LogChildType=LogChildType.LogChildTypeCode AND "
    "Log.LogCreateDate>= ? AND Log.LogCreateDate<= ? AND Log.LogType=? And "
    "Log.LogType=LogType.LogTypeCode";
constexpr const char* kOneTypeOneSubType =
    "select LogCreateDate,LogCreateTime,LogTypeContent,LogChildTypeContent,LogContent from "
    "Log,LogChildType,LogType where Log.LogChildType=LogChildType.LogChildTypeCode AND "
    "Log.LogCreateDate>= ? AND Log.LogCreateDate<= ?  AND Log.LogType=? AND "
    "Log.LogChildType =? And Log.LogType=LogType.LogTypeCode";

constexpr const char* kDeleteAll = "delete From Log";
constexpr const char* kDeleteSubType = "delete From Log where Log.LogChildType = ?";

constexpr std::size_t kColumns = 5;

}  // namespace

std::string formatLogDate(int year, int month, int day) {
    char text[40];
    std::snprintf(text, sizeof text, "%d-%02d-%02d", year, month, day);
    return text;
}

std::optional<std::vector<LogRow>> queryLog(const LogFilter& filter) {
    SqlParams params{filter.startDate, filter.endDate};
    const char* sql = kAllTypesAllSubTypes;
    if (filter.type) params.emplace_back(*filter.type);
    if (filter.subType) params.emplace_back(*filter.subType);
    if (filter.type && filter.subType) {
        sql = kOneTypeOneSubType;
    } else if (filter.type) {
        sql = kOneTypeAllSubTypes;
    } else if (filter.subType) {
        sql = kAllTypesOneSubType;
    }
    try {
        std::vector<std::vector<std::string>> cells;
        {
            LogStore& store = processLogStore();
            std::lock_guard lock(store.storeLock());
            if (!store.query(sql, cells, params)) return std::nullopt;
        }
        std::vector<LogRow> rows;
        rows.reserve(cells.size());
        for (auto& cell : cells) {
            if (cell.size() != kColumns) return std::nullopt;
            rows.push_back(LogRow{std::move(cell[0]), std::move(cell[1]), std::move(cell[2]),
                                  std::move(cell[3]), std::move(cell[4])});
        }
        return rows;
    } catch (const std::exception&) {
        return std::nullopt;  // a result too large for memory: nothing, as for a closed store
    }
}

std::optional<std::vector<LogEntry>> queryLogPage(const LogFilter& filter, int limit,
                                                  std::optional<int> before) {
    std::string sql =
        "select Log.rowid,LogType,LogChildType,LogCreateDate,LogCreateTime,LogTypeContent,"
        "LogChildTypeContent,LogContent from Log,LogChildType,LogType where "
        "Log.LogChildType=LogChildType.LogChildTypeCode AND Log.LogType=LogType.LogTypeCode AND "
        "Log.LogCreateDate>= ? AND Log.LogCreateDate<= ?";
    SqlParams params{filter.startDate, filter.endDate};
    if (filter.type) {
        sql += " AND Log.LogType=?";
        params.emplace_back(*filter.type);
    }
    if (filter.subType) {
        sql += " AND Log.LogChildType=?";
        params.emplace_back(*filter.subType);
    }
    if (before) {
        sql += " AND Log.rowid<?";
        params.emplace_back(*before);
    }
    sql += " order by Log.rowid desc limit ?";
    params.emplace_back(limit);
    try {
        std::vector<std::vector<std::string>> cells;
        {
            LogStore& store = processLogStore();
            std::lock_guard lock(store.storeLock());
            if (!store.query(sql, cells, params)) return std::nullopt;
        }
        std::vector<LogEntry> entries;
        entries.reserve(cells.size());
        for (auto& cell : cells) {
            if (cell.size() != kColumns + 3) return std::nullopt;
            entries.push_back(
                LogEntry{std::stoll(cell[0]), std::stoi(cell[1]), std::stoi(cell[2]),
                         LogRow{std::move(cell[3]), std::move(cell[4]), std::move(cell[5]),
                                std::move(cell[6]), std::move(cell[7])}});
        }
        return entries;
    } catch (const std::exception&) {
        return std::nullopt;  // too large for memory, or a number that does not read
    }
}

bool deleteLog(std::optional<int> subType) {
    try {
        LogStore& store = processLogStore();
        std::lock_guard lock(store.storeLock());
        if (!store.beginTransaction()) return false;
        const bool deleted = subType ? store.executeSql(kDeleteSubType, SqlParams{*subType})
                                     : store.executeSql(kDeleteAll);
        return store.commitTransaction() && deleted;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace logbase
