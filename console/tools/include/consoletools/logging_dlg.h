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

    // Asks where to save the export; an empty result cancels.
    using SavePath = std::function<QString()>;

    // `confirm` asks before a deletion (empty: a QMessageBox with Yes and No); `savePath`
    // asks for the export file (empty: a file dialog).
    explicit CLoggingDlg(QWidget* parent = nullptr, Confirm confirm = {}, SavePath savePath = {});

    QComboBox* typeCombo() const { return m_typeCombo; }
    QComboBox* subTypeCombo() const { return m_subTypeCombo; }
    QDateEdit* startDateEdit() const { return m_startDate; }
    QDateEdit* endDateEdit() const { return m_endDate; }
    QPushButton* queryButton() const { return m_queryButton; }
    QComboBox* deleteCombo() const { return m_deleteCombo; }
    QPushButton* deleteButton() const { return m_deleteButton; }
    QPushButton* exportButton() const { return m_exportButton; }
    QPushButton* newestButton() const { return m_newestButton; }
    consoleui::CListCtrlWG* resultList() const { return m_list; }

public slots:
    // "查询": empties the list and lists the matching lines in the store's order.
    void onQuery();
    // "删除日志": after the confirmation, deletes the lines of the delete combo's sub-type.
    void onDeleteLog();
    // "导出CSV": the rows of the current query into a CSV file (replaced atomically).
    void onExport();
    // Writes the listed rows to `path`; false (with a message) when it cannot be written.
    bool exportCsv(const QString& path);
    // "最新记录": scrolls to the last (newest) row.
    void onNewest();

private:
    // Placement.
    void initDialog() override;

    Confirm m_confirm;
    SavePath m_savePath;
    QComboBox* m_typeCombo;
    QComboBox* m_subTypeCombo;
    QDateEdit* m_startDate;
    QDateEdit* m_endDate;
    QPushButton* m_queryButton;
    QComboBox* m_deleteCombo;
    QPushButton* m_deleteButton;
    QPushButton* m_exportButton;
    QPushButton* m_newestButton;
    consoleui::CListCtrlWG* m_list;
};

}  // namespace consoletools
