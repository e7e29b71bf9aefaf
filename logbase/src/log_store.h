// LogStore: the queue of pending log rows, the writer thread and the caller's connection.
#pragma once

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

    LogStore() = default;
    ~LogStore();
    LogStore(const LogStore&) = delete;
    LogStore& operator=(const LogStore&) = delete;

    bool open(const std::string& path);
    void close();
    // Never touches the disk: queues the row and wakes the writer when it is idle.
    void enqueue(PendingRow row);

    std::recursive_mutex& storeLock() { return m_storeLock; }
    bool beginTransaction();
    bool executeSql(const std::string& sql);
    bool commitTransaction();
    bool query(const std::string& sql, std::vector<std::vector<std::string>>& rows);

private:
    void writerLoop(Db db);
    // Stores `rows` in one transaction; SQLITE_OK, or the code that made it fail.
    int writeBatch(sqlite3* db, sqlite3_stmt* insert, const std::deque<PendingRow>& rows);
    // Waits until every row queued before the call is committed (or the writer stopped).
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
    std::uint64_t m_queuedSeq = 0;     // rows ever queued
    std::uint64_t m_committedSeq = 0;  // rows ever taken and finished by the writer
    bool m_writerRunning = false;
    bool m_writerIdle = false;
    bool m_stopWriter = false;
};

}  // namespace logbase
