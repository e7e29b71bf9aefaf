// The should-be/is view with simulated sequencers over the real link and the real runner:
// a device whose outlets differ is highlighted, an unregistered one is offline, Apply sends
// the task's pattern and the row turns consistent as the device's status frames arrive.
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "chronrun/chronrun.h"
#include "consoletools/tim_task_state_dlg.h"
#include "consoleui/cell_icons.h"
#include "protocol/console_frames.h"
#include "tim_task_support.h"

using consoletools::CTimTaskStateDlg;

namespace {

TimTaskPoint_ runningTask() {
    TimTaskPoint_ task;
    task.timID = 1;
    SetTimNameUtf8(task, "灯光");
    task.ttEnable = 1;
    task.ttType = kTaskWeekMode;
    task.monday = true;
    task.statime = 8 * 3600;
    task.endtime = 9 * 3600;
    // Already started before the console looked: the scan leaves it alone, only Apply sends.
    task.runState = kTaskRunning;
    for (const auto& [id, outlet] : {std::pair{11, 3}, std::pair{12, 2}, std::pair{99, 1}}) {
        DeviceOnOff_ device;
        device.devID = static_cast<std::uint16_t>(id);
        device.devLED[outlet - 1] = 1;
        task.devList.push_back(device);
    }
    return task;
}

QString cell(const CTimTaskStateDlg& dialog, int row, int column) {
    const QTableWidgetItem* item = dialog.table()->item(row, column);
    return item ? item->text() : QString();
}

// The colour drawn at the centre of outlet `outlet`'s dot in a cell, and the centre colour of
// `icon` drawn at that size: the two are the same when the cell shows the table's dots.
std::pair<QRgb, QRgb> dotCentre(const CTimTaskStateDlg& dialog, int row, int column, int outlet,
                                consoleui::IconHandle icon) {
    QTableWidget* table = dialog.table();
    const QRect rect = table->visualItemRect(table->item(row, column));
    const QImage shot = table->viewport()->grab(rect).toImage();
    const int side = CTimTaskStateDlg::kDotSide;
    const QPoint centre(3 + outlet * (side + 1) + side / 2, (rect.height() - side) / 2 + side / 2);
    const QImage dot = consoleui::iconPixmap(icon).scaled(side, side).toImage();
    return {shot.pixel(centre * shot.devicePixelRatio()), dot.pixel(side / 2, side / 2)};
}

}  // namespace

class TimTaskStateTest : public QObject {
    Q_OBJECT
private slots:
    void mismatchIsShownAndApplyMendsIt();
    void emptyViewSaysWhyAndApplySendsNothing();
};

void TimTaskStateTest::mismatchIsShownAndApplyMendsIt() {
    tooltest::TaskEnvironment env;
    tooltest::LinkedRegistry link(env.dir().path().string());
    QVERIFY(link.started);
    simtcp::DeviceConfig eleven = simtcp::makeDeviceConfig(0, 11);
    eleven.outlets = 0x0001;  // outlet 1 on; the task wants outlet 3 only
    simtcp::DeviceConfig twelve = simtcp::makeDeviceConfig(1, 12);
    twelve.outlets = 0x0002;  // outlet 2, as the task wants
    simtcp::SimDevice& device11 = link.add(eleven);
    link.add(twelve);
    QVERIFY(testkit::waitFor([] { return FindDevice(11) && FindDevice(12); }));
    PlusTTPoint(runningTask());
    tooltest::RunnerClockAt::install({2024, 1, 29, 1, 8, 30, 0});  // Monday, window open
    QVERIFY(InitChronrun());

    CTimTaskStateDlg dialog;
    dialog.show();
    QCOMPARE(dialog.table()->rowCount(), 3);
    const QString want11 = QStringLiteral("○○●○○○○○○○○○○○○○");
    QCOMPARE(cell(dialog, 0, CTimTaskStateDlg::ColId), QStringLiteral("11"));
    QCOMPARE(cell(dialog, 0, CTimTaskStateDlg::ColTask), QStringLiteral("灯光"));
    QCOMPARE(cell(dialog, 0, CTimTaskStateDlg::ColShould), want11);
    QCOMPARE(cell(dialog, 0, CTimTaskStateDlg::ColIs), QStringLiteral("●○○○○○○○○○○○○○○○"));
    QCOMPARE(cell(dialog, 0, CTimTaskStateDlg::ColStatus), QStringLiteral("不一致"));
    QCOMPARE(dialog.table()->item(0, 0)->background().color(), QColor(255, 205, 205));
    QCOMPARE(cell(dialog, 1, CTimTaskStateDlg::ColStatus), QStringLiteral("一致"));
    QCOMPARE(cell(dialog, 2, CTimTaskStateDlg::ColId), QStringLiteral("99"));
    QCOMPARE(cell(dialog, 2, CTimTaskStateDlg::ColStatus), QStringLiteral("离线"));
    QVERIFY(!dialog.emptyLabel()->isVisible());
    for (const auto& [outlet, icon] :
         {std::pair{2, consoleui::kIconLedOn}, std::pair{0, consoleui::kIconLedOff}}) {
        const auto [drawn, wanted] =
            dotCentre(dialog, 0, CTimTaskStateDlg::ColShould, outlet, icon);
        QCOMPARE(QColor(drawn), QColor(wanted));
    }
    if (const QByteArray shot = qgetenv("VANTREL_STATE_VIEW_SHOT"); !shot.isEmpty())
        dialog.grab().save(QString::fromLocal8Bit(shot));

    QTest::mouseClick(dialog.applyMismatchedButton(), Qt::LeftButton);
    QCOMPARE(dialog.resultLabel()->text(), QStringLiteral("已发送到1台设备:11(灯光)"));
    QVERIFY(device11.waitCommand(protocol::NET_CMD_CHANNEL, 16));
    QTRY_COMPARE_WITH_TIMEOUT(cell(dialog, 0, CTimTaskStateDlg::ColStatus), QStringLiteral("一致"),
                              20000);
    QCOMPARE(cell(dialog, 0, CTimTaskStateDlg::ColIs), want11);
    ReleaseChronrun();
    tooltest::RunnerClockAt::uninstall();
}

void TimTaskStateTest::emptyViewSaysWhyAndApplySendsNothing() {
    tooltest::TaskEnvironment env;
    CTimTaskStateDlg dialog;
    dialog.show();
    QCOMPARE(dialog.table()->rowCount(), 0);
    QVERIFY(dialog.emptyLabel()->isVisible());
    QCOMPARE(dialog.emptyLabel()->text(), QStringLiteral("当前没有正在执行的任务"));
    QTest::mouseClick(dialog.applyMismatchedButton(), Qt::LeftButton);
    QCOMPARE(dialog.resultLabel()->text(), QStringLiteral("没有不一致的设备,未发送"));
    QTest::mouseClick(dialog.applySelectedButton(), Qt::LeftButton);
    QCOMPARE(dialog.resultLabel()->text(), QStringLiteral("没有选中设备,未发送"));
}

QTEST_MAIN(TimTaskStateTest)
#include "tim_task_state_test.moc"
