// The strip below the device list that shows each group run in progress (with its Cancel
// button), keeps a finished run visible for a few seconds with its outcome, and shows
// device-id conflict notices without blocking the operator.
#pragma once

#include <QFrame>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "consolecore/group_run.h"

class QLabel;
class QPushButton;
class QTimer;
class QVBoxLayout;

namespace consoleui {

class RunPanel : public QFrame {
    Q_OBJECT
public:
    explicit RunPanel(QWidget* parent = nullptr);

    // Called with the run id when the operator presses a run's Cancel button.
    void setCancelHandler(std::function<void(std::uint64_t)> handler) {
        m_cancel = std::move(handler);
    }
    void setClock(std::function<consolecore::RunClock::time_point()> clock) {
        m_clock = std::move(clock);
    }
    // How long a finished run stays visible.
    void setLinger(std::chrono::milliseconds linger) { m_linger = linger; }

    // A run started, advanced or ended.
    void showRun(const consolecore::GroupRun& run);
    // A registration of `id` from `newcomer` was refused because the id is online at
    // `online` (s_addr values). Shown once per conflict; false when already shown.
    bool showIdConflict(std::uint16_t id, std::uint32_t newcomer, std::uint32_t online);

    // What a run's line says now (empty when the run is not shown).
    QString runText(std::uint64_t runId) const;
    QPushButton* cancelButton(std::uint64_t runId) const;
    QStringList noticeTexts() const;

private:
    struct RunRow {
        consolecore::GroupRun run;
        QWidget* row = nullptr;
        QLabel* label = nullptr;
        QPushButton* cancel = nullptr;
    };
    void refresh(RunRow& row);
    void refreshAll();
    void removeRun(std::uint64_t runId);
    void updateVisibility();

    QVBoxLayout* m_layout;
    QTimer* m_tick;
    std::map<std::uint64_t, RunRow> m_runs;
    std::map<std::tuple<std::uint16_t, std::uint32_t, std::uint32_t>, QWidget*> m_notices;
    std::set<std::tuple<std::uint16_t, std::uint32_t, std::uint32_t>> m_shownConflicts;
    std::function<void(std::uint64_t)> m_cancel;
    std::function<consolecore::RunClock::time_point()> m_clock = [] {
        return consolecore::RunClock::now();
    };
    std::chrono::milliseconds m_linger{std::chrono::seconds(6)};
};

}  // namespace consoleui
