// A program that an end-to-end test runs: its command line and environment, its output in
// files, its end. Killed when the test is over if it is still running.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace lumora::teste {

// A whole file's bytes (empty when it cannot be read).
inline std::string Le(const std::filesystem::path& arquivo) {
    std::ifstream in(arquivo, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Execucao {
    std::string executavel;
    std::vector<std::string> argumentos;  // after the program's own name
    // "NAME=value" entries. They replace the test's own variables of the same names; with
    // `ambienteLimpo` they are the whole environment, besides the sanitizers' settings.
    std::vector<std::string> ambiente;
    bool ambienteLimpo = false;
    std::filesystem::path saida;          // standard output goes here, when given
    std::filesystem::path erros;          // standard error goes here, when given
    std::filesystem::path pastaTrabalho;  // the folder it starts in, when given
};

class Processo {
  public:
    Processo() = default;
    Processo(const Processo&) = delete;
    Processo& operator=(const Processo&) = delete;
    ~Processo() { Mata(); }

    // Starts the program; the system's reason when it cannot, else empty.
    std::string Inicia(const Execucao& e) {
        std::vector<std::string> ambiente;
        for (char** v = environ; *v; ++v) {
            const std::string variavel = *v;
            const std::string nome = variavel.substr(0, variavel.find('=') + 1);
            const bool sanitizador = nome.find("SAN_OPTIONS=") != std::string::npos;
            bool substituida = false;
            for (const auto& nova : e.ambiente) substituida |= nova.rfind(nome, 0) == 0;
            if (sanitizador || (!e.ambienteLimpo && !substituida)) ambiente.push_back(variavel);
        }
        ambiente.insert(ambiente.end(), e.ambiente.begin(), e.ambiente.end());
        std::vector<char*> envp;
        for (auto& v : ambiente) envp.push_back(v.data());
        envp.push_back(nullptr);
        std::vector<std::string> argumentos = e.argumentos;
        argumentos.insert(argumentos.begin(), e.executavel);
        std::vector<char*> argv;
        for (auto& a : argumentos) argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t acoes;
        posix_spawn_file_actions_init(&acoes);
        const std::string saida = e.saida.string(), erros = e.erros.string();
        const std::string pasta = e.pastaTrabalho.string();
        if (!saida.empty())
            posix_spawn_file_actions_addopen(&acoes, 1, saida.c_str(), O_WRONLY | O_CREAT, 0644);
        if (!erros.empty())
            posix_spawn_file_actions_addopen(&acoes, 2, erros.c_str(), O_WRONLY | O_CREAT, 0644);
        if (!pasta.empty()) posix_spawn_file_actions_addchdir_np(&acoes, pasta.c_str());
        const int falha = posix_spawn(&pid_, e.executavel.c_str(), &acoes, nullptr, argv.data(),
                                      envp.data());
        posix_spawn_file_actions_destroy(&acoes);
        status_ = -1;
        if (falha == 0) return {};
        pid_ = -1;
        return e.executavel + ": " + std::strerror(falha);
    }

    pid_t Pid() const { return pid_; }
    bool Vivo() { return !Terminou(); }
    bool Sinal(int sinal) const { return pid_ > 0 && ::kill(pid_, sinal) == 0; }

    // Waits for the end: the exit status (128 + the signal when one ended it), or -1 when it
    // is still running after `limite`.
    int Termino(std::chrono::milliseconds limite) {
        const auto fim = std::chrono::steady_clock::now() + limite;
        while (!Terminou()) {
            if (std::chrono::steady_clock::now() >= fim) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return status_;
    }

    void Mata() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    bool Terminou() {
        if (pid_ <= 0) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
        pid_ = 0;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    }

    pid_t pid_ = -1;    // 0 once it has ended
    int status_ = -1;  // its exit status once it has ended
};

}  // namespace lumora::teste
