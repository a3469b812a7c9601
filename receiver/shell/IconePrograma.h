// The program's icon: a turnstile in the sixteen colours of the classic palette.
#pragma once

#include <QIcon>

namespace lumora {

// 32 by 32 pixels, drawn in code so that it travels with the executable.
QIcon IconePrograma();

}  // namespace lumora
