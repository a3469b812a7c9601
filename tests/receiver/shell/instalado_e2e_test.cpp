// The receiver as the package installs it: its files in $XDG_DATA_HOME/Lumora or in the folder
// given by --program-folder, and nowhere else; the options answered without a window.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
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

// Every file and folder below `raiz`, relative to it.
std::set<std::string> Conteudo(const fs::path& raiz) {
    std::set<std::string> r;
    for (const auto& e : fs::recursive_directory_iterator(raiz)) {
        r.insert(fs::relative(e.path(), raiz).string());
    }
    return r;
}

class InstaladoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char modelo[] = "/tmp/lumora_inst.XXXXXX";
        raiz = ::mkdtemp(modelo);
        for (const char* p : {"home", "dados", "config", "cache", "run", "cwd"}) {
            fs::create_directories(raiz / p);
        }
        exeAntes = Conteudo(fs::path(LUMORA_INSTALADO).parent_path());
    }
    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        fs::remove_all(raiz);
    }

    // Runs `exe` with a clean environment of folders under `raiz`; stdout and stderr go to
    // files there. `plataforma` empty leaves QT_QPA_PLATFORM and DISPLAY out altogether.
    void Inicia(const std::string& exe, std::vector<std::string> args, uint16_t porta,
                const std::string& plataforma = "offscreen") {
        std::vector<std::string> ambiente = {
            "HOME=" + (raiz / "home").string(),
            "XDG_DATA_HOME=" + (raiz / "dados").string(),
            "XDG_CONFIG_HOME=" + (raiz / "config").string(),
            "XDG_CACHE_HOME=" + (raiz / "cache").string(),
            "XDG_RUNTIME_DIR=" + (raiz / "run").string(),
            "PATH=/usr/bin:/bin",
            "LUMORA_PORTA_TCP=" + std::to_string(porta),
        };
        if (!plataforma.empty()) ambiente.push_back("QT_QPA_PLATFORM=" + plataforma);
        for (char** e = environ; *e; ++e) {
            // The sanitizers' settings, when the suite runs under them.
            if (std::string(*e).find("SAN_OPTIONS=") != std::string::npos) ambiente.push_back(*e);
        }
        std::vector<char*> envp;
        for (auto& v : ambiente) envp.push_back(v.data());
        envp.push_back(nullptr);
        args.insert(args.begin(), exe);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t acoes;
        posix_spawn_file_actions_init(&acoes);
        const std::string saida = (raiz / "stdout.txt").string();
        const std::string erros = (raiz / "stderr.txt").string();
        posix_spawn_file_actions_addopen(&acoes, 1, saida.c_str(), O_WRONLY | O_CREAT, 0644);
        posix_spawn_file_actions_addopen(&acoes, 2, erros.c_str(), O_WRONLY | O_CREAT, 0644);
        const std::string cwd = (raiz / "cwd").string();
        posix_spawn_file_actions_addchdir_np(&acoes, cwd.c_str());
        ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &acoes, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&acoes);
    }

    int Termino(std::chrono::seconds limite) {
        const auto fim = std::chrono::steady_clock::now() + limite;
        while (std::chrono::steady_clock::now() < fim) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }

    // A venue's folder: one card, equipment "01" at 127.0.0.5, automatic start.
    void Semeia(const fs::path& pasta) {
        fs::create_directories(pasta);
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
        historico = fs::relative(arquivos.ArquivoHistorico(), pasta);
        std::ofstream(pasta / "Config.ini")
            << "[CONFIGS]\nInicio_Automatico=1\nLista_Branca=1\nLista_Negra=0\n";
    }

    // Serves one card to a simulated terminal, then ends on SIGTERM.
    void AtendeEEncerra(uint16_t porta) {
        termsim::SimTerminal terminal("01");
        const auto limite = std::chrono::steady_clock::now() + 15s;
        for (;;) {
            try {
                terminal.Connect("127.0.0.1", porta, "127.0.0.5", 1s);
                break;
            } catch (const termsim::SimError& e) {
                ASSERT_LT(std::chrono::steady_clock::now(), limite)
                    << e.what() << "; the program said:\n"
                    << Le(raiz / "stderr.txt");
                std::this_thread::sleep_for(100ms);
            }
        }
        std::vector<std::string> codigos;
        terminal.SendCardRead("0000000000001234");
        for (int i = 0; i < 3; ++i) {
            const auto m = terminal.WaitMessage(5s);
            codigos.push_back(m ? termsim::ParseReply(m->bytes).Code() : "(nothing)");
        }
        EXPECT_EQ(codigos, (std::vector<std::string>{"$", "01", "20"}));
        terminal.SendTurnstileResult("G");
        // A refusal answered means the turn before it has been taken in and saved.
        terminal.SendCardRead("0000000000007777");
        const auto m = terminal.WaitMessage(5s);
        EXPECT_EQ(m ? termsim::ParseReply(m->bytes).Code() : "(nothing)", "03");
        ASSERT_EQ(::kill(pid, SIGTERM), 0);
        EXPECT_EQ(Termino(20s), 0) << Le(raiz / "stderr.txt");
    }

    // After a run: the program folder holds the venue's files, the history of the card just
    // served among them, and nothing else under `raiz` or beside the executable has changed.
    void ConfereSoNaPasta(const fs::path& pasta) {
        EXPECT_NE(Le(pasta / historico).find("Cracha=\"0000000000001234\" Estado=\"Liberado\""),
                  std::string::npos);
        EXPECT_NE(Le(pasta / "Config.ini").find("Tempo_De_Rele="), std::string::npos);
        EXPECT_NE(Le(raiz / "stderr.txt").find("program folder " + pasta.string() + "\n"),
                  std::string::npos)
            << Le(raiz / "stderr.txt");
        std::set<std::string> fora;
        for (const auto& e : fs::recursive_directory_iterator(raiz)) {
            const fs::path rel = fs::relative(e.path(), raiz);
            const auto dentro = fs::relative(e.path(), pasta);
            if (!dentro.empty() && *dentro.begin() != "..") continue;
            if (e.is_directory() && fs::relative(pasta, e.path()).begin()->string() != "..") {
                continue;  // a folder on the way to the program folder
            }
            fora.insert(rel.string());
        }
        // The single-instance lock lives in the runtime folder, as in every build.
        fora.erase("run/GlobalMutex");
        for (const char* f :
             {"home", "dados", "config", "cache", "run", "cwd", "stdout.txt", "stderr.txt"}) {
            fora.erase(f);
        }
        EXPECT_TRUE(fora.empty()) << ::testing::PrintToString(fora);
        EXPECT_EQ(Conteudo(fs::path(LUMORA_INSTALADO).parent_path()), exeAntes);
    }

    fs::path raiz;
    fs::path historico;
    std::set<std::string> exeAntes;
    pid_t pid = -1;
};

}  // namespace

TEST_F(InstaladoTest, CreatesTheUserDataFolderAndKeepsEverythingThere) {
    // First start on a fresh account: the folder does not exist yet.
    const uint16_t porta = PortaLivre();
    Inicia(LUMORA_INSTALADO, {}, porta);
    const fs::path pasta = raiz / "dados" / "Lumora";
    const auto limite = std::chrono::steady_clock::now() + 10s;
    while (!fs::exists(pasta / "Comandas.xml") && std::chrono::steady_clock::now() < limite) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(fs::exists(pasta / "Comandas.xml")) << Le(raiz / "stderr.txt");
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    ASSERT_EQ(Termino(20s), 0) << Le(raiz / "stderr.txt");
    EXPECT_TRUE(fs::exists(pasta / "Config.ini"));

    // Then the venue's files, a terminal served, SIGTERM.
    fs::remove_all(pasta);
    Semeia(pasta);
    Inicia(LUMORA_INSTALADO, {}, porta);
    AtendeEEncerra(porta);
    ConfereSoNaPasta(pasta);
}

TEST_F(InstaladoTest, ProgramFolderOptionReplacesTheDataFolder) {
    const fs::path pasta = raiz / "venue" / "files";
    Semeia(pasta);
    const uint16_t porta = PortaLivre();
    Inicia(LUMORA_INSTALADO, {"--program-folder", pasta.string()}, porta);
    AtendeEEncerra(porta);
    ConfereSoNaPasta(pasta);
    EXPECT_FALSE(fs::exists(raiz / "dados" / "Lumora"));
}

TEST_F(InstaladoTest, HelpAndVersionStartNoWindow) {
    // No display and the desktop's platform plugin: an application object would abort.
    struct Caso {
        const char* exe;
        const char* opcao;
        std::string saida;  // the start of what stdout must show
    };
    const Caso casos[] = {
        {LUMORA_INSTALADO, "--version", std::string("Lumora ") + LUMORA_VERSAO + "\n"},
        {LUMORA_EXE, "--version", std::string("Lumora ") + LUMORA_VERSAO + "\n"},
        {MODREVO_EXE, "--version", std::string("Modrevo ") + LUMORA_VERSAO + "\n"},
        {LUMORA_INSTALADO, "--help", "Usage: Lumora "},
        {MODREVO_EXE, "--help", "Usage: Modrevo "},
    };
    for (const auto& c : casos) {
        Inicia(c.exe, {c.opcao}, 1, "xcb");
        EXPECT_EQ(Termino(10s), 0) << c.exe << " " << c.opcao << Le(raiz / "stderr.txt");
        EXPECT_EQ(Le(raiz / "stdout.txt").substr(0, c.saida.size()), c.saida)
            << c.exe << " " << c.opcao;
        fs::remove(raiz / "stdout.txt");
    }
    // The help names the folder each build really uses.
    Inicia(LUMORA_INSTALADO, {"--help"}, 1, "xcb");
    EXPECT_EQ(Termino(10s), 0);
    EXPECT_NE(Le(raiz / "stdout.txt").find("$XDG_DATA_HOME/Lumora"), std::string::npos);
    // A mistyped option is refused, not ignored by a window that starts anyway.
    for (const char* exe : {LUMORA_INSTALADO, MODREVO_EXE}) {
        Inicia(exe, {"--program-foldr", "/x"}, 1, "xcb");
        EXPECT_EQ(Termino(10s), 2) << exe;
    }
    EXPECT_FALSE(fs::exists(raiz / "dados" / "Lumora"));
}
