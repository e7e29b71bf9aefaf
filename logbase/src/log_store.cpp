// The log store: one writer thread drains the queue into the database in batches.
#include "log_store.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <system_error>
#include <utility>

#include "log_report.h"
#include "log_time.h"
#include "logbase/log_codes.h"

namespace logbase {

namespace {

constexpr const char* kInsertSql =
    "INSERT INTO Log(LogCreateDate, LogCreateTime, LogType, LogChildType, LogContent) "
    "VALUES(?, ?, ?, ?, ?)";

// Old rows go a small batch per statement (its own short transaction), so queued rows never
// wait long behind a deletion. Dates are stored as "YYYY-MM-DD" text: they compare in order.
constexpr int kPruneBatch = 200;
constexpr const char* kPruneSql =
    "DELETE FROM Log WHERE rowid IN "
    "(SELECT rowid FROM Log WHERE LogCreateDate < ? LIMIT ?)";

bool bindText(sqlite3_stmt* stmt, int index, const std::string& text) {
    return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()),
                             SQLITE_STATIC) == SQLITE_OK;
}

// Pause between attempts while the database cannot be written, growing to the last.
constexpr std::chrono::milliseconds kFirstRetry{50};
constexpr std::chrono::milliseconds kLastRetry{1000};
// The longest a query or change waits for earlier lines to be stored.
constexpr std::chrono::seconds kFlushLimit{30};

// A refusal of one row by the table (a constraint, a trigger): that row is lost. Anything
// else (disk full, I/O error, read-only, locked, damaged file) stops the whole batch.
bool rowRefused(int rc) {
    const int primary = rc & 0xFF;
    return primary == SQLITE_CONSTRAINT || primary == SQLITE_MISMATCH || primary == SQLITE_TOOBIG ||
           primary == SQLITE_RANGE;
}

bool isBusy(int rc) {
    const int primary = rc & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}
// A database held by someone else is told only after this many attempts, each of which
// waits the connection's busy timeout: short contention is normal.
constexpr int kBusyAttemptsBeforeTelling = 3;

std::string reasonOf(sqlite3* db, int rc) {
    const char* message = db ? sqlite3_errmsg(db) : nullptr;
    return message && *message ? message : sqlite3_errstr(rc);
}

}  // namespace

LogStore::~LogStore() {
    close();
}

bool LogStore::open(const std::string& path, std::string& problem) {
    std::lock_guard store(m_storeLock);
    close();
    Db callerDb = openDatabase(path);
    // The insert is checked here, so a file with a foreign Log table is refused at once.
    if (!callerDb || !prepareSchema(callerDb.get()) || !prepare(callerDb.get(), kInsertSql)) {
        problem = callerDb ? reasonOf(callerDb.get(), SQLITE_ERROR) : "cannot open the file";
        return false;
    }
    Db writerDb = openDatabase(path);
    if (!writerDb) {
        problem = "cannot open the file";
        return false;
    }
    {
        std::lock_guard queue(m_queueMutex);
        m_stopWriter = false;
        m_pruneRequested = m_keepDays > 0;  // old rows go at start, then daily
        m_writerRunning = true;
        m_writerIdle = false;
        m_stalled = false;
    }
    try {
        m_writer = std::thread(&LogStore::writerLoop, this, std::move(writerDb), path);
    } catch (const std::system_error& error) {
        std::lock_guard queue(m_queueMutex);
        m_writerRunning = false;
        problem = std::string("cannot start the log writer thread: ") + error.what();
        return false;
    }
    m_callerDb = std::move(callerDb);
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
        if (m_writerRunning && m_queue.size() + m_inFlight >= kMaxQueued) {
            ++m_dropped;
            return;
        }
        m_queue.push_back(std::move(row));
        ++m_queuedSeq;
        wake = m_writerIdle;
        m_writerIdle = false;
    }
    if (wake) m_wakeWriter.notify_one();
}

void LogStore::setRetention(int keepDays, std::chrono::milliseconds interval) {
    {
        std::lock_guard queue(m_queueMutex);
        m_keepDays = std::max(keepDays, 0);
        m_pruneInterval = std::max(interval, std::chrono::milliseconds(1));
        m_pruneRequested = m_keepDays > 0;
        // m_writerIdle stays as the writer set it: cleared here while the writer keeps
        // waiting (nothing to do), it would make the next queued line skip the wake-up.
    }
    m_wakeWriter.notify_one();
}

bool LogStore::pruneDue(std::chrono::steady_clock::time_point now) {
    if (m_keepDays <= 0) return false;
    if (!m_pruneRequested && now < m_nextPrune) return false;
    m_pruneRequested = false;
    m_nextPrune = now + m_pruneInterval;
    return true;
}

bool LogStore::pruneStep(sqlite3* db, Stmt& remove, Prune& prune, const std::string& path) {
    if (!remove) remove = prepare(db, kPruneSql);
    int rc = SQLITE_ERROR;
    if (remove) {
        sqlite3_reset(remove.get());
        if (bindText(remove.get(), 1, prune.cutoff) &&
            sqlite3_bind_int(remove.get(), 2, kPruneBatch) == SQLITE_OK) {
            rc = sqlite3_step(remove.get());
        }
        sqlite3_reset(remove.get());
    }
    if (rc == SQLITE_DONE) {
        const int removed = sqlite3_changes(db);
        prune.deleted += removed;
        if (removed >= kPruneBatch) return true;
    } else {
        // Tried again at the next daily run; the rows it deleted so far are counted below.
        tellLogProblem(path, "old rows cannot be deleted: " + reasonOf(db, rc));
    }
    prune.active = false;
    if (prune.deleted > 0) {
        LogStamp stamp = stampOf(logNow());
        std::lock_guard queue(m_queueMutex);
        m_queue.push_back(PendingRow{std::move(stamp.date), std::move(stamp.time), logcode::kSystem,
                                     logcode::kOther,
                                     "删除过期日志" + std::to_string(prune.deleted) + "条"});
        ++m_queuedSeq;
    }
    return false;
}

void LogStore::writerLoop(Db db, std::string path) {
    Stmt insert = prepare(db.get(), kInsertSql);
    Stmt remove;
    Prune prune;
    std::deque<PendingRow> batch;
    bool toldStall = false;    // the operator knows the database cannot be written
    bool toldRejects = false;  // the operator knows the table refuses rows (told once)
    std::unique_lock queue(m_queueMutex);
    for (;;) {
        const auto ready = [this] {
            return !m_queue.empty() || m_stopWriter || m_pruneRequested ||
                   m_pingsAnswered != m_pingsAsked;
        };
        if (!prune.active) {
            m_writerIdle = m_queue.empty();
            if (m_keepDays > 0) {
                m_wakeWriter.wait_until(queue, m_nextPrune, ready);
            } else {
                m_wakeWriter.wait(queue, ready);
            }
            m_writerIdle = false;
        }
        // A watchdog's question is answered between batches (deletion batches too).
        if (m_pingsAnswered != m_pingsAsked) {
            m_pingsAnswered = m_pingsAsked;
            m_committed.notify_all();
        }
        // Stopping, and everything is written (a deletion run ends first, with its count).
        if (m_queue.empty() && m_stopWriter && !prune.active) break;
        if (!prune.active && pruneDue(std::chrono::steady_clock::now())) {
            prune = Prune{true, dateDaysBefore(logNow(), m_keepDays), 0};
        }
        if (m_queue.empty()) {
            // Queued rows always go first: one delete batch is all an insert ever waits for.
            if (prune.active) {
                if (m_stopWriter) prune.cutoff.clear();  // closing: end the run now
                queue.unlock();
                pruneStep(db.get(), remove, prune, path);
                queue.lock();
            }
            continue;
        }
        batch.swap(m_queue);
        m_inFlight = batch.size();
        const std::uint64_t batchEnd = m_queuedSeq;
        queue.unlock();
        const bool stored = storeBatch(db.get(), insert, batch, path, toldStall, toldRejects);
        batch.clear();
        queue.lock();
        m_inFlight = 0;
        m_committedSeq = batchEnd;
        if (stored && m_dropped > 0) {
            // Writing works again: say how many lines the bound kept out.
            const std::string text = "日志队列已满,丢弃" + std::to_string(m_dropped) + "行";
            LogStamp stamp = stampOf(std::chrono::system_clock::now());
            try {
                m_queue.push_back(PendingRow{std::move(stamp.date), std::move(stamp.time),
                                             logcode::kFailure, logcode::kOther, text});
                ++m_queuedSeq;
                m_dropped = 0;
            } catch (const std::bad_alloc&) {
                // kept for the next successful batch
            }
        }
        m_committed.notify_all();
    }
    m_writerRunning = false;
    m_committed.notify_all();
}

bool LogStore::storeBatch(sqlite3* db, Stmt& insert, const std::deque<PendingRow>& batch,
                          const std::string& path, bool& toldStall, bool& toldRejects) {
    auto delay = kFirstRetry;
    for (int attempt = 1;; ++attempt) {
        const bool lastTry = stopRequested();
        if (!insert) insert = prepare(db, kInsertSql);
        const BatchResult result = insert
                                       ? writeBatch(db, insert.get(), batch)
                                       : BatchResult{SQLITE_ERROR, 0, reasonOf(db, SQLITE_ERROR)};
        if (result.rejected > 0 && !toldRejects) {
            toldRejects = true;
            tellLogProblem(path, "the Log table refuses rows: " + result.reason);
        }
        if (result.rc == SQLITE_OK) {
            if (toldStall)
                std::fprintf(stderr, "vantrel: the event log %s is written again\n", path.c_str());
            toldStall = false;
            std::lock_guard queue(m_queueMutex);
            m_stalled = false;
            return true;
        }
        if (!toldStall && (!isBusy(result.rc) || attempt >= kBusyAttemptsBeforeTelling)) {
            toldStall = true;
            tellLogProblem(path, result.reason);
        }
        if (lastTry) {
            // Closing: the lines that cannot be stored are given up rather than hang the exit.
            std::fprintf(stderr, "vantrel: %zu lines not written to the event log %s\n",
                         batch.size(), path.c_str());
            return false;
        }
        std::unique_lock queue(m_queueMutex);
        m_stalled = true;
        m_committed.notify_all();  // callers waiting in flush() go on without these rows
        m_wakeWriter.wait_for(queue, delay, [this] { return m_stopWriter; });
        delay = std::min(delay * 2, kLastRetry);
    }
}

LogStore::BatchResult LogStore::writeBatch(sqlite3* db, sqlite3_stmt* insert,
                                           const std::deque<PendingRow>& rows) {
    BatchResult result;
    result.rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (result.rc != SQLITE_OK) {
        result.reason = reasonOf(db, result.rc);
        return result;
    }
    for (const PendingRow& row : rows) {
        sqlite3_reset(insert);
        const bool bound = bindText(insert, 1, row.date) && bindText(insert, 2, row.time) &&
                           sqlite3_bind_int(insert, 3, row.type) == SQLITE_OK &&
                           sqlite3_bind_int(insert, 4, row.childType) == SQLITE_OK &&
                           bindText(insert, 5, row.content);
        const int rc = bound ? sqlite3_step(insert) : SQLITE_RANGE;
        if (rc == SQLITE_DONE) continue;
        const std::string reason = reasonOf(db, rc);
        sqlite3_reset(insert);
        if (!rowRefused(rc)) {
            execute(db, "ROLLBACK");
            result.rc = rc;
            result.reason = reason;
            return result;
        }
        if (result.rejected++ == 0) result.reason = reason;
    }
    sqlite3_reset(insert);
    sqlite3_clear_bindings(insert);
    result.rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (result.rc != SQLITE_OK) {
        result.reason = reasonOf(db, result.rc);
        execute(db, "ROLLBACK");
    }
    return result;
}

bool LogStore::stopRequested() {
    std::lock_guard queue(m_queueMutex);
    return m_stopWriter;
}

bool LogStore::writerAnswers(std::chrono::milliseconds limit) {
    std::unique_lock queue(m_queueMutex);
    if (!m_writerRunning) return false;
    const std::uint64_t asked = ++m_pingsAsked;
    m_wakeWriter.notify_one();
    return m_committed.wait_for(queue, limit, [&] { return m_pingsAnswered >= asked; });
}

void LogStore::flush() {
    std::unique_lock queue(m_queueMutex);
    const std::uint64_t target = m_queuedSeq;
    m_committed.wait_for(queue, kFlushLimit,
                         [&] { return !m_writerRunning || m_committedSeq >= target || m_stalled; });
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

bool LogStore::executeSql(const std::string& sql, const SqlParams& params) {
    std::lock_guard store(m_storeLock);
    if (!m_callerDb) return false;
    // Inside an open change the writer is held off by its write lock; waiting for it here
    // would never end. The begin already stored what was logged before it.
    if (!inCallerTransaction()) flush();
    // Without values the text may hold several statements, as callers have always written.
    if (params.empty()) return execute(m_callerDb.get(), sql.c_str());
    return executeBound(m_callerDb.get(), sql, params);
}

bool LogStore::commitTransaction() {
    std::lock_guard store(m_storeLock);
    if (!m_callerDb || !inCallerTransaction()) return false;
    if (execute(m_callerDb.get(), "COMMIT")) return true;
    execute(m_callerDb.get(), "ROLLBACK");
    return false;
}

bool LogStore::query(const std::string& sql, std::vector<std::vector<std::string>>& rows,
                     const SqlParams& params) {
    std::lock_guard store(m_storeLock);
    if (!m_callerDb) return false;
    if (!inCallerTransaction()) flush();
    return collectRows(m_callerDb.get(), sql, params, rows);
}

}  // namespace logbase
