// The start geometry of the main console window and its remembered place.
#include "consoleui/window_placement.h"

#include <algorithm>
#include <charconv>

#include "platform/ini_profile.h"

namespace consoleui {

namespace {

constexpr const char* kSection = "Window";
// Coordinates beyond this are not a place on any screen.
constexpr int kMaxCoordinate = 100000;
constexpr int kMinRemembered = 200;
// How much of the caption bar must lie on a screen for the window to be reachable.
constexpr int kReachWidth = 100;
constexpr int kReachHeight = 20;

struct Span {
    int start;
    int size;
};

Span placeAxis(int screen, int minimum) {
    const int margin = screen / 7;
    int size = screen - 2 * margin;
    if (size < minimum) size = std::min(screen, std::max(minimum, screen * 9 / 10));
    return {(screen - size) / 2, size};
}

}  // namespace

QRect placeMainWindow(QSize screen) {
    if (screen.width() <= 0 || screen.height() <= 0) {
        return QRect(0, 0, kMainWindowMinWidth, kMainWindowMinHeight);
    }
    const Span x = placeAxis(screen.width(), kMainWindowMinWidth);
    const Span y = placeAxis(screen.height(), kMainWindowMinHeight);
    return QRect(x.start, y.start, x.size, y.size);
}

std::optional<WindowPlace> readWindowPlace(const std::string& iniPath) {
    const auto document = platform::loadIniFile(iniPath);
    if (!document) return std::nullopt;
    const auto number = [&](const char* key, int low, int high) -> std::optional<int> {
        const auto text = document->get(kSection, key);
        if (!text || text->empty() || text->size() > 7) return std::nullopt;
        int value = 0;
        const char* end = text->data() + text->size();
        const auto result = std::from_chars(text->data(), end, value);
        if (result.ec != std::errc() || result.ptr != end || value < low || value > high) {
            return std::nullopt;
        }
        return value;
    };
    const auto x = number("X", -kMaxCoordinate, kMaxCoordinate);
    const auto y = number("Y", -kMaxCoordinate, kMaxCoordinate);
    const auto width = number("Width", kMinRemembered, kMaxCoordinate);
    const auto height = number("Height", kMinRemembered, kMaxCoordinate);
    if (!x || !y || !width || !height) return std::nullopt;
    WindowPlace place;
    place.normal = QRect(*x, *y, *width, *height);
    place.maximized = number("Maximized", 0, 1).value_or(0) == 1;
    return place;
}

bool writeWindowPlace(const std::string& iniPath, const WindowPlace& place) {
    platform::IniBatchWriter writer(iniPath);
    writer.setInt(kSection, "X", place.normal.x());
    writer.setInt(kSection, "Y", place.normal.y());
    writer.setInt(kSection, "Width", place.normal.width());
    writer.setInt(kSection, "Height", place.normal.height());
    writer.setInt(kSection, "Maximized", place.maximized ? 1 : 0);
    return writer.commit();
}

QRect startGeometry(const std::optional<WindowPlace>& remembered, const QList<QRect>& screens,
                    const QRect& startScreen) {
    if (remembered) {
        const QRect& r = remembered->normal;
        const QRect caption(r.x(), r.y(), r.width(), kReachHeight);
        for (const QRect& screen : screens) {
            const QRect reach = caption.intersected(screen);
            if (reach.width() < std::min(kReachWidth, r.width()) || reach.height() < kReachHeight) {
                continue;
            }
            // On a smaller screen than before the window shrinks to fit and stays on it.
            QRect fitted(r.topLeft(), r.size().boundedTo(screen.size()));
            fitted.moveLeft(
                std::clamp(fitted.left(), screen.left(), screen.right() - fitted.width() + 1));
            fitted.moveTop(
                std::clamp(fitted.top(), screen.top(), screen.bottom() - fitted.height() + 1));
            return fitted;
        }
    }
    return placeMainWindow(startScreen.size()).translated(startScreen.topLeft());
}

}  // namespace consoleui
