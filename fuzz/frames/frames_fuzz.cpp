// Fuzz target: decoders and the stream framer must never read past their input, and every
// frame the framer yields must carry a sane length that matches its own length field.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "protocol/console_frames.h"
#include "protocol/device_frames.h"
#include "protocol/device_text.h"
#include "protocol/stream_framer.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

std::uint32_t bigEndian32(std::span<const std::uint8_t> b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Copy into an exact-size buffer so that any overread is caught.
    const std::vector<std::uint8_t> input(data, data + size);
    const std::span<const std::uint8_t> bytes(input);

    (void)protocol::decodeHeader(bytes);
    (void)protocol::decodeStepDone(bytes);
    (void)protocol::decodeConsoleFrame(bytes);
    if (auto reg = protocol::decodeRegister(bytes)) {
        check(reg->name.size() <= 2 * protocol::kDeviceNameSize);
        (void)protocol::utf8ToDeviceBytes(reg->name);
    }
    if (auto status = protocol::decodeStatus(bytes)) {
        check(protocol::highestOutletOn(status->outlets) <= 16);
    }

    // The first byte chooses how the rest is cut into reads.
    if (size == 0) return 0;
    const std::size_t chunk = 1 + input[0] % 64;
    protocol::StreamFramer framer;
    std::size_t consumed = 0;
    std::size_t out = 0;
    for (std::size_t pos = 1; pos < size; pos += chunk) {
        const std::size_t n = std::min(chunk, size - pos);
        const std::vector<std::uint8_t> piece(input.begin() + static_cast<std::ptrdiff_t>(pos),
                                              input.begin() + static_cast<std::ptrdiff_t>(pos + n));
        framer.append(piece);
        consumed += n;
        while (auto frame = framer.next()) {
            check(frame->size() >= protocol::kHeaderSize &&
                  frame->size() <= protocol::kMaxFrameSize);
            check(bigEndian32(*frame, 4) == frame->size());
            check(protocol::decodeHeader(*frame).has_value());
            out += frame->size();
        }
    }
    // Nothing is invented or lost: bytes out + skipped + still buffered = bytes in.
    check(out + framer.discardedBytes() + framer.pendingBytes() == consumed);
    return 0;
}
