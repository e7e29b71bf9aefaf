// Reads a received block strictly in order; every read checks the remaining size first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace protocol::detail {

class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    // Compares the next bytes with `expected`, one by one.
    bool expect(std::span<const std::uint8_t> expected) {
        if (remaining() < expected.size()) return false;
        for (std::uint8_t byte : expected) {
            if (m_bytes[m_pos++] != byte) return false;
        }
        return true;
    }

    bool byte(std::uint8_t& out) {
        if (remaining() < 1) return false;
        out = m_bytes[m_pos++];
        return true;
    }

    // Accumulates `count` (at most 4) bytes big-endian: value = value * 256 + next byte.
    bool bigEndian(std::size_t count, std::uint32_t& out) {
        if (count > 4 || remaining() < count) return false;
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < count; ++i) value = value * 256u + m_bytes[m_pos++];
        out = value;
        return true;
    }

    bool skip(std::size_t count) {
        if (remaining() < count) return false;
        m_pos += count;
        return true;
    }

    std::size_t position() const { return m_pos; }
    std::size_t remaining() const { return m_bytes.size() - m_pos; }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_pos = 0;
};

}  // namespace protocol::detail
