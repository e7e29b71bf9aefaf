// The group selection dialogs on the core's selection model.
#include "consoleui/select_group_dlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "consoleui/list_ctrl_wg.h"
#include "consoleui/ui_fonts.h"

namespace consoleui {

namespace {

CListCtrlWG* makeList(QWidget* parent, const QString& first, const QString& second) {
    auto* list = new CListCtrlWG(parent);
    list->setRowHeight(26);
    list->setRowFont(18, true, false, false, QStringLiteral("宋体"));
    list->setHeaderFont(17, false, QStringLiteral("宋体"));
    list->insertColumnWithHeader(0, first, 0, 70);
    list->insertColumnWithHeader(1, second, 0, 200);
    list->horizontalHeader()->setStretchLastSection(true);
    return list;
}

}  // namespace

GroupSelectDialog::GroupSelectDialog(consolecore::GroupKind kind, QWidget* parent)
    : SkinDialog(parent), m_kind(kind) {
    setCaption(QStringLiteral("选择分组"));
    const QFont labelFont = uiFont(QStringLiteral("Arial"), 18);

    m_kindLabel = new QLabel(this);
    m_kindLabel->setObjectName(QStringLiteral("kindLabel"));
    m_kindLabel->setFont(labelFont);
    m_kindLabel->setStyleSheet(QStringLiteral("font-weight: bold; color: #1B3F66;"));
    auto* title = new QLabel(QStringLiteral("选择分组:"), this);
    title->setFont(labelFont);
    m_groupList = makeList(this, QStringLiteral("组号"), QStringLiteral("名称"));
    m_groupList->setObjectName(QStringLiteral("groupList"));
    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("hint"));
    m_hint->setFont(labelFont);
    m_deviceList = makeList(this, QStringLiteral("序号"), QStringLiteral("设备号"));
    m_deviceList->setObjectName(QStringLiteral("deviceList"));

    m_ok = new QPushButton(QStringLiteral("确定"), this);
    m_cancel = new QPushButton(QStringLiteral("取消"), this);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_groupList, &CListCtrlWG::highlightedRowChanged, this, [this](int row) {
        if (row >= 0) selectGroupRow(row);
    });

    body()->addWidget(m_kindLabel);
    auto* lists = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(title);
    left->addWidget(m_groupList, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(m_hint);
    right->addWidget(m_deviceList, 1);
    lists->addLayout(left, 1);
    lists->addSpacing(10);
    lists->addLayout(right, 1);
    body()->addLayout(lists, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    body()->addLayout(buttons);
    resize(760, 420);
}

int GroupSelectDialog::exec() {
    onInitDialog();
    return SkinDialog::exec();
}

void GroupSelectDialog::onInitDialog() {
    m_model = std::make_unique<consolecore::GroupSelectionModel>(m_kind, direction);
    result = -1;
    m_hint->setText(QString::fromStdString(m_model->hintText()));
    const QString kind =
        m_kind == consolecore::GroupKind::Serial ? QStringLiteral("串行") : QStringLiteral("平行");
    m_kindLabel->setText(
        QStringLiteral("%1分组 (%1%2)")
            .arg(kind, direction != 0 ? QStringLiteral("开") : QStringLiteral("关")));
    m_groupList->deleteAllRows();
    m_deviceList->deleteAllRows();
    int row = 0;
    for (const auto& group : m_model->groupRows()) {
        m_groupList->insertRowWithNumber(row, group.number);
        m_groupList->setItemText(row, 1, QString::fromStdString(group.name));
        ++row;
    }
}

void GroupSelectDialog::selectGroupRow(int index) {
    if (!m_model) onInitDialog();
    m_deviceList->deleteAllRows();
    int row = 0;
    for (const auto& device : m_model->selectGroup(index)) {
        m_deviceList->insertRowWithNumber(row, device.position);
        m_deviceList->setItemText(row, 1, QString::number(device.deviceId));
        ++row;
    }
    result = m_model->result();
}

CSelectGroupDlg::CSelectGroupDlg(QWidget* parent)
    : GroupSelectDialog(consolecore::GroupKind::Serial, parent) {
    setObjectName(QStringLiteral("CSelectGroupDlg"));
}

CSelectPLGroupDlg::CSelectPLGroupDlg(QWidget* parent)
    : GroupSelectDialog(consolecore::GroupKind::Parallel, parent) {
    setObjectName(QStringLiteral("CSelectPLGroupDlg"));
}

std::optional<int> DialogGroupChooser::chooseGroup(consolecore::GroupKind kind,
                                                   std::uint8_t direction) {
    std::unique_ptr<GroupSelectDialog> dialog;
    if (kind == consolecore::GroupKind::Serial) {
        dialog = std::make_unique<CSelectGroupDlg>(m_parent);
    } else {
        dialog = std::make_unique<CSelectPLGroupDlg>(m_parent);
    }
    dialog->direction = direction;
    if (dialog->exec() != QDialog::Accepted) return std::nullopt;
    return dialog->result;
}

}  // namespace consoleui
