// What the headless service tells its service manager (systemd) through sd_notify: ready once
// the link listens and the log store is open, the number of devices online every minute, a
// watchdog ping while the engine's thread and the log writer both answer, stopping at the end.
// Outside systemd (no NOTIFY_SOCKET) every message is dropped and no watchdog thread runs.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace consoleapp {

class ServiceNotifier : public QObject {
public:
    // Lives on the engine's thread; `devicesOnline` is called there.
    explicit ServiceNotifier(std::function<int()> devicesOnline);
    ~ServiceNotifier() override;  // STOPPING=1 once ready, and the watchdog thread ends

    // READY=1 with the first status; starts the status timer and, when the service manager
    // asks for one (WatchdogSec, seen as WATCHDOG_USEC), the watchdog thread.
    void ready();

protected:
    bool event(QEvent* e) override;  // the watchdog's ping, answered on the engine's thread

private:
    void sendStatus();
    // Every half interval: asks the engine's thread and the log writer to answer and sends
    // WATCHDOG=1 only when both did before the next round is due.
    void watchdogLoop(std::chrono::microseconds interval);

    std::function<int()> m_devicesOnline;
    QTimer m_statusTimer;
    bool m_ready = false;
    std::thread m_watchdog;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stop = false;                 // guarded by m_mutex
    std::uint64_t m_engineAsked = 0;     // guarded by m_mutex
    std::uint64_t m_engineAnswered = 0;  // guarded by m_mutex
};

}  // namespace consoleapp
