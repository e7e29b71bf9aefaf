// The strip below the device list that shows each group run in progress (with its Cancel
// button), keeps a completed run visible for a few seconds and a failed one (超时, 设备掉线,
// 已取消) until the operator dismisses it, and shows device-id conflict notices without
// blocking the operator.
#pragma once

#include <QFrame>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "consolecore/group_run.h"
#include "consoleui/device_marks.h"

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
    // How long a completed run stays visible (a failed one stays until dismissed).
    void setLinger(std::chrono::milliseconds linger) { m_linger = linger; }

    // A run started, advanced or ended. Called from the switching controller's run observer.
    void showRun(const consolecore::GroupRun& run);
    // Takes an ended run off the panel (its "知道了" button); false when not shown or running.
    bool dismissRun(std::uint64_t runId);
    // A registration of `id` from `newcomer` was refused because the id is online at
    // `online` (s_addr values). Shown once per conflict; false when already shown.
    bool showIdConflict(std::uint16_t id, std::uint32_t newcomer, std::uint32_t online);

    // What a run's line says now (empty when the run is not shown).
    QString runText(std::uint64_t runId) const;
    QPushButton* cancelButton(std::uint64_t runId) const;
    QPushButton* dismissButton(std::uint64_t runId) const;
    // The devices the shown runs mark: a running serial run's current device, and the
    // devices a failed run left unconfirmed or lost.
    DeviceMarks deviceMarks() const;

signals:
    // A run was shown, changed or taken off.
    void runsChanged();

public:
    QStringList noticeTexts() const;

private:
    struct RunRow {
        consolecore::GroupRun run;
        QWidget* row = nullptr;
        QLabel* label = nullptr;
        QPushButton* cancel = nullptr;
        QPushButton* dismiss = nullptr;
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
