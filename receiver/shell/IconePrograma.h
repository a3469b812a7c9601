// The program's icon: a turnstile and the way out, the same picture as the menu's.
#pragma once

#include <QIcon>

namespace lumora {

// Built into the executable from the icon theme's PNGs, so windows and the notification
// area show it wherever the program runs, installed or not.
QIcon IconePrograma();

}  // namespace lumora
