// Settings and read-outs of the link beyond the console's interface: the timing source and
// program folder (so tests run fast in a temp folder), the bound port, counters.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "lanwire/lanwire_export.h"

struct LanwireOptions {
    // Heartbeat supervision: a tick every `tickPeriod`, looked for every `heartbeatPass`.
    std::chrono::milliseconds tickPeriod{2500};
    std::chrono::milliseconds heartbeatPass{100};
    // Heartbeats a device may leave unanswered before it is reported offline.
    int heartbeatCounterStart = 3;
    // A registration refused because its id is still online on another connection waits this
    // long for that connection to close or its device to go offline, and then goes through.
    std::chrono::milliseconds registrationHold{10000};
    // Frames that claim a supervised id from another connection are logged at most once per
    // this period and peer address (all are counted).
    std::chrono::milliseconds forgedLogPeriod{60000};
    // The clock the heartbeat thread, the partial-frame timeout, the registration hold and the
    // forged-frame log period read; null: steady clock.
    std::function<std::chrono::steady_clock::time_point()> clock;
    // Least time between two frames to one device, and between two heartbeats to one device.
    // A 250 ms heartbeat gap allows a device at most ten heartbeats per 2.5 s tick: supervision
    // stays as tight as with a shorter gap (a device is reported after three unanswered ticks
    // either way) at less traffic: with 100 ms, 1000 idle devices cost the console 18 % of a
    // core on loopback, with 250 ms 7 %.
    std::chrono::milliseconds sendGap{10};
    std::chrono::milliseconds heartbeatGap{250};
    // A frame left incomplete this long is dropped when the next bytes arrive.
    std::chrono::milliseconds partialFrameTimeout{5000};
    // A connection on which no registration has been accepted (DoNetReg) this long is closed,
    // and so is one that has held an incomplete frame this long, so that idle or half-open
    // peers cannot hold descriptors (0: never). The closes are counted and logged at most once
    // per refusalLogPeriod.
    std::chrono::milliseconds registrationTimeout{30000};
    std::chrono::milliseconds partialFrameHoldLimit{30000};
    // Pause before accepting again when accept fails (out of file descriptors) or a
    // connection was refused to keep the descriptor reserve.
    std::chrono::milliseconds acceptBackoff{100};
    // Commands (not heartbeats) waiting for one connection at most; TCPSend refuses more
    // (SendToDevice says OutboxFull). Due heartbeats go ahead of waiting commands.
    std::size_t outboxLimit = 1000;
    // A connection whose pending write makes no progress this long is closed.
    std::chrono::milliseconds writeStallTimeout{10000};
    // Descriptors left free for the rest of the program (GUI, database, files): a device
    // connection that would use one of them is closed at once. Refusals are logged at most
    // once per refusalLogPeriod.
    std::uint64_t descriptorReserve = 64;
    std::chrono::milliseconds refusalLogPeriod{60000};
    // Folder of testNote.ini and sendNote.ini, ending in '/'; empty: GetDataPath().
    std::string programFolder;
    // A dump file that would grow beyond this is moved to "<name>.1" and started afresh.
    std::uintmax_t dumpFileLimit = 8u * 1024u * 1024u;
    // Threads running the network I/O; 0: one per processor.
    unsigned ioThreads = 0;
    // Called on a network thread each time a frame has been written to a device, with the
    // time the write completed (for measurements and tests; keep it short).
    std::function<void(const sockaddr_in& peer, const std::uint8_t* data, std::size_t length,
                       std::chrono::steady_clock::time_point written)>
        onFrameWritten;
};

// Applies from the next InitLanwire on.
LANWIRE_EXPORT void SetLanwireOptions(const LanwireOptions& options);
LANWIRE_EXPORT LanwireOptions GetLanwireOptions();

// The port the server listens on, 0 while stopped.
LANWIRE_EXPORT std::uint16_t GetLanwirePort();

struct LanwireStats {
    std::size_t connections = 0;            // connections in the connection list
    std::size_t tickEntries = 0;            // devices under heartbeat supervision
    std::size_t receiveQueue = 0;           // records waiting for the receive callback
    std::uint64_t framesQueued = 0;         // frames put on the receive queue (offline notices too)
    std::uint64_t framesDropped = 0;        // frames and notices dropped on a full receive queue
    std::uint64_t framesSent = 0;           // frames written to a connection (heartbeats too)
    std::uint64_t sendsDropped = 0;         // sends with no connection for their address
    std::uint64_t bytesDiscarded = 0;       // stream bytes skipped or dropped as stale
    std::uint64_t bytesPending = 0;         // bytes of incomplete frames waiting for the rest
    std::uint64_t ticks = 0;                // heartbeat ticks run since InitLanwire
    std::uint64_t connectionsRefused = 0;   // connections closed at once to keep the reserve
    std::uint64_t framesForged = 0;         // refused frames: see below
    std::size_t registrationsHeld = 0;      // refused registrations waiting for a takeover
    std::uint64_t connectionsTimedOut = 0;  // closed unregistered or holding a partial frame
    // framesForged counts offline notices from the network, and heartbeat answers, status,
    // switch-reply, step-done frames and registrations claiming an id of another connection.
};
LANWIRE_EXPORT LanwireStats GetLanwireStats();

struct LanwireTickEntry {
    std::uint16_t deviceId = 0;
    int counter = 0;
    sockaddr_in address{};
};
// A copy of the heartbeat table, ordered by device id.
LANWIRE_EXPORT std::vector<LanwireTickEntry> GetLanwireTickTable();
