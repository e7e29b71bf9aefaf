// The timed-task device picker on the real registry: registration order, devices without a
// record, ticking twice, sorting, and devices registered by simulated sequencers.
#include <QPushButton>
#include <QTest>

#include "consoletools/add_tim_device_dlg.h"
#include "consoleui/cell_icons.h"
#include "tim_task_support.h"
#include "tool_test_support.h"

using consoletools::CAddTimDeviceDlg;
using tooltest::columnTexts;
using tooltest::registerDevice;
using tooltest::TaskEnvironment;

namespace {

void clickTick(CAddTimDeviceDlg& picker, int row, int column = 2) {
    consoleui::CListCtrlWG* list = picker.deviceList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->cellRect(row, column).center());
}

}  // namespace

class AddTimDeviceTest : public QObject {
    Q_OBJECT
private slots:
    void offersUnheldDevicesInRegistrationOrderAndReturnsSorted();
    void deviceWithoutARecordIsNotOffered();
    void tickingTwiceUnticksAndNothingTickedReturnsTheCallersIds();
    void opensCentredWithItsColumns();
};

void AddTimDeviceTest::offersUnheldDevicesInRegistrationOrderAndReturnsSorted() {
    TaskEnvironment env;
    tooltest::LinkedRegistry link(env.dir().path().string());
    QVERIFY(link.started);
    QVERIFY(link.connectInOrder({7, 3, 5}));

    CAddTimDeviceDlg picker;
    picker.idList = {5};
    picker.OnInitDialog();
    picker.show();
    consoleui::CListCtrlWG* list = picker.deviceList();
    QCOMPARE(columnTexts(*list, 0), (QStringList{"7", "3"}));
    QCOMPARE(columnTexts(*list, 1), (QStringList{"SIM7", "SIM3"}));
    QCOMPARE(columnTexts(*list, 3), (QStringList{"No", "No"}));
    QCOMPARE(list->singleIcon(0, 2), std::optional<int>(consoleui::kIconTickOff));
    clickTick(picker, 0);
    clickTick(picker, 1, 1);  // a click outside the tick column changes nothing
    QCOMPARE(columnTexts(*list, 3), (QStringList{"Yes", "No"}));
    QCOMPARE(list->singleIcon(0, 2), std::optional<int>(consoleui::kIconTickOn));
    clickTick(picker, 1);
    QTest::mouseClick(picker.okButton(), Qt::LeftButton);
    QCOMPARE(picker.result(), static_cast<int>(QDialog::Accepted));
    QCOMPARE(picker.idList, (std::vector<std::uint16_t>{3, 5, 7}));
}

void AddTimDeviceTest::deviceWithoutARecordIsNotOffered() {
    TaskEnvironment env;
    registerDevice(40, "Forty");
    PlusDevtoArray(41);  // in the id list, but no record in the id table
    registerDevice(42, "Forty-two");
    PlusDevtoArray(40);  // the id list may hold an id twice: offered once
    CAddTimDeviceDlg picker;
    picker.OnInitDialog();
    QCOMPARE(columnTexts(*picker.deviceList(), 0), (QStringList{"40", "42"}));
    picker.toggleRow(0);
    picker.toggleRow(1);
    picker.accept();
    QCOMPARE(picker.idList, (std::vector<std::uint16_t>{40, 42}));
}

void AddTimDeviceTest::tickingTwiceUnticksAndNothingTickedReturnsTheCallersIds() {
    TaskEnvironment env;
    registerDevice(300, "A");
    registerDevice(2, "B");
    CAddTimDeviceDlg picker;
    picker.idList = {9, 1000, 4};
    picker.OnInitDialog();
    picker.show();
    clickTick(picker, 0);
    clickTick(picker, 0);
    QCOMPARE(picker.deviceList()->itemText(0, 3), QStringLiteral("No"));
    QCOMPARE(picker.deviceList()->singleIcon(0, 2), std::optional<int>(consoleui::kIconTickOff));
    QTest::mouseClick(picker.okButton(), Qt::LeftButton);
    QCOMPARE(picker.idList, (std::vector<std::uint16_t>{4, 9, 1000}));

    // Cancel: the caller ignores the list, which keeps only what the caller put there.
    CAddTimDeviceDlg cancelled;
    cancelled.idList = {9};
    cancelled.OnInitDialog();
    cancelled.show();
    clickTick(cancelled, 0);
    QTest::mouseClick(cancelled.cancelButton(), Qt::LeftButton);
    QCOMPARE(cancelled.result(), static_cast<int>(QDialog::Rejected));
    QCOMPARE(cancelled.idList, (std::vector<std::uint16_t>{9}));
}

void AddTimDeviceTest::opensCentredWithItsColumns() {
    TaskEnvironment env;
    registerDevice(8, "Eight");
    CAddTimDeviceDlg picker;
    const QSize size = picker.size();
    QRect geometry;
    tooltest::ModalWatch watch([&](QWidget* modal) {
        geometry = modal->geometry();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    QCOMPARE(picker.exec(), static_cast<int>(QDialog::Rejected));
    QVERIFY(watch.seen());
    QCOMPARE(picker.caption(), QStringLiteral("选择定时设备"));
    QCOMPARE(geometry.size(), size);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QVERIFY(qAbs(geometry.center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(geometry.center().y() - screen.center().y()) <= 1);
    consoleui::CListCtrlWG* list = picker.deviceList();
    QCOMPARE(tooltest::headerTitles(*list), (QStringList{"ID", "名称", "选择", "YesOrNo"}));
    const int unit = list->contentsRect().width() / 24;
    QCOMPARE(list->columnWidth(0), 3 * unit);
    QCOMPARE(list->columnWidth(1), 16 * unit);
    QCOMPARE(list->columnWidth(2), 3 * unit);
    QCOMPARE(list->columnWidth(3), 0);
    QCOMPARE(list->rowHeightPixels(), 15);
    QCOMPARE(picker.okButton()->text(), QStringLiteral("确定"));
    QCOMPARE(picker.cancelButton()->text(), QStringLiteral("取消"));
}

QTEST_MAIN(AddTimDeviceTest)
#include "add_tim_device_test.moc"
