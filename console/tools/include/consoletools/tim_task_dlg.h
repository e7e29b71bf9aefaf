// CTimTaskDlg ("定时任务"): lists, creates, edits, deletes, enables and disables timed tasks
// and sets, per task, the devices and the wanted state of their 16 outlets. Every change goes
// to the task store and its file at once; run states are refreshed every 2 s.
#pragma once

#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "chronstore/tim_task.h"
#include "consolecore/tim_task_rules.h"
#include "consoleui/skin_dialog.h"
#include "platform/message_target.h"
#include "platform/prompt.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimeEdit;

namespace consoleui {
class CListCtrlWG;
class QtPrompt;
}  // namespace consoleui

namespace consoletools {

class CTimTaskDlg : public consoleui::SkinDialog, public platform::MessageTarget {
    Q_OBJECT
public:
    enum EditMode : int { EditAdding = 0, EditEditing = 1, EditNone = 100 };
    // Columns of the task list.
    enum TaskColumn : int {
        ColNumber = 0,
        ColName,
        ColStartTime,
        ColEndTime,
        ColType,
        ColStartDate,
        ColEndDate,
        ColWeekdays,
        ColRunState,
        ColEnabled,
        ColHiddenRunState,
        ColHiddenEnabled,
        ColNextRun,  // the next start by the runner's rules, after the two hidden columns
        TaskColumnCount
    };
    enum DeviceColumn : int { ColDeviceId = 0, ColDeviceName, ColOutlets, DeviceColumnCount };
    static constexpr int kRunStateIntervalMs = 2000;

    // `prompt` shows the five messages of Save (null: QMessageBox).
    explicit CTimTaskDlg(QWidget* parent = nullptr, platform::Prompt* prompt = nullptr);
    ~CTimTaskDlg() override;

    // platform::MessageTarget: the device list's WM_LED_CELL_CLICKED, handled on this thread.
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // --- read-backs for the console and tests -----------------------------------------
    int selectedTaskIndex() const { return m_selectedTask; }
    int selectedDeviceIndex() const { return m_selectedDevice; }
    int editMode() const { return m_editMode; }
    const std::vector<DeviceOnOff_>& devices() const { return m_devices; }
    // Whether the form takes input (adding or editing); otherwise it only shows a task.
    bool formEditable() const { return m_formEditable; }
    consoleui::CListCtrlWG* taskList() const { return m_taskList; }
    consoleui::CListCtrlWG* deviceList() const { return m_deviceList; }
    QLineEdit* nameEdit() const { return m_name; }
    QComboBox* typeCombo() const { return m_type; }
    QCheckBox* weekdayBox(int day) const;  // 0 Sunday .. 6 Saturday
    QDateEdit* startDateEdit() const { return m_startDate; }
    QDateEdit* endDateEdit() const { return m_endDate; }
    QTimeEdit* startTimeEdit() const { return m_startTime; }
    QTimeEdit* endTimeEdit() const { return m_endTime; }
    QPushButton* addTaskButton() const { return m_addTask; }
    QPushButton* editTaskButton() const { return m_editTask; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* saveButton() const { return m_save; }
    QPushButton* deleteTaskButton() const { return m_deleteTask; }
    QPushButton* enableButton() const { return m_enable; }
    QPushButton* disableButton() const { return m_disable; }
    QPushButton* addDeviceButton() const { return m_addDevice; }
    QPushButton* removeDeviceButton() const { return m_removeDevice; }
    QPushButton* allOnButton() const { return m_allOn; }
    QPushButton* allOffButton() const { return m_allOff; }
    QPushButton* holidaysButton() const { return m_holidays; }
    QPushButton* stateViewButton() const { return m_stateView; }
    QCheckBox* skipHolidaysBox() const { return m_skipHolidays; }
    // Asks before a task is deleted and before unsaved edits are dropped; true goes ahead
    // (default: a question box).
    void setConfirm(std::function<bool(const QString&)> confirm) { m_confirm = std::move(confirm); }
    QTimer& runStateTimer() { return m_runStateTimer; }

    // Whether the form holds edits of an Add or Edit that Save has not stored.
    bool hasUnsavedChanges() const;

    // Escape and the close buttons: asks before unsaved edits are dropped.
    void reject() override;

public slots:
    // The operator selected row `index` of the task list / the device list.
    void selectTask(int index);
    void selectDevice(int index);
    void onAddTask();
    void onEditTask();
    void onCancel();
    void onSave();
    void onDeleteTask();
    void onEnable();
    void onDisable();
    void onAddDevices();
    void onRemoveDevice();
    // Flips outlet `outlet` (0..15) of device row `row`.
    void onOutletClicked(int row, int outlet);
    // Every outlet of the selected device on / off.
    void setAllOutlets(bool on);
    void onHolidays();
    void onStateView();
    void refreshRunStates();

private:
    // Placement, button state 0, the task list and the run-state timer.
    void initDialog() override;

    // Which buttons the operator may press: nothing chosen, adding, editing, a task chosen.
    enum class ButtonState { Idle, Adding, Editing, TaskSelected };

    void buildControls();
    void applyButtonState(ButtonState state);
    void setFormEditable(bool editable);
    void rememberEditStart();
    void showModeControls(int type);
    void showTask(const TimTaskPoint_& task);
    void rebuildTaskList();
    void rebuildDeviceList();
    void refreshNextRuns();
    void setTaskEnabled(bool enabled);
    bool validateAndStore();
    consolecore::TaskForm readForm() const;

    std::unique_ptr<consoleui::QtPrompt> m_ownPrompt;
    platform::Prompt* m_prompt;

    int m_selectedTask = -1;
    int m_selectedDevice = -1;
    int m_editTaskNumber = 0;
    int m_editMode = EditNone;
    std::vector<DeviceOnOff_> m_devices;

    QLineEdit* m_name = nullptr;
    QComboBox* m_type = nullptr;
    std::array<QCheckBox*, 7> m_weekdays{};
    QLabel* m_startDateLabel = nullptr;
    QLabel* m_endDateLabel = nullptr;
    QDateEdit* m_startDate = nullptr;
    QDateEdit* m_endDate = nullptr;
    QTimeEdit* m_startTime = nullptr;
    QTimeEdit* m_endTime = nullptr;
    QPushButton* m_addTask = nullptr;
    QPushButton* m_editTask = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_deleteTask = nullptr;
    QPushButton* m_enable = nullptr;
    QPushButton* m_disable = nullptr;
    QPushButton* m_addDevice = nullptr;
    QPushButton* m_removeDevice = nullptr;
    QPushButton* m_allOn = nullptr;
    QPushButton* m_allOff = nullptr;
    QPushButton* m_holidays = nullptr;
    QPushButton* m_stateView = nullptr;
    QCheckBox* m_skipHolidays = nullptr;
    std::function<bool(const QString&)> m_confirm;
    consoleui::CListCtrlWG* m_taskList = nullptr;
    consoleui::CListCtrlWG* m_deviceList = nullptr;
    QTimer m_runStateTimer;
    bool m_formEditable = false;  // only while adding or editing
    // The form and devices as Add or Edit found them, to tell whether anything changed.
    consolecore::TaskForm m_formAtEditStart;
    std::vector<DeviceOnOff_> m_devicesAtEditStart;
};

}  // namespace consoletools
