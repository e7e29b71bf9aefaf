// The local network information dialog: two lists and the MAC edit, filled once on opening.
#include "consoletools/local_mac_info_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "consoletools/tool_layout.h"
#include "consoleui/list_ctrl_wg.h"
#include "consoleui/ui_fonts.h"

namespace consoletools {

namespace {

consoleui::CListCtrlWG* makeList(QWidget* parent, const QStringList& titles) {
    auto* list = new consoleui::CListCtrlWG(parent);
    for (int c = 0; c < titles.size(); ++c) list->insertColumnWithHeader(c, titles[c], 0, 100);
    return list;
}

}  // namespace

CLocalMacInfoDlg::CLocalMacInfoDlg(QWidget* parent, CIPAddressToos::AdapterSource source)
    : SkinDialog(parent), m_tools(source ? std::move(source) : &platform::readLocalNetAdapters) {
    setObjectName(QStringLiteral("CLocalMacInfoDlg"));
    setCaption(QStringLiteral("本地信息"));

    auto* macRow = new QHBoxLayout;
    auto* macLabel = new QLabel(QStringLiteral("物理地址:"), this);
    macLabel->setFont(consoleui::uiFont(QStringLiteral("Arial"), 14));
    m_macEdit = new QLineEdit(this);
    m_macEdit->setObjectName(QStringLiteral("macEdit"));
    m_macEdit->setReadOnly(true);
    macRow->addWidget(macLabel);
    macRow->addWidget(m_macEdit, 1);
    body()->addLayout(macRow);

    m_addressList = makeList(
        this, {QStringLiteral("网络名称"), QStringLiteral("IP地址"), QStringLiteral("子网掩码")});
    m_addressList->setObjectName(QStringLiteral("addressList"));
    new ColumnLayout(*m_addressList, [](int width) {
        return std::vector<int>{width * 2 / 5, width * 3 / 10, width * 3 / 10};
    });
    m_gatewayList = makeList(this, {QStringLiteral("网络名称"), QStringLiteral("默认网关")});
    m_gatewayList->setObjectName(QStringLiteral("gatewayList"));
    new ColumnLayout(*m_gatewayList, [](int width) {
        return std::vector<int>{width * 3 / 5, width * 2 / 5};
    });
    body()->addWidget(m_addressList, 3);
    body()->addWidget(m_gatewayList, 2);
    body()->addLayout(closeButtonRow(*this));
}

void CLocalMacInfoDlg::initDialog() {
    placeOnScreen(*this, PlacementRule{5, 5, 800, 400});
    fillLists();
}

void CLocalMacInfoDlg::fillLists() {
    m_addressList->deleteAllRows();
    m_gatewayList->deleteAllRows();
    std::vector<std::string> names;
    m_tools.GetAdapterInfoList({}, &names);
    for (const std::string& name : names) {
        const QString connection = QString::fromStdString(m_tools.GetAdapterConnName(name));
        std::vector<std::string> ips, masks, gateways;
        m_tools.GetAdapterIPList(name, ips);
        m_tools.GetAdapterMaskList(name, masks);
        m_tools.GetAdapterInfoList(m_tools.GetAdapterConnName(name), nullptr, nullptr, nullptr,
                                   nullptr, &gateways);
        // Each adapter's rows go to the top, so the adapter enumerated last is listed first.
        for (std::size_t i = 0; i < ips.size(); ++i) {
            const int row = m_addressList->insertRowWithText(static_cast<int>(i), connection);
            m_addressList->setItemText(row, 1, QString::fromStdString(ips[i]));
            m_addressList->setItemText(
                row, 2, i < masks.size() ? QString::fromStdString(masks[i]) : QString());
        }
        for (std::size_t i = 0; i < gateways.size(); ++i) {
            const int row = m_gatewayList->insertRowWithText(static_cast<int>(i), connection);
            m_gatewayList->setItemText(row, 1, QString::fromStdString(gateways[i]));
        }
    }
    m_macEdit->setText(QString::fromStdString(m_tools.GetLastAdapterMac()));
}

}  // namespace consoletools
