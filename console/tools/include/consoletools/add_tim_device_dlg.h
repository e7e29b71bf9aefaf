// CAddTimDeviceDlg ("选择定时设备"): offers the registered devices a task does not hold yet;
// on OK the task's ids plus the ticked ones, sorted.
#pragma once

#include <cstdint>
#include <vector>

#include "consoleui/skin_dialog.h"

class QPushButton;

namespace consoleui {
class CListCtrlWG;
}

namespace consoletools {

class CAddTimDeviceDlg : public consoleui::SkinDialog {
    Q_OBJECT
public:
    explicit CAddTimDeviceDlg(QWidget* parent = nullptr);

    // In: the ids the task holds. Out, after OK: those ids and every ticked one, ascending.
    std::vector<std::uint16_t> idList;

    // OK: collects the ticked ids, then closes.
    void accept() override;

    consoleui::CListCtrlWG* deviceList() const { return m_list; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* selectAllButton() const { return m_selectAll; }
    // Flips the tick of a row ("No" <-> "Yes" with its icon).
    void toggleRow(int row);
    // Ticks every row.
    void selectAll();

private:
    // Centring and the rows from the registry.
    void initDialog() override;

    void buildRows();

    consoleui::CListCtrlWG* m_list;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    QPushButton* m_selectAll;
};

}  // namespace consoletools
