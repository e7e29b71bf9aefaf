// The cell list control with real widgets: hit geometry, messages, editor open/close rules.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "consoleui/list_ctrl_wg.h"
#include "platform/messages.h"
#include "test_owner.h"

using consoleui::CListCtrlWG;
using uitest::OwnerMessage;
using uitest::RecordingOwner;

namespace {

// A dialog holding one list (three rows, a wide icon column) and a label to click on.
struct ListFixture {
    QDialog dialog;
    CListCtrlWG* list = new CListCtrlWG(&dialog);
    QLabel* elsewhere = new QLabel(QStringLiteral("elsewhere"), &dialog);
    RecordingOwner owner;

    ListFixture() {
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(list);
        layout->addWidget(elsewhere);
        dialog.resize(900, 300);
        list->setOwner(&owner);
        list->setRowHeight(22);
        list->insertColumnWithHeader(0, QStringLiteral("序号"), 0, 60);
        list->insertColumnWithHeader(1, QStringLiteral("Led显示"), 0, 400);
        list->insertColumnWithHeader(2, QStringLiteral("开关"), 2, 80);
        list->insertColumnWithHeader(3, QStringLiteral("编组"), 0, 120);
        list->insertColumnWithHeader(4, QStringLiteral("编号"), 0, 120);
        for (int row = 0; row < 3; ++row) list->insertRowWithNumber(row, row + 1);
    }

    bool show() {
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        return QTest::qWaitForWindowActive(&dialog);
    }

    void doubleClick(QPoint point) {
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    }

    std::vector<OwnerMessage> messagesOf(std::uint32_t message) const {
        std::vector<OwnerMessage> found;
        for (const auto& m : owner.messages) {
            if (m.message == message) found.push_back(m);
        }
        return found;
    }
};

// A combo editor whose callbacks log what they were called with.
struct ComboEditor {
    QComboBox* combo;
    std::vector<std::string>* log;

    CListCtrlWG::EditorOpenCallback opener(const std::string& tag) const {
        return [combo = combo, log = log, tag](QWidget* editor, int row, int column,
                                               std::uint8_t flag, std::uint32_t value) {
            log->push_back("open " + tag + " " + std::to_string(row) + "," +
                           std::to_string(column) + " flag " + std::to_string(flag) + " value " +
                           std::to_string(value) + (editor == combo ? "" : " wrong-editor"));
            combo->setCurrentIndex(static_cast<int>(value));
        };
    }
    CListCtrlWG::EditorCloseCallback closer(const std::string& tag) const {
        return [combo = combo, log = log, tag](QWidget*, int row, int column, std::uint8_t) {
            log->push_back("close " + tag + " " + std::to_string(row) + "," +
                           std::to_string(column) + " visible " +
                           std::to_string(combo->isVisible()));
            return static_cast<std::uint32_t>(combo->currentIndex());
        };
    }
};

QComboBox* makeCombo(QWidget* parent, int entries) {
    auto* combo = new QComboBox(parent);
    for (int i = 0; i < entries; ++i) combo->addItem(QString::number(i));
    combo->hide();
    return combo;
}

}  // namespace

class ListCtrlTest : public QObject {
    Q_OBJECT
private slots:
    void rowsAreTwentyTwoPixelsAndCellRectsFollow();
    void iconStripDoubleClickPostsIconIndex();
    void iconStripOffsetsWidenTheHitArea();
    void stripRegistrationAndIconReplacement();
    void buttonCellPostsOnDoubleClickOnly();
    void textCellsAndNumbers();
    void deletingARowKeepsRegistrations();
    void singleClickAndArrowKeysMoveTheHighlight();
    void editorRegisteredTwiceKeepsTheFirst();
    void editorOpensOverTheCellWithinTheClientWidth();
    void openingAnotherEditorClosesTheOpenOneFirst();
    void enterAndEscapeCloseTheEditorAlike();
    void dropDownArrowKeepsEditorOpenClickElsewhereCloses();
    void editorDestroyedWhileOpenIsForgotten();
    void clippedCellsShowTheirTextAsTooltip();
    void draggedWidthsOutliveTheLayoutAndTheList();
    void tabEntersAndLeavesAndTheFocusedCellShows();
    void spaceAndEnterActAsADoubleClick();
};

void ListCtrlTest::rowsAreTwentyTwoPixelsAndCellRectsFollow() {
    ListFixture f;
    QVERIFY(f.show());
    QCOMPARE(f.list->rowHeightPixels(), 22);
    for (int row = 0; row < 3; ++row) QCOMPARE(f.list->rowHeight(row), 22);
    const QRect r0 = f.list->cellRect(0, 1);
    const QRect r1 = f.list->cellRect(1, 1);
    QCOMPARE(r0.height(), 22);
    QCOMPARE(r0.width(), 400);
    QCOMPARE(r1.top() - r0.top(), 22);
    QCOMPARE(r0.left(), 60);
    // Cells outside the table have no rectangle.
    QVERIFY(f.list->cellRect(3, 1).isEmpty());
    QVERIFY(f.list->cellRect(0, 5).isEmpty());
    QVERIFY(f.list->cellRect(-1, 0).isEmpty());
}

void ListCtrlTest::iconStripDoubleClickPostsIconIndex() {
    ListFixture f;
    QVERIFY(f.show());
    for (int row = 0; row < 3; ++row) {
        f.list->registerIconStrip(row, 1, consoleui::kIconLedOff, 0, 0, 16, 0);
    }
    const QRect cell = f.list->cellRect(0, 1);
    f.doubleClick(cell.topLeft() + QPoint(45, 5));
    auto leds = f.messagesOf(platform::WM_LED_CELL_CLICKED);
    QCOMPARE(leds.size(), size_t(1));
    QCOMPARE(leds[0], (OwnerMessage{platform::WM_LED_CELL_CLICKED, 0, 2, false}));

    // Last icon of the second row: icon 15 spans 300..319 with s = 20.
    f.owner.messages.clear();
    f.doubleClick(f.list->cellRect(1, 1).topLeft() + QPoint(319, 10));
    leds = f.messagesOf(platform::WM_LED_CELL_CLICKED);
    QCOMPARE(leds.size(), size_t(1));
    QCOMPARE(leds[0].wParam, std::uintptr_t(1));
    QCOMPARE(leds[0].lParam, std::intptr_t(15));

    // Inside the cell but right of the strip, or on the top line above the icons: nothing.
    f.owner.messages.clear();
    f.doubleClick(cell.topLeft() + QPoint(330, 10));
    f.doubleClick(cell.topLeft() + QPoint(45, 0));
    QVERIFY(f.messagesOf(platform::WM_LED_CELL_CLICKED).empty());
}

void ListCtrlTest::iconStripOffsetsWidenTheHitArea() {
    ListFixture f;
    QVERIFY(f.show());
    f.list->registerIconStrip(0, 1, consoleui::kIconLedOff, 4, 2, 16, 0);
    const QRect cell = f.list->cellRect(0, 1);
    // Icon 0 is drawn at x 4..23, y 3..22 (clipped); its hit area reaches x 27.
    QCOMPARE(f.list->stripIconRect(0, 1, 0), QRect(cell.left() + 4, cell.top() + 3, 20, 20));
    f.doubleClick(cell.topLeft() + QPoint(2, 10));  // left of icon 0
    QVERIFY(f.messagesOf(platform::WM_LED_CELL_CLICKED).empty());
    f.doubleClick(cell.topLeft() + QPoint(25, 10));  // icon 0's widened area comes first
    auto leds = f.messagesOf(platform::WM_LED_CELL_CLICKED);
    QCOMPARE(leds.size(), size_t(1));
    QCOMPARE(leds[0].lParam, std::intptr_t(0));
    f.doubleClick(cell.topLeft() + QPoint(28, 10));
    leds = f.messagesOf(platform::WM_LED_CELL_CLICKED);
    QCOMPARE(leds.size(), size_t(2));
    QCOMPARE(leds[1].lParam, std::intptr_t(1));
}

void ListCtrlTest::stripRegistrationAndIconReplacement() {
    ListFixture f;
    QCOMPARE(f.list->stripLength(), 1);
    f.list->registerIconStrip(0, 1, consoleui::kIconLedOff, 0, 0, 16, 7);
    f.list->registerIconStrip(1, 1, consoleui::kIconLedOn, 1, 0, 4, 9);
    // The latest registration sets the list's length and offsets; strips keep their own size.
    QCOMPARE(f.list->stripCount(), 2);
    QCOMPARE(f.list->stripLength(), 4);
    QCOMPARE(f.list->stripOffset(), QPoint(1, 0));
    QCOMPARE(f.list->stripIcon(0, 15), consoleui::kIconLedOff);
    QCOMPARE(f.list->stripIcon(1, 3), consoleui::kIconLedOn);
    QCOMPARE(f.list->stripIcon(1, 4), -1);
    QCOMPARE(f.list->cellValue(0, 1), std::optional<int>(7));
    f.list->registerIconStrip(0, 1, consoleui::kIconLedOff, 0, 0, 16, 8);
    QCOMPARE(f.list->cellValue(0, 1), std::optional<int>(8));  // value replaced

    f.list->setStripIcon(0, 0, consoleui::kIconLedOn);
    f.list->setStripIcon(0, 16, consoleui::kIconLedOn);   // out of range: ignored
    f.list->setStripIcon(5, 0, consoleui::kIconLedOn);    // no such strip: ignored
    f.list->setStripIcon(-1, -1, consoleui::kIconLedOn);  // ignored
    QCOMPARE(f.list->stripIcon(0, 0), consoleui::kIconLedOn);
    QCOMPARE(f.list->stripIcon(0, 1), consoleui::kIconLedOff);

    f.list->registerSingleIcon(2, 0, consoleui::kIconTickOff, 3);
    f.list->registerSingleIcon(2, 0, consoleui::kIconTickOn, 4);
    QCOMPARE(f.list->singleIcon(2, 0), std::optional<int>(consoleui::kIconTickOn));
    QCOMPARE(f.list->cellValue(2, 0), std::optional<int>(4));
    QVERIFY(!f.list->singleIcon(1, 0));
    // Every icon the console uses is a real image.
    for (int icon : {128, 137, 138, 150, 151}) QVERIFY(!consoleui::iconPixmap(icon).isNull());
    QVERIFY(consoleui::iconPixmap(999).isNull());
}

void ListCtrlTest::buttonCellPostsOnDoubleClickOnly() {
    ListFixture f;
    QVERIFY(f.show());
    f.list->registerButtonCell(1, 2);
    const QPoint point = f.list->cellRect(1, 2).center();
    QTest::mouseClick(f.list->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    QVERIFY(f.owner.messages.empty());
    f.doubleClick(point);
    QCOMPARE(f.owner.messages.size(), size_t(1));
    QCOMPARE(f.owner.messages[0], (OwnerMessage{platform::WM_BUTTON_CELL_CLICKED, 1, 2, false}));
    // The same column of an unregistered row, and another column: nothing.
    f.doubleClick(f.list->cellRect(0, 2).center());
    f.doubleClick(f.list->cellRect(1, 0).center());
    QCOMPARE(f.owner.messages.size(), size_t(1));
}

void ListCtrlTest::textCellsAndNumbers() {
    ListFixture f;
    QCOMPARE(f.list->rowCount(), 3);
    QCOMPARE(f.list->itemText(2, 0), QStringLiteral("3"));
    QCOMPARE(f.list->insertRowWithNumber(3, -5), 3);
    QCOMPARE(f.list->itemText(3, 0), QStringLiteral("-5"));
    QCOMPARE(f.list->insertRowWithNumber(99, 8), 4);  // clamped to the end
    QVERIFY(f.list->setCellNumber(0, 4, 17));
    QCOMPARE(f.list->itemText(0, 4), QStringLiteral("17"));
    QCOMPARE(f.list->cellNumber(0, 4), 17);
    QVERIFY(f.list->setItemText(0, 4, QStringLiteral("12abc")));
    QCOMPARE(f.list->cellNumber(0, 4), 12);
    QVERIFY(f.list->setItemText(0, 4, QStringLiteral(" -7")));
    QCOMPARE(f.list->cellNumber(0, 4), -7);
    QVERIFY(f.list->setItemText(0, 4, QStringLiteral("ON")));
    QCOMPARE(f.list->cellNumber(0, 4), 0);
    QVERIFY(f.list->setItemText(0, 4, QStringLiteral("99999999999999")));
    QCOMPARE(f.list->cellNumber(0, 4), INT_MAX);
    // Writes outside the table are refused, reads give empty text.
    QVERIFY(!f.list->setItemText(9, 0, QStringLiteral("x")));
    QVERIFY(!f.list->setItemText(0, 9, QStringLiteral("x")));
    QCOMPARE(f.list->itemText(9, 9), QString());
    QCOMPARE(f.list->cellNumber(9, 9), 0);
    QVERIFY(!f.list->deleteRow(9));
}

void ListCtrlTest::deletingARowKeepsRegistrations() {
    ListFixture f;
    for (int row = 0; row < 3; ++row) {
        f.list->registerIconStrip(row, 1, consoleui::kIconLedOff, 0, 0, 16, 0);
        f.list->registerButtonCell(row, 2);
    }
    f.list->setStripIcon(2, 0, consoleui::kIconLedOn);
    QVERIFY(f.list->deleteRow(1));
    QCOMPARE(f.list->rowCount(), 2);
    QCOMPARE(f.list->itemText(1, 0), QStringLiteral("3"));
    QCOMPARE(f.list->stripCount(), 3);
    QVERIFY(f.list->isButtonCell(2, 2));  // row index 2 no longer exists but stays registered
    QCOMPARE(f.list->stripIcon(2, 0), consoleui::kIconLedOn);
    QVERIFY(f.list->cellRect(2, 1).isEmpty());
}

void ListCtrlTest::singleClickAndArrowKeysMoveTheHighlight() {
    ListFixture f;
    QVERIFY(f.show());
    QSignalSpy spy(f.list, &CListCtrlWG::highlightedRowChanged);
    QCOMPARE(f.list->highlightedRow(), -1);
    QTest::mouseClick(f.list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      f.list->cellRect(1, 0).center());
    QCOMPARE(f.list->highlightedRow(), 1);
    QCOMPARE(f.list->previousHighlightedRow(), -1);
    QTest::mouseClick(f.list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      f.list->cellRect(2, 3).center());
    QCOMPARE(f.list->highlightedRow(), 2);
    QCOMPARE(f.list->previousHighlightedRow(), 1);
    f.list->setFocus();
    QTest::keyClick(f.list, Qt::Key_Down);  // already on the last row
    QCOMPARE(f.list->highlightedRow(), 2);
    QTest::keyClick(f.list, Qt::Key_Up);
    QTest::keyClick(f.list, Qt::Key_Up);
    QTest::keyClick(f.list, Qt::Key_Up);  // stops at the first row
    QCOMPARE(f.list->highlightedRow(), 0);
    QTest::keyClick(f.list, Qt::Key_Left);
    QCOMPARE(f.list->highlightedColumn(), 0);
    for (int i = 0; i < 9; ++i) QTest::keyClick(f.list, Qt::Key_Right);
    QCOMPARE(f.list->highlightedColumn(), 4);  // stops at the last column
    QCOMPARE(spy.count(), 4);                  // -1→1, 1→2, 2→1, 1→0
}

void ListCtrlTest::editorRegisteredTwiceKeepsTheFirst() {
    ListFixture f;
    QVERIFY(f.show());
    std::vector<std::string> log;
    ComboEditor first{makeCombo(&f.dialog, 7), &log};
    ComboEditor second{makeCombo(&f.dialog, 20), &log};
    f.list->registerEditorCell(0, 3, first.combo, 1, 2, first.opener("first"),
                               first.closer("first"));
    f.list->registerEditorCell(0, 3, second.combo, 5, 9, second.opener("second"),
                               second.closer("second"));
    QCOMPARE(f.list->editorOf(0, 3), static_cast<QWidget*>(first.combo));
    QCOMPARE(f.list->editorCellValue(0, 3), std::optional<std::uint32_t>(2));
    f.doubleClick(f.list->cellRect(0, 3).center());
    QVERIFY(first.combo->isVisible());
    QVERIFY(!second.combo->isVisible());
    QCOMPARE(log, std::vector<std::string>{"open first 0,3 flag 1 value 2"});
    QCOMPARE(first.combo->currentIndex(), 2);
}

void ListCtrlTest::editorOpensOverTheCellWithinTheClientWidth() {
    ListFixture f;
    QVERIFY(f.show());
    std::vector<std::string> log;
    ComboEditor editor{makeCombo(&f.dialog, 7), &log};
    f.list->registerEditorCell(1, 4, editor.combo, 0, 0, editor.opener("e"), editor.closer("e"));
    // Make the last column reach past the client area; the editor stops 4 px short of it.
    f.list->setColumnWidth(4, 2000);
    f.list->openEditor(1, 4);
    QVERIFY(editor.combo->isVisible());
    QCOMPARE(editor.combo->parentWidget(), f.list->viewport());
    const QRect cell = f.list->cellRect(1, 4);
    QCOMPARE(editor.combo->geometry().left(), cell.left());
    QCOMPARE(editor.combo->geometry().top(), cell.top());
    QCOMPARE(editor.combo->geometry().right() + 1, f.list->viewport()->width() - 4);
    QCOMPARE(f.list->openEditorCell(), std::optional(consoleui::CellKey{1, 4}));
    // A cell without an editor opens nothing but still closes the open one.
    f.list->openEditor(0, 0);
    QVERIFY(!f.list->openEditorCell());
    QVERIFY(!editor.combo->isVisible());
}

void ListCtrlTest::openingAnotherEditorClosesTheOpenOneFirst() {
    ListFixture f;
    QVERIFY(f.show());
    std::vector<std::string> log;
    ComboEditor group{makeCombo(&f.dialog, 7), &log};
    ComboEditor number{makeCombo(&f.dialog, 20), &log};
    f.list->registerEditorCell(0, 3, group.combo, 0, 0, group.opener("group"),
                               group.closer("group"));
    f.list->registerEditorCell(0, 4, number.combo, 0, 4, number.opener("number"),
                               number.closer("number"));
    f.owner.onSend = [&](const OwnerMessage& m) {
        log.push_back("sent " + std::to_string(m.wParam) + "," + std::to_string(m.lParam));
    };
    f.doubleClick(f.list->cellRect(0, 3).center());
    QVERIFY(group.combo->isVisible());
    group.combo->setCurrentIndex(5);
    f.doubleClick(f.list->cellRect(0, 4).center());
    QTRY_VERIFY(number.combo->isVisible());
    QVERIFY(!group.combo->isVisible());
    // The first editor was hidden, its close callback ran, then its message went out: once.
    const std::vector<std::string> expected{"open group 0,3 flag 0 value 0",
                                            "close group 0,3 visible 0", "sent 0,3",
                                            "open number 0,4 flag 0 value 4"};
    QCOMPARE(log, expected);
    QCOMPARE(f.list->editorCellValue(0, 3), std::optional<std::uint32_t>(5));
    QCOMPARE(f.messagesOf(platform::WM_COMBO_CELL_CHANGED),
             (std::vector<OwnerMessage>{{platform::WM_COMBO_CELL_CHANGED, 0, 3, true}}));
    QCOMPARE(f.list->openEditorCell(), std::optional(consoleui::CellKey{0, 4}));
}

void ListCtrlTest::enterAndEscapeCloseTheEditorAlike() {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        ListFixture f;
        QVERIFY(f.show());
        QSignalSpy accepted(&f.dialog, &QDialog::accepted);
        QSignalSpy rejected(&f.dialog, &QDialog::rejected);
        std::vector<std::string> log;
        ComboEditor group{makeCombo(&f.dialog, 7), &log};
        f.list->registerEditorCell(2, 3, group.combo, 0, 3, group.opener("g"), group.closer("g"));
        f.doubleClick(f.list->cellRect(2, 3).center());
        QVERIFY(group.combo->isVisible());
        QTRY_VERIFY(group.combo->hasFocus());
        group.combo->setCurrentIndex(6);
        QTest::keyClick(group.combo, key);
        QTRY_VERIFY(!f.list->openEditorCell());
        QVERIFY(!group.combo->isVisible());
        QCOMPARE(f.messagesOf(platform::WM_COMBO_CELL_CHANGED),
                 (std::vector<OwnerMessage>{{platform::WM_COMBO_CELL_CHANGED, 2, 3, true}}));
        QCOMPARE(f.list->editorCellValue(2, 3), std::optional<std::uint32_t>(6));
        // The key closed the editor only; the dialog around the list stays open.
        QVERIFY(f.dialog.isVisible());
        QCOMPARE(accepted.count() + rejected.count(), 0);
    }
}

void ListCtrlTest::dropDownArrowKeepsEditorOpenClickElsewhereCloses() {
    ListFixture f;
    QVERIFY(f.show());
    std::vector<std::string> log;
    ComboEditor group{makeCombo(&f.dialog, 7), &log};
    f.list->registerEditorCell(1, 3, group.combo, 0, 0, group.opener("g"), group.closer("g"));
    f.doubleClick(f.list->cellRect(1, 3).center());
    QVERIFY(group.combo->isVisible());

    // A click on the combo's arrow opens its drop-down; the editor stays open.
    QTest::mouseClick(group.combo, Qt::LeftButton, Qt::NoModifier,
                      QPoint(group.combo->width() - 6, group.combo->height() / 2));
    QTRY_VERIFY(group.combo->view()->isVisible());
    QTest::qWait(50);  // give a wrongly queued close the chance to run
    QVERIFY(f.list->openEditorCell().has_value());
    // A press elsewhere while the drop-down is open does not close the editor either.
    QTest::mouseClick(f.elsewhere, Qt::LeftButton);
    QTest::qWait(50);
    QVERIFY(f.list->openEditorCell().has_value());
    QVERIFY(f.messagesOf(platform::WM_COMBO_CELL_CHANGED).empty());

    // With the drop-down closed, a click elsewhere in the dialog closes the editor.
    group.combo->hidePopup();
    QTRY_VERIFY(!group.combo->view()->isVisible());
    QTest::mouseClick(f.elsewhere, Qt::LeftButton);
    QTRY_VERIFY(!f.list->openEditorCell());
    QVERIFY(!group.combo->isVisible());
    QCOMPARE(f.messagesOf(platform::WM_COMBO_CELL_CHANGED).size(), size_t(1));

    // The wheel over another widget closes an open editor as well.
    f.doubleClick(f.list->cellRect(1, 3).center());
    QVERIFY(group.combo->isVisible());
    QWheelEvent wheel(QPointF(5, 5), f.elsewhere->mapToGlobal(QPointF(5, 5)), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(f.elsewhere, &wheel);
    QTRY_VERIFY(!f.list->openEditorCell());
    QCOMPARE(f.messagesOf(platform::WM_COMBO_CELL_CHANGED).size(), size_t(2));
}

void ListCtrlTest::editorDestroyedWhileOpenIsForgotten() {
    ListFixture f;
    QVERIFY(f.show());
    std::vector<std::string> log;
    ComboEditor group{makeCombo(&f.dialog, 7), &log};
    f.list->registerEditorCell(0, 3, group.combo, 0, 0, group.opener("g"), group.closer("g"));
    f.list->openEditor(0, 3);
    QVERIFY(f.list->openEditorCell().has_value());
    delete group.combo;
    QVERIFY(!f.list->openEditorCell());
    QCOMPARE(f.list->editorOf(0, 3), nullptr);
    f.list->closeOpenEditor();  // nothing is open: no callback with a dead editor
    QCOMPARE(log.size(), size_t(1));
    QVERIFY(f.messagesOf(platform::WM_COMBO_CELL_CHANGED).empty());
}

void ListCtrlTest::clippedCellsShowTheirTextAsTooltip() {
    ListFixture f;
    QVERIFY(f.show());
    const QString longText(60, QLatin1Char('W'));
    f.list->setItemText(0, 2, longText);  // 80 pixels wide: clipped
    f.list->setItemText(1, 3, QStringLiteral("ok"));
    const auto tipAt = [&](int row, int column) {
        const QPoint pos = f.list->cellRect(row, column).center();
        QHelpEvent help(QEvent::ToolTip, pos, f.list->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(f.list->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QCOMPARE(tipAt(1, 3), QString());  // fits: no tooltip
    QCOMPARE(tipAt(0, 2), longText);
}

void ListCtrlTest::draggedWidthsOutliveTheLayoutAndTheList() {
    for (int round = 0; round < 2; ++round) {
        ListFixture f;
        f.dialog.setObjectName(QStringLiteral("widthDialog"));
        f.list->setObjectName(QStringLiteral("widthList"));
        QVERIFY(f.show());
        if (round == 0) {
            QCOMPARE(f.list->operatorWidth(3), -1);
            // The operator drags column 3; a width set by code is not remembered.
            f.list->setLayoutWidth(4, 90);
            QTest::mousePress(f.list->horizontalHeader()->viewport(), Qt::LeftButton);
            f.list->horizontalHeader()->resizeSection(3, 234);
            QTest::mouseRelease(f.list->horizontalHeader()->viewport(), Qt::LeftButton);
        }
        // The dialog's layout (on open and on every resize) keeps the dragged width.
        f.list->setLayoutWidth(3, 120);
        f.list->setLayoutWidth(4, 120);
        QCOMPARE(f.list->columnWidth(3), 234);
        QCOMPARE(f.list->columnWidth(4), 120);
    }
}

void ListCtrlTest::tabEntersAndLeavesAndTheFocusedCellShows() {
    ListFixture f;
    auto* before = new QPushButton(QStringLiteral("before"), &f.dialog);
    auto* after = new QPushButton(QStringLiteral("after"), &f.dialog);
    f.dialog.layout()->addWidget(after);
    QWidget::setTabOrder(before, f.list);
    QWidget::setTabOrder(f.list, after);
    QVERIFY(f.show());
    const QRect cell = f.list->cellRect(0, 0);
    const auto frameColour = [&] {
        return f.list->viewport()->grab(cell).toImage().pixelColor(QPoint(1, cell.height() / 2));
    };
    const QColor unfocused = frameColour();
    before->setFocus();
    QTest::keyClick(before, Qt::Key_Tab);
    QVERIFY(f.list->hasFocus());
    QVERIFY(frameColour() != unfocused);  // the first cell is framed before any row is chosen
    QTest::keyClick(f.list, Qt::Key_Tab);
    QVERIFY(after->hasFocus());  // one Tab leaves, whatever the number of cells
    QCOMPARE(frameColour(), unfocused);
    QTest::keyClick(after, Qt::Key_Backtab);
    QVERIFY(f.list->hasFocus());
}

void ListCtrlTest::spaceAndEnterActAsADoubleClick() {
    ListFixture f;
    std::vector<std::string> log;
    QComboBox* combo = makeCombo(f.list, 3);
    const ComboEditor editor{combo, &log};
    for (int row = 0; row < 3; ++row) {
        f.list->registerIconStrip(row, 1, consoleui::kIconLedOff, 0, 0, 16, 0);
        f.list->registerButtonCell(row, 2);
        f.list->registerEditorCell(row, 3, combo, 0, 0, editor.opener("c"), editor.closer("c"));
    }
    QVERIFY(f.show());
    f.list->setFocus();
    QTest::keyClick(f.list, Qt::Key_Down);                               // row 0
    QTest::keyClick(f.list, Qt::Key_Down);                               // row 1
    for (int i = 0; i < 3; ++i) QTest::keyClick(f.list, Qt::Key_Right);  // column 1, icon 2
    QTest::keyClick(f.list, Qt::Key_Space);
    QTest::keyClick(f.list, Qt::Key_Left);
    QTest::keyClick(f.list, Qt::Key_Return);
    QCOMPARE(f.messagesOf(platform::WM_LED_CELL_CLICKED),
             (std::vector<OwnerMessage>{{platform::WM_LED_CELL_CLICKED, 1, 2, false},
                                        {platform::WM_LED_CELL_CLICKED, 1, 1, false}}));
    for (int i = 0; i < 15; ++i) QTest::keyClick(f.list, Qt::Key_Right);  // past icon 15
    QCOMPARE(f.list->highlightedColumn(), 2);
    QTest::keyClick(f.list, Qt::Key_Enter);
    QCOMPARE(f.messagesOf(platform::WM_BUTTON_CELL_CLICKED),
             (std::vector<OwnerMessage>{{platform::WM_BUTTON_CELL_CLICKED, 1, 2, false}}));
    QTest::keyClick(f.list, Qt::Key_Right);
    QTest::keyClick(f.list, Qt::Key_Space);
    QCOMPARE(f.list->openEditorCell(), std::optional(consoleui::CellKey{1, 3}));
    QVERIFY(combo->isVisible());
    QCOMPARE(f.owner.messages.size(), size_t(3));  // nothing else was posted
}

QTEST_MAIN(ListCtrlTest)
#include "list_ctrl_test.moc"
