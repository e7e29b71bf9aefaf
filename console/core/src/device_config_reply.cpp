// Reply reassembly for the device-configuration receive callback.
#include "consolecore/device_config_reply.h"

#include <algorithm>

#include "consolecore/device_config_frames.h"

namespace consolecore {

namespace {
constexpr const auto& kReplyHead = kParameterReplyHead;
}

bool ReplyAssembler::headHolds(std::span<const std::uint8_t> chunk) const {
    for (std::size_t i = m_fill; i < kReplyHead.size() && i - m_fill < chunk.size(); ++i) {
        if (chunk[i - m_fill] != kReplyHead[i]) return false;
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> ReplyAssembler::feed(std::span<const std::uint8_t> chunk) {
    if (chunk.empty()) return std::nullopt;
    // A head cut after its first or second byte is completed by the next chunk; if that chunk
    // does not continue it, the stale start is dropped and the chunk judged on its own.
    if (m_fill > 0 && m_fill < kReplyHead.size() && !headHolds(chunk)) m_fill = 0;
    if (m_fill == 0) {
        m_buffer.fill(0);
        if (!headHolds(chunk)) return std::nullopt;
    }
    const std::size_t take = std::min(chunk.size(), m_buffer.size() - m_fill);
    std::copy_n(chunk.begin(), take, m_buffer.begin() + static_cast<std::ptrdiff_t>(m_fill));
    m_fill += take;
    if (m_fill < kParameterFrameSize) return std::nullopt;
    std::vector<std::uint8_t> reply(m_buffer.begin(),
                                    m_buffer.begin() + static_cast<std::ptrdiff_t>(m_fill));
    m_fill = 0;
    return reply;
}

}  // namespace consolecore
