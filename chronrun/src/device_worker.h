// One device of a dispatched task: the job, its log name, and the paced sending of its 16
// outlet states once the device was found.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "chronstore/tim_task.h"
#include "runner_context.h"

class CDeviceBase;

namespace chronrun {

// The work item of one device; the runner owns its copy.
struct DeviceJob {
    std::uint16_t devID = 0;
    std::int32_t timID = 0;                        // the task, to give up when its window ends
    std::uint8_t devLED[kDeviceOutletCount] = {};  // wanted state of outlets 1..16
    char16_t timName[kTimNameUnits] = {};          // the task's name, for the log
    // A staggered re-apply: the device settles from this time on at the earliest (default:
    // from when it is found).
    std::chrono::steady_clock::time_point notBefore{};
};

DeviceJob makeDeviceJob(const TimTaskPoint_& task, const DeviceOnOff_& device);
std::string jobName(const DeviceJob& job);

// A device found online, being switched: the job, the record it was found as, and how far
// its 16 paced frames have gone. The device jobs' pacer moves it on one frame at a time.
struct DeviceRun {
    DeviceJob job;
    std::shared_ptr<CDeviceBase> device;
    std::string taskName;
    std::string deviceName;
    sockaddr_in address{};
    int nextOutlet = 0;  // 0: still settling; 1..16: the frame due next; 17: all sent

    bool started() const { return nextOutlet > 0; }
    bool finished() const { return nextOutlet > static_cast<int>(kDeviceOutletCount); }
};

// How long a freshly found device is given before its first frame (3 x 500 ms), and the pace
// of its outlets (100 ms, then 1000 ms), in real time.
std::chrono::nanoseconds settleTime(RunnerContext& context);
std::chrono::nanoseconds outletStep(RunnerContext& context);

// At the first frame: reads the device's name and address and logs that it starts.
void startDeviceRun(DeviceRun& run);
// Sends outlet `nextOutlet` its state with its log line, under the send lock, and moves on.
void sendNextOutlet(RunnerContext& context, DeviceRun& run);
// Logs the run's end (also when it stopped early; a run stopped while settling logs its start
// first, as it always has).
void finishDeviceRun(DeviceRun& run);

}  // namespace chronrun
