// "Vantrel.ini": defaults, strict values, atomic round trip that keeps foreign keys.
#include "consolecore/settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "testkit/wait_for.h"

namespace {

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SettingsTest, AMissingFileOrKeyGivesTheDefaults) {
    testkit::TempDir dir;
    const auto load = consolecore::readSettings(dir.path().string() + "/Vantrel.ini");
    EXPECT_TRUE(load.problems.empty());
    EXPECT_EQ(load.settings.console.stepTimeoutSec, 15);
    EXPECT_TRUE(load.settings.console.confirmGroupOff);
    EXPECT_FALSE(load.settings.tasks.reapplyOnRegister);
    EXPECT_FALSE(load.settings.mqtt.enabled());
    EXPECT_EQ(load.settings.mqtt.baseTopic, "vantrel");
    EXPECT_EQ(load.settings.mqtt.port, 1883);
}

TEST(SettingsTest, EachBadValueGivesItsDefaultAndOneProblem) {
    struct Case {
        const char* text;
        int timeout;
        bool confirm;
        std::size_t problems;
    };
    const Case cases[] = {
        {"[Console]\nStepTimeoutSec=30\nConfirmGroupOff=0\n", 30, false, 0},
        {"[Console]\nStepTimeoutSec=12abc\n", 15, true, 1},
        {"[Console]\nStepTimeoutSec=0\nConfirmGroupOff=2\n", 15, true, 2},
        {"[Console]\nStepTimeoutSec=-5\nConfirmGroupOff=yes\n", 15, true, 2},
        {"[Console]\nStepTimeoutSec=99999999999999\n", 15, true, 1},
        {"[console]\nsteptimeoutsec= 20 \n", 20, true, 0},
    };
    testkit::TempDir dir;
    const std::string path = dir.path().string() + "/Vantrel.ini";
    for (const Case& c : cases) {
        writeFile(path, c.text);
        const auto load = consolecore::readSettings(path);
        EXPECT_EQ(load.settings.console.stepTimeoutSec, c.timeout) << c.text;
        EXPECT_EQ(load.settings.console.confirmGroupOff, c.confirm) << c.text;
        EXPECT_EQ(load.problems.size(), c.problems) << c.text;
    }
}

TEST(SettingsTest, SaveRoundTripsAndKeepsKeysItDoesNotOwn) {
    testkit::TempDir dir;
    const std::string path = dir.path().string() + "/Vantrel.ini";
    writeFile(path, "; operator note\n[Console]\nStepTimeoutSec=20\nExtra=kept\n");
    consolecore::VantrelSettings settings;
    settings.console.stepTimeoutSec = 42;
    settings.tasks.reapplyOnRegister = true;
    settings.mqtt.host = "127.0.0.1";
    settings.mqtt.baseTopic = "site/a";
    ASSERT_TRUE(consolecore::saveSettings(path, settings));

    const auto load = consolecore::readSettings(path);
    EXPECT_TRUE(load.problems.empty());
    EXPECT_EQ(load.settings.console.stepTimeoutSec, 42);
    EXPECT_TRUE(load.settings.tasks.reapplyOnRegister);
    EXPECT_EQ(load.settings.mqtt.host, "127.0.0.1");
    EXPECT_EQ(load.settings.mqtt.baseTopic, "site/a");
    const std::string text = readFile(path);
    EXPECT_NE(text.find("; operator note"), std::string::npos);
    EXPECT_NE(text.find("Extra=kept"), std::string::npos);
}

TEST(SettingsTest, AWildcardBaseTopicIsRefused) {
    testkit::TempDir dir;
    const std::string path = dir.path().string() + "/Vantrel.ini";
    writeFile(path, "[Mqtt]\nBaseTopic=site/#\n");
    const auto load = consolecore::readSettings(path);
    EXPECT_EQ(load.settings.mqtt.baseTopic, "vantrel");
    EXPECT_EQ(load.problems.size(), 1u);
}

}  // namespace
