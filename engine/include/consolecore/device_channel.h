// The console's side of the device protocol: frames from the link in, commands out.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace platform {
class MessageTarget;
}

namespace consolecore {

// What became of a command: queued for its device, or why it was not sent. A caller maps it
// once to what its user sees (a log row, an HTTP status).
enum class SendResult {
    Queued,         // on the write queue of the device's connection
    UnknownDevice,  // the id is not registered
    NotConnected,   // registered, but no connection from its address: nothing sent
    Refused,        // the device's outbox is full (or the link is stopped): nothing sent
    Invalid,        // the command names nothing the device has (an outlet outside 1..16)
    LinkDown,       // the link is not running: nothing sent
};

class CDeviceChannel {
public:
    // The receive path posts its device events, step replies (WM_DEVICE_EVENT,
    // WM_SERIAL_STEP_DONE, WM_PARALLEL_STEP_DONE) to `inbox`: the engine's, which hands them
    // to its own thread. Not owned; outlives the channel.
    // The newest channel receives (one per process; a channel made while another exists takes
    // over until it ends).
    explicit CDeviceChannel(platform::MessageTarget& inbox);
    ~CDeviceChannel();  // Stop() first when this channel started the link
    CDeviceChannel(const CDeviceChannel&) = delete;
    CDeviceChannel& operator=(const CDeviceChannel&) = delete;

    // Starts the network link on `port` with OnNetData as the receive callback.
    bool Start(std::uint16_t port = 6000);
    // Stops the link.
    bool Stop();

    // The receive callback; runs on the link's receive-dispatch thread only.
    // 0 when the frame was handled or ignored, -1 when a payload could not be decoded.
    static int OnNetData(std::uint32_t deviceId, sockaddr_in peer, const std::uint8_t* data,
                         std::int32_t length);

    // Each send operation hands one frame to the link and says what became of it. The log
    // lines of a switch say "成功"/"开灯"/"关灯" only for a frame that was queued.
    SendResult SendParallelSwitch(std::uint16_t id, std::uint8_t on, std::uint8_t position,
                                  std::uint8_t count);
    SendResult SendSerialSwitch(std::uint16_t id, std::uint8_t on, std::uint8_t group,
                                std::uint8_t flag, std::uint8_t count);
    // `actor`, when given, is named at the end of the row the queued command logs.
    SendResult SendChannelSwitch(std::uint16_t id, std::uint8_t outlet, std::uint8_t on,
                                 const std::string& actor = {});
    SendResult SendSetMode(std::uint16_t id, std::uint8_t mode);
    SendResult SendSetGroup(std::uint16_t id, std::uint8_t group);
    SendResult SendSetNumber(std::uint16_t id, std::uint8_t number);
    SendResult SendSetOnOff(std::uint16_t id, std::uint8_t flag);

private:
    platform::MessageTarget& m_inbox;
    platform::MessageTarget* m_previous = nullptr;
    bool m_started = false;  // the link was started by this channel and not stopped since
};

}  // namespace consolecore
