// A hand-driven TCP peer from a chosen loopback address, for misbehaviour the simulated
// sequencer does not offer: exact byte timing, vanishing without a trace.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace faulttest {

class RawPeer {
public:
    // Creates the socket and binds it to `sourceAddress` (no connection yet).
    explicit RawPeer(const std::string& sourceAddress);
    ~RawPeer();
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    bool valid() const { return m_fd >= 0; }
    bool connect(std::uint16_t port);
    // Writes every byte (blocking); false on error.
    bool send(std::span<const std::uint8_t> bytes);
    // Reads what is there within `timeoutMs`; empty on time-out, end of stream or error.
    std::vector<std::uint8_t> receive(int timeoutMs);
    // True when the console has closed its end (end of stream or reset seen within timeout).
    bool closedByConsole(int timeoutMs);
    // An ordinary close (FIN).
    void close();
    // Drops the socket without telling the console anything, as a device that lost power
    // does: the console's end stays established and is answered with a reset once it
    // writes. False when the system does not allow it (needs CAP_NET_ADMIN).
    bool vanish();

private:
    int m_fd = -1;
};

// A registration frame of a device in no group.
std::vector<std::uint8_t> registrationFrame(std::uint16_t id, std::uint8_t group = 0,
                                            std::uint8_t mode = 0, std::uint8_t number = 0);
// A status report of a device in no group with the given outlets on.
std::vector<std::uint8_t> statusFrame(std::uint16_t id, std::uint16_t outlets);

}  // namespace faulttest
