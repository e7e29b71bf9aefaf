// One device of a dispatched task: the job, its log name, and the paced sending of its 16
// outlet states once the device was found.
#pragma once

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
};

DeviceJob makeDeviceJob(const TimTaskPoint_& task, const DeviceOnOff_& device);
std::string jobName(const DeviceJob& job);

// Gives a freshly found device a moment, then sends it all 16 outlets, paced, with the log
// lines of a run. Stops before the next frame once the worker flag is cleared.
void sendDeviceJob(RunnerContext& context, const DeviceJob& job,
                   const std::shared_ptr<CDeviceBase>& device);

}  // namespace chronrun
