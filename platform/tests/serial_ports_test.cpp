// COM numbers onto Linux serial devices: the override text, the discovery order on a
// fixture /dev and /sys tree, and the mapping the port combo shows.
#include "platform/serial_ports.h"

#include <cstdlib>
#include <fstream>
#include <optional>

#include <gtest/gtest.h>

#include "testkit/wait_for.h"

namespace {

void touch(const std::filesystem::path& path) {
    std::ofstream(path).put('\n');
}

void writeType(const std::filesystem::path& sys, const std::string& name, int type) {
    std::filesystem::create_directories(sys / name);
    std::ofstream(sys / name / "type") << type << "\n";
}

// Restores the override variable when a test ends.
class OverrideVariable {
public:
    OverrideVariable() {
        if (const char* value = std::getenv(platform::kComPortsVariable)) m_saved = value;
    }
    ~OverrideVariable() {
        if (m_saved) {
            setenv(platform::kComPortsVariable, m_saved->c_str(), 1);
        } else {
            unsetenv(platform::kComPortsVariable);
        }
    }

private:
    std::optional<std::string> m_saved;
};

TEST(SerialPorts, OverrideTextKeepsGoodEntriesAndSkipsBadOnes) {
    const auto mapping = platform::parseComPortOverride(
        " 1=/dev/pts/5 ,2=/dev/ttyUSB0,0=/dev/zero,21=/dev/x,x=/dev/y,3=,junk,20=/dev/ttyS3,"
        "2=/dev/ttyACM1");
    const std::map<int, std::string> expected = {
        {1, "/dev/pts/5"}, {2, "/dev/ttyACM1"}, {20, "/dev/ttyS3"}};
    EXPECT_EQ(mapping, expected);
    EXPECT_TRUE(platform::parseComPortOverride("").empty());
    EXPECT_TRUE(platform::parseComPortOverride(",,,=").empty());
}

TEST(SerialPorts, DiscoveryOrdersFamiliesAndNumbersAndSkipsUartlessTtyS) {
    testkit::TempDir tree;
    const auto dev = tree.path() / "dev";
    const auto sys = tree.path() / "sys";
    std::filesystem::create_directories(dev);
    for (const char* name : {"ttyS1", "ttyS0", "ttyS10", "ttyUSB10", "ttyUSB2", "ttyACM0", "tty0",
                             "ttyUSBx", "ttyS", "console"}) {
        touch(dev / name);
    }
    writeType(sys, "ttyS0", 4);
    writeType(sys, "ttyS1", 0);  // no UART behind it
    writeType(sys, "ttyS10", 4);
    const std::vector<std::string> expected = {
        (dev / "ttyUSB2").string(), (dev / "ttyUSB10").string(), (dev / "ttyACM0").string(),
        (dev / "ttyS0").string(), (dev / "ttyS10").string()};
    EXPECT_EQ(platform::discoverSerialDevices(dev, sys), expected);

    // Without a sysfs tree every ttyS node counts.
    const auto all = platform::discoverSerialDevices(dev, tree.path() / "missing");
    EXPECT_EQ(all.size(), 6u);
    EXPECT_TRUE(platform::discoverSerialDevices(tree.path() / "nodev", sys).empty());
}

TEST(SerialPorts, OverrideIsTheWholeMappingOfTwentyPorts) {
    OverrideVariable restore;
    setenv(platform::kComPortsVariable, "2=/tmp/a,15=/tmp/b", 1);
    const auto ports = platform::listSerialPorts();
    ASSERT_EQ(ports.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(ports[i].comNumber, i + 1);
    EXPECT_EQ(ports[1].devicePath, "/tmp/a");
    EXPECT_EQ(ports[14].devicePath, "/tmp/b");
    EXPECT_EQ(ports[0].devicePath, "");
    EXPECT_EQ(platform::serialDevicePath(2), "/tmp/a");
    EXPECT_EQ(platform::serialDevicePath(1), "");
    EXPECT_EQ(platform::serialDevicePath(0), "");
    EXPECT_EQ(platform::serialDevicePath(21), "");
}

}  // namespace
