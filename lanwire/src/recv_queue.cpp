// Bounded receive queue.
#include "recv_queue.h"

namespace lanwire {

bool RecvQueue::push(RecvRecord record, bool registration) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const std::size_t bound = registration ? kCapacity + kRegistrationRoom : kCapacity;
        if (m_records.size() + (m_inCallback ? 1 : 0) >= bound) {
            ++m_refused;
            return false;
        }
        ++m_accepted;
        m_records.push_back(std::move(record));
    }
    m_ready.notify_one();
    return true;
}

void RecvQueue::pushNotice(RecvRecord record) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_accepted;
        m_records.push_back(std::move(record));
    }
    m_ready.notify_one();
}

std::optional<RecvRecord> RecvQueue::take() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_ready.wait(lock, [this] { return m_stopped || !m_records.empty(); });
    if (m_stopped) return std::nullopt;
    RecvRecord record = std::move(m_records.front());
    m_records.pop_front();
    m_inCallback = true;
    return record;
}

void RecvQueue::done() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_inCallback = false;
}

void RecvQueue::start() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stopped = false;
}

void RecvQueue::stop() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopped = true;
    }
    m_ready.notify_all();
}

void RecvQueue::clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_records.clear();
    m_inCallback = false;
}

std::size_t RecvQueue::size() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_records.size() + (m_inCallback ? 1 : 0);
}

}  // namespace lanwire

namespace lanwire {

std::uint64_t RecvQueue::accepted() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_accepted;
}

std::uint64_t RecvQueue::refused() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_refused;
}

}  // namespace lanwire
