// The real Lumora executable in a program folder of its own: automatic start, a simulated
// terminal on loopback, SIGTERM, and the files it leaves behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "TerminalSim.h"
#include "common/Text1252.h"
#include "receiver/control/HistoricoDias.h"
#include "receiver/control/LimiteNaoCadastrados.h"
#include "receiver/control/TableFile.h"
#include "tests/receiver/shell/PastaReceptor.h"
#include "tests/support/ClienteHttp.h"
#include "tests/support/DiscoPequeno.h"
#include "tests/support/PortaLivre.h"
#include "tests/support/Processo.h"
#include "tests/support/RedePrivada.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using lumora::teste::Le;
using lumora::teste::PortaLivre;

class ProgramaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char modelo[] = "/tmp/lumora_e2e.XXXXXX";
        pasta = ::mkdtemp(modelo);
        fs::create_directories(pasta / "run");
        // The program folder is the executable's own: a copy, not a link, so that the
        // program finds its files here and not beside the build's executable.
        fs::copy_file(LUMORA_EXE, pasta / "Lumora");
    }
    void TearDown() override {
        programa.Mata();
        fs::remove_all(pasta);
    }

    // The card list and the equipment table as the venue left them.
    void Semeia() {
        historico = lumora::teste::SemeiaPasta(pasta, "1234", equipamentos);
        ASSERT_FALSE(historico.empty());
    }

    // `antes`: a program that runs the receiver (faketime, nsenter) and its options.
    void Inicia(uint16_t porta, std::vector<std::string> ambiente = {},
                const char* erros = "stderr.txt", std::vector<std::string> antes = {}) {
        lumora::teste::Execucao e;
        e.executavel = (pasta / "Lumora").string();
        if (!antes.empty()) {
            e.argumentos.assign(antes.begin() + 1, antes.end());
            e.argumentos.push_back(e.executavel);
            e.executavel = antes.front();
        }
        e.ambiente = {"XDG_RUNTIME_DIR=" + (pasta / "run").string(), "QT_QPA_PLATFORM=offscreen",
                      "LUMORA_PORTA_TCP=" + std::to_string(porta)};
        e.ambiente.insert(e.ambiente.end(), ambiente.begin(), ambiente.end());
        e.erros = pasta / erros;
        // Started from another folder: only the executable's folder may count.
        e.pastaTrabalho = "/";
        ASSERT_EQ(programa.Inicia(e), "");
    }

    // A seeded folder, the receiver started with the `config` lines under [CONFIGS] (the white
    // list and automatic start already there), and `terminal` as 01, connected and greeted.
    void IniciaComTerminal(termsim::SimTerminal& terminal, const std::string& config = "",
                           std::vector<std::string> ambiente = {}) {
        Semeia();
        std::ofstream(pasta / "Config.ini")
            << "[CONFIGS]\nInicio_Automatico=1\nLista_Branca=1\nLista_Negra=0\n"
            << config;
        const uint16_t porta = PortaLivre();
        Inicia(porta, std::move(ambiente));
        ASSERT_EQ(lumora::teste::ConectaQuandoAbrir(terminal, porta,
                                                    [&] { return Le(pasta / "stderr.txt"); }),
                  "");
        EXPECT_EQ(ProximoCodigo(terminal), "$");
        EXPECT_EQ(ProximoCodigo(terminal), "01");
    }

    std::string ProximoCodigo(termsim::SimTerminal& t) {
        const auto m = t.WaitMessage(5s);
        if (!m) return "(nothing)";
        const auto r = termsim::ParseReply(m->bytes);
        EXPECT_TRUE(r.WellFormed()) << m->bytes << ": " << r.problem;
        return r.Code();
    }

    fs::path pasta;
    fs::path historico;
    std::vector<std::pair<std::string, std::string>> equipamentos = {{"01", "127.0.0.5"}};
    lumora::teste::Processo programa;
};

}  // namespace

TEST_F(ProgramaTest, ServesATerminalHeadlessAndSavesEverythingOnSigterm) {
    Semeia();
    std::ofstream(pasta / "Config.ini")
        << "[CONFIGS]\nInicio_Automatico=1\nLista_Branca=1\nLista_Negra=0\nTempo_De_Giro=7\n";
    const std::string comandasAntes = Le(pasta / "Comandas.xml");
    const uint16_t porta = PortaLivre();
    Inicia(porta);

    termsim::SimTerminal terminal("01");
    ASSERT_EQ(lumora::teste::ConectaQuandoAbrir(terminal, porta,
                                                [&] { return Le(pasta / "stderr.txt"); }),
              "");
    EXPECT_EQ(ProximoCodigo(terminal), "$");   // wake
    EXPECT_EQ(ProximoCodigo(terminal), "01");  // clock
    // On the white list: hand the card in; the turnstile turns, and that row is saved at once.
    terminal.SendCardRead("0000000000001234");
    EXPECT_EQ(ProximoCodigo(terminal), "20");
    terminal.SendTurnstileResult("G");
    // Not on the list: refused.
    terminal.SendCardRead("0000000000007777");
    EXPECT_EQ(ProximoCodigo(terminal), "03");
    // A number nobody registered, past its rows' limit: counted, and at the stop the count
    // reaches the journal, not only the traffic log nobody sees here.
    terminal.SetTerminalNumber("07");
    for (size_t i = 0; i < lumora::TLimiteNaoCadastrados::kLinhas + 10; ++i) {
        terminal.SendReleaseRequest();
        EXPECT_EQ(ProximoCodigo(terminal), "03");
    }

    ASSERT_TRUE(programa.Sinal(SIGTERM));
    EXPECT_EQ(programa.Termino(20s), 0) << Le(pasta / "stderr.txt");
    EXPECT_NE(Le(pasta / "stderr.txt")
                  .find("Lumora: " +
                        common::Cp1252ToUtf8(lumora::TextoContagemNaoCadastrados(10, "127.0.0.5"))),
              std::string::npos)
        << Le(pasta / "stderr.txt");
    // Communication was stopped: the terminal's connection is closed.
    EXPECT_FALSE(terminal.WaitMessage(2s).has_value());
    EXPECT_TRUE(terminal.PeerClosed());

    const std::string hist = Le(historico);
    EXPECT_NE(hist.find("Cracha=\"0000000000001234\" Estado=\"Liberado\""), std::string::npos)
        << hist;
    EXPECT_NE(hist.find("Cracha=\"0000000000007777\" Estado=\"Bloqueado\""), std::string::npos)
        << hist;
    const std::string config = Le(pasta / "Config.ini");
    for (const char* linha :
         {"Inicio_Automatico=1\n", "Lista_Branca=1\n", "Lista_Negra=0\n", "Tempo_De_Giro=7\n",
          "Mensagem_Liberada_Linha1=Saida\n", "Tempo_De_Rele=3\n", "Inicio_Minimizado=0\n"}) {
        EXPECT_NE(config.find(linha), std::string::npos) << linha << " in\n" << config;
    }
    EXPECT_EQ(Le(pasta / "Comandas.xml"), comandasAntes);
    // Nothing half-written is left behind; the folder's lock file stays, unlocked.
    for (const auto& e : fs::recursive_directory_iterator(pasta)) {
        if (e.path() == pasta / ".Lumora.lock") continue;
        EXPECT_NE(e.path().filename().string().front(), '.') << e.path();
    }
}

// Every row is in the file before the next message is handled, whatever made it: a refusal and
// a message from an unregistered number as much as a turnstile result. A kill loses none.
TEST_F(ProgramaTest, EveryRowIsInTheFileAtOnceAndAKillLosesNone) {
    termsim::SimTerminal terminal("01");
    IniciaComTerminal(terminal);
    if (HasFatalFailure()) return;
    for (int i = 0; i < 5; ++i) {
        terminal.SendCardRead("000000000000777" + std::to_string(i));
        EXPECT_EQ(ProximoCodigo(terminal), "03");
    }
    terminal.SetTerminalNumber("07");
    terminal.SendReleaseRequest();
    EXPECT_EQ(ProximoCodigo(terminal), "03");
    // A reply goes out before its row is written; the next message is handled only after.
    terminal.SetTerminalNumber("01");
    terminal.SendReleaseRequest();
    EXPECT_EQ(ProximoCodigo(terminal), "02");
    // No turnstile result, no close: the rows are in the file.
    const auto Contagem = [&] {
        std::map<std::string, int> n;
        for (const auto& l : lumora::LeDiaHistorico(historico).linhas)
            ++n[lumora::LeDiaHistorico(historico).estados[l.estado]];
        return n;
    };
    const std::map<std::string, int> esperado = {{"Bloqueado", 5}, {"Equip. N\xE3o Cadastrad", 1}};
    EXPECT_EQ(Contagem(), esperado) << Le(historico);
    ASSERT_TRUE(programa.Sinal(SIGKILL));
    programa.Termino(10s);
    EXPECT_EQ(Contagem(), esperado);
}

// Left running across the cut hour (its clock set by faketime), the receiver begins the next
// night's file: each row in the file of its night.
TEST_F(ProgramaTest, RunningAcrossTheCutHourBeginsTheNextNightsFile) {
    // Debian's faketime: its library sets the wall clock of the program it is loaded into.
    const char* kFaketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
    if (!fs::exists(kFaketime)) GTEST_SKIP() << "no faketime (Debian's faketime)";
#ifdef __SANITIZE_ADDRESS__
    // A preloaded library ahead of the sanitizer's runtime is what the sanitizer refuses.
    GTEST_SKIP() << "faketime's preloaded library does not go with the address sanitizer";
#endif
    const auto inicio = std::chrono::steady_clock::now();
    termsim::SimTerminal terminal("01");
    // The receiver's timers follow the real monotonic clock; only the wall clock is set.
    IniciaComTerminal(terminal, "Hora_Corte_Historico=12\n",
                      {std::string("LD_PRELOAD=") + kFaketime, "FAKETIME=@2026-12-11 11:59:45",
                       "FAKETIME_DONT_FAKE_MONOTONIC=1"});
    if (HasFatalFailure()) return;
    terminal.SendCardRead("0000000000007771");
    EXPECT_EQ(ProximoCodigo(terminal), "03");
    ASSERT_LT(std::chrono::steady_clock::now() - inicio, 14s) << "too slow to see the cut";
    // Past 12:00 on the receiver's clock, and its one-second check.
    std::this_thread::sleep_until(inicio + 17s);
    terminal.SendCardRead("0000000000007772");
    EXPECT_EQ(ProximoCodigo(terminal), "03");
    ASSERT_TRUE(programa.Sinal(SIGTERM));
    EXPECT_EQ(programa.Termino(20s), 0) << Le(pasta / "stderr.txt");

    const auto Cartoes = [&](const char* dia) {
        std::vector<std::string> c;
        const auto d = lumora::LeDiaHistorico(pasta / "Historicos" / dia);
        for (const auto& l : d.linhas) c.emplace_back(l.Cracha());
        return c;
    };
    EXPECT_EQ(Cartoes("Historico_20261210.xml"), std::vector<std::string>{"0000000000007771"});
    EXPECT_EQ(Cartoes("Historico_20261211.xml"), std::vector<std::string>{"0000000000007772"});
}

namespace {

// Connections established to the port, as the system of the receiver's network sees them.
int Estabelecidas(pid_t programa, uint16_t porta) {
    std::ifstream tcp("/proc/" + std::to_string(programa) + "/net/tcp");
    std::string linha;
    std::getline(tcp, linha);  // the heading
    int n = 0;
    char local[64], remoto[64], estado[8];
    while (std::getline(tcp, linha)) {
        if (std::sscanf(linha.c_str(), "%*d: %63s %63s %7s", local, remoto, estado) != 3) continue;
        const std::string l = local;
        if (std::stoul(l.substr(l.find(':') + 1), nullptr, 16) == porta &&
            std::string(estado) == "01")
            ++n;
    }
    return n;
}

}  // namespace

// Two gates on links of their own to the receiver's PC (private network namespaces): one loses
// its link (power, cable) without a word; its connection is dropped within 30 s and its slot
// freed, while the other, silent all along on a live link, stays and is answered.
TEST_F(ProgramaTest, AGateThatVanishesIsDroppedWithinThirtySecondsAndAnIdleOneStays) {
    lumora::teste::OutraRede receptor, portoes;
    if (!receptor.Pronta() || !portoes.Pronta() || !fs::exists("/usr/bin/nsenter"))
        GTEST_SKIP() << "needs root, iproute2 and nsenter for private network namespaces";
    for (const std::string n : {"0", "1"}) {
        ASSERT_EQ(receptor.Executa("ip link add va" + n + " type veth peer name vb" + n +
                                   " netns " + portoes.Id() + " && ip addr add 10.77." + n +
                                   ".1/24 dev va" + n + " && ip link set va" + n + " up"),
                  0);
        ASSERT_EQ(portoes.Executa("ip addr add 10.77." + n + ".2/24 dev vb" + n +
                                  " && ip link set vb" + n + " up"),
                  0);
    }
    ASSERT_FALSE(
        lumora::teste::SemeiaPasta(pasta, "1234", {{"01", "10.77.0.2"}, {"02", "10.77.1.2"}})
            .empty());
    std::ofstream(pasta / "Config.ini") << "[CONFIGS]\nInicio_Automatico=1\n";
    const uint16_t porta = PortaLivre();
    Inicia(porta, {}, "stderr.txt", {"/usr/bin/nsenter", "--net=" + receptor.Caminho()});

    termsim::SimTerminal cai("01"), fica("02");
    std::string falha;
    ASSERT_TRUE(portoes.Dentro([&] {
        const auto saida = [&] { return Le(pasta / "stderr.txt"); };
        falha = lumora::teste::ConectaQuandoAbrir(cai, porta, saida, 15s, "10.77.0.1", "10.77.0.2");
        if (falha.empty())
            falha =
                lumora::teste::ConectaQuandoAbrir(fica, porta, saida, 5s, "10.77.1.1", "10.77.1.2");
    }));
    if (falha.find("is not a loopback address") != std::string::npos)
        GTEST_SKIP() << "this system hides whether a namespace is the machine's: " << falha;
    ASSERT_EQ(falha, "");
    for (auto* t : {&cai, &fica}) {
        EXPECT_EQ(ProximoCodigo(*t), "$");
        ProximoCodigo(*t);  // clock
    }
    const auto quieto = std::chrono::steady_clock::now();
    ASSERT_EQ(Estabelecidas(programa.Pid(), porta), 2);

    // The first gate's link goes down: no close, no reset, nothing reaches the receiver.
    ASSERT_EQ(portoes.Executa("ip link set vb0 down"), 0);
    const auto puxado = std::chrono::steady_clock::now();
    const auto Caiu = [&] {
        const std::string e = Le(pasta / "stderr.txt");
        return e.find("WSAETIMEDOUT) [10.77.0.2]") != std::string::npos;
    };
    while (!Caiu() && std::chrono::steady_clock::now() - puxado < 40s)
        std::this_thread::sleep_for(100ms);
    const auto ate = std::chrono::steady_clock::now() - puxado;
    ASSERT_TRUE(Caiu()) << Le(pasta / "stderr.txt");
    RecordProperty(
        "ms_until_dropped",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(ate).count()));
    EXPECT_LE(ate, 30s) << std::chrono::duration_cast<std::chrono::seconds>(ate).count() << " s";
    EXPECT_EQ(Estabelecidas(programa.Pid(), porta), 1);

    // The other sent nothing for twice the time a dead one is given, and is still served.
    std::this_thread::sleep_until(quieto + 45s);
    EXPECT_FALSE(fica.PeerClosed());
    fica.SendReleaseRequest();
    EXPECT_EQ(ProximoCodigo(fica), "02");
    EXPECT_EQ(Estabelecidas(programa.Pid(), porta), 1);
    ASSERT_TRUE(programa.Sinal(SIGTERM));
    EXPECT_EQ(programa.Termino(20s), 0) << Le(pasta / "stderr.txt");
}

// On a desktop (a virtual one here) the failure box waits for the operator; SIGTERM closes it
// as if OK had been pressed, lets the messages behind it be handled, and only then saves.
TEST_F(ProgramaTest, SigtermWithTheFailureBoxOnScreenHandlesWhatItHeldThenSaves) {
    if (!fs::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "no Xvfb";
    int tela = 0;
    for (tela = 150 + int(::getpid() % 300); fs::exists("/tmp/.X11-unix/X" + std::to_string(tela));)
        ++tela;
    lumora::teste::Processo xvfb;
    lumora::teste::Execucao x;
    x.executavel = "/usr/bin/Xvfb";
    x.argumentos = {":" + std::to_string(tela), "-screen", "0", "1024x768x24", "-nolisten", "tcp"};
    x.erros = pasta / "xvfb.txt";
    ASSERT_EQ(xvfb.Inicia(x), "");
    // Ended by SIGTERM, however the test ends, so that it removes its lock and socket.
    struct FimXvfb {
        lumora::teste::Processo& p;
        ~FimXvfb() {
            p.Sinal(SIGTERM);
            p.Termino(5s);
        }
    } fimXvfb{xvfb};
    for (int i = 0; i < 100 && !fs::exists("/tmp/.X11-unix/X" + std::to_string(tela)); ++i)
        std::this_thread::sleep_for(50ms);

    Semeia();
    std::ofstream(pasta / "Config.ini")
        << "[CONFIGS]\nInicio_Automatico=1\nLista_Branca=1\nLista_Negra=0\n";
    const uint16_t porta = PortaLivre();
    lumora::teste::Execucao e;
    e.executavel = (pasta / "Lumora").string();
    e.ambiente = {"XDG_RUNTIME_DIR=" + (pasta / "run").string(), "QT_QPA_PLATFORM=xcb",
                  "DISPLAY=:" + std::to_string(tela), "LUMORA_PORTA_TCP=" + std::to_string(porta)};
    // On a display Qt loads the D-Bus library, which keeps a buffer until the end that the
    // leak checker of a sanitizer build counts; it is not the program's.
    std::ofstream(pasta / "lsan.supp") << "leak:libdbus-1.so\n";
    e.ambiente.push_back("LSAN_OPTIONS=suppressions=" + (pasta / "lsan.supp").string());
    e.erros = pasta / "stderr.txt";
    ASSERT_EQ(programa.Inicia(e), "");
    termsim::SimTerminal terminal("01");
    ASSERT_EQ(lumora::teste::ConectaQuandoAbrir(terminal, porta,
                                                [&] { return Le(pasta / "stderr.txt"); }),
              "");
    EXPECT_EQ(ProximoCodigo(terminal), "$");
    EXPECT_EQ(ProximoCodigo(terminal), "01");

    const std::string inteira = Le(pasta / "Comandas.xml");
    std::ofstream(pasta / "Comandas.xml", std::ios::binary | std::ios::trunc)
        << inteira.substr(0, inteira.size() / 2);
    terminal.SendCardRead("0000000000001234");
    for (int i = 0; i < 100 && Le(pasta / "stderr.txt").find("Erro: ") == std::string::npos; ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_NE(Le(pasta / "stderr.txt").find("Erro: "), std::string::npos);
    // The box is open: what the terminal sends now waits behind it.
    std::ofstream(pasta / "Comandas.xml", std::ios::binary | std::ios::trunc) << inteira;
    terminal.SendCardRead("0000000000001234");
    terminal.SendTurnstileResult("G");
    EXPECT_FALSE(terminal.WaitMessage(500ms).has_value());

    ASSERT_TRUE(programa.Sinal(SIGTERM));
    EXPECT_EQ(programa.Termino(20s), 0) << Le(pasta / "stderr.txt");
    EXPECT_EQ(ProximoCodigo(terminal), "20");
    const std::string hist = Le(historico);
    EXPECT_NE(hist.find("Cracha=\"0000000000001234\" Estado=\"Liberado\""), std::string::npos)
        << hist;
}

TEST_F(ProgramaTest, ARefusedStartUpEndsWithAStatusAndTheNextStartServesAlone) {
    Semeia();
    std::ofstream(pasta / "Config.ini") << "[CONFIGS]\nInicio_Automatico=1\n";
    std::ofstream(historico, std::ios::trunc) << "<not a data packet";
    const uint16_t porta = PortaLivre();
    Inicia(porta);
    // A status the service manager restarts on, and why in one line for its journal.
    EXPECT_EQ(programa.Termino(20s), 1);
    const std::string erros = Le(pasta / "stderr.txt");
    EXPECT_NE(erros.find("\nLumora: start-up refused: "), std::string::npos) << erros;
    EXPECT_FALSE(fs::exists(historico));

    // The restart goes on without the damaged file, and serves.
    Inicia(porta, {}, "stderr2.txt");
    termsim::SimTerminal terminal("01");
    ASSERT_EQ(lumora::teste::ConectaQuandoAbrir(terminal, porta,
                                                [&] { return Le(pasta / "stderr2.txt"); }),
              "");
    EXPECT_EQ(ProximoCodigo(terminal), "$");

    // A second receiver on the same folder, from another session or with no runtime folder at
    // all, and on another port: refused before it touches a file, the first serving on.
    fs::create_directories(pasta / "run2");
    for (const std::string& runtime :
         std::vector<std::string>{"XDG_RUNTIME_DIR=" + (pasta / "run2").string(), ""}) {
        lumora::teste::Execucao e;
        e.executavel = (pasta / "Lumora").string();
        e.ambienteLimpo = true;
        e.ambiente = {"HOME=" + pasta.string(), "QT_QPA_PLATFORM=offscreen",
                      "LUMORA_PORTA_TCP=" + std::to_string(PortaLivre())};
        if (!runtime.empty()) e.ambiente.push_back(runtime);
        e.erros = pasta / "stderr3.txt";
        lumora::teste::Processo segundo;
        ASSERT_EQ(segundo.Inicia(e), "");
        EXPECT_EQ(segundo.Termino(20s), 1) << runtime;
        EXPECT_NE(Le(pasta / "stderr3.txt").find("Lumora: start-up refused: "), std::string::npos)
            << runtime << ": " << Le(pasta / "stderr3.txt");
    }
    terminal.SendCardRead("0000000000001234");
    EXPECT_NE(ProximoCodigo(terminal), "(nothing)");
    ASSERT_TRUE(programa.Sinal(SIGTERM));
    EXPECT_EQ(programa.Termino(20s), 0);
}

#ifdef LUMORA_SYSTEMD
// The service manager's side of the notification socket: what the receiver tells it, in order.
TEST_F(ProgramaTest, TellsTheServiceManagerReadyOnceListeningAliveAndStopping) {
    Semeia();
    std::ofstream(pasta / "Config.ini") << "[CONFIGS]\nInicio_Automatico=1\n";
    const int gerente = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(gerente, 0);
    sockaddr_un endereco{};
    endereco.sun_family = AF_UNIX;
    const std::string caminho = (pasta / "notify").string();
    ASSERT_LT(caminho.size(), sizeof(endereco.sun_path));
    caminho.copy(endereco.sun_path, caminho.size());
    ASSERT_EQ(::bind(gerente, reinterpret_cast<sockaddr*>(&endereco), sizeof(endereco)), 0);
    const timeval espera{0, 100000};
    ::setsockopt(gerente, SOL_SOCKET, SO_RCVTIMEO, &espera, sizeof(espera));
    auto proxima = [&](std::chrono::milliseconds limite) -> std::string {
        const auto fim = std::chrono::steady_clock::now() + limite;
        char dados[256];
        while (std::chrono::steady_clock::now() < fim) {
            const ssize_t n = ::recv(gerente, dados, sizeof(dados), 0);
            if (n > 0) return std::string(dados, static_cast<size_t>(n));
        }
        return "(nothing)";
    };

    const uint16_t porta = PortaLivre();
    Inicia(porta, {"NOTIFY_SOCKET=" + caminho, "WATCHDOG_USEC=400000"});
    // Alive from the start, every 200 ms; ready only when the automatic start has opened the
    // port, two seconds later.
    int vivos = 0;
    std::string m;
    while ((m = proxima(5s)) == "WATCHDOG=1") ++vivos;
    EXPECT_EQ(m, "READY=1") << Le(pasta / "stderr.txt");
    EXPECT_GE(vivos, 5);
    termsim::SimTerminal terminal("01");
    EXPECT_NO_THROW(terminal.Connect("127.0.0.1", porta, "127.0.0.5", 1s));
    EXPECT_EQ(proxima(1s), "WATCHDOG=1");

    ASSERT_TRUE(programa.Sinal(SIGTERM));
    while ((m = proxima(5s)) == "WATCHDOG=1") {
    }
    EXPECT_EQ(m, "STOPPING=1");
    EXPECT_EQ(programa.Termino(20s), 0);
    ::close(gerente);
}
#endif

// The day's report from the command line, beside the receiver serving the same folder: the
// totals the past-nights window counts, the rows as CSV, nothing written in the folder.
TEST_F(ProgramaTest, ReportsTheDayBesideTheServingReceiverAndWritesNothingInItsFolder) {
    termsim::SimTerminal terminal("01");
    IniciaComTerminal(terminal);
    if (HasFatalFailure()) return;
    // Two exits and a refusal, each row in the file at once.
    for (const char* cartao : {"0000000000001234", "0000000000007777", "0000000000001234"}) {
        terminal.SendCardRead(cartao);
        if (ProximoCodigo(terminal) == "20") terminal.SendTurnstileResult("G");
    }
    const auto contaLinhas = [&] {
        const std::string h = Le(historico);
        size_t n = 0;
        for (size_t p = 0; (p = h.find("<ROW ", p)) != std::string::npos; ++p) ++n;
        return n;
    };
    for (int i = 0; i < 100 && contaLinhas() < 3; ++i) std::this_thread::sleep_for(50ms);
    ASSERT_EQ(contaLinhas(), 3u) << Le(historico);

    auto retrato = [&] {
        std::vector<std::string> r;
        for (const auto& e : fs::recursive_directory_iterator(pasta)) {
            if (e.path().filename().string().starts_with("stderr")) continue;
            // A folder's time changes with the damaged day this test puts there and takes away.
            r.push_back(e.path().string() +
                        (e.is_regular_file()
                             ? " " +
                                   std::to_string(e.last_write_time().time_since_epoch().count()) +
                                   " " + std::to_string(e.file_size())
                             : std::string()));
        }
        std::sort(r.begin(), r.end());
        return r;
    };
    const std::string nome = historico.filename().string();  // Historico_yyyymmdd.xml
    const std::string dia =
        nome.substr(10, 4) + "-" + nome.substr(14, 2) + "-" + nome.substr(16, 2);
    const fs::path fora = pasta.string() + "-fora";
    fs::create_directories(fora);
    struct Limpa {
        fs::path p;
        ~Limpa() { fs::remove_all(p); }
    } limpa{fora};

    // `argumentos` after the program's name; the exit status, what it printed and its errors.
    auto relatorio = [&](std::vector<std::string> argumentos) {
        static int vez = 0;
        const std::string n = std::to_string(++vez);
        lumora::teste::Execucao e;
        e.executavel = (pasta / "Lumora").string();
        e.argumentos = std::move(argumentos);
        // No display and no runtime folder: a report needs neither.
        e.ambienteLimpo = true;
        e.ambiente = {"HOME=" + fora.string()};
        e.saida = fora / ("saida" + n);
        e.erros = fora / ("erros" + n);
        e.pastaTrabalho = fora;
        lumora::teste::Processo p;
        EXPECT_EQ(p.Inicia(e), "");
        const int status = p.Termino(20s);
        return std::make_tuple(status, Le(e.saida), Le(e.erros));
    };

    // The night before, as another run left it: the card left then too.
    const auto esta = *lumora::LeDataIso(dia);
    const auto ontem = common::DateTime::FromMs(esta.Ms() - common::DateTime::kMsPerDay);
    {
        lumora::TabelasReceptor t;
        t.cdsHistorico.Open();
        for (const auto& [hora, cartao, estado] : {std::tuple{20, "0000000000001234", "Liberado"},
                                                   {21, "0000000000005555", "Bloqueado"}}) {
            t.cdsHistorico.Insert();
            t.cdsHistorico.SetDateTime(lumora::campo::kDataHora,
                                       common::DateTime::FromMs(ontem.Ms() + hora * 3'600'000LL));
            t.cdsHistorico.SetString(lumora::campo::kCracha, cartao);
            t.cdsHistorico.SetString(lumora::campo::kEstado, estado);
            t.cdsHistorico.SetInteger(lumora::campo::kTerminal, 2);
            t.cdsHistorico.Post();
        }
        lumora::SaveTableToFile(t.cdsHistorico, lumora::ArquivoDoDia(pasta, ontem).string());
    }
    const auto antes = retrato();
    // Its own folder by default, as the serving receiver's.
    const auto [status, saida, erros] =
        relatorio({"--report", dia, "--csv", (fora / "d.csv").string()});
    EXPECT_EQ(status, 0) << erros;
    EXPECT_EQ(erros, "");
    const lumora::DiaHistorico lido = lumora::LeDiaHistorico(historico);
    std::vector<int> todas{0, 1, 2};
    EXPECT_EQ(saida, lumora::TextoRelatorio(lido, lumora::Totaliza(lido, todas)));
    EXPECT_NE(saida.find("  Equip.   01                           3         2         1\n"),
              std::string::npos)
        << saida;
    const std::string csv = Le(fora / "d.csv");
    EXPECT_EQ(csv, lumora::CsvLinhas(lido, todas));
    EXPECT_NE(csv.find(";0000000000007777;Bloqueado;01\r\n"), std::string::npos) << csv;

    // A card's story across the nights, newest first; a range of nights, a line each.
    {
        const auto [s, o, e] = relatorio({"--find", "1234"});
        EXPECT_EQ(s, 0) << e;
        EXPECT_EQ(o, lumora::TextoBusca("1234", lumora::BuscaComanda(pasta, "1234", 12)));
        EXPECT_TRUE(o.starts_with("Lumora: card 1234: 3 rows, newest first\n")) << o;
        EXPECT_NE(o.rfind("  " + ontem.Format("yyyy-mm-dd") + "  " + ontem.Format("dd/mm/yyyy") +
                          " 20:00:00      02  Liberado"),
                  std::string::npos)
            << o;
        const auto [s2, csvBusca, e2] = relatorio({"--find", "1234", "--csv", "-"});
        EXPECT_EQ(s2, 0) << e2;
        EXPECT_EQ(csvBusca, lumora::CsvBusca(lumora::BuscaComanda(pasta, "1234", 12)));
        const std::string faixa = ontem.Format("yyyy-mm-dd") + ".." + dia;
        const auto [s3, o3, e3] = relatorio({"--report", faixa});
        EXPECT_EQ(s3, 0) << e3;
        EXPECT_TRUE(o3.starts_with("Lumora report: nights " + ontem.Format("yyyy-mm-dd") + " to " +
                                   dia + ", 5 rows in 2 nights\n"))
            << o3;
        EXPECT_NE(o3.find("  " + ontem.Format("yyyy-mm-dd") + std::string(28, ' ') +
                          "2         1         1\n"),
                  std::string::npos)
            << o3;
        EXPECT_NE(o3.find("  Total" + std::string(33, ' ') + "5         3         2\n"),
                  std::string::npos)
            << o3;
        // The range's CSV: both nights' rows under one header.
        const auto [s4, o4, e4] = relatorio({"--report", faixa, "--csv", "-"});
        EXPECT_EQ(s4, 0) << e4;
        EXPECT_EQ(std::count(o4.begin(), o4.end(), '\n'), 6) << o4;
        EXPECT_EQ(o4.find("Data Hora;"), o4.rfind("Data Hora;"));
    }
    // The CSV alone on standard output, for a pipe.
    {
        const auto [s, o, e] = relatorio({"--report", dia, "--csv", "-"});
        EXPECT_EQ(s, 0) << e;
        EXPECT_EQ(o, csv);
        EXPECT_EQ(e, "");
    }
    // An existing file is replaced only when the line says so.
    {
        const auto [s, o, e] =
            relatorio({"--report", dia, "--csv", (fora / "d.csv").string(), "--overwrite"});
        EXPECT_EQ(s, 0) << e;
        EXPECT_EQ(Le(fora / "d.csv"), csv);
    }

    // A day without a file, a damaged day, a CSV the report must not write: 1 and one line; a
    // line the program does not understand: 2, and one line saying what.
    std::ofstream(pasta / "Historicos" / "Historico_20000102.xml") << "<DATAPACKET";
    const auto antesDanificado = retrato();
    const struct {
        std::vector<std::string> argumentos;
        int status;
        std::string diz;
    } falhas[] = {
        {{"--report", "2000-01-01", "--program-folder", pasta.string()}, 1, "no history for"},
        {{"--report=2000-01-02", "--program-folder=" + pasta.string()}, 1, "cannot be read"},
        {{"--report", dia, "--csv", historico.string()}, 1, "is in the program folder"},
        {{"--report", dia, "--csv", (pasta / "Historicos" / ".." / "novo.csv").string()},
         1,
         "is in the program folder"},
        {{"--report", dia, "--csv", (fora / "d.csv").string()}, 1, "exists already"},
        {{"--report", "2000-02-30"}, 2, "2000-02-30 is not a day of the calendar"},
        {{"--report", "5/12/2026"}, 2, "needs a day as YYYY-MM-DD"},
        {{"--csv", "x.csv"}, 2, "--csv goes with --report"},
        {{"--report", dia, "--report", dia}, 2, "--report is given twice"},
        {{"--report", "--csv", "x.csv"}, 2, "--report needs a value"},
        {{"--report", dia, "--csv"}, 2, "--csv needs a value"},
        {{"--report", dia, "--overwrite"}, 2, "--overwrite goes with --csv"},
        {{"--report", dia, "--listen-address", "127.0.0.1"}, 2, "does not go with --report"},
        {{"--report", dia, "--program-folder", "/a", "--program-folder", "/b"},
         2,
         "--program-folder is given twice"},
        {{"--report", "2000-01-03..2000-01-01"}, 2, "2000-01-01 comes before 2000-01-03"},
        {{"--report", "2000-01-01..2000-02-30"}, 2, "2000-02-30 is not a day of the calendar"},
        {{"--report", "1999-12-01..1999-12-31", "--program-folder", pasta.string()},
         1,
         "no history from 1999-12-01 to 1999-12-31"},
        {{"--find", "1234", "--report", dia}, 2, "--find does not go with --report"},
        {{"--find"}, 2, "--find needs a value"},
    };
    for (const auto& f : falhas) {
        const auto [s, o, e] = relatorio(f.argumentos);
        const std::string linha = ::testing::PrintToString(f.argumentos);
        EXPECT_EQ(s, f.status) << linha << ": " << e;
        EXPECT_EQ(o, "") << linha;
        EXPECT_TRUE(e.starts_with("Lumora: ")) << e;
        EXPECT_NE(e.find(f.diz), std::string::npos) << linha << ": " << e;
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), f.status == 1 ? 1 : 2) << e;
    }
    EXPECT_EQ(Le(fora / "d.csv"), csv);
    EXPECT_EQ(retrato(), antesDanificado);
    fs::remove(pasta / "Historicos" / "Historico_20000102.xml");
    EXPECT_EQ(retrato(), antes);

    // The standby PC's folder beside ours: a copy of tonight's file with one row more, as the
    // partner served the end of the night. The report counts each row once.
    {
        const fs::path parceira = fora / "parceira";
        fs::create_directories(parceira / "Historicos");
        lumora::TabelasReceptor t;
        lumora::TArquivosReceptor copia(t, parceira);
        fs::copy_file(historico, parceira / "Historicos" / historico.filename());
        ASSERT_TRUE(copia.Inicia(esta));
        t.cdsHistorico.Insert();
        t.cdsHistorico.SetDateTime(lumora::campo::kDataHora, common::Now());
        t.cdsHistorico.SetString(lumora::campo::kCracha, lumora::estado::kSentidoLivre);
        t.cdsHistorico.SetString(lumora::campo::kEstado, lumora::estado::kLiberado);
        t.cdsHistorico.SetInteger(lumora::campo::kTerminal, 1);
        t.cdsHistorico.Post();
        copia.Fecha();
        std::ofstream(pasta / "Config.ini", std::ios::app)
            << "Pasta_Parceiro=" << parceira.string() << "\n";
        const auto [s, o, e] = relatorio({"--report", dia});
        EXPECT_EQ(s, 0) << e;
        EXPECT_EQ(e, "");
        EXPECT_NE(o.find("  Equip.   01                           4         3         1\n"),
                  std::string::npos)
            << o;
        // Away (a share not mounted): our rows alone, and a line saying so.
        fs::remove_all(parceira / "Historicos");
        std::ofstream(parceira / "Historicos") << "not a folder";
        const auto [s2, o2, e2] = relatorio({"--report", dia});
        EXPECT_EQ(s2, 0) << e2;
        EXPECT_EQ(o2, saida);
    }

    // The receiver served on all along.
    terminal.SendCardRead("0000000000007777");
    EXPECT_EQ(ProximoCodigo(terminal), "03");
    ASSERT_TRUE(programa.Sinal(SIGTERM));
    EXPECT_EQ(programa.Termino(20s), 0);
}

namespace {

using lumora::teste::GetHttp;

// Waits until `condicao` holds, asking every 200 ms; false when `limite` passed first.
bool Aguarda(const std::function<bool()>& condicao, std::chrono::milliseconds limite) {
    const auto fim = std::chrono::steady_clock::now() + limite;
    while (!condicao()) {
        if (std::chrono::steady_clock::now() > fim) return false;
        std::this_thread::sleep_for(200ms);
    }
    return true;
}

// The value of the one series an instant query of Prometheus' HTTP interface gives; "" when it
// gives none (yet).
std::string ConsultaPrometheus(uint16_t porta, const std::string& consulta) {
    std::string url = "/api/v1/query?query=";
    for (const unsigned char c : consulta) {
        char esc[4];
        std::snprintf(esc, sizeof esc, "%%%02X", c);
        url += std::isalnum(c) || c == '_' ? std::string(1, static_cast<char>(c)) : esc;
    }
    const auto r = GetHttp("127.0.0.1", porta, url);
    static const std::regex valor(R"re("value":\[[0-9.e+]+,"([^"]*)"\])re");
    std::smatch m;
    return std::regex_search(r.corpo, m, valor) ? m[1].str() : std::string();
}

// The receiver's alert rules as shipped, with their waits cut to nothing for a test.
std::string RegrasSemEspera() {
    std::string regras = Le(LUMORA_FONTES "/packaging/monitoring/lumora-alerts.yml");
    static const std::regex espera(R"(for: [0-9]+[smh])");
    return std::regex_replace(regras, espera, "for: 0s");
}

}  // namespace

// The venue's Prometheus (Debian's, for real) scrapes the serving receiver: its counters are
// what the terminal sent, and its alerts fire when the gate goes and when the receiver does.
TEST_F(ProgramaTest, PrometheusScrapesWhatTheGatesDidAndAlertsWhenAGateOrTheReceiverGoes) {
    if (::access("/usr/bin/prometheus", X_OK) != 0) GTEST_SKIP() << "prometheus is missing";
    const uint16_t portaMonitor = PortaLivre();
    termsim::SimTerminal terminal("01");
    IniciaComTerminal(terminal, "Monitor_Http=" + std::to_string(portaMonitor) + "\n");
    ASSERT_TRUE(
        Aguarda([&] { return GetHttp("127.0.0.1", portaMonitor, "/health").status == 200; }, 10s))
        << Le(pasta / "stderr.txt");

    constexpr int kLiberadas = 30, kRecusadas = 10, kNaoCadastradas = 5;
    for (int i = 0; i < kLiberadas; ++i) {
        terminal.SendCardRead("0000000000001234");
        ASSERT_EQ(ProximoCodigo(terminal), "20");
        terminal.SendTurnstileResult(i % 3 ? "G" : "N");
    }
    for (int i = 0; i < kRecusadas; ++i) {
        terminal.SendCardRead("0000000000007777");
        ASSERT_EQ(ProximoCodigo(terminal), "03");
    }
    terminal.SetTerminalNumber("07");
    for (int i = 0; i < kNaoCadastradas; ++i) {
        terminal.SendReleaseRequest();
        ASSERT_EQ(ProximoCodigo(terminal), "03");
    }
    terminal.SetTerminalNumber("01");
    terminal.SendReleaseRequest();
    ASSERT_EQ(ProximoCodigo(terminal), "02");

    // What the endpoint serves is the exposition format as Prometheus' own checker reads it.
    const std::string metricas = GetHttp("127.0.0.1", portaMonitor, "/metrics").corpo;
    std::ofstream(pasta / "metricas.txt") << metricas;
    if (::access("/usr/bin/promtool", X_OK) == 0) {
        const std::string saida = (pasta / "promtool.txt").string();
        const int status = std::system(("/usr/bin/promtool check metrics < " +
                                        (pasta / "metricas.txt").string() + " > " + saida + " 2>&1")
                                           .c_str());
        EXPECT_EQ(status, 0) << Le(saida) << metricas;
    }

    std::ofstream(pasta / "regras.yml") << RegrasSemEspera();
    std::ofstream(pasta / "prometheus.yml")
        << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
        << "rule_files: [\"" << (pasta / "regras.yml").string() << "\"]\n"
        << "scrape_configs:\n  - job_name: lumora\n    static_configs:\n"
        << "      - targets: [\"127.0.0.1:" << portaMonitor << "\"]\n";
    const uint16_t portaPrometheus = PortaLivre();
    lumora::teste::Execucao e;
    e.executavel = "/usr/bin/prometheus";
    e.argumentos = {"--config.file=" + (pasta / "prometheus.yml").string(),
                    "--storage.tsdb.path=" + (pasta / "tsdb").string(),
                    "--web.listen-address=127.0.0.1:" + std::to_string(portaPrometheus),
                    "--log.level=warn"};
    e.erros = pasta / "prometheus.txt";
    lumora::teste::Processo prometheus;
    ASSERT_EQ(prometheus.Inicia(e), "");
    const auto consulta = [&](const std::string& q) {
        return ConsultaPrometheus(portaPrometheus, q);
    };
    ASSERT_TRUE(Aguarda([&] { return consulta("lumora_card_reads_total") == "40"; }, 30s))
        << consulta("lumora_card_reads_total") << "\n"
        << Le(pasta / "prometheus.txt");
    EXPECT_EQ(consulta("lumora_card_releases_total"), std::to_string(kLiberadas));
    EXPECT_EQ(consulta("lumora_card_refusals_total"), std::to_string(kRecusadas));
    EXPECT_EQ(consulta("lumora_turnstile_results_total{result=\"turned\"}"), "20");
    EXPECT_EQ(consulta("lumora_turnstile_results_total{result=\"not_turned\"}"), "10");
    EXPECT_EQ(consulta("lumora_unregistered_messages_total"), std::to_string(kNaoCadastradas));
    EXPECT_EQ(consulta("lumora_release_requests_total"), "1");
    EXPECT_EQ(consulta("lumora_reply_duration_seconds_count"), "46");
    EXPECT_EQ(consulta("lumora_history_rows_added_total"), "45");
    EXPECT_EQ(consulta("lumora_terminal_up{terminal=\"01\"}"), "1");
    EXPECT_EQ(consulta("count(ALERTS{alertstate=\"firing\"})"), "");

    // The gate goes: its series says so, and the alert fires.
    terminal.Close();
    EXPECT_TRUE(Aguarda(
        [&] {
            return consulta("ALERTS{alertname=\"LumoraGateDown\",alertstate=\"firing\"}") == "1";
        },
        20s))
        << consulta("lumora_terminal_up");
    // The receiver goes.
    ASSERT_TRUE(programa.Sinal(SIGKILL));
    EXPECT_TRUE(Aguarda(
        [&] {
            return consulta("ALERTS{alertname=\"LumoraReceiverDown\",alertstate=\"firing\"}") ==
                   "1";
        },
        20s))
        << consulta("up");
}

// /health turns 503 with the reason while the history cannot be saved (its disk full for
// real), and 200 again as soon as a save succeeds.
TEST_F(ProgramaTest, HealthIsUnavailableWhileTheHistoryCannotBeSavedAndBackAfter) {
    const fs::path historicos = pasta / "Historicos";
    fs::create_directories(historicos);
    const std::string pulo = lumora::teste::EmDiscoPequeno(historicos, "size=2m", [&] {
        // The child ends without destructors: the receiver must not outlive it.
        struct Fim {
            lumora::teste::Processo& p;
            ~Fim() { p.Mata(); }
        } fim{programa};
        const uint16_t portaMonitor = PortaLivre();
        termsim::SimTerminal terminal("01");
        IniciaComTerminal(terminal,
                          "Monitor_Http=127.0.0.1:" + std::to_string(portaMonitor) + "\n");
        const auto saude = [&] { return GetHttp("127.0.0.1", portaMonitor, "/health"); };
        ASSERT_TRUE(Aguarda([&] { return saude().status == 200; }, 10s))
            << Le(pasta / "stderr.txt");
        // Fill the disk to its last byte.
        {
            std::ofstream cheio(historicos / "enche", std::ios::binary);
            const std::string bloco(64 * 1024, 'x');
            while (cheio.write(bloco.data(), static_cast<std::streamsize>(bloco.size()))) {
            }
        }
        {
            std::ofstream resto(historicos / "resto", std::ios::binary);
            while (resto.put('x')) {
            }
        }
        // The file's last page takes a few rows more; then a save fails.
        int recusas = 0;
        for (; recusas < 400 && saude().status == 200; ++recusas) {
            terminal.SendCardRead("0000000000007777");
            ASSERT_EQ(ProximoCodigo(terminal), "03");  // the reply first, saved or not
        }
        ASSERT_EQ(saude().status, 503) << recusas << " rows";
        EXPECT_NE(saude().corpo.find("history not saved"), std::string::npos) << saude().corpo;
        fs::remove(historicos / "enche");
        fs::remove(historicos / "resto");
        terminal.SendCardRead("0000000000007777");
        EXPECT_EQ(ProximoCodigo(terminal), "03");
        EXPECT_TRUE(Aguarda([&] { return saude().status == 200; }, 5s)) << saude().corpo;
        // Every row is in the file, the ones refused by the full disk too.
        const std::string hist = Le(historico);
        int linhas = 0;
        for (size_t p = hist.find("0000000000007777"); p != std::string::npos;
             p = hist.find("0000000000007777", p + 1))
            ++linhas;
        EXPECT_EQ(linhas, recusas + 1);
    });
    if (pulo.rfind("skip", 0) == 0) GTEST_SKIP() << pulo;
    EXPECT_EQ(pulo, "");
}

// The status page in a real browser (Debian's Chromium, headless): the gates' rows as the
// script fills them, a gate that is not there standing out, and no card number by default.
TEST_F(ProgramaTest, TheStatusPageShowsTheGatesInAHeadlessBrowser) {
    if (::access("/usr/bin/chromium", X_OK) != 0) GTEST_SKIP() << "chromium is missing";
    equipamentos.push_back({"02", "127.0.0.6"});
    const uint16_t portaMonitor = PortaLivre();
    termsim::SimTerminal terminal("01");
    IniciaComTerminal(terminal, "Monitor_Http=" + std::to_string(portaMonitor) + "\n");
    terminal.SendCardRead("0000000000001234");
    ASSERT_EQ(ProximoCodigo(terminal), "20");
    terminal.SendTurnstileResult("G");
    ASSERT_TRUE(Aguarda(
        [&] {
            return GetHttp("127.0.0.1", portaMonitor, "/estado.json")
                       .corpo.find("\"liberados\":1") != std::string::npos;
        },
        10s));
    const std::string url = "http://127.0.0.1:" + std::to_string(portaMonitor) + "/";
    const fs::path imagem = pasta / "pagina.png";
    // Nothing leaves loopback: every other address goes to a proxy that is not there.
    const std::string navegador =
        "/usr/bin/chromium --headless --no-sandbox --disable-gpu --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync "
        "--proxy-server=127.0.0.1:9 --user-data-dir=" +
        (pasta / "chromium").string() + " --window-size=412,700 --virtual-time-budget=4000 ";
    const std::string dom = (pasta / "dom.html").string();
    ASSERT_EQ(std::system((navegador + "--dump-dom " + url + " > " + dom + " 2>/dev/null").c_str()),
              0);
    const std::string pagina = Le(dom);
    EXPECT_NE(pagina.find("<td>01</td><td>127.0.0.5</td><td>Conectado</td>"), std::string::npos)
        << pagina;
    EXPECT_NE(pagina.find("<tr class=\"ausente\"><td>02</td>"), std::string::npos) << pagina;
    EXPECT_NE(pagina.find("1 de 2 terminais conectados"), std::string::npos) << pagina;
    EXPECT_NE(pagina.find("Receptor em funcionamento"), std::string::npos) << pagina;
    EXPECT_EQ(pagina.find("0000000000001234"), std::string::npos) << pagina;
    ASSERT_EQ(std::system(
                  (navegador + "--screenshot=" + imagem.string() + " " + url + " > /dev/null 2>&1")
                      .c_str()),
              0);
    // The gate that is not there is painted in its colour, across a row's width.
    const QImage tela(QString::fromStdString(imagem.string()));
    ASSERT_FALSE(tela.isNull());
    int ausente = 0;
    for (int y = 0; y < tela.height(); ++y)
        for (int x = 0; x < tela.width(); ++x)
            ausente += tela.pixelColor(x, y) == QColor(255, 225, 225);
    EXPECT_GT(ausente, 412 * 10) << "pixels of a missing gate's row";
    if (const char* copia = std::getenv("LUMORA_CAPTURA_PAGINA"))
        fs::copy_file(imagem, copia, fs::copy_options::overwrite_existing);
}
