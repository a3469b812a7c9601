// The real Lumora executable in a program folder of its own: automatic start, a simulated
// terminal on loopback, SIGTERM, and the files it leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "TerminalSim.h"
#include "common/DateTime.h"
#include "receiver/control/ArquivosReceptor.h"
#include "tests/support/PortaLivre.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace lumora;

namespace {

using teste::PortaLivre;

std::string Le(const fs::path& arquivo) {
    std::ifstream in(arquivo, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

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
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        fs::remove_all(pasta);
    }

    // The card list and the equipment table as the venue left them, through the receiver's
    // own file code.
    void Semeia() {
        TabelasReceptor t;
        TArquivosReceptor arquivos(t, pasta);
        ASSERT_TRUE(arquivos.Inicia(common::Now()));
        t.cdsComandas.Insert();
        t.cdsComandas.SetString(campo::kNumComanda, "1234");
        t.cdsComandas.Post();
        t.cdsEquipamentos.Insert();
        t.cdsEquipamentos.SetString(campo::kNumEquipamento, "01");
        t.cdsEquipamentos.SetString(campo::kIP, "127.0.0.5");
        t.cdsEquipamentos.Post();
        arquivos.Fecha();
        arquivos.FechaEquipamentos();
        historico = arquivos.ArquivoHistorico();
    }

    void Inicia(uint16_t porta) {
        std::vector<std::string> ambiente;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("XDG_RUNTIME_DIR=", 0) && v.rfind("QT_QPA_PLATFORM=", 0) &&
                v.rfind("LUMORA_PORTA_TCP=", 0)) {
                ambiente.push_back(v);
            }
        }
        ambiente.push_back("XDG_RUNTIME_DIR=" + (pasta / "run").string());
        ambiente.push_back("QT_QPA_PLATFORM=offscreen");
        ambiente.push_back("LUMORA_PORTA_TCP=" + std::to_string(porta));
        std::vector<char*> envp;
        for (auto& v : ambiente) envp.push_back(v.data());
        envp.push_back(nullptr);
        const std::string exe = (pasta / "Lumora").string();
        char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
        posix_spawn_file_actions_t acoes;
        posix_spawn_file_actions_init(&acoes);
        const std::string saida = (pasta / "stderr.txt").string();
        posix_spawn_file_actions_addopen(&acoes, 2, saida.c_str(), O_WRONLY | O_CREAT, 0644);
        // Started from another folder: only the executable's folder may count.
        posix_spawn_file_actions_addchdir_np(&acoes, "/");
        ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &acoes, nullptr, argv, envp.data()), 0);
        posix_spawn_file_actions_destroy(&acoes);
    }

    // Connects once the automatic start (about 2 s after start-up) has opened the port.
    void Conecta(termsim::SimTerminal& t, uint16_t porta) {
        const auto limite = std::chrono::steady_clock::now() + 15s;
        for (;;) {
            try {
                t.Connect("127.0.0.1", porta, "127.0.0.5", 1s);
                return;
            } catch (const termsim::SimError&) {
                if (std::chrono::steady_clock::now() > limite) throw;
                std::this_thread::sleep_for(100ms);
            }
        }
    }

    std::string ProximoCodigo(termsim::SimTerminal& t) {
        const auto m = t.WaitMessage(5s);
        if (!m) return "(nothing)";
        const auto r = termsim::ParseReply(m->bytes);
        EXPECT_TRUE(r.WellFormed()) << m->bytes << ": " << r.problem;
        return r.Code();
    }

    // Waits for the end of the process; its exit status, or -1 when it does not end in time.
    int Termino(std::chrono::seconds limite) {
        const auto fim = std::chrono::steady_clock::now() + limite;
        while (std::chrono::steady_clock::now() < fim) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(50ms);
        }
        return -1;
    }

    fs::path pasta;
    fs::path historico;
    pid_t pid = -1;
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
    try {
        Conecta(terminal, porta);
    } catch (const termsim::SimError& e) {
        FAIL() << e.what() << "; the program said:\n" << Le(pasta / "stderr.txt");
    }
    EXPECT_EQ(ProximoCodigo(terminal), "$");   // wake
    EXPECT_EQ(ProximoCodigo(terminal), "01");  // clock
    // On the white list: hand the card in; the turnstile turns, and that row is saved at once.
    terminal.SendCardRead("0000000000001234");
    EXPECT_EQ(ProximoCodigo(terminal), "20");
    terminal.SendTurnstileResult("G");
    // Not on the list: refused. That row reaches the file only with the close.
    terminal.SendCardRead("0000000000007777");
    EXPECT_EQ(ProximoCodigo(terminal), "03");

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(Termino(20s), 0) << Le(pasta / "stderr.txt");
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
    // Nothing half-written is left behind.
    for (const auto& e : fs::recursive_directory_iterator(pasta)) {
        EXPECT_NE(e.path().filename().string().front(), '.') << e.path();
    }
}
