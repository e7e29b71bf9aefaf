// The exported functions of liblanwire.so.
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "link_service.h"

using lanwire::linkService;

bool InitLanwire(std::uint16_t port, LanwireRecvCallback callback) {
    return linkService().init(port, std::move(callback));
}

bool CancelLanwire() {
    return linkService().cancel();
}

bool TCPSend(const std::uint8_t* data, std::uint32_t length, sockaddr_in destination) {
    const LanwireSendResult result = linkService().send(data, length, destination);
    return result == LanwireSendResult::Queued || result == LanwireSendResult::NoConnection;
}

LanwireSendResult SendToDevice(const std::uint8_t* data, std::uint32_t length,
                               sockaddr_in destination) {
    return linkService().send(data, length, destination);
}

bool DoNetReg(std::uint32_t deviceId, const sockaddr_in* address) {
    return linkService().doNetReg(deviceId, address);
}

bool DeleteTickDevice(std::uint16_t deviceId) {
    return linkService().deleteTickDevice(deviceId);
}

bool DropNetDevice(std::uint16_t deviceId) {
    return linkService().dropNetDevice(deviceId);
}

void SetWindowHand(platform::MessageTarget* target) {
    linkService().setWindow(target);
}

void SetLanwireOptions(const LanwireOptions& options) {
    linkService().setOptions(options);
}

LanwireOptions GetLanwireOptions() {
    return linkService().options();
}

std::uint16_t GetLanwirePort() {
    return linkService().port();
}

LanwireStats GetLanwireStats() {
    return linkService().stats();
}

std::vector<LanwireTickEntry> GetLanwireTickTable() {
    return linkService().tickTable();
}
