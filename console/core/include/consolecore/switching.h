// Parallel and serial group switching started by the operator and paced by device replies.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {
class Prompt;
}

namespace consolecore {

class CDeviceChannel;
class GroupChooser;

// Runs on the GUI thread. Holds the switching-groups lock for each complete run start and
// step handling; lock order: the groups lock before devMapLock.
class SwitchingController {
public:
    // `deviceRowCount` tells how many rows the main device list has.
    SwitchingController(CDeviceChannel& channel, GroupChooser& chooser, platform::Prompt& prompt,
                        std::function<int()> deviceRowCount);

    void OnParallelOn() { startParallel(1); }
    void OnParallelOff() { startParallel(0); }
    void OnSerialOn() { startSerial(1); }
    void OnSerialOff() { startSerial(0); }

    // WM_PARALLEL_STEP_DONE.
    void onParallelStepDone(std::uint16_t deviceId);
    // WM_SERIAL_STEP_DONE; `on` is the direction the receive path posted.
    void onSerialStepDone(std::uint16_t deviceId, bool on);

private:
    void startParallel(std::uint8_t target);
    void startSerial(std::uint8_t target);

    CDeviceChannel& m_channel;
    GroupChooser& m_chooser;
    platform::Prompt& m_prompt;
    std::function<int()> m_deviceRowCount;
};

}  // namespace consolecore
