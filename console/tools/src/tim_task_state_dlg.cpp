// The should-be/is view of the timed tasks: a table refreshed while the dialog is open.
#include "consoletools/tim_task_state_dlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <set>

namespace consoletools {
namespace {

const QColor kMismatchColour(255, 205, 205);
const QColor kOfflineColour(225, 225, 225);

// Outlet 1 first: a filled dot for on, an empty one for off.
QString outletText(const std::array<bool, 16>& outlets) {
    QString text;
    for (const bool on : outlets) text += on ? QChar(0x25CF) : QChar(0x25CB);
    return text;
}

}  // namespace

CTimTaskStateDlg::CTimTaskStateDlg(QWidget* parent) : SkinDialog(parent) {
    setObjectName(QStringLiteral("CTimTaskStateDlg"));
    setCaption(QStringLiteral("定时任务状态对照"));
    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("stateTable"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("设备ID"), QStringLiteral("设备名称"),
                                        QStringLiteral("定时任务"), QStringLiteral("应为"),
                                        QStringLiteral("实际"), QStringLiteral("状态")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    body()->addWidget(m_table, 1);

    m_applySelected = new QPushButton(QStringLiteral("应用到选中设备"), this);
    m_applySelected->setObjectName(QStringLiteral("applySelected"));
    m_applyMismatched = new QPushButton(QStringLiteral("应用到全部不一致设备"), this);
    m_applyMismatched->setObjectName(QStringLiteral("applyMismatched"));
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("resultLabel"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_result, 1);
    buttons->addWidget(m_applySelected);
    buttons->addWidget(m_applyMismatched);
    buttons->addWidget(close);
    body()->addLayout(buttons);
    for (QPushButton* b : {m_applySelected, m_applyMismatched, close}) b->setAutoDefault(false);

    connect(m_applySelected, &QPushButton::clicked, this, &CTimTaskStateDlg::applySelected);
    connect(m_applyMismatched, &QPushButton::clicked, this, &CTimTaskStateDlg::applyMismatched);
    connect(close, &QPushButton::clicked, this, &CTimTaskStateDlg::reject);
    // Status frames update the registry; the view reads it again on this timer.
    m_timer.setInterval(kRefreshIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &CTimTaskStateDlg::refresh);
    m_timer.start();
    resize(900, 420);
    refresh();
}

void CTimTaskStateDlg::refresh() {
    std::set<int> selectedIds;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        selectedIds.insert(m_table->item(index.row(), ColId)->text().toInt());
    m_rows = consolecore::currentTaskView();
    m_table->setRowCount(static_cast<int>(m_rows.size()));
    for (int r = 0; r < static_cast<int>(m_rows.size()); ++r) {
        const consolecore::TaskViewRow& row = m_rows[static_cast<std::size_t>(r)];
        const QString status = !row.online      ? QStringLiteral("离线")
                               : row.mismatch() ? QStringLiteral("不一致")
                                                : QStringLiteral("一致");
        const QStringList cells{QString::number(row.devID),
                                QString::fromStdString(row.deviceName),
                                QString::fromStdString(row.taskName),
                                outletText(row.should),
                                row.online ? outletText(row.is) : QString(),
                                status};
        const QColor background = !row.online      ? kOfflineColour
                                  : row.mismatch() ? kMismatchColour
                                                   : QColor(Qt::white);
        for (int c = 0; c < ColumnCount; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setBackground(background);
            m_table->setItem(r, c, item);
        }
        if (selectedIds.count(row.devID)) m_table->selectRow(r);
    }
    m_table->resizeColumnsToContents();
}

void CTimTaskStateDlg::applySelected() {
    int sent = 0;
    int refused = 0;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows()) {
        const auto r = static_cast<std::size_t>(index.row());
        if (r >= m_rows.size()) continue;
        (consolecore::applyTaskViewRow(m_rows[r]) ? sent : refused) += 1;
    }
    showResult(sent, refused);
}

void CTimTaskStateDlg::applyMismatched() {
    int sent = 0;
    int refused = 0;
    for (const consolecore::TaskViewRow& row : m_rows) {
        if (row.mismatch()) (consolecore::applyTaskViewRow(row) ? sent : refused) += 1;
    }
    showResult(sent, refused);
}

void CTimTaskStateDlg::showResult(int sent, int refused) {
    QString text = QStringLiteral("已发送到%1台设备").arg(sent);
    if (refused > 0)
        text += QStringLiteral(",%1台未发送(定时任务模块未运行或任务已更改)").arg(refused);
    m_result->setText(text);
}

}  // namespace consoletools
