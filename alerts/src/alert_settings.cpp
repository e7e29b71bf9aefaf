// Reading [Alerts]: each value checked in full; a bad one is reported and not used.
#include "alerts/alert_settings.h"

#include <charconv>

#include "platform/ini_profile.h"

namespace alerts {

namespace {

constexpr const char* kSection = "Alerts";
constexpr std::size_t kMaxValueBytes = 4096;

bool hasControlOrSpace(const std::string& text) {
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7F) return true;
    }
    return false;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string problem(const char* key, const std::string& value, const std::string& why) {
    std::string text = "[Alerts] ";
    text.append(key).append("=").append(value.substr(0, 200)).append(" 无效(").append(why);
    return text.append(")");
}

}  // namespace

std::optional<WebhookUrl> parseWebhookUrl(const std::string& text) {
    if (text.empty() || text.size() > kMaxValueBytes || hasControlOrSpace(text)) return {};
    WebhookUrl url;
    std::string rest;
    if (text.starts_with("http://")) {
        rest = text.substr(7);
    } else if (text.starts_with("https://")) {
        url.https = true;
        url.port = 443;
        rest = text.substr(8);
    } else {
        return {};
    }
    if (rest.find('#') != std::string::npos) return {};
    const auto pathStart = rest.find_first_of("/?");
    std::string authority = rest.substr(0, pathStart);
    if (pathStart != std::string::npos) {
        // A query alone gets the root path; built by appends (GCC 12 at -O3 warns falsely,
        // -Wrestrict, on an insert at the front).
        url.target = rest[pathStart] == '?' ? std::string("/") : std::string();
        url.target.append(rest, pathStart);
    }
    if (authority.empty() || authority.find('@') != std::string::npos) return {};
    std::string portText;
    if (authority.front() == '[') {  // IPv6 literal
        const auto close = authority.find(']');
        if (close == std::string::npos || close == 1) return {};
        url.host = authority.substr(1, close - 1);
        const std::string after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return {};
            portText = after.substr(1);
            if (portText.empty()) return {};
        }
    } else {
        const auto colon = authority.find(':');
        url.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            portText = authority.substr(colon + 1);
            if (portText.empty()) return {};
        }
        if (url.host.empty() || url.host.find_first_of("[]") != std::string::npos) return {};
    }
    if (!portText.empty()) {
        unsigned port = 0;
        const char* end = portText.data() + portText.size();
        const auto result = std::from_chars(portText.data(), end, port);
        if (result.ec != std::errc() || result.ptr != end || port == 0 || port > 65535) return {};
        url.port = static_cast<std::uint16_t>(port);
    }
    return url;
}

std::optional<std::vector<std::string>> splitCommand(const std::string& text) {
    std::vector<std::string> argv;
    std::string current;
    bool inWord = false;
    char quote = 0;
    for (char c : text) {
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else {
                current.push_back(c);
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) argv.push_back(std::move(current));
            current.clear();
            inWord = false;
        } else {
            current.push_back(c);
            inWord = true;
        }
    }
    if (quote != 0) return {};
    if (inWord) argv.push_back(std::move(current));
    if (argv.empty() || argv.front().empty()) return {};
    return argv;
}

AlertSettingsLoad readAlertSettings(const std::string& path) {
    AlertSettingsLoad load;
    const platform::IniLoad file = platform::readIniFile(path);
    if (!file.document) return load;  // the console's own settings reading reports it
    const platform::IniDocument& ini = *file.document;
    AlertSettings& settings = load.settings;
    for (AlertEvent event : kSelectableEvents) settings.events.insert(event);

    if (auto url = ini.get(kSection, "WebhookUrl"); url && !trimmed(*url).empty()) {
        settings.webhookText = trimmed(*url);
        settings.webhook = parseWebhookUrl(settings.webhookText);
        if (!settings.webhook) {
            load.problems.push_back(problem("WebhookUrl", *url, "需要http://或https://地址"));
        }
    }
    if (auto command = ini.get(kSection, "Command"); command && !trimmed(*command).empty()) {
        auto argv = command->size() <= kMaxValueBytes ? splitCommand(*command) : std::nullopt;
        if (argv) {
            settings.command = std::move(*argv);
        } else {
            load.problems.push_back(problem("Command", *command, "引号未闭合或过长"));
        }
    }
    if (auto events = ini.get(kSection, "Events"); events && !trimmed(*events).empty()) {
        settings.events.clear();
        std::size_t start = 0;
        while (start <= events->size()) {
            const auto comma = events->find(',', start);
            const std::string name = trimmed(events->substr(start, comma - start));
            if (const auto event = parseEventName(name)) {
                settings.events.insert(*event);
            } else if (!name.empty()) {
                load.problems.push_back(problem("Events", name, "未知事件"));
            }
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    return load;
}

}  // namespace alerts
