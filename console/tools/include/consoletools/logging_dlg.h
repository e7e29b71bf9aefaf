// CLoggingDlg ("日志记录"): the event log lines of a date range, filtered by type and
// sub-type, and a hidden delete of one sub-type's lines.
#pragma once

#include <QString>
#include <functional>

#include "consoleui/skin_dialog.h"

class QComboBox;
class QDateEdit;
class QPushButton;

namespace consoleui {
class CListCtrlWG;
}

namespace consoletools {

class CLoggingDlg : public consoleui::SkinDialog {
    Q_OBJECT
public:
    // A Yes/No question; true for Yes.
    using Confirm = std::function<bool(const QString& text, const QString& caption)>;

    // `confirm` asks before a deletion (empty: a QMessageBox with Yes and No).
    explicit CLoggingDlg(QWidget* parent = nullptr, Confirm confirm = {});

    // Placement; exec() runs it first.
    void OnInitDialog();
    int exec() override;

    QComboBox* typeCombo() const { return m_typeCombo; }
    QComboBox* subTypeCombo() const { return m_subTypeCombo; }
    QDateEdit* startDateEdit() const { return m_startDate; }
    QDateEdit* endDateEdit() const { return m_endDate; }
    QPushButton* queryButton() const { return m_queryButton; }
    QComboBox* deleteCombo() const { return m_deleteCombo; }
    QPushButton* deleteButton() const { return m_deleteButton; }
    consoleui::CListCtrlWG* resultList() const { return m_list; }

public slots:
    // "查询": empties the list and lists the matching lines in the store's order.
    void onQuery();
    // "删除日志": after the confirmation, deletes the lines of the delete combo's sub-type.
    void onDeleteLog();

private:
    Confirm m_confirm;
    QComboBox* m_typeCombo;
    QComboBox* m_subTypeCombo;
    QDateEdit* m_startDate;
    QDateEdit* m_endDate;
    QPushButton* m_queryButton;
    QComboBox* m_deleteCombo;
    QPushButton* m_deleteButton;
    consoleui::CListCtrlWG* m_list;
    bool m_initialised = false;
};

}  // namespace consoletools
