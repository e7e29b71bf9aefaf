// Window placement, the frame's drag, the About and settings dialogs, and the group
// selection dialogs on the core's real switching groups.
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "consolecore/switching_groups.h"
#include "consoleui/about_dlg.h"
#include "consoleui/list_ctrl_wg.h"
#include "consoleui/select_group_dlg.h"
#include "consoleui/skin_dialog.h"
#include "consoleui/window_placement.h"
#include "modal_helper.h"
#include "public/data_path.h"

using consolecore::GroupKind;
using consoleui::CListCtrlWG;

namespace {

// Fills the core's tables: serial group 2 holds 5 (off), 9 (on), 11 (off); parallel
// group 4 holds 21 and 22, both on.
void fillGroups() {
    auto& groups = consolecore::switchingGroups();
    auto guard = groups.lock();
    groups.reset();
    groups.fileRegistered(5, 2, 1, 1, 0);
    groups.fileRegistered(9, 2, 1, 2, 1);
    groups.fileRegistered(11, 2, 1, 3, 0);
    groups.fileRegistered(21, 4, 0, 1, 1);
    groups.fileRegistered(22, 4, 0, 2, 1);
}

QStringList column(const CListCtrlWG* list, int c) {
    QStringList texts;
    for (int r = 0; r < list->rowCount(); ++r) texts << list->itemText(r, c);
    return texts;
}

// Counts how often its start hook runs.
class CountingDialog : public consoleui::SkinDialog {
public:
    int starts = 0;

protected:
    void initDialog() override { ++starts; }
};

void clickRow(CListCtrlWG* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->cellRect(row, 0).center());
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void mainWindowPlacement();
    void dragByBackgroundMovesTheWindow();
    void aboutAndSettingsDialogs();
    void serialDialogListsDevicesNotYetOn();
    void groupWithNothingToSwitchGivesNoGroup();
    void parallelDialogForSwitchingOff();
    void chooserReturnsOnlyWhenConfirmed();
    void startHookRunsOnceBeforeTheFirstRun();
};

void DialogsTest::startHookRunsOnceBeforeTheFirstRun() {
    CountingDialog filledFirst;
    filledFirst.OnInitDialog();
    filledFirst.OnInitDialog();
    QCOMPARE(filledFirst.starts, 1);
    for (int run = 0; run < 2; ++run) {
        uitest::ModalWatch watch([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
        filledFirst.exec();
        QVERIFY(watch.seen());
    }
    QCOMPARE(filledFirst.starts, 1);
    CountingDialog runAtOnce;
    uitest::ModalWatch watch([&](QWidget*) { QCOMPARE(runAtOnce.starts, 1); });
    runAtOnce.exec();
    QVERIFY(watch.seen());
}

void DialogsTest::mainWindowPlacement() {
    using consoleui::placeMainWindow;
    QCOMPARE(placeMainWindow({1920, 1080}), QRect(274, 154, 1372, 772));
    // Short of the minimum after the margins: 9/10 of the screen, at least the minimum, centred.
    QCOMPARE(placeMainWindow({1600, 900}), QRect(80, 128, 1440, 644));
    QCOMPARE(placeMainWindow({1366, 768}), QRect(68, 38, 1229, 691));
    QCOMPARE(placeMainWindow({1400, 700}), QRect(70, 35, 1260, 630));
    // Never larger than the screen.
    QCOMPARE(placeMainWindow({1024, 600}), QRect(0, 0, 1024, 600));
    QCOMPARE(placeMainWindow({2560, 1440}), QRect(365, 205, 1830, 1030));
    QCOMPARE(placeMainWindow({0, 0}), QRect(0, 0, 1200, 600));

    // A remembered place is used when its caption bar is on a screen, cut to fit that
    // screen; otherwise the window opens centred on the screen it starts on.
    using consoleui::WindowPlace;
    const QList<QRect> screens{QRect(0, 0, 1366, 768), QRect(1366, 0, 1920, 1080)};
    const QRect second = screens[1];
    struct Case {
        std::optional<WindowPlace> remembered;
        QRect expected;
    };
    const Case cases[] = {
        {WindowPlace{QRect(1500, 100, 1000, 700), false}, QRect(1500, 100, 1000, 700)},
        {WindowPlace{QRect(-2000, 100, 1000, 700), false},
         placeMainWindow({1920, 1080}).translated(1366, 0)},
        {WindowPlace{QRect(100, 760, 1000, 700), false},
         placeMainWindow({1920, 1080}).translated(1366, 0)},
        {WindowPlace{QRect(300, 50, 1800, 900), false}, QRect(0, 0, 1366, 768)},
        {std::nullopt, placeMainWindow({1920, 1080}).translated(1366, 0)},
    };
    for (const Case& c : cases) {
        QCOMPARE(consoleui::startGeometry(c.remembered, screens, second), c.expected);
    }
}

void DialogsTest::dragByBackgroundMovesTheWindow() {
    consoleui::CAboutDlg about;
    about.move(100, 100);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    const QPoint start = about.pos();
    QLabel* caption = about.captionLabel();  // labels leave the mouse to the background
    const QPoint grab = caption->rect().center();
    QTest::mousePress(caption, Qt::LeftButton, Qt::NoModifier, grab);
    QTest::mouseMove(caption, grab + QPoint(30, 20));
    QTest::mouseRelease(caption, Qt::LeftButton, Qt::NoModifier, grab + QPoint(30, 20));
    QTRY_COMPARE(about.pos(), start + QPoint(30, 20));
    QVERIFY(!about.dragging());
}

void DialogsTest::aboutAndSettingsDialogs() {
    consoleui::CAboutDlg about;
    QCOMPARE(about.caption(), QStringLiteral("关于 Vantrel"));
    QCOMPARE(about.windowTitle(), QStringLiteral("关于 Vantrel"));
    auto* text = about.findChild<QLabel*>(QStringLiteral("versionText"));
    QVERIFY(text);
    // The same version as the main window's title bar ("16路IP电源时序器 V:2023.03.02.01").
    QCOMPARE(text->text(), QStringLiteral("Vantrel，2023.03.02.01 版"));
    QCOMPARE(about.findChildren<QPushButton*>().size(), 1);
    auto* data = about.findChild<QLabel*>(QStringLiteral("dataFolderText"));
    QVERIFY(data);
    QCOMPARE(data->text(), QStringLiteral("数据文件夹: ") + QString::fromStdString(GetDataPath()));
    uitest::ModalWatch watch1([&](QWidget*) { about.okButton()->click(); });
    QCOMPARE(about.exec(), int(QDialog::Accepted));

    consoleui::CQeltSetDlg settings;
    QCOMPARE(settings.caption(), QStringLiteral("设置"));
    QVERIFY(settings.findChildren<QPushButton*>().isEmpty());  // only the frame's close button
    uitest::ModalWatch watch2([&](QWidget*) { settings.closeButton()->click(); });
    QCOMPARE(settings.exec(), int(QDialog::Rejected));
}

void DialogsTest::serialDialogListsDevicesNotYetOn() {
    fillGroups();
    consoleui::CSelectGroupDlg dialog;
    dialog.direction = 1;
    QCOMPARE(dialog.result, -1);
    uitest::ModalWatch watch3([&](QWidget*) {
        QCOMPARE(dialog.caption(), QStringLiteral("选择分组"));
        QCOMPARE(dialog.hintLabel()->text(), QStringLiteral("打开操作只能操作关闭状态的设备"));
        CListCtrlWG* groups = dialog.groupList();
        QCOMPARE(column(groups, 0), QStringList({"1", "2", "3", "4", "5", "6"}));
        QCOMPARE(column(groups, 1),
                 QStringList({"Link1", "Link2", "Link3", "Link4", "Link5", "Link6"}));
        QCOMPARE(dialog.deviceList()->rowCount(), 0);
        QCOMPARE(groups->itemText(0, 0), QStringLiteral("1"));
        QCOMPARE(groups->horizontalHeader()->sectionSize(0), 70);
        clickRow(groups, 1);
        QCOMPARE(column(dialog.deviceList(), 0), QStringList({"1", "2"}));
        QCOMPARE(column(dialog.deviceList(), 1), QStringList({"5", "11"}));
        QCOMPARE(dialog.result, 2);
        // Selecting a row of the device list changes nothing.
        clickRow(dialog.deviceList(), 1);
        QCOMPARE(dialog.result, 2);
        dialog.okButton()->click();
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.result, 2);
}

void DialogsTest::groupWithNothingToSwitchGivesNoGroup() {
    fillGroups();
    {
        auto& groups = consolecore::switchingGroups();
        auto guard = groups.lock();
        groups.fileRegistered(31, 3, 1, 1, 1);
        groups.fileRegistered(32, 3, 1, 2, 1);
    }
    consoleui::CSelectGroupDlg dialog;
    dialog.direction = 1;
    uitest::ModalWatch watch4([&](QWidget*) {
        clickRow(dialog.groupList(), 1);  // group 2 first: a result
        QCOMPARE(dialog.result, 2);
        clickRow(dialog.groupList(), 2);  // group 3: all on already
        QCOMPARE(dialog.deviceList()->rowCount(), 0);
        QCOMPARE(dialog.result, -1);
        clickRow(dialog.groupList(), 5);  // group 6: empty
        QCOMPARE(dialog.result, -1);
        dialog.okButton()->click();
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.result, -1);
}

void DialogsTest::parallelDialogForSwitchingOff() {
    fillGroups();
    consoleui::CSelectPLGroupDlg dialog;
    dialog.direction = 0;
    uitest::ModalWatch watch5([&](QWidget*) {
        QCOMPARE(dialog.hintLabel()->text(), QStringLiteral("关闭操作只能操作打开状态的设备"));
        clickRow(dialog.groupList(), 1);  // serial devices are not in the parallel table
        QCOMPARE(dialog.deviceList()->rowCount(), 0);
        clickRow(dialog.groupList(), 3);
        QCOMPARE(column(dialog.deviceList(), 1), QStringList({"21", "22"}));
        QCOMPARE(dialog.result, 4);
        QTest::keyClick(dialog.groupList(), Qt::Key_Down);  // arrow keys select too
        QCOMPARE(dialog.result, -1);
        QTest::keyClick(dialog.groupList(), Qt::Key_Up);
        QCOMPARE(dialog.result, 4);
        dialog.okButton()->click();
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.result, 4);
}

void DialogsTest::chooserReturnsOnlyWhenConfirmed() {
    fillGroups();
    QWidget parent;
    consoleui::DialogGroupChooser chooser(&parent);
    // Cancel: no answer at all, even with a group selected.
    uitest::ModalWatch watch6([](QWidget* modal) {
        auto* dialog = qobject_cast<consoleui::GroupSelectDialog*>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->objectName(), QStringLiteral("CSelectGroupDlg"));
        clickRow(dialog->groupList(), 1);
        dialog->cancelButton()->click();
    });
    QCOMPARE(chooser.chooseGroup(GroupKind::Serial, 1), std::nullopt);
    // Escape cancels the same way.
    uitest::ModalWatch watch7([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    QCOMPARE(chooser.chooseGroup(GroupKind::Parallel, 0), std::nullopt);
    // OK: the group, or -1 when the selection offers nothing.
    uitest::ModalWatch watch8([](QWidget* modal) {
        auto* dialog = qobject_cast<consoleui::GroupSelectDialog*>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->objectName(), QStringLiteral("CSelectPLGroupDlg"));
        clickRow(dialog->groupList(), 3);
        dialog->okButton()->click();
    });
    QCOMPARE(chooser.chooseGroup(GroupKind::Parallel, 0), std::optional<int>(4));
    uitest::ModalWatch watch9([](QWidget* modal) {
        auto* dialog = qobject_cast<consoleui::GroupSelectDialog*>(modal);
        QVERIFY(dialog);
        dialog->okButton()->click();
    });
    QCOMPARE(chooser.chooseGroup(GroupKind::Parallel, 1), std::optional<int>(-1));
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
