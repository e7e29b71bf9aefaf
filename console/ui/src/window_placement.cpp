// The start geometry of the main console window.
#include "consoleui/window_placement.h"

namespace consoleui {

namespace {

struct Span {
    int start;
    int size;
};

Span placeAxis(int screen, int minimum) {
    const int margin = screen / 7;
    const int size = screen - 2 * margin;
    if (size >= minimum) return {margin, size};
    return {0, minimum};
}

}  // namespace

QRect placeMainWindow(QSize screen) {
    const Span x = placeAxis(screen.width(), kMainWindowMinWidth);
    const Span y = placeAxis(screen.height(), kMainWindowMinHeight);
    return QRect(x.start, y.start, x.size, y.size);
}

}  // namespace consoleui
