// The log store: one writer thread drains the queue into the database in batches.
#include "log_store.h"

#include <utility>

namespace logbase {

namespace {

constexpr const char* kInsertSql =
    "INSERT INTO Log(LogCreateDate, LogCreateTime, LogType, LogChildType, LogContent) "
    "VALUES(?, ?, ?, ?, ?)";

bool bindText(sqlite3_stmt* stmt, int index, const std::string& text) {
    return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()),
                             SQLITE_STATIC) == SQLITE_OK;
}

// Each attempt waits up to the busy timeout of the connection.
constexpr int kMaxBusyRetries = 30;

bool isBusy(int rc) {
    const int primary = rc & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

}  // namespace

LogStore::~LogStore() {
    close();
}

bool LogStore::open(const std::string& path) {
    std::lock_guard store(m_storeLock);
    close();
    Db callerDb = openDatabase(path);
    if (!callerDb || !prepareSchema(callerDb.get())) return false;
    Db writerDb = openDatabase(path);
    if (!writerDb) return false;
    m_callerDb = std::move(callerDb);
    {
        std::lock_guard queue(m_queueMutex);
        m_stopWriter = false;
        m_writerRunning = true;
        m_writerIdle = false;
    }
    m_writer = std::thread(&LogStore::writerLoop, this, std::move(writerDb));
    return true;
}

void LogStore::close() {
    std::lock_guard store(m_storeLock);
    if (!m_writer.joinable()) return;
    // A change left open would hold the write lock the writer needs for its last batch.
    if (m_callerDb && inCallerTransaction()) execute(m_callerDb.get(), "ROLLBACK");
    {
        std::lock_guard queue(m_queueMutex);
        m_stopWriter = true;
    }
    m_wakeWriter.notify_one();
    m_writer.join();  // the writer drains the queue before it ends
    m_callerDb.reset();
}

void LogStore::enqueue(PendingRow row) {
    bool wake = false;
    {
        std::lock_guard queue(m_queueMutex);
        if (!m_writerRunning && m_queue.size() >= kMaxBacklog) return;
        m_queue.push_back(std::move(row));
        ++m_queuedSeq;
        wake = m_writerIdle;
        m_writerIdle = false;
    }
    if (wake) m_wakeWriter.notify_one();
}

void LogStore::writerLoop(Db db) {
    Stmt insert = prepare(db.get(), kInsertSql);
    std::deque<PendingRow> batch;
    std::unique_lock queue(m_queueMutex);
    for (;;) {
        m_writerIdle = m_queue.empty();
        m_wakeWriter.wait(queue, [this] { return !m_queue.empty() || m_stopWriter; });
        if (m_queue.empty()) break;  // stopping, and everything is written
        batch.swap(m_queue);
        const std::uint64_t batchEnd = m_queuedSeq;
        queue.unlock();
        // A caller's change may hold the write lock longer than the busy timeout; the batch is
        // kept and tried again rather than lost, but not for ever, and only once more when the
        // store is closing, so that exit cannot hang on a lock held by another process. A
        // store that cannot be written at all (disk full, file gone) loses the batch, as a
        // failed insert is lost.
        int attempts = 0;
        while (insert && isBusy(writeBatch(db.get(), insert.get(), batch)) &&
               ++attempts < kMaxBusyRetries && !stopRequested()) {
        }
        batch.clear();
        queue.lock();
        m_committedSeq = batchEnd;
        m_committed.notify_all();
    }
    m_writerRunning = false;
    m_committed.notify_all();
}

int LogStore::writeBatch(sqlite3* db, sqlite3_stmt* insert, const std::deque<PendingRow>& rows) {
    int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
    for (const PendingRow& row : rows) {
        sqlite3_reset(insert);
        const bool bound = bindText(insert, 1, row.date) && bindText(insert, 2, row.time) &&
                           sqlite3_bind_int(insert, 3, row.type) == SQLITE_OK &&
                           sqlite3_bind_int(insert, 4, row.childType) == SQLITE_OK &&
                           bindText(insert, 5, row.content);
        rc = bound ? sqlite3_step(insert) : SQLITE_ERROR;
        if (isBusy(rc)) {
            sqlite3_reset(insert);
            execute(db, "ROLLBACK");
            return rc;
        }
        // Any other failure loses only this row.
    }
    sqlite3_reset(insert);
    sqlite3_clear_bindings(insert);
    rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) execute(db, "ROLLBACK");
    return rc;
}

bool LogStore::stopRequested() {
    std::lock_guard queue(m_queueMutex);
    return m_stopWriter;
}

void LogStore::flush() {
    std::unique_lock queue(m_queueMutex);
    const std::uint64_t target = m_queuedSeq;
    m_committed.wait(queue, [&] { return !m_writerRunning || m_committedSeq >= target; });
}

bool LogStore::inCallerTransaction() const {
    return sqlite3_get_autocommit(m_callerDb.get()) == 0;
}

bool LogStore::beginTransaction() {
    std::lock_guard store(m_storeLock);
    if (!m_callerDb || inCallerTransaction()) return false;
    flush();
    return execute(m_callerDb.get(), "BEGIN IMMEDIATE");
}

bool LogStore::executeSql(const std::string& sql) {
    std::lock_guard store(m_storeLock);
    if (!m_callerDb) return false;
    // Inside an open change the writer is held off by its write lock; waiting for it here
    // would never end. The begin already stored what was logged before it.
    if (!inCallerTransaction()) flush();
    return execute(m_callerDb.get(), sql.c_str());
}

bool LogStore::commitTransaction() {
    std::lock_guard store(m_storeLock);
    if (!m_callerDb || !inCallerTransaction()) return false;
    if (execute(m_callerDb.get(), "COMMIT")) return true;
    execute(m_callerDb.get(), "ROLLBACK");
    return false;
}

bool LogStore::query(const std::string& sql, std::vector<std::vector<std::string>>& rows) {
    std::lock_guard store(m_storeLock);
    if (!m_callerDb) return false;
    if (!inCallerTransaction()) flush();
    return collectRows(m_callerDb.get(), sql, rows);
}

}  // namespace logbase
