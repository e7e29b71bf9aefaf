// Stream framing by the length field, with resynchronisation on the next marker.
#include "protocol/stream_framer.h"

#include <algorithm>

namespace protocol {

StreamFramer::StreamFramer(FrameOrigin origin) : m_bigEndian(origin == FrameOrigin::Device) {
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t shift = m_bigEndian ? 24 - 8 * i : 8 * i;
        m_marker[i] = static_cast<std::uint8_t>(FRAME_MAGIC >> shift);
    }
}

void StreamFramer::append(std::span<const std::uint8_t> bytes) {
    // Drop consumed bytes first; what remains is at most one partial frame.
    if (m_start > 0) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
        m_start = 0;
    }
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
}

void StreamFramer::reset() {
    m_discarded += pendingBytes();
    m_buffer.clear();
    m_start = 0;
}

void StreamFramer::skipToMarker() {
    const std::size_t size = m_buffer.size();
    std::size_t pos = m_start;
    for (; pos < size; ++pos) {
        const std::size_t count = std::min<std::size_t>(4, size - pos);
        if (std::equal(m_marker.begin(), m_marker.begin() + static_cast<std::ptrdiff_t>(count),
                       m_buffer.begin() + static_cast<std::ptrdiff_t>(pos))) {
            break;
        }
    }
    m_discarded += pos - m_start;
    m_start = pos;
}

std::uint32_t StreamFramer::lengthAtStart() const {
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t index = m_bigEndian ? 4 + i : 7 - i;
        length = length * 256u + m_buffer[m_start + index];
    }
    return length;
}

std::optional<std::span<const std::uint8_t>> StreamFramer::next() {
    for (;;) {
        skipToMarker();
        if (pendingBytes() < 8) return std::nullopt;
        const std::uint32_t length = lengthAtStart();
        if (length < kHeaderSize || length > kMaxFrameSize) {
            // Not a real frame start: look for the next marker after this one.
            ++m_start;
            ++m_discarded;
            continue;
        }
        if (pendingBytes() < length) return std::nullopt;
        std::span<const std::uint8_t> frame(m_buffer.data() + m_start, length);
        m_start += length;
        return frame;
    }
}

}  // namespace protocol
