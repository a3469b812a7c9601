// Opening a busy past night in the past-nights window: time from the choice of the day to the
// first paint of its rows, and the memory it takes.
//
// A history file of N rows (default 100,000: a night of a large venue) is written by the
// receiver's own file code into a temporary program folder, then the window opens it as the
// operator would. On the offscreen platform when there is no display.
//   bench_historicos [--rows N] [--keep DIR]
// --keep DIR writes the folder at DIR and leaves it (for trying the window or --report on it).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "common/DateTime.h"
#include "receiver/control/Tabelas.h"
#include "receiver/control/TableFile.h"
#include "receiver/shell/uHistoricos.h"

namespace {

// Resident memory of this process now and at its highest, in MiB.
double StatusMiB(const char* chaveProcurada) {
    std::ifstream status("/proc/self/status");
    std::string chave;
    while (status >> chave) {
        if (chave == chaveProcurada) {
            long kb = 0;
            status >> kb;
            return static_cast<double>(kb) / 1024.0;
        }
        status.ignore(4096, '\n');
    }
    return 0.0;
}

// Waits for the first paint of a widget.
struct Pintura : QObject {
    bool pintou = false;
    bool eventFilter(QObject* alvo, QEvent* evento) override {
        if (evento->type() == QEvent::Paint) pintou = true;
        return QObject::eventFilter(alvo, evento);
    }
};

}  // namespace

// A Saturday-like night from 18:00 on, rows spread over twelve hours, eight gates; `unica`: with
// one card that no other night has.
void EscreveNoite(const std::filesystem::path& pasta, common::DateTime dia, int linhas,
                  bool unica) {
    lumora::TabelasReceptor t;
    t.cdsHistorico.Open();
    const char* estados[] = {"Liberado", "Liberado", "Liberado", "Bloqueado", "N\xE3o Girou"};
    for (int i = 0; i < linhas; ++i) {
        t.cdsHistorico.Append();
        t.cdsHistorico.SetDateTime(
            lumora::campo::kDataHora,
            common::DateTime::FromMs(dia.Ms() + 18 * 3'600'000LL +
                                     static_cast<int64_t>(i) * 12 * 3'600'000LL / linhas));
        t.cdsHistorico.SetString(lumora::campo::kCracha,
                                 unica && i == linhas / 2
                                     ? std::string("9999999999999999")
                                     : common::IntToStrMin(i * 7919 % 999983, 16));
        t.cdsHistorico.SetString(lumora::campo::kEstado, estados[i % 5]);
        t.cdsHistorico.SetInteger(lumora::campo::kTerminal, 1 + i % 8);
        t.cdsHistorico.Post();
    }
    lumora::SaveTableToFile(t.cdsHistorico, lumora::ArquivoDoDia(pasta, dia).string());
}

// Runs the built receiver's command line on the folder: wall time and its peak memory.
void MedeComando(const char* rotulo, const std::vector<std::string>& argumentos) {
#ifdef LUMORA_EXE
    std::vector<std::string> textos = {LUMORA_EXE};
    textos.insert(textos.end(), argumentos.begin(), argumentos.end());
    std::vector<char*> argv;
    for (auto& t : textos) argv.push_back(t.data());
    argv.push_back(nullptr);
    QElapsedTimer relogio;
    relogio.start();
    const pid_t filho = fork();
    if (filho == 0) {
        const int nada = ::open("/dev/null", O_WRONLY);
        ::dup2(nada, 1);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage uso{};
    ::wait4(filho, &status, 0, &uso);
    std::printf("%s: %.0f ms, peak resident %.1f MiB, exit status %d\n", rotulo,
                static_cast<double>(relogio.nsecsElapsed()) / 1e6,
                static_cast<double>(uso.ru_maxrss) / 1024.0, WEXITSTATUS(status));
#else
    (void)rotulo;
    (void)argumentos;
#endif
}

int main(int argc, char* argv[]) {
    int linhas = 100'000;
    int noites = 1;
    std::string manter;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rows") && i + 1 < argc) linhas = std::atoi(argv[++i]);
        if (!std::strcmp(argv[i], "--nights") && i + 1 < argc) noites = std::atoi(argv[++i]);
        if (!std::strcmp(argv[i], "--keep") && i + 1 < argc) manter = argv[++i];
    }
    if (linhas < 1 || noites < 1) {
        std::fprintf(stderr, "usage: bench_historicos [--rows N] [--nights N] [--keep DIR]\n");
        return 2;
    }
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);

    const std::filesystem::path pasta =
        manter.empty() ? bench::TempFolder("bench-historicos") : std::filesystem::path(manter);
    std::filesystem::create_directories(pasta / "Historicos");
    const common::DateTime dia = *common::DateTime::FromDate(2026, 12, 5);
    // The night opened and, for the searches, the nights before it, as many rows each; each
    // written by a child process, so that none of the writing's memory counts below.
    for (int n = noites - 1; n >= 0; --n) {
        const common::DateTime esta =
            common::DateTime::FromMs(dia.Ms() - n * common::DateTime::kMsPerDay);
        if (const pid_t filho = fork(); filho == 0) {
            EscreveNoite(pasta, esta, linhas, noites > 1 && n == noites / 2);
            _exit(0);
        } else {
            int status = 0;
            waitpid(filho, &status, 0);
        }
    }
    const auto tamanho = std::filesystem::file_size(lumora::ArquivoDoDia(pasta, dia));

    QApplication app(argc, argv);
    // The peak counts from here: writing the file above is not the window's.
    std::ofstream("/proc/self/clear_refs") << "5";
    const double rssAntes = StatusMiB("VmRSS:");
    QElapsedTimer relogio;
    relogio.start();
    lumora::TformHistoricos janela(pasta);
    janela.show();
    auto* grade = janela.findChild<QTableView*>(QStringLiteral("grdRegistros"));
    Pintura pintura;
    grade->viewport()->installEventFilter(&pintura);
    QApplication::processEvents();
    pintura.pintou = false;
    relogio.restart();
    // How long the event loop (where the terminals are answered) is held at most meanwhile.
    QElapsedTimer desdeTique;
    desdeTique.start();
    qint64 maiorParadaNs = 0;
    QTimer tique;
    tique.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tique, &QTimer::timeout, [&] {
        maiorParadaNs = std::max(maiorParadaNs, desdeTique.nsecsElapsed());
        desdeTique.restart();
    });
    tique.start(1);
    janela.AbreDia(dia);
    // The file is read off the program's thread; the first paint that counts is the rows'.
    while (janela.Carregando() || !pintura.pintou) {
        if (janela.Carregando()) pintura.pintou = false;
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    const double ms = static_cast<double>(relogio.nsecsElapsed()) / 1e6;
    tique.stop();
    const double rssDepois = StatusMiB("VmRSS:");

    std::printf("platform %s, history file of %d rows (%.1f MiB)\n",
                qPrintable(QGuiApplication::platformName()), linhas,
                static_cast<double>(tamanho) / (1024.0 * 1024.0));
    std::printf("time from choosing the day to the first paint of its rows: %.0f ms\n", ms);
    std::printf("longest the event loop was held meanwhile: %.1f ms\n",
                static_cast<double>(maiorParadaNs) / 1e6);
    std::printf("rows shown %zu, exits at 23:00 %d\n", janela.Mostradas().size(),
                janela.Totais().porHora[23].liberado);
    std::printf(
        "resident memory: %.1f MiB before opening, %.1f MiB with the day open, peak %.1f MiB\n",
        rssAntes, rssDepois, StatusMiB("VmHWM:"));
    const std::string opcaoPasta = "--program-folder=" + pasta.string();
    MedeComando("Lumora --report of that night", {"--report", "2026-12-05", opcaoPasta});
    if (noites > 1) {
        const std::string faixa =
            common::DateTime::FromMs(dia.Ms() - (noites - 1) * common::DateTime::kMsPerDay)
                .Format("yyyy-mm-dd") +
            "..2026-12-05";
        MedeComando("Lumora --report of every night", {"--report", faixa, opcaoPasta});
    }
    MedeComando("Lumora --find of a card in one night", {"--find", "9999999999999999", opcaoPasta});
    MedeComando("Lumora --find of a card in every night",
                {"--find", "0000000000007919", opcaoPasta});
    if (manter.empty()) std::filesystem::remove_all(pasta);
    return 0;
}
