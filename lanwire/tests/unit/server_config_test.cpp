// The server runs with the link's options as given, plus keepalive timing derived from them.
#include "server_config.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TEST(ServerConfigTest, RunsWithTheLinksOwnGaps) {
    LanwireOptions options;
    EXPECT_EQ(lanwire::serverConfigFor(options).heartbeatGap, options.heartbeatGap);
    options.heartbeatGap = 37ms;
    options.sendGap = 3ms;
    options.outboxLimit = 9;
    const auto config = lanwire::serverConfigFor(options);
    EXPECT_EQ(config.heartbeatGap, 37ms);
    EXPECT_EQ(config.sendGap, 3ms);
    EXPECT_EQ(config.outboxLimit, 9u);
}

TEST(ServerConfigTest, KeepaliveFollowsTheSupervision) {
    struct Case {
        std::chrono::milliseconds tick;
        int counter;
        std::chrono::seconds idle;
        int probes;
    };
    for (const Case& c : {Case{2500ms, 3, 3s, 3}, Case{400ms, 0, 1s, 1}, Case{4000ms, 5, 4s, 5}}) {
        LanwireOptions options;
        options.tickPeriod = c.tick;
        options.heartbeatCounterStart = c.counter;
        const auto config = lanwire::serverConfigFor(options);
        EXPECT_EQ(config.keepaliveIdle, c.idle) << c.tick.count();
        EXPECT_EQ(config.keepaliveProbes, c.probes) << c.counter;
    }
}

}  // namespace
