// Takes the pictures of the windows for the documentation: the four tabs, the traffic log,
// the terminals' status and a past night,
// with a few cards, two simulated terminals and their traffic. Not a test; run it under a
// display (scripts/screenshots.sh starts a virtual one).
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "TerminalSim.h"
#include "common/Convert.h"
#include "common/DateTime.h"
#include "receiver/control/ArquivosReceptor.h"
#include "receiver/control/HistoricoDias.h"
#include "receiver/control/TableFile.h"
#include "receiver/shell/uHistoricos.h"
#include "receiver/shell/uLog.h"
#include "receiver/shell/uPrincipal.h"
#include "tests/support/PortaLivre.h"

using namespace lumora;

namespace {

using teste::PortaLivre;

void Espera(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

void Semeia(const std::filesystem::path& pasta) {
    TabelasReceptor t;
    TArquivosReceptor arquivos(t, pasta);
    if (!arquivos.Inicia(NoiteDe(common::Now())))
        throw std::runtime_error("cannot seed the folder");
    for (const char* numero : {"1234", "4711", "5120", "88123", "900001"}) {
        t.cdsComandas.Insert();
        t.cdsComandas.SetString(campo::kNumComanda, numero);
        t.cdsComandas.Post();
    }
    const std::pair<const char*, const char*> equipamentos[] = {
        {"1", "127.0.0.5"}, {"2", "127.0.0.6"}, {"3", "127.0.0.7"}};
    for (const auto& [numero, ip] : equipamentos) {
        t.cdsEquipamentos.Insert();
        t.cdsEquipamentos.SetString(campo::kNumEquipamento, numero);
        t.cdsEquipamentos.SetString(campo::kIP, ip);
        t.cdsEquipamentos.Post();
    }
    arquivos.Fecha();
    arquivos.FechaEquipamentos();

    // Last night, for the past-nights window: a busy evening at three gates.
    TabelasReceptor ontem;
    ontem.cdsHistorico.Open();
    const common::DateTime dia =
        common::DateTime::FromMs(NoiteDe(common::Now()).Ms() - common::DateTime::kMsPerDay);
    uint32_t sorteio = 12345;
    for (int i = 0; i < 900; ++i) {
        sorteio = sorteio * 1103515245u + 12345u;
        // More people leave towards the small hours.
        const double fracao = std::sqrt((sorteio >> 8) % 10000 / 10000.0);
        const int64_t ms =
            dia.Ms() + 19 * 3'600'000LL + static_cast<int64_t>(fracao * 9 * 3'600'000);
        const char* estado =
            i % 11 == 0 ? "Bloqueado" : (i % 29 == 0 ? "N\xE3o Girou" : "Liberado");
        ontem.cdsHistorico.Insert();
        ontem.cdsHistorico.SetDateTime(campo::kDataHora, common::DateTime::FromMs(ms));
        ontem.cdsHistorico.SetString(campo::kCracha,
                                     common::IntToStrMin(1000 + (sorteio >> 4) % 9000, 16));
        ontem.cdsHistorico.SetString(campo::kEstado, estado);
        ontem.cdsHistorico.SetInteger(campo::kTerminal, 1 + static_cast<int>(sorteio >> 20) % 3);
        ontem.cdsHistorico.Post();
    }
    SaveTableToFile(ontem.cdsHistorico, ArquivoDoDia(pasta, dia).string());
}

void Salva(QWidget* janela, const std::string& arquivo) {
    Espera(300);
    if (!janela->grab().save(QString::fromStdString(arquivo))) {
        std::fprintf(stderr, "cannot write %s\n", arquivo.c_str());
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string saida = argv[1];
    QTemporaryDir pasta;
    const std::filesystem::path dir = pasta.path().toStdString();
    std::filesystem::create_directories(dir / "run");
    ::chmod((dir / "run").c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumora"));
    QApplication::setQuitOnLastWindowClosed(false);
    const uint16_t porta = PortaLivre();
    setenv("LUMORA_PORTA_TCP", std::to_string(porta).c_str(), 1);
    Semeia(dir);

    TFormPrincipal principal(dir);
    TformLog log;
    principal.DefineLog(&log);
    principal.show();
    principal.btIniciarClick();
    // Listening on a free port; the picture shows the design value, as an operator sees it.
    principal.findChild<QLineEdit*>(QStringLiteral("edPortaTCP"))->setText(QStringLiteral("2050"));

    termsim::SimTerminal a("01"), b("02");
    a.Connect("127.0.0.1", porta, "127.0.0.5");
    b.Connect("127.0.0.1", porta, "127.0.0.6");
    Espera(2500);  // wake and clock, one second apart for each
    a.SendCardRead("0000000000001234");
    Espera(300);
    a.SendTurnstileResult("G");
    Espera(300);
    b.SendCardRead("0000000000007777");  // not on the white list
    Espera(300);
    b.SendCardRead("0000000000004711");
    Espera(300);
    b.SendTurnstileResult("N");
    Espera(500);

    auto* paginas = principal.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    principal.AtualizaTerminais();
    const char* nomes[] = {"comandas", "historico", "configuracoes", "equipamentos"};
    for (int i = 0; i < 4; ++i) {
        paginas->setCurrentIndex(i);
        Salva(&principal, saida + "/lumora-" + nomes[i] + ".png");
    }
    log.show();
    Salva(&log, saida + "/lumora-log.png");
    principal.MostraTerminais();
    Salva(principal.findChild<QWidget*>(QStringLiteral("formTerminais")),
          saida + "/lumora-terminais.png");
    TformHistoricos* historicos = principal.AbreHistoricos();
    historicos->AbreDia(
        common::DateTime::FromMs(NoiteDe(common::Now()).Ms() - common::DateTime::kMsPerDay));
    while (historicos->Carregando()) Espera(50);
    Salva(historicos, saida + "/lumora-historicos.png");

    a.Close();
    b.Close();
    Espera(300);
    principal.EncerraSemPergunta();
    return 0;
}
