// Placement of the tool dialogs on the screen and list columns that follow the list's width.
#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <functional>
#include <vector>

class QDialog;
class QHBoxLayout;
class QWidget;

namespace consoleui {
class CListCtrlWG;
}

namespace consoletools {

// Per axis: margin m = S / divisor, size S - 2m; a size below the minimum becomes the minimum
// and moves that side's origin to 0. Relative to the screen's origin.
struct PlacementRule {
    int xDivisor = 6;
    int yDivisor = 7;
    int minWidth = 0;
    int minHeight = 0;
};
QRect placeToolWindow(QSize screen, const PlacementRule& rule);
// Applies placeToolWindow on the screen the window is on (or the primary one).
void placeOnScreen(QWidget& window, const PlacementRule& rule);
// Centres the window on its screen without resizing it.
void centreOnScreen(QWidget& window);

// A row with the dialog's "关闭" button at the right; the button rejects the dialog.
QHBoxLayout* closeButtonRow(QDialog& dialog);

// Keeps a list's column widths a function of its client width: applied now and on every
// resize of the list.
class ColumnLayout : public QObject {
    Q_OBJECT
public:
    using Widths = std::function<std::vector<int>(int clientWidth)>;
    ColumnLayout(consoleui::CListCtrlWG& list, Widths widths);
    void apply();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    consoleui::CListCtrlWG& m_list;
    Widths m_widths;
};

// Widths in whole units of clientWidth / `units` (the timed-task lists: 33rds, 23rds, 24ths).
ColumnLayout::Widths unitWidths(int units, std::vector<int> widthsInUnits);

// Widths in units as above, but never below `minimums` (what a column's title and content
// need); what the raised columns take beyond their share comes out of the columns above their
// minimum, in proportion, so that the columns still fit the client width where they can.
ColumnLayout::Widths fittedUnitWidths(int units, std::vector<int> widthsInUnits,
                                      std::vector<int> minimums);

}  // namespace consoletools
