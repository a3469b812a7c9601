// Takes the pictures of Modrevo's windows for the documentation: the main window with both
// lists filled by simulated modules, the configuration dialog, the address book and the
// response-time window.
// Not a test; it runs in a private network namespace of its own, under a display
// (scripts/screenshots.sh starts a virtual one).
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "ModuleSim.h"
#include "manager/modules/Listas.h"
#include "manager/shell/uAgenda.h"
#include "manager/shell/uConfigura.h"
#include "manager/shell/uPrincipal.h"
#include "manager/shell/uTempo.h"
#include "tests/support/RedePrivada.h"

namespace {

void Espera(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

void Salva(QWidget& janela, const std::string& arquivo) {
    Espera(200);
    if (!janela.grab().save(QString::fromStdString(arquivo))) {
        std::fprintf(stderr, "cannot write %s\n", arquivo.c_str());
        std::exit(1);
    }
    std::printf("%s\n", arquivo.c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
    // Before Qt starts any thread: the modules answer broadcasts, so only here.
    const std::string motivo = lumora::teste::EntraEmRedePrivada();
    if (!motivo.empty()) {
        std::fprintf(stderr, "modrevo_capturas needs a private network namespace: %s\n",
                     motivo.c_str());
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Modrevo"));
    const std::string pasta = argc > 1 ? argv[1] : "docs";

    QTemporaryDir configuracao;
    ::setenv("XDG_CONFIG_HOME", configuracao.path().toLocal8Bit().constData(), 1);
    std::ofstream(configuracao.path().toStdString() + "/Modrevo.INI")
        << "[TfrmTempo]\nFormVersion=0\nEditTempo_Text=300\n";

    modsim::Modules modulos = modsim::DefaultModules();
    modsim::TibboModule terceiro = modulos.tibbo[1];
    terceiro.ip = "127.0.0.7";
    terceiro.mac = "0.36.119.87.8.26";
    terceiro.rest = "Castrell safe 3";
    terceiro.gateway = "127.0.0.1";
    terceiro.destino = "127.0.0.1";
    modulos.tibbo.push_back(terceiro);
    modsim::ModuleSim sim(modulos);
    sim.Start();

    // The address the status bar and the "IP" button show, as on a venue's network.
    modrevo::TFormPrincipal principal("192.168.0.10");
    principal.show();
    QElapsedTimer relogio;
    relogio.start();
    while ((!principal.Ativada() || principal.Atualizacao().EmAtualizacao() ||
            principal.Atualizacao().tbmModulos.RecordCount() == 0) &&
           relogio.elapsed() < 10000) {
        Espera(50);
    }
    Salva(principal, pasta + "/modrevo-principal.png");

    modrevo::TFormConfigura& dialogo = *principal.FormConfigura();
    auto& linhas = principal.Atualizacao().tbmColetores;
    linhas.Last();  // the Vexa gate: it answered first, so it is listed last
    dialogo.Preenche({linhas.AsString(modrevo::cIp), linhas.AsString(modrevo::cNetmask),
                      linhas.AsString(modrevo::cGateway), linhas.AsString(modrevo::cIpDestino),
                      linhas.AsString(modrevo::cDHCP) == "Ativado" ? "Ativado" : "Desativado"},
                     true);
    dialogo.show();
    Salva(dialogo, pasta + "/modrevo-configuracao.png");
    dialogo.hide();

    std::ofstream(configuracao.path().toStdString() + "/Modrevo.INI", std::ios::app)
        << "\n[AgendaEnderecos]\nItens=3\nItem1=10.1.2.30\nItem2=10.1.3.0/24\n"
           "Item3=10.1.4.10-10.1.4.50\n";
    modrevo::TFormAgenda agenda(configuracao.path().toStdString() + "/Modrevo.INI", &principal);
    agenda.Carrega();
    agenda.show();
    Salva(agenda, pasta + "/modrevo-agenda-janela.png");
    agenda.hide();

    modrevo::TfrmTempo tempo(configuracao.path().toStdString() + "/Modrevo.INI", &principal);
    tempo.EditTempo()->setText(QStringLiteral("2000"));
    tempo.show();
    Salva(tempo, pasta + "/modrevo-tempo.png");
    return 0;
}
