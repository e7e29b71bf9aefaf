// The viewer's combo codes as log filters, and its CSV export.
#include "consoletools/log_query.h"

namespace consoletools {

std::optional<logbase::LogFilter> logFilterOf(const std::string& startDate,
                                              const std::string& endDate, int typeCode,
                                              int subTypeCode) {
    if (typeCode < 1 || typeCode > kAllLogTypes || subTypeCode < 1 ||
        subTypeCode > kAllLogSubTypes) {
        return std::nullopt;
    }
    logbase::LogFilter filter{startDate, endDate, std::nullopt, std::nullopt};
    if (typeCode != kAllLogTypes) filter.type = typeCode;
    if (subTypeCode != kAllLogSubTypes) filter.subType = subTypeCode;
    return filter;
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
