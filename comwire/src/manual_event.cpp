// Manual-reset events over eventfd.
#include "manual_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace comwire {

ManualEvent::ManualEvent() : m_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

ManualEvent::~ManualEvent() {
    if (m_fd >= 0) close(m_fd);
}

void ManualEvent::set() {
    // The counter only needs to be non-zero; repeated sets cannot overflow in practice.
    const std::uint64_t one = 1;
    if (m_fd < 0) return;
    [[maybe_unused]] const auto written = write(m_fd, &one, sizeof one);
}

void ManualEvent::reset() {
    std::uint64_t value = 0;
    if (m_fd < 0) return;
    [[maybe_unused]] const auto got = read(m_fd, &value, sizeof value);
}

bool ManualEvent::isSet() const {
    if (m_fd < 0) return false;
    pollfd p{m_fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

}  // namespace comwire
