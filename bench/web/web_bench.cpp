// The HTTP API on the real engine and link with a simulated fleet in-process: how long
// GET /api/devices takes for the whole fleet, with and without idle event streams open.
// Prints one row per scenario after a line "TABLE".
//   web_bench [--devices 5000] [--requests 200] [--streams 20]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine_thread.h"
#include "http_test_client.h"
#include "lanwire/lanwire_options.h"
#include "platform/fd_limits.h"
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

}  // namespace

int main(int argc, char** argv) {
    int devices = 5000;
    int requests = 200;
    int streams = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--devices") == 0) devices = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--requests") == 0) requests = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--streams") == 0) streams = std::atoi(argv[i + 1]);
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
    }
    consolecore::endApplication();
    SetDataPath("");
    return 0;
}
