// The should-be/is view of the timed tasks: a table refreshed while the dialog is open.
#include "consoletools/tim_task_state_dlg.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <algorithm>
#include <set>

#include "consoleui/cell_icons.h"

namespace consoletools {
namespace {

const QColor kMismatchColour(255, 205, 205);
const QColor kOfflineColour(225, 225, 225);

const QChar kOnDot(0x25CF);
const QChar kOffDot(0x25CB);
// Devices named in one result line at most; the rest are counted.
constexpr int kNamedInResult = 8;

// Outlet 1 first: a filled dot for on, an empty one for off (the cell's text, which the
// delegate below draws as the device table's dots).
QString outletText(const std::array<bool, 16>& outlets) {
    QString text;
    for (const bool on : outlets) text += on ? kOnDot : kOffDot;
    return text;
}

// Draws an outlet cell's text as the device table's red (on) and dark (off) dots.
class OutletDotsDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);
        const QString dots = index.data(Qt::DisplayRole).toString();
        const int side = CTimTaskStateDlg::kDotSide;
        const QPixmap on = consoleui::iconPixmap(consoleui::kIconLedOn);
        const QPixmap off = consoleui::iconPixmap(consoleui::kIconLedOff);
        QRect square(option.rect.left() + 3, option.rect.top() + (option.rect.height() - side) / 2,
                     side, side);
        for (const QChar dot : dots) {
            if (dot == kOnDot || dot == kOffDot)
                painter->drawPixmap(square, dot == kOnDot ? on : off);
            square.translate(side + 1, 0);
        }
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override {
        const int side = CTimTaskStateDlg::kDotSide;
        const int count = static_cast<int>(index.data(Qt::DisplayRole).toString().size());
        return {6 + count * (side + 1), side + 6};
    }
};

// "11(灯光)、12(灯光)", at most kNamedInResult, then "等N台".
QString deviceList(const std::vector<const consolecore::TaskViewRow*>& rows) {
    QStringList names;
    for (const consolecore::TaskViewRow* row : rows) {
        if (names.size() == kNamedInResult) break;
        names
            << QStringLiteral("%1(%2)").arg(row->devID).arg(QString::fromStdString(row->taskName));
    }
    QString text = names.join(QStringLiteral("、"));
    if (static_cast<int>(rows.size()) > kNamedInResult)
        text += QStringLiteral("等%1台").arg(rows.size());
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
    auto* dots = new OutletDotsDelegate(m_table);
    m_table->setItemDelegateForColumn(ColShould, dots);
    m_table->setItemDelegateForColumn(ColIs, dots);
    m_empty = new QLabel(QStringLiteral("当前没有正在执行的任务"), this);
    m_empty->setObjectName(QStringLiteral("emptyLabel"));
    m_empty->setAlignment(Qt::AlignCenter);
    body()->addWidget(m_empty);
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
    m_empty->setVisible(m_rows.empty());
}

void CTimTaskStateDlg::applySelected() {
    std::vector<const consolecore::TaskViewRow*> chosen;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows()) {
        const auto r = static_cast<std::size_t>(index.row());
        if (r < m_rows.size()) chosen.push_back(&m_rows[r]);
    }
    if (chosen.empty()) {
        m_result->setText(QStringLiteral("没有选中设备,未发送"));
        return;
    }
    apply(chosen);
}

void CTimTaskStateDlg::applyMismatched() {
    std::vector<const consolecore::TaskViewRow*> chosen;
    for (const consolecore::TaskViewRow& row : m_rows) {
        if (row.mismatch()) chosen.push_back(&row);
    }
    if (chosen.empty()) {
        m_result->setText(QStringLiteral("没有不一致的设备,未发送"));
        return;
    }
    apply(chosen);
}

void CTimTaskStateDlg::apply(const std::vector<const consolecore::TaskViewRow*>& rows) {
    std::vector<const consolecore::TaskViewRow*> sent;
    std::vector<const consolecore::TaskViewRow*> refused;
    for (const consolecore::TaskViewRow* row : rows) {
        (consolecore::applyTaskViewRow(*row) ? sent : refused).push_back(row);
    }
    QString text;
    if (!sent.empty())
        text = QStringLiteral("已发送到%1台设备:%2").arg(sent.size()).arg(deviceList(sent));
    if (!refused.empty()) {
        if (!text.isEmpty()) text += QStringLiteral(";");
        text += QStringLiteral("%1台未发送(定时任务模块未运行或任务已更改):%2")
                    .arg(refused.size())
                    .arg(deviceList(refused));
    }
    m_result->setText(text);
}

}  // namespace consoletools
