// Marker construction and command names.
#include "protocol/frame_types.h"

namespace protocol {

std::uint32_t makeFrameMagic() {
    std::uint32_t magic = 0;
    for (std::uint8_t byte : {0xFE, 0xFC, 0xFD, 0xFA}) magic = (magic << 8) | byte;
    return magic;
}

std::string_view commandName(std::uint8_t command) {
    switch (command) {
        case NET_CMD_REGISTER:
            return "NET_CMD_REGISTER";
        case NET_CMD_HEARTBEAT_ACK:
            return "NET_CMD_HEARTBEAT_ACK";
        case NET_CMD_STATUS:
            return "NET_CMD_STATUS";
        case NET_CMD_STEP_DONE:
            return "NET_CMD_STEP_DONE";
        case NET_CMD_HEARTBEAT:
            return "NET_CMD_HEARTBEAT";
        case NET_CMD_PARALLEL:
            return "NET_CMD_PARALLEL";
        case NET_CMD_SERIAL:
            return "NET_CMD_SERIAL";
        case NET_CMD_CHANNEL:
            return "NET_CMD_CHANNEL";
        case NET_CMD_SET_MODE:
            return "NET_CMD_SET_MODE";
        case NET_CMD_SET_GROUP:
            return "NET_CMD_SET_GROUP";
        case NET_CMD_SET_NUMBER:
            return "NET_CMD_SET_NUMBER";
        case NET_CMD_SET_ONOFF:
            return "NET_CMD_SET_ONOFF";
        case NET_CMD_OFFLINE:
            return "NET_CMD_OFFLINE";
        default:
            return "unknown";
    }
}

}  // namespace protocol
