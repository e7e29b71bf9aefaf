// What the engine tells its clients (the window, the MQTT bridge, the service), by value: a
// client keeps what it needs from the event and never reads the registry to learn more.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "consolecore/device_snapshot.h"
#include "consolecore/group_run.h"

namespace consolecore {

// A device was filed: its record as the registration left it.
struct DeviceRegistered {
    DeviceSnapshot device;
};
// A filed device reported (status, step reply) or moved to another address.
struct DeviceChanged {
    DeviceSnapshot device;
};
// A device left the registry (offline). `generation` names the record that left.
struct DeviceRemoved {
    std::uint16_t id = 0;
    std::uint64_t generation = 0;
};
// A registration of `id` from `newcomer` was refused: the id is online at `online` (s_addr
// values). Told once per conflict; a later registration of the id ends it.
struct IdConflict {
    std::uint16_t id = 0;
    std::uint32_t newcomer = 0;
    std::uint32_t online = 0;
};
// A device confirmed its step of a serial or parallel group run (its step-done frame); the
// run's own state follows in RunProgress.
struct StepDone {
    std::uint16_t id = 0;
    GroupKind kind = GroupKind::Parallel;
};
// A group run started, moved on or ended: its whole state.
struct RunProgress {
    GroupRun run;
};

// A device of run `run` did not confirm its step in time; the run ends timed out (its
// RunProgress follows). One per device left unconfirmed.
struct StepTimedOut {
    std::uint16_t id = 0;
    std::uint64_t run = 0;
};
// A timed task was applied to a device: every outlet's state was sent.
struct TaskApplied {
    std::string task;
    std::uint16_t id = 0;
};
// A timed task was skipped: a holiday (no device), or its end time came before its device
// was found (that device).
struct TaskSkipped {
    std::string task;
    std::optional<std::uint16_t> id;
};
// The log store cannot write, or dropped lines: what it says.
struct LogTrouble {
    std::string text;
};

using EngineEvent =
    std::variant<DeviceRegistered, DeviceChanged, DeviceRemoved, IdConflict, StepDone, RunProgress,
                 StepTimedOut, TaskApplied, TaskSkipped, LogTrouble>;

// A subscriber. onEngineEvent runs on the engine's thread (the window's GUI thread, the main
// thread of the service), never under a lock of the engine; events found on other threads
// (the task runner's, the log writer's) are posted to the engine's thread first; a client with a
// thread of its own copies the event and posts it there. It must not subscribe or unsubscribe from
// inside it.
class EngineClient {
public:
    virtual ~EngineClient() = default;
    virtual void onEngineEvent(const EngineEvent& event) = 0;
};

}  // namespace consolecore
