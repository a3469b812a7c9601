// Modrevo: the Ethernet-module IP manager. Starts the main window and runs until it closes.
#include <QApplication>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "common/CommandLine.h"
#include "common/LocalAddress.h"
#include "common/qt/OperatorDialogs.h"
#include "common/qt/SinaisEncerramento.h"
#include "common/qt/TraducaoQt.h"
#include "manager/modules/LinhaComando.h"
#include "manager/shell/uPrincipal.h"

int main(int argc, char* argv[]) {
    // The window-less mode needs no application object at all: an installer's SSH session
    // or a service has no display for one.
    if (modrevo::PedeLinhaComando(argc, argv)) {
        std::vector<std::string> argumentos(argv + 1, argv + argc);
        bool ajuda = false;
        for (const std::string& a : argumentos) ajuda = ajuda || a == "--help";
        if (!ajuda) {
            std::string erro;
            const auto linha = modrevo::LeOpcoes(argumentos, erro);
            if (!linha) {
                std::fprintf(stderr, "Modrevo: %s\nTry 'Modrevo --help'.\n", erro.c_str());
                return modrevo::kSaidaUso;
            }
            return modrevo::ExecutaLinhaComando(*linha, std::cout, std::cerr);
        }
        argc = 2;
        argv[1] = const_cast<char*>("--help");
    }
    // Answered before the application object: without a display that would not even start.
    const common::CommandLineOptions opcoes = common::ReadCommandLine(argc, argv, false);
    if (!opcoes.error.empty()) {
        std::fprintf(stderr, "Modrevo: %s\nTry 'Modrevo --help'.\n", opcoes.error.c_str());
        return 2;
    }
    if (opcoes.help) {
        std::fputs(
            "Usage: Modrevo [Qt options]\n"
            "       Modrevo --list [--json] [--book ENTRY]... [--response-time MS]\n"
            "       Modrevo --set MAC [--ip A.B.C.D] [--netmask A.B.C.D] [--gateway A.B.C.D]\n"
            "               [--destination A.B.C.D] [--dhcp on|off] [--force] [--json] ...\n"
            "The Ethernet-module IP manager. It broadcasts on the local network segment.\n"
            "Its settings (response time, address book) live in $XDG_CONFIG_HOME/Modrevo.INI\n"
            "(normally ~/.config).\n"
            "\n"
            "  --help     show this text and end\n"
            "  --version  show the version and end\n"
            "\n",
            stdout);
        std::fputs(modrevo::kAjudaLinhaComando, stdout);
        std::fputs("\nSee Modrevo(1).\n", stdout);
        return 0;
    }
    if (opcoes.version) {
        std::printf("Modrevo %s\n", LUMORA_VERSAO);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Modrevo"));
    // "Sim" and "Não" on the question boxes, on any desktop.
    common::qt::InstalaTraducaoQt();
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
    // The desktop session's actual end (not the request to save that a cancelled logout
    // follows) ends it the same way.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &principal,
                     [&principal] { principal.Encerra(); });

    principal.show();
    return app.exec();
}
