// [Alerts] in "Vantrel.ini": where alerts go (a webhook, a command) and which events go there.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "alerts/alert.h"

namespace alerts {

struct WebhookUrl {
    bool https = false;
    std::string host;  // without brackets for an IPv6 literal
    std::uint16_t port = 80;
    std::string target = "/";  // path and query
};

// http://host[:port][/path] or https://...; nothing when it is not such a URL (no user
// info, no fragment, no spaces or control characters).
std::optional<WebhookUrl> parseWebhookUrl(const std::string& text);

// The program and its arguments, split at spaces and tabs; double or single quotes keep
// spaces inside one argument. Nothing for an unclosed quote or an empty command.
std::optional<std::vector<std::string>> splitCommand(const std::string& text);

struct AlertSettings {
    std::optional<WebhookUrl> webhook;  // [Alerts] WebhookUrl
    std::string webhookText;            // as written, for log lines
    std::vector<std::string> command;   // [Alerts] Command; empty: none
    std::set<AlertEvent> events;        // [Alerts] Events; default: all

    bool enabled() const { return webhook.has_value() || !command.empty(); }
};

struct AlertSettingsLoad {
    AlertSettings settings;
    // One text per value present but not valid: a bad URL or command is not used, an unknown
    // event name is left out.
    std::vector<std::string> problems;
};

// Reads [Alerts] from the settings file; a missing file or section gives no alerts.
AlertSettingsLoad readAlertSettings(const std::string& path);

}  // namespace alerts
