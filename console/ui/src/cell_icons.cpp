// Loads the icons from the library's compiled-in resources, once each.
#include "consoleui/cell_icons.h"

#include <QHash>
#include <QString>

// Resources of a static library must be registered by name before first use (the macro
// declares a global function, so this stays outside every namespace).
static void initResources() {
    Q_INIT_RESOURCE(consoleui);
}

namespace consoleui {

QPixmap iconPixmap(IconHandle icon) {
    static const bool initialised = (initResources(), true);
    (void)initialised;
    static QHash<IconHandle, QPixmap> cache;
    const auto it = cache.constFind(icon);
    if (it != cache.constEnd()) return *it;
    switch (icon) {
        case kIconWindow:
        case kIconTickOff:
        case kIconTickOn:
        case kIconLedOff:
        case kIconLedOn:
            break;
        default:
            return {};
    }
    QPixmap pixmap(QStringLiteral(":/consoleui/icons/%1.png").arg(icon));
    cache.insert(icon, pixmap);
    return pixmap;
}

QIcon windowIcon() {
    return QIcon(iconPixmap(kIconWindow));
}

}  // namespace consoleui
