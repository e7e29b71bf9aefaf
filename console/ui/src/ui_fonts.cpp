// Font lookup with fallbacks: the named face when installed, else a CJK face of the same kind.
#include "consoleui/ui_fonts.h"

#include <QStringList>

namespace consoleui {

namespace {

QStringList fallbacksFor(const QString& face) {
    // The Song face has half-width Latin letters (0.5 em), which the list columns are sized
    // for; the monospaced Noto CJK face keeps those metrics, the proportional ones do not.
    if (face == QStringLiteral("宋体")) {
        return {QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("Noto Sans CJK SC")};
    }
    if (face == QStringLiteral("思源黑体 CN")) {
        return {QStringLiteral("Source Han Sans CN"), QStringLiteral("Noto Sans CJK SC")};
    }
    if (face == QStringLiteral("华文彩云")) {
        return {QStringLiteral("STCaiyun"), QStringLiteral("Noto Sans CJK SC")};
    }
    return {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
            QStringLiteral("Noto Sans CJK SC")};
}

}  // namespace

QFont uiFont(const QString& face, int pixelSize, bool bold, bool italic, bool underline) {
    QFont font;
    QStringList families{face};
    families += fallbacksFor(face);
    font.setFamilies(families);
    font.setPixelSize(pixelSize > 0 ? pixelSize : 12);
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    return font;
}

}  // namespace consoleui
