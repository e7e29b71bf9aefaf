// The viewer's combo codes as log filters, and its CSV export.
#include "consoletools/log_query.h"

#include "logbase/log_csv.h"

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

std::string logCsv(const std::vector<std::string>& header,
                   const std::vector<std::vector<std::string>>& rows) {
    return logbase::logCsv(header, rows);
}

}  // namespace consoletools
