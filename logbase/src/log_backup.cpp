// The online copy of the event log database: snapshot into a temporary file, then rename.
#include "logbase/log_backup.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sqlite_db.h"

namespace {

// The writer holds its lock for one batch at a time: a busy source is tried again this often.
constexpr int kBusyAttempts = 50;
constexpr int kBusyPauseMs = 100;

std::string errorOf(sqlite3* db, int rc) {
    const char* message = db ? sqlite3_errmsg(db) : nullptr;
    return message && *message ? message : sqlite3_errstr(rc);
}

bool isBusy(int rc) {
    return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
}

// Opens an existing event log; false with `problem` when it is missing or not one.
logbase::Db openSource(const std::string& path, std::string& problem) {
    sqlite3* raw = nullptr;
    // Read-write without create: a missing file is an error, and WAL files left by a writer
    // that ended can be recovered.
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    logbase::Db db(raw);
    if (rc != SQLITE_OK) {
        problem = "cannot open " + path + ": " + errorOf(raw, rc);
        return nullptr;
    }
    sqlite3_busy_timeout(raw, 5000);
    std::vector<std::vector<std::string>> rows;
    if (!logbase::collectRows(raw, "SELECT count(*) FROM sqlite_master WHERE name = 'Log'", {},
                              rows) ||
        rows.size() != 1 || rows[0].empty() || rows[0][0] != "1") {
        problem = path + " is not an event log database";
        return nullptr;
    }
    return db;
}

// Copies `source` into the empty database at `path` in one step (one snapshot).
bool copyInto(sqlite3* source, const std::string& path, std::string& problem) {
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    logbase::Db target(raw);
    if (rc != SQLITE_OK) {
        problem = "cannot write " + path + ": " + errorOf(raw, rc);
        return false;
    }
    for (int attempt = 1;; ++attempt) {
        sqlite3_backup* backup = sqlite3_backup_init(raw, "main", source, "main");
        if (!backup) {
            problem = errorOf(raw, SQLITE_ERROR);
            return false;
        }
        rc = sqlite3_backup_step(backup, -1);
        sqlite3_backup_finish(backup);
        if (rc == SQLITE_DONE) break;
        if (!isBusy(rc) || attempt >= kBusyAttempts) {
            problem = std::string("copy failed: ") + sqlite3_errstr(rc);
            return false;
        }
        sqlite3_sleep(kBusyPauseMs);
    }
    // The copy is one self-contained file, whatever journal the source uses.
    if (!logbase::execute(raw, "PRAGMA journal_mode=DELETE")) {
        problem = "cannot finish " + path + ": " + errorOf(raw, SQLITE_ERROR);
        return false;
    }
    rc = sqlite3_close(target.release());
    if (rc != SQLITE_OK) {
        problem = "cannot finish " + path + ": " + sqlite3_errstr(rc);
        return false;
    }
    return true;
}

void removeTemporary(const std::string& path) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        ::unlink((path + suffix).c_str());
    }
}

}  // namespace

bool BackupLogDatabase(const std::string& source, const std::string& target, std::string& problem) {
    if (target.empty()) {
        problem = "no target file given";
        return false;
    }
    logbase::Db db = openSource(source, problem);
    if (!db) return false;

    std::string temporary = target + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        problem = "cannot write beside " + target + ": " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    if (!copyInto(db.get(), temporary, problem)) {
        removeTemporary(temporary);
        return false;
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        problem = "cannot replace " + target + ": " + std::strerror(errno);
        removeTemporary(temporary);
        return false;
    }
    return true;
}
