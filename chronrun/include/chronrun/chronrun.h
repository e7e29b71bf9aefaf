// The timed-task runner: watches the task store against the local clock and, when a task's
// start time is reached, switches every outlet of each of its devices to the stored pattern.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "chronrun/chronrun_export.h"

// Starts the scan thread unless it runs already and empties the dispatch queue. The text is
// not used. False when the scan thread cannot be started (then no timed task runs).
CHRONRUN_EXPORT bool InitChronrun(std::u16string_view unused = {});

// Stops the runner: the scan thread, the dispatcher and every device worker end (a worker
// waiting for its device or pacing its outlets ends at once, one inside a send finishes that
// send first) and queued copies are dropped. When it returns no runner thread touches the
// store or the link any more. InitChronrun may be called again afterwards.
CHRONRUN_EXPORT void ReleaseChronrun();

// Sends device `devID` the pattern task `timID` holds for it, through the runner's device
// jobs with the lines of a run (it replaces a job still waiting for that device). False when
// the runner is not running or no such task names the device. Call without the store lock.
CHRONRUN_EXPORT bool ApplyChronrunTask(std::int32_t timID, std::uint16_t devID);

// A device has registered: when an enabled task naming it is running, sends it the pattern
// of the one that started last, logged "定时任务[%s]重新应用到设备[%s]". False when nothing
// was sent. Call without the store lock.
CHRONRUN_EXPORT bool ReapplyChronrunTask(std::uint16_t devID);

// The longest spacing SetChronrunReapplyStagger takes.
inline constexpr std::chrono::milliseconds kChronrunMaxReapplyStagger{10000};

// Spaces re-applies that come close together (a whole site's power coming back): each
// device's first frame comes `stagger` after the previous one's, in the order they were
// re-applied, and each such burst logs its order once ("错开重新应用:<id>,<id>,..."). 0, the
// default, starts them at once. Bounded to 0..kChronrunMaxReapplyStagger; takes effect from
// the next re-apply.
CHRONRUN_EXPORT void SetChronrunReapplyStagger(std::chrono::milliseconds stagger);
