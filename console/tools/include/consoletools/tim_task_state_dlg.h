// "定时任务状态对照": for every device named by an enabled task whose window is open now, the
// outlets the task wants beside the outlets the device reports; mismatches highlighted,
// offline devices marked. Apply sends the task's pattern through the runner.
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

    explicit CTimTaskStateDlg(QWidget* parent = nullptr);

    const std::vector<consolecore::TaskViewRow>& rows() const { return m_rows; }
    QTableWidget* table() const { return m_table; }
    QPushButton* applySelectedButton() const { return m_applySelected; }
    QPushButton* applyMismatchedButton() const { return m_applyMismatched; }
    QLabel* resultLabel() const { return m_result; }
    QTimer& refreshTimer() { return m_timer; }

public slots:
    // Recomputes the rows from the store, the registry and the runner's clock.
    void refresh();
    void applySelected();
    void applyMismatched();

private:
    void showResult(int sent, int refused);

    std::vector<consolecore::TaskViewRow> m_rows;
    QTableWidget* m_table;
    QPushButton* m_applySelected;
    QPushButton* m_applyMismatched;
    QLabel* m_result;
    QTimer m_timer;
};

}  // namespace consoletools
