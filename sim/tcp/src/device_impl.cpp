// Connection handling, firmware reactions and shaped writing of a simulated device.
#include "device_impl.h"

#include "protocol/console_frames.h"
#include "protocol/device_frames.h"
#include "simtcp/sim_fleet.h"

namespace simtcp {

namespace {

protocol::OutletStates outletsOf(std::uint16_t word) {
    return protocol::expandChannelWord(word);
}

}  // namespace

SimDevice::Impl::Impl(asio::io_context& context, const asio::ip::tcp::endpoint& target,
                      DeviceConfig config, Knobs knobs, std::shared_ptr<ChangeSignal> fleetSignal)
    : m_config(std::move(config)),
      m_fleetSignal(std::move(fleetSignal)),
      m_target(target),
      m_strand(asio::make_strand(context)),
      m_reconnectTimer(m_strand),
      m_stepTimer(m_strand),
      m_writeTimer(m_strand),
      m_random(m_config.id) {
    m_knobs = knobs;
    m_state.group = m_config.group;
    m_state.mode = m_config.mode;
    m_state.number = m_config.number;
    m_state.onOff = m_config.onOff;
    m_state.outlets = m_config.outlets;
}

// ---- thread-safe entry points ----

void SimDevice::Impl::connect() {
    asio::post(m_strand, [self = shared_from_this()] {
        if (self->m_stopped) return;
        self->m_wanted = true;
        self->doConnect();
    });
}

void SimDevice::Impl::disconnect() {
    asio::post(m_strand, [self = shared_from_this()] {
        self->m_wanted = false;
        self->m_reconnectTimer.cancel();
        self->closeSocket();
    });
}

void SimDevice::Impl::shutdown(std::function<void()> done) {
    asio::post(m_strand, [self = shared_from_this(), done = std::move(done)] {
        self->m_stopped = true;
        self->m_wanted = false;
        self->m_reconnectTimer.cancel();
        self->m_stepTimer.cancel();
        self->closeSocket();
        done();
    });
}

void SimDevice::Impl::send(std::vector<std::uint8_t> frame, bool shaped) {
    asio::post(m_strand, [self = shared_from_this(), frame = std::move(frame), shaped]() mutable {
        if (shaped) {
            self->emit(std::move(frame));
            self->flush();
        } else {
            self->m_writeQueue.push_back({std::move(frame), {}});
            self->pumpWrites();
        }
    });
}

void SimDevice::Impl::sendStatus(std::uint8_t command, std::uint32_t headerValue) {
    asio::post(m_strand, [self = shared_from_this(), command, headerValue] {
        self->emitStatus(command, headerValue);
        self->flush();
    });
}

void SimDevice::Impl::sendRegistration() {
    asio::post(m_strand, [self = shared_from_this()] {
        self->emit(self->registrationFrame());
        self->flush();
    });
}

// ---- connection ----

void SimDevice::Impl::doConnect() {
    closeSocket();
    const unsigned generation = ++m_generation;
    m_socket = std::make_unique<asio::ip::tcp::socket>(m_strand);
    std::error_code error;
    m_socket->open(asio::ip::tcp::v4(), error);
    if (!error) m_socket->set_option(asio::socket_base::reuse_address(true), error);
    if (!error && !m_config.sourceAddress.empty()) {
        // The console knows a device by the address it connects from.
        const auto source = asio::ip::make_address_v4(m_config.sourceAddress, error);
        if (!error) m_socket->bind(asio::ip::tcp::endpoint(source, 0), error);
    }
    if (error) {
        closeSocket();
        scheduleReconnect();
        return;
    }
    m_socket->async_connect(
        m_target, [self = shared_from_this(), generation](const std::error_code& connectError) {
            if (generation != self->m_generation || self->m_stopped) return;
            if (connectError) {
                self->closeSocket();
                self->scheduleReconnect();
                return;
            }
            std::error_code ignored;
            self->m_socket->set_option(asio::ip::tcp::no_delay(true), ignored);
            self->m_framer.reset();
            self->m_writeQueue.clear();
            self->m_writePaused = false;
            self->updateState([](DeviceState& s) {
                s.connected = true;
                ++s.connects;
            });
            self->emit(self->registrationFrame());
            const Knobs knobs = self->currentKnobs();
            if (knobs.registerGatewayIds) {
                for (const std::uint16_t id : knobs.gatewayIds) {
                    self->emit(self->registrationFrame(id));
                }
            }
            self->flush();
            self->readNext(generation);
        });
}

void SimDevice::Impl::closeSocket() {
    ++m_generation;
    if (m_socket) {
        std::error_code ignored;
        m_socket->shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        m_socket->close(ignored);
        m_socket.reset();
    }
    m_writeTimer.cancel();
    m_writeQueue.clear();
    m_batch.clear();
    m_writeActive = false;
    m_writePaused = false;
    updateState([](DeviceState& s) { s.connected = false; });
}

void SimDevice::Impl::onConnectionLost(unsigned generation) {
    if (generation != m_generation) return;
    closeSocket();
    updateState([](DeviceState& s) { ++s.closedByPeer; });
    scheduleReconnect();
}

void SimDevice::Impl::scheduleReconnect() {
    const Knobs knobs = currentKnobs();
    if (m_stopped || !m_wanted || !knobs.reconnect) return;
    m_reconnectTimer.expires_after(knobs.reconnectDelay);
    m_reconnectTimer.async_wait([self = shared_from_this()](const std::error_code& error) {
        if (!error && self->m_wanted && !self->m_stopped) self->doConnect();
    });
}

void SimDevice::Impl::readNext(unsigned generation) {
    if (!m_socket || currentKnobs().readPaused) return;
    m_socket->async_read_some(
        asio::buffer(m_readBuffer),
        [self = shared_from_this(), generation](const std::error_code& error, std::size_t count) {
            if (generation != self->m_generation) return;
            if (error) {
                self->onConnectionLost(generation);
                return;
            }
            self->m_framer.append(std::span<const std::uint8_t>(self->m_readBuffer.data(), count));
            while (auto frame = self->m_framer.next()) {
                self->onFrame(*frame);
                if (generation != self->m_generation) return;  // a reaction closed it
            }
            self->readNext(generation);
        });
}

// ---- firmware ----

void SimDevice::Impl::onFrame(std::span<const std::uint8_t> bytes) {
    const auto command = protocol::decodeConsoleFrame(bytes);
    ReceivedFrame frame{std::chrono::steady_clock::now(), {bytes.begin(), bytes.end()}};
    std::function<void(const ReceivedFrame&)> observer;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_counts[frame.command()];
        observer = m_observer;
        if (m_knobs.recordFrames) m_frames.push_back(frame);
    }
    if (observer) observer(frame);
    m_changed.notify_all();
    if (m_fleetSignal) m_fleetSignal->bump();
    // Frames for another device are not ours to act on.
    if (command && command->deviceId == m_config.id) react(command->command, command->params);
    if (command && command->command == protocol::NET_CMD_HEARTBEAT) {
        const Knobs knobs = currentKnobs();
        for (const std::uint16_t id : knobs.gatewayIds) {
            if (id == command->deviceId && knobs.answerHeartbeats)
                answerHeartbeat(m_generation, id);
        }
    }
}

void SimDevice::Impl::react(std::uint8_t command, const std::array<std::uint8_t, 4>& params) {
    switch (command) {
        case protocol::NET_CMD_HEARTBEAT: {
            const Knobs knobs = currentKnobs();
            if (!knobs.answerHeartbeats) return;
            if (knobs.heartbeatDelay.count() <= 0) {
                answerHeartbeat(m_generation, m_config.id);
                return;
            }
            auto timer = std::make_shared<asio::steady_timer>(m_strand, knobs.heartbeatDelay);
            timer->async_wait([self = shared_from_this(), timer,
                               generation = m_generation](const std::error_code& error) {
                if (!error) self->answerHeartbeat(generation, self->m_config.id);
            });
            return;
        }
        case protocol::NET_CMD_CHANNEL: {
            const int outlet = params[0];
            if (outlet < 1 || outlet > 16) return;
            const auto bit = static_cast<std::uint16_t>(1u << (outlet - 1));
            updateState([&](DeviceState& s) {
                s.outlets =
                    static_cast<std::uint16_t>(params[1] ? (s.outlets | bit) : (s.outlets & ~bit));
            });
            break;
        }
        case protocol::NET_CMD_SET_MODE:
            updateState([&](DeviceState& s) { s.mode = params[0]; });
            break;
        case protocol::NET_CMD_SET_GROUP:
            updateState([&](DeviceState& s) { s.group = params[0]; });
            break;
        case protocol::NET_CMD_SET_NUMBER:
            updateState([&](DeviceState& s) { s.number = params[0]; });
            break;
        case protocol::NET_CMD_SET_ONOFF:
            updateState([&](DeviceState& s) { s.onOff = params[0] != 0; });
            break;
        case protocol::NET_CMD_PARALLEL:
        case protocol::NET_CMD_SERIAL:
            startSteps(command, params[0] != 0);
            return;
        default:
            return;  // unknown orders are ignored
    }
    emitStatus(protocol::NET_CMD_STATUS);
    flush();
}

void SimDevice::Impl::answerHeartbeat(unsigned generation, std::uint16_t id) {
    if (generation != m_generation || m_stopped || !currentKnobs().answerHeartbeats) return;
    emit(protocol::buildDeviceHeader(protocol::NET_CMD_HEARTBEAT_ACK, id));
    flush();
}

void SimDevice::Impl::startSteps(std::uint8_t command, bool on) {
    // A new order replaces one still running.
    const unsigned stepGeneration = ++m_stepGeneration;
    m_stepTimer.cancel();
    updateState([](DeviceState& s) { s.stepping = true; });
    step(stepGeneration, command, on, 0);
}

void SimDevice::Impl::step(unsigned stepGeneration, std::uint8_t command, bool on, int index) {
    if (stepGeneration != m_stepGeneration || m_stopped) return;
    // On: outlets 1 to 16; off: 16 down to 1.
    const int outlet = on ? index + 1 : 16 - index;
    const auto bit = static_cast<std::uint16_t>(1u << (outlet - 1));
    const bool last = index == 15;
    updateState([&](DeviceState& s) {
        s.outlets = static_cast<std::uint16_t>(on ? (s.outlets | bit) : (s.outlets & ~bit));
        if (last) {
            s.onOff = on;
            s.stepping = false;
        }
    });
    const Knobs knobs = currentKnobs();
    if (knobs.statusEachStep || last) emitStatus(command);
    if (last) {
        if (knobs.reportStepDone) {
            emit(protocol::buildDeviceHeader(protocol::NET_CMD_STEP_DONE, m_config.id));
        }
        flush();
        return;
    }
    flush();
    m_stepTimer.expires_after(knobs.stepDelay);
    m_stepTimer.async_wait([self = shared_from_this(), stepGeneration, command, on,
                            index](const std::error_code& error) {
        if (!error) self->step(stepGeneration, command, on, index + 1);
    });
}

// ---- writing ----

std::vector<std::uint8_t> SimDevice::Impl::registrationFrame() {
    return registrationFrame(m_config.id);
}

std::vector<std::uint8_t> SimDevice::Impl::registrationFrame(std::uint16_t id) {
    const DeviceState s = state();
    protocol::RegisterPayload reg;
    reg.header.deviceId = id;
    if (id == m_config.id) {
        reg.name = m_config.name;
        reg.ipAddress = m_config.ipAddress;
        reg.mac = m_config.mac;
    } else {
        // A device behind the gateway: its own name, address word and MAC, as makeDeviceConfig.
        const DeviceConfig own = makeDeviceConfig(0, id);
        reg.name = own.name;
        reg.ipAddress = own.ipAddress;
        reg.mac = own.mac;
    }
    reg.mask = m_config.mask;
    reg.gateway = m_config.gateway;
    reg.group = s.group;
    reg.mode = s.mode;
    reg.number = s.number;
    reg.onOff = s.onOff ? 1 : 0;
    reg.outlets = outletsOf(s.outlets);
    return protocol::buildRegisterFrame(reg);
}

void SimDevice::Impl::emitStatus(std::uint8_t command, std::uint32_t headerValue) {
    const DeviceState s = state();
    protocol::StatusPayload status;
    status.header.deviceId = m_config.id;
    status.header.value = headerValue;
    status.group = s.group;
    status.mode = s.mode;
    status.number = s.number;
    status.onOff = s.onOff;
    status.outlets = outletsOf(s.outlets);
    emit(protocol::buildStatusFrame(command, status));
}

void SimDevice::Impl::emit(std::vector<std::uint8_t> frame) {
    if (currentKnobs().coalesce) {
        m_batch.insert(m_batch.end(), frame.begin(), frame.end());
    } else {
        enqueueShaped(std::move(frame));
    }
}

void SimDevice::Impl::flush() {
    if (m_batch.empty()) return;
    std::vector<std::uint8_t> batch;
    batch.swap(m_batch);
    enqueueShaped(std::move(batch));
}

void SimDevice::Impl::enqueueShaped(std::vector<std::uint8_t> bytes) {
    if (!m_socket) return;  // frames made while offline are lost, as on a real device
    const Knobs knobs = currentKnobs();
    if (knobs.garbageBefore > 0) {
        // Garbage never contains 0xFE or 0xFA, so it cannot look like a frame start.
        std::vector<std::uint8_t> garbage(knobs.garbageBefore);
        for (auto& byte : garbage) {
            do {
                byte = static_cast<std::uint8_t>(m_random());
            } while (byte == 0xFE || byte == 0xFA);
        }
        bytes.insert(bytes.begin(), garbage.begin(), garbage.end());
    }
    if (knobs.splitSize == 0 || knobs.splitSize >= bytes.size()) {
        m_writeQueue.push_back({std::move(bytes), {}});
    } else {
        for (std::size_t pos = 0; pos < bytes.size(); pos += knobs.splitSize) {
            const std::size_t end = std::min(bytes.size(), pos + knobs.splitSize);
            m_writeQueue.push_back(
                {{bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                  bytes.begin() + static_cast<std::ptrdiff_t>(end)},
                 end < bytes.size() ? knobs.pieceDelay : std::chrono::milliseconds{0}});
        }
    }
    pumpWrites();
}

void SimDevice::Impl::pumpWrites() {
    if (!m_socket || m_writeActive || m_writePaused || m_writeQueue.empty()) return;
    m_writing = std::move(m_writeQueue.front());
    m_writeQueue.pop_front();
    m_writeActive = true;
    asio::async_write(
        *m_socket, asio::buffer(m_writing.bytes),
        [self = shared_from_this(), generation = m_generation](const std::error_code& error,
                                                               std::size_t) {
            if (generation != self->m_generation) return;
            self->m_writeActive = false;
            if (error) {
                self->onConnectionLost(generation);
                return;
            }
            if (self->m_writing.pauseAfter.count() > 0) {
                self->m_writePaused = true;
                self->m_writeTimer.expires_after(self->m_writing.pauseAfter);
                self->m_writeTimer.async_wait([self, generation](const std::error_code& e) {
                    if (e || generation != self->m_generation) return;
                    self->m_writePaused = false;
                    self->pumpWrites();
                });
                return;
            }
            self->pumpWrites();
        });
}

// ---- state shared with tests ----

void SimDevice::Impl::updateState(const std::function<void(DeviceState&)>& change) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        change(m_state);
    }
    m_changed.notify_all();
    if (m_fleetSignal) m_fleetSignal->bump();
}

Knobs SimDevice::Impl::currentKnobs() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_knobs;
}

DeviceState SimDevice::Impl::state() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_state;
}

Knobs SimDevice::Impl::knobs() const {
    return currentKnobs();
}

void SimDevice::Impl::setKnobs(const Knobs& knobs) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_knobs = knobs;
}

std::vector<ReceivedFrame> SimDevice::Impl::frames() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_frames;
}

void SimDevice::Impl::clearFrames() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_frames.clear();
}

void SimDevice::Impl::setFrameObserver(std::function<void(const ReceivedFrame&)> observer) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_observer = std::move(observer);
}

std::uint64_t SimDevice::Impl::received(std::uint8_t command) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_counts[command];
}

bool SimDevice::Impl::waitFrames(
    const std::function<bool(const std::vector<ReceivedFrame>&)>& condition,
    std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return condition(m_frames); });
}

bool SimDevice::Impl::waitState(const std::function<bool(const DeviceState&)>& condition,
                                std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return condition(m_state); });
}

}  // namespace simtcp
