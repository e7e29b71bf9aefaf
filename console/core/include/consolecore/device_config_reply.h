// Reassembly of a parameter reply from the chunks the serial link delivers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace consolecore {

inline constexpr std::size_t kReplyBufferSize = 100;

// Collects chunks into a 100-byte buffer. A reply starts with a chunk whose bytes begin
// C3 40 03; while the buffer is empty any other chunk is dropped. Once 38 bytes or more are
// collected, everything collected is handed over and the buffer starts empty again. A reply
// that never completes waits for later chunks.
class ReplyAssembler {
public:
    // The completed reply (38 to 100 bytes) when this chunk completes one.
    std::optional<std::vector<std::uint8_t>> feed(std::span<const std::uint8_t> chunk);
    std::size_t fillCount() const { return m_fill; }
    void clear() { m_fill = 0; }

private:
    // Whether the collected bytes plus `chunk` still begin like a reply head.
    bool headHolds(std::span<const std::uint8_t> chunk) const;

    std::array<std::uint8_t, kReplyBufferSize> m_buffer{};
    std::size_t m_fill = 0;
};

}  // namespace consolecore
