// Decoding and building of device frames. Decoding follows the wire order with a cursor.
#include "protocol/device_frames.h"

#include "cursor.h"
#include "protocol/device_text.h"

namespace protocol {

namespace {

constexpr std::array<std::uint8_t, 4> kDeviceMarker{0xFE, 0xFC, 0xFD, 0xFA};

bool readHeader(detail::Cursor& cursor, FrameHeader& header) {
    std::uint32_t command = 0;
    std::uint32_t id = 0;
    if (!cursor.expect(kDeviceMarker)) return false;
    header.marker = FRAME_MAGIC;
    if (!cursor.bigEndian(4, header.length)) return false;
    if (!cursor.bigEndian(4, command)) return false;
    header.command = static_cast<std::uint8_t>(command & 0xFF);  // offsets 8-10 ignored
    if (!cursor.bigEndian(4, header.value)) return false;
    if (!cursor.skip(2)) return false;
    if (!cursor.bigEndian(2, id)) return false;
    header.deviceId = static_cast<std::uint16_t>(id);
    return true;
}

bool readChannels(detail::Cursor& cursor, OutletStates& outlets) {
    std::uint32_t word = 0;
    if (!cursor.bigEndian(2, word)) return false;
    outlets = expandChannelWord(static_cast<std::uint16_t>(word));
    return true;
}

void putBigEndian(std::vector<std::uint8_t>& out, std::size_t offset, std::uint32_t value,
                  std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        out[offset + count - 1 - i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace

OutletStates expandChannelWord(std::uint16_t word) {
    OutletStates outlets{};
    const auto high = static_cast<std::uint8_t>(word >> 8);
    const auto low = static_cast<std::uint8_t>(word & 0xFF);
    // High byte bit 7..0 are outlets 16..9, low byte bit 7..0 outlets 8..1.
    for (int bit = 7; bit >= 0; --bit) outlets[8 + bit] = ((high >> bit) & 1) != 0;
    for (int bit = 7; bit >= 0; --bit) outlets[bit] = ((low >> bit) & 1) != 0;
    return outlets;
}

std::uint16_t channelWord(const OutletStates& outlets) {
    std::uint16_t word = 0;
    for (std::size_t k = 0; k < kOutletCount; ++k) {
        if (outlets[k]) word = static_cast<std::uint16_t>(word | (1u << k));
    }
    return word;
}

int highestOutletOn(const OutletStates& outlets) {
    for (int k = static_cast<int>(kOutletCount); k >= 1; --k) {
        if (outlets[static_cast<std::size_t>(k - 1)]) return k;
    }
    return 0;
}

std::optional<FrameHeader> decodeHeader(std::span<const std::uint8_t> block) {
    if (block.size() < kHeaderSize) return std::nullopt;
    detail::Cursor cursor(block);
    FrameHeader header;
    if (!readHeader(cursor, header)) return std::nullopt;
    return header;
}

std::optional<RegisterPayload> decodeRegister(std::span<const std::uint8_t> block) {
    if (block.size() < kRegisterFrameSize) return std::nullopt;
    detail::Cursor cursor(block);
    RegisterPayload reg;
    if (!readHeader(cursor, reg.header)) return std::nullopt;
    // The name is stored last character first: build it from byte 29 down to byte 20.
    std::array<std::uint8_t, kDeviceNameSize> nameBytes{};
    for (auto& byte : nameBytes) {
        if (!cursor.byte(byte)) return std::nullopt;
    }
    for (auto it = nameBytes.rbegin(); it != nameBytes.rend(); ++it) {
        if (*it != 0) appendDeviceChar(reg.name, *it);
    }
    std::uint32_t field = 0;
    if (!cursor.bigEndian(4, reg.ipAddress) || !cursor.bigEndian(4, reg.mask) ||
        !cursor.bigEndian(4, reg.gateway)) {
        return std::nullopt;
    }
    for (auto& byte : reg.mac) {
        if (!cursor.byte(byte)) return std::nullopt;
    }
    if (!cursor.byte(reg.group) || !cursor.byte(reg.mode) || !cursor.skip(3) ||
        !cursor.byte(reg.number) || !cursor.bigEndian(4, field)) {
        return std::nullopt;
    }
    reg.onOff = field;
    if (!cursor.skip(2) || !readChannels(cursor, reg.outlets)) return std::nullopt;
    return reg;
}

std::optional<StatusPayload> decodeStatus(std::span<const std::uint8_t> block) {
    if (block.size() < kStatusFrameSize) return std::nullopt;
    detail::Cursor cursor(block);
    StatusPayload status;
    std::uint8_t onOff = 0;
    if (!readHeader(cursor, status.header) || !cursor.byte(status.group) ||
        !cursor.byte(status.mode) || !cursor.byte(status.number) || !cursor.byte(onOff) ||
        !readChannels(cursor, status.outlets)) {
        return std::nullopt;
    }
    status.onOff = onOff != 0;
    return status;
}

std::optional<FrameHeader> decodeStepDone(std::span<const std::uint8_t> block) {
    return decodeHeader(block);
}

std::vector<std::uint8_t> buildDeviceHeader(std::uint8_t command, std::uint16_t deviceId,
                                            std::uint32_t value, std::uint32_t length) {
    std::vector<std::uint8_t> frame(kHeaderSize, 0);
    putBigEndian(frame, 0, FRAME_MAGIC, 4);
    putBigEndian(frame, 4, length, 4);
    frame[11] = command;
    putBigEndian(frame, 12, value, 4);
    putBigEndian(frame, 18, deviceId, 2);
    return frame;
}

std::vector<std::uint8_t> buildRegisterFrame(const RegisterPayload& payload) {
    std::vector<std::uint8_t> frame = buildDeviceHeader(NET_CMD_REGISTER, payload.header.deviceId,
                                                        payload.header.value, kRegisterFrameSize);
    frame.resize(kRegisterFrameSize, 0);
    const std::vector<std::uint8_t> name = utf8ToDeviceBytes(payload.name);
    // Character i goes to byte 29 - i.
    for (std::size_t i = 0; i < name.size() && i < kDeviceNameSize; ++i) frame[29 - i] = name[i];
    putBigEndian(frame, 30, payload.ipAddress, 4);
    putBigEndian(frame, 34, payload.mask, 4);
    putBigEndian(frame, 38, payload.gateway, 4);
    for (std::size_t i = 0; i < payload.mac.size(); ++i) frame[42 + i] = payload.mac[i];
    frame[48] = payload.group;
    frame[49] = payload.mode;
    frame[53] = payload.number;
    putBigEndian(frame, 54, payload.onOff, 4);
    putBigEndian(frame, 60, channelWord(payload.outlets), 2);
    return frame;
}

std::vector<std::uint8_t> buildStatusFrame(std::uint8_t command, const StatusPayload& payload) {
    std::vector<std::uint8_t> frame =
        buildDeviceHeader(command, payload.header.deviceId, payload.header.value, kStatusFrameSize);
    frame.resize(kStatusFrameSize, 0);
    frame[20] = payload.group;
    frame[21] = payload.mode;
    frame[22] = payload.number;
    frame[23] = payload.onOff ? 1 : 0;
    putBigEndian(frame, 24, channelWord(payload.outlets), 2);
    return frame;
}

}  // namespace protocol
