// Run rows and conflict notices of the main window's run panel.
#include "consoleui/run_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "consolecore/console_engine.h"

namespace consoleui {

namespace {

QString colourOf(consolecore::RunOutcome outcome) {
    switch (outcome) {
        case consolecore::RunOutcome::Running:
            return QStringLiteral("#1B3F66");
        case consolecore::RunOutcome::Completed:
            return QStringLiteral("#1E7B34");
        case consolecore::RunOutcome::Cancelled:
            return QStringLiteral("#8A6D00");
        case consolecore::RunOutcome::TimedOut:
        case consolecore::RunOutcome::DeviceLost:
            return QStringLiteral("#B00020");
    }
    return {};
}

}  // namespace

RunPanel::RunPanel(QWidget* parent)
    : QFrame(parent), m_layout(new QVBoxLayout(this)), m_tick(new QTimer(this)) {
    setObjectName(QStringLiteral("runPanel"));
    setFrameShape(QFrame::StyledPanel);
    m_layout->setContentsMargins(6, 4, 6, 4);
    m_layout->setSpacing(2);
    // The elapsed time of running runs moves on once a second.
    m_tick->setInterval(1000);
    connect(m_tick, &QTimer::timeout, this, &RunPanel::refreshAll);
    hide();
}

void RunPanel::showRun(const consolecore::GroupRun& run) {
    auto it = m_runs.find(run.id);
    if (it == m_runs.end()) {
        RunRow row;
        row.row = new QWidget(this);
        auto* line = new QHBoxLayout(row.row);
        line->setContentsMargins(0, 0, 0, 0);
        row.label = new QLabel(row.row);
        row.label->setObjectName(QStringLiteral("runText"));
        row.cancel = new QPushButton(QStringLiteral("取消"), row.row);
        row.cancel->setObjectName(QStringLiteral("cancelRun"));
        row.cancel->setAutoDefault(false);
        const std::uint64_t id = run.id;
        connect(row.cancel, &QPushButton::clicked, this, [this, id] {
            if (m_cancel) m_cancel(id);
        });
        row.dismiss = new QPushButton(QStringLiteral("知道了"), row.row);
        row.dismiss->setObjectName(QStringLiteral("dismissRun"));
        row.dismiss->setAutoDefault(false);
        row.dismiss->hide();
        connect(row.dismiss, &QPushButton::clicked, this, [this, id] { dismissRun(id); });
        line->addWidget(row.label, 1);
        line->addWidget(row.cancel);
        line->addWidget(row.dismiss);
        m_layout->addWidget(row.row);
        it = m_runs.emplace(run.id, row).first;
    }
    it->second.run = run;
    refresh(it->second);
    // A completed run fades; one that failed or was cancelled waits for the operator.
    if (run.outcome == consolecore::RunOutcome::Completed) {
        const std::uint64_t id = run.id;
        QTimer::singleShot(m_linger, this, [this, id] { removeRun(id); });
    }
    updateVisibility();
    emit runsChanged();
}

bool RunPanel::dismissRun(std::uint64_t runId) {
    auto it = m_runs.find(runId);
    if (it == m_runs.end() || it->second.run.running()) return false;
    removeRun(runId);
    return true;
}

void RunPanel::refresh(RunRow& row) {
    const auto& run = row.run;
    row.label->setText(QString::fromStdString(consolecore::runTitle(run) + ": " +
                                              consolecore::runStatusText(run, m_clock())));
    row.label->setStyleSheet(
        QStringLiteral("color: %1; font-weight: bold;").arg(colourOf(run.outcome)));
    row.cancel->setVisible(run.running());
    row.cancel->setEnabled(run.running() && !run.cancelRequested);
    row.dismiss->setVisible(!run.running() && run.outcome != consolecore::RunOutcome::Completed);
}

void RunPanel::refreshAll() {
    for (auto& [id, row] : m_runs) {
        if (row.run.running()) refresh(row);
    }
}

void RunPanel::removeRun(std::uint64_t runId) {
    auto it = m_runs.find(runId);
    if (it == m_runs.end() || it->second.run.running()) return;
    it->second.row->deleteLater();
    m_runs.erase(it);
    updateVisibility();
    emit runsChanged();
}

bool RunPanel::showIdConflict(std::uint16_t id, std::uint32_t newcomer, std::uint32_t online) {
    const auto key = std::make_tuple(id, newcomer, online);
    if (!m_shownConflicts.insert(key).second) return false;
    auto* row = new QWidget(this);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    auto* label =
        new QLabel(QString::fromStdString(consolecore::idConflictText(id, newcomer, online)), row);
    label->setObjectName(QStringLiteral("noticeText"));
    label->setStyleSheet(QStringLiteral("color: #B00020;"));
    auto* close = new QPushButton(QStringLiteral("知道了"), row);
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, [this, key] {
        auto it = m_notices.find(key);
        if (it == m_notices.end()) return;
        it->second->deleteLater();
        m_notices.erase(it);
        updateVisibility();
    });
    line->addWidget(label, 1);
    line->addWidget(close);
    m_layout->addWidget(row);
    m_notices[key] = row;
    updateVisibility();
    return true;
}

QString RunPanel::runText(std::uint64_t runId) const {
    auto it = m_runs.find(runId);
    return it == m_runs.end() ? QString() : it->second.label->text();
}

QPushButton* RunPanel::cancelButton(std::uint64_t runId) const {
    auto it = m_runs.find(runId);
    return it == m_runs.end() ? nullptr : it->second.cancel;
}

QPushButton* RunPanel::dismissButton(std::uint64_t runId) const {
    auto it = m_runs.find(runId);
    return it == m_runs.end() ? nullptr : it->second.dismiss;
}

DeviceMarks RunPanel::deviceMarks() const {
    DeviceMarks marks;
    for (const auto& [id, row] : m_runs) {
        const auto& run = row.run;
        const std::string title = consolecore::runTitle(run);
        if (run.running()) {
            if (run.kind == consolecore::GroupKind::Serial && run.current) {
                marks[static_cast<std::uint16_t>(*run.current)] = {DeviceMark::Switching,
                                                                   "正在切换: " + title};
            }
            continue;
        }
        const std::string why = "未确认: " + title + " " + consolecore::outcomeText(run.outcome);
        for (const auto& devices : {run.unconfirmed, run.lost}) {
            for (std::uint32_t device : devices) {
                // A device a later run is switching shows that instead.
                marks.try_emplace(static_cast<std::uint16_t>(device),
                                  DeviceMarkInfo{DeviceMark::Unconfirmed, why});
            }
        }
    }
    return marks;
}

QStringList RunPanel::noticeTexts() const {
    QStringList texts;
    for (const auto& [key, row] : m_notices) {
        if (auto* label = row->findChild<QLabel*>(QStringLiteral("noticeText"))) {
            texts << label->text();
        }
    }
    return texts;
}

void RunPanel::updateVisibility() {
    bool running = false;
    for (const auto& [id, row] : m_runs) running = running || row.run.running();
    if (running && !m_tick->isActive()) m_tick->start();
    if (!running) m_tick->stop();
    setVisible(!m_runs.empty() || !m_notices.empty());
}

}  // namespace consoleui
