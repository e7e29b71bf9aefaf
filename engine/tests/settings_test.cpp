// "Vantrel.ini": every key read, strict values, bounded values.
#include "consolecore/settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "testkit/wait_for.h"

namespace {

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Each key is read into its own field under its own section and name, and a key that is
// missing leaves its field alone: one file per key, and one file with every key.
TEST(SettingsTest, EachKeySetsItsOwnFieldAndAMissingOneKeepsItsDefault) {
    using consolecore::VantrelSettings;
    struct Case {
        const char* section;
        const char* line;
        void (*expect)(VantrelSettings&);
    };
    const Case cases[] = {
        {"Console", "StepTimeoutSec=42", [](VantrelSettings& s) { s.console.stepTimeoutSec = 42; }},
        {"Console", "ConfirmGroupOff=0",
         [](VantrelSettings& s) { s.console.confirmGroupOff = false; }},
        {"Console", "KeepOfflineRows=1",
         [](VantrelSettings& s) { s.console.keepOfflineRows = true; }},
        {"Tasks", "ReapplyOnRegister=1",
         [](VantrelSettings& s) { s.tasks.reapplyOnRegister = true; }},
        {"Tasks", "ReapplyStaggerMs=200",
         [](VantrelSettings& s) { s.tasks.reapplyStaggerMs = 200; }},
        {"Log", "KeepDays=30", [](VantrelSettings& s) { s.log.keepDays = 30; }},
        {"Mqtt", "Host=broker.local", [](VantrelSettings& s) { s.mqtt.host = "broker.local"; }},
        {"Mqtt", "Port=8883", [](VantrelSettings& s) { s.mqtt.port = 8883; }},
        {"Mqtt", "User=op", [](VantrelSettings& s) { s.mqtt.user = "op"; }},
        {"Mqtt", "Password=pw", [](VantrelSettings& s) { s.mqtt.password = "pw"; }},
        {"Mqtt", "CaFile=/etc/ca.pem", [](VantrelSettings& s) { s.mqtt.caFile = "/etc/ca.pem"; }},
        {"Mqtt", "BaseTopic=site/a", [](VantrelSettings& s) { s.mqtt.baseTopic = "site/a"; }},
        {"Mqtt", "ClientId=c1", [](VantrelSettings& s) { s.mqtt.clientId = "c1"; }},
        {"Web", "Port=0", [](VantrelSettings& s) { s.web.port = 0; }},
        {"Web", "Bind=0.0.0.0", [](VantrelSettings& s) { s.web.bind = "0.0.0.0"; }},
        {"Web", "CertFile=/etc/c.pem", [](VantrelSettings& s) { s.web.certFile = "/etc/c.pem"; }},
        {"Web", "KeyFile=/etc/k.pem", [](VantrelSettings& s) { s.web.keyFile = "/etc/k.pem"; }},
        {"Web", "SessionMinutes=30", [](VantrelSettings& s) { s.web.sessionMinutes = 30; }},
        {"Web", "MetricsOpen=1", [](VantrelSettings& s) { s.web.metricsOpen = true; }},
        {"Web", "StreamBacklog=64", [](VantrelSettings& s) { s.web.streamBacklog = 64; }},
    };
    testkit::TempDir dir;
    const std::string path = dir.path().string() + "/Vantrel.ini";
    const auto missing = consolecore::readSettings(path);
    EXPECT_TRUE(missing.problems.empty());
    EXPECT_EQ(missing.settings, VantrelSettings{});

    VantrelSettings all;
    std::map<std::string, std::string> allSections;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        writeFile(path, std::string("[") + c.section + "]\n" + c.line + "\n");
        VantrelSettings expected;
        c.expect(expected);
        c.expect(all);
        allSections[c.section] += std::string(c.line) + "\n";
        const auto load = consolecore::readSettings(path);
        EXPECT_TRUE(load.problems.empty());
        EXPECT_EQ(load.settings, expected);
    }
    std::string allText;
    for (const auto& [section, lines] : allSections) allText += "[" + section + "]\n" + lines;
    writeFile(path, allText);
    const auto load = consolecore::readSettings(path);
    EXPECT_TRUE(load.problems.empty());
    EXPECT_EQ(load.settings, all);
}

// A value longer than any setting needs is refused (its default kept) with one problem that
// shows only its start.
TEST(SettingsTest, AnOverlongValueIsRefusedWithOneShortProblem) {
    testkit::TempDir dir;
    const std::string path = dir.path().string() + "/Vantrel.ini";
    writeFile(path, "[Mqtt]\nHost=" + std::string(5'000'000, 'h') + "\nPort=1999\n");
    const auto load = consolecore::readSettings(path);
    EXPECT_EQ(load.settings.mqtt.host, "");
    EXPECT_EQ(load.settings.mqtt.port, 1999);
    ASSERT_EQ(load.problems.size(), 1u);
    EXPECT_LT(load.problems[0].size(), 200u);
    EXPECT_NE(load.problems[0].find("[Mqtt] Host=hhhh"), std::string::npos);
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

// A bounded number outside its range, or not a whole number, keeps its default with one
// problem; the bound itself is taken.
TEST(SettingsTest, ABoundedNumberOutsideItsRangeGivesTheDefaultAndOneProblem) {
    using Field = int (*)(const consolecore::VantrelSettings&);
    const Field keepDays = [](const consolecore::VantrelSettings& s) { return s.log.keepDays; };
    const Field stagger = [](const consolecore::VantrelSettings& s) {
        return s.tasks.reapplyStaggerMs;
    };
    struct Case {
        const char* text;
        Field field;
        int expected;
        std::size_t problems;
    };
    const Case cases[] = {
        {"[Log]\nKeepDays=-1\n", keepDays, 0, 1},
        {"[Log]\nKeepDays=7d\n", keepDays, 0, 1},
        {"[Log]\nKeepDays=\n", keepDays, 0, 1},
        {"[Log]\nKeepDays=36501\n", keepDays, 0, 1},
        {"[Log]\nKeepDays=1e3\n", keepDays, 0, 1},
        {"[Log]\nKeepDays=36500\n", keepDays, 36500, 0},
        {"[Tasks]\nReapplyStaggerMs=-1\n", stagger, 0, 1},
        {"[Tasks]\nReapplyStaggerMs=10001\n", stagger, 0, 1},
        {"[Tasks]\nReapplyStaggerMs=2s\n", stagger, 0, 1},
        {"[Tasks]\nReapplyStaggerMs=10000\n", stagger, 10000, 0},
    };
    testkit::TempDir dir;
    const std::string path = dir.path().string() + "/Vantrel.ini";
    for (const Case& c : cases) {
        writeFile(path, c.text);
        const auto load = consolecore::readSettings(path);
        EXPECT_EQ(c.field(load.settings), c.expected) << c.text;
        EXPECT_EQ(load.problems.size(), c.problems) << c.text;
    }
    writeFile(path, "[Log]\nKeepDays=-1\n");
    EXPECT_EQ(consolecore::readSettings(path).problems,
              std::vector<std::string>{"[Log] KeepDays=-1 无效,使用默认值 0"});
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
