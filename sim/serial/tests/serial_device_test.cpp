// The simulated serial device as a peer: it must answer only well-formed read requests, take
// write requests, and shape its replies as told.
#include "serialsim/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "testkit/wait_for.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
const Bytes kReadRequest = {0xC3, 0x40, 0x02, 0x00, 0x3C, 0xD4};

// The port end, opened by path like the serial link opens it.
class PortEnd {
public:
    explicit PortEnd(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY)) {}
    ~PortEnd() {
        if (m_fd >= 0) close(m_fd);
    }
    bool send(const Bytes& bytes) {
        return write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Reads until `count` bytes arrived or nothing comes for `quiet`.
    Bytes receive(std::size_t count, int quietMs = 2000) {
        Bytes got;
        while (got.size() < count) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, quietMs) != 1) break;
            std::uint8_t buffer[256];
            const ssize_t n = read(m_fd, buffer, sizeof buffer);
            if (n <= 0) break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

private:
    int m_fd;
};

TEST(SimSerialDevice, ReplyLayoutAndChecksum) {
    EXPECT_EQ(serialsim::modbusCrc(std::span(kReadRequest.data(), 4)), 0xD43C);
    const auto reply = serialsim::encodeReply(serialsim::sampleParameters());
    const Bytes expected = {0xC3, 0x40, 0x03, 34,   0x01, 0x2C, 'R',  'a',  'c', 'k', '-', 'A', 0,
                            0,    0,    0,    192,  168,  1,    50,   255,  255, 255, 0,   192, 168,
                            1,    1,    0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 192, 168, 1,   10};
    EXPECT_EQ(reply, expected);
}

TEST(SimSerialDevice, AnswersReadsIgnoresBadChecksumsAndAppliesWrites) {
    serialsim::SimSerialDevice device;
    ASSERT_TRUE(device.valid());
    PortEnd port(device.slavePath());

    // Noise, then a request with a broken checksum: no answer.
    ASSERT_TRUE(port.send({0x00, 0xC3, 0x41, 0xC3, 0x40, 0x02, 0x00, 0x3C, 0xD5}));
    EXPECT_TRUE(port.receive(1, 100).empty());
    ASSERT_TRUE(port.send(kReadRequest));
    EXPECT_EQ(port.receive(38), serialsim::encodeReply(serialsim::sampleParameters()));
    // The device counts a read once its whole reply is written, so the bytes may come first.
    ASSERT_TRUE(testkit::waitFor([&] { return device.readsAnswered() == 1; }));
    EXPECT_GT(device.discardedBytes(), 0u);

    auto changed = serialsim::sampleParameters();
    changed.deviceNumber = 777;
    changed.name = serialsim::nameField("NewName");
    changed.mac = {1, 2, 3, 4, 5, 6};
    Bytes write = serialsim::encodeReply(changed);
    write[2] = 0x01;
    write[3] = 0x20;
    ASSERT_TRUE(port.send(Bytes(write.begin(), write.begin() + 10)));  // arrives in two parts
    ASSERT_TRUE(port.send(Bytes(write.begin() + 10, write.end())));
    ASSERT_TRUE(testkit::waitFor([&] { return device.writesApplied() == 1; }));
    EXPECT_EQ(device.parameters(), changed);
    ASSERT_EQ(device.requests().size(), 2u);
    EXPECT_EQ(device.requests()[1], write);
}

TEST(SimSerialDevice, RepliesInPiecesWithTrailingBytesOrNotAtAll) {
    serialsim::SimSerialDevice device;
    PortEnd port(device.slavePath());
    std::vector<std::size_t> hookCalls;
    device.setReplyShape({{8, 10}, {0xEE, 0xFF}});
    device.setBetweenPieces([&](std::size_t sent) { hookCalls.push_back(sent); });
    ASSERT_TRUE(port.send(kReadRequest));
    auto expected = serialsim::encodeReply(serialsim::sampleParameters());
    expected.push_back(0xEE);
    expected.push_back(0xFF);
    EXPECT_EQ(port.receive(40), expected);
    ASSERT_TRUE(testkit::waitFor([&] { return device.readsAnswered() == 1; }));
    EXPECT_EQ(hookCalls, (std::vector<std::size_t>{1, 2}));

    device.setSilent(true);
    ASSERT_TRUE(port.send(kReadRequest));
    ASSERT_TRUE(testkit::waitFor([&] { return device.requests().size() == 2; }));
    EXPECT_TRUE(port.receive(1, 100).empty());
    EXPECT_EQ(device.readsAnswered(), 1);
}

}  // namespace
