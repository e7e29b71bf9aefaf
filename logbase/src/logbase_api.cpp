// The exported log store functions over one process-wide LogStore.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "log_report.h"
#include "log_store.h"
#include "log_tap_call.h"
#include "log_time.h"
#include "logbase/log_clock.h"
#include "logbase/log_line.h"
#include "logbase/logbase.h"
#include "platform/utf_codec.h"

namespace {

// Created on first use and never destroyed: lines may be logged from other libraries' static
// destructors after this library's own would have run. Exit stores the queue via atexit.
logbase::LogStore& store() {
    static auto* instance = new logbase::LogStore();
    return *instance;
}

std::atomic<LogClockFn> g_clock{nullptr};

std::chrono::system_clock::time_point now() {
    const LogClockFn clock = g_clock.load(std::memory_order_acquire);
    return clock ? clock() : std::chrono::system_clock::now();
}

void releaseAtExit() {
    store().close();
}

// printf into a string; lines fit the stack buffer almost always, longer ones get a second pass.
std::string formatLine(const char* format, va_list args) {
    char buffer[512];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(buffer, sizeof buffer, format, copy);
    va_end(copy);
    if (needed < 0) return {};
    if (static_cast<std::size_t>(needed) < sizeof buffer) {
        return std::string(buffer, static_cast<std::size_t>(needed));
    }
    std::string line(static_cast<std::size_t>(needed) + 1, '\0');
    std::vsnprintf(line.data(), line.size(), format, args);
    line.resize(static_cast<std::size_t>(needed));
    return line;
}

// Queues one split line. Contents carry text from outside (device names, MQTT topics and
// payloads): the log holds valid UTF-8 only.
void enqueueLine(std::chrono::system_clock::time_point when, LogLine line) {
    line.content = platform::toValidUtf8(line.content);
    logbase::LogStamp stamp = logbase::stampOf(when);
    logbase::tapLine(line.type, line.childType, line.content);
    store().enqueue(logbase::PendingRow{std::move(stamp.date), std::move(stamp.time), line.type,
                                        line.childType, std::move(line.content)});
}

}  // namespace

std::chrono::system_clock::time_point logbase::logNow() {
    return now();
}

logbase::LogStore& logbase::processLogStore() {
    return store();
}

bool InitLogbaseModule(const std::string& folder, const std::string& fileName) {
    if (fileName.empty()) return false;
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path += fileName;
    try {
        static std::once_flag exitHook;
        std::call_once(exitHook, [] { std::atexit(releaseAtExit); });
        std::string problem;
        if (store().open(path, problem)) return true;
        logbase::tellLogProblem(path, problem);  // after the store lock is released
    } catch (const std::exception& error) {
        logbase::tellLogProblem(path, error.what());
    }
    return false;
}

void InsertLogOb(const char* format, ...) {
    if (format == nullptr) return;
    const auto when = now();
    va_list args;
    va_start(args, format);
    std::string line;
    try {
        line = formatLine(format, args);
    } catch (const std::exception&) {
        va_end(args);
        return;  // out of memory: the line is lost, like a failed insert
    }
    va_end(args);
    try {
        enqueueLine(when, ParseLogLine(line));
    } catch (const std::exception&) {
    }
}

void logEvent(int type, int subType, std::string_view text) {
    const auto when = now();
    try {
        // InsertLogOb's "%s" ends at a NUL: so does the content here.
        text = text.substr(0, text.find('\0'));
        if (type >= kMinLogType && type <= kMaxLogType && subType >= kMinLogChildType &&
            subType <= kMaxLogChildType) {
            enqueueLine(when, LogLine{type, subType, std::string(text)});
            return;
        }
        // Codes the store does not know: the whole line, as InsertLogOb would keep it.
        std::string line = std::to_string(type) + "," + std::to_string(subType) + ",'";
        line.append(text);
        line += '\'';
        enqueueLine(when, ParseLogLine(line));
    } catch (const std::exception&) {
        // out of memory: the line is lost, like a failed insert
    }
}

void SetLogKeepDays(int keepDays, std::chrono::milliseconds interval) {
    store().setRetention(keepDays, interval);
}

void ReleaseLogbaseModule() {
    try {
        store().close();
    } catch (const std::exception&) {
    }
}

bool LogObWriterAnswers(std::chrono::milliseconds limit) {
    return store().writerAnswers(limit);
}

void LogObLockLogbase() {
    store().storeLock().lock();
}

void LogObUnlockLogbase() {
    store().storeLock().unlock();
}

bool LogObBeginTrans() {
    try {
        return store().beginTransaction();
    } catch (const std::exception&) {
        return false;
    }
}

bool LogObExecuteLogbase(const std::string& sql) {
    try {
        return store().executeSql(sql);
    } catch (const std::exception&) {
        return false;
    }
}

bool LogObCommitTrans() {
    try {
        return store().commitTransaction();
    } catch (const std::exception&) {
        return false;
    }
}

std::unique_ptr<NWSqlStatement> LogObQueryStatement(const std::string& sql) {
    try {
        std::vector<std::vector<std::string>> rows;
        if (!store().query(sql, rows)) return nullptr;
        return std::make_unique<NWSqlStatement>(std::move(rows));
    } catch (const std::exception&) {
        return nullptr;  // a result too large for memory: no statement, as for bad SQL
    }
}

void SetLogbaseClock(LogClockFn clock) {
    g_clock.store(clock, std::memory_order_release);
}
