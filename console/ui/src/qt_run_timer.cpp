// One single-shot QTimer per armed key; a fired or disarmed timer is deleted from the loop.
#include "consoleui/qt_run_timer.h"

namespace consoleui {

QtRunTimer::~QtRunTimer() {
    for (auto& [key, timer] : m_timers) {
        delete timer.data();
    }
}

void QtRunTimer::arm(std::uint64_t key, std::chrono::milliseconds after,
                     std::function<void()> fire) {
    disarm(key);
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, timer, [this, key, timer, fire = std::move(fire)] {
        // Forget the timer before calling out: the callback may arm this key again.
        auto it = m_timers.find(key);
        if (it != m_timers.end() && it->second == timer) m_timers.erase(it);
        timer->deleteLater();
        fire();
    });
    m_timers[key] = timer;
    timer->start(after);
}

void QtRunTimer::disarm(std::uint64_t key) {
    auto it = m_timers.find(key);
    if (it == m_timers.end()) return;
    if (it->second) {
        it->second->stop();
        it->second->deleteLater();
    }
    m_timers.erase(it);
}

}  // namespace consoleui
