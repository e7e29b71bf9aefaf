// The dialogs in which the operator picks the serial or parallel group to switch.
#pragma once

#include <cstdint>
#include <memory>

#include "consolecore/group_selection.h"
#include "consoleui/skin_dialog.h"

class QLabel;
class QPushButton;

namespace consoleui {

class CListCtrlWG;

// Shows the six groups of one kind; selecting a group lists its devices that are not yet in
// the wanted state. Set `direction` before exec(); read `result` after it ended with OK.
class GroupSelectDialog : public SkinDialog {
    Q_OBJECT
public:
    // 1: the operation switches on; 0: off.
    std::uint8_t direction = 1;
    // The chosen group number, -1 for none.
    int result = -1;

    int exec() override;

    CListCtrlWG* groupList() const { return m_groupList; }
    CListCtrlWG* deviceList() const { return m_deviceList; }
    QLabel* hintLabel() const { return m_hint; }
    // Which kind of group and which operation the dialog is for ("串行分组 (串行开)").
    QLabel* kindLabel() const { return m_kindLabel; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

    // The selection of the group list changed to row `index`.
    void selectGroupRow(int index);

protected:
    GroupSelectDialog(consolecore::GroupKind kind, QWidget* parent);

private:
    // Fills the group list and the hint for the direction set by the caller.
    void onInitDialog();

    consolecore::GroupKind m_kind;
    std::unique_ptr<consolecore::GroupSelectionModel> m_model;
    CListCtrlWG* m_groupList;
    CListCtrlWG* m_deviceList;
    QLabel* m_hint;
    QLabel* m_kindLabel;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

// Serial groups.
class CSelectGroupDlg : public GroupSelectDialog {
    Q_OBJECT
public:
    explicit CSelectGroupDlg(QWidget* parent = nullptr);
};

// Parallel groups.
class CSelectPLGroupDlg : public GroupSelectDialog {
    Q_OBJECT
public:
    explicit CSelectPLGroupDlg(QWidget* parent = nullptr);
};

// Runs the matching dialog modally for the switching handlers.
class DialogGroupChooser : public consolecore::GroupChooser {
public:
    explicit DialogGroupChooser(QWidget* parent) : m_parent(parent) {}
    std::optional<int> chooseGroup(consolecore::GroupKind kind, std::uint8_t direction) override;

private:
    QWidget* m_parent;
};

}  // namespace consoleui
