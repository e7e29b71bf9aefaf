// COM numbers mapped onto Linux serial devices, with an environment override.
#include "platform/serial_ports.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <optional>

namespace platform {

namespace {

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The decimal number after `prefix` in `name`, if the rest of the name is only digits.
std::optional<unsigned> suffixNumber(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix) || name.size() == prefix.size()) return std::nullopt;
    const auto digits = name.substr(prefix.size());
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

// A ttyS node is backed by a UART when sysfs reports a non-zero port type.
bool hasUart(const std::filesystem::path& sysTtyDir, const std::string& name) {
    std::error_code ec;
    if (!std::filesystem::is_directory(sysTtyDir, ec)) return true;
    std::ifstream typeFile(sysTtyDir / name / "type");
    int type = 0;
    return typeFile >> type && type != 0;
}

}  // namespace

std::map<int, std::string> parseComPortOverride(std::string_view text) {
    std::map<int, std::string> mapping;
    while (!text.empty()) {
        const auto comma = text.find(',');
        const auto entry = trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        const auto equals = entry.find('=');
        if (equals == std::string_view::npos) continue;
        const auto numberText = trim(entry.substr(0, equals));
        const auto path = trim(entry.substr(equals + 1));
        int number = 0;
        const auto [end, ec] =
            std::from_chars(numberText.data(), numberText.data() + numberText.size(), number);
        if (ec != std::errc{} || end != numberText.data() + numberText.size()) continue;
        if (number < 1 || number > kComPortCount || path.empty()) continue;
        mapping[number] = std::string(path);
    }
    return mapping;
}

std::vector<std::string> discoverSerialDevices(const std::filesystem::path& devDir,
                                               const std::filesystem::path& sysTtyDir) {
    static constexpr std::string_view kFamilies[] = {"ttyUSB", "ttyACM", "ttyS"};
    std::vector<std::pair<unsigned, std::string>> found[std::size(kFamilies)];
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(devDir, ec)) {
        const std::string name = entry.path().filename().string();
        for (std::size_t family = 0; family < std::size(kFamilies); ++family) {
            const auto number = suffixNumber(name, kFamilies[family]);
            if (!number) continue;
            if (kFamilies[family] == "ttyS" && !hasUart(sysTtyDir, name)) break;
            found[family].emplace_back(*number, entry.path().string());
            break;
        }
    }
    std::vector<std::string> devices;
    for (auto& family : found) {
        std::sort(family.begin(), family.end());
        for (auto& [number, path] : family) devices.push_back(std::move(path));
    }
    return devices;
}

std::vector<SerialPortEntry> listSerialPorts() {
    std::vector<SerialPortEntry> ports(kComPortCount);
    for (int i = 0; i < kComPortCount; ++i) ports[i].comNumber = i + 1;
    if (const char* value = std::getenv(kComPortsVariable)) {
        for (auto& [number, path] : parseComPortOverride(value))
            ports[number - 1].devicePath = path;
        return ports;
    }
    const auto devices = discoverSerialDevices();
    for (std::size_t i = 0; i < devices.size() && i < ports.size(); ++i) {
        ports[i].devicePath = devices[i];
    }
    return ports;
}

std::string serialDevicePath(int comNumber) {
    if (comNumber < 1 || comNumber > kComPortCount) return {};
    return listSerialPorts()[comNumber - 1].devicePath;
}

}  // namespace platform
