// Frames from the link become registry and group changes plus messages posted to the engine;
// operator commands become 24-byte console frames.
#include "consolecore/device_channel.h"

#include <atomic>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "consolecore/device_snapshot.h"
#include "consolecore/register_observer.h"
#include "consolecore/switching_groups.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "platform/message_target.h"
#include "platform/messages.h"
#include "protocol/console_frames.h"
#include "protocol/device_frames.h"

namespace consolecore {

namespace {

// The inbox of the started channel: the link's receive callback is a plain function, so the
// channel that started the link is found here (one link per process).
std::atomic<platform::MessageTarget*> g_inbox{nullptr};

void postToEngine(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (auto* inbox = g_inbox.load()) inbox->post(message, wParam, lParam);
}

sockaddr_in addressWord(std::uint32_t hostOrderValue) {
    sockaddr_in address{};
    address.sin_addr.s_addr = hostOrderValue;
    return address;
}

int onRegister(sockaddr_in peer, std::span<const std::uint8_t> frame, std::uint16_t id) {
    logEvent(logcode::kRun, logcode::kDeviceLink, "设备注册:" + std::to_string(int{id}));
    const auto payload = protocol::decodeRegister(frame);
    if (!payload) return -1;
    if (const auto known = FindDevice(id)) {
        logEvent(logcode::kRun, logcode::kDeviceLink, "已经注册过了:" + std::to_string(int{id}));
        // Supervision decides who owns the id: a device back from another address whose old
        // connection is gone moves there, and the record follows it. A refusal (the id is
        // still online elsewhere) leaves the record with its owner.
        if (!DoNetReg(id, &peer)) return 0;
        bool moved = false;
        // The record names the connection supervision now uses (a reconnect from the same
        // address comes from another port).
        deviceRegistry().update(id, [&moved, &peer](CDeviceBase& record) {
            const sockaddr_in old = record.GetDeviceSockIPAddr();
            moved = old.sin_addr.s_addr != peer.sin_addr.s_addr;
            if (moved || old.sin_port != peer.sin_port) record.SetDeviceSockIPAddr(peer);
        });
        if (moved) postToEngine(platform::WM_DEVICE_EVENT, id, platform::DEV_EVENT_STATUS);
        // A device that rebooted before its offline notice has lost its outlets too.
        notifyDeviceRegistered(id);
        return 0;
    }
    // Supervision starts here rather than when the window gets to the event, so a busy window
    // never delays a device's heartbeats; and first, so that a refused registration (the id
    // online elsewhere) files and records nothing.
    if (!DoNetReg(id, &peer)) return 0;
    auto device = std::make_shared<CDeviceBase>();
    device->SetDeviceID(id);
    device->SetDeviceSockIPAddr(peer);
    device->SetDeviceSockSubNetMask(addressWord(payload->mask));
    device->SetDeviceSockGateWay(addressWord(payload->gateway));
    device->SetDeviceName(payload->name);
    device->SetMacAddr(payload->mac.data());
    device->SetMarshalling(payload->group);
    switchingGroups().fileRegistered(id, payload->group, payload->mode, payload->number,
                                     static_cast<std::uint8_t>(payload->onOff & 0xFF));
    device->SetSeriPallModule(payload->mode);
    device->SetNumber(payload->number);
    device->SetOnOff(payload->onOff != 0);
    device->SetOnLine(true);
    for (std::uint8_t k = 0; k < protocol::kOutletCount; ++k) {
        device->SetLed(k, payload->outlets[k]);
    }
    logEvent(logcode::kRun, logcode::kSerial,
             "设备[ID:" + std::to_string(int{id}) + ";IP:" + formatIpAddress(peer) + "]注册成功!");
    PlusDevice(std::move(device));
    PlusDevtoArray(id);
    postToEngine(platform::WM_DEVICE_EVENT, id, platform::DEV_EVENT_REGISTERED);
    notifyDeviceRegistered(id);
    return 0;
}

int onStatus(std::span<const std::uint8_t> frame, std::uint16_t id) {
    const auto payload = protocol::decodeStatus(frame);
    if (!payload) return -1;
    const bool filed = deviceRegistry().update(id, [&payload](CDeviceBase& device) {
        for (std::uint8_t k = 0; k < protocol::kOutletCount; ++k) {
            device.SetLed(k, payload->outlets[k]);
        }
        device.SetMarshalling(payload->group);
        device.SetSeriPallModule(payload->mode);
        device.SetNumber(payload->number);
        device.SetOnOff(payload->onOff);
    });
    if (!filed) return 0;
    // The registry lock is released before the groups lock: the GUI thread takes the groups
    // lock first and the registry's inside it, so the receive path must never nest them the
    // other way round.
    switchingGroups().refileOnStatus(id, payload->group, payload->mode, payload->number,
                                     payload->onOff ? 1 : 0,
                                     protocol::highestOutletOn(payload->outlets));
    postToEngine(platform::WM_DEVICE_EVENT, id, platform::DEV_EVENT_STATUS);
    return 0;
}

int onStepDone(std::span<const std::uint8_t> frame, std::uint16_t id) {
    if (!protocol::decodeStepDone(frame)) return -1;
    if (!FindDevice(id)) return 0;
    // The messages are chosen under the groups lock and posted after it is released.
    std::optional<std::intptr_t> serialOn;
    std::optional<std::intptr_t> parallelOn;
    {
        auto& groups = switchingGroups();
        auto guard = groups.lock();
        if (const auto group = groups.findGroupOf(GroupKind::Serial, id)) {
            if (groups.findSerialRecord(*group)) {
                serialOn = groups.direction(GroupKind::Serial, *group) == 1 ? 1 : 0;
            }
        }
        if (const auto group = groups.findGroupOf(GroupKind::Parallel, id)) {
            parallelOn = groups.direction(GroupKind::Parallel, *group) == 1 ? 1 : 0;
        }
    }
    if (serialOn) postToEngine(platform::WM_SERIAL_STEP_DONE, id, *serialOn);
    if (parallelOn) postToEngine(platform::WM_PARALLEL_STEP_DONE, id, *parallelOn);
    return 0;
}

int onOffline(std::uint16_t id) {
    logEvent(logcode::kFailure, logcode::kDeviceLink,
             "删除map中掉线设备:" + std::to_string(int{id}));
    RemoveDevFromObjDevInfoMap(id);
    RemoveFromDevArray(id);
    DeleteTickDevice(id);
    postToEngine(platform::WM_DEVICE_EVENT, id, platform::DEV_EVENT_REMOVED);
    switchingGroups().removeDevice(id);
    return 0;
}

// The device's connection address (and name), copied under the registry's lock.
std::optional<DeviceSnapshot> lookUp(std::uint16_t id) {
    return snapshotDevice(id);
}

SendResult send(const protocol::ConsoleFrame& frame, const sockaddr_in& address) {
    switch (SendToDevice(frame.data(), static_cast<std::uint32_t>(frame.size()), address)) {
        case LanwireSendResult::Queued:
            return SendResult::Queued;
        case LanwireSendResult::NoConnection:
            return SendResult::NotConnected;
        case LanwireSendResult::OutboxFull:
        case LanwireSendResult::Stopped:
            break;
    }
    return SendResult::Refused;
}

}  // namespace

CDeviceChannel::CDeviceChannel(platform::MessageTarget& inbox)
    : m_inbox(inbox), m_previous(g_inbox.exchange(&inbox)) {}

CDeviceChannel::~CDeviceChannel() {
    // The receive thread may be posting to the inbox: the link this channel started ends first.
    if (m_started) Stop();
    platform::MessageTarget* mine = &m_inbox;
    g_inbox.compare_exchange_strong(mine, m_previous);
}

bool CDeviceChannel::Start(std::uint16_t port) {
    m_started = InitLanwire(port, &OnNetData);
    return m_started;
}

bool CDeviceChannel::Stop() {
    m_started = false;
    return CancelLanwire();
}

int CDeviceChannel::OnNetData(std::uint32_t /*deviceId*/, sockaddr_in peer,
                              const std::uint8_t* data, std::int32_t length) {
    if (data == nullptr || length < static_cast<std::int32_t>(protocol::kHeaderSize)) return 0;
    const std::span<const std::uint8_t> frame(data, static_cast<std::size_t>(length));
    const auto header = protocol::decodeHeader(frame);
    if (!header) return -1;
    const std::uint16_t id = header->deviceId;
    switch (header->command) {
        case protocol::NET_CMD_REGISTER:
            return onRegister(peer, frame, id);
        case protocol::NET_CMD_STATUS:
        case protocol::NET_CMD_PARALLEL:
        case protocol::NET_CMD_SERIAL:
            return onStatus(frame, id);
        case protocol::NET_CMD_STEP_DONE:
            return onStepDone(frame, id);
        case protocol::NET_CMD_OFFLINE:
            return onOffline(id);
        default:
            return 0;
    }
}

SendResult CDeviceChannel::SendParallelSwitch(std::uint16_t id, std::uint8_t on,
                                              std::uint8_t position, std::uint8_t count) {
    const auto device = lookUp(id);
    if (!device) {
        logEvent(logcode::kFailure, logcode::kParallel,
                 "平行操作Map中没有找到" + std::to_string(int{id}) + "的设备");
        return SendResult::UnknownDevice;
    }
    const std::string label =
        "(设备:" + std::to_string(id) + ",num:" + std::to_string(position) + ")";
    const SendResult result =
        send(protocol::buildConsoleFrame(protocol::NET_CMD_PARALLEL, id, on, 0, position, count),
             device->ip);
    if (result == SendResult::Queued) {
        logEvent(logcode::kRun, logcode::kParallel, (on ? "平行开" : "平行关") + label + "成功!");
    } else {
        logEvent(logcode::kRun, logcode::kParallel, (on ? "平行开" : "平行关") + label + "失败!");
    }
    return result;
}

SendResult CDeviceChannel::SendSerialSwitch(std::uint16_t id, std::uint8_t on, std::uint8_t group,
                                            std::uint8_t flag, std::uint8_t count) {
    const auto device = lookUp(id);
    if (!device) {
        logEvent(logcode::kFailure, logcode::kSerial,
                 "串行操作Map中没有找到" + std::to_string(int{id}) + "的设备");
        return SendResult::UnknownDevice;
    }
    const std::string label = "设备:" + std::to_string(id);
    const SendResult result =
        send(protocol::buildConsoleFrame(protocol::NET_CMD_SERIAL, id, on, group, flag, count),
             device->ip);
    if (result == SendResult::Queued) {
        logEvent(logcode::kRun, logcode::kSerial,
                 (on ? "串行开分组" : "串行关分组") + std::to_string(int{group}) + "成功!" + label);
    } else {
        logEvent(logcode::kRun, logcode::kSerial,
                 (on ? "串行开分组" : "串行关分组") + std::to_string(int{group}) + "失败," + label);
    }
    return result;
}

SendResult CDeviceChannel::SendChannelSwitch(std::uint16_t id, std::uint8_t outlet, std::uint8_t on,
                                             const std::string& actor) {
    const auto device = lookUp(id);
    if (!device) return SendResult::UnknownDevice;
    const SendResult result =
        send(protocol::buildConsoleFrame(protocol::NET_CMD_CHANNEL, id, outlet, on), device->ip);
    // Written once the frame is queued: a refused command must not read as switched. The
    // caller tells the refusal in its own way.
    if (result == SendResult::Queued) {
        std::string text =
            "设备:" + device->name + (on ? "开灯:" : "关灯:") + std::to_string(outlet);
        if (!actor.empty()) text += ",用户:" + actor;
        logEvent(logcode::kRun, logcode::kOther, text);
    }
    return result;
}

SendResult CDeviceChannel::SendSetMode(std::uint16_t id, std::uint8_t mode) {
    if (const auto device = lookUp(id)) {
        return send(protocol::buildConsoleFrame(protocol::NET_CMD_SET_MODE, id, mode), device->ip);
    }
    return SendResult::UnknownDevice;
}

SendResult CDeviceChannel::SendSetGroup(std::uint16_t id, std::uint8_t group) {
    if (const auto device = lookUp(id)) {
        return send(protocol::buildConsoleFrame(protocol::NET_CMD_SET_GROUP, id, group),
                    device->ip);
    }
    return SendResult::UnknownDevice;
}

SendResult CDeviceChannel::SendSetNumber(std::uint16_t id, std::uint8_t number) {
    if (const auto device = lookUp(id)) {
        return send(protocol::buildConsoleFrame(protocol::NET_CMD_SET_NUMBER, id, number),
                    device->ip);
    }
    return SendResult::UnknownDevice;
}

SendResult CDeviceChannel::SendSetOnOff(std::uint16_t id, std::uint8_t flag) {
    if (const auto device = lookUp(id)) {
        return send(protocol::buildConsoleFrame(protocol::NET_CMD_SET_ONOFF, id, flag), device->ip);
    }
    return SendResult::UnknownDevice;
}

}  // namespace consolecore
