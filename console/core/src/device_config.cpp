// Device configuration over the serial port: open rule, read, reply hand-over, write.
#include "consolecore/device_config.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

#include "consolecore/device_snapshot.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"

namespace consolecore {

namespace {

constexpr unsigned kBaudRate = 9600;
constexpr char16_t kParity = u'N';
constexpr unsigned kDataBits = 8;
constexpr unsigned kStopBitCode = 0;
// Completed replies waiting for the dialog; a device that floods replies cannot grow it.
constexpr std::size_t kMaxQueuedReplies = 16;
constexpr std::size_t kLoggedChunkBytes = 12;

// The decimal text of a number edit, as data exchange reads it: 0..65535, else none.
std::optional<std::uint16_t> numberOf(const std::string& text) {
    unsigned value = 0;
    const auto* begin = text.data();
    const auto* end = text.data() + text.size();
    while (begin != end && *begin == ' ') ++begin;
    while (end != begin && end[-1] == ' ') --end;
    const auto [stop, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc{} || stop != end || begin == end || value > 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

DeviceConfig::DeviceConfig(DeviceConfigOptions options) : m_options(std::move(options)) {
    // The link's error boxes go where this dialog's go.
    m_port.SetPrompt(m_options.prompt ? m_options.prompt : platform::defaultPrompt());
}

DeviceConfig::~DeviceConfig() {
    if (m_portOpen) close();
}

std::vector<platform::SerialPortEntry> DeviceConfig::portChoices() {
    return platform::listSerialPorts();
}

void DeviceConfig::selectPort(int comboIndex) {
    if (m_portOpen || comboIndex < 0 || comboIndex >= platform::kComPortCount) return;
    m_selectedPort = static_cast<unsigned>(comboIndex) + 1;
}

platform::Prompt* DeviceConfig::prompt() const {
    return m_options.prompt ? m_options.prompt : platform::defaultPrompt();
}

void DeviceConfig::showMessage(const char* text) {
    if (platform::Prompt* target = prompt()) target->showMessage(text);
}

void DeviceConfig::read() {
    if (!m_portOpen) {
        // Set before the monitor starts, so the first chunk is already accepted.
        m_openedPort.store(m_selectedPort);
        auto callback = [this](serialPortInfo& info, const unsigned char* bytes) {
            onSerialChunk(info, bytes);
        };
        if (m_port.InitCmdSerialPort(callback, m_options.dialog, m_selectedPort, kBaudRate, kParity,
                                     kDataBits, kStopBitCode) == 0) {
            m_openedPort.store(0);
            showMessage("打开串口失败!");
        } else {
            logEvent(logcode::kRun, logcode::kOther, "成功打开串口.");
            m_portOpen = true;
        }
    }
    const auto request = buildReadRequest();
    logEvent(logcode::kRun, logcode::kOther, "串口读取信息.");
    // Dropped by the link when the port is not open.
    m_port.WriteToPort(request.data(), static_cast<int>(request.size()), false);
}

// Runs on the serial monitor thread. Copies a completed reply and posts it, so the link never
// waits for the dialog's thread and closing the port can never hang on it.
void DeviceConfig::onSerialChunk(serialPortInfo& info, const unsigned char* bytes) {
    if (info.portNumber != m_openedPort.load()) return;
    const std::size_t length = bytes ? info.byteCount : 0;
    std::string text;
    char hex[4];
    for (std::size_t i = 0; i < std::min(length, kLoggedChunkBytes); ++i) {
        std::snprintf(hex, sizeof hex, "%02X ", bytes[i]);
        text += hex;
    }
    text += "len:" + std::to_string(length);
    logEvent(logcode::kRun, logcode::kOther, text);

    auto reply = m_assembler.feed(std::span(bytes, length));
    if (!reply) return;
    const std::size_t replyLength = reply->size();
    logEvent(logcode::kRun, logcode::kOther,
             "0串口数据:revlen:" + std::to_string(static_cast<int>(replyLength)));
    {
        std::lock_guard lock(m_replyLock);
        if (m_replies.size() == kMaxQueuedReplies) m_replies.pop_front();
        m_replies.push_back(std::move(*reply));
    }
    if (m_options.dialog) m_options.dialog->post(platform::WM_SERIAL_REPLY, replyLength, 0);
}

bool DeviceConfig::handleSerialReply() {
    std::vector<std::uint8_t> reply;
    {
        std::lock_guard lock(m_replyLock);
        if (m_replies.empty()) return false;
        reply = std::move(m_replies.front());
        m_replies.pop_front();
    }
    const std::string text = "串口读取信息返回:len:" + std::to_string(reply.size());
    logEvent(logcode::kRun, logcode::kOther, text + ".");
    const ParsedReply parsed = parseParameterReply(reply);
    if (parsed.check == ReplyCheck::TooShort || parsed.check == ReplyCheck::BadHeader) {
        return false;
    }
    logEvent(logcode::kRun, logcode::kOther, "解析头通过.");
    if (parsed.check == ReplyCheck::BadFunction) return false;
    logEvent(logcode::kRun, logcode::kOther,
             "功能码通过.len:" + std::to_string(int{parsed.lengthByte}));
    fillForm(parsed.parameters);
    return true;
}

void DeviceConfig::fillForm(const DeviceNetworkParameters& p) {
    m_current.deviceNumber = std::to_string(p.deviceNumber);
    if (!useNew(ConfigField::DeviceNumber)) m_proposed.deviceNumber = m_current.deviceNumber;
    m_current.name = deviceNameText(p.name);
    if (!useNew(ConfigField::Name)) m_proposed.name = m_current.name;
    m_current.ipAddress = p.ipAddress;
    if (!useNew(ConfigField::IpAddress)) m_proposed.ipAddress = p.ipAddress;
    m_current.subnetMask = p.subnetMask;
    if (!useNew(ConfigField::SubnetMask)) m_proposed.subnetMask = p.subnetMask;
    m_current.gateway = p.gateway;
    if (!useNew(ConfigField::Gateway)) m_proposed.gateway = p.gateway;
    m_mac = p.mac;
    m_current.macAddress = formatMac(p.mac);
    m_proposed.macAddress = m_current.macAddress;
    m_current.serverIp = p.serverIp;
    if (!useNew(ConfigField::ServerIp)) m_proposed.serverIp = p.serverIp;
}

bool DeviceConfig::collectWriteParameters(DeviceNetworkParameters& out) {
    if (useNew(ConfigField::DeviceNumber)) {
        const auto number = numberOf(m_proposed.deviceNumber);
        if (!number || *number == 0 || *number == 0xFFFF) {
            showMessage("请输入正确的设备ID!");
            return false;
        }
        out.deviceNumber = *number;
    } else {
        out.deviceNumber = numberOf(m_current.deviceNumber).value_or(0);
        if (out.deviceNumber == 0) {
            showMessage("请先读取设备信息!");
            return false;
        }
    }

    const std::string& name = useNew(ConfigField::Name) ? m_proposed.name : m_current.name;
    if (name.empty()) {
        showMessage(useNew(ConfigField::Name) ? "请输入设备名称!" : "请先读取设备信息!");
        return false;
    }
    // The device keeps one byte per character: anything else would arrive as '?'.
    const DeviceNameCheck nameCheck = checkDeviceName(name);
    if (!nameCheck.storable()) {
        showMessage(("设备名称含设备无法保存的字符: " + nameCheck.refused).c_str());
        return false;
    }
    out.name = deviceNameBytes(name);  // its first 10 characters

    auto pick = [this](ConfigField field, Ipv4Octets DeviceConfigValues::*member) {
        return useNew(field) ? m_proposed.*member : m_current.*member;
    };
    out.ipAddress = pick(ConfigField::IpAddress, &DeviceConfigValues::ipAddress);
    out.subnetMask = pick(ConfigField::SubnetMask, &DeviceConfigValues::subnetMask);
    out.gateway = pick(ConfigField::Gateway, &DeviceConfigValues::gateway);

    const std::string& macText =
        useNew(ConfigField::MacAddress) ? m_proposed.macAddress : m_current.macAddress;
    // Parsed into a copy: the MAC read from the device stays until a write is sent.
    MacBytes mac = m_mac;
    switch (parseMacText(macText, mac)) {
        case MacTextError::BadFormat:
            showMessage("输入的物理地址格式不对");
            return false;
        case MacTextError::NotHex:
            showMessage("物理地址只能是16进制.");
            return false;
        case MacTextError::None:
            break;
    }
    out.mac = mac;

    out.serverIp = pick(ConfigField::ServerIp, &DeviceConfigValues::serverIp);
    return true;
}

std::vector<WritePlan::Change> DeviceConfig::changesOf(const DeviceConfigValues& before,
                                                       const DeviceNetworkParameters& after) {
    std::vector<WritePlan::Change> changes;
    const auto add = [&](ConfigField field, const std::string& old, const std::string& now) {
        if (old != now) changes.push_back({field, old, now});
    };
    add(ConfigField::DeviceNumber, before.deviceNumber, std::to_string(after.deviceNumber));
    add(ConfigField::Name, before.name, deviceNameText(after.name));
    add(ConfigField::IpAddress, formatIpv4(before.ipAddress), formatIpv4(after.ipAddress));
    add(ConfigField::SubnetMask, formatIpv4(before.subnetMask), formatIpv4(after.subnetMask));
    add(ConfigField::Gateway, formatIpv4(before.gateway), formatIpv4(after.gateway));
    add(ConfigField::ServerIp, formatIpv4(before.serverIp), formatIpv4(after.serverIp));
    add(ConfigField::MacAddress, before.macAddress, formatMac(after.mac));
    return changes;
}

std::optional<WritePlan> DeviceConfig::prepareWrite() {
    WritePlan plan;
    if (!collectWriteParameters(plan.parameters)) return std::nullopt;
    if (!m_portOpen || !m_port.IsHandleValid()) {
        showMessage("串口未打开,请先读取设备信息!");
        return std::nullopt;
    }
    plan.changes = changesOf(m_current, plan.parameters);
    return plan;
}

bool DeviceConfig::write() {
    const auto plan = prepareWrite();
    return plan && sendWrite(*plan);
}

WriteProgress DeviceConfig::writeProgress() const {
    if (!m_writeSent) return WriteProgress::None;
    if (!m_port.IsHandleValid()) return WriteProgress::Failed;
    return m_port.PendingWriteCount() == 0 ? WriteProgress::Written : WriteProgress::Pending;
}

bool DeviceConfig::sendWrite(const WritePlan& plan) {
    if (!m_portOpen || !m_port.IsHandleValid()) {
        showMessage("串口未打开,请先读取设备信息!");
        return false;
    }
    m_mac = plan.parameters.mac;
    const auto frame = buildWriteRequest(plan.parameters);
    m_port.WriteToPort(frame.data(), static_cast<int>(frame.size()), false);
    m_writeSent = true;
    // The device takes its new settings and registers again: its old entry goes. Only now,
    // so a refused form or a closed port leaves the device in the console.
    removeCurrentDevice(numberOf(m_current.deviceNumber).value_or(0));
    return true;
}

void DeviceConfig::removeCurrentDevice(std::uint16_t id) {
    RemoveDevFromObjDevInfoMap(id);
    RemoveFromDevArray(id);
    // As after an offline notice: no more heartbeats to a device no longer listed, and its
    // connection closes, so that it registers again, from wherever its new settings put it.
    DropNetDevice(id);
    if (m_options.mainWindow) {
        m_options.mainWindow->post(platform::WM_DEVICE_EVENT, id, platform::DEV_EVENT_REMOVED);
    }
    if (m_options.removeFromGroups) m_options.removeFromGroups(id);
}

void DeviceConfig::close() {
    m_port.ReleaseCmdSerialPort();
    logEvent(logcode::kRun, logcode::kOther, "串口已关闭.");
    m_portOpen = false;
    m_openedPort.store(0);
    // The monitor thread has ended: nothing else touches the assembler now.
    m_assembler.clear();
    std::lock_guard lock(m_replyLock);
    m_replies.clear();
}

}  // namespace consolecore
