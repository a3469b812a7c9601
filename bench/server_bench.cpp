// The connection server under load: a storm of connecting terminals, and 256 terminals
// cycling card reads and turnstile results. The server runs on this thread's event loop as
// in the program; the simulated terminals run on another thread.
#include <netinet/in.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "BenchUtil.h"
#include "LoadDriver.h"
#include "TerminalSim.h"
#include "common/Unhandled.h"
#include "receiver/control/ArquivosReceptor.h"
#include "receiver/link/Servidor.h"

using namespace lumora;
using namespace std::chrono;

namespace {

struct Silencio : ILogTrafego, IListaTerminais, IAvisosOperador {
    void Recebidos(const std::string&) override {}
    void Enviados(const std::string&) override {}
    void Limpa() override {}
    void Adiciona(const std::string&) override {}
    void RemovePrimeiro(const std::string&) override {}
    void Aviso(const std::string& t) override { std::fprintf(stderr, "notice: %s\n", t.c_str()); }
};

struct Receptor {
    Receptor(int cartoes, int registrados) : pasta(bench::TempFolder("lumora-bench-server")) {
        bench::WriteFile(pasta / "Comandas.xml", bench::CardList(cartoes));
        arquivos.Inicia(NoiteDe(common::Now()));
        std::vector<common::Row> equip{{std::string("01"), std::string("127.0.0.1")},
                                       {std::string("02"), std::string("127.0.0.2")}};
        for (int i = 0; i < registrados; ++i) {
            equip.push_back(
                {common::IntToStrMin(10 + i % 90, 2), termsim::NthLoopbackAddress("127.0.2.1", i)});
        }
        tabelas.cdsEquipamentos.Load(std::move(equip));
        servidor.btIniciarClick("0");  // any free port
    }
    ~Receptor() { std::filesystem::remove_all(pasta); }

    std::filesystem::path pasta;
    TabelasReceptor tabelas;
    TArquivosReceptor arquivos{tabelas, pasta};
    AjustesFixos ajustes;
    TMotorSaida motor{tabelas, ajustes, arquivos};
    Silencio silencio;
    TServidorTerminais servidor{motor, silencio, silencio, silencio};
};

uint16_t Porta(TServidorTerminais& s) {
    sockaddr_in a{};
    socklen_t n = sizeof a;
    getsockname(s.Sock().Handle(), reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
}

// Runs `carga` on a thread while this thread serves the receiver's events.
template <class F>
void Serve(F carga) {
    std::atomic<bool> fim{false};
    std::thread t([&] {
        carga();
        fim = true;
    });
    while (!fim) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    t.join();
}

double Ms(nanoseconds d) { return duration<double, std::milli>(d).count(); }

void Tempestade() {
    constexpr int kTerminais = 100;
    Receptor r(1000, kTerminais);
    const uint16_t porta = Porta(r.servidor);
    std::vector<double> relogios;   // ms after the storm began
    std::vector<double> latencias;  // the greeted terminal's card reads during the storm
    double conexao = 0;             // ms until every terminal was connected
    Serve([&] {
        termsim::SimTerminal saudado("02");
        saudado.Connect("127.0.0.1", porta, "127.0.0.2");
        for (int i = 0; i < 2; ++i) saudado.WaitMessage(3s);  // wake, clock
        std::vector<termsim::SimTerminal> ts(kTerminais);
        const auto inicio = steady_clock::now();
        for (int i = 0; i < kTerminais; ++i) {
            const auto t0 = steady_clock::now();
            ts[i].Connect("127.0.0.1", porta, termsim::NthLoopbackAddress("127.0.2.1", i));
            const double d = Ms(steady_clock::now() - t0);
            if (d > 50) std::fprintf(stderr, "connect %d took %.0f ms\n", i, d);
        }
        conexao = Ms(steady_clock::now() - inicio);
        std::vector<bool> pronto(kTerminais, false);
        int faltam = kTerminais;
        while (faltam > 0 && steady_clock::now() - inicio < 30s) {
            const auto enviado = saudado.SendCardRead("0000000000000500");
            if (auto m = saudado.WaitMessage(2s)) latencias.push_back(Ms(m->at - enviado));
            for (int i = 0; i < kTerminais; ++i) {
                if (pronto[i]) continue;
                ts[i].ReadAvailable();
                while (auto m = ts[i].PopMessage()) {
                    if (m->bytes.size() > 6 && m->bytes.compare(2, 4, ";01;") == 0) {
                        relogios.push_back(Ms(m->at - inicio));
                        pronto[i] = true;
                        --faltam;
                    }
                }
            }
            std::this_thread::sleep_for(10ms);
            saudado.SendTurnstileResult("G");
        }
    });
    std::sort(relogios.begin(), relogios.end());
    std::sort(latencias.begin(), latencias.end());
    auto pct = [](const std::vector<double>& v, double p) {
        return v.empty() ? -1.0 : v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))];
    };
    std::printf("Storm: %d registered terminals connecting at once\n", kTerminais);
    std::printf("  all %d connected after %.0f ms\n", kTerminais, conexao);
    std::printf(
        "  clock messages received: %zu; first %.0f ms, median %.0f ms, last %.0f ms after the "
        "storm began\n",
        relogios.size(), pct(relogios, 0), pct(relogios, 0.5), pct(relogios, 1.0));
    std::printf(
        "  greeted terminal's card reads during the storm: %zu; reply p50 %.2f ms, p99 %.2f ms, "
        "max %.2f ms\n",
        latencias.size(), pct(latencias, 0.5), pct(latencias, 0.99), pct(latencias, 1.0));
}

void Ciclos(int cartoes, std::chrono::milliseconds intervalo) {
    Receptor r(cartoes, 0);
    termsim::LoadConfig c;
    c.port = Porta(r.servidor);
    c.terminals = 256;
    c.source = "127.0.3.1";
    c.terminalNumber = "01";
    c.card = common::IntToStrMin(cartoes / 3, 16);
    c.duration = 10s;
    c.interval = intervalo;
    termsim::LoadSummary s;
    Serve([&] { s = termsim::RunLoad(c); });
    const std::string ritmo = intervalo.count() ? "a cycle per terminal every " +
                                                      std::to_string(intervalo.count()) + " ms"
                                                : "cycles as fast as answered";
    std::printf(
        "256 terminals, %s, %d cards, %.0f s: %ld cycles, %.0f messages/s; card read to reply p50 "
        "%.2f ms, p99 %.2f ms, max %.2f ms; %d failed terminals; %zu history rows\n",
        ritmo.c_str(), cartoes, duration<double>(s.elapsed).count(), s.cycles,
        s.MessagesPerSecond(), Ms(s.Percentile(50)), Ms(s.Percentile(99)), Ms(s.Max()),
        s.failedTerminals, static_cast<size_t>(r.tabelas.cdsHistorico.RecordCount()));
    for (size_t i = 0; i < std::min<size_t>(3, s.problems.size()); ++i) {
        std::printf("    %s\n", s.problems[i].c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    common::SetUnhandledFailureHandler(
        [](const std::string& t) { std::fprintf(stderr, "failure: %s\n", t.c_str()); });
    // "storm" or "cycles" runs only that part.
    const std::string parte = argc > 1 ? argv[1] : "";
    if (parte != "cycles") Tempestade();
    if (parte == "storm") return 0;
    for (auto intervalo : {0ms, 2000ms}) {
        Ciclos(1000, intervalo);
        Ciclos(100000, intervalo);
    }
    return 0;
}
