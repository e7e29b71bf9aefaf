// Fonts named by the dialogs, with CJK fallbacks for machines that lack them.
#pragma once

#include <QFont>
#include <QString>

namespace consoleui {

// `face` first (e.g. "宋体", "思源黑体 CN", "华文彩云", "Arial"), then its usual Latin name,
// then Noto CJK, so Chinese text is readable on a bare Linux machine with fonts-noto-cjk.
// Sizes are pixel heights, as the dialogs give them.
QFont uiFont(const QString& face, int pixelSize, bool bold = false, bool italic = false,
             bool underline = false);

}  // namespace consoleui
