// The receiver as the package installs it: its files in $XDG_DATA_HOME/Lumora or in the folder
// given by --program-folder, and nowhere else; the options answered without a window.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "TerminalSim.h"
#include "tests/receiver/shell/PastaReceptor.h"
#include "tests/support/PortaLivre.h"
#include "tests/support/Processo.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using lumora::teste::Le;
using lumora::teste::PortaLivre;

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
        programa.Mata();
        fs::remove_all(raiz);
    }

    // Runs `exe` with a clean environment of folders under `raiz`; stdout and stderr go to
    // files there. `plataforma` empty leaves QT_QPA_PLATFORM and DISPLAY out altogether.
    void Inicia(const std::string& exe, std::vector<std::string> args, uint16_t porta,
                const std::string& plataforma = "offscreen") {
        lumora::teste::Execucao e;
        e.executavel = exe;
        e.argumentos = std::move(args);
        e.ambienteLimpo = true;
        e.ambiente = {
            "HOME=" + (raiz / "home").string(),
            "XDG_DATA_HOME=" + (raiz / "dados").string(),
            "XDG_CONFIG_HOME=" + (raiz / "config").string(),
            "XDG_CACHE_HOME=" + (raiz / "cache").string(),
            "XDG_RUNTIME_DIR=" + (raiz / "run").string(),
            "PATH=/usr/bin:/bin",
            "LUMORA_PORTA_TCP=" + std::to_string(porta),
        };
        if (!plataforma.empty()) e.ambiente.push_back("QT_QPA_PLATFORM=" + plataforma);
        e.saida = raiz / "stdout.txt";
        e.erros = raiz / "stderr.txt";
        e.pastaTrabalho = raiz / "cwd";
        ASSERT_EQ(programa.Inicia(e), "");
    }

    int Termino(std::chrono::seconds limite) { return programa.Termino(limite); }

    // A venue's folder: one card, equipment "01" at 127.0.0.5, automatic start.
    void Semeia(const fs::path& pasta) {
        const fs::path arquivo = lumora::teste::SemeiaPasta(pasta, "1234");
        ASSERT_FALSE(arquivo.empty());
        historico = fs::relative(arquivo, pasta);
        std::ofstream(pasta / "Config.ini")
            << "[CONFIGS]\nInicio_Automatico=1\nLista_Branca=1\nLista_Negra=0\n";
    }

    // Serves one card to a simulated terminal, then ends on SIGTERM.
    void AtendeEEncerra(uint16_t porta) {
        termsim::SimTerminal terminal("01");
        ASSERT_EQ(lumora::teste::ConectaQuandoAbrir(terminal, porta,
                                            [&] { return Le(raiz / "stderr.txt"); }),
                  "");
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
        ASSERT_TRUE(programa.Sinal(SIGTERM));
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
    lumora::teste::Processo programa;
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
    ASSERT_TRUE(programa.Sinal(SIGTERM));
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
