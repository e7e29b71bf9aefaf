// Where the main console window starts on a screen, and its place remembered between runs
// in "Vantrel.ini" [Window].
#pragma once

#include <QList>
#include <QRect>
#include <QSize>
#include <optional>
#include <string>

namespace consoleui {

constexpr int kMainWindowMinWidth = 1200;
constexpr int kMainWindowMinHeight = 600;

// Per axis: margin m = S / 7 and size s = S - 2m; when s falls short of the minimum, the size
// is 9/10 of the screen but at least the minimum, and never more than the screen. Centred
// on the screen; relative to the screen's origin.
QRect placeMainWindow(QSize screen);

struct WindowPlace {
    QRect normal;  // the geometry when neither maximised nor minimised
    bool maximized = false;
    bool operator==(const WindowPlace&) const = default;
};

// [Window] X, Y, Width, Height, Maximized; nothing when a key is missing or out of range.
std::optional<WindowPlace> readWindowPlace(const std::string& iniPath);
// Writes [Window] and keeps the file's other sections; false when the file cannot be written.
bool writeWindowPlace(const std::string& iniPath, const WindowPlace& place);

// The start geometry: the remembered one when its caption bar can be reached on one of
// `screens` (their available areas), cut down to fit that screen; else placeMainWindow on
// `startScreen`.
QRect startGeometry(const std::optional<WindowPlace>& remembered, const QList<QRect>& screens,
                    const QRect& startScreen);

}  // namespace consoleui
