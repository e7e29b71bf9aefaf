// The timed-task editor's window: controls, layout, button states, showing a task and the
// two lists.
#include "consoletools/tim_task_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimeEdit>
#include <algorithm>

#include "chronrun/task_rules.h"
#include "chronstore/chronstore.h"
#include "chronstore/holidays.h"
#include "consolecore/task_devices.h"
#include "consolecore/task_view.h"
#include "consolecore/tim_task_rules.h"
#include "consoletools/tool_layout.h"
#include "consoleui/cell_icons.h"
#include "consoleui/list_ctrl_wg.h"
#include "consoleui/qt_prompt.h"
#include "consoleui/ui_fonts.h"
#include "platform/messages.h"

namespace consoletools {

using consolecore::taskDateText;
using consolecore::taskTypeText;
using consolecore::timeOfDayText;
using consolecore::weekdayText;

namespace {

const QDate kEarliestDate(1900, 1, 1);
constexpr std::uint32_t kLastSecondOfDay = 86399;
// Room around a cell's text, both sides together.
constexpr int kCellPadding = 14;

// A stored date the picker cannot show (only a hand-edited or incomplete file holds one)
// shows as the picker's earliest date.
QDate pickerDate(unsigned year, unsigned month, unsigned day) {
    const QDate date(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day));
    return date.isValid() && date >= kEarliestDate ? date : kEarliestDate;
}

// A time of day of 24 hours or more shows as the last second of the day.
QTime pickerTime(std::uint32_t seconds) {
    seconds = std::min(seconds, kLastSecondOfDay);
    return QTime(static_cast<int>(seconds / 3600), static_cast<int>(seconds % 3600 / 60),
                 static_cast<int>(seconds % 60));
}

QPushButton* makeButton(QWidget* parent, const QString& text, int fontSize, const char* name) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFont(consoleui::uiFont(QStringLiteral("思源黑体 CN"), fontSize));
    button->setAutoDefault(false);
    return button;
}

QDateEdit* makeDateEdit(QWidget* parent) {
    auto* edit = new QDateEdit(QDate::currentDate(), parent);
    edit->setMinimumDate(kEarliestDate);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    return edit;
}

QTimeEdit* makeTimeEdit(QWidget* parent) {
    const QTime now = QTime::currentTime();
    auto* edit = new QTimeEdit(QTime(now.hour(), now.minute(), now.second()), parent);
    edit->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    return edit;
}

}  // namespace

CTimTaskDlg::CTimTaskDlg(QWidget* parent, platform::Prompt* prompt)
    : SkinDialog(parent),
      m_ownPrompt(prompt ? nullptr : std::make_unique<consoleui::QtPrompt>(this)),
      m_prompt(prompt ? prompt : m_ownPrompt.get()) {
    setObjectName(QStringLiteral("CTimTaskDlg"));
    setCaption(QStringLiteral("定时任务"));
    buildControls();
    m_runStateTimer.setInterval(kRunStateIntervalMs);
    connect(&m_runStateTimer, &QTimer::timeout, this, &CTimTaskDlg::refreshRunStates);
}

CTimTaskDlg::~CTimTaskDlg() {
    m_runStateTimer.stop();
    // The list may still hold posted cell messages; they die with this object.
    m_deviceList->setOwner(nullptr);
}

QCheckBox* CTimTaskDlg::weekdayBox(int day) const {
    return day >= 0 && day < 7 ? m_weekdays[static_cast<std::size_t>(day)] : nullptr;
}

void CTimTaskDlg::buildControls() {
    const QFont labelFont = consoleui::uiFont(QStringLiteral("Arial"), 14);
    auto label = [&](const QString& text) {
        auto* l = new QLabel(text, this);
        l->setFont(labelFont);
        return l;
    };

    // The task list: 12 columns weighted as 33 units (the last two hidden), then the next
    // start with 4 more; the 37 units share the client width, no column narrower than its
    // title and content, so the number and the next start show without scrolling.
    m_taskList = new consoleui::CListCtrlWG(this);
    m_taskList->setObjectName(QStringLiteral("taskList"));
    m_taskList->setRowHeight(22);
    m_taskList->setRowFont(15, true, false, false, QStringLiteral("宋体"));
    m_taskList->setHeaderFont(12, false, QStringLiteral("宋体"));
    const QStringList taskTitles{"任务号",   "任务名",   "开始时间", "结束时间", "任务类型",
                                 "开始日期", "结束日期", "星期",     "运行状态", "是否启用",
                                 "runstate", "enable",   "下次运行"};
    for (int c = 0; c < taskTitles.size(); ++c) {
        m_taskList->insertColumnWithHeader(c, taskTitles[c], 0, 0);
    }
    const std::vector<int> taskUnits{1, 4, 4, 4, 2, 4, 4, 6, 2, 2, 0, 0, 4};
    const QStringList samples{
        "00000",      "",           "00:00:00",           "00:00:00", "星期模式",
        "0000-00-00", "0000-00-00", "日一二三四五六",     "空闲",     "启用",
        "",           "",           "0000-00-00 00:00:00"};
    const QFontMetrics titleMetrics(consoleui::uiFont(QStringLiteral("宋体"), 12));
    const QFontMetrics rowMetrics(m_taskList->rowFont());
    std::vector<int> minimums;
    for (int c = 0; c < taskTitles.size(); ++c) {
        if (taskUnits[static_cast<std::size_t>(c)] == 0) {
            minimums.push_back(0);
            continue;
        }
        minimums.push_back(std::max(titleMetrics.horizontalAdvance(taskTitles[c]),
                                    rowMetrics.horizontalAdvance(samples[c])) +
                           kCellPadding);
    }
    new ColumnLayout(*m_taskList, fittedUnitWidths(37, taskUnits, std::move(minimums)));

    // The device list: 23rds; the outlet column is a strip of 16 dots.
    m_deviceList = new consoleui::CListCtrlWG(this);
    m_deviceList->setObjectName(QStringLiteral("deviceList"));
    m_deviceList->setOwner(this);
    m_deviceList->setRowHeight(15);
    m_deviceList->setRowFont(10, true, false, false, QStringLiteral("宋体"));
    m_deviceList->setHeaderFont(9, false, QStringLiteral("宋体"));
    const QStringList deviceTitles{"ID", "名称", "开关"};
    for (int c = 0; c < deviceTitles.size(); ++c) {
        m_deviceList->insertColumnWithHeader(c, deviceTitles[c], 0, 0);
    }
    new ColumnLayout(*m_deviceList, unitWidths(23, {2, 5, 15}));

    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("nameEdit"));
    m_name->setMaxLength(static_cast<int>(kTimNameMaxLength));  // the record keeps 19
    m_type = new QComboBox(this);
    m_type->setObjectName(QStringLiteral("typeCombo"));
    m_type->addItems({QStringLiteral("日期模式"), QStringLiteral("星期模式")});
    m_type->setCurrentIndex(0);
    const QStringList dayNames{"周日", "周一", "周二", "周三", "周四", "周五", "周六"};
    auto* weekdayRow = new QHBoxLayout;
    for (int day = 0; day < 7; ++day) {
        auto* box = new QCheckBox(dayNames[day], this);
        box->setFont(labelFont);
        m_weekdays[static_cast<std::size_t>(day)] = box;
        weekdayRow->addWidget(box);
    }
    weekdayRow->addStretch(1);
    m_startDateLabel = label(QStringLiteral("开始日期:"));
    m_endDateLabel = label(QStringLiteral("结束日期:"));
    m_startDate = makeDateEdit(this);
    m_startDate->setObjectName(QStringLiteral("startDate"));
    m_endDate = makeDateEdit(this);
    m_endDate->setObjectName(QStringLiteral("endDate"));
    m_startTime = makeTimeEdit(this);
    m_startTime->setObjectName(QStringLiteral("startTime"));
    m_endTime = makeTimeEdit(this);
    m_endTime->setObjectName(QStringLiteral("endTime"));
    m_skipHolidays = new QCheckBox(QStringLiteral("节假日不执行"), this);
    m_skipHolidays->setObjectName(QStringLiteral("skipHolidays"));
    m_skipHolidays->setFont(labelFont);

    m_addTask = makeButton(this, QStringLiteral("添加"), 16, "addTask");
    m_editTask = makeButton(this, QStringLiteral("编辑"), 16, "editTask");
    m_cancel = makeButton(this, QStringLiteral("取消"), 16, "cancelEdit");
    m_save = makeButton(this, QStringLiteral("保存"), 16, "saveTask");
    m_deleteTask = makeButton(this, QStringLiteral("删除"), 16, "deleteTask");
    m_enable = makeButton(this, QStringLiteral("启用"), 12, "enableTask");
    m_disable = makeButton(this, QStringLiteral("禁用"), 12, "disableTask");
    m_addDevice = makeButton(this, QStringLiteral("添加"), 12, "addDevice");
    m_removeDevice = makeButton(this, QStringLiteral("删除"), 12, "removeDevice");
    m_allOn = makeButton(this, QStringLiteral("全开"), 12, "allOn");
    m_allOff = makeButton(this, QStringLiteral("全关"), 12, "allOff");
    m_holidays = makeButton(this, QStringLiteral("节假日"), 12, "holidays");
    m_stateView = makeButton(this, QStringLiteral("状态对照"), 12, "stateView");

    auto* form = new QGridLayout;
    form->addWidget(label(QStringLiteral("任务名称:")), 0, 0);
    form->addWidget(m_name, 0, 1);
    form->addWidget(label(QStringLiteral("任务类型:")), 0, 2);
    form->addWidget(m_type, 0, 3);
    form->addLayout(weekdayRow, 1, 0, 1, 4);
    form->addWidget(m_startDateLabel, 2, 0);
    form->addWidget(m_startDate, 2, 1);
    form->addWidget(m_endDateLabel, 2, 2);
    form->addWidget(m_endDate, 2, 3);
    form->addWidget(label(QStringLiteral("开始时间:")), 3, 0);
    form->addWidget(m_startTime, 3, 1);
    form->addWidget(label(QStringLiteral("结束时间:")), 3, 2);
    form->addWidget(m_endTime, 3, 3);
    form->addWidget(m_skipHolidays, 4, 1);
    auto* viewButtons = new QHBoxLayout;
    viewButtons->addWidget(m_holidays);
    viewButtons->addWidget(m_stateView);
    form->addLayout(viewButtons, 4, 3);
    form->setColumnStretch(1, 1);
    form->setColumnStretch(3, 1);
    auto* taskButtons = new QHBoxLayout;
    for (QPushButton* b : {m_addTask, m_editTask, m_cancel, m_save, m_deleteTask}) {
        taskButtons->addWidget(b);
    }
    taskButtons->addSpacing(16);
    taskButtons->addWidget(m_enable);
    taskButtons->addWidget(m_disable);
    auto* left = new QVBoxLayout;
    left->addLayout(form);
    left->addStretch(1);
    left->addLayout(taskButtons);

    auto* deviceButtons = new QHBoxLayout;
    deviceButtons->addWidget(m_allOn);
    deviceButtons->addWidget(m_allOff);
    deviceButtons->addStretch(1);
    deviceButtons->addWidget(m_addDevice);
    deviceButtons->addWidget(m_removeDevice);
    auto* right = new QVBoxLayout;
    right->addWidget(m_deviceList, 1);
    right->addLayout(deviceButtons);

    auto* lower = new QHBoxLayout;
    lower->addLayout(left, 1);
    lower->addSpacing(12);
    lower->addLayout(right, 1);
    body()->addWidget(m_taskList, 3);
    body()->addLayout(lower, 2);

    connect(m_type, &QComboBox::currentIndexChanged, this, &CTimTaskDlg::showModeControls);
    connect(m_taskList, &consoleui::CListCtrlWG::highlightedRowChanged, this, [this](int row) {
        if (row >= 0) selectTask(row);
    });
    connect(m_deviceList, &consoleui::CListCtrlWG::highlightedRowChanged, this, [this](int row) {
        if (row >= 0) selectDevice(row);
    });
    connect(m_addTask, &QPushButton::clicked, this, &CTimTaskDlg::onAddTask);
    connect(m_editTask, &QPushButton::clicked, this, &CTimTaskDlg::onEditTask);
    connect(m_cancel, &QPushButton::clicked, this, &CTimTaskDlg::onCancel);
    connect(m_save, &QPushButton::clicked, this, &CTimTaskDlg::onSave);
    connect(m_deleteTask, &QPushButton::clicked, this, &CTimTaskDlg::onDeleteTask);
    connect(m_enable, &QPushButton::clicked, this, &CTimTaskDlg::onEnable);
    connect(m_disable, &QPushButton::clicked, this, &CTimTaskDlg::onDisable);
    connect(m_addDevice, &QPushButton::clicked, this, &CTimTaskDlg::onAddDevices);
    connect(m_removeDevice, &QPushButton::clicked, this, &CTimTaskDlg::onRemoveDevice);
    connect(m_allOn, &QPushButton::clicked, this, [this] { setAllOutlets(true); });
    connect(m_allOff, &QPushButton::clicked, this, [this] { setAllOutlets(false); });
    connect(m_holidays, &QPushButton::clicked, this, &CTimTaskDlg::onHolidays);
    connect(m_stateView, &QPushButton::clicked, this, &CTimTaskDlg::onStateView);
    m_confirm = [this](const QString& question) {
        return QMessageBox::question(this, QStringLiteral("定时任务"), question) ==
               QMessageBox::Yes;
    };
    showModeControls(kTaskDateMode);
}

void CTimTaskDlg::initDialog() {
    placeOnScreen(*this, PlacementRule{6, 7, 1100, 500});
    applyButtonState(ButtonState::Idle);
    rebuildTaskList();
    m_runStateTimer.start();
}

void CTimTaskDlg::applyButtonState(ButtonState state) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_addTask, m_editTask, m_cancel, m_save, m_deleteTask,
                                         m_type, m_addDevice, m_removeDevice}) {
        w->setEnabled(false);
    }
    switch (state) {
        case ButtonState::Idle:
            m_addTask->setEnabled(true);
            break;
        case ButtonState::Adding:
        case ButtonState::Editing:
            for (QWidget* w : std::initializer_list<QWidget*>{m_save, m_cancel, m_type, m_addDevice,
                                                              m_removeDevice}) {
                w->setEnabled(true);
            }
            break;
        case ButtonState::TaskSelected:
            m_addTask->setEnabled(true);
            m_editTask->setEnabled(true);
            m_deleteTask->setEnabled(true);
            break;
    }
    setFormEditable(state == ButtonState::Adding || state == ButtonState::Editing);
}

void CTimTaskDlg::setFormEditable(bool editable) {
    // Outside Add and Edit nothing typed here would be stored: the fields stay readable but
    // take no input, and the outlet dots do not flip.
    m_formEditable = editable;
    m_name->setReadOnly(!editable);
    for (QAbstractSpinBox* picker :
         std::initializer_list<QAbstractSpinBox*>{m_startDate, m_endDate, m_startTime, m_endTime}) {
        picker->setReadOnly(!editable);
    }
    for (QCheckBox* box : m_weekdays) box->setEnabled(editable);
    for (QWidget* w : std::initializer_list<QWidget*>{m_skipHolidays, m_allOn, m_allOff}) {
        w->setEnabled(editable);
    }
}

void CTimTaskDlg::showModeControls(int type) {
    for (QCheckBox* box : m_weekdays) box->hide();
    for (QWidget* w : std::initializer_list<QWidget*>{m_startDateLabel, m_startDate, m_endDateLabel,
                                                      m_endDate}) {
        w->hide();
    }
    if (type == kTaskDateMode) {
        for (QWidget* w : std::initializer_list<QWidget*>{m_startDateLabel, m_startDate,
                                                          m_endDateLabel, m_endDate}) {
            w->show();
        }
    } else if (type == kTaskWeekMode) {
        for (QCheckBox* box : m_weekdays) box->show();
    }
}

void CTimTaskDlg::showTask(const TimTaskPoint_& task) {
    m_name->setText(QString::fromStdU16String(GetTimName(task)));
    m_startDate->setDate(pickerDate(task.staYear, task.staMonth, task.staDay));
    m_endDate->setDate(pickerDate(task.endYear, task.endMonth, task.endDay));
    for (int day = 0; day < 7; ++day) {
        m_weekdays[static_cast<std::size_t>(day)]->setChecked(TaskRunsOnWeekday(task, day));
    }
    m_startTime->setTime(pickerTime(task.statime));
    m_endTime->setTime(pickerTime(task.endtime));
    m_skipHolidays->setChecked(task.skipHolidays);
    m_devices = task.devList;
    // A type only a hand-edited file holds shows as date mode.
    const int type = task.ttType == kTaskWeekMode ? kTaskWeekMode : kTaskDateMode;
    {
        const QSignalBlocker block(m_type);
        m_type->setCurrentIndex(type);
    }
    showModeControls(type);
    rebuildDeviceList();
}

void CTimTaskDlg::rebuildTaskList() {
    m_taskList->setUpdatesEnabled(false);
    m_taskList->deleteAllRows();
    {
        TimTaskGuard lock;
        int row = 0;
        for (const TimTaskPoint_& task : GetTTPointArray()) {
            m_taskList->insertRowWithNumber(row, task.timID);
            const auto text = [&](int column, const std::string& value) {
                m_taskList->setItemText(row, column, QString::fromStdString(value));
            };
            m_taskList->setItemText(row, ColName, QString::fromStdU16String(GetTimName(task)));
            text(ColStartTime, timeOfDayText(task.statime));
            text(ColEndTime, timeOfDayText(task.endtime));
            text(ColType, taskTypeText(task.ttType));
            if (task.ttType != kTaskWeekMode) {
                text(ColStartDate, taskDateText(task.staYear, task.staMonth, task.staDay));
                text(ColEndDate, taskDateText(task.endYear, task.endMonth, task.endDay));
            }
            if (task.ttType != kTaskDateMode) text(ColWeekdays, weekdayText(task));
            text(ColRunState, "空闲");
            text(ColEnabled, task.ttEnable ? "启用" : "禁用");
            m_taskList->setCellNumber(row, ColHiddenRunState, 0);
            m_taskList->setCellNumber(row, ColHiddenEnabled, task.ttEnable);
            ++row;
        }
    }
    refreshNextRuns();
    m_taskList->setUpdatesEnabled(true);
}

void CTimTaskDlg::refreshNextRuns() {
    const ChronrunLocalTime now = consolecore::runnerNow();
    const HolidayList holidays = GetHolidays();
    TimTaskGuard lock;
    const TimTaskArray& tasks = GetTTPointArray();
    for (int row = 0; row < m_taskList->rowCount(); ++row) {
        const int number = m_taskList->cellNumber(row, ColNumber);
        QString text;
        for (const TimTaskPoint_& task : tasks) {
            if (task.timID != number) continue;
            if (const auto next = chronrun::nextStart(task, now, holidays)) {
                text = QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", next->year, next->month,
                                         next->day, next->hour, next->minute, next->second);
            }
            break;
        }
        if (m_taskList->itemText(row, ColNextRun) != text)
            m_taskList->setItemText(row, ColNextRun, text);
    }
}

void CTimTaskDlg::rebuildDeviceList() {
    m_deviceList->deleteAllRows();
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        const DeviceOnOff_& device = m_devices[i];
        const int row = m_deviceList->insertRowWithNumber(static_cast<int>(i), device.devID);
        const std::string name = consolecore::registeredDeviceName(device.devID);
        m_deviceList->setItemText(row, ColDeviceName, QString::fromStdString(name));
        // Strip k belongs to row index k: register the strips of new row indexes once.
        while (m_deviceList->stripCount() <= row) {
            m_deviceList->registerIconStrip(m_deviceList->stripCount(), ColOutlets,
                                            consoleui::kIconLedOff, 0, 0,
                                            static_cast<int>(kDeviceOutletCount), 0);
        }
        for (std::size_t k = 0; k < kDeviceOutletCount; ++k) {
            m_deviceList->setStripIcon(
                row, static_cast<int>(k),
                device.devLED[k] ? consoleui::kIconLedOn : consoleui::kIconLedOff);
        }
        m_deviceList->redrawCell(row, ColOutlets);
    }
}

}  // namespace consoletools
