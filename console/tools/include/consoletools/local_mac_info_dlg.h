// CLocalMacInfoDlg ("本地信息"): the PC's wired adapters with their IPv4 addresses and masks,
// their default gateways, and the MAC address of the last adapter.
#pragma once

#include "consoletools/ip_address_tools.h"
#include "consoleui/skin_dialog.h"

class QLineEdit;

namespace consoleui {
class CListCtrlWG;
}

namespace consoletools {

class CLocalMacInfoDlg : public consoleui::SkinDialog {
    Q_OBJECT
public:
    // `source` replaces this machine's adapter list (tests); empty: this machine.
    explicit CLocalMacInfoDlg(QWidget* parent = nullptr, CIPAddressToos::AdapterSource source = {});

    QLineEdit* macEdit() const { return m_macEdit; }
    consoleui::CListCtrlWG* addressList() const { return m_addressList; }
    consoleui::CListCtrlWG* gatewayList() const { return m_gatewayList; }

private:
    // Placement and the one-time filling of the lists.
    void initDialog() override;

    void fillLists();

    CIPAddressToos m_tools;
    QLineEdit* m_macEdit;
    consoleui::CListCtrlWG* m_addressList;
    consoleui::CListCtrlWG* m_gatewayList;
};

}  // namespace consoletools
