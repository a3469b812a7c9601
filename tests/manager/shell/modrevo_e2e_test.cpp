// The real Modrevo executable, started in this test's private network namespace without a
// display: its first refresh reaches the simulated modules, and SIGTERM ends it cleanly.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "ApoioModrevo.h"

extern char** environ;

using namespace apoio;
using namespace std::chrono_literals;

namespace {

class ProgramaTest : public ModrevoTest {
  protected:
    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ModrevoTest::TearDown();
    }

    void Inicia() {
        std::vector<std::string> ambiente;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("XDG_CONFIG_HOME=", 0) && v.rfind("XDG_RUNTIME_DIR=", 0) &&
                v.rfind("QT_QPA_PLATFORM=", 0))
                ambiente.push_back(v);
        }
        std::filesystem::create_directories(pasta / "run");
        ::chmod((pasta / "run").c_str(), 0700);
        ambiente.push_back("XDG_CONFIG_HOME=" + configuracao.string());
        ambiente.push_back("XDG_RUNTIME_DIR=" + (pasta / "run").string());
        ambiente.push_back("QT_QPA_PLATFORM=offscreen");
        std::vector<char*> envp;
        for (auto& v : ambiente) envp.push_back(v.data());
        envp.push_back(nullptr);
        const std::string exe = MODREVO_EXE;
        char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
        posix_spawn_file_actions_t acoes;
        posix_spawn_file_actions_init(&acoes);
        const std::string saida = (pasta / "stderr.txt").string();
        posix_spawn_file_actions_addopen(&acoes, 2, saida.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &acoes, nullptr, argv, envp.data()), 0);
        posix_spawn_file_actions_destroy(&acoes);
    }

    // The exit status, or -1 when the process has not ended in time.
    int Termino(std::chrono::milliseconds limite) {
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

    pid_t pid = -1;
};

TEST_F(ProgramaTest, RefreshesAtStartAndEndsOnSigterm) {
    IniciaSim(modsim::DefaultModules());
    Inicia();
    // The whole first refresh: the broadcast, four reads of each module, the second family.
    std::vector<Comando> esperados{{"255.255.255.255", "X"}};
    for (const auto& m : sim->Snapshot().tibbo)
        for (const char* t : {"L581947", "GNM", "GGI", "GDI"}) esperados.push_back({m.ip, t});
    const auto limite = std::chrono::steady_clock::now() + 10s;
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
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(Termino(3s), 0) << Le(pasta / "stderr.txt");
}

}  // namespace
