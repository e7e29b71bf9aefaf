// SimFleet: devices sharing one I/O context, and the helpers that lay out a fleet.
#include "simtcp/sim_fleet.h"

#include <condition_variable>
#include <thread>

#include "device_impl.h"

namespace simtcp {

std::string loopbackAddress(std::size_t index) {
    // Hosts with last octets 1..254 counted from 127.0.0.1; index 0 is the second of them.
    const std::size_t position = index + 1;
    const auto host = static_cast<std::uint32_t>(position / 254 * 256 + 1 + position % 254);
    return "127." + std::to_string((host >> 16) & 0xFF) + "." + std::to_string((host >> 8) & 0xFF) +
           "." + std::to_string(host & 0xFF);
}

DeviceConfig makeDeviceConfig(std::size_t index, std::uint16_t id) {
    DeviceConfig config;
    config.id = id;
    config.name = "SIM" + std::to_string(id);
    config.sourceAddress = loopbackAddress(index);
    config.ipAddress = 0xC0A80000u | static_cast<std::uint32_t>(id);  // 192.168.x.y
    config.mask = 0xFFFF0000u;
    config.gateway = 0xC0A80001u;
    config.mac = {0x02,
                  0x56,
                  0x54,
                  0x00,
                  static_cast<std::uint8_t>(id >> 8),
                  static_cast<std::uint8_t>(id & 0xFF)};
    return config;
}

std::vector<DeviceConfig> makeFleetConfigs(std::size_t count, std::uint16_t firstId,
                                           unsigned groups, GroupMode mode) {
    std::vector<DeviceConfig> configs;
    std::vector<std::uint8_t> nextNumber(groups + 1, 1);
    for (std::size_t i = 0; i < count; ++i) {
        DeviceConfig config = makeDeviceConfig(i, static_cast<std::uint16_t>(firstId + i));
        if (groups > 0) {
            const auto group = static_cast<std::uint8_t>(1 + i % groups);
            config.group = group;
            config.number = nextNumber[group]++;
            switch (mode) {
                case GroupMode::Parallel:
                    config.mode = 0;
                    break;
                case GroupMode::Serial:
                    config.mode = 1;
                    break;
                case GroupMode::Mixed:
                    config.mode = group % 2 == 0 ? 1 : 0;
                    break;
            }
        }
        configs.push_back(config);
    }
    return configs;
}

struct SimFleet::Context {
    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    asio::ip::tcp::endpoint target;
    std::vector<std::thread> threads;
    std::vector<std::shared_ptr<SimDevice::Impl>> impls;
    std::shared_ptr<ChangeSignal> signal = std::make_shared<ChangeSignal>();
};

SimFleet::SimFleet(std::string host, std::uint16_t port, unsigned threads)
    : m_context(std::make_unique<Context>()) {
    m_context->target = asio::ip::tcp::endpoint(asio::ip::make_address(host), port);
    m_context->work.emplace(m_context->io.get_executor());
    for (unsigned i = 0; i < std::max(1u, threads); ++i) {
        m_context->threads.emplace_back([ctx = m_context.get()] { ctx->io.run(); });
    }
}

SimFleet::~SimFleet() {
    stop();
    m_devices.clear();
    m_context.reset();  // pending handlers go, and the devices they still hold
}

SimDevice& SimFleet::add(const DeviceConfig& config, const Knobs& knobs) {
    auto impl = std::make_shared<SimDevice::Impl>(m_context->io, m_context->target, config, knobs,
                                                  m_context->signal);
    m_context->impls.push_back(impl);
    m_devices.push_back(std::make_unique<SimDevice>(impl));
    m_started.push_back(false);
    return *m_devices.back();
}

void SimFleet::start() {
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        if (m_started[i]) continue;
        m_started[i] = true;
        m_devices[i]->connect();
    }
}

void SimFleet::stop() {
    if (m_context->threads.empty()) return;
    // Let every device close on its own strand, then end the threads.
    std::mutex lock;
    std::condition_variable allDone;
    std::size_t pending = m_context->impls.size();
    for (auto& impl : m_context->impls) {
        impl->shutdown([&] {
            std::lock_guard<std::mutex> guard(lock);
            if (--pending == 0) allDone.notify_all();
        });
    }
    {
        std::unique_lock<std::mutex> guard(lock);
        allDone.wait(guard, [&] { return pending == 0; });
    }
    m_context->work.reset();
    m_context->io.stop();
    for (auto& thread : m_context->threads) thread.join();
    m_context->threads.clear();
}

SimDevice* SimFleet::find(std::uint16_t id) {
    for (auto& device : m_devices) {
        if (device->id() == id) return device.get();
    }
    return nullptr;
}

bool SimFleet::waitAll(const std::function<bool(const SimDevice&)>& condition,
                       std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t firstPending = 0;  // devices before it satisfied the condition already
    for (;;) {
        const std::uint64_t seen = m_context->signal->version();
        while (firstPending < m_devices.size() && condition(*m_devices[firstPending])) {
            ++firstPending;
        }
        if (firstPending == m_devices.size()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        m_context->signal->waitPast(seen, deadline);
    }
}

}  // namespace simtcp
