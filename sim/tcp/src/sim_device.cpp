// SimDevice: the public face of a simulated device.
#include "device_impl.h"
#include "protocol/device_frames.h"

namespace simtcp {

SimDevice::SimDevice(std::shared_ptr<Impl> impl) : m_impl(std::move(impl)) {}
SimDevice::~SimDevice() = default;

std::uint16_t SimDevice::id() const {
    return m_impl->config().id;
}
const DeviceConfig& SimDevice::config() const {
    return m_impl->config();
}
DeviceState SimDevice::state() const {
    return m_impl->state();
}
Knobs SimDevice::knobs() const {
    return m_impl->knobs();
}
void SimDevice::setKnobs(const Knobs& knobs) {
    m_impl->setKnobs(knobs);
}
void SimDevice::connect() {
    m_impl->connect();
}
void SimDevice::disconnect() {
    m_impl->disconnect();
}
void SimDevice::sendRegistration() {
    m_impl->sendRegistration();
}

void SimDevice::sendStatus(std::uint8_t command, std::uint32_t headerValue) {
    m_impl->sendStatus(command, headerValue);
}

void SimDevice::sendStepDone() {
    m_impl->send(protocol::buildDeviceHeader(protocol::NET_CMD_STEP_DONE, id()), true);
}

void SimDevice::sendFrame(std::vector<std::uint8_t> frame) {
    m_impl->send(std::move(frame), true);
}
void SimDevice::sendRaw(std::vector<std::uint8_t> bytes) {
    m_impl->send(std::move(bytes), false);
}
std::vector<ReceivedFrame> SimDevice::frames() const {
    return m_impl->frames();
}

std::vector<ReceivedFrame> SimDevice::frames(std::uint8_t command) const {
    std::vector<ReceivedFrame> selected;
    for (auto& frame : m_impl->frames()) {
        if (frame.command() == command) selected.push_back(std::move(frame));
    }
    return selected;
}

void SimDevice::setFrameObserver(std::function<void(const ReceivedFrame&)> observer) {
    m_impl->setFrameObserver(std::move(observer));
}

void SimDevice::clearFrames() {
    m_impl->clearFrames();
}
std::uint64_t SimDevice::received(std::uint8_t command) const {
    return m_impl->received(command);
}

bool SimDevice::waitFrames(const std::function<bool(const std::vector<ReceivedFrame>&)>& condition,
                           std::chrono::milliseconds timeout) const {
    return m_impl->waitFrames(condition, timeout);
}

bool SimDevice::waitCommand(std::uint8_t command, std::size_t count,
                            std::chrono::milliseconds timeout) const {
    return m_impl->waitFrames(
        [&](const std::vector<ReceivedFrame>& frames) {
            std::size_t seen = 0;
            for (const auto& frame : frames) seen += frame.command() == command ? 1 : 0;
            return seen >= count;
        },
        timeout);
}

bool SimDevice::waitState(const std::function<bool(const DeviceState&)>& condition,
                          std::chrono::milliseconds timeout) const {
    return m_impl->waitState(condition, timeout);
}

}  // namespace simtcp
