// Small RAII wrappers over the SQLite C API, used only inside the log store.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace logbase {

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// Opens `path` (created when missing) with a busy timeout, so that the writer and a caller's
// change wait for each other's transaction instead of failing.
Db openDatabase(const std::string& path);
// Creates the tables, their display rows and the date index when missing; turns on WAL.
bool prepareSchema(sqlite3* db);
bool execute(sqlite3* db, const char* sql);
Stmt prepare(sqlite3* db, const std::string& sql);
// A value bound to the next "?" of a statement.
using SqlParam = std::variant<int, std::string>;
using SqlParams = std::vector<SqlParam>;

// Runs a query to its end with `params` bound; false on any SQL error.
bool collectRows(sqlite3* db, const std::string& sql, const SqlParams& params,
                 std::vector<std::vector<std::string>>& rows);
// Runs one statement with `params` bound; false on any SQL error.
bool executeBound(sqlite3* db, const std::string& sql, const SqlParams& params);

}  // namespace logbase
