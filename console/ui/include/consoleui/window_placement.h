// Where the main console window starts on a screen.
#pragma once

#include <QRect>
#include <QSize>

namespace consoleui {

constexpr int kMainWindowMinWidth = 1200;
constexpr int kMainWindowMinHeight = 600;

// Per axis: margin m = S / 7 and size s = S - 2m; when s reaches the minimum the window
// starts at m with size s, else at 0 with the minimum size. Relative to the screen's origin.
QRect placeMainWindow(QSize screen);

}  // namespace consoleui
