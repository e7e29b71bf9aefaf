// vantrel-grab: saves the part of the screen where the console window is placed as a PNG.
//   vantrel-grab OUTPUT.png [--full]
// Run on the same display as the console (the screenshot script does it on Xvfb).
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstring>

#include "consoleui/window_placement.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "--full") != 0)) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [--full]\n", argv[0]);
        return 2;
    }
    QGuiApplication application(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "vantrel-grab: no screen\n");
        return 1;
    }
    QPixmap shot = screen->grabWindow(0);
    if (argc == 2) shot = shot.copy(consoleui::placeMainWindow(screen->geometry().size()));
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "vantrel-grab: could not save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
