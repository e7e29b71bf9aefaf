// NWSqlStatement: a finished query's rows with a cursor.
#include "logbase/sql_statement.h"

#include <utility>

NWSqlStatement::NWSqlStatement(std::vector<std::vector<std::string>> rows)
    : m_rows(std::move(rows)) {}

NWSqlStatement::~NWSqlStatement() = default;

bool NWSqlStatement::NextRow() {
    if (m_next > m_rows.size()) return false;
    ++m_next;
    return m_next <= m_rows.size();
}

const std::string* NWSqlStatement::cell(int column) const {
    if (m_next == 0 || m_next > m_rows.size() || column < 0) return nullptr;
    const auto& row = m_rows[m_next - 1];
    if (static_cast<std::size_t>(column) >= row.size()) return nullptr;
    return &row[static_cast<std::size_t>(column)];
}

int NWSqlStatement::ColumnCount() const {
    if (m_next == 0 || m_next > m_rows.size()) return 0;
    return static_cast<int>(m_rows[m_next - 1].size());
}

NWString NWSqlStatement::ValueString(int column) const {
    const std::string* text = cell(column);
    return text ? NWString(std::string_view(*text)) : NWString();
}

std::string NWSqlStatement::ValueUtf8(int column) const {
    const std::string* text = cell(column);
    return text ? *text : std::string();
}
