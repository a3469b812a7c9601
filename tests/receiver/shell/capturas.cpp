// Takes the pictures of the windows for the documentation: the four tabs, the traffic log,
// the terminals' status, a past night, the close question and the CSV export's file chooser,
// with a few cards, two simulated terminals and their traffic. Not a test; run it under a
// display (scripts/screenshots.sh starts a virtual one).
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "TerminalSim.h"
#include "common/Convert.h"
#include "common/DateTime.h"
#include "common/qt/TraducaoQt.h"
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

// Runs `abre`, which opens a modal dialog and returns when it closes: the dialog's picture is
// taken meanwhile, then `fecha` answers it.
void SalvaModal(const std::string& arquivo, const std::function<void()>& abre,
                const std::function<void(QWidget*)>& fecha) {
    QTimer::singleShot(0, [&] {
        QWidget* dialogo = QApplication::activeModalWidget();
        if (!dialogo) {
            std::fprintf(stderr, "no dialog for %s\n", arquivo.c_str());
            return;
        }
        Salva(dialogo, arquivo);
        fecha(dialogo);
    });
    abre();
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
    // The file chooser opens in the documents folder of a Brazilian desktop, with the exports
    // of a night before.
    const std::filesystem::path casa = dir / "casa";
    std::filesystem::create_directories(casa / ".config");
    std::filesystem::create_directories(casa / "Documentos");
    setenv("HOME", casa.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (casa / ".config").c_str(), 1);
    std::FILE* pastas = std::fopen((casa / ".config" / "user-dirs.dirs").c_str(), "w");
    if (pastas) {
        std::fputs("XDG_DOCUMENTS_DIR=\"$HOME/Documentos\"\n", pastas);
        std::fclose(pastas);
    }
    const std::string anteontem =
        common::DateTime::FromMs(NoiteDe(common::Now()).Ms() - 2 * common::DateTime::kMsPerDay)
            .Format("yyyy-mm-dd");
    for (const char* tipo : {"registros_", "totais_"}) {
        if (std::FILE* f =
                std::fopen((casa / "Documentos" / (tipo + anteontem + ".csv")).c_str(), "w"))
            std::fclose(f);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumora"));
    QApplication::setQuitOnLastWindowClosed(false);
    // As the receiver does: "Sim" and "Não", "Salvar" in the pictures.
    common::qt::InstalaTraducaoQt();
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
    // "Exportar Registros (CSV)...": Qt's own file chooser, left without a file.
    SalvaModal(
        saida + "/lumora-exportar.png",
        [historicos] {
            historicos->findChild<QAbstractButton*>(QStringLiteral("btExportarRegistros"))->click();
        },
        [](QWidget* dialogo) { static_cast<QDialog*>(dialogo)->reject(); });
    historicos->close();

    // Closing the main window asks first; "Não" keeps the receiver running.
    SalvaModal(
        saida + "/lumora-finalizar.png", [&principal] { principal.close(); },
        [](QWidget* dialogo) {
            if (auto* caixa = qobject_cast<QMessageBox*>(dialogo))
                caixa->button(QMessageBox::No)->click();
        });

    a.Close();
    b.Close();
    Espera(300);
    principal.EncerraSemPergunta();
    return 0;
}
