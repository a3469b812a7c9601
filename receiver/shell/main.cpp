// Lumora: the turnstile exit-gate receiver. Starts the main window and runs until it closes.
#include <QApplication>
#include <QFile>

#include "common/Unhandled.h"
#include "common/qt/OperatorDialogs.h"
#include "common/qt/SinaisEncerramento.h"
#include "receiver/shell/uLog.h"
#include "receiver/shell/uPrincipal.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumora"));
    // The main window hides to the notification area and the log window closes by hiding:
    // only the close sequence ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    // Every failure that escapes an event handler, the socket component's included.
    common::qt::InstallFailureBox();

    // Before the window: an end asked for while start-up shows a message (a second instance)
    // closes that message, and start-up then ends the program as soon as it can.
    common::qt::TSinaisEncerramento sinais;
    lumora::TFormPrincipal* atual = nullptr;
    bool pedidoNaPartida = false;
    QObject::connect(&sinais, &common::qt::TSinaisEncerramento::pedidoEncerramento, &app, [&](int) {
        if (atual) {
            atual->EncerraSemPergunta();
        } else {
            pedidoNaPartida = true;
            QCoreApplication::exit(0);
        }
    });

    lumora::TFormPrincipal principal(
        QFile::encodeName(QApplication::applicationDirPath()).toStdString());
    if (principal.Encerrar()) return 0;
    if (pedidoNaPartida) {
        principal.EncerraSemPergunta();
        return 0;
    }
    lumora::TformLog log;
    principal.DefineLog(&log);
    // While the failure box is open, further failures go to "Enviados" instead of boxes of
    // their own; undone at the end of main before the log window goes.
    common::SetUnhandledOverflowSink(
        [&log](const std::string& texto) { log.Enviados("Erro: " + texto); });
    struct SemLog {
        ~SemLog() { common::SetUnhandledOverflowSink(nullptr); }
    } semLog;
    atual = &principal;

    QObject::connect(&principal, &lumora::TFormPrincipal::finalizado, &app,
                     [] { QCoreApplication::exit(0); });
    // The desktop session ending: save everything, as for SIGTERM, without asking. Only its
    // actual end quits the application; the session manager's request to save comes before
    // the logout is final, and a cancelled logout must find the receiver still serving.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &principal,
                     [&principal] { principal.EncerraSemPergunta(); });

    principal.show();
    return app.exec();
}
