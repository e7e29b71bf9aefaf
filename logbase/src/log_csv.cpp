// CSV of log rows: the one writer the viewer's export and the web API share.
#include "logbase/log_csv.h"

namespace logbase {

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

}  // namespace logbase
