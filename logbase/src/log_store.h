// LogStore: the queue of pending log rows, the writer thread and the caller's connection.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sqlite_db.h"

namespace logbase {

struct PendingRow {
    std::string date;  // "YYYY-MM-DD"
    std::string time;  // "HH:MM:SS"
    int type = 0;
    int childType = 0;
    std::string content;
};

class LogStore {
public:
    // Rows kept while no database is open; later ones are dropped.
    static constexpr std::size_t kMaxBacklog = 10000;
    // Rows held while the writer cannot write; later ones are counted and dropped, and the
    // count is logged once writing works again.
    static constexpr std::size_t kMaxQueued = 100000;

    LogStore() = default;
    ~LogStore();
    LogStore(const LogStore&) = delete;
    LogStore& operator=(const LogStore&) = delete;

    // False with `problem` set when the file cannot serve as the log or the writer thread
    // cannot start.
    bool open(const std::string& path, std::string& problem);
    void close();
    // Never touches the disk: queues the row and wakes the writer when it is idle.
    void enqueue(PendingRow row);

    // Rows dated more than `keepDays` days before today are deleted now (or when the store
    // opens) and then every `interval`; 0 keeps every row. The writer deletes them in small
    // batches between the batches of queued rows.
    void setRetention(int keepDays, std::chrono::milliseconds interval);
    // True when the writer thread took notice of this call within `limit` (it answers between
    // batches, so a writer stuck in a write or in retrying one does not); false when no writer
    // runs. For a service watchdog.
    bool writerAnswers(std::chrono::milliseconds limit);

    std::recursive_mutex& storeLock() { return m_storeLock; }
    bool beginTransaction();
    bool executeSql(const std::string& sql, const SqlParams& params = {});
    bool commitTransaction();
    bool query(const std::string& sql, std::vector<std::vector<std::string>>& rows,
               const SqlParams& params = {});

private:
    struct BatchResult {
        int rc = 0;                // SQLITE_OK, or what kept the batch from being stored
        std::size_t rejected = 0;  // rows the table refused (lost; the rest is stored)
        std::string reason;        // SQLite's words for the failure or the first refusal
    };

    // One run of deleting old rows, spread over many short transactions.
    struct Prune {
        bool active = false;
        std::string cutoff;  // rows dated before this "YYYY-MM-DD" go
        long long deleted = 0;
    };

    void writerLoop(Db db, std::string path);
    // True when a run of deleting old rows should start now; moves the next daily run on.
    bool pruneDue(std::chrono::steady_clock::time_point now);
    // Deletes one small batch of old rows; false when the run is over (nothing older left,
    // or SQLite refused), after queueing the line that says how many went.
    bool pruneStep(sqlite3* db, Stmt& remove, Prune& prune, const std::string& path);
    // Writes one batch, retrying while the database cannot be written, until it is stored or
    // the store closes (then it is dropped). Tells the operator about trouble once.
    bool storeBatch(sqlite3* db, Stmt& insert, const std::deque<PendingRow>& batch,
                    const std::string& path, bool& toldStall, bool& toldRejects);
    // Stores `rows` in one transaction.
    BatchResult writeBatch(sqlite3* db, sqlite3_stmt* insert, const std::deque<PendingRow>& rows);
    // Waits until every row queued before the call is committed, the writer stopped or
    // stalled, or a bound passed: a caller never waits for ever on a store that cannot write.
    void flush();
    bool inCallerTransaction() const;
    bool stopRequested();

    // Order: m_storeLock, then m_queueMutex. The writer takes only m_queueMutex, and never
    // while it writes, so callers never wait for the disk.
    std::recursive_mutex m_storeLock;
    Db m_callerDb;  // queries and changes of callers; guarded by m_storeLock
    std::thread m_writer;

    std::mutex m_queueMutex;
    std::condition_variable m_wakeWriter;
    std::condition_variable m_committed;
    // A deque grows without moving queued rows, so a long queue never stalls a caller.
    std::deque<PendingRow> m_queue;
    std::uint64_t m_queuedSeq = 0;      // rows ever queued
    std::uint64_t m_committedSeq = 0;   // rows ever taken and finished by the writer
    std::size_t m_inFlight = 0;         // rows the writer has taken and not finished
    std::uint64_t m_dropped = 0;        // rows refused by the bound since the last count logged
    std::uint64_t m_pingsAsked = 0;     // writerAnswers calls so far
    std::uint64_t m_pingsAnswered = 0;  // the last of them the writer took notice of
    bool m_stalled = false;             // the writer is waiting to retry a failed batch
    bool m_writerRunning = false;
    bool m_writerIdle = false;
    bool m_stopWriter = false;
    int m_keepDays = 0;  // 0: keep every row
    std::chrono::milliseconds m_pruneInterval{std::chrono::hours(24)};
    bool m_pruneRequested = false;  // run at the next chance
    std::chrono::steady_clock::time_point m_nextPrune{};
};

// The process-wide store behind the exported functions.
LogStore& processLogStore();

}  // namespace logbase
