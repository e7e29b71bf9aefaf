// Run time-outs on Qt timers of the GUI thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <map>

#include "consolecore/group_run.h"

namespace consoleui {

class QtRunTimer : public consolecore::RunTimer {
public:
    QtRunTimer() = default;
    ~QtRunTimer() override;
    QtRunTimer(const QtRunTimer&) = delete;
    QtRunTimer& operator=(const QtRunTimer&) = delete;

    void arm(std::uint64_t key, std::chrono::milliseconds after,
             std::function<void()> fire) override;
    void disarm(std::uint64_t key) override;

private:
    std::map<std::uint64_t, QPointer<QTimer>> m_timers;
};

}  // namespace consoleui
