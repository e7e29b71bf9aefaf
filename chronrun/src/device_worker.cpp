// The device worker: find the device in the registry, then switch its outlets one by one.
#include "device_worker.h"

#include <pthread.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>

#include "chronrun/chronrun_options.h"
#include "devroster/devroster.h"
#include "logbase/logbase.h"
#include "protocol/console_frames.h"
#include "public/nwstring.h"
#include "runner_log.h"

namespace chronrun {
namespace {

std::string jobName(const DeviceJob& job) {
    const char16_t* end = std::find(std::begin(job.timName), std::end(job.timName), u'\0');
    return Utf16ToUtf8(
        std::u16string_view(job.timName, static_cast<std::size_t>(end - std::begin(job.timName))));
}

// Looks the device up once; null when it is not online. `retry` says when to look again:
// soon while nothing at all is online, else after the usual interval.
std::shared_ptr<CDeviceBase> lookUp(std::uint16_t id, std::chrono::milliseconds& retry) {
    DevMapGuard guard;
    const DeviceInfoMap& table = GetDeviceInfoMap();
    if (table.empty()) {
        retry = kChronrunEmptyRetry;
        return nullptr;
    }
    retry = kChronrunDeviceRetry;
    const auto found = table.find(id);
    return found != table.end() ? found->second : nullptr;
}

// Waits until the device is in the id table. The registry announces nothing, so the table is
// looked at again after each interval; the wait itself ends at once when the worker flag is
// cleared. Null in that case.
std::shared_ptr<CDeviceBase> waitForDevice(RunnerContext& context, std::uint16_t id) {
    std::chrono::milliseconds retry = kChronrunDeviceRetry;
    while (!context.workerStop.stopped()) {
        if (auto device = lookUp(id, retry)) {
            // A freshly registered device gets a moment before its first frame.
            for (int step = 0; step < kChronrunSettleSteps; ++step) {
                if (!context.workerStop.pauseFor(context.realPause(kChronrunSettleStep))) break;
            }
            return device;
        }
        context.workerStop.pauseFor(context.realPause(retry));
    }
    return nullptr;
}

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
    InsertLogOb("%d,%d,'%s.'", kLogRun, kLogTimedTask, text.c_str());
}

}  // namespace

DeviceJob makeDeviceJob(const TimTaskPoint_& task, const DeviceOnOff_& device) {
    DeviceJob job;
    job.devID = device.devID;
    std::copy(std::begin(device.devLED), std::end(device.devLED), std::begin(job.devLED));
    std::copy(std::begin(task.timName), std::end(task.timName), std::begin(job.timName));
    job.timName[kTimNameUnits - 1] = u'\0';
    return job;
}

void runDeviceJob(RunnerContext& context, const DeviceJob& job) {
    pthread_setname_np(pthread_self(), "chronrun-dev");
    const std::string taskName = jobName(job);
    const char* name = taskName.c_str();
    const int id = job.devID;
    InsertLogOb("%d,%d,'定时任务[%s]开始设备[%d]线程'", kLogRun, kLogTimedTask, name, id);
    if (context.workerStop.stopped()) return;
    InsertLogOb("%d,%d,'定时任务[%s]进入设备[%d]线程'", kLogRun, kLogTimedTask, name, id);

    const std::shared_ptr<CDeviceBase> device = waitForDevice(context, job.devID);
    if (!device) {
        InsertLogOb("%d,%d,'定时任务[%s]找不到设备[%d]'", kLogFailure, kLogTimedTask, name, id);
        return;
    }
    std::string deviceName;
    sockaddr_in address{};
    {
        // Record fields change only under devMapLock; the shared record outlives its removal.
        DevMapGuard guard;
        deviceName = device->GetDeviceName();
        address = device->GetDeviceSockIPAddr();
    }
    InsertLogOb("%d,%d,'定时任务[%s]开始执行设备[%s]'", kLogRun, kLogTimedTask, name,
                deviceName.c_str());

    // Every outlet is sent, the ones to switch off included. The flag is looked at before each
    // frame, so a worker released while it waited for the device sends nothing.
    for (int outlet = 1; outlet <= static_cast<int>(kDeviceOutletCount); ++outlet) {
        if (context.workerStop.stopped()) break;
        sendOutlet(context, job, taskName, deviceName, address, outlet);
        if (!context.workerStop.pauseFor(context.realPause(kChronrunOutletHold))) break;
        if (!context.workerStop.pauseFor(context.realPause(kChronrunOutletGap))) break;
    }
    InsertLogOb("%d,%d,'定时任务[%s]执行设备[%s]完成.'", kLogRun, kLogTimedTask, name,
                deviceName.c_str());
}

}  // namespace chronrun
