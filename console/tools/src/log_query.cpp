// The viewer's statements, character for character as the log store expects them.
#include "consoletools/log_query.h"

#include <cstdio>

namespace consoletools {

namespace {

constexpr const char* kAllTypesAllSubTypes =
    "select LogCreateDate,LogCreateTime,LogTypeContent,LogChildTypeContent,LogContent from "
    "Log,LogChildType,LogType where Log.LogChildType=LogChildType.LogChildTypeCode AND "
    "Log.LogCreateDate>= '%s' AND Log.LogCreateDate<= '%s' And Log.LogType=LogType.LogTypeCode";
constexpr const char* kAllTypesOneSubType =
    "select LogCreateDate,LogCreateTime,LogTypeContent,LogChildTypeContent,LogContent from "
    "Log,LogChildType,LogType where Log.LogChildType=LogChildType.LogChildTypeCode AND "
    "Log.LogCreateDate>= '%s' AND Log.LogCreateDate<= '%s'  AND Log.LogChildType =%d And "
    "Log.LogType=LogType.LogTypeCode";
constexpr const char* kOneTypeAllSubTypes =
    "select LogCreateDate,LogCreateTime,LogTypeContent,LogChildTypeContent,LogContent from "
    "Log,LogChildType,LogType where Log.LogChildType=LogChildType.LogChildTypeCode AND "
    "Log.LogCreateDate>= '%s' AND Log.LogCreateDate<= '%s' AND Log.LogType=%d And "
    "Log.LogType=LogType.LogTypeCode";
constexpr const char* kOneTypeOneSubType =
    "select LogCreateDate,LogCreateTime,LogTypeContent,LogChildTypeContent,LogContent from "
    "Log,LogChildType,LogType where Log.LogChildType=LogChildType.LogChildTypeCode AND "
    "Log.LogCreateDate>= '%s' AND Log.LogCreateDate<= '%s'  AND Log.LogType=%d AND "
    "Log.LogChildType =%d And Log.LogType=LogType.LogTypeCode";

// The dates come from the date pickers through formatLogDate: digits and '-' only, so they
// cannot change the statement.
bool isDateText(const std::string& text) {
    if (text.empty() || text.size() > 16) return false;
    for (char c : text) {
        if (!(c == '-' || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

}  // namespace

std::string formatLogDate(int year, int month, int day) {
    char text[40];
    std::snprintf(text, sizeof text, "%d-%02d-%02d", year, month, day);
    return text;
}

std::optional<std::string> logQueryStatement(const std::string& startDate,
                                             const std::string& endDate, int typeCode,
                                             int subTypeCode) {
    if (typeCode < 1 || typeCode > kAllLogTypes || subTypeCode < 1 ||
        subTypeCode > kAllLogSubTypes || !isDateText(startDate) || !isDateText(endDate)) {
        return std::nullopt;
    }
    char sql[1024];
    const char* start = startDate.c_str();
    const char* end = endDate.c_str();
    if (typeCode == kAllLogTypes && subTypeCode == kAllLogSubTypes) {
        std::snprintf(sql, sizeof sql, kAllTypesAllSubTypes, start, end);
    } else if (typeCode == kAllLogTypes) {
        std::snprintf(sql, sizeof sql, kAllTypesOneSubType, start, end, subTypeCode);
    } else if (subTypeCode == kAllLogSubTypes) {
        std::snprintf(sql, sizeof sql, kOneTypeAllSubTypes, start, end, typeCode);
    } else {
        std::snprintf(sql, sizeof sql, kOneTypeOneSubType, start, end, typeCode, subTypeCode);
    }
    return std::string(sql);
}

std::optional<std::string> logDeleteStatement(int subTypeCode) {
    if (subTypeCode < 1 || subTypeCode > kAllLogSubTypes) return std::nullopt;
    if (subTypeCode == kAllLogSubTypes) return std::string("delete From Log");
    char sql[80];
    std::snprintf(sql, sizeof sql, "delete From Log where Log.LogChildType = %d", subTypeCode);
    return std::string(sql);
}

namespace {

void appendCsvField(std::string& out, const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void appendCsvRecord(std::string& out, const std::vector<std::string>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += ',';
        appendCsvField(out, fields[i]);
    }
    out += "\r\n";
}

}  // namespace

std::string logCsv(const std::vector<std::string>& header,
                   const std::vector<std::vector<std::string>>& rows) {
    std::string out = "\xEF\xBB\xBF";
    appendCsvRecord(out, header);
    for (const auto& row : rows) appendCsvRecord(out, row);
    return out;
}

}  // namespace consoletools
