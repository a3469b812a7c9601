// Draws the program's 32x32 icon with colours of the 16-colour palette only.
#include "receiver/shell/IconePrograma.h"

#include <QPainter>
#include <QPixmap>

namespace lumora {

QIcon IconePrograma() {
    const QColor preto(0, 0, 0), cinza(128, 128, 128), prata(192, 192, 192), verde(0, 128, 0),
        lima(0, 255, 0), marinho(0, 0, 128);
    QPixmap p(32, 32);
    p.fill(Qt::transparent);
    QPainter g(&p);
    // Cabinet of the gate.
    g.setPen(preto);
    g.setBrush(prata);
    g.drawRect(3, 8, 9, 22);
    g.setBrush(marinho);
    g.drawRect(5, 11, 5, 3);  // the terminal's display
    // Three arms of the turnstile.
    g.setPen(QPen(cinza, 3, Qt::SolidLine, Qt::RoundCap));
    g.drawLine(12, 17, 27, 17);
    g.drawLine(12, 17, 19, 8);
    g.drawLine(12, 17, 19, 26);
    g.setPen(preto);
    g.setBrush(preto);
    g.drawEllipse(10, 15, 4, 4);
    // The way out.
    g.setPen(QPen(verde, 1));
    g.setBrush(lima);
    const QPoint seta[] = {{20, 1}, {28, 5}, {20, 9}};
    g.drawPolygon(seta, 3);
    g.fillRect(14, 4, 6, 3, lima);
    g.end();
    return QIcon(p);
}

}  // namespace lumora
