// The real Modrevo executable, started in this test's private network namespace without a
// display: its first refresh reaches the simulated modules, those behind a router through the
// address book of its settings file, and SIGTERM ends it cleanly.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <thread>

#include "ApoioModrevo.h"
#include "tests/support/Processo.h"

using namespace apoio;
using namespace std::chrono_literals;

namespace {

class ProgramaTest : public ModrevoTest {
  protected:
    void TearDown() override {
        programa.Mata();
        ModrevoTest::TearDown();
    }

    // `semRede`: in a network namespace of its own with loopback only and no route, where
    // every send fails.
    void Inicia(bool semRede = false) {
        std::filesystem::create_directories(pasta / "run");
        ::chmod((pasta / "run").c_str(), 0700);
        lumora::teste::Execucao e;
        e.executavel = MODREVO_EXE;
        if (semRede) {
            e.executavel = "/usr/bin/unshare";
            e.argumentos = {"-n", "sh", "-c",
                            std::string("ip link set lo up && exec ") + MODREVO_EXE};
        }
        e.ambiente = {"XDG_CONFIG_HOME=" + configuracao.string(),
                      "XDG_RUNTIME_DIR=" + (pasta / "run").string(), "QT_QPA_PLATFORM=offscreen"};
        e.erros = pasta / "stderr.txt";
        ASSERT_EQ(programa.Inicia(e), "");
    }

    lumora::teste::Processo programa;
};

TEST_F(ProgramaTest, RefreshesAtStartAndEndsOnSigterm) {
    IniciaSim(modsim::DefaultModules());
    Inicia();
    // The whole first refresh: the broadcast, four reads of each module, the second family.
    std::vector<Comando> esperados{{"255.255.255.255", "X"}};
    for (const auto& m : sim->Snapshot().tibbo)
        for (const char* t : {"L581947", "GNM", "GGI", "GDI"}) esperados.push_back({m.ip, t});
    // No name server can be reached here (see main): finding this computer's address must not
    // wait for one, each try of which would hold the first broadcast back by 5 s.
    const auto inicio = std::chrono::steady_clock::now();
    const auto limite = inicio + 15s;
    while (std::chrono::steady_clock::now() < limite && Descobertas() == 0) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, 4s) << "first broadcast held back";
    while (std::chrono::steady_clock::now() < limite && Consultas() == 0) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_EQ(Consultas(), 1) << Le(pasta / "stderr.txt");
    std::vector<Comando> reais = Comandos();
    // The reads go down the list, the latest reply first; whichever that was, each module is
    // read as one block.
    ASSERT_EQ(reais.size(), esperados.size()) << ::testing::PrintToString(reais);
    EXPECT_EQ(reais[0], esperados[0]);
    if (reais[1].para != esperados[1].para) {
        std::rotate(esperados.begin() + 1, esperados.begin() + 5, esperados.end());
    }
    EXPECT_EQ(reais, esperados);
    for (const auto& r : sim->Log()) {
        if (r.text == kConsulta) {
            EXPECT_EQ(r.to, "255.255.255.255");
            EXPECT_EQ(r.toPort, 30303);
        }
    }
    // Nothing stored by a refresh.
    EXPECT_EQ(Le(Preferencias()), Preferencia(std::to_string(kTempo)));

    // Let the refresh's last collection end, then ask the program to stop.
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * kTempo));
    ASSERT_TRUE(programa.Sinal(SIGTERM));
    EXPECT_EQ(programa.Termino(3s), 0) << Le(pasta / "stderr.txt");
}

// With no network at all, the refresh fails and says so; asked to stop while it says so,
// the program ends at once, the failure that follows a line on stderr, not a box that waits.
TEST_F(ProgramaTest, EndsOnSigtermWhileTheFailedRefreshIsReported) {
    Inicia(/*semRede=*/true);
    std::this_thread::sleep_for(3s);
    ASSERT_TRUE(programa.Sinal(SIGTERM));
    EXPECT_EQ(programa.Termino(3s), 0) << Le(pasta / "stderr.txt");
    EXPECT_NE(Le(pasta / "stderr.txt").find("Erro: "), std::string::npos);
}

// The real program reads the address book from its settings file: the gate that no
// broadcast reaches is sent "X" at its own address, then read like the others.
TEST_F(ProgramaTest, SearchesTheAddressBookFromItsSettingsFile) {
    modsim::Modules modulos;
    modulos.tibbo.push_back(modsim::BookDemoModules().tibbo.front());  // routed, 127.0.1.5
    IniciaSim(modulos);
    Grava(Preferencias(), Preferencia(std::to_string(kTempo)) +
                              "[AgendaEnderecos]\r\nItens=1\r\nItem1=127.0.1.4-127.0.1.6\r\n");
    Inicia();
    const auto limite = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < limite && Consultas() == 0)
        std::this_thread::sleep_for(20ms);
    ASSERT_EQ(Consultas(), 1) << Le(pasta / "stderr.txt");
    const std::vector<Comando> esperados{
        {"255.255.255.255", "X"}, {"127.0.1.4", "X"},   {"127.0.1.5", "X"},   {"127.0.1.6", "X"},
        {"127.0.1.5", "L581947"}, {"127.0.1.5", "GNM"}, {"127.0.1.5", "GGI"}, {"127.0.1.5", "GDI"}};
    EXPECT_EQ(Comandos(), esperados);
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * kTempo));
    ASSERT_TRUE(programa.Sinal(SIGTERM));
    EXPECT_EQ(programa.Termino(3s), 0) << Le(pasta / "stderr.txt");
}

}  // namespace
