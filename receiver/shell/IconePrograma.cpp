// The program's icon from the PNGs that also go into the hicolor theme.
#include "receiver/shell/IconePrograma.h"

namespace lumora {

QIcon IconePrograma() {
    QIcon icone;
    for (int t : {16, 22, 24, 32, 48, 64, 128, 256}) {
        icone.addFile(QStringLiteral(":/icones/%1x%1/lumora.png").arg(t), QSize(t, t));
    }
    return icone;
}

}  // namespace lumora
