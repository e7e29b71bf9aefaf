// The event log store: one SQLite database file, written by one background thread.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "logbase/logbase_export.h"
#include "logbase/sql_statement.h"

// Opens (creating if needed) the database `folder` + `fileName`. Lines logged before this
// call are kept (bounded) and stored now. Returns false when the file cannot serve as the log
// (or the writer thread cannot start), after telling the operator (stderr and the default
// prompt). Later write failures are told once; lines wait (bounded) and are stored when
// writing works again.
LOGBASE_EXPORT bool InitLogbaseModule(const std::string& folder, const std::string& fileName);

// Logs one line. The format begins "%d,%d,'" and ends "'": type, sub-type, then the content.
// Never waits for the disk; safe from any thread.
LOGBASE_EXPORT void InsertLogOb(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Logs one of the program's own lines: type and sub-type (logcode), content as it is.
// Stores exactly the row InsertLogOb("%d,%d,'%s'", type, subType, text) stores (content cut at
// a NUL, invalid UTF-8 replaced, codes out of range kept in an unclassified line), without
// formatting and parsing it back. Never waits for the disk; safe from any thread.
LOGBASE_EXPORT void logEvent(int type, int subType, std::string_view text);

// Stores every line logged so far, stops the writer and closes the database. Lines logged
// afterwards are kept (bounded) for the next InitLogbaseModule. Also runs at process exit.
LOGBASE_EXPORT void ReleaseLogbaseModule();

// Keeps rows dated at most `keepDays` days before today (by the log clock); 0 keeps every row.
// Older rows are deleted at once (and whenever the store opens), then every `interval`, by the
// writer in small batches between queued lines; the count that went is logged once per run as
// "删除过期日志N条" (system, other). Negative values count as 0. Lasts across reopening.
LOGBASE_EXPORT void SetLogKeepDays(int keepDays,
                                   std::chrono::milliseconds interval = std::chrono::hours(24));
// True when the store's writer thread answered within `limit`: it is alive and not stuck in a
// write. False when the store is closed. Waits at most `limit`; safe from any thread.
LOGBASE_EXPORT bool LogObWriterAnswers(std::chrono::milliseconds limit);

// The store-wide re-entrant lock, held by a caller around a query or a change.
LOGBASE_EXPORT void LogObLockLogbase();
LOGBASE_EXPORT void LogObUnlockLogbase();

// A change: begin, execute one SQL statement, commit. Each returns false on failure (store
// closed, SQL error). Lines logged before the begin are stored before it.
LOGBASE_EXPORT bool LogObBeginTrans();
LOGBASE_EXPORT bool LogObExecuteLogbase(const std::string& sql);
LOGBASE_EXPORT bool LogObCommitTrans();

// Runs one query after storing every line logged so far. The result is complete when this
// returns, so it may be read after LogObUnlockLogbase. Null when the store is closed or the
// SQL fails.
LOGBASE_EXPORT std::unique_ptr<NWSqlStatement> LogObQueryStatement(const std::string& sql);
