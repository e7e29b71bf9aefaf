// link_id_flood: one simulated connection that registers many device ids and answers no
// heartbeat, against a running console. Prints when the registrations were sent and when the
// console closed the connection.
//   link_id_flood --port N [--count 8000] [--first-id 20000] [--gap-us 1000] [--timeout 600]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "protocol/device_frames.h"
#include "simtcp/sim_fleet.h"

int main(int argc, char** argv) {
    std::uint16_t port = 0;
    unsigned count = 8000;
    unsigned firstId = 20000;
    unsigned gapUs = 1000;
    unsigned timeout = 600;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const unsigned value = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        if (arg == "--port") port = static_cast<std::uint16_t>(value);
        if (arg == "--count") count = value;
        if (arg == "--first-id") firstId = value;
        if (arg == "--gap-us") gapUs = value;
        if (arg == "--timeout") timeout = value;
    }
    if (port == 0 || count == 0 || firstId + count > 65536) {
        std::fprintf(stderr, "usage: %s --port N [--count N] [--first-id N] [--gap-us N]\n",
                     argv[0]);
        return 2;
    }
    simtcp::SimFleet fleet("127.0.0.1", port, 1);
    simtcp::Knobs knobs;
    knobs.answerHeartbeats = false;
    knobs.reconnect = false;
    knobs.recordFrames = false;
    auto& device =
        fleet.add(simtcp::makeDeviceConfig(4000, static_cast<std::uint16_t>(firstId)), knobs);
    fleet.start();
    if (!device.waitState([](const auto& s) { return s.connected; }, std::chrono::seconds(10))) {
        std::printf("link_id_flood: could not connect\n");
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    // The device's own registration went out on connect; the rest follow, paced so that the
    // console's receive queue keeps up.
    for (unsigned id = firstId + 1; id < firstId + count; ++id) {
        protocol::RegisterPayload payload;
        payload.header.deviceId = static_cast<std::uint16_t>(id);
        payload.name = std::to_string(id);
        payload.name.insert(payload.name.begin(), 'F');
        device.sendFrame(protocol::buildRegisterFrame(payload));
        std::this_thread::sleep_for(std::chrono::microseconds(gapUs));
    }
    const double sent =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("registrations sent: %u in %.1f s\n", count, sent);
    std::fflush(stdout);
    const bool closed = device.waitState([](const auto& s) { return s.closedByPeer > 0; },
                                         std::chrono::seconds(timeout));
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("heartbeats received: %llu\n",
                static_cast<unsigned long long>(device.received(protocol::NET_CMD_HEARTBEAT)));
    if (closed) {
        std::printf("connection closed by the console after %.1f s\n", elapsed);
    } else {
        std::printf("connection still open after %.1f s\n", elapsed);
    }
    fleet.stop();
    return 0;
}
