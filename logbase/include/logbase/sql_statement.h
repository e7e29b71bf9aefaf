// NWSqlStatement: the rows of one query, read one row at a time.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "logbase/logbase_export.h"
#include "public/nwstring.h"

class LOGBASE_EXPORT NWSqlStatement {
public:
    // Rows as UTF-8 text (SQL NULL as empty text), in the order the query produced them.
    explicit NWSqlStatement(std::vector<std::vector<std::string>> rows);
    virtual ~NWSqlStatement();
    NWSqlStatement(const NWSqlStatement&) = delete;
    NWSqlStatement& operator=(const NWSqlStatement&) = delete;

    // True when the query produced no rows.
    bool IsEmpty() const { return m_rows.empty(); }
    // Moves to the next row (the first on the first call); false past the last row.
    bool NextRow();
    // Column `column` (0-based) of the current row; empty before the first row, past the last
    // row or for a column the row does not have.
    NWString ValueString(int column) const;
    // The same value as UTF-8.
    std::string ValueUtf8(int column) const;
    std::size_t RowCount() const { return m_rows.size(); }
    // Columns of the current row; 0 before the first row and past the last.
    int ColumnCount() const;

private:
    const std::string* cell(int column) const;

    std::vector<std::vector<std::string>> m_rows;
    std::size_t m_next = 0;  // 1-based index of the current row; 0 before the first NextRow
};
