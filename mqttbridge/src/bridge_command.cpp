// Parsing of command topics and payloads.
#include "mqttbridge/bridge_command.h"

#include <optional>
#include <vector>

namespace mqttbridge {
namespace {

std::vector<std::string_view> splitTopic(std::string_view topic) {
    std::vector<std::string_view> levels;
    std::size_t start = 0;
    for (;;) {
        const auto slash = topic.find('/', start);
        levels.push_back(topic.substr(start, slash - start));
        if (slash == std::string_view::npos) return levels;
        start = slash + 1;
    }
}

// A plain decimal number without sign or leading zero, within [low, high].
std::optional<int> parseNumber(std::string_view text, int low, int high) {
    if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) return {};
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return {};
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) return {};
    return value;
}

std::optional<bool> parseSwitch(std::string_view payload) {
    if (payload == "ON") return true;
    if (payload == "OFF") return false;
    return {};
}

ParsedCommand fail(const char* reason) {
    return {std::string(reason)};
}

}  // namespace

ParsedCommand parseCommand(std::string_view base, std::string_view topic,
                           std::string_view payload) {
    if (topic.size() <= base.size() || topic.substr(0, base.size()) != base ||
        topic[base.size()] != '/') {
        return fail("主题不对");
    }
    const auto levels = splitTopic(topic.substr(base.size() + 1));
    if (levels.size() != 4 || levels[3] != "set") return fail("主题不对");
    const auto on = parseSwitch(payload);
    if (levels[0] == "group") {
        GroupCommand command;
        if (levels[2] == "parallel") {
            command.mode = GroupMode::Parallel;
        } else if (levels[2] == "serial") {
            command.mode = GroupMode::Serial;
        } else {
            return fail("主题不对");
        }
        const auto group = parseNumber(levels[1], 1, kGroupCount);
        if (!group) return fail("组号不在1..6");
        if (!on) return fail("内容不是ON/OFF");
        command.group = *group;
        command.on = *on;
        return {Command{command}};
    }
    if (levels[1] != "outlet") return fail("主题不对");
    const auto id = parseNumber(levels[0], 0, 65535);
    if (!id) return fail("设备ID不对");
    const auto outlet = parseNumber(levels[2], 1, kOutletCount);
    if (!outlet) return fail("插座号不在1..16");
    if (!on) return fail("内容不是ON/OFF");
    return {Command{OutletCommand{static_cast<std::uint16_t>(*id), *outlet, *on}}};
}

}  // namespace mqttbridge
