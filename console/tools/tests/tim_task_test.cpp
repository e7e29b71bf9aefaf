// The timed-task editor on the real task store in a temp folder and a real registry: the
// task list's texts, Save's checks, add/edit/delete/enable, the devices and their outlets,
// the run-state refresh and the file Save writes.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimeEdit>

#include "chronstore/task_file.h"
#include "consolecore/tim_task_rules.h"
#include "consoletools/add_tim_device_dlg.h"
#include "consoletools/tim_task_dlg.h"
#include "consoletools/tool_layout.h"
#include "consoleui/cell_icons.h"
#include "platform/messages.h"
#include "tim_task_support.h"
#include "tool_test_support.h"

using consoletools::CAddTimDeviceDlg;
using consoletools::CTimTaskDlg;
using tooltest::columnTexts;
using tooltest::RecordingPrompt;
using tooltest::TaskEnvironment;

namespace {

struct FormInput {
    QString name = QStringLiteral("task");
    int type = 0;
    QDate start{2024, 3, 5};
    QDate end{2024, 3, 5};
    std::vector<int> days;
    QTime startTime{8, 0, 0};
    QTime endTime{8, 0, 1};
};

void fill(CTimTaskDlg& dialog, const FormInput& input) {
    dialog.nameEdit()->setText(input.name);
    dialog.typeCombo()->setCurrentIndex(input.type);
    dialog.startDateEdit()->setDate(input.start);
    dialog.endDateEdit()->setDate(input.end);
    for (int day = 0; day < 7; ++day) {
        dialog.weekdayBox(day)->setChecked(std::find(input.days.begin(), input.days.end(), day) !=
                                           input.days.end());
    }
    dialog.startTimeEdit()->setTime(input.startTime);
    dialog.endTimeEdit()->setTime(input.endTime);
}

void clickRow(consoleui::CListCtrlWG* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->cellRect(row, 0).center());
}

// Add, fill, Save: a new task through the buttons.
void addTask(CTimTaskDlg& dialog, const FormInput& input) {
    QTest::mouseClick(dialog.addTaskButton(), Qt::LeftButton);
    fill(dialog, input);
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
}

std::vector<int> storeNumbers() {
    TimTaskGuard lock;
    std::vector<int> numbers;
    for (const auto& task : GetTTPointArray()) numbers.push_back(task.timID);
    return numbers;
}

TimTaskPoint_ storedTask(int index) {
    TimTaskGuard lock;
    return GetTTPointByIndex(index);
}

// Which of the seven boxes are ticked, Sunday first.
QString tickedDays(const CTimTaskDlg& dialog) {
    QString days;
    for (int day = 0; day < 7; ++day) days += dialog.weekdayBox(day)->isChecked() ? u'1' : u'0';
    return days;
}

QList<int> stripIcons(const consoleui::CListCtrlWG& list, int row) {
    QList<int> icons;
    for (int k = 0; k < 16; ++k) icons << list.stripIcon(row, k);
    return icons;
}

const QList<int> kAllOn = QList<int>(16, consoleui::kIconLedOn);

// A TimingTask.ini a person might have edited by hand: week mode, a disabled date task, a
// task whose dates and times no picker can show, and a type no editor writes.
const char* const kHandEdited =
    "[TimingTask]\nttCount=4\n"
    "[Timing_1]\ntimName=Tue\nttEnable=1\nttType=1\ntuesday=1\nstatime=3600\nendtime=7200\n"
    "devCount=1\ndevID_1=5\ndevLED_1=1010\n"
    "[Timing_2]\ntimName=Off\nttEnable=0\nttType=0\nstaYear=2024\nstaMonth=1\nstaDay=2\n"
    "endYear=2024\nendMonth=12\nendDay=31\nstatime=100\nendtime=200\ndevCount=0\n"
    "[Timing_3]\ntimName=Broken\nttEnable=1\nttType=0\nstaYear=0\nstaMonth=13\nstaDay=40\n"
    "statime=90000\nendtime=100000\n"
    "[Timing_4]\ntimName=Odd\nttEnable=1\nttType=7\nmonday=1\nstatime=10\nendtime=20\n";

}  // namespace

class TimTaskTest : public QObject {
    Q_OBJECT
private slots:
    void windowControlsColumnsAndPlacement();
    void weekModeTaskShowsItsDaysAndNoDates();
    void dateModeTaskOfOneDayIsAcceptedAndShown();
    void saveRefusesWithTheFiveMessages();
    void editThenSaveKeepsNumberAndPositionAndEnables();
    void loadingShowsTheTasksOwnWeekdayBoxes();
    void unshowableDatesAndTimesAreListedAndSelectable();
    void buttonStatesFollowTheEditMode();
    void enableAndDisableChangeTheRowAndTheFile();
    void deletingTheSecondOfThreeKeepsNumbersAndFillsTheGap();
    void addingDevicesAppendsThePickersNewIdsAllOn();
    void unregisteredDeviceShowsAnEmptyName();
    void outletDoubleClickAndDeviceRemovalKeepTheDotsRight();
    void runStatesRefreshOnTheTimer();
    void savedFileIsWhatTheStoreLoadsBack();
    void cancelDeleteSelectionsAndOutletShortcuts();
    void formTakesInputOnlyWhileAddingOrEditing();
    void escapeAsksBeforeDroppingUnsavedEdits();
};

void TimTaskTest::windowControlsColumnsAndPlacement() {
    TaskEnvironment env;
    CTimTaskDlg dialog(nullptr, nullptr);
    dialog.OnInitDialog();
    dialog.show();
    QCOMPARE(dialog.caption(), QStringLiteral("定时任务"));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(dialog.geometry(), consoletools::placeToolWindow(screen.size(), {6, 7, 1100, 500})
                                    .translated(screen.topLeft()));
    QCOMPARE(consoletools::placeToolWindow({1920, 1080}, {6, 7, 1100, 500}),
             QRect(320, 154, 1280, 772));
    QCOMPARE(consoletools::placeToolWindow({1280, 700}, {6, 7, 1100, 500}),
             QRect(0, 100, 1100, 500));

    QCOMPARE(
        tooltest::headerTitles(*dialog.taskList()),
        (QStringList{"任务号", "任务名", "开始时间", "结束时间", "任务类型", "开始日期", "结束日期",
                     "星期", "运行状态", "是否启用", "runstate", "enable", "下次运行"}));
    // At the size it opens with on a 1366 px screen, every column fits without scrolling and
    // the number and the next start are not cut.
    dialog.setGeometry(consoletools::placeToolWindow({1366, 768}, {6, 7, 1100, 500}));
    consoleui::CListCtrlWG* tasks = dialog.taskList();
    QTRY_COMPARE(tasks->width(), tasks->parentWidget()->width() - 2 * tasks->x());
    QCOMPARE(tasks->horizontalScrollBar()->maximum(), 0);
    const QFontMetrics rowMetrics(tasks->rowFont());
    QVERIFY(tasks->columnWidth(CTimTaskDlg::ColNumber) >
            QFontMetrics(tasks->horizontalHeader()->font()).horizontalAdvance("任务号"));
    QVERIFY(tasks->columnWidth(CTimTaskDlg::ColNextRun) >
            rowMetrics.horizontalAdvance("2024-01-31 08:00:00"));
    QCOMPARE(tasks->columnWidth(CTimTaskDlg::ColHiddenRunState), 0);
    QCOMPARE(tooltest::headerTitles(*dialog.deviceList()), (QStringList{"ID", "名称", "开关"}));
    const int deviceUnit = dialog.deviceList()->contentsRect().width() / 23;
    QCOMPARE(dialog.deviceList()->columnWidth(2), deviceUnit * 15);
    QCOMPARE(dialog.taskList()->rowHeightPixels(), 22);
    QCOMPARE(dialog.taskList()->rowFont().pixelSize(), 15);
    QVERIFY(dialog.taskList()->rowFont().bold());
    QVERIFY(dialog.taskList()->rowFont().families().contains(QStringLiteral("宋体")));
    QCOMPARE(dialog.deviceList()->rowHeightPixels(), 15);
    QCOMPARE(dialog.deviceList()->rowFont().pixelSize(), 10);
    QCOMPARE(dialog.addTaskButton()->font().pixelSize(), 16);
    QCOMPARE(dialog.enableButton()->font().pixelSize(), 12);
    QVERIFY(dialog.addTaskButton()->font().families().contains(QStringLiteral("思源黑体 CN")));
    QCOMPARE(dialog.typeCombo()->itemText(0), QStringLiteral("日期模式"));
    QCOMPARE(dialog.typeCombo()->itemText(1), QStringLiteral("星期模式"));
    QCOMPARE(dialog.weekdayBox(0)->text(), QStringLiteral("周日"));
    QCOMPARE(dialog.weekdayBox(6)->text(), QStringLiteral("周六"));
    // Date mode at start: the date pickers show, the weekday boxes do not.
    QVERIFY(dialog.startDateEdit()->isVisible());
    QVERIFY(!dialog.weekdayBox(1)->isVisible());
    dialog.typeCombo()->setCurrentIndex(1);
    QVERIFY(!dialog.startDateEdit()->isVisible());
    QVERIFY(dialog.weekdayBox(1)->isVisible());
    QVERIFY(dialog.startTimeEdit()->isVisible());
    QCOMPARE(dialog.runStateTimer().interval(), 2000);
    QVERIFY(dialog.runStateTimer().isActive());
}

void TimTaskTest::weekModeTaskShowsItsDaysAndNoDates() {
    TaskEnvironment env;
    // Monday 2024-01-29 09:00: the next start is Wednesday's.
    tooltest::RunnerClockAt::install({2024, 1, 29, 1, 9, 0, 0});
    RecordingPrompt prompt;
    CTimTaskDlg dialog(nullptr, &prompt);
    dialog.OnInitDialog();
    dialog.show();
    FormInput input;
    input.name = QStringLiteral("周任务");
    input.type = 1;
    input.days = {1, 3};
    addTask(dialog, input);
    QVERIFY(prompt.messages.empty());
    QCOMPARE(dialog.taskList()->rowCount(), 1);
    const QStringList row = tooltest::rowTexts(*dialog.taskList(), 0);
    QCOMPARE(row, (QStringList{"1", "周任务", "08:00:00", "08:00:01", "星期模式", "", "", "一三",
                               "空闲", "启用", "0", "1", "2024-01-31 08:00:00"}));
    tooltest::RunnerClockAt::uninstall();
    const TimTaskPoint_ task = storedTask(0);
    QVERIFY(task.monday && task.wednesday && !task.sunday && !task.tuesday);
    QCOMPARE(task.ttType, std::uint8_t{1});
    // Both dates are stored in either mode.
    QCOMPARE(task.staYear, std::uint16_t{2024});
}

void TimTaskTest::dateModeTaskOfOneDayIsAcceptedAndShown() {
    TaskEnvironment env;
    RecordingPrompt prompt;
    CTimTaskDlg dialog(nullptr, &prompt);
    dialog.OnInitDialog();
    dialog.show();
    FormInput input;
    input.days = {2};  // stored but not shown in date mode
    addTask(dialog, input);
    QVERIFY(prompt.messages.empty());
    QCOMPARE(dialog.editMode(), static_cast<int>(CTimTaskDlg::EditNone));
    const QStringList row = tooltest::rowTexts(*dialog.taskList(), 0);
    QCOMPARE(row.mid(2, 6),
             (QStringList{"08:00:00", "08:00:01", "日期模式", "2024-3-5", "2024-3-5", ""}));
    const TimTaskPoint_ task = storedTask(0);
    QCOMPARE(task.statime, 28800u);
    QCOMPARE(task.endtime, 28801u);
    QVERIFY(task.tuesday);
    QCOMPARE(task.ttEnable, std::uint8_t{1});
}

void TimTaskTest::saveRefusesWithTheFiveMessages() {
    TaskEnvironment env;
    RecordingPrompt prompt;
    CTimTaskDlg dialog(nullptr, &prompt);
    dialog.OnInitDialog();
    dialog.show();

    QTest::mouseClick(dialog.addTaskButton(), Qt::LeftButton);
    FormInput input;
    input.startTime = QTime(9, 0, 0);
    input.endTime = QTime(9, 0, 0);
    fill(dialog, input);
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
    input.startTime = QTime(9, 0, 1);
    fill(dialog, input);
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
    input = FormInput{};
    input.name.clear();
    fill(dialog, input);
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
    input = FormInput{};
    input.start = QDate(2024, 3, 6);
    fill(dialog, input);
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
    input = FormInput{};
    input.type = 1;
    input.start = QDate(2024, 3, 6);  // dates do not matter in week mode
    fill(dialog, input);
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
    QCOMPARE(prompt.messages, (std::vector<std::string>{
                                  "开始时间要小于结束时间!", "开始时间要小于结束时间!",
                                  "名称不能为空!", "开始日期不能大于结束日期!", "请选择星期!"}));
    QCOMPARE(GetTTPointCount(), 0);
    QCOMPARE(dialog.editMode(), static_cast<int>(CTimTaskDlg::EditAdding));  // still adding

    // Editing with the selected task gone from the store: the first message.
    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    addTask(dialog, FormInput{});
    clickRow(dialog.taskList(), 0);
    QTest::mouseClick(dialog.editTaskButton(), Qt::LeftButton);
    RemoveTTPointByIdx(0);
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
    QCOMPARE(prompt.messages.back(), std::string("编辑状态下未选择选项!"));
    QCOMPARE(GetTTPointCount(), 0);
}

void TimTaskTest::editThenSaveKeepsNumberAndPositionAndEnables() {
    TaskEnvironment env(kHandEdited);
    const std::vector<int> numbers = storeNumbers();
    QCOMPARE(numbers.size(), std::size_t{4});
    {
        TimTaskGuard lock;
        GetTTPointByIndex(1).runState = kTaskEnded;
    }
    RecordingPrompt prompt;
    CTimTaskDlg dialog(nullptr, &prompt);
    dialog.OnInitDialog();
    dialog.show();
    QCOMPARE(columnTexts(*dialog.taskList(), CTimTaskDlg::ColEnabled),
             (QStringList{"启用", "禁用", "启用", "启用"}));

    // The disabled second task: select, Edit, Save without changes.
    clickRow(dialog.taskList(), 1);
    QCOMPARE(dialog.selectedTaskIndex(), 1);
    QCOMPARE(dialog.nameEdit()->text(), QStringLiteral("Off"));
    QTest::mouseClick(dialog.editTaskButton(), Qt::LeftButton);
    QCOMPARE(dialog.editMode(), static_cast<int>(CTimTaskDlg::EditEditing));
    const std::string before = env.fileText();
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
    QVERIFY(prompt.messages.empty());

    QCOMPARE(storeNumbers(), numbers);
    const TimTaskPoint_ task = storedTask(1);
    QCOMPARE(task.timID, numbers[1]);
    QCOMPARE(GetTimNameUtf8(task), std::string("Off"));
    QCOMPARE(task.ttEnable, std::uint8_t{1});
    QCOMPARE(task.runState, std::uint8_t{kTaskIdle});
    QCOMPARE(task.staMonth, std::uint8_t{1});
    QCOMPARE(task.endDay, std::uint8_t{31});
    QCOMPARE(dialog.taskList()->itemText(1, CTimTaskDlg::ColNumber), QString::number(numbers[1]));
    QCOMPARE(dialog.taskList()->itemText(1, CTimTaskDlg::ColEnabled), QStringLiteral("启用"));
    // The section was written again with the enabled flag.
    QVERIFY(before.find("[Timing_2]\ntimName=Off\nttEnable=0") != std::string::npos);
    QVERIFY(env.fileText().find("[Timing_2]\ntimName=Off\nttEnable=1") != std::string::npos);
    QCOMPARE(dialog.editMode(), static_cast<int>(CTimTaskDlg::EditNone));
    QVERIFY(!dialog.saveButton()->isEnabled());
}

void TimTaskTest::loadingShowsTheTasksOwnWeekdayBoxes() {
    TaskEnvironment env(kHandEdited);
    CTimTaskDlg dialog(nullptr, nullptr);
    dialog.OnInitDialog();
    dialog.show();
    clickRow(dialog.taskList(), 0);
    QCOMPARE(tickedDays(dialog), QStringLiteral("0010000"));  // only 周二
    QCOMPARE(dialog.typeCombo()->currentIndex(), 1);
    QVERIFY(dialog.weekdayBox(2)->isVisible());
    QVERIFY(!dialog.startDateEdit()->isVisible());
    QCOMPARE(dialog.startTimeEdit()->time(), QTime(1, 0, 0));
    QCOMPARE(dialog.endTimeEdit()->time(), QTime(2, 0, 0));
    QCOMPARE(columnTexts(*dialog.deviceList(), 0), QStringList{"5"});
    QCOMPARE(dialog.devices().at(0).devLED[0], std::uint8_t{1});
    QCOMPARE(dialog.devices().at(0).devLED[1], std::uint8_t{0});
    QCOMPARE(dialog.taskList()->itemText(0, CTimTaskDlg::ColWeekdays), QStringLiteral("二"));
    // Another task: its own boxes replace the first one's.
    clickRow(dialog.taskList(), 3);
    QCOMPARE(tickedDays(dialog), QStringLiteral("0100000"));
}

void TimTaskTest::unshowableDatesAndTimesAreListedAndSelectable() {
    TaskEnvironment env(kHandEdited);
    RecordingPrompt prompt;
    CTimTaskDlg dialog(nullptr, &prompt);
    dialog.OnInitDialog();
    dialog.show();
    QCOMPARE(dialog.taskList()->rowCount(), 4);
    const QStringList broken = tooltest::rowTexts(*dialog.taskList(), 2);
    QCOMPARE(broken.mid(1, 6),
             (QStringList{"Broken", "25:00:00", "27:46:40", "日期模式", "0-13-40", "0-0-0"}));
    const QStringList odd = tooltest::rowTexts(*dialog.taskList(), 3);
    QCOMPARE(odd.mid(4, 4), (QStringList{"7", "0-0-0", "0-0-0", "一"}));

    clickRow(dialog.taskList(), 2);
    QCOMPARE(dialog.selectedTaskIndex(), 2);
    QCOMPARE(dialog.nameEdit()->text(), QStringLiteral("Broken"));
    QCOMPARE(dialog.startDateEdit()->date(), QDate(1900, 1, 1));
    QCOMPARE(dialog.endDateEdit()->date(), QDate(1900, 1, 1));
    QCOMPARE(dialog.startTimeEdit()->time(), QTime(23, 59, 59));
    QCOMPARE(dialog.endTimeEdit()->time(), QTime(23, 59, 59));
    clickRow(dialog.taskList(), 3);
    QCOMPARE(dialog.typeCombo()->currentIndex(), 0);  // an unknown type shows as date mode
    QVERIFY(dialog.editTaskButton()->isEnabled());
}

void TimTaskTest::buttonStatesFollowTheEditMode() {
    TaskEnvironment env(kHandEdited);
    CTimTaskDlg dialog(nullptr, nullptr);
    dialog.OnInitDialog();
    dialog.show();
    const auto enabled = [&] {
        QString s;
        for (QWidget* w : std::initializer_list<QWidget*>{
                 dialog.addTaskButton(), dialog.editTaskButton(), dialog.cancelButton(),
                 dialog.saveButton(), dialog.deleteTaskButton(), dialog.typeCombo(),
                 dialog.addDeviceButton(), dialog.removeDeviceButton(), dialog.enableButton(),
                 dialog.disableButton(), dialog.nameEdit(), dialog.startTimeEdit()}) {
            s += w->isEnabled() ? u'1' : u'0';
        }
        return s;
    };
    QCOMPARE(enabled(), QStringLiteral("100000001111"));         // 0: idle
    QTest::mouseClick(dialog.editTaskButton(), Qt::LeftButton);  // disabled: nothing
    QCOMPARE(dialog.editMode(), static_cast<int>(CTimTaskDlg::EditNone));
    clickRow(dialog.taskList(), 0);
    QCOMPARE(enabled(), QStringLiteral("110010001111"));  // 3: task selected
    QTest::mouseClick(dialog.addTaskButton(), Qt::LeftButton);
    QCOMPARE(enabled(), QStringLiteral("001101111111"));  // 1: adding
    QCOMPARE(dialog.deviceList()->rowCount(), 0);
    QCOMPARE(dialog.nameEdit()->text(), QStringLiteral("Tue"));  // the fields keep their text
    clickRow(dialog.taskList(), 1);  // selecting while adding: state 3, Save disabled
    QCOMPARE(enabled(), QStringLiteral("110010001111"));
    QCOMPARE(dialog.editMode(), static_cast<int>(CTimTaskDlg::EditAdding));
    QTest::mouseClick(dialog.editTaskButton(), Qt::LeftButton);
    QCOMPARE(enabled(), QStringLiteral("001101111111"));  // 2: editing
    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    QCOMPARE(enabled(), QStringLiteral("100000001111"));
    QCOMPARE(dialog.editMode(), static_cast<int>(CTimTaskDlg::EditNone));
}

void TimTaskTest::enableAndDisableChangeTheRowAndTheFile() {
    TaskEnvironment env(kHandEdited);
    CTimTaskDlg dialog(nullptr, nullptr);
    dialog.OnInitDialog();
    dialog.show();
    QTest::mouseClick(dialog.disableButton(), Qt::LeftButton);  // nothing selected: nothing
    QCOMPARE(storedTask(0).ttEnable, std::uint8_t{1});
    clickRow(dialog.taskList(), 0);
    QTest::mouseClick(dialog.disableButton(), Qt::LeftButton);
    QCOMPARE(storedTask(0).ttEnable, std::uint8_t{0});
    QCOMPARE(dialog.taskList()->itemText(0, CTimTaskDlg::ColEnabled), QStringLiteral("禁用"));
    QCOMPARE(dialog.taskList()->itemText(0, CTimTaskDlg::ColHiddenEnabled), QStringLiteral("0"));
    QVERIFY(env.fileText().find("[Timing_1]\ntimName=Tue\nttEnable=0") != std::string::npos);
    clickRow(dialog.taskList(), 1);
    QTest::mouseClick(dialog.enableButton(), Qt::LeftButton);
    QCOMPARE(storedTask(1).ttEnable, std::uint8_t{1});
    QCOMPARE(dialog.taskList()->itemText(1, CTimTaskDlg::ColEnabled), QStringLiteral("启用"));
    QCOMPARE(dialog.taskList()->itemText(1, CTimTaskDlg::ColHiddenEnabled), QStringLiteral("1"));
    QVERIFY(env.fileText().find("[Timing_2]\ntimName=Off\nttEnable=1") != std::string::npos);
}

void TimTaskTest::deletingTheSecondOfThreeKeepsNumbersAndFillsTheGap() {
    TaskEnvironment env;
    CTimTaskDlg dialog(nullptr, nullptr);
    dialog.setConfirm([](const QString&) { return true; });  // the question says yes
    dialog.OnInitDialog();
    dialog.show();
    for (const char* name : {"one", "two", "three"}) {
        FormInput input;
        input.name = QString::fromLatin1(name);
        addTask(dialog, input);
    }
    QCOMPARE(columnTexts(*dialog.taskList(), 0), (QStringList{"1", "2", "3"}));
    QTest::mouseClick(dialog.deleteTaskButton(), Qt::LeftButton);  // disabled: nothing
    QCOMPARE(GetTTPointCount(), 3);
    clickRow(dialog.taskList(), 1);
    QTest::mouseClick(dialog.deleteTaskButton(), Qt::LeftButton);
    QCOMPARE(columnTexts(*dialog.taskList(), 0), (QStringList{"1", "3"}));
    QCOMPARE(columnTexts(*dialog.taskList(), 1), (QStringList{"one", "three"}));
    QVERIFY(env.fileText().find("ttCount=2") != std::string::npos);
    FormInput input;
    input.name = QStringLiteral("four");
    addTask(dialog, input);
    QCOMPARE(columnTexts(*dialog.taskList(), 0), (QStringList{"1", "3", "2"}));
    QCOMPARE(storeNumbers(), (std::vector<int>{1, 3, 2}));
}

void TimTaskTest::addingDevicesAppendsThePickersNewIdsAllOn() {
    TaskEnvironment env;
    tooltest::LinkedRegistry link(env.dir().path().string());
    QVERIFY(link.started);
    QVERIFY(link.connectInOrder({7, 3, 5}));

    CTimTaskDlg dialog(nullptr, nullptr);
    dialog.OnInitDialog();
    dialog.show();
    QTest::mouseClick(dialog.addTaskButton(), Qt::LeftButton);
    // First the task gets device 5 ...
    {
        tooltest::ModalWatch watch([](QWidget* modal) {
            auto* picker = qobject_cast<CAddTimDeviceDlg*>(modal);
            QVERIFY(picker);
            consoleui::CListCtrlWG* list = picker->deviceList();
            QCOMPARE(columnTexts(*list, 0), (QStringList{"7", "3", "5"}));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                              list->cellRect(2, 2).center());
            QTest::mouseClick(picker->okButton(), Qt::LeftButton);
        });
        QTest::mouseClick(dialog.addDeviceButton(), Qt::LeftButton);
        QVERIFY(watch.seen());
    }
    QCOMPARE(columnTexts(*dialog.deviceList(), 0), QStringList{"5"});
    dialog.onOutletClicked(0, 4);  // device 5 keeps its own pattern when others are added
    // ... then 7 and 3: the picker offers them in registration order and returns 3, 5, 7.
    QStringList offered;
    {
        tooltest::ModalWatch watch([&offered](QWidget* modal) {
            auto* picker = qobject_cast<CAddTimDeviceDlg*>(modal);
            QVERIFY(picker);
            consoleui::CListCtrlWG* list = picker->deviceList();
            offered = columnTexts(*list, 0);
            for (int row = 0; row < list->rowCount(); ++row) {
                QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                                  list->cellRect(row, 2).center());
            }
            QTest::mouseClick(picker->okButton(), Qt::LeftButton);
        });
        QTest::mouseClick(dialog.addDeviceButton(), Qt::LeftButton);
        QVERIFY(watch.seen());
    }
    QCOMPARE(offered, (QStringList{"7", "3"}));
    QCOMPARE(columnTexts(*dialog.deviceList(), 0), (QStringList{"5", "3", "7"}));
    QCOMPARE(columnTexts(*dialog.deviceList(), 1), (QStringList{"SIM5", "SIM3", "SIM7"}));
    QCOMPARE(stripIcons(*dialog.deviceList(), 1), kAllOn);
    QCOMPARE(stripIcons(*dialog.deviceList(), 2), kAllOn);
    QCOMPARE(dialog.deviceList()->stripIcon(0, 4), consoleui::kIconLedOff);

    // A cancelled picker adds nothing.
    {
        tooltest::ModalWatch watch([](QWidget* modal) {
            auto* picker = qobject_cast<CAddTimDeviceDlg*>(modal);
            QVERIFY(picker);
            QCOMPARE(picker->deviceList()->rowCount(), 0);  // every device is held
            QTest::mouseClick(picker->cancelButton(), Qt::LeftButton);
        });
        QTest::mouseClick(dialog.addDeviceButton(), Qt::LeftButton);
        QVERIFY(watch.seen());
    }
    QCOMPARE(dialog.deviceList()->rowCount(), 3);

    FormInput input;
    input.name = QStringLiteral("devices");
    fill(dialog, input);
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
    const TimTaskPoint_ task = storedTask(0);
    QCOMPARE(task.devCount, std::uint16_t{3});
    QCOMPARE(task.devList[1].devID, std::uint16_t{3});
    QCOMPARE(task.devList[0].devLED[4], std::uint8_t{0});
    QCOMPARE(task.devList[0].devLED[5], std::uint8_t{1});
}

void TimTaskTest::unregisteredDeviceShowsAnEmptyName() {
    TaskEnvironment env;
    tooltest::registerDevice(5, "Rack-5");
    tooltest::registerDevice(6, "Rack-6");
    TimTaskPoint_ task;
    task.timID = 1;
    SetTimNameUtf8(task, "names");
    task.devList = {DeviceOnOff_{5, {}}, DeviceOnOff_{9, {}}, DeviceOnOff_{6, {}}};
    task.devCount = 3;
    PlusTTPoint(task);
    CTimTaskDlg dialog(nullptr, nullptr);
    dialog.OnInitDialog();
    dialog.show();
    clickRow(dialog.taskList(), 0);
    QCOMPARE(columnTexts(*dialog.deviceList(), 1), (QStringList{"Rack-5", "", "Rack-6"}));
    // Device 6 goes offline (the receive path takes it out of the registry).
    RemoveDevFromObjDevInfoMap(6);
    RemoveFromDevArray(6);
    clickRow(dialog.taskList(), 0);  // same row: no new selection, names as they were
    QCOMPARE(columnTexts(*dialog.deviceList(), 1), (QStringList{"Rack-5", "", "Rack-6"}));
    dialog.selectTask(0);
    QCOMPARE(columnTexts(*dialog.deviceList(), 1), (QStringList{"Rack-5", "", ""}));
}

void TimTaskTest::outletDoubleClickAndDeviceRemovalKeepTheDotsRight() {
    TaskEnvironment env;
    TimTaskPoint_ task;
    task.timID = 1;
    SetTimNameUtf8(task, "dots");
    DeviceOnOff_ first{1, {}};
    DeviceOnOff_ second{2, {}};
    DeviceOnOff_ third{3, {}};
    std::fill(std::begin(third.devLED), std::end(third.devLED), std::uint8_t{1});
    second.devLED[15] = 1;
    task.devList = {first, second, third};
    task.devCount = 3;
    PlusTTPoint(task);
    CTimTaskDlg dialog(nullptr, nullptr);
    dialog.OnInitDialog();
    dialog.show();
    clickRow(dialog.taskList(), 0);
    consoleui::CListCtrlWG* list = dialog.deviceList();
    QCOMPARE(list->stripIcon(1, 15), consoleui::kIconLedOn);
    QTest::mouseClick(dialog.editTaskButton(), Qt::LeftButton);

    // A double-click on the third dot of the first row (squares of side 15 - 2 = 13).
    const QRect cell = list->cellRect(0, CTimTaskDlg::ColOutlets);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                       cell.topLeft() + QPoint(2 * 13 + 6, 6));
    QTRY_COMPARE(dialog.devices()[0].devLED[2], std::uint8_t{1});
    QCOMPARE(list->stripIcon(0, 2), consoleui::kIconLedOn);
    QCOMPARE(dialog.devices()[0].devLED[1], std::uint8_t{0});
    dialog.post(platform::WM_LED_CELL_CLICKED, 0x10000 | 0, 0x100 | 2);  // high bits ignored
    QTRY_COMPARE(dialog.devices()[0].devLED[2], std::uint8_t{0});
    dialog.onOutletClicked(7, 0);   // no such row: nothing
    dialog.onOutletClicked(0, 16);  // no such outlet: nothing

    // Removing the first device: the rows move up and each shows its own dots.
    clickRow(list, 0);
    QCOMPARE(dialog.selectedDeviceIndex(), 0);
    QTest::mouseClick(dialog.removeDeviceButton(), Qt::LeftButton);
    QCOMPARE(columnTexts(*list, 0), (QStringList{"2", "3"}));
    QCOMPARE(list->stripIcon(0, 15), consoleui::kIconLedOn);
    QCOMPARE(list->stripIcon(0, 0), consoleui::kIconLedOff);
    QCOMPARE(stripIcons(*list, 1), kAllOn);
    // The remembered index now names the former third row; beyond the rows nothing happens.
    dialog.selectDevice(5);
    QTest::mouseClick(dialog.removeDeviceButton(), Qt::LeftButton);
    QCOMPARE(list->rowCount(), 2);
}

void TimTaskTest::runStatesRefreshOnTheTimer() {
    TaskEnvironment env(kHandEdited);
    const std::vector<int> numbers = storeNumbers();
    CTimTaskDlg dialog(nullptr, nullptr);
    dialog.OnInitDialog();
    dialog.show();
    QCOMPARE(columnTexts(*dialog.taskList(), CTimTaskDlg::ColRunState),
             (QStringList{"空闲", "空闲", "空闲", "空闲"}));
    dialog.runStateTimer().setInterval(10);
    {
        TimTaskGuard lock;
        GetTTPointByIndex(2).runState = kTaskRunning;
    }
    QTRY_COMPARE(dialog.taskList()->itemText(2, CTimTaskDlg::ColRunState), QStringLiteral("运行"));
    QCOMPARE(dialog.taskList()->itemText(2, CTimTaskDlg::ColHiddenRunState), QStringLiteral("1"));
    {
        TimTaskGuard lock;
        GetTTPointByIndex(2).runState = kTaskEnded;
    }
    QTRY_COMPARE(dialog.taskList()->itemText(2, CTimTaskDlg::ColHiddenRunState),
                 QStringLiteral("2"));
    QCOMPARE(dialog.taskList()->itemText(2, CTimTaskDlg::ColRunState), QStringLiteral("空闲"));
    QCOMPARE(dialog.taskList()->itemText(0, CTimTaskDlg::ColRunState), QStringLiteral("空闲"));
    QCOMPARE(static_cast<int>(numbers.size()), dialog.taskList()->rowCount());
}

void TimTaskTest::savedFileIsWhatTheStoreLoadsBack() {
    TaskEnvironment env;
    tooltest::registerDevice(12, "Rack-12");
    CTimTaskDlg dialog(nullptr, nullptr);
    dialog.OnInitDialog();
    dialog.show();
    FormInput week;
    week.name = QStringLiteral("一个很长很长很长很长很长很长的任务名称超过十九个字");
    week.type = 1;
    week.days = {0, 6};
    week.startTime = QTime(23, 0, 0);
    week.endTime = QTime(23, 59, 59);
    QTest::mouseClick(dialog.addTaskButton(), Qt::LeftButton);
    {
        tooltest::ModalWatch watch([](QWidget* modal) {
            auto* picker = qobject_cast<CAddTimDeviceDlg*>(modal);
            QVERIFY(picker);
            picker->toggleRow(0);
            picker->accept();
        });
        QTest::mouseClick(dialog.addDeviceButton(), Qt::LeftButton);
        QVERIFY(watch.seen());
    }
    dialog.onOutletClicked(0, 0);
    fill(dialog, week);
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
    addTask(dialog, FormInput{});

    const std::vector<TimTaskPoint_> loaded = ParseTimTasks(env.fileText(), 1);
    QCOMPARE(loaded.size(), std::size_t{2});
    TimTaskGuard lock;
    const TimTaskArray& tasks = GetTTPointArray();
    for (std::size_t i = 0; i < loaded.size(); ++i) {
        const TimTaskPoint_& a = loaded[i];
        const TimTaskPoint_& b = tasks[i];
        QCOMPARE(GetTimName(a), GetTimName(b));
        QCOMPARE(a.ttEnable, b.ttEnable);
        QCOMPARE(a.ttType, b.ttType);
        QCOMPARE(a.staYear, b.staYear);
        QCOMPARE(a.staMonth, b.staMonth);
        QCOMPARE(a.staDay, b.staDay);
        QCOMPARE(a.endYear, b.endYear);
        QCOMPARE(a.endDay, b.endDay);
        for (int day = 0; day < 7; ++day) {
            QCOMPARE(TaskRunsOnWeekday(a, day), TaskRunsOnWeekday(b, day));
        }
        QCOMPARE(a.statime, b.statime);
        QCOMPARE(a.endtime, b.endtime);
        QCOMPARE(a.devCount, b.devCount);
        for (std::size_t d = 0; d < a.devList.size(); ++d) {
            QCOMPARE(a.devList[d].devID, b.devList[d].devID);
            QVERIFY(std::equal(std::begin(a.devList[d].devLED), std::end(a.devList[d].devLED),
                               std::begin(b.devList[d].devLED)));
        }
    }
    // The name is cut to the 19 characters the record holds.
    QCOMPARE(GetTimName(tasks[0]).size(), std::size_t{19});
    QVERIFY(tasks[0].sunday && tasks[0].saturday && !tasks[0].monday);
    QCOMPARE(tasks[0].endtime, 86399u);
    QCOMPARE(tasks[0].devList.at(0).devID, std::uint16_t{12});
    QVERIFY(env.fileText().find("devLED_1=0111111111111111") != std::string::npos);
    QVERIFY(env.fileText().find("ttCount=2") != std::string::npos);
}

void TimTaskTest::formTakesInputOnlyWhileAddingOrEditing() {
    TaskEnvironment env(kHandEdited);
    CTimTaskDlg dialog(nullptr, nullptr);
    dialog.OnInitDialog();
    dialog.show();
    const auto locked = [&] {
        return dialog.nameEdit()->isReadOnly() && dialog.startTimeEdit()->isReadOnly() &&
               dialog.startDateEdit()->isReadOnly() && !dialog.weekdayBox(2)->isEnabled() &&
               !dialog.skipHolidaysBox()->isEnabled() && !dialog.allOnButton()->isEnabled();
    };
    QVERIFY(locked());
    clickRow(dialog.taskList(), 0);  // "Tue": device 5, outlets 1010...
    QVERIFY(locked());
    QTest::keyClicks(dialog.nameEdit(), "x");
    QCOMPARE(dialog.nameEdit()->text(), QStringLiteral("Tue"));
    dialog.onOutletClicked(0, 0);
    QCOMPARE(dialog.devices()[0].devLED[0], std::uint8_t{1});
    for (QPushButton* start : {dialog.editTaskButton(), dialog.addTaskButton()}) {
        dialog.selectTask(0);
        QTest::mouseClick(start, Qt::LeftButton);
        QVERIFY(!dialog.nameEdit()->isReadOnly());
        QVERIFY(!dialog.startTimeEdit()->isReadOnly());
        QVERIFY(dialog.weekdayBox(2)->isEnabled());
        QVERIFY(dialog.skipHolidaysBox()->isEnabled());
        QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
        QVERIFY(locked());
    }
    dialog.selectTask(0);
    QTest::mouseClick(dialog.editTaskButton(), Qt::LeftButton);
    dialog.onOutletClicked(0, 0);
    QCOMPARE(dialog.devices()[0].devLED[0], std::uint8_t{0});
}

void TimTaskTest::escapeAsksBeforeDroppingUnsavedEdits() {
    TaskEnvironment env(kHandEdited);
    CTimTaskDlg dialog(nullptr, nullptr);
    QStringList questions;
    bool answer = false;
    dialog.setConfirm([&](const QString& q) {
        questions << q;
        return answer;
    });
    dialog.OnInitDialog();
    const QString question = QStringLiteral("任务的修改尚未保存,确定要放弃吗?");
    struct Case {
        QPushButton* start;
        std::function<void()> edit;  // empty: nothing changed
    };
    const std::vector<Case> cases{
        {dialog.editTaskButton(), {}},
        {dialog.addTaskButton(), {}},
        {dialog.editTaskButton(), [&] { QTest::keyClicks(dialog.nameEdit(), "x"); }},
        {dialog.addTaskButton(), [&] { dialog.weekdayBox(3)->click(); }},
        {dialog.editTaskButton(), [&] { dialog.onOutletClicked(0, 1); }},
    };
    for (const Case& c : cases) {
        dialog.show();
        dialog.selectTask(0);
        QTest::mouseClick(c.start, Qt::LeftButton);
        if (c.edit) c.edit();
        questions.clear();
        answer = false;
        QTest::keyClick(&dialog, Qt::Key_Escape);
        if (!c.edit) {
            QVERIFY(questions.isEmpty());
            QVERIFY(!dialog.isVisible());
            continue;
        }
        QCOMPARE(questions, QStringList{question});
        QVERIFY(dialog.isVisible());  // "No" keeps the edits
        QVERIFY(dialog.hasUnsavedChanges());
        answer = true;
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
    }
}

QTEST_MAIN(TimTaskTest)
void TimTaskTest::cancelDeleteSelectionsAndOutletShortcuts() {
    TaskEnvironment env;
    tooltest::registerDevice(4, "Dev4");
    tooltest::registerDevice(6, "Dev6");
    RecordingPrompt prompt;
    CTimTaskDlg dialog(nullptr, &prompt);
    dialog.OnInitDialog();
    dialog.show();
    FormInput input;
    input.name = QStringLiteral("甲");
    addTask(dialog, input);
    input.name = QStringLiteral("乙");
    addTask(dialog, input);

    // Cancel shows the stored task again, not the dropped edits.
    clickRow(dialog.taskList(), 0);
    QTest::mouseClick(dialog.editTaskButton(), Qt::LeftButton);
    dialog.nameEdit()->setText(QStringLiteral("改过"));
    dialog.skipHolidaysBox()->setChecked(true);
    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    QCOMPARE(dialog.nameEdit()->text(), QStringLiteral("甲"));
    QVERIFY(!dialog.skipHolidaysBox()->isChecked());

    // Deleting asks first; No keeps the task, Yes deletes it and clears the selection.
    QStringList asked;
    bool answer = false;
    dialog.setConfirm([&](const QString& question) {
        asked << question;
        return answer;
    });
    clickRow(dialog.taskList(), 1);
    QTest::mouseClick(dialog.deleteTaskButton(), Qt::LeftButton);
    QCOMPARE(asked, QStringList{QStringLiteral("确定要删除定时任务[乙]吗?")});
    QCOMPARE(GetTTPointCount(), 2);
    answer = true;
    QTest::mouseClick(dialog.deleteTaskButton(), Qt::LeftButton);
    QCOMPARE(GetTTPointCount(), 1);
    QCOMPARE(dialog.selectedTaskIndex(), -1);

    // Edit: the picker's select-all adds both devices; all-off and all-on act on the device
    // selected; Save stores the holiday opt-in and clears the selections.
    clickRow(dialog.taskList(), 0);
    QTest::mouseClick(dialog.editTaskButton(), Qt::LeftButton);
    {
        tooltest::ModalWatch watch([](QWidget* modal) {
            auto* picker = qobject_cast<CAddTimDeviceDlg*>(modal);
            QVERIFY(picker);
            QTest::mouseClick(picker->selectAllButton(), Qt::LeftButton);
            QTest::mouseClick(picker->okButton(), Qt::LeftButton);
        });
        QTest::mouseClick(dialog.addDeviceButton(), Qt::LeftButton);
        QVERIFY(watch.seen());
    }
    QCOMPARE(dialog.devices().size(), std::size_t{2});
    clickRow(dialog.deviceList(), 1);
    QTest::mouseClick(dialog.allOffButton(), Qt::LeftButton);
    const QList<int> offIcons(16, consoleui::kIconLedOff);
    const QList<int> onIcons(16, consoleui::kIconLedOn);
    QCOMPARE(stripIcons(*dialog.deviceList(), 1), offIcons);
    QCOMPARE(stripIcons(*dialog.deviceList(), 0), onIcons);
    dialog.skipHolidaysBox()->setChecked(true);
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
    QVERIFY(prompt.messages.empty());
    const TimTaskPoint_ saved = storedTask(0);
    QVERIFY(saved.skipHolidays);
    QCOMPARE(saved.devList.size(), std::size_t{2});
    QCOMPARE(int{saved.devList[1].devLED[0]} + int{saved.devList[1].devLED[15]}, 0);
    QCOMPARE(int{saved.devList[0].devLED[15]}, 1);
    QCOMPARE(dialog.selectedTaskIndex(), -1);
    QCOMPARE(dialog.selectedDeviceIndex(), -1);

    // Loading a task forgets the device selected before; all-on then changes nothing.
    clickRow(dialog.taskList(), 0);
    clickRow(dialog.deviceList(), 1);
    QCOMPARE(dialog.selectedDeviceIndex(), 1);
    dialog.selectTask(0);
    QCOMPARE(dialog.selectedDeviceIndex(), -1);
    QTest::mouseClick(dialog.allOnButton(), Qt::LeftButton);
    QCOMPARE(stripIcons(*dialog.deviceList(), 1), offIcons);
}

#include "tim_task_test.moc"
