// Measures deleting old log rows while lines keep coming: fills the table with old rows, turns
// on KeepDays, logs lines at a steady rate meanwhile, and reports how long a line waits until it
// is committed (a query waits exactly for that) and how long InsertLogOb takes.
//
//   logbase_retention_bench [old rows (default 1000000)] [lines per second (default 2000)]
// With 0 old rows it measures the same load for 20 s without a deletion.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "logbase/logbase.h"
#include "testkit/wait_for.h"

namespace {

using Clock = std::chrono::steady_clock;

double millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

long long count(const std::string& where) {
    LogObLockLogbase();
    auto statement = LogObQueryStatement("select count(*) from Log " + where);
    LogObUnlockLogbase();
    return statement && statement->NextRow() ? std::stoll(statement->ValueUtf8(0)) : -1;
}

void report(const char* what, std::vector<double>& values) {
    if (values.empty()) return;
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[std::min(values.size() - 1, static_cast<std::size_t>(q * values.size()))];
    };
    std::printf("%s: n=%zu p50=%.3f ms p99=%.3f ms max=%.3f ms\n", what, values.size(), at(0.5),
                at(0.99), values.back());
}

}  // namespace

int main(int argc, char** argv) {
    const long long oldRows = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const int perSecond = argc > 2 ? std::atoi(argv[2]) : 2000;
    testkit::TempDir dir;
    if (!InitLogbaseModule(dir.path().string() + "/", "bench.db3")) return 1;

    const auto fillStart = Clock::now();
    LogObLockLogbase();
    const bool filled =
        oldRows > 0 && LogObBeginTrans() &&
        LogObExecuteLogbase(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
            std::to_string(oldRows) +
            ") INSERT INTO Log(LogCreateDate, LogCreateTime, LogType, LogChildType, LogContent) "
            "SELECT '2000-01-01', '12:00:00', 2, 4, '设备注册:' || i FROM n") &&
        LogObCommitTrans();
    LogObUnlockLogbase();
    if (oldRows > 0 && !filled) return 1;
    std::printf("filled %lld old rows in %.1f s\n", oldRows,
                millis(Clock::now() - fillStart) / 1e3);

    std::vector<double> insertMs;
    std::vector<double> commitMs;
    std::atomic<bool> done{false};
    // Every 5 ms a query, which returns once every line queued before it is committed.
    std::thread sampler([&] {
        auto tick = Clock::now();
        while (!done.load()) {
            tick += std::chrono::milliseconds(5);
            std::this_thread::sleep_until(tick);
            const auto before = Clock::now();
            LogObLockLogbase();
            auto statement = LogObQueryStatement("select 1");
            LogObUnlockLogbase();
            commitMs.push_back(millis(Clock::now() - before));
        }
    });
    const auto period = std::chrono::microseconds(1000000 / std::max(perSecond, 1));
    const auto start = Clock::now();
    SetLogKeepDays(1);
    auto next = start;
    long long sent = 0;
    // Until the deletion is over (its count logged), or 20 s when there is nothing to delete
    // (old rows 0: the same load without a deletion, for comparison).
    const auto over = [&] {
        return count("where LogContent like '删除过期日志%'") > 0 ||
               Clock::now() - start > std::chrono::seconds(20);
    };
    while (sent % 1000 != 0 || sent == 0 || !over()) {
        next += period;
        std::this_thread::sleep_until(next);
        const auto before = Clock::now();
        InsertLogOb("%d,%d,'line %lld'", 2, 4, sent++);
        insertMs.push_back(millis(Clock::now() - before));
    }
    done = true;
    sampler.join();
    const double elapsed = millis(Clock::now() - start) / 1e3;
    std::printf("deleted %lld old rows in %.1f s while logging %lld lines (%.0f/s)\n",
                oldRows - count("where LogCreateDate = '2000-01-01'"), elapsed, sent,
                static_cast<double>(sent) / elapsed);
    report("query waiting for the queued lines to commit", commitMs);
    report("InsertLogOb call", insertMs);
    std::printf("lines stored: %lld of %lld\n", count("where LogContent like 'line %'"), sent);
    ReleaseLogbaseModule();
    return 0;
}
