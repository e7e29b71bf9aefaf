// Reading "Vantrel.ini": strict values (a bad one is reported, never half-used), bounded
// file and value sizes.
#include "consolecore/settings.h"

#include <charconv>
#include <optional>
#include <utility>

#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "platform/ini_profile.h"
#include "public/data_path.h"

namespace consolecore {
namespace {

constexpr const char* kConsole = "Console";
constexpr const char* kTasks = "Tasks";
constexpr const char* kMqtt = "Mqtt";
constexpr const char* kLog = "Log";
constexpr const char* kWeb = "Web";
constexpr int kMaxKeepDays = 36500;

// The start of a refused value, as much as a log row shows: never cut inside a UTF-8 sequence.
std::string excerpt(const std::string& text) {
    constexpr std::size_t kShown = 64;
    if (text.size() <= kShown) return text;
    std::size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "…(" + std::to_string(text.size()) + "字节)";
}

class SectionReader {
public:
    SectionReader(const platform::IniDocument& document, std::vector<std::string>& problems)
        : m_document(document), m_problems(problems) {}

    void readInt(const char* section, const char* key, int minimum, int maximum, int& value) {
        const auto text = get(section, key, std::to_string(value));
        if (!text) return;
        int parsed = 0;
        const char* end = text->data() + text->size();
        const auto result = std::from_chars(text->data(), end, parsed);
        if (text->empty() || result.ec != std::errc() || result.ptr != end || parsed < minimum ||
            parsed > maximum) {
            reject(section, key, *text, std::to_string(value));
            return;
        }
        value = parsed;
    }

    void readBool(const char* section, const char* key, bool& value) {
        int number = value ? 1 : 0;
        readInt(section, key, 0, 1, number);
        value = number != 0;
    }

    void readString(const char* section, const char* key, std::string& value) {
        if (const auto text = get(section, key, value)) value = *text;
    }

    void readTopic(const char* section, const char* key, std::string& value) {
        const auto text = get(section, key, value);
        if (!text) return;
        if (text->empty() || text->find_first_of("+#") != std::string::npos) {
            reject(section, key, *text, value);
            return;
        }
        value = *text;
    }

private:
    // The value, or nothing when it is missing or refused as too long (a problem then).
    std::optional<std::string> get(const char* section, const char* key,
                                   const std::string& fallback) {
        auto text = m_document.get(section, key);
        if (text && text->size() > kMaxSettingValueBytes) {
            reject(section, key, *text, fallback);
            return std::nullopt;
        }
        return text;
    }

    void reject(const char* section, const char* key, const std::string& text,
                const std::string& fallback) {
        // Built by appends: GCC 12 at -O3 warns falsely (-Wrestrict) on chained operator+.
        std::string problem = "[";
        problem.append(section).append("] ").append(key).append("=").append(excerpt(text));
        problem.append(" 无效,使用默认值 ").append(fallback);
        m_problems.push_back(std::move(problem));
    }

    const platform::IniDocument& m_document;
    std::vector<std::string>& m_problems;
};

}  // namespace

std::string settingsPath() {
    return GetDataPath() + "Vantrel.ini";
}

SettingsLoad readSettings(const std::string& path) {
    SettingsLoad load;
    const platform::IniLoad file = platform::readIniFile(path);
    if (!file.document) {
        load.problems.push_back(
            std::string(path).append(" 无法读取(").append(file.problem).append("),使用默认设置"));
        return load;
    }
    SectionReader reader(*file.document, load.problems);
    VantrelSettings& s = load.settings;
    reader.readInt(kConsole, "StepTimeoutSec", 1, 3600, s.console.stepTimeoutSec);
    reader.readBool(kConsole, "ConfirmGroupOff", s.console.confirmGroupOff);
    reader.readBool(kConsole, "KeepOfflineRows", s.console.keepOfflineRows);
    reader.readBool(kTasks, "ReapplyOnRegister", s.tasks.reapplyOnRegister);
    reader.readInt(kTasks, "ReapplyStaggerMs", 0, 10000, s.tasks.reapplyStaggerMs);
    reader.readInt(kLog, "KeepDays", 0, kMaxKeepDays, s.log.keepDays);
    reader.readString(kMqtt, "Host", s.mqtt.host);
    reader.readInt(kMqtt, "Port", 1, 65535, s.mqtt.port);
    reader.readString(kMqtt, "User", s.mqtt.user);
    reader.readString(kMqtt, "Password", s.mqtt.password);
    reader.readString(kMqtt, "CaFile", s.mqtt.caFile);
    reader.readTopic(kMqtt, "BaseTopic", s.mqtt.baseTopic);
    reader.readString(kMqtt, "ClientId", s.mqtt.clientId);
    reader.readInt(kWeb, "Port", 0, 65535, s.web.port);
    reader.readString(kWeb, "Bind", s.web.bind);
    reader.readString(kWeb, "CertFile", s.web.certFile);
    reader.readString(kWeb, "KeyFile", s.web.keyFile);
    reader.readInt(kWeb, "SessionMinutes", 1, 43200, s.web.sessionMinutes);
    reader.readBool(kWeb, "MetricsOpen", s.web.metricsOpen);
    reader.readInt(kWeb, "StreamBacklog", 16, 65536, s.web.streamBacklog);
    return load;
}

VantrelSettings loadSettingsAndLog(const std::string& path) {
    SettingsLoad load = readSettings(path);
    for (const std::string& problem : load.problems) {
        logEvent(logcode::kFailure, logcode::kParameterChange,
                 "配置项" + std::string(problem.c_str()));
    }
    return load.settings;
}

}  // namespace consolecore
