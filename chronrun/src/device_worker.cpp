// A device's 16 outlet frames, paced, with their log lines.
#include "device_worker.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>

#include "chronrun/chronrun_options.h"
#include "devroster/devroster.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "protocol/console_frames.h"
#include "public/nwstring.h"
#include "runner_log.h"

namespace chronrun {
namespace {

// Sends outlet `outlet` (1..16) its state and logs it, all under the send lock so that frames
// of different workers never interleave their log lines.
void sendOutlet(RunnerContext& context, const DeviceJob& job, const std::string& taskName,
                const std::string& deviceName, const sockaddr_in& address, int outlet) {
    std::lock_guard lock(context.sendLock);
    const std::uint8_t state = job.devLED[outlet - 1];
    const protocol::ConsoleFrame frame = protocol::buildConsoleFrame(
        protocol::NET_CMD_CHANNEL, job.devID, static_cast<std::uint8_t>(outlet), state);
    context.send(frame.data(), static_cast<std::uint32_t>(frame.size()), address);
    const std::string text =
        formatText("[%s][%s][%d-%d]", taskName.c_str(), deviceName.c_str(), outlet, int{state});
    logEvent(logcode::kRun, logcode::kTimedTask, text + ".");
}

}  // namespace

DeviceJob makeDeviceJob(const TimTaskPoint_& task, const DeviceOnOff_& device) {
    DeviceJob job;
    job.devID = device.devID;
    job.timID = task.timID;
    std::copy(std::begin(device.devLED), std::end(device.devLED), std::begin(job.devLED));
    std::copy(std::begin(task.timName), std::end(task.timName), std::begin(job.timName));
    job.timName[kTimNameUnits - 1] = u'\0';
    return job;
}

std::string jobName(const DeviceJob& job) {
    const char16_t* end = std::find(std::begin(job.timName), std::end(job.timName), u'\0');
    return Utf16ToUtf8(
        std::u16string_view(job.timName, static_cast<std::size_t>(end - std::begin(job.timName))));
}

std::chrono::nanoseconds settleTime(RunnerContext& context) {
    std::chrono::nanoseconds total{0};
    for (int step = 0; step < kChronrunSettleSteps; ++step)
        total += context.realPause(kChronrunSettleStep);
    return total;
}

std::chrono::nanoseconds outletStep(RunnerContext& context) {
    return context.realPause(kChronrunOutletHold) + context.realPause(kChronrunOutletGap);
}

void startDeviceRun(DeviceRun& run) {
    run.taskName = jobName(run.job);
    {
        // Record fields change only under the registry's lock; the shared record outlives its
        // removal.
        deviceRegistry().readHeld(*run.device, [&run](const CDeviceBase& record) {
            run.deviceName = record.GetDeviceName();
            run.address = record.GetDeviceSockIPAddr();
        });
    }
    logEvent(logcode::kRun, logcode::kTimedTask,
             "定时任务[" + std::string(run.taskName.c_str()) + "]开始执行设备[" +
                 run.deviceName.c_str() + "]");
    run.nextOutlet = 1;
}

void sendNextOutlet(RunnerContext& context, DeviceRun& run) {
    // Every outlet is sent, the ones to switch off included.
    sendOutlet(context, run.job, run.taskName, run.deviceName, run.address, run.nextOutlet);
    ++run.nextOutlet;
}

void finishDeviceRun(DeviceRun& run) {
    if (!run.started()) startDeviceRun(run);
    logEvent(logcode::kRun, logcode::kTimedTask,
             "定时任务[" + std::string(run.taskName.c_str()) + "]执行设备[" +
                 run.deviceName.c_str() + "]完成.");
}

}  // namespace chronrun
