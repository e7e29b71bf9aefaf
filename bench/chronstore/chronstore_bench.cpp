// Save and load times of the timed-task store for 1000 tasks with 10 devices each, and the
// cost of one profile write per key for comparison.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "chronstore/chronstore.h"
#include "chronstore/task_file.h"
#include "platform/ini_profile.h"
#include "testkit/wait_for.h"

namespace {

constexpr int kTasks = 1000;
constexpr int kDevices = 10;

TimTaskPoint_ sampleTask(int i, int devices) {
    TimTaskPoint_ task;
    SetTimNameUtf8(task, "定时任务" + std::to_string(i));
    task.ttEnable = 1;
    task.ttType = static_cast<std::uint8_t>(i % 2);
    task.staYear = 2024, task.staMonth = 1, task.staDay = 1;
    task.endYear = 2025, task.endMonth = 12, task.endDay = 31;
    task.monday = task.wednesday = task.friday = true;
    task.statime = static_cast<std::uint32_t>((i * 37) % 80000);
    task.endtime = task.statime + 3600;
    for (int k = 0; k < devices; ++k) {
        DeviceOnOff_ device;
        device.devID = static_cast<std::uint16_t>(i * devices + k);
        for (int j = 0; j < 16; ++j) device.devLED[j] = static_cast<std::uint8_t>((i + j + k) % 2);
        task.devList.push_back(device);
    }
    task.devCount = static_cast<std::uint16_t>(devices);
    return task;
}

void fillStore(int tasks, int devices) {
    ReleaseChronstore();
    for (int i = 0; i < tasks; ++i) PlusTTPoint(sampleTask(i, devices));
}

// Steady state: the file exists and every save replaces it (read, apply, write, fsync, rename).
void BM_SaveTimPointToFile(benchmark::State& state) {
    testkit::TempDir dir;
    InitChronstoreAt(dir.path().string());
    fillStore(kTasks, kDevices);
    if (!SaveTimPointToFile()) state.SkipWithError("first save failed");
    for (auto _ : state) {
        if (!SaveTimPointToFile()) state.SkipWithError("save failed");
    }
    state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(GetTTFilePath()));
    ReleaseChronstore();
}
BENCHMARK(BM_SaveTimPointToFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same content built in memory only: the CPU part of a save, without the disk.
void BM_FormatInMemory(benchmark::State& state) {
    std::vector<TimTaskPoint_> tasks;
    for (int i = 0; i < kTasks; ++i) tasks.push_back(sampleTask(i, kDevices));
    const std::string existing = FormatTimTasks("", tasks);
    for (auto _ : state) benchmark::DoNotOptimize(FormatTimTasks(existing, tasks));
}
BENCHMARK(BM_FormatInMemory)->Unit(benchmark::kMillisecond);

// Start-up load of the same file.
void BM_InitChronstoreLoad(benchmark::State& state) {
    testkit::TempDir dir;
    InitChronstoreAt(dir.path().string());
    fillStore(kTasks, kDevices);
    SaveTimPointToFile();
    for (auto _ : state) {
        InitChronstoreAt(dir.path().string());
        if (GetTTPointCount() != kTasks) state.SkipWithError("load lost tasks");
    }
    ReleaseChronstore();
}
BENCHMARK(BM_InitChronstoreLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

// For comparison: one atomic file rewrite per key, as separate profile writes would do,
// for `state.range(0)` tasks of 10 devices (39 keys a task).
void BM_KeyByKeyWrites(benchmark::State& state) {
    testkit::TempDir dir;
    const std::string path = dir.file("TimingTask.ini");
    std::vector<TimTaskPoint_> tasks;
    for (int i = 0; i < state.range(0); ++i) tasks.push_back(sampleTask(i, kDevices));
    // Each key written separately: parse the text as it stands, set one key, replace.
    const std::string finalText = FormatTimTasks("", tasks);
    const auto doc = platform::IniDocument::parse(finalText);
    int writes = 0;
    for (auto _ : state) {
        std::filesystem::remove(path);
        writes = 0;
        platform::writeProfileString(path, "TimingTask", "ttCount", std::to_string(tasks.size()));
        ++writes;
        for (std::size_t i = 0; i < tasks.size(); ++i) {
            const std::string section = "Timing_" + std::to_string(i + 1);
            for (const char* key :
                 {"timName", "ttEnable", "ttType", "staYear", "staMonth", "staDay", "endYear",
                  "endMonth", "endDay", "sunday", "monday", "tuesday", "wednesday", "thursday",
                  "friday", "saturday", "statime", "endtime", "devCount"}) {
                platform::writeProfileString(path, section, key, doc.getString(section, key, ""));
                ++writes;
            }
            for (int k = 1; k <= kDevices; ++k) {
                for (const std::string& key :
                     {"devID_" + std::to_string(k), "devLED_" + std::to_string(k)}) {
                    platform::writeProfileString(path, section, key,
                                                 doc.getString(section, key, ""));
                    ++writes;
                }
            }
        }
    }
    state.counters["writes"] = writes;
}
BENCHMARK(BM_KeyByKeyWrites)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
