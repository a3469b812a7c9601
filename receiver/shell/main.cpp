// Lumora: the turnstile exit-gate receiver. Starts the main window and runs until it closes.
#include <QApplication>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/CommandLine.h"
#include "common/DataFolder.h"
#include "common/Unhandled.h"
#include "common/qt/OperatorDialogs.h"
#include "common/qt/SinaisEncerramento.h"
#include "common/qt/TraducaoQt.h"
#include "receiver/shell/AvisoServico.h"
#include "receiver/shell/Relatorio.h"
#include "receiver/shell/uLog.h"
#include "receiver/shell/uPrincipal.h"

namespace {

constexpr const char* kAjuda =
    "Usage: Lumora [--program-folder DIR] [--listen-address ADDR] [--monitor [ADDR:]PORT]\n"
    "              [Qt options]\n"
    "       Lumora --report NIGHT[..NIGHT] [--csv FILE [--overwrite]] [--program-folder DIR]\n"
    "       Lumora --find CARD [--csv FILE [--overwrite]] [--program-folder DIR]\n"
    "The turnstile exit-gate receiver.\n"
    "\n"
    "  --program-folder DIR  keep Config.ini, Equip.xml, Comandas.xml and Historicos/ in DIR\n"
    "                        (created when missing) instead of "
#ifdef LUMORA_PASTA_DADOS_USUARIO
    "$XDG_DATA_HOME/Lumora\n"
    "                        (normally ~/.local/share/Lumora)\n"
#else
    "the executable's folder\n"
#endif
    "  --listen-address ADDR serve terminals only on this IPv4 address of the computer\n"
    "                        (empty: every address) instead of Config.ini's\n"
    "                        Endereco_Escuta, for this run only\n"
    "  --monitor [ADDR:]PORT serve /health, /metrics and the status page over HTTP on\n"
    "                        ADDR (without it 127.0.0.1 only; 0.0.0.0: every address)\n"
    "                        instead of Config.ini's Monitor_Http, for this run only;\n"
    "                        empty: no endpoint\n"
    "  --report NIGHT        print that night's totals per state, terminal and hour from\n"
    "                        Historicos/ and end; reads only, beside a serving receiver. A\n"
    "                        night is YYYY-MM-DD, the day its evening falls on, and lasts\n"
    "                        to the next day's Hora_Corte_Historico (12:00); FROM..TO: the\n"
    "                        nights from FROM to TO, a line each, and their totals\n"
    "  --find CARD           every row of every night whose card number holds CARD, newest\n"
    "                        first, with its night, time, terminal and state\n"
    "  --csv FILE            with --report or --find: also write the rows to FILE as CSV\n"
    "                        (UTF-8 with BOM, \";\" separated, CRLF); \"-\": the CSV alone\n"
    "                        on standard output. Never a file of the program folder\n"
    "  --overwrite           with --csv: FILE may exist already and is replaced\n"
    "  --help                show this text and end\n"
    "  --version             show the version and end\n"
    "\n"
    "Exit status:\n"
    "  0  ended as asked (the window closed, SIGTERM, SIGINT, the session's end)\n"
    "  1  start-up refused, with one line on standard error saying why: the program\n"
    "     folder cannot be used, a damaged file was moved aside (the next start goes\n"
    "     on without it), or another receiver is running; with --report or --find: a\n"
    "     night's file is missing or damaged, or the CSV file is refused or cannot be\n"
    "     written\n"
    "  2  wrong command line (an option unknown, given twice or without its value)\n";

// How the program ends, for whoever started it: the service manager restarts on any but 0.
enum Saida : int { kSaidaNormal = 0, kSaidaRecusada = 1, kSaidaLinhaComando = 2 };

// Every start-up that cannot go on ends here: one line saying why, for the journal under the
// service, and the status that tells the manager to try again.
int PartidaRecusada(const std::string& motivo) {
    std::fprintf(stderr, "Lumora: start-up refused: %s\n", motivo.c_str());
    std::fflush(stderr);
    return kSaidaRecusada;
}

// The folder of Config.ini, Equip.xml, Comandas.xml and Historicos/. An installed build keeps
// them in the user's data folder, since /usr/bin is neither writable nor the user's; a build
// run from its tree or an unpacked folder keeps them beside the executable. Which of the two
// is fixed when building, so the same executable never lands its files in two places.
std::filesystem::path PastaPadrao() {
#ifdef LUMORA_PASTA_DADOS_USUARIO
    return common::UserDataFolder("Lumora", std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
#else
    return QFile::encodeName(QApplication::applicationDirPath()).toStdString();
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
    // Answered before the application object: without a display that would not even start.
    const lumora::OpcoesRelatorio relatorio = lumora::LeOpcoesRelatorio(argc, argv);
    const common::CommandLineOptions opcoes = common::ReadCommandLine(argc, argv, true);
    std::string erroLinha = relatorio.erro.empty() ? opcoes.error : relatorio.erro;
    // A report serves no terminal: an address for them there is a mistake, not a no-op.
    if (erroLinha.empty() && (relatorio.dia || relatorio.busca) &&
        (opcoes.listenAddress || opcoes.monitor))
        erroLinha = std::string(opcoes.listenAddress ? "--listen-address" : "--monitor") +
                    " does not go with " + (relatorio.dia ? "--report" : "--find");
    if (!erroLinha.empty()) {
        std::fprintf(stderr, "Lumora: %s\nTry 'Lumora --help'.\n", erroLinha.c_str());
        return kSaidaLinhaComando;
    }
    if (opcoes.help) {
        std::fputs(kAjuda, stdout);
        return kSaidaNormal;
    }
    if (opcoes.version) {
        std::printf("Lumora %s\n", LUMORA_VERSAO);
        return kSaidaNormal;
    }
    // Without a window, a lock or the folder's creation: a report runs beside a serving
    // receiver and leaves its folder as it found it.
    if (relatorio.dia || relatorio.busca) {
        const QCoreApplication nucleo(argc, argv);
        return lumora::ExecutaRelatorio(
            relatorio,
            opcoes.programFolder ? std::filesystem::path(*opcoes.programFolder) : PastaPadrao(),
            stdout, stderr);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumora"));
    // "Sim" and "Não" on the question boxes, "Salvar" in the file chooser, on any desktop.
    common::qt::InstalaTraducaoQt();
    // The main window hides to the notification area and the log window closes by hiding:
    // only the close sequence ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    // Every failure that escapes an event handler, the socket component's included.
    common::qt::InstallFailureBox();
    // Without a screen (the service) nobody can answer a box: none may wait, from the
    // messages of the start-up on.
    common::qt::SetNobodyAnswers(lumora::SemOperador());
    // From the start: a start-up that hangs is as much the manager's to restart.
    lumora::TAvisoServico servico;

    // Before the window: an end asked for while start-up shows a message (a second instance)
    // closes that message, and start-up then ends the program as soon as it can.
    common::qt::TSinaisEncerramento sinais;
    lumora::TFormPrincipal* atual = nullptr;
    bool pedidoNaPartida = false;
    QObject::connect(&sinais, &common::qt::TSinaisEncerramento::pedidoEncerramento, &app, [&](int) {
        if (atual) {
            atual->PedidoDoSistema();
        } else {
            common::qt::SetNobodyAnswers(true);
            pedidoNaPartida = true;
            QCoreApplication::exit(0);
        }
    });

    std::filesystem::path pasta =
        opcoes.programFolder ? std::filesystem::path(*opcoes.programFolder) : PastaPadrao();
    std::error_code erro;
    if (!pasta.empty()) pasta = std::filesystem::absolute(pasta, erro);
    if (pasta.empty() || erro || (std::filesystem::create_directories(pasta, erro), erro) ||
        !std::filesystem::is_directory(pasta)) {
        return PartidaRecusada("cannot use the program folder \"" + pasta.string() + "\"" +
                               (erro ? ": " + erro.message() : std::string()));
    }
    // The venue's program that maintains Comandas.xml must be pointed at this folder.
    std::fprintf(stderr, "Lumora: program folder %s\n", pasta.c_str());
    std::fflush(stderr);

    lumora::TFormPrincipal principal(pasta);
    if (principal.Encerrar()) return PartidaRecusada(principal.Recusa());
    if (pedidoNaPartida) {
        principal.EncerraSemPergunta();
        return kSaidaNormal;
    }
    if (opcoes.listenAddress) principal.DefineEnderecoEscuta(*opcoes.listenAddress);
    if (opcoes.monitor) principal.DefineMonitor(*opcoes.monitor);
    lumora::TformLog log;
    principal.DefineLog(&log);
    // While a box is open, further failures go to "Enviados" instead of boxes of their own,
    // and so does every box nobody can answer; undone at the end of main before the log
    // window goes.
    common::SetUnhandledOverflowSink(
        [&log](const std::string& texto) { log.Enviados("Erro: " + texto); });
    common::qt::SetUnansweredSink([&log](const std::string& linha) { log.Enviados(linha); });
    struct SemLog {
        ~SemLog() {
            common::SetUnhandledOverflowSink(nullptr);
            common::qt::SetUnansweredSink(nullptr);
        }
    } semLog;
    atual = &principal;

    QObject::connect(&principal, &lumora::TFormPrincipal::finalizado, &app,
                     [] { QCoreApplication::exit(0); });
    // The desktop session ending: save everything, as for SIGTERM, without asking. Only its
    // actual end quits the application; the session manager's request to save comes before
    // the logout is final, and a cancelled logout must find the receiver still serving.
    // A box open then closes unanswered; the close sequence waits until the handling that
    // opened it has gone on and every event loop has returned.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &principal, [&principal] {
        common::qt::SetNobodyAnswers(true);
        common::qt::CloseOpenBoxes();
        if (!common::BoxOpen()) principal.EncerraSemPergunta();
    });

    principal.show();
    const int status = app.exec();
    principal.EncerraSemPergunta();  // does nothing when the close sequence has run
    return status;
}
