// The HTTP API on the real engine and link with a simulated fleet in-process: how long
// GET /api/devices takes for the whole fleet, with and without idle event streams open; and,
// with a second fleet sending status frames, how long a frame takes to reach the clients of
// the event stream. Prints one row per scenario after a line "TABLE".
//   web_bench [--devices 5000] [--requests 200] [--streams 20]
//             [--latency-devices 1000] [--rate 2000] [--seconds 5]
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine_thread.h"
#include "http_test_client.h"
#include "lanwire/lanwire_options.h"
#include "platform/fd_limits.h"
#include "protocol/device_frames.h"
#include "public/data_path.h"
#include "simtcp/sim_fleet.h"
#include "testkit/wait_for.h"
#include "webapi/user_store.h"
#include "webapi/web_api.h"

namespace {

using Clock = std::chrono::steady_clock;

double percentileMs(std::vector<double> ms, double p) {
    if (ms.empty()) return -1;
    std::sort(ms.begin(), ms.end());
    return ms[static_cast<std::size_t>(p * static_cast<double>(ms.size() - 1))];
}

std::uint16_t freePort() {
    webtest::asio::io_context io;
    webtest::tcp::acceptor acceptor(io, {webtest::asio::ip::make_address("127.0.0.1"), 0});
    return acceptor.local_endpoint().port();
}

// Milliseconds of `requests` GETs of the device list on one kept-alive connection.
std::vector<double> timeDeviceList(std::uint16_t port, const webtest::Headers& who, int requests) {
    webtest::Client client(port);
    std::vector<double> ms;
    for (int i = 0; i < requests; ++i) {
        const auto start = Clock::now();
        const auto reply = client.send(webtest::http::verb::get, "/api/devices", {}, who);
        if (reply.status != 200) break;
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return ms;
}

// One event stream's reader: the (device, outlet word) of every device event and when it came.
struct Seen {
    std::uint16_t id;
    std::uint16_t word;
    Clock::time_point at;
};

void readEvents(webtest::Client& client, const std::atomic<bool>& stop, std::vector<Seen>& seen) {
    std::string pending;
    while (!stop) {
        pending += client.readUntil([](const std::string& text) { return !text.empty(); },
                                    std::chrono::milliseconds(100));
        const auto now = Clock::now();
        std::size_t end;
        while ((end = pending.find("\n\n")) != std::string::npos) {
            const std::string event = pending.substr(0, end);
            pending.erase(0, end + 2);
            if (event.rfind("event: device\ndata: ", 0) != 0) continue;
            const auto json = nlohmann::json::parse(event.substr(event.find('{')), nullptr, false);
            if (!json.is_object()) continue;
            std::uint16_t word = 0;
            for (std::size_t k = 0; k < 16; ++k) {
                if (json["outlets"][k].get<bool>())
                    word = static_cast<std::uint16_t>(word | 1u << k);
            }
            seen.push_back({json["id"].get<std::uint16_t>(), word, now});
        }
    }
}

// Status frame sent → device event read, over `clients` streams: `devices` devices send
// `rate` frames/s in turn for `seconds`; each frame's outlet word is its device's running
// count, so every event names the frame it reports. Returns the latencies and the count of
// frames sent times clients (what full delivery would be).
std::pair<std::vector<double>, std::size_t> timeEvents(std::uint16_t port,
                                                       const webtest::Headers& who, int devices,
                                                       int rate, int seconds, int clients) {
    simtcp::SimFleet fleet("127.0.0.1", GetLanwirePort(), 2);
    for (int i = 0; i < devices; ++i) {
        fleet.add(simtcp::makeDeviceConfig(static_cast<std::size_t>(20000 + i),
                                           static_cast<std::uint16_t>(20000 + i)));
    }
    fleet.start();
    webtest::Client probe(port);
    testkit::waitFor(
        [&] {
            const auto reply = probe.send(webtest::http::verb::get, "/api/devices", {}, who);
            if (reply.status != 200) return false;
            std::size_t mine = 0;
            for (const auto& d : nlohmann::json::parse(reply.body)) mine += d["id"] >= 20000;
            return mine == static_cast<std::size_t>(devices);
        },
        std::chrono::minutes(2));
    std::vector<std::unique_ptr<webtest::Client>> streams;
    std::vector<std::vector<Seen>> seen(static_cast<std::size_t>(clients));
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int c = 0; c < clients; ++c) {
        streams.push_back(std::make_unique<webtest::Client>(port));
        streams.back()->openStream("/api/events", who);
    }
    for (int c = 0; c < clients; ++c) {
        readers.emplace_back(readEvents, std::ref(*streams[static_cast<std::size_t>(c)]),
                             std::cref(stop), std::ref(seen[static_cast<std::size_t>(c)]));
    }
    std::map<std::pair<std::uint16_t, std::uint16_t>, Clock::time_point> sent;
    const auto start = Clock::now();
    const long frames = static_cast<long>(rate) * seconds;
    for (long k = 0; k < frames; ++k) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(k * 1000000 / rate));
        const auto index = static_cast<std::size_t>(k % devices);
        const auto id = static_cast<std::uint16_t>(20000 + index);
        const auto word = static_cast<std::uint16_t>(k / devices + 1);
        protocol::StatusPayload status;
        status.header.deviceId = id;
        status.outlets = protocol::expandChannelWord(word);
        sent[{id, word}] = Clock::now();
        fleet.device(index).sendFrame(protocol::buildStatusFrame(protocol::NET_CMD_STATUS, status));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the last events on their way
    stop = true;
    for (auto& reader : readers) reader.join();
    std::vector<double> ms;
    for (const auto& client : seen) {
        for (const Seen& event : client) {
            const auto it = sent.find({event.id, event.word});
            if (it == sent.end()) continue;
            ms.push_back(std::chrono::duration<double, std::milli>(event.at - it->second).count());
        }
    }
    fleet.stop();
    return {ms, static_cast<std::size_t>(frames) * static_cast<std::size_t>(clients)};
}

}  // namespace

int main(int argc, char** argv) {
    int devices = 5000;
    int requests = 200;
    int streams = 20;
    int latencyDevices = 1000;
    int rate = 2000;
    int seconds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--devices") == 0) devices = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--requests") == 0) requests = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--streams") == 0) streams = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--latency-devices") == 0) latencyDevices = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--rate") == 0) rate = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[i + 1]);
    }
    platform::raiseDescriptorLimit();
    testkit::TempDir dir;
    const std::string folder = dir.path().string() + "/";
    SetDataPath(folder);
    webapi::UserStore users(folder + "Users.ini");
    const std::string token = users.setToken("bench", webapi::Role::Viewer);
    std::string problem;
    if (!users.save(problem)) {
        std::fprintf(stderr, "web_bench: %s\n", problem.c_str());
        return 1;
    }
    const webtest::Headers who{{"Authorization", "Bearer " + token}};

    consolecore::beginApplication();
    consolecore::SessionOptions options;
    options.programFolder = folder;
    options.port = 0;
    options.taskFolder = dir.file("TimingTask");
    webapi::WebOptions web;
    web.port = freePort();
    {
        coretest::EngineThread console(options, webapi::webApiFactory(web));
        simtcp::SimFleet fleet("127.0.0.1", GetLanwirePort(), 2);
        for (int i = 0; i < devices; ++i) {
            fleet.add(simtcp::makeDeviceConfig(static_cast<std::size_t>(i),
                                               static_cast<std::uint16_t>(1000 + i)));
        }
        fleet.start();
        webtest::Client probe(*web.port);
        const bool all = testkit::waitFor(
            [&] {
                const auto reply = probe.send(webtest::http::verb::get, "/api/devices", {}, who);
                return reply.status == 200 && nlohmann::json::parse(reply.body).size() ==
                                                  static_cast<std::size_t>(devices);
            },
            std::chrono::minutes(5));
        if (!all) {
            std::fprintf(stderr, "web_bench: not every device registered\n");
            return 1;
        }
        const auto plain = timeDeviceList(*web.port, who, requests);
        std::vector<std::unique_ptr<webtest::Client>> idle;
        for (int i = 0; i < streams; ++i) {
            idle.push_back(std::make_unique<webtest::Client>(*web.port));
            idle.back()->openStream("/api/events", who);
        }
        const auto withStreams = timeDeviceList(*web.port, who, requests);
        idle.clear();
        const auto [latency, expected] =
            timeEvents(*web.port, who, latencyDevices, rate, seconds, streams);
        // Rows in the benchmark table's form: scenario|figure|goal|described design|verdict.
        std::printf("TABLE\n");
        const double p99 = percentileMs(plain, 0.99);
        const double p99Streams = percentileMs(withStreams, 0.99);
        std::printf(
            "HTTP API: GET /api/devices, %d devices|p50 %.1f ms, p99 %.1f ms|p99 < 50 ms|-|%s\n",
            devices, percentileMs(plain, 0.5), p99, p99 < 50 ? "met" : "MISSED");
        std::printf(
            "HTTP API: GET /api/devices, %d devices, %d idle event streams|p50 %.1f ms, p99 "
            "%.1f ms|p99 < 50 ms|-|%s\n",
            devices, streams, percentileMs(withStreams, 0.5), p99Streams,
            p99Streams < 50 ? "met" : "MISSED");
        const double p99Events = percentileMs(latency, 0.99);
        std::printf(
            "HTTP API: status frame to event at the client, %d devices at %d frames/s, %d "
            "streams|p50 %.1f ms, p99 %.1f ms (%zu of %zu events)|p99 < 100 ms|-|%s\n",
            latencyDevices, rate, streams, percentileMs(latency, 0.5), p99Events, latency.size(),
            expected, !latency.empty() && p99Events < 100 ? "met" : "MISSED");
    }
    consolecore::endApplication();
    SetDataPath("");
    return 0;
}
