// The timed-task editor's actions: selection, add/edit/cancel/save/delete, enable/disable,
// the task's devices and outlets, and the run-state refresh.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QTimeEdit>
#include <algorithm>
#include <stdexcept>

#include "chronstore/chronstore.h"
#include "consolecore/tim_task_rules.h"
#include "consoletools/add_tim_device_dlg.h"
#include "consoletools/tim_task_dlg.h"
#include "consoletools/tim_task_holiday_dlg.h"
#include "consoletools/tim_task_state_dlg.h"
#include "consoleui/cell_icons.h"
#include "consoleui/list_ctrl_wg.h"
#include "platform/messages.h"

namespace consoletools {

using consolecore::buildTask;
using consolecore::checkTaskForm;
using consolecore::nextTaskNumber;
using consolecore::TaskCheck;
using consolecore::taskCheckMessage;
using consolecore::TaskDate;
using consolecore::TaskForm;

namespace {

TaskDate dateOf(const QDateEdit* edit) {
    const QDate date = edit->date();
    return {date.year(), date.month(), date.day()};
}

std::uint32_t secondsOf(const QTimeEdit* edit) {
    const QTime time = edit->time();
    return static_cast<std::uint32_t>(time.hour() * 3600 + time.minute() * 60 + time.second());
}

}  // namespace

void CTimTaskDlg::post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message != platform::WM_LED_CELL_CLICKED) return;
    const int row = static_cast<int>(wParam & 0xFFFF);
    const int outlet = static_cast<int>(lParam & 0xFF);
    QMetaObject::invokeMethod(
        this, [this, row, outlet] { onOutletClicked(row, outlet); }, Qt::QueuedConnection);
}

void CTimTaskDlg::selectTask(int index) {
    if (index < 0) return;
    m_selectedTask = index;
    m_selectedDevice = -1;  // the device list is rebuilt for the task shown
    TimTaskPoint_ copy;
    {
        TimTaskGuard lock;
        if (index >= GetTTPointCount()) return;
        copy = GetTTPointByIndex(index);
    }
    showTask(copy);
    applyButtonState(ButtonState::TaskSelected);
}

void CTimTaskDlg::selectDevice(int index) {
    if (index >= 0) m_selectedDevice = index;
}

void CTimTaskDlg::onAddTask() {
    m_editMode = EditAdding;
    m_devices.clear();
    m_deviceList->deleteAllRows();
    applyButtonState(ButtonState::Adding);
    rememberEditStart();
}

void CTimTaskDlg::onEditTask() {
    if (m_selectedTask < 0 || m_selectedTask >= m_taskList->rowCount()) return;
    m_editTaskNumber = m_taskList->cellNumber(m_selectedTask, ColNumber);
    m_editMode = EditEditing;
    applyButtonState(ButtonState::Editing);
    rememberEditStart();
}

void CTimTaskDlg::rememberEditStart() {
    m_formAtEditStart = readForm();
    m_devicesAtEditStart = m_devices;
}

bool CTimTaskDlg::hasUnsavedChanges() const {
    if (!m_formEditable) return false;
    const auto sameDevice = [](const DeviceOnOff_& a, const DeviceOnOff_& b) {
        return a.devID == b.devID &&
               std::equal(std::begin(a.devLED), std::end(a.devLED), std::begin(b.devLED));
    };
    return readForm() != m_formAtEditStart ||
           !std::equal(m_devices.begin(), m_devices.end(), m_devicesAtEditStart.begin(),
                       m_devicesAtEditStart.end(), sameDevice);
}

void CTimTaskDlg::reject() {
    if (hasUnsavedChanges() && m_confirm &&
        !m_confirm(QStringLiteral("任务的修改尚未保存,确定要放弃吗?"))) {
        return;
    }
    SkinDialog::reject();
}

void CTimTaskDlg::onCancel() {
    m_editMode = EditNone;
    // The fields show the selected task again rather than the dropped edits.
    if (m_selectedTask >= 0) {
        TimTaskPoint_ copy;
        bool found = false;
        {
            TimTaskGuard lock;
            if (m_selectedTask < GetTTPointCount()) {
                copy = GetTTPointByIndex(m_selectedTask);
                found = true;
            }
        }
        if (found) {
            m_selectedDevice = -1;
            showTask(copy);
        }
    }
    applyButtonState(ButtonState::Idle);
}

void CTimTaskDlg::onSave() {
    if (!validateAndStore()) return;
    SaveTimPointToFile();
    m_editMode = EditNone;
    m_selectedTask = -1;  // the rebuilt list has no selection
    m_selectedDevice = -1;
    applyButtonState(ButtonState::Idle);
    rebuildTaskList();
}

void CTimTaskDlg::onDeleteTask() {
    if (m_selectedTask < 0 || m_selectedTask >= GetTTPointCount()) return;
    const QString name = m_taskList->itemText(m_selectedTask, ColName);
    if (m_confirm && !m_confirm(QStringLiteral("确定要删除定时任务[%1]吗?").arg(name))) return;
    try {
        RemoveTTPointByIdx(m_selectedTask);
    } catch (const std::invalid_argument&) {
        return;  // the task went away in the meantime
    }
    SaveTimPointToFile();
    m_editMode = EditNone;
    m_selectedTask = -1;
    m_selectedDevice = -1;
    applyButtonState(ButtonState::Idle);
    rebuildTaskList();
}

void CTimTaskDlg::onEnable() {
    setTaskEnabled(true);
}

void CTimTaskDlg::onDisable() {
    setTaskEnabled(false);
}

void CTimTaskDlg::setTaskEnabled(bool enabled) {
    if (m_selectedTask < 0) return;
    {
        TimTaskGuard lock;
        if (m_selectedTask >= GetTTPointCount()) return;
        GetTTPointByIndex(m_selectedTask).ttEnable = enabled ? 1 : 0;
    }
    SaveTimPointToFile();
    m_taskList->setItemText(m_selectedTask, ColEnabled,
                            enabled ? QStringLiteral("启用") : QStringLiteral("禁用"));
    m_taskList->setCellNumber(m_selectedTask, ColHiddenEnabled, enabled ? 1 : 0);
}

void CTimTaskDlg::onAddDevices() {
    CAddTimDeviceDlg picker(this);
    for (const DeviceOnOff_& device : m_devices) picker.idList.push_back(device.devID);
    if (picker.exec() != QDialog::Accepted) return;
    for (const std::uint16_t id : picker.idList) {
        const bool held = std::any_of(m_devices.begin(), m_devices.end(),
                                      [id](const DeviceOnOff_& d) { return d.devID == id; });
        if (held) continue;
        DeviceOnOff_ device;
        device.devID = id;
        std::fill(std::begin(device.devLED), std::end(device.devLED), std::uint8_t{1});
        m_devices.push_back(device);
    }
    rebuildDeviceList();
}

void CTimTaskDlg::onRemoveDevice() {
    if (m_selectedDevice < 0 || m_selectedDevice >= m_deviceList->rowCount() ||
        m_selectedDevice >= static_cast<int>(m_devices.size())) {
        return;
    }
    m_devices.erase(m_devices.begin() + m_selectedDevice);
    // Rebuilt rather than one row deleted: the outlet strips belong to row indexes, so the
    // rows below must show their own dots after moving up.
    rebuildDeviceList();
}

void CTimTaskDlg::onOutletClicked(int row, int outlet) {
    if (!m_formEditable || row < 0 || row >= static_cast<int>(m_devices.size()) ||
        row >= m_deviceList->rowCount() || outlet < 0 ||
        outlet >= static_cast<int>(kDeviceOutletCount)) {
        return;
    }
    std::uint8_t& state = m_devices[static_cast<std::size_t>(row)].devLED[outlet];
    state = state ? 0 : 1;
    m_deviceList->setStripIcon(row, outlet, state ? consoleui::kIconLedOn : consoleui::kIconLedOff);
    m_deviceList->redrawCell(row, ColOutlets);
}

void CTimTaskDlg::setAllOutlets(bool on) {
    if (!m_formEditable || m_selectedDevice < 0 ||
        m_selectedDevice >= static_cast<int>(m_devices.size()) ||
        m_selectedDevice >= m_deviceList->rowCount()) {
        return;
    }
    DeviceOnOff_& device = m_devices[static_cast<std::size_t>(m_selectedDevice)];
    std::fill(std::begin(device.devLED), std::end(device.devLED),
              static_cast<std::uint8_t>(on ? 1 : 0));
    for (int k = 0; k < static_cast<int>(kDeviceOutletCount); ++k) {
        m_deviceList->setStripIcon(m_selectedDevice, k,
                                   on ? consoleui::kIconLedOn : consoleui::kIconLedOff);
    }
    m_deviceList->redrawCell(m_selectedDevice, ColOutlets);
}

void CTimTaskDlg::onHolidays() {
    CTimTaskHolidayDlg dialog(this);
    if (dialog.exec() == QDialog::Accepted) refreshNextRuns();
}

void CTimTaskDlg::onStateView() {
    CTimTaskStateDlg dialog(this);
    dialog.exec();
}

void CTimTaskDlg::refreshRunStates() {
    refreshNextRuns();
    TimTaskGuard lock;
    const TimTaskArray& tasks = GetTTPointArray();
    for (int row = 0; row < m_taskList->rowCount(); ++row) {
        const int number = m_taskList->cellNumber(row, ColNumber);
        const int shown = m_taskList->cellNumber(row, ColHiddenRunState);
        for (const TimTaskPoint_& task : tasks) {
            if (task.timID != number || task.runState == shown) continue;
            m_taskList->setItemText(
                row, ColRunState,
                task.runState == kTaskRunning ? QStringLiteral("运行") : QStringLiteral("空闲"));
            m_taskList->setCellNumber(row, ColHiddenRunState, task.runState);
        }
    }
}

TaskForm CTimTaskDlg::readForm() const {
    TaskForm form;
    form.name = m_name->text().toStdU16String();
    form.type = m_type->currentIndex() == kTaskWeekMode ? kTaskWeekMode : kTaskDateMode;
    form.startDate = dateOf(m_startDate);
    form.endDate = dateOf(m_endDate);
    for (int day = 0; day < 7; ++day) {
        form.weekdays[static_cast<std::size_t>(day)] =
            m_weekdays[static_cast<std::size_t>(day)]->isChecked();
    }
    form.startTime = secondsOf(m_startTime);
    form.endTime = secondsOf(m_endTime);
    form.skipHolidays = m_skipHolidays->isChecked();
    return form;
}

bool CTimTaskDlg::validateAndStore() {
    const bool editingWithoutSelection =
        m_editMode == EditEditing && (m_selectedTask < 0 || m_selectedTask >= GetTTPointCount());
    const TaskForm form = readForm();
    const TaskCheck check = checkTaskForm(form, editingWithoutSelection);
    if (check != TaskCheck::Ok) {
        if (m_prompt) m_prompt->showMessage(taskCheckMessage(check));
        return false;
    }
    TimTaskPoint_ task = buildTask(form, m_devices);
    if (m_editMode == EditAdding) {
        std::vector<std::uint16_t> numbers;
        {
            TimTaskGuard lock;
            for (const TimTaskPoint_& t : GetTTPointArray()) {
                numbers.push_back(static_cast<std::uint16_t>(t.timID));
            }
        }
        task.timID = nextTaskNumber(std::move(numbers));
        PlusTTPoint(std::move(task));
    } else if (m_editMode == EditEditing) {
        task.timID = m_editTaskNumber;
        try {
            ModifyTTPoint(m_selectedTask, std::move(task));
        } catch (const std::invalid_argument&) {
            return false;  // the task went away between the check and the change
        }
    }
    return true;
}

}  // namespace consoletools
