// The console's side of the device protocol: frames from the link in, commands out.
#pragma once

#include <netinet/in.h>

#include <cstdint>

namespace platform {
class MessageTarget;
}

namespace consolecore {

// The process-wide main window reference: the receive path posts its messages here.
// Null means messages go nowhere.
void setMainWindow(platform::MessageTarget* window);
platform::MessageTarget* mainWindow();

class CDeviceChannel {
public:
    // Starts the network link on `port` with OnNetData as the receive callback.
    bool Start(std::uint16_t port = 6000);
    // Stops the link.
    bool Stop();

    // The receive callback; runs on the link's receive-dispatch thread only.
    // 0 when the frame was handled or ignored, -1 when a payload could not be decoded.
    static int OnNetData(std::uint32_t deviceId, sockaddr_in peer, const std::uint8_t* data,
                         std::int32_t length);

    void SendParallelSwitch(std::uint16_t id, std::uint8_t on, std::uint8_t position,
                            std::uint8_t count);
    void SendSerialSwitch(std::uint16_t id, std::uint8_t on, std::uint8_t group, std::uint8_t flag,
                          std::uint8_t count);
    void SendChannelSwitch(std::uint16_t id, std::uint8_t outlet, std::uint8_t on);
    void SendSetMode(std::uint16_t id, std::uint8_t mode);
    void SendSetGroup(std::uint16_t id, std::uint8_t group);
    void SendSetNumber(std::uint16_t id, std::uint8_t number);
    void SendSetOnOff(std::uint16_t id, std::uint8_t flag);
};

}  // namespace consolecore
