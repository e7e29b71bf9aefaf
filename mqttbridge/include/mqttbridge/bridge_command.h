// Commands that arrive over MQTT, parsed and checked before the owner sees them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace mqttbridge {

// `<base>/<id>/outlet/<n>/set`: switch one outlet (1..16) of one device.
struct OutletCommand {
    std::uint16_t id = 0;
    int outlet = 0;
    bool on = false;
    bool operator==(const OutletCommand&) const = default;
};

enum class GroupMode { Parallel, Serial };

// `<base>/group/<g>/parallel/set` or `.../serial/set`: switch a switching group (1..6).
struct GroupCommand {
    int group = 0;
    GroupMode mode = GroupMode::Parallel;
    bool on = false;
    bool operator==(const GroupCommand&) const = default;
};

using Command = std::variant<OutletCommand, GroupCommand>;

// A command, or the reason the message is not one (a short text for the log).
struct ParsedCommand {
    std::variant<Command, std::string> value;
    bool ok() const { return value.index() == 0; }
};

inline constexpr int kOutletCount = 16;
inline constexpr int kGroupCount = 6;

// Parses a message on a topic under `base`. Checks the topic's shape, the numbers' ranges and
// the payload ("ON"/"OFF"); whether the id is known is the caller's question.
ParsedCommand parseCommand(std::string_view base, std::string_view topic, std::string_view payload);

}  // namespace mqttbridge
