// The timed-task runner: watches the task store against the local clock and, when a task's
// start time is reached, switches every outlet of each of its devices to the stored pattern.
#pragma once

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
