// Cuts a TCP byte stream into whole frames by their length field: joins frames split over
// several reads, separates frames that arrived together, and skips to the next marker after
// a wrong marker or an impossible length. Knows nothing of sockets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/frame_types.h"

namespace protocol {

// Whose frames the stream carries: devices write marker and length big-endian, the console
// little-endian.
enum class FrameOrigin { Device, Console };

class StreamFramer {
public:
    explicit StreamFramer(FrameOrigin origin = FrameOrigin::Device);

    // Adds received bytes. Invalidates frames returned by next() before.
    void append(std::span<const std::uint8_t> bytes);
    // The next whole frame, or nullopt until more bytes arrive. The span stays valid until
    // the next append() or reset().
    std::optional<std::span<const std::uint8_t>> next();

    // Drops everything buffered (a partial frame that never completed).
    void reset();
    // Bytes buffered that do not yet form a whole frame.
    std::size_t pendingBytes() const { return m_buffer.size() - m_start; }
    // Bytes skipped while resynchronising, since construction.
    std::uint64_t discardedBytes() const { return m_discarded; }

private:
    // Skips to the first position that could start a marker; keeps a marker prefix at the end.
    void skipToMarker();
    std::uint32_t lengthAtStart() const;

    std::array<std::uint8_t, 4> m_marker{};
    bool m_bigEndian = true;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_start = 0;
    std::uint64_t m_discarded = 0;
};

}  // namespace protocol
