// Modrevo: the Ethernet-module IP manager. Starts the main window and runs until it closes.
#include <QApplication>

#include "common/LocalAddress.h"
#include "common/qt/OperatorDialogs.h"
#include "common/qt/SinaisEncerramento.h"
#include "manager/shell/uPrincipal.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Modrevo"));
    QApplication::setQuitOnLastWindowClosed(false);
    common::qt::InstallFailureBox();

    // A loopback address is of no use to a module: without another one, "0.0.0.0".
    modrevo::TFormPrincipal principal(common::LocalIPv4Address(false));

    // SIGTERM and SIGINT close the window as its close button does; an
    // operation that is sending finishes first.
    common::qt::TSinaisEncerramento sinais;
    QObject::connect(&sinais, &common::qt::TSinaisEncerramento::pedidoEncerramento, &principal,
                     [&principal](int) { principal.Encerra(); });
    QObject::connect(&principal, &modrevo::TFormPrincipal::finalizado, &app,
                     [] { QCoreApplication::exit(0); });

    principal.show();
    return app.exec();
}
