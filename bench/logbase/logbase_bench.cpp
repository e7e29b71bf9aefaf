// Measures the log store: InsertLogOb from 8 threads (rows per second, callers' time per call)
// and the viewer's one-day query over a large table, with its query plan.
//
//   logbase_bench [rows-per-thread (default 50000)] [large-table rows (default 1000000)]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "logbase/log_clock.h"
#include "logbase/logbase.h"
#include "testkit/wait_for.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kOneDayAllTypes =
    "select LogCreateDate,LogCreateTime,LogTypeContent,LogChildTypeContent,LogContent from "
    "Log,LogChildType,LogType where Log.LogChildType=LogChildType.LogChildTypeCode AND "
    "Log.LogCreateDate>= '%s' AND Log.LogCreateDate<= '%s' And Log.LogType=LogType.LogTypeCode";

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

long long countRows() {
    auto statement = LogObQueryStatement("select count(*) from Log");
    return statement && statement->NextRow() ? std::stoll(statement->ValueUtf8(0)) : -1;
}

void insertFromThreads(int threads, int perThread) {
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(threads));
    std::vector<std::thread> workers;
    const auto start = Clock::now();
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t, perThread, &latencies] {
            auto& mine = latencies[static_cast<std::size_t>(t)];
            mine.reserve(static_cast<std::size_t>(perThread));
            for (int i = 0; i < perThread; ++i) {
                const auto before = Clock::now();
                InsertLogOb("%d,%d,'设备注册:%d from thread %d'", 2, 4, i, t);
                mine.push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - before).count());
            }
        });
    }
    for (auto& w : workers) w.join();
    const auto callsDone = Clock::now();
    const long long stored = countRows();  // flushes the queue
    const auto storedAt = Clock::now();

    std::vector<double> all;
    for (const auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    auto pct = [&](double p) { return all[static_cast<std::size_t>(p * (all.size() - 1))]; };
    const double total = static_cast<double>(threads) * perThread;
    std::printf("InsertLogOb, %d threads x %d rows\n", threads, perThread);
    std::printf("  calls:  %.0f rows/s (all calls returned after %.3f s)\n",
                total / seconds(callsDone - start), seconds(callsDone - start));
    std::printf("  stored: %.0f rows/s (%lld rows committed after %.3f s)\n",
                total / seconds(storedAt - start), stored, seconds(storedAt - start));
    std::printf("  time per call: p50 %.2f us, p99 %.2f us, p99.9 %.2f us, max %.1f us\n",
                pct(0.50), pct(0.99), pct(0.999), all.back());
    // Long calls on a loaded machine are mostly the caller being descheduled; their count
    // shows whether they are rare.
    auto over = [&](double us) { return all.end() - std::upper_bound(all.begin(), all.end(), us); };
    std::printf("  calls over 1 ms: %td, over 10 ms: %td, over 100 ms: %td\n", over(1000.0),
                over(10000.0), over(100000.0));
}

std::atomic<long long> g_fakeSeconds{0};
std::chrono::system_clock::time_point fakeNow() {
    return std::chrono::system_clock::time_point(std::chrono::seconds(g_fakeSeconds.load()));
}

void oneDayQuery(int rows) {
    // Rows spread over 1000 days, logged through the real path with a moved clock.
    constexpr int kDays = 1000;
    std::tm tm{};
    tm.tm_year = 2022 - 1900;
    tm.tm_mon = 0;
    tm.tm_mday = 1;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    const long long firstDay = static_cast<long long>(std::mktime(&tm));
    SetLogbaseClock(&fakeNow);
    const auto fillStart = Clock::now();
    const int perDay = rows / kDays;
    for (int day = 0; day < kDays; ++day) {
        g_fakeSeconds.store(firstDay + day * 86400LL);
        for (int i = 0; i < perDay; ++i)
            InsertLogOb("%d,%d,'row %d of day %d'", 1 + i % 3, 1 + i % 8, i, day);
    }
    const long long stored = countRows();
    std::printf("Large table: %lld rows over %d days filled in %.2f s\n", stored, kDays,
                seconds(Clock::now() - fillStart));
    SetLogbaseClock(nullptr);

    char sql[1024];
    std::snprintf(sql, sizeof sql, kOneDayAllTypes, "2023-06-15", "2023-06-15");
    auto plan = LogObQueryStatement(std::string("EXPLAIN QUERY PLAN ") + sql);
    bool usesIndex = false;
    std::printf("  plan:\n");
    while (plan && plan->NextRow()) {
        const std::string detail = plan->ValueUtf8(3);
        usesIndex |= detail.find("USING INDEX LogCreateDateIndex") != std::string::npos;
        std::printf("    %s\n", detail.c_str());
    }
    std::printf("  date index used: %s\n", usesIndex ? "yes" : "NO");

    constexpr int kRuns = 20;
    std::vector<double> ms;
    std::size_t found = 0;
    for (int r = 0; r < kRuns; ++r) {
        const auto start = Clock::now();
        LogObLockLogbase();
        auto statement = LogObQueryStatement(sql);
        LogObUnlockLogbase();
        std::size_t n = 0;
        while (statement && statement->NextRow()) {
            n += statement->ValueString(4).length() > 0 ? 1 : 0;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        found = n;
    }
    std::sort(ms.begin(), ms.end());
    std::printf(
        "  one-day query (viewer statement, read as the viewer does): %zu rows, "
        "median %.2f ms, max %.2f ms over %d runs\n",
        found, ms[ms.size() / 2], ms.back(), kRuns);
    if (!usesIndex) std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    const int perThread = argc > 1 ? std::atoi(argv[1]) : 50000;
    const int largeRows = argc > 2 ? std::atoi(argv[2]) : 1000000;
    if (perThread <= 0 || largeRows < 1000) {
        std::fprintf(stderr, "usage: logbase_bench [rows-per-thread] [large-table-rows >= 1000]\n");
        return 2;
    }
    testkit::TempDir dir;
    if (!InitLogbaseModule(dir.path().string(), "bench.db3")) return 1;
    insertFromThreads(8, perThread);
    LogObLockLogbase();
    LogObBeginTrans();
    LogObExecuteLogbase("delete From Log");
    LogObCommitTrans();
    LogObUnlockLogbase();
    oneDayQuery(largeRows);
    ReleaseLogbaseModule();
    return 0;
}
