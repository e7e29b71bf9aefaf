// One device of a dispatched task: wait until the device is online, then send it all 16
// outlet states, paced.
#pragma once

#include <cstdint>

#include "chronstore/tim_task.h"
#include "runner_context.h"

namespace chronrun {

// The work item of one device worker; the worker owns its copy.
struct DeviceJob {
    std::uint16_t devID = 0;
    std::uint8_t devLED[kDeviceOutletCount] = {};  // wanted state of outlets 1..16
    char16_t timName[kTimNameUnits] = {};          // the task's name, for the log
};

DeviceJob makeDeviceJob(const TimTaskPoint_& task, const DeviceOnOff_& device);

// The body of a device worker thread. Ends early, without sending, once the worker flag of
// `context` is cleared.
void runDeviceJob(RunnerContext& context, const DeviceJob& job);

}  // namespace chronrun
