// Fuzz target: serial bytes cut into chunks go through the reply assembler; every reply it
// hands over is parsed. Checks what the configuration dialog relies on: replies are 38 to 100
// bytes and start like a reply, a good reply's parameters survive a write request unchanged,
// and the name survives its text form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "consolecore/device_config_frames.h"
#include "consolecore/device_config_reply.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void checkReply(const std::vector<std::uint8_t>& reply) {
    using namespace consolecore;
    check(reply.size() >= kParameterFrameSize && reply.size() <= kReplyBufferSize);
    check(reply[0] == 0xC3 && reply[1] == 0x40 && reply[2] == 0x03);
    const ParsedReply parsed = parseParameterReply(reply);
    if (parsed.check != ReplyCheck::Ok) return;
    // The write request carries the parameters in the reply's layout.
    const auto request = buildWriteRequest(parsed.parameters);
    for (std::size_t i = 4; i < kParameterFrameSize; ++i) check(request[i] == reply[i]);
    // A name read from the device is written back unchanged (up to its first zero).
    const auto name = deviceNameBytes(deviceNameText(parsed.parameters.name));
    bool ended = false;
    for (std::size_t i = 0; i < kDeviceNameBytes; ++i) {
        ended = ended || parsed.parameters.name[i] == 0;
        check(name[i] == (ended ? 0 : parsed.parameters.name[i]));
    }
    // Addresses survive their dotted text.
    const auto ip = parseIpv4(formatIpv4(parsed.parameters.ipAddress));
    check(ip.has_value() && *ip == parsed.parameters.ipAddress);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The whole input as one reply, in an exact-size buffer so overreads are caught.
    const std::vector<std::uint8_t> input(data, data + size);
    (void)consolecore::parseParameterReply(input);

    // Byte 0 chooses the chunk sizes the serial link delivers (1..64, varying per chunk).
    if (size == 0) return 0;
    consolecore::ReplyAssembler assembler;
    std::size_t pos = 1;
    std::size_t step = 0;
    while (pos < size) {
        const std::size_t chunk = 1 + (input[0] + 7 * step++) % 64;
        const std::size_t n = std::min(chunk, size - pos);
        const std::vector<std::uint8_t> piece(input.begin() + static_cast<std::ptrdiff_t>(pos),
                                              input.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
        if (auto reply = assembler.feed(piece)) checkReply(*reply);
        check(assembler.fillCount() < consolecore::kReplyBufferSize);
    }
    return 0;
}
