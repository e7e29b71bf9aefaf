// The run panel of the main window on the real core and link with simulated sequencers:
// progress of a serial run, its step time-out, cancel, the question before switching a group
// off, id-conflict notices, and Qt's own texts in Chinese.
#include <QCalendarWidget>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <memory>

#include "consolecore/console_session.h"
#include "consoleui/list_ctrl_wg.h"
#include "consoleui/qt_prompt.h"
#include "consoleui/qt_translations.h"
#include "consoleui/run_panel.h"
#include "consoleui/select_group_dlg.h"
#include "consoleui/vantrel_dlg.h"
#include "lanwire/lanwire.h"
#include "lanwire/lanwire_options.h"
#include "logbase/log_codes.h"
#include "logbase/logbase.h"
#include "modal_helper.h"
#include "platform/messages.h"
#include "platform/prompt.h"
#include "protocol/device_frames.h"
#include "protocol/frame_types.h"
#include "simtcp/sim_fleet.h"
#include "testkit/recording_prompt.h"
#include "testkit/wait_for.h"

using namespace std::chrono_literals;
using consoleui::CVantrelDlg;

namespace {

using SilentPrompt = testkit::RecordingPrompt;

bool logHas(int type, int subType, const std::string& prefix) {
    LogObLockLogbase();
    auto statement =
        LogObQueryStatement("SELECT LogType, LogChildType, LogContent FROM Log ORDER BY rowid");
    LogObUnlockLogbase();
    while (statement && statement->NextRow()) {
        if (std::stoi(statement->ValueUtf8(0)) == type &&
            std::stoi(statement->ValueUtf8(1)) == subType &&
            statement->ValueUtf8(2).rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

class Console {
public:
    explicit Console(std::chrono::milliseconds stepTimeout) {
        LanwireOptions link;
        link.programFolder = m_folder.path().string() + "/";
        SetLanwireOptions(link);
        consolecore::SessionOptions options;
        options.programFolder = m_folder.path().string() + "/";
        options.taskFolder = m_folder.file("TimingTask");
        options.port = 0;
        consolecore::beginApplication();
        window = std::make_unique<CVantrelDlg>(options, &prompt);
        window->OnInitDialog();
        auto switching = window->switching().options();
        switching.stepTimeout = stepTimeout;
        window->switching().configure(switching);
        window->show();
        fleet = std::make_unique<simtcp::SimFleet>("127.0.0.1", GetLanwirePort());
    }
    ~Console() {
        fleet->stop();
        window.reset();
        consolecore::endApplication();
        ReleaseLogbaseModule();
    }
    // Serial (mode 1) or parallel (mode 0) devices; `confirms` false never reports its step.
    bool connect(std::uint16_t id, std::uint8_t group, std::uint8_t mode, std::uint8_t number,
                 bool on, bool confirms = true) {
        auto config = simtcp::makeDeviceConfig(fleet->size(), id);
        config.group = group;
        config.mode = mode;
        config.number = number;
        config.onOff = on;
        simtcp::Knobs knobs;
        knobs.stepDelay = 1ms;
        knobs.reportStepDone = confirms;
        fleet->add(config, knobs).connect();
        return QTest::qWaitFor([&] { return window->deviceTable().findRow(id) >= 0; }, 20000);
    }
    // Clicks a switching button and picks group row `groupRow` in the selection dialog.
    void startRun(const QString& button, int groupRow, std::function<void()> afterOk = {}) {
        uitest::ModalWatch watch([button, groupRow, afterOk](QWidget* modal) {
            auto* dialog = qobject_cast<consoleui::GroupSelectDialog*>(modal);
            QVERIFY(dialog);
            // The dialog says which kind of group it is for.
            QCOMPARE(dialog->kindLabel()->text(),
                     button.left(2) + QStringLiteral("分组 (") + button + QStringLiteral(")"));
            QTest::mouseClick(dialog->groupList()->viewport(), Qt::LeftButton, Qt::NoModifier,
                              dialog->groupList()->cellRect(groupRow, 0).center());
            if (afterOk) afterOk();
            dialog->okButton()->click();
        });
        window->button(button)->click();
        QVERIFY(watch.seen());
    }
    QString panelText() const {
        QStringList texts;
        for (auto* label : window->runPanel()->findChildren<QLabel*>(QStringLiteral("runText")))
            texts << label->text();
        return texts.join('\n');
    }
    QPushButton* cancelButton() const {
        return window->runPanel()->findChild<QPushButton*>(QStringLiteral("cancelRun"));
    }

    SilentPrompt prompt;
    std::unique_ptr<CVantrelDlg> window;
    std::unique_ptr<simtcp::SimFleet> fleet;

private:
    testkit::TempDir m_folder;
};

}  // namespace

class RunPanelTest : public QObject {
    Q_OBJECT
private slots:
    void serialRunShowsProgressThenTheDeviceThatTimedOut();
    void cancelLetsTheCurrentStepFinishAndSendsNothingMore();
    void failedRunStaysUntilDismissedAndMarksItsDevice();
    void groupOffAsksWithTheDevicesInOrder();
    void idConflictIsNoticedOncePerConflict();
    void messageBoxButtonsSpeakChinese();
};

void RunPanelTest::serialRunShowsProgressThenTheDeviceThatTimedOut() {
    Console console(1500ms);
    QVERIFY(console.connect(701, 2, 1, 1, false));
    QVERIFY(console.connect(702, 2, 1, 2, false, false));
    console.startRun(QStringLiteral("串行开"), 1);
    QVERIFY(console.window->runPanel()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(console.panelText().contains(QStringLiteral("正在切换设备702")),
                             20000);
    QVERIFY(console.panelText().startsWith(QStringLiteral("串行开 Link2: 进行中 1/2")));
    QVERIFY(console.cancelButton()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(
        console.panelText().startsWith(QStringLiteral("串行开 Link2: 超时 1/2: 设备702未确认")),
        20000);
    QVERIFY(!console.cancelButton()->isVisible());
    QVERIFY(logHas(logcode::kFailure, logcode::kSerial, "串行开分组2超时:设备702"));
    QVERIFY(logHas(logcode::kRun, logcode::kSerial, "串行开分组2汇总:顺序[701,702],结果:超时"));
    QVERIFY(console.prompt.messages.empty());  // no modal box for the time-out
}

void RunPanelTest::cancelLetsTheCurrentStepFinishAndSendsNothingMore() {
    Console console(60s);
    QVERIFY(console.connect(711, 3, 1, 1, false, false));
    QVERIFY(console.connect(712, 3, 1, 2, false));
    console.startRun(QStringLiteral("串行开"), 2);
    QTRY_VERIFY_WITH_TIMEOUT(console.panelText().contains(QStringLiteral("正在切换设备711")),
                             20000);
    console.cancelButton()->click();
    QVERIFY(console.panelText().contains(QStringLiteral("正在取消")));
    QVERIFY(!console.cancelButton()->isEnabled());
    console.fleet->find(711)->sendStepDone();
    QTRY_VERIFY_WITH_TIMEOUT(
        console.panelText().startsWith(QStringLiteral("串行开 Link3: 已取消 1/2")), 20000);
    QCOMPARE(console.fleet->find(712)->received(protocol::NET_CMD_SERIAL), std::uint64_t(0));
    QVERIFY(logHas(logcode::kRun, logcode::kSerial, "串行开分组3汇总:顺序[711],结果:已取消"));
}

// 完成 fades after the linger; 超时 stays until dismissed. The table marks the device a serial
// run is switching and, once the run failed, the device that did not confirm.
void RunPanelTest::failedRunStaysUntilDismissedAndMarksItsDevice() {
    Console console(800ms);
    // Long enough that the completed run's line is still there when the test looks (it looks
    // every 50 ms, later on a loaded machine), short enough to see it fade.
    console.window->runPanel()->setLinger(1s);
    QVERIFY(console.connect(741, 4, 1, 1, false));
    QVERIFY(console.connect(742, 4, 1, 2, false, false));  // never confirms
    QVERIFY(console.connect(751, 5, 1, 1, false));
    const auto style = [&](std::uint16_t id) {
        return console.window->deviceList()->rowStyle(console.window->deviceTable().findRow(id));
    };
    console.startRun(QStringLiteral("串行开"), 3);
    QTRY_VERIFY_WITH_TIMEOUT(console.panelText().contains(QStringLiteral("正在切换设备742")),
                             20000);
    QCOMPARE(style(742).toolTip, QStringLiteral("正在切换: 串行开 Link4"));
    QVERIFY(style(742).background.isValid());
    QCOMPARE(style(741), consoleui::RowStyle{});
    QTRY_VERIFY_WITH_TIMEOUT(console.panelText().contains(QStringLiteral("超时")), 20000);
    QCOMPARE(style(742).toolTip, QStringLiteral("未确认: 串行开 Link4 超时"));

    // A completed run, ended after the failed one, fades; the failed one is still there.
    console.startRun(QStringLiteral("串行开"), 4);
    QTRY_VERIFY_WITH_TIMEOUT(console.panelText().contains(QStringLiteral("串行开 Link5: 完成")),
                             20000);
    QTRY_VERIFY_WITH_TIMEOUT(!console.panelText().contains(QStringLiteral("Link5")), 20000);
    QVERIFY(console.panelText().startsWith(QStringLiteral("串行开 Link4: 超时")));
    QCOMPARE(style(742).toolTip, QStringLiteral("未确认: 串行开 Link4 超时"));

    auto* dismiss =
        console.window->runPanel()->findChild<QPushButton*>(QStringLiteral("dismissRun"));
    QVERIFY(dismiss && dismiss->isVisible());
    dismiss->click();
    QTRY_VERIFY(console.panelText().isEmpty());
    QCOMPARE(style(742), consoleui::RowStyle{});
}

void RunPanelTest::groupOffAsksWithTheDevicesInOrder() {
    Console console(60s);
    QVERIFY(console.connect(721, 1, 0, 1, true));
    QVERIFY(console.connect(722, 1, 0, 2, true));
    QVERIFY(console.connect(731, 1, 1, 1, true));  // serial group 1
    QVERIFY(console.connect(732, 1, 1, 2, true));
    // A serial run has an order; a parallel one switches its devices together. Names stand
    // beside the ids.
    {
        auto question = std::make_shared<std::unique_ptr<uitest::ModalWatch>>();
        QString text;
        QString order;
        console.startRun(QStringLiteral("串行关"), 0, [&, question] {
            *question = std::make_unique<uitest::ModalWatch>([&](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                QVERIFY(box);
                QCOMPARE(box->windowTitle(), QStringLiteral("确认"));
                text = box->text();
                order = box->informativeText();
                box->reject();
            });
        });
        QVERIFY((*question)->seen());
        QCOMPARE(text, QStringLiteral("确定要关闭Link1的2台设备吗?"));
        QCOMPARE(order, QStringLiteral("切换顺序: 设备732(SIM732) → 设备731(SIM731)"));
    }
    for (const QString& answer : {QStringLiteral("取消"), QStringLiteral("确定")}) {
        auto question = std::make_shared<std::unique_ptr<uitest::ModalWatch>>();
        QString text;
        QString order;
        console.startRun(QStringLiteral("平行关"), 0, [&, question, answer] {
            *question = std::make_unique<uitest::ModalWatch>([&, answer](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                QVERIFY(box);
                text = box->text();
                order = box->informativeText();
                for (auto* button : box->buttons()) {
                    if (button->text() == answer) button->click();
                }
            });
        });
        QVERIFY((*question)->seen());
        QCOMPARE(text, QStringLiteral("确定要关闭Link1的2台设备吗?"));
        QCOMPARE(order, QStringLiteral("设备: 设备722(SIM722), 设备721(SIM721)"));
        if (answer == QStringLiteral("取消")) {
            QCOMPARE(console.fleet->find(722)->received(protocol::NET_CMD_PARALLEL),
                     std::uint64_t(0));
        }
    }
    QVERIFY(console.fleet->find(722)->waitCommand(protocol::NET_CMD_PARALLEL));
    QVERIFY(console.fleet->find(721)->waitCommand(protocol::NET_CMD_PARALLEL));
}

// Registrations the link refuses because their id is online elsewhere reach the panel, once
// per conflict (id and both addresses), without a box.
void RunPanelTest::idConflictIsNoticedOncePerConflict() {
    Console console(60s);
    QVERIFY(console.connect(42, 0, 0, 1, false));  // 127.0.0.2
    QVERIFY(console.connect(43, 0, 0, 1, false));  // 127.0.0.3
    QVERIFY(console.connect(44, 0, 0, 1, false));  // 127.0.0.4, the intruder
    auto& intruder = *console.fleet->find(44);
    for (const std::uint16_t id : {42, 42, 42, 43}) {
        protocol::RegisterPayload claim;
        claim.header.deviceId = id;
        claim.name = "X";
        intruder.sendFrame(protocol::buildRegisterFrame(claim));
    }
    QTRY_COMPARE_WITH_TIMEOUT(console.window->runPanel()->noticeTexts().size(), 2, 20000);
    QVERIFY(console.window->runPanel()->isVisible());
    const QStringList texts = console.window->runPanel()->noticeTexts();
    QVERIFY(texts.contains(
        QStringLiteral("设备ID冲突: 设备42从127.0.0.4注册被拒绝, 该ID已在127.0.0.2在线")));
    QVERIFY(texts.contains(
        QStringLiteral("设备ID冲突: 设备43从127.0.0.4注册被拒绝, 该ID已在127.0.0.3在线")));
    QVERIFY(console.prompt.messages.empty());
}

void RunPanelTest::messageBoxButtonsSpeakChinese() {
    QVERIFY(consoleui::installQtTranslations(*QCoreApplication::instance()));
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    // Qt's own widgets speak Chinese whatever the environment's locale (C.UTF-8 here).
    QCalendarWidget calendar;
    QCOMPARE(calendar.locale().monthName(1), QStringLiteral("一月"));
    QFileDialog files;
    files.setOption(QFileDialog::DontUseNativeDialog);
    const auto* lookIn = files.findChild<QLabel*>(QStringLiteral("lookInLabel"));
    QVERIFY(lookIn);
    QVERIFY(!lookIn->text().contains(QStringLiteral("Look")));
    // Default captions of the message boxes are Chinese too.
    consoleui::QtPrompt prompt(nullptr);
    uitest::ModalWatch watch(
        [](QWidget* modal) { QCOMPARE(modal->windowTitle(), QStringLiteral("提示")); });
    prompt.showMessage("x");
    QVERIFY(watch.seen());
}

QTEST_MAIN(RunPanelTest)
#include "run_panel_test.moc"
