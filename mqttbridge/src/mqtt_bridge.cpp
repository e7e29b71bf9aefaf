// The bridge's thread: one libmosquitto client driven by poll(), so the client is touched by
// this thread only, and a wake-up descriptor through which callers hand over work.
#include "mqttbridge/mqtt_bridge.h"

#include <mosquitto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "logbase/repeat_limiter.h"
#include "mqttbridge/bridge_payloads.h"
#include "pending_updates.h"

namespace mqttbridge {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kIdleWakeup = std::chrono::milliseconds(1000);  // keep-alive upkeep
constexpr auto kStopFlushLimit = std::chrono::seconds(2);
constexpr int kQosAtLeastOnce = 1;
// Everything the bridge publishes is retained and sent again after every reconnect, so
// at-most-once suffices, and the client keeps no per-message acknowledgement lists.
constexpr int kQosPublish = 0;
// Command topics whose retained message was already logged as ignored.
constexpr std::size_t kMaxRetainedTopicsLogged = 1024;

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string defaultClientId() {
    std::random_device random;
    char id[40];
    std::snprintf(id, sizeof id, "vantrel-%d-%08x", static_cast<int>(getpid()), random());
    return id;
}

// Text from the broker made safe and short for one log line: printable, whole characters.
std::string logExcerpt(std::string_view text, std::size_t limit) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (out.size() >= limit && (byte & 0xC0) != 0x80) {
            out += "...";
            break;
        }
        out.push_back(byte < 0x20 || byte == 0x7F ? '?' : c);
    }
    return out;
}

std::string settingsProblem(const consolecore::MqttSettings& settings) {
    if (settings.host.empty()) return "未设置Host";
    if (settings.port < 1 || settings.port > 65535) return "Port不对";
    if (settings.baseTopic.empty() ||
        settings.baseTopic.find_first_of(std::string("+#\0", 3)) != std::string::npos) {
        return "BaseTopic不对";
    }
    return {};
}

}  // namespace

struct MqttBridge::Impl {
    Impl(consolecore::MqttSettings s, BridgeHooks h, BridgeTiming t)
        : settings(std::move(s)),
          hooks(std::move(h)),
          timing(t),
          nodeId(discoveryNodeId(settings.baseTopic)),
          wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          refusals(timing.refusalLogPeriod, timing.clock),
          backoff(timing.reconnectMin) {}
    ~Impl() {
        if (wakeFd >= 0) ::close(wakeFd);
    }

    // --- Shared with callers.
    PendingUpdates pending;
    std::atomic<bool> stopping{false};
    std::atomic<bool> sessionUp{false};

    const consolecore::MqttSettings settings;
    const BridgeHooks hooks;
    const BridgeTiming timing;
    const std::string nodeId;
    const int wakeFd;  // wakes the thread; made once, so callers read it without the lock
    mosquitto* client = nullptr;
    std::thread thread;

    // --- The bridge thread's own.
    logbase::RepeatLimiter refusals;
    std::unordered_set<std::string> retainedLogged;
    bool justConnected = false;
    bool outageLogged = false;
    std::chrono::milliseconds backoff;
    Clock::time_point nextAttempt{};
    std::unordered_map<std::uint16_t, bool> availabilitySent;

    void wake() {
        if (wakeFd < 0) return;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
    }

    bool isKnown(std::uint16_t id) {
        return hooks.isKnownId ? hooks.isKnownId(id) : pending.holds(id);
    }

    void publish(const std::string& topic, const std::string& payload) {
        mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), kQosPublish, true);
    }

    // --- Connection.
    void attemptConnect() {
        const int rc = mosquitto_connect_async(client, settings.host.c_str(), settings.port,
                                               timing.keepAliveSec);
        if (rc != MOSQ_ERR_SUCCESS) {
            logOutage(rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
            scheduleRetry();
        }
    }

    void scheduleRetry() {
        nextAttempt = Clock::now() + backoff;
        backoff = std::min(backoff * 2, timing.reconnectMax);
    }

    void logOutage(const std::string& why) {
        if (outageLogged) return;
        outageLogged = true;
        logEvent(logcode::kFailure, logcode::kOther,
                 "MQTT连接失败:" + std::string(settings.host.c_str()) + ":" +
                     std::to_string(settings.port) + " " + why.c_str());
    }

    void connectionClosed() {
        if (sessionUp.exchange(false)) {
            logEvent(logcode::kFailure, logcode::kOther,
                     "MQTT连接断开:" + std::string(settings.host.c_str()) + ":" +
                         std::to_string(settings.port));
            outageLogged = true;
        } else {
            logOutage("无法连接");
        }
        scheduleRetry();
    }

    void sessionStarted() {
        justConnected = false;
        sessionUp = true;
        outageLogged = false;
        backoff = timing.reconnectMin;
        logEvent(logcode::kRun, logcode::kOther,
                 "MQTT已连接:" + std::string(settings.host.c_str()) + ":" +
                     std::to_string(settings.port));
        const std::string outlets = settings.baseTopic + "/+/outlet/+/set";
        const std::string groups = settings.baseTopic + "/group/+/+/set";
        mosquitto_subscribe(client, nullptr, outlets.c_str(), kQosAtLeastOnce);
        mosquitto_subscribe(client, nullptr, groups.c_str(), kQosAtLeastOnce);
        publish(statusTopic(settings.baseTopic), "online");
        // The broker may have lost its retained messages: send everything again.
        availabilitySent.clear();
        pending.resendAll();
    }

    // --- Sending.
    void sendPending() {
        const auto batch = pending.take();
        const std::string& base = settings.baseTopic;
        for (const auto& [id, payload] : batch.conflicts) publish(conflictTopic(base, id), payload);
        for (const auto& item : batch.devices) {
            const auto id = item.snapshot.id;
            if (item.discovery) {
                for (const auto& message : discoveryConfigs(base, nodeId, item.snapshot)) {
                    publish(message.topic, message.payload);
                }
            }
            publish(stateTopic(base, id), stateJson(item.snapshot));
            const auto sent = availabilitySent.find(id);
            if (sent == availabilitySent.end() || sent->second != item.snapshot.online) {
                availabilitySent[id] = item.snapshot.online;
                publish(availabilityTopic(base, id), item.snapshot.online ? "online" : "offline");
            }
        }
    }

    // --- Commands.
    void received(const mosquitto_message& message) {
        const std::string_view topic = message.topic ? message.topic : "";
        const std::string_view payload(static_cast<const char*>(message.payload),
                                       message.payload ? message.payloadlen : 0);
        if (message.retain) {
            ignoreRetained(topic, payload);
            return;
        }
        auto parsed = parseCommand(settings.baseTopic, topic, payload);
        if (parsed.ok()) {
            const auto& command = std::get<Command>(parsed.value);
            const auto* outlet = std::get_if<OutletCommand>(&command);
            if (!outlet || isKnown(outlet->id)) {
                hooks.onCommand(command);
                return;
            }
            parsed.value = std::string("未知设备");
        }
        // One kind of refusal is one line, then a count: a flood of bad commands cannot
        // flood the log.
        const std::string& reason = std::get<std::string>(parsed.value);
        const std::string text =
            logExcerpt(topic, 120) + " " + logExcerpt(payload, 24) + " (" + reason + ")";
        refusals.log(logcode::kFailure, logcode::kOther, "invalid:" + reason,
                     "MQTT命令无效:" + text);
    }

    // A retained message on a command topic is an old command the broker replays at every
    // subscription: acting on it would switch again at every connection.
    void ignoreRetained(std::string_view topic, std::string_view payload) {
        const std::string key(topic);
        if (retainedLogged.count(key) != 0) return;
        const std::string text =
            "MQTT忽略保留的命令:" + logExcerpt(topic, 120) + " " + logExcerpt(payload, 24);
        if (retainedLogged.size() < kMaxRetainedTopicsLogged) {
            retainedLogged.insert(key);
            logEvent(logcode::kFailure, logcode::kOther, text);
        } else {
            refusals.log(logcode::kFailure, logcode::kOther, "retained", text);
        }
    }

    // --- The thread.
    void run() {
        for (;;) {
            if (stopping) break;
            if (mosquitto_socket(client) < 0 && Clock::now() >= nextAttempt) attemptConnect();
            pollOnce(mosquitto_socket(client));
            if (justConnected) sessionStarted();
            // While earlier bytes are still queued, newer snapshots keep replacing older ones
            // in the table instead of piling up in the client's buffer.
            if (sessionUp && !mosquitto_want_write(client)) sendPending();
            refusals.flush();
        }
        shutdown();
        refusals.flush(true);
    }

    void pollOnce(int socket) {
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {socket, POLLIN, 0}};
        if (socket >= 0 && mosquitto_want_write(client)) fds[1].events |= POLLOUT;
        auto wait = kIdleWakeup;
        if (socket < 0) {
            const auto untilRetry = std::chrono::duration_cast<std::chrono::milliseconds>(
                nextAttempt - Clock::now() + std::chrono::microseconds(999));
            wait = std::clamp(untilRetry, std::chrono::milliseconds(0), kIdleWakeup);
        }
        const int ready = ::poll(fds, socket >= 0 ? 2 : 1, static_cast<int>(wait.count()));
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            std::uint64_t count;
            [[maybe_unused]] const auto got = ::read(wakeFd, &count, sizeof count);
        }
        if (socket < 0) return;
        if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) mosquitto_loop_read(client, 1);
        if (mosquitto_socket(client) >= 0 && (fds[1].revents & POLLOUT)) {
            mosquitto_loop_write(client, 1);
        }
        if (mosquitto_socket(client) >= 0) mosquitto_loop_misc(client);
        if (mosquitto_socket(client) < 0) connectionClosed();
    }

    // Announces "offline" (a clean disconnect discards the will) and lets the bytes go out.
    void shutdown() {
        if (mosquitto_socket(client) < 0) return;
        const bool wasUp = sessionUp.exchange(false);
        if (wasUp) publish(statusTopic(settings.baseTopic), "offline");
        mosquitto_disconnect(client);
        const auto deadline = Clock::now() + kStopFlushLimit;
        while (mosquitto_socket(client) >= 0 && Clock::now() < deadline) {
            pollfd fd{mosquitto_socket(client), POLLIN, 0};
            if (mosquitto_want_write(client)) fd.events |= POLLOUT;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (::poll(&fd, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) break;
            if (fd.revents & POLLOUT) mosquitto_loop_write(client, 1);
            if (mosquitto_socket(client) >= 0 && (fd.revents & (POLLIN | POLLERR | POLLHUP))) {
                mosquitto_loop_read(client, 1);
            }
        }
        if (wasUp) {
            logEvent(logcode::kRun, logcode::kOther,
                     "MQTT已断开:" + std::string(settings.host.c_str()) + ":" +
                         std::to_string(settings.port));
        }
    }
};

MqttBridge::MqttBridge(consolecore::MqttSettings settings, BridgeHooks hooks, BridgeTiming timing)
    : m_impl(std::make_unique<Impl>(std::move(settings), std::move(hooks), timing)) {}

MqttBridge::~MqttBridge() {
    stop();
}

bool MqttBridge::start() {
    auto& impl = *m_impl;
    if (impl.thread.joinable() || impl.client) return false;
    auto problem = settingsProblem(impl.settings);
    if (problem.empty() && !impl.hooks.onCommand) problem = "没有命令接收者";
    if (!problem.empty()) {
        logEvent(logcode::kFailure, logcode::kOther,
                 "MQTT设置无效:" + std::string(problem.c_str()));
        return false;
    }
    initLibrary();
    const std::string clientId =
        impl.settings.clientId.empty() ? defaultClientId() : impl.settings.clientId;
    impl.client = mosquitto_new(clientId.c_str(), true, &impl);
    const std::string status = statusTopic(impl.settings.baseTopic);
    int rc = impl.client && impl.wakeFd >= 0 ? MOSQ_ERR_SUCCESS : MOSQ_ERR_NOMEM;
    if (rc == MOSQ_ERR_SUCCESS) {
        // State messages are small and go out as they come: not held back for an ACK.
        rc = mosquitto_int_option(impl.client, MOSQ_OPT_TCP_NODELAY, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS) {
        rc = mosquitto_will_set(impl.client, status.c_str(), 7, "offline", kQosAtLeastOnce, true);
    }
    if (rc == MOSQ_ERR_SUCCESS && !impl.settings.user.empty()) {
        rc = mosquitto_username_pw_set(
            impl.client, impl.settings.user.c_str(),
            impl.settings.password.empty() ? nullptr : impl.settings.password.c_str());
    }
    if (rc == MOSQ_ERR_SUCCESS && !impl.settings.caFile.empty()) {
        rc = mosquitto_tls_set(impl.client, impl.settings.caFile.c_str(), nullptr, nullptr, nullptr,
                               nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        logEvent(logcode::kFailure, logcode::kOther,
                 "MQTT客户端无法创建:" + std::string(mosquitto_strerror(rc)));
        if (impl.client) mosquitto_destroy(impl.client);
        impl.client = nullptr;
        return false;
    }
    mosquitto_connect_callback_set(impl.client, [](mosquitto*, void* data, int rc) {
        auto& self = *static_cast<Impl*>(data);
        if (rc == 0) {
            self.justConnected = true;
        } else {
            self.logOutage(std::string("被拒绝:") + mosquitto_connack_string(rc));
        }
    });
    mosquitto_message_callback_set(impl.client,
                                   [](mosquitto*, void* data, const mosquitto_message* message) {
                                       static_cast<Impl*>(data)->received(*message);
                                   });
    impl.thread = std::thread([&impl] { impl.run(); });
    return true;
}

void MqttBridge::stop() {
    auto& impl = *m_impl;
    if (!impl.thread.joinable()) return;
    impl.stopping = true;
    impl.wake();
    impl.thread.join();
    mosquitto_destroy(impl.client);
    impl.client = nullptr;
}

void MqttBridge::publishDevice(const consolecore::DeviceSnapshot& device) {
    if (m_impl->pending.update(device)) m_impl->wake();
}

void MqttBridge::removeDevice(std::uint16_t id) {
    if (m_impl->pending.remove(id)) m_impl->wake();
}

void MqttBridge::publishConflict(std::uint16_t id, const std::string& newcomer,
                                 const std::string& online) {
    if (m_impl->pending.conflict(id, conflictJson(id, newcomer, online))) m_impl->wake();
}

void MqttBridge::clearConflict(std::uint16_t id) {
    if (m_impl->pending.conflict(id, {})) m_impl->wake();
}

bool MqttBridge::connected() const {
    return m_impl->sessionUp;
}

}  // namespace mqttbridge
