// The console half of the end-to-end benchmark: see console_side.h.
#include "console_side.h"

#include <cstdio>
#include <future>
#include <memory>

#include "consolecore/switching_groups.h"
#include "devroster/devroster.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "logbase/logbase.h"
#include "platform/messages.h"

namespace e2e {

namespace {

// The header value (offset 12, big-endian) of the frame being handed to the command channel:
// the fleet puts its send time there. Only the link's dispatch thread touches it.
std::uint32_t g_frameValue = 0;
bool g_frameHasValue = false;

std::uint32_t nowMicros() {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
            .count());
}

}  // namespace

std::optional<int> FirstGroupChooser::chooseGroup(consolecore::GroupKind kind,
                                                  std::uint8_t direction) {
    consolecore::GroupSelectionModel model(kind, direction);
    model.selectGroup(0);
    return model.result();
}

void PrintingPrompt::showMessage(const std::string& text, const std::string&,
                                 platform::PromptIcon) {
    std::printf("  (message box: %s)\n", text.c_str());
}

ConsoleSide::ConsoleSide(const std::string& folder, std::chrono::milliseconds heartbeatGap)
    : table(channel),
      switching(channel, chooser, prompt, [this] { return static_cast<int>(m_rows.load()); }),
      m_registeredAt(65536),
      m_removedAt(65536) {
    LanwireOptions options;
    options.programFolder = folder;
    options.heartbeatGap = heartbeatGap;
    SetLanwireOptions(options);
    InitLogbaseModule(folder, "Vantrel_DB.db3");
    consolecore::switchingGroups().reset();
    InitDevrosterMod();
    // The channel's own receive callback, behind a shim that notes the frame's send time.
    m_started = InitLanwire(0, &ConsoleSide::onFrame);
    m_port = GetLanwirePort();
}

ConsoleSide::~ConsoleSide() {
    CancelLanwire();
    m_gui.stop();
    ReleaseLogbaseModule();
    InitDevrosterMod();
}

int ConsoleSide::onFrame(std::uint32_t id, sockaddr_in peer, const std::uint8_t* data,
                         std::int32_t length) {
    g_frameHasValue = length >= 16;
    g_frameValue = g_frameHasValue
                       ? (std::uint32_t{data[12]} << 24 | std::uint32_t{data[13]} << 16 |
                          std::uint32_t{data[14]} << 8 | data[15])
                       : 0;
    return consolecore::CDeviceChannel::OnNetData(id, peer, data, length);
}

void ConsoleSide::post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    const auto id = static_cast<std::uint16_t>(wParam & 0xFFFF);
    if (message == platform::WM_DEVICE_EVENT && lParam == platform::DEV_EVENT_STATUS) {
        // Runs inside OnNetData on the dispatch thread: the shim's value is this frame's.
        if (m_recordLatencies.load() && g_frameHasValue && g_frameValue != 0) {
            const double us = static_cast<double>(nowMicros() - g_frameValue);
            std::lock_guard lock(m_lock);
            m_latencies.push_back(us);
        }
        m_lastStatus.store(Clock::now().time_since_epoch().count());
        m_statusPosts.fetch_add(1);
        m_changed.notify_all();
    }
    m_gui.post([this, message, id, lParam] {
        if (message == platform::WM_DEVICE_EVENT) {
            table.OnDeviceEvent(id, static_cast<int>(lParam & 0xFF));
            m_rows.store(static_cast<std::size_t>(table.rowCount()));
            {
                std::lock_guard lock(m_lock);
                if (lParam == platform::DEV_EVENT_REGISTERED) m_registeredAt[id] = Clock::now();
                if (lParam == platform::DEV_EVENT_REMOVED) m_removedAt[id] = Clock::now();
            }
            if (lParam == platform::DEV_EVENT_REMOVED) m_removals.fetch_add(1);
            m_changed.notify_all();
        } else if (message == platform::WM_PARALLEL_STEP_DONE) {
            switching.onParallelStepDone(id);
        } else if (message == platform::WM_SERIAL_STEP_DONE) {
            switching.onSerialStepDone(id, lParam != 0);
        }
    });
}

void ConsoleSide::onGui(std::function<void()> action) {
    m_gui.run(std::move(action));
}

bool ConsoleSide::waitRows(std::size_t rows, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return m_rows.load() == rows; });
}

bool ConsoleSide::waitStatusPosts(std::uint64_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return m_statusPosts.load() >= count; });
}

Clock::time_point ConsoleSide::lastStatusPost() const {
    return Clock::time_point(Clock::duration(m_lastStatus.load()));
}

void ConsoleSide::recordLatencies(bool on) {
    std::lock_guard lock(m_lock);
    m_latencies.clear();
    m_recordLatencies.store(on);
}

std::vector<double> ConsoleSide::latencies() const {
    std::lock_guard lock(m_lock);
    return m_latencies;
}

Clock::time_point ConsoleSide::registeredAt(std::uint16_t id) const {
    std::lock_guard lock(m_lock);
    return m_registeredAt[id];
}

Clock::time_point ConsoleSide::removedAt(std::uint16_t id) const {
    std::lock_guard lock(m_lock);
    return m_removedAt[id];
}

}  // namespace e2e
