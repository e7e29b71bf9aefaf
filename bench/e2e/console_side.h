// The console half of the end-to-end benchmark: link, command channel, device table and
// switching handlers with a thread playing the GUI thread, plus the read-outs the benchmark
// needs (rows, status posts with their send-to-post latency, registration and removal times).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "consolecore/device_channel.h"
#include "consolecore/device_table.h"
#include "consolecore/group_selection.h"
#include "consolecore/switching.h"
#include "platform/message_target.h"
#include "platform/prompt.h"
#include "testkit/job_thread.h"

namespace e2e {

using Clock = std::chrono::steady_clock;

class FirstGroupChooser : public consolecore::GroupChooser {
public:
    std::optional<int> chooseGroup(consolecore::GroupKind kind, std::uint8_t direction) override;
};

class PrintingPrompt : public platform::Prompt {
public:
    void showMessage(const std::string& text, const std::string& caption,
                     platform::PromptIcon icon) override;
};

class ConsoleSide : public platform::MessageTarget {
public:
    // `heartbeatGap`: least time between two heartbeats to one device (the link's option).
    ConsoleSide(const std::string& folder, std::chrono::milliseconds heartbeatGap);
    ~ConsoleSide() override;

    bool started() const { return m_started; }
    std::uint16_t port() const { return m_port; }

    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    // Runs `action` on the GUI thread and waits for it.
    void onGui(std::function<void()> action);

    // Waits until the device table holds exactly `rows` rows.
    bool waitRows(std::size_t rows, std::chrono::milliseconds timeout);
    std::size_t rows() const { return m_rows.load(); }

    std::uint64_t statusPosts() const { return m_statusPosts.load(); }
    bool waitStatusPosts(std::uint64_t count, std::chrono::milliseconds timeout);
    Clock::time_point lastStatusPost() const;
    // Send-to-post latencies (microseconds) of frames that carried a send time, from now on.
    void recordLatencies(bool on);
    std::vector<double> latencies() const;

    // When each device was last registered and removed (time_point{} when never).
    Clock::time_point registeredAt(std::uint16_t id) const;
    Clock::time_point removedAt(std::uint16_t id) const;
    std::uint64_t removals() const { return m_removals.load(); }

    consolecore::CDeviceChannel channel{*this};  // the receive path posts here
    consolecore::DeviceTable table;
    FirstGroupChooser chooser;
    PrintingPrompt prompt;
    consolecore::SwitchingController switching;

private:
    static int onFrame(std::uint32_t id, sockaddr_in peer, const std::uint8_t* data,
                       std::int32_t length);

    bool m_started = false;
    std::uint16_t m_port = 0;
    std::atomic<std::size_t> m_rows{0};
    std::atomic<std::uint64_t> m_statusPosts{0};
    std::atomic<std::uint64_t> m_removals{0};
    std::atomic<Clock::rep> m_lastStatus{0};
    std::atomic<bool> m_recordLatencies{false};

    mutable std::mutex m_lock;  // latencies, times, and the waits below
    std::condition_variable m_changed;
    std::vector<double> m_latencies;
    std::vector<Clock::time_point> m_registeredAt;
    std::vector<Clock::time_point> m_removedAt;

    testkit::JobThread m_gui;  // the stand-in GUI thread
};

}  // namespace e2e
