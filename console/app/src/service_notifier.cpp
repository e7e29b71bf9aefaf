#include "service_notifier.h"

#include <systemd/sd-daemon.h>

#include <QCoreApplication>
#include <QEvent>
#include <algorithm>
#include <string>

#include "logbase/logbase.h"

namespace consoleapp {

namespace {

constexpr std::chrono::minutes kStatusPeriod{1};

const QEvent::Type kEnginePingType = static_cast<QEvent::Type>(QEvent::registerEventType());

// The watchdog's question to the engine's thread: round `asked`.
struct EnginePing : QEvent {
    explicit EnginePing(std::uint64_t round) : QEvent(kEnginePingType), asked(round) {}
    std::uint64_t asked;
};

}  // namespace

ServiceNotifier::ServiceNotifier(std::function<int()> devicesOnline)
    : m_devicesOnline(std::move(devicesOnline)) {
    m_statusTimer.setInterval(kStatusPeriod);
    connect(&m_statusTimer, &QTimer::timeout, this, [this] { sendStatus(); });
}

ServiceNotifier::~ServiceNotifier() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_watchdog.joinable()) m_watchdog.join();
    if (m_ready) sd_notify(0, "STOPPING=1");
}

void ServiceNotifier::ready() {
    const std::string message =
        "READY=1\nSTATUS=" + std::to_string(m_devicesOnline()) + " devices online";
    sd_notify(0, message.c_str());
    m_ready = true;
    m_statusTimer.start();
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        m_watchdog =
            std::thread(&ServiceNotifier::watchdogLoop, this, std::chrono::microseconds(usec));
    }
}

bool ServiceNotifier::event(QEvent* e) {
    if (e->type() != kEnginePingType) return QObject::event(e);
    {
        std::lock_guard lock(m_mutex);
        m_engineAnswered = std::max(m_engineAnswered, static_cast<EnginePing*>(e)->asked);
    }
    m_changed.notify_all();
    return true;
}

void ServiceNotifier::sendStatus() {
    const std::string message = "STATUS=" + std::to_string(m_devicesOnline()) + " devices online";
    sd_notify(0, message.c_str());
}

void ServiceNotifier::watchdogLoop(std::chrono::microseconds interval) {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration>(interval / 2);
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        const auto deadline = Clock::now() + period;
        const std::uint64_t asked = ++m_engineAsked;
        lock.unlock();
        // Posted to this object on the engine's thread: handled only when that thread's event
        // loop turns, and dropped if this object goes first. An event rather than a queued
        // functor: the event is made here and deleted there, nothing is shared between the two.
        QCoreApplication::postEvent(this, new EnginePing(asked));
        lock.lock();
        const bool engineAlive = m_changed.wait_until(
            lock, deadline, [&] { return m_stop || m_engineAnswered >= asked; });
        if (m_stop) break;
        lock.unlock();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const bool writerAlive =
            engineAlive && LogObWriterAnswers(std::max(left, std::chrono::milliseconds(1)));
        if (engineAlive && writerAlive) sd_notify(0, "WATCHDOG=1");
        lock.lock();
        m_changed.wait_until(lock, deadline, [&] { return m_stop; });
    }
}

}  // namespace consoleapp
