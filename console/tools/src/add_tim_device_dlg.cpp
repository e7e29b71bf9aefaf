// The timed-task device picker: registered devices in registration order, ticked by a click.
#include "consoletools/add_tim_device_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "consolecore/task_devices.h"
#include "consoletools/tool_layout.h"
#include "consoleui/cell_icons.h"
#include "consoleui/list_ctrl_wg.h"
#include "consoleui/ui_fonts.h"

namespace consoletools {

namespace {

constexpr int kColId = 0;
constexpr int kColName = 1;
constexpr int kColTick = 2;
constexpr int kColYesNo = 3;
const QString kYes = QStringLiteral("Yes");
const QString kNo = QStringLiteral("No");

}  // namespace

CAddTimDeviceDlg::CAddTimDeviceDlg(QWidget* parent) : SkinDialog(parent) {
    setObjectName(QStringLiteral("CAddTimDeviceDlg"));
    setCaption(QStringLiteral("选择定时设备"));

    auto* title = new QLabel(QStringLiteral("选择设备列表"), this);
    title->setFont(consoleui::uiFont(QStringLiteral("Arial"), 18));
    body()->addWidget(title);

    m_list = new consoleui::CListCtrlWG(this);
    m_list->setObjectName(QStringLiteral("deviceList"));
    m_list->setRowHeight(15);
    m_list->setRowFont(10, true, false, false, QStringLiteral("宋体"));
    m_list->setHeaderFont(9, false, QStringLiteral("宋体"));
    const QStringList titles{QStringLiteral("ID"), QStringLiteral("名称"), QStringLiteral("选择"),
                             QStringLiteral("YesOrNo")};
    for (int c = 0; c < titles.size(); ++c) m_list->insertColumnWithHeader(c, titles[c], 0, 0);
    new ColumnLayout(*m_list, unitWidths(24, {3, 16, 3, 0}));
    body()->addWidget(m_list, 1);

    m_ok = new QPushButton(QStringLiteral("确定"), this);
    m_ok->setObjectName(QStringLiteral("okButton"));
    m_cancel = new QPushButton(QStringLiteral("取消"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_selectAll = new QPushButton(QStringLiteral("全选"), this);
    m_selectAll->setObjectName(QStringLiteral("selectAllButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_selectAll);
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    body()->addLayout(buttons);

    connect(m_ok, &QPushButton::clicked, this, &CAddTimDeviceDlg::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CAddTimDeviceDlg::reject);
    connect(m_selectAll, &QPushButton::clicked, this, &CAddTimDeviceDlg::selectAll);
    connect(m_list, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid() && index.column() == kColTick) toggleRow(index.row());
    });
    resize(520, 420);
}

void CAddTimDeviceDlg::initDialog() {
    centreOnScreen(*this);
    buildRows();
}

void CAddTimDeviceDlg::buildRows() {
    m_list->deleteAllRows();
    std::vector<std::uint16_t> offered;
    // Devices without a record in the id table are not in this list, so not offered.
    for (const auto& [id, name] : consolecore::registeredDevices()) {
        // The id list may hold an id twice; offer each device once.
        if (std::find(idList.begin(), idList.end(), id) != idList.end() ||
            std::find(offered.begin(), offered.end(), id) != offered.end()) {
            continue;
        }
        offered.push_back(id);
        const int row = m_list->insertRowWithNumber(m_list->rowCount(), id);
        m_list->setItemText(row, kColName, QString::fromStdString(name));
        m_list->registerSingleIcon(row, kColTick, consoleui::kIconTickOff, 0);
        m_list->setItemText(row, kColYesNo, kNo);
    }
}

void CAddTimDeviceDlg::toggleRow(int row) {
    if (row < 0 || row >= m_list->rowCount()) return;
    const bool ticked = m_list->itemText(row, kColYesNo) == kNo;
    m_list->registerSingleIcon(row, kColTick,
                               ticked ? consoleui::kIconTickOn : consoleui::kIconTickOff, 0);
    m_list->setItemText(row, kColYesNo, ticked ? kYes : kNo);
}

void CAddTimDeviceDlg::selectAll() {
    for (int row = 0; row < m_list->rowCount(); ++row) {
        if (m_list->itemText(row, kColYesNo) == kNo) toggleRow(row);
    }
}

void CAddTimDeviceDlg::accept() {
    for (int row = 0; row < m_list->rowCount(); ++row) {
        if (m_list->itemText(row, kColYesNo) == kYes) {
            idList.push_back(static_cast<std::uint16_t>(m_list->cellNumber(row, kColId)));
        }
    }
    std::sort(idList.begin(), idList.end());
    SkinDialog::accept();
}

}  // namespace consoletools
