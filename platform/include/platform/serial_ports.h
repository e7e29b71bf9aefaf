// Which Linux serial device each COM number names, for the serial link and the port combo.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The environment variable that replaces the discovered mapping, e.g.
// VANTREL_COM_PORTS="1=/dev/pts/5,2=/dev/ttyUSB0". When it is set, it is the whole mapping.
inline constexpr const char* kComPortsVariable = "VANTREL_COM_PORTS";

// The port combo offers COM1 to COM20.
inline constexpr int kComPortCount = 20;

struct SerialPortEntry {
    int comNumber = 0;       // 1..kComPortCount
    std::string devicePath;  // empty when nothing is mapped to this number
};

// Parses an override list "n=path,n=path". Entries with a number outside 1..kComPortCount,
// an empty path or no '=' are skipped; a number given twice keeps its last path.
std::map<int, std::string> parseComPortOverride(std::string_view text);

// Serial devices found in `devDir`: ttyUSB*, then ttyACM*, then ttyS*, each family in
// numeric order. A ttyS node counts only when `sysTtyDir`/<name>/type says it has a UART
// (type not 0); when `sysTtyDir` does not exist every ttyS node counts.
std::vector<std::string> discoverSerialDevices(
    const std::filesystem::path& devDir = "/dev",
    const std::filesystem::path& sysTtyDir = "/sys/class/tty");

// COM1..COM20 with their devices: the override when the variable is set, else the
// discovered devices in order (COM1 = first).
std::vector<SerialPortEntry> listSerialPorts();

// The device path of COM`comNumber`, empty when none is mapped.
std::string serialDevicePath(int comNumber);

}  // namespace platform
