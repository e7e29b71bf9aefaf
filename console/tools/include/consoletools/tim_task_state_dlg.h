// "定时任务状态对照": for every device named by an enabled task whose window is open now, the
// outlets the task wants beside the outlets the device reports (as the device table's dots);
// mismatches highlighted, offline devices marked, an empty view says so. Apply sends the task's
// pattern through the runner and names the devices it went to.
#pragma once

#include <QTimer>
#include <vector>

#include "consolecore/task_view.h"
#include "consoleui/skin_dialog.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace consoletools {

class CTimTaskStateDlg : public consoleui::SkinDialog {
    Q_OBJECT
public:
    enum Column : int { ColId = 0, ColName, ColTask, ColShould, ColIs, ColStatus, ColumnCount };
    static constexpr int kRefreshIntervalMs = 500;
    // Side of one outlet dot in the two outlet columns, in pixels.
    static constexpr int kDotSide = 14;

    explicit CTimTaskStateDlg(QWidget* parent = nullptr);

    const std::vector<consolecore::TaskViewRow>& rows() const { return m_rows; }
    QTableWidget* table() const { return m_table; }
    QPushButton* applySelectedButton() const { return m_applySelected; }
    QPushButton* applyMismatchedButton() const { return m_applyMismatched; }
    QLabel* resultLabel() const { return m_result; }
    // "当前没有正在执行的任务", shown while the view has no row.
    QLabel* emptyLabel() const { return m_empty; }
    QTimer& refreshTimer() { return m_timer; }

public slots:
    // Recomputes the rows from the store, the registry and the runner's clock.
    void refresh();
    void applySelected();
    void applyMismatched();

private:
    // Sends each row's task pattern and says in the result line which devices got it.
    void apply(const std::vector<const consolecore::TaskViewRow*>& rows);

    std::vector<consolecore::TaskViewRow> m_rows;
    QTableWidget* m_table;
    QPushButton* m_applySelected;
    QPushButton* m_applyMismatched;
    QLabel* m_result;
    QLabel* m_empty;
    QTimer m_timer;
};

}  // namespace consoletools
