// Screen placement of the tool dialogs and proportional list columns.
#include "consoletools/tool_layout.h"

#include <QDialog>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "consoleui/list_ctrl_wg.h"

namespace consoletools {

namespace {

void placeAxis(int screen, int divisor, int minimum, int& origin, int& size) {
    origin = divisor > 0 ? screen / divisor : 0;
    size = screen - 2 * origin;
    if (size < minimum) {
        size = minimum;
        origin = 0;
    }
}

QRect screenArea(const QWidget& window) {
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1920, 1080);
}

}  // namespace

QRect placeToolWindow(QSize screen, const PlacementRule& rule) {
    int x = 0, y = 0, width = 0, height = 0;
    placeAxis(screen.width(), rule.xDivisor, rule.minWidth, x, width);
    placeAxis(screen.height(), rule.yDivisor, rule.minHeight, y, height);
    return {x, y, width, height};
}

void placeOnScreen(QWidget& window, const PlacementRule& rule) {
    const QRect area = screenArea(window);
    window.setGeometry(placeToolWindow(area.size(), rule).translated(area.topLeft()));
}

void centreOnScreen(QWidget& window) {
    const QRect area = screenArea(window);
    QRect frame(QPoint(0, 0), window.size());
    frame.moveCenter(area.center());
    window.move(frame.topLeft());
}

ColumnLayout::ColumnLayout(consoleui::CListCtrlWG& list, Widths widths)
    : QObject(&list), m_list(list), m_widths(std::move(widths)) {
    m_list.installEventFilter(this);
    apply();
}

void ColumnLayout::apply() {
    const std::vector<int> widths = m_widths(m_list.contentsRect().width());
    const int columns = std::min(static_cast<int>(widths.size()), m_list.columnCount());
    for (int c = 0; c < columns; ++c) m_list.setLayoutWidth(c, widths[c]);
}

bool ColumnLayout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_list && event->type() == QEvent::Resize) apply();
    return false;
}

ColumnLayout::Widths unitWidths(int units, std::vector<int> widthsInUnits) {
    return [units, widthsInUnits = std::move(widthsInUnits)](int clientWidth) {
        const int unit = units > 0 ? clientWidth / units : 0;
        std::vector<int> widths;
        for (int w : widthsInUnits) widths.push_back(unit * w);
        return widths;
    };
}

ColumnLayout::Widths fittedUnitWidths(int units, std::vector<int> widthsInUnits,
                                      std::vector<int> minimums) {
    minimums.resize(widthsInUnits.size(), 0);
    return [shares = unitWidths(units, std::move(widthsInUnits)),
            minimums = std::move(minimums)](int clientWidth) {
        std::vector<int> widths = shares(clientWidth);
        int total = 0;
        int spare = 0;  // width above the minimum, in the columns that have some
        for (std::size_t c = 0; c < widths.size(); ++c) {
            widths[c] = std::max(widths[c], minimums[c]);
            total += widths[c];
            spare += widths[c] - minimums[c];
        }
        const int excess = std::min(total - clientWidth, spare);
        if (excess <= 0 || spare <= 0) return widths;
        int taken = 0;
        for (std::size_t c = 0; c < widths.size(); ++c) {
            const int above = widths[c] - minimums[c];
            // Rounded up, so that the columns end within the client width.
            const int cut = std::min(above, (excess * above + spare - 1) / spare);
            const int take = std::min(cut, excess - taken);
            widths[c] -= take;
            taken += take;
        }
        return widths;
    };
}

QHBoxLayout* closeButtonRow(QDialog& dialog) {
    auto* row = new QHBoxLayout;
    auto* close = new QPushButton(QStringLiteral("关闭"), &dialog);
    close->setObjectName(QStringLiteral("closeDialogButton"));
    close->setAutoDefault(false);
    QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::reject);
    row->addStretch(1);
    row->addWidget(close);
    return row;
}

}  // namespace consoletools
