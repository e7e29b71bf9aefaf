// The MQTT bridge against a real broker on loopback: snapshot -> state message latency at a
// subscriber, command -> sink latency, and the process's CPU share with idle devices.
// Prints one row per scenario after a line "TABLE".
//   mqtt_bench [--devices 1000] [--rate 2000] [--seconds 5] [--idle-seconds 10]
#include <mosquitto.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "broker_fixture.h"
#include "mqttbridge/mqtt_bridge.h"
#include "testkit/wait_for.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kBase = "bench";

long long nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double percentileMs(std::vector<long long> ns, double p) {
    if (ns.empty()) return -1;
    std::sort(ns.begin(), ns.end());
    return static_cast<double>(
               ns[static_cast<std::size_t>(p * static_cast<double>(ns.size() - 1))]) /
           1e6;
}

// Latencies of numbered events: the sender stamps event i, the receiver closes it once.
class Stopwatch {
public:
    explicit Stopwatch(std::size_t count) : m_sent(count) {}
    void sent(std::size_t i) { m_sent[i] = nowNs(); }
    void received(std::size_t i) {
        const long long at = nowNs();
        if (i >= m_sent.size() || m_sent[i] == 0) return;
        std::lock_guard guard(m_lock);
        m_latencies.push_back(at - m_sent[i].exchange(0));
    }
    std::vector<long long> latencies() {
        std::lock_guard guard(m_lock);
        return m_latencies;
    }
    std::size_t count() {
        std::lock_guard guard(m_lock);
        return m_latencies.size();
    }

private:
    std::vector<std::atomic<long long>> m_sent;
    std::mutex m_lock;
    std::vector<long long> m_latencies;
};

struct Options {
    int devices = 1000;
    int rate = 2000;
    int seconds = 5;
    int idleSeconds = 10;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--devices")) o.devices = std::clamp(value, 1, 60000);
        if (!std::strcmp(argv[i], "--rate")) o.rate = std::max(value, 1);
        if (!std::strcmp(argv[i], "--seconds")) o.seconds = std::max(value, 1);
        if (!std::strcmp(argv[i], "--idle-seconds")) o.idleSeconds = std::max(value, 1);
    }
    return o;
}

consolecore::DeviceSnapshot device(int id, int seq) {
    consolecore::DeviceSnapshot d;
    d.id = static_cast<std::uint16_t>(id);
    d.name = "rack" + std::to_string(id);
    d.online = true;
    d.mode = static_cast<std::uint8_t>(seq >> 8);  // the update's number rides in mode/number
    d.number = static_cast<std::uint8_t>(seq & 0xFF);
    return d;
}

// The update number in a state message, from its "mode" and "number".
int sequenceOf(std::string_view json) {
    const auto field = [&](const char* key) {
        const auto at = json.find(key);
        return at == std::string_view::npos ? -1 : std::atoi(json.data() + at + std::strlen(key));
    };
    return field("\"mode\":") * 256 + field("\"number\":");
}

struct Subscriber {
    Stopwatch* states = nullptr;
    int devices = 0;
    std::atomic<int> seen{0};
    std::atomic<int> configs{0};
    std::vector<std::atomic<bool>> first;
    mosquitto* client = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    const auto options = parse(argc, argv);
    const int devices = options.devices;
    testkit::TempDir dir;
    // Nagle off in the broker and in the client that stands for the automation, as a setup
    // that wants command latency would have it (otherwise a command waits for an ACK).
    mqtttest::Broker broker(dir.path().string(), "set_tcp_nodelay true\n");
    if (!broker.start()) {
        std::fprintf(stderr, "broker did not start\n");
        return 1;
    }
    mosquitto_lib_init();

    const std::size_t updates = static_cast<std::size_t>(options.rate) * options.seconds;
    Stopwatch states(updates + static_cast<std::size_t>(devices));
    Subscriber sub;
    sub.states = &states;
    sub.devices = devices;
    sub.first = std::vector<std::atomic<bool>>(static_cast<std::size_t>(devices));
    sub.client = mosquitto_new(nullptr, true, &sub);
    mosquitto_int_option(sub.client, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(sub.client, [](mosquitto* c, void*, int) {
        mosquitto_subscribe(c, nullptr, "bench/+/state", 0);
        mosquitto_subscribe(c, nullptr, "homeassistant/#", 0);
    });
    mosquitto_message_callback_set(
        sub.client, [](mosquitto*, void* data, const mosquitto_message* m) {
            auto& self = *static_cast<Subscriber*>(data);
            if (std::strncmp(m->topic, "homeassistant/", 14) == 0) {
                ++self.configs;
                return;
            }
            const int id = std::atoi(m->topic + std::strlen(kBase) + 1);
            const int seq = sequenceOf(
                {static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)});
            if (id < 0 || id >= self.devices || seq < 0) return;
            if (!self.first[id].exchange(true)) ++self.seen;
            // Update `seq` of device `id` is event (seq - 1) * devices + id; seq 0 is the setup.
            if (seq > 0)
                self.states->received(static_cast<std::size_t>(seq - 1) * self.devices + id);
        });
    mosquitto_connect(sub.client, "127.0.0.1", broker.port(), 30);
    mosquitto_loop_start(sub.client);

    const std::size_t commandCount = 2000;
    Stopwatch commands(commandCount);
    consolecore::MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port();
    settings.baseTopic = kBase;
    mqttbridge::MqttBridge bridge(
        settings,
        {[&](const mqttbridge::Command& command) {
             const auto& outlet = std::get<mqttbridge::OutletCommand>(command);
             commands.received(static_cast<std::size_t>(outlet.outlet - 1) * devices + outlet.id);
         },
         {}});
    if (!bridge.start() || !testkit::waitFor([&] { return bridge.connected(); })) {
        std::fprintf(stderr, "bridge did not connect\n");
        return 1;
    }
    for (int id = 0; id < devices; ++id) bridge.publishDevice(device(id, 0));
    const int configs = devices * 17;  // 16 switches and a binary sensor each
    if (!testkit::waitFor([&] { return sub.seen == devices && sub.configs == configs; },
                          std::chrono::seconds(60))) {
        std::fprintf(stderr, "only %d of %d states and %d of %d configs arrived\n", sub.seen.load(),
                     devices, sub.configs.load(), configs);
        return 1;
    }

    // 1. Snapshots at the given rate, each device in turn.
    const auto period = std::chrono::nanoseconds(1000000000LL / options.rate);
    auto start = Clock::now();
    for (std::size_t i = 0; i < updates; ++i) {
        std::this_thread::sleep_until(start + period * i);  // pacing, not waiting for a result
        const int id = static_cast<int>(i % devices);
        const int seq = static_cast<int>(i / devices) + 1;
        states.sent(i);
        bridge.publishDevice(device(id, seq));
    }
    testkit::waitFor([&] { return states.count() == updates; }, std::chrono::seconds(10));
    const auto stateLatency = states.latencies();

    // 2. Outlet commands from another client, at half the rate (a human or automation pace
    // is far lower).
    start = Clock::now();
    const auto commandPeriod = period * 2;
    for (std::size_t i = 0; i < commandCount; ++i) {
        std::this_thread::sleep_until(start + commandPeriod * i);
        const int id = static_cast<int>(i % devices);
        const int outlet = static_cast<int>(i / devices) % 16 + 1;
        const std::string topic = std::string(kBase) + "/" + std::to_string(id) + "/outlet/" +
                                  std::to_string(outlet) + "/set";
        commands.sent(static_cast<std::size_t>(outlet - 1) * devices + id);
        mosquitto_publish(sub.client, nullptr, topic.c_str(), 2, "ON", 0, false);
    }
    testkit::waitFor([&] { return commands.count() == commandCount; }, std::chrono::seconds(10));
    const auto commandLatency = commands.latencies();

    // 3. Idle: every device published, nothing changes.
    const double cpu0 = cpuSeconds();
    const auto idleStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(options.idleSeconds));  // measured span
    const double wall = std::chrono::duration<double>(Clock::now() - idleStart).count();
    const double share = 100.0 * (cpuSeconds() - cpu0) / wall;

    bridge.stop();
    mosquitto_disconnect(sub.client);
    mosquitto_loop_stop(sub.client, false);
    mosquitto_destroy(sub.client);

    const double s50 = percentileMs(stateLatency, 0.50), s99 = percentileMs(stateLatency, 0.99);
    const double c50 = percentileMs(commandLatency, 0.50);
    const double c99 = percentileMs(commandLatency, 0.99);
    std::printf("states: %zu of %zu, p50 %.2f ms, p99 %.2f ms\n", stateLatency.size(), updates, s50,
                s99);
    std::printf("commands: %zu of %zu, p50 %.2f ms, p99 %.2f ms\n", commandLatency.size(),
                commandCount, c50, c99);
    std::printf("idle: %.2f %% of one core over %.1f s\n", share, wall);
    std::printf("\nTABLE\n");
    std::printf(
        "MQTT snapshot -> state message, %d ids at %d/s|p50 %.2f ms, p99 %.2f ms "
        "(%zu of %zu)|p99 < 20 ms|-|%s\n",
        devices, options.rate, s50, s99, stateLatency.size(), updates,
        s99 >= 0 && s99 < 20.0 && stateLatency.size() == updates ? "met" : "MISSED");
    std::printf(
        "MQTT outlet command -> bridge sink|p50 %.2f ms, p99 %.2f ms (%zu of %zu)|"
        "p99 < 20 ms|-|%s\n",
        c50, c99, commandLatency.size(), commandCount,
        c99 >= 0 && c99 < 20.0 && commandLatency.size() == commandCount ? "met" : "MISSED");
    std::printf("MQTT bridge, %d idle devices, %d s|%.2f %% of one core|< 2 %%|-|%s\n", devices,
                options.idleSeconds, share, share < 2.0 ? "met" : "MISSED");
    return 0;
}
