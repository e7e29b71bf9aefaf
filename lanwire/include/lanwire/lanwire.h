// The network device link: the console's only network interface to its sequencers.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>

#include "lanwire/lanwire_export.h"

namespace platform {
class MessageTarget;
}

// Receives every frame the link passes up: the device id of the frame header (bytes 18-19),
// the peer address of the connection it came from, the frame bytes and their count. Called
// only on the link's receive-dispatch thread and without any of the link's locks held, so it
// may call TCPSend, DoNetReg and DeleteTickDevice. The bytes are valid during the call only.
// The result is ignored.
using LanwireRecvCallback = std::function<int(std::uint32_t deviceId, sockaddr_in peer,
                                              const std::uint8_t* data, std::int32_t length)>;

// Starts the link: raises the soft descriptor limit to the hard one, listens on `port` of
// every local address (0 picks a free port, see GetLanwirePort) and hands frames to
// `callback`. Dropped (and logged) before the callback: offline frames from the network,
// status, switch-reply and step-done frames for a supervised id from any other connection
// than its own, and registrations for an id online at another address (held for a while:
// they go through when that connection closes or the device is reported offline). False when
// already running or when the server cannot start. May be called again after CancelLanwire.
LANWIRE_EXPORT bool InitLanwire(std::uint16_t port, LanwireRecvCallback callback);

// Stops the server, closes every connection, discards queued sends, empties the heartbeat
// table and ends the link's threads. Always true.
LANWIRE_EXPORT bool CancelLanwire();

// Queues a copy of `length` bytes for the connection whose peer IP equals the destination's.
// True when queued (also when no such connection exists: the frame is then dropped); false
// while the link is not running and when that connection's outbox is full.
LANWIRE_EXPORT bool TCPSend(const std::uint8_t* data, std::uint32_t length,
                            sockaddr_in destination);

// What became of a frame handed to the link.
enum class LanwireSendResult {
    Queued,        // on the write queue of the destination's connection
    NoConnection,  // no connection from the destination's IP: dropped
    OutboxFull,    // that connection already holds its cap of waiting commands: refused
    Stopped,       // the link is not running: refused
};

// TCPSend with the outcome told apart; TCPSend is true for Queued and NoConnection.
LANWIRE_EXPORT LanwireSendResult SendToDevice(const std::uint8_t* data, std::uint32_t length,
                                              sockaddr_in destination);

// Puts the device under heartbeat supervision (or refreshes it) and sends it one heartbeat
// to `address`; a device back from a new address whose old connection is gone moves there.
// The connection at `address` then counts as registered (LanwireOptions::registrationTimeout).
// False, with a log line and WM_DEVICE_ID_CONFLICT to the window, when the id is online at
// another address: the entry stays as it is and `address` gets no heartbeat.
LANWIRE_EXPORT bool DoNetReg(std::uint32_t deviceId, const sockaddr_in* address);

// Ends the heartbeat supervision of a device. After its offline notice this also drops and
// closes its connection, unless another supervised id uses it. Always true.
LANWIRE_EXPORT bool DeleteTickDevice(std::uint16_t deviceId);

// Ends the heartbeat supervision of a device removed from the console (by hand as much as
// after its offline notice) and closes its connection, unless another supervised id uses
// it. Always true.
LANWIRE_EXPORT bool DropNetDevice(std::uint16_t deviceId);

// The receiver of WM_LINK_SOCKET_CLOSED (lParam the lost peer's s_addr) and
// WM_DEVICE_ID_CONFLICT (platform/messages.h), both posted. Null: no notices.
LANWIRE_EXPORT void SetWindowHand(platform::MessageTarget* target);
