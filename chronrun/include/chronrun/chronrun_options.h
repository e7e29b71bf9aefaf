// Settings of the runner beyond the console's interface: where it reads the local time, how
// long its pauses really last and how frames leave, so tests run in milliseconds.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "chronrun/chronrun_export.h"

// The runner's pauses as the runner asks for them; a clock decides how long each really lasts.
inline constexpr std::chrono::milliseconds kChronrunScanPeriod{10};     // between sweeps
inline constexpr std::chrono::milliseconds kChronrunDisabledPause{1};   // after a dropped copy
inline constexpr std::chrono::milliseconds kChronrunTaskGap{3000};      // between two tasks
inline constexpr std::chrono::milliseconds kChronrunEmptyRetry{100};    // registry empty
inline constexpr std::chrono::milliseconds kChronrunDeviceRetry{1000};  // device not online
inline constexpr std::chrono::milliseconds kChronrunSettleStep{500};    // x3 once found
inline constexpr int kChronrunSettleSteps = 3;
inline constexpr std::chrono::milliseconds kChronrunOutletHold{100};  // after each frame
inline constexpr std::chrono::milliseconds kChronrunOutletGap{1000};  // then before the next

// The local calendar date and time of day the scan compares tasks with.
struct ChronrunLocalTime {
    int year = 1970;
    int month = 1;    // 1..12
    int day = 1;      // 1..31
    int weekday = 4;  // 0 Sunday .. 6 Saturday
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class CHRONRUN_EXPORT ChronrunClock {
public:
    virtual ~ChronrunClock();
    // Read by the scan thread once per task and sweep, with the store lock held.
    virtual ChronrunLocalTime localNow() = 0;
    // The real length of a runner pause of `delay`. The runner waits that long on a condition
    // that ReleaseChronrun signals, so every pause ends early on release. Default: `delay`.
    virtual std::chrono::nanoseconds realPause(std::chrono::milliseconds delay);
};

// The system's local time (localtime_r) with the pauses as asked.
CHRONRUN_EXPORT std::shared_ptr<ChronrunClock> SystemChronrunClock();

// Hands one frame to the link; same contract as TCPSend (the result is not used).
using ChronrunSendFn =
    std::function<bool(const std::uint8_t* data, std::uint32_t length, sockaddr_in destination)>;

// What became of a timed task: applied to a device (every outlet sent), or skipped (a
// holiday, or its end time came before its device was found).
struct ChronrunTaskEvent {
    enum class Kind { Applied, Skipped };
    Kind kind = Kind::Applied;
    std::string task;                       // its name
    std::optional<std::uint16_t> deviceId;  // the device, where there is one
};

// Told each task event on the runner's threads, after the log line that says it, with no
// lock of the runner or of the task store held. Must not wait.
using ChronrunTaskFn = std::function<void(const ChronrunTaskEvent& event)>;

struct ChronrunOptions {
    std::shared_ptr<ChronrunClock> clock;  // null: SystemChronrunClock()
    ChronrunSendFn send;                   // null: TCPSend of the network link
    ChronrunTaskFn onTask = nullptr;       // null: nobody listens
};

// Applies from the next InitChronrun that starts the runner.
CHRONRUN_EXPORT void SetChronrunOptions(const ChronrunOptions& options);
CHRONRUN_EXPORT ChronrunOptions GetChronrunOptions();
