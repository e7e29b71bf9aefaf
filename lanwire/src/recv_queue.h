// The receive queue between the network threads and the receive-dispatch thread: bounded,
// oldest first, and waited on with a condition variable.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace lanwire {

// STRUCT_RECV: one frame (or offline notice) for the receive callback.
struct RecvRecord {
    std::vector<std::uint8_t> data;
    std::int32_t length = 0;
    sockaddr_in peer{};
    std::uint32_t deviceId = 0;
    std::uint64_t connection = 0;  // serial of the connection it came on; 0 for notices
    // A registration released after being held: when its hold began.
    std::optional<std::chrono::steady_clock::time_point> heldSince;
};

class RecvQueue {
public:
    static constexpr std::size_t kCapacity = 2000;
    // Room beyond kCapacity for registrations: a whole fleet that registers at once (after a
    // power cut or a restart) is not dropped with the status frames around it.
    static constexpr std::size_t kRegistrationRoom = 20000;

    // Appends unless the queue holds kCapacity records (the one being handled counts), or
    // kCapacity + kRegistrationRoom for a registration.
    bool push(RecvRecord record, bool registration = false);
    // Appends whatever the queue holds: for the link's own offline notices, which must never
    // be lost (at most one per supervised device and tick).
    void pushNotice(RecvRecord record);
    // Blocks until a record is available (returned and counted until done()) or stop().
    std::optional<RecvRecord> take();
    // The record returned by take() has been handled.
    void done();

    void start();  // allows take() to wait again
    void stop();   // wakes take(), which then returns nothing
    void clear();
    std::size_t size() const;
    // Records accepted and refused by push() since construction.
    std::uint64_t accepted() const;
    std::uint64_t refused() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<RecvRecord> m_records;
    bool m_inCallback = false;
    bool m_stopped = false;
    std::uint64_t m_accepted = 0;
    std::uint64_t m_refused = 0;
};

}  // namespace lanwire
