// The console program vantrel.
//   vantrel [--port=N] [--lock-dir=DIR]
// The defaults (device port 6000, lock files in /tmp) are what an installation uses; the
// options let demos and screenshots run beside another console on a shared machine.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "consoleapp/vantrel_app.h"
#include "consoleui/cell_icons.h"
#include "consoleui/qt_translations.h"

namespace {

bool parsePort(const std::string& text, std::uint16_t& port) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setWindowIcon(consoleui::windowIcon());
    consoleui::installQtTranslations(application);

    consoleapp::AppOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--port=", 0) == 0 && parsePort(arg.substr(7), options.session.port)) {
            continue;
        }
        if (arg.rfind("--lock-dir=", 0) == 0 && arg.size() > 11) {
            options.lockFolder = arg.substr(11);
            continue;
        }
        std::fprintf(stderr, "usage: %s [--port=N] [--lock-dir=DIR]\n", argv[0]);
        return 2;
    }

    consoleapp::CVantrelApp app(options);
    app.InitInstance();
    return 0;
}
