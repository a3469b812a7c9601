// How long a refresh takes against simulated modules, next to the protocol's own waits:
// with k answering and j silent modules and a response time T, the waits alone are
// (2 + 4·j)·T (the silence after "X", the silence after the second family's query, and four
// unanswered reads per silent module); everything above that is the program's own cost.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "../tests/manager/modules/JanelaFalsa.h"
#include "ModuleSim.h"
#include "manager/modules/Atualizacao.h"
#include "manager/modules/EndpointUDP.h"
#include "tests/support/RedePrivada.h"

using namespace std::chrono_literals;

namespace {

double Atualiza(int respondem, int mudos, int tempo, int atrasoMs) {
    modsim::Modules modulos;
    for (int i = 0; i < respondem + mudos; ++i) {
        modsim::TibboModule m;
        m.ip = "127.0.1." + std::to_string(i + 1);
        m.mac = "0.36.119.87.8." + std::to_string(i);
        if (i >= respondem) {
            for (const char* c : {"L", "GNM", "GGI", "GDI"}) m.behaviours[c].silent = true;
        } else if (atrasoMs > 0) {
            for (const char* c : {"L", "GNM", "GGI", "GDI"})
                m.behaviours[c].delay = std::chrono::milliseconds(atrasoMs);
        }
        modulos.tibbo.push_back(m);
    }
    modsim::BrivantModule b;
    b.ip = "127.0.2.1";
    modulos.brivant.push_back(b);
    modsim::ModuleSim sim(modulos);
    sim.Start();

    modrevo::teste::JanelaFalsa janela;
    janela.tempo = std::to_string(tempo);
    modrevo::TUDPEndpoint client(8192), aux(8192), safe(512);
    modrevo::TAtualizacao a(janela, client, aux, safe);
    a.FormCreate();
    const auto inicio = std::chrono::steady_clock::now();
    a.AtualizaListas(false);
    const std::chrono::duration<double, std::milli> d = std::chrono::steady_clock::now() - inicio;
    if (a.tbmColetores.RecordCount() != respondem + mudos || a.tbmModulos.RecordCount() != 1)
        std::printf("  (listed %d and %d modules, expected %d and 1)\n",
                    a.tbmColetores.RecordCount(), a.tbmModulos.RecordCount(), respondem + mudos);
    return d.count();
}

// Modules behind a router, found only through a full address book: four /22 networks and
// eight single addresses, 4,096 addresses in all; `n` routed modules spread over them. With
// `roteados` false the same modules sit on this segment and all answer the one broadcast.
// `fila`: the receive queue asked of the system for the endpoints (0: the system's default).
void AtualizaPelaAgenda(int n, int tempo, bool roteados, int fila) {
    std::vector<modrevo::EntradaAgenda> agenda =
        modrevo::teste::Agenda({"127.1.0.0/22", "127.1.4.0/22", "127.1.8.0/22", "127.1.12.0/22"});
    for (int i = 1; i <= 8; ++i)
        agenda.push_back(modrevo::teste::Agenda({"127.2.0." + std::to_string(i)}).front());
    const std::vector<std::string> enderecos = modrevo::EnderecosDaAgenda(agenda);
    modsim::Modules modulos;
    const std::size_t passo = enderecos.size() / static_cast<std::size_t>(n);
    for (int i = 0; i < n; ++i) {
        modsim::TibboModule m;
        m.ip = enderecos[static_cast<std::size_t>(i) * passo];
        m.mac = "0.36.119.88." + std::to_string(i / 256) + "." + std::to_string(i % 256);
        m.routed = roteados;
        modulos.tibbo.push_back(m);
    }
    modsim::ModuleSim sim(modulos);
    sim.Start();
    modrevo::teste::JanelaFalsa janela;
    janela.tempo = std::to_string(tempo);
    if (roteados) janela.agenda = agenda;
    modrevo::TUDPEndpoint client(8192, true, fila), aux(8192, true, fila), safe(512, true, fila);
    modrevo::TAtualizacao a(janela, client, aux, safe);
    a.FormCreate();
    const long long antes = lumora::teste::RcvbufErrors();
    const auto inicio = std::chrono::steady_clock::now();
    a.AtualizaListas(false);
    const std::chrono::duration<double, std::milli> d = std::chrono::steady_clock::now() - inicio;
    std::printf("%-10s %8zu %10d %8d %8d %12.0f %14lld %10u\n", roteados ? "book" : "broadcast",
                roteados ? enderecos.size() : 0, client.FilaRecepcao(), n,
                a.tbmColetores.RecordCount(), d.count(), lumora::teste::RcvbufErrors() - antes,
                client.Perdidos());
}

}  // namespace

int main() {
    const std::string motivo = lumora::teste::EntraEmRedePrivada();
    if (!motivo.empty()) {
        std::printf("bench_refresh needs a private network namespace: %s\n", motivo.c_str());
        return 1;
    }
    const int T = 300;
    std::printf("Refresh against simulated modules, response time T = %d ms\n", T);
    std::printf("%10s %6s %10s %12s %12s %8s\n", "answering", "silent", "delay/ms", "waits/ms",
                "took/ms", "over");
    const struct {
        int k, j, atraso;
    } casos[] = {{0, 0, 0}, {4, 0, 0}, {16, 0, 0}, {4, 1, 0}, {8, 2, 0}, {4, 0, 20}, {32, 1, 5}};
    for (const auto& c : casos) {
        const double esperas = (2.0 + 4.0 * c.j) * T + 4.0 * c.k * c.atraso;
        const double levou = Atualiza(c.k, c.j, T, c.atraso);
        std::printf("%10d %6d %10d %12.0f %12.1f %7.1f%%\n", c.k, c.j, c.atraso, esperas, levou,
                    100.0 * (levou - esperas) / esperas);
    }
    std::printf(
        "\n600 modules behind a router through a 4,096-address book, or on this segment,\n"
        "T = %d ms; queue: the receive queue the system gave UDPClient\n",
        T);
    std::printf("%-10s %8s %10s %8s %8s %12s %14s %10s\n", "found by", "book", "queue", "modules",
                "listed", "took/ms", "RcvbufErrors", "reported");
    for (const bool roteados : {true, false})
        for (const int fila : {0, modrevo::kFilaRecepcao})
            AtualizaPelaAgenda(600, T, roteados, fila);
    return 0;
}
