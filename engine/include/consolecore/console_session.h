// The console's start-up and shutdown order of its modules.
#pragma once

#include <cstdint>
#include <string>

#include "consolecore/settings.h"

namespace consolecore {

class CDeviceChannel;

struct SessionOptions {
    std::string programFolder;  // where "Vantrel_DB.db3" lives; empty: the data folder
    std::uint16_t port = 6000;  // device link port; 0 picks a free one (tests)
    std::string taskFolder;     // folder of TimingTask.ini; empty: "TimingTask" in the data folder
};

// Process-wide tables before the main window runs: the six serial and six parallel groups
// empty, the device registry cleared.
void beginApplication();
// After the main window has closed: group records and registry emptied.
void endApplication();

class ConsoleSession {
public:
    ConsoleSession(CDeviceChannel& channel, SessionOptions options = {});
    ~ConsoleSession();

    // The main window's start-up, once its device list exists: log store, network link (with
    // "网络初始化成功!" or "网络初始化失败!" logged), timed-task store, timed-task runner.
    void start();
    // The main window's shutdown: runner, grace time, task store, link. Safe to call twice.
    void stop();

    bool linkStarted() const { return m_linkStarted; }
    // Whether the log store opened (when not, it told stderr and the default prompt why).
    bool logStarted() const { return m_logStarted; }
    std::uint16_t port() const { return m_options.port; }
    // "Vantrel.ini" as read by the last start (its problems logged then).
    const VantrelSettings& settings() const { return m_settings; }

private:
    CDeviceChannel& m_channel;
    SessionOptions m_options;
    bool m_running = false;
    bool m_linkStarted = false;
    bool m_logStarted = false;
    VantrelSettings m_settings;
};

}  // namespace consolecore
