// SQLite connection set-up, the log schema and query collection.
#include "sqlite_db.h"

namespace logbase {

namespace {

constexpr int kBusyTimeoutMs = 10000;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS Log(
  LogCreateDate TEXT NOT NULL,
  LogCreateTime TEXT NOT NULL,
  LogType INTEGER NOT NULL,
  LogChildType INTEGER NOT NULL,
  LogContent TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS LogCreateDateIndex ON Log(LogCreateDate);
CREATE TABLE IF NOT EXISTS LogType(
  LogTypeCode INTEGER PRIMARY KEY,
  LogTypeContent TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS LogChildType(
  LogChildTypeCode INTEGER PRIMARY KEY,
  LogChildTypeContent TEXT NOT NULL);
INSERT OR IGNORE INTO LogType(LogTypeCode, LogTypeContent) VALUES
  (0, '未分类'), (1, '系统日志'), (2, '运行日志'), (3, '失败日志');
INSERT OR IGNORE INTO LogChildType(LogChildTypeCode, LogChildTypeContent) VALUES
  (0, '未分类'), (1, '系统初始化'), (2, '参数修改'), (3, '系统退出'), (4, '设备连接'),
  (5, '平行操作'), (6, '串行操作'), (7, '定时任务'), (8, '其它');
)sql";

}  // namespace

Db openDatabase(const std::string& path) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(
        path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
        nullptr);
    Db db(raw);  // a failed open still allocates a handle that must be closed
    if (rc != SQLITE_OK) return nullptr;
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
    sqlite3_extended_result_codes(db.get(), 1);
    return db;
}

bool prepareSchema(sqlite3* db) {
    // WAL lets the viewer read while the writer appends; NORMAL sync is durable across a
    // program crash and cannot corrupt the file on power loss.
    return execute(db, "PRAGMA journal_mode=WAL") && execute(db, "PRAGMA synchronous=NORMAL") &&
           execute(db, "BEGIN IMMEDIATE") && execute(db, kSchema) && execute(db, "COMMIT");
}

bool execute(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

Stmt prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()) + 1, &raw, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(raw);
        return nullptr;
    }
    return Stmt(raw);
}

namespace {

// Prepares `sql` and binds `params` in order; null when either fails or the counts differ.
Stmt prepareBound(sqlite3* db, const std::string& sql, const SqlParams& params) {
    Stmt stmt = prepare(db, sql);
    if (!stmt) return nullptr;
    // A statement given values takes exactly that many.
    if (!params.empty() &&
        sqlite3_bind_parameter_count(stmt.get()) != static_cast<int>(params.size())) {
        return nullptr;
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        const int index = static_cast<int>(i) + 1;
        const int rc =
            std::holds_alternative<int>(params[i])
                ? sqlite3_bind_int(stmt.get(), index, std::get<int>(params[i]))
                : sqlite3_bind_text(stmt.get(), index, std::get<std::string>(params[i]).data(),
                                    static_cast<int>(std::get<std::string>(params[i]).size()),
                                    SQLITE_TRANSIENT);
        if (rc != SQLITE_OK) return nullptr;
    }
    return stmt;
}

}  // namespace

bool executeBound(sqlite3* db, const std::string& sql, const SqlParams& params) {
    Stmt stmt = prepareBound(db, sql, params);
    if (!stmt) return false;
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW) rc = sqlite3_step(stmt.get());
    return rc == SQLITE_DONE;
}

bool collectRows(sqlite3* db, const std::string& sql, const SqlParams& params,
                 std::vector<std::vector<std::string>>& rows) {
    Stmt stmt = prepareBound(db, sql, params);
    if (!stmt) return false;
    const int columns = sqlite3_column_count(stmt.get());
    for (;;) {
        const int rc = sqlite3_step(stmt.get());
        if (rc == SQLITE_DONE) return true;
        if (rc != SQLITE_ROW) return false;
        std::vector<std::string> row;
        row.reserve(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            const auto* text = sqlite3_column_text(stmt.get(), c);
            const int bytes = sqlite3_column_bytes(stmt.get(), c);
            row.emplace_back(text ? reinterpret_cast<const char*>(text) : "",
                             text ? static_cast<std::size_t>(bytes) : 0);
        }
        rows.push_back(std::move(row));
    }
}

}  // namespace logbase
