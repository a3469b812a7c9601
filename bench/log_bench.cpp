// One hour of a busy venue's traffic through the traffic-log window: whether the window keeps
// up and whether memory stays flat once each area holds its most lines.
//
// The lines go straight into the window's own append functions, as the connection server
// writes them, at the volume the terminals would cause; no network is involved, so the figures
// are the window's alone. The window is shown (on the offscreen platform when there is no
// display) and the event loop runs after every simulated second, so layout and painting are
// paid for as on a desktop.
//   bench_log [--terminals N] [--cycle-seconds S] [--hours H] [--line-bytes B] [--hidden]
//             [--unbounded]
// --line-bytes pads every line to B bytes, as a peer sending the longest messages would;
// --hidden keeps the window hidden all along, as under the service.
// --unbounded lifts the bound (and gives the areas their undo history back), as the window was
// before it had one, for comparison.
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/Convert.h"
#include "receiver/shell/uLog.h"

namespace {

// Resident memory of this process, in MiB.
double RssMiB() {
    std::ifstream status("/proc/self/status");
    std::string chave;
    while (status >> chave) {
        if (chave == "VmRSS:") {
            long kb = 0;
            status >> kb;
            return static_cast<double>(kb) / 1024.0;
        }
        status.ignore(4096, '\n');
    }
    return 0.0;
}

std::string Dois(int n) { return common::IntToStrMin(n, 2); }

// The lines of one cycle of one terminal, as the server logs them: the card read in
// "Recebidos", the hand-in reply in "Enviados", the turnstile's result in "Recebidos".
struct Linhas {
    std::string leitura, resposta, resultado;
};

Linhas Ciclo(int terminal, long segundo, long ciclo) {
    const std::string t = Dois(terminal % 100);
    const std::string hora = Dois(static_cast<int>(segundo / 3600 % 24)) + ":" +
                             Dois(static_cast<int>(segundo / 60 % 60)) + ":" +
                             Dois(static_cast<int>(segundo % 60));
    const std::string carimbo =
        "<[15/03/24 " + hora + " " + common::IntToStrMin(static_cast<int>(ciclo % 1000), 3) + "] ";
    const std::string cartao = common::IntToStrMin(static_cast<int>(ciclo % 100000000), 16);
    const std::string ip =
        "[10.0." + std::to_string(terminal / 200) + "." + std::to_string(terminal % 200 + 20) + "]";
    return {carimbo + t + ";09;0;" + cartao + ";0;15;03;24;" + hora + ";" + hora.substr(0, 2),
            ip + t + ";20;03;Por Favor Libere;   a Comanda    ;\r", carimbo + t + ";10;G;0"};
}

}  // namespace

int main(int argc, char* argv[]) {
    int terminais = 256;
    double cicloSegundos = 2.0;
    double horas = 1.0;
    bool semLimite = false;
    bool escondida = false;
    size_t bytesLinha = 0;
    for (int i = 1; i < argc; ++i) {
        const char* valor = i + 1 < argc ? argv[i + 1] : "0";
        if (!std::strcmp(argv[i], "--unbounded")) {
            semLimite = true;
        } else if (!std::strcmp(argv[i], "--terminals")) {
            terminais = std::atoi(valor);
            ++i;
        } else if (!std::strcmp(argv[i], "--cycle-seconds")) {
            cicloSegundos = std::atof(valor);
            ++i;
        } else if (!std::strcmp(argv[i], "--hidden")) {
            escondida = true;
        } else if (!std::strcmp(argv[i], "--line-bytes")) {
            bytesLinha = static_cast<size_t>(std::atol(valor));
            ++i;
        } else if (!std::strcmp(argv[i], "--hours")) {
            horas = std::atof(valor);
            ++i;
        }
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    lumora::TformLog log;
    if (semLimite) {
        for (auto* area : log.findChildren<QPlainTextEdit*>()) {
            area->setMaximumBlockCount(0);
            area->setUndoRedoEnabled(true);
        }
    }
    if (!escondida) log.show();
    QCoreApplication::processEvents();

    const long segundos = static_cast<long>(horas * 3600.0);
    const double ciclosPorSegundo = terminais / cicloSegundos;
    std::printf(
        "traffic-log window: %d terminals, a cycle every %.1f s each, %.2f h simulated "
        "(%s platform), lines of %zu bytes, window %s\n",
        terminais, cicloSegundos, horas, qPrintable(QGuiApplication::platformName()), bytesLinha,
        escondida ? "hidden" : "shown");
    if (semLimite) {
        std::printf("  %-44s %10s\n", "bound", "none");
    } else {
        std::printf("  %-44s %10d lines, %zu bytes per area\n", "bound",
                    lumora::TformLog::kMaxLinhas, lumora::TformLog::kMaxBytesArea);
    }
    const double rssInicio = RssMiB();
    std::printf(
        "  %-44s %10.1f MiB\n",
        escondida ? "RSS before, window hidden and empty" : "RSS before, window shown and empty",
        rssInicio);

    QElapsedTimer total;
    total.start();
    double acumulado = 0.0;
    long ciclo = 0;
    long linhas = 0;
    double piorSegundoMs = 0.0;
    std::vector<double> segundosMs;
    segundosMs.reserve(static_cast<size_t>(segundos));
    double rssCheio = 0.0;
    double rssMax = 0.0;
    const long marcaCheio = 120;  // by then both areas are at their bound
    for (long s = 0; s < segundos; ++s) {
        QElapsedTimer este;
        este.start();
        acumulado += ciclosPorSegundo;
        for (; acumulado >= 1.0; acumulado -= 1.0, ++ciclo) {
            const int terminal = static_cast<int>(ciclo % terminais);
            Linhas l = Ciclo(terminal, s, ciclo);
            for (std::string* linha : {&l.leitura, &l.resposta, &l.resultado}) {
                // Padded before a sent text's closing CR.
                const size_t fim = linha->size() - (linha->back() == '\r' ? 1 : 0);
                if (linha->size() < bytesLinha) linha->insert(fim, bytesLinha - linha->size(), 'x');
            }
            log.Recebidos(l.leitura);
            log.Enviados(l.resposta);
            log.Recebidos(l.resultado);
            linhas += 3;
        }
        // What the window does with a second's lines before the next second's come: layout,
        // scrolling, painting. Until this returns the window answers nobody.
        QCoreApplication::processEvents();
        const double ms = static_cast<double>(este.nsecsElapsed()) / 1e6;
        segundosMs.push_back(ms);
        piorSegundoMs = std::max(piorSegundoMs, ms);
        if (s == marcaCheio) rssCheio = RssMiB();
        if (s % 60 == 0) rssMax = std::max(rssMax, RssMiB());
    }
    const double rssFim = RssMiB();
    rssMax = std::max(rssMax, rssFim);
    std::sort(segundosMs.begin(), segundosMs.end());
    auto quantil = [&](double q) {
        if (segundosMs.empty()) return 0.0;
        return segundosMs[std::min(
            segundosMs.size() - 1,
            static_cast<size_t>(q * static_cast<double>(segundosMs.size())))];
    };

    std::printf("  %-44s %10ld (%ld lines)\n", "cycles", ciclo, linhas);
    std::printf("  %-44s %10.1f s\n", "wall time for the simulated span",
                static_cast<double>(total.elapsed()) / 1000.0);
    std::printf("  %-44s %10.2f ms\n", "one second of traffic, median", quantil(0.5));
    std::printf("  %-44s %10.2f ms\n", "one second of traffic, 99th percentile", quantil(0.99));
    std::printf("  %-44s %10.2f ms   (target: well under 1000)\n", "one second of traffic, worst",
                piorSegundoMs);
    if (segundos > marcaCheio) {
        std::printf("  %-44s %10.1f MiB\n", "RSS after 2 simulated minutes", rssCheio);
    }
    std::printf("  %-44s %10.1f MiB\n", "RSS after, end of the span", rssFim);
    std::printf("  %-44s %10.1f MiB\n", "RSS highest seen (each simulated minute)", rssMax);
    if (segundos > marcaCheio) {
        std::printf("  %-44s %+10.1f MiB   (flat: about 0)\n", "growth from 2 minutes to the end",
                    rssFim - rssCheio);
    }
    if (escondida) {
        log.show();
        QCoreApplication::processEvents();
        std::printf("  %-44s %10.1f MiB\n", "RSS once the window is shown", RssMiB());
    }
    const auto* recebidos = log.findChild<QPlainTextEdit*>(QStringLiteral("memoRecebidos"));
    const auto* enviados = log.findChild<QPlainTextEdit*>(QStringLiteral("MemoEnviados"));
    std::printf("  %-44s %10d / %d\n", "lines held, Recebidos / Enviados",
                recebidos->document()->blockCount(), enviados->document()->blockCount());
    std::printf("  %-44s %10d / %d\n", "characters held, Recebidos / Enviados",
                recebidos->document()->characterCount(), enviados->document()->characterCount());
    return 0;
}
