// The console's own icons, addressed by their resource numbers.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace consoleui {

// An icon "handle" is the icon's resource number; the list control stores only numbers.
using IconHandle = int;

constexpr IconHandle kIconWindow = 128;   // window icon, large and small
constexpr IconHandle kIconTickOff = 137;  // device picker: not chosen
constexpr IconHandle kIconTickOn = 138;   // device picker: chosen
constexpr IconHandle kIconLedOff = 150;   // dark dot: outlet off
constexpr IconHandle kIconLedOn = 151;    // red dot: outlet on

// The image of an icon; a null pixmap for a number that is not one of the above.
QPixmap iconPixmap(IconHandle icon);
QIcon windowIcon();

}  // namespace consoleui
