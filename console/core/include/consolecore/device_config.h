// The state and actions behind the device-configuration dialog ("设备配置"): reading a
// device's network parameters over a COM port and writing new ones. The dialog binds its
// widgets to this class and forwards the operator's actions; it holds no logic of its own.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "comwire/serial_port_comd.h"
#include "consolecore/device_config_frames.h"
#include "consolecore/device_config_reply.h"
#include "platform/message_target.h"
#include "platform/messages.h"
#include "platform/prompt.h"
#include "platform/serial_ports.h"

namespace consolecore {

// The values that have a current and a new control, each new one with its check box.
enum class ConfigField : int {
    DeviceNumber,
    Name,
    IpAddress,
    SubnetMask,
    Gateway,
    ServerIp,
    MacAddress,
};
inline constexpr int kConfigFieldCount = 7;

// One column of the form: what the current-value or the new-value controls show.
struct DeviceConfigValues {
    std::string deviceNumber = "0";  // decimal text of the number edit
    std::string name;
    Ipv4Octets ipAddress{};
    Ipv4Octets subnetMask{};
    Ipv4Octets gateway{};
    Ipv4Octets serverIp{};
    std::string macAddress;  // "XX.XX.XX.XX.XX.XX" once read
};

// A write that passed every check: the frame's parameters and, for the question put to the
// operator, each value that will change, as the form shows it before and after.
struct WritePlan {
    struct Change {
        ConfigField field;
        std::string before;
        std::string after;
        bool operator==(const Change&) const = default;
    };
    DeviceNetworkParameters parameters;
    std::vector<Change> changes;  // in form order
};

// Where the last write handed to the port stands.
enum class WriteProgress { None, Pending, Written, Failed };

struct DeviceConfigOptions {
    platform::Prompt* prompt = nullptr;             // message boxes; null: platform default
    platform::MessageTarget* dialog = nullptr;      // receives WM_SERIAL_REPLY
    platform::MessageTarget* mainWindow = nullptr;  // receives WM_DEVICE_EVENT, removed
    // Removes a device from every switching-group list (all twelve).
    std::function<void(std::uint16_t)> removeFromGroups;
};

class DeviceConfig {
public:
    explicit DeviceConfig(DeviceConfigOptions options);
    // Closes the port if it is still open.
    ~DeviceConfig();
    DeviceConfig(const DeviceConfig&) = delete;
    DeviceConfig& operator=(const DeviceConfig&) = delete;

    // The port combo: COM1..COM20 with the Linux device each one names (empty: none).
    static std::vector<platform::SerialPortEntry> portChoices();
    // Combo index 0 is COM1. Ignored while the port is open (it stays fixed until close).
    void selectPort(int comboIndex);
    unsigned selectedPort() const { return m_selectedPort; }
    bool isPortOpen() const { return m_portOpen; }

    // The form. current() is shown read-only; proposed() holds the new values, each editable
    // while its check box is ticked.
    DeviceConfigValues& current() { return m_current; }
    const DeviceConfigValues& current() const { return m_current; }
    DeviceConfigValues& proposed() { return m_proposed; }
    const DeviceConfigValues& proposed() const { return m_proposed; }
    bool useNew(ConfigField field) const { return m_useNew[index(field)]; }
    void setUseNew(ConfigField field, bool on) { m_useNew[index(field)] = on; }
    // The new-value control of a field is enabled exactly while its box is ticked.
    bool isNewFieldEnabled(ConfigField field) const { return useNew(field); }
    // The MAC address last read or accepted from the MAC text.
    const MacBytes& macBytes() const { return m_mac; }

    // Where this dialog's message boxes go.
    platform::Prompt* prompt() const;

    // "读设备参数": opens the port on the first read ("打开串口失败!" when it cannot), then
    // sends the read request. The reply arrives later as WM_SERIAL_REPLY.
    void read();
    // "设置设备参数", first half: checks every field and the port, showing the first refusal;
    // none when something is refused. Sends nothing and changes nothing.
    std::optional<WritePlan> prepareWrite();
    // Second half: hands the 38-byte write request to the open port (true when it was). Only
    // then is the current device removed from the registry, the groups and heartbeat
    // supervision (its connection closes), and the main window told.
    bool sendWrite(const WritePlan& plan);
    // Both halves without a question in between.
    bool write();
    // Pending until the port has written the frame; Failed when the port lost its device.
    WriteProgress writeProgress() const;
    // WM_SERIAL_REPLY on the dialog's thread: parses the oldest completed reply and fills the
    // form. True when the form was filled.
    bool handleSerialReply();
    // The dialog is going away: closes the port ("串口已关闭.").
    void close();

private:
    static int index(ConfigField field) { return static_cast<int>(field); }
    void showMessage(const char* text);
    void onSerialChunk(serialPortInfo& info, const unsigned char* bytes);
    void fillForm(const DeviceNetworkParameters& p);
    // Fills `out` from the form; false (after its message) when a value is not acceptable.
    bool collectWriteParameters(DeviceNetworkParameters& out);
    static std::vector<WritePlan::Change> changesOf(const DeviceConfigValues& before,
                                                    const DeviceNetworkParameters& after);
    void removeCurrentDevice(std::uint16_t id);

    DeviceConfigOptions m_options;
    unsigned m_selectedPort = 1;
    bool m_portOpen = false;
    MacBytes m_mac{};
    DeviceConfigValues m_current;
    DeviceConfigValues m_proposed;
    std::array<bool, kConfigFieldCount> m_useNew{};
    bool m_writeSent = false;

    // Shared with the monitor thread: the port replies are accepted from, the assembler (used
    // only on that thread while the port is open) and the completed replies.
    std::atomic<unsigned> m_openedPort{0};
    ReplyAssembler m_assembler;
    std::mutex m_replyLock;
    std::deque<std::vector<std::uint8_t>> m_replies;

    // Last, so it is destroyed first: its monitor thread ends before the state it uses.
    CSerialPortComd m_port;
};

}  // namespace consolecore
