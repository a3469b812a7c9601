// Puts a test process into a network namespace of its own, where broadcasts stay on loopback.
#pragma once

#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace lumora::teste {

inline std::string NamespaceDeRede(const char* caminho) {
    char nome[128] = {};
    const ssize_t n = ::readlink(caminho, nome, sizeof nome - 1);
    return n > 0 ? std::string(nome, static_cast<std::size_t>(n)) : std::string();
}

// True when every interface in sight is loopback: nothing sent from here leaves the machine.
inline bool SoLoopback() {
    ifaddrs* lista = nullptr;
    if (::getifaddrs(&lista) != 0) return false;
    bool so = lista != nullptr;
    for (ifaddrs* i = lista; i; i = i->ifa_next)
        if (!(i->ifa_flags & IFF_LOOPBACK)) so = false;
    ::freeifaddrs(lista);
    return so;
}

// True when this process's network namespace is not the machine's own: either it differs from
// process 1's (where that can be read: some sandboxes hide it even from root), or it has no
// interface but loopback. A doubt never counts as private.
inline bool EmRedePrivada() {
    const std::string meu = NamespaceDeRede("/proc/self/ns/net");
    const std::string inicial = NamespaceDeRede("/proc/1/ns/net");
    if (!meu.empty() && !inicial.empty() && meu != inicial) return true;
    return SoLoopback();
}

// Moves the process into a new network namespace with loopback up and the default route on
// it, so that 255.255.255.255 is delivered on loopback and nowhere else. Call it first thing in
// main(), before any thread exists (a namespace change applies to the calling thread only).
// Returns the reason when that was impossible (not root, no unshare); "" on success.
inline std::string EntraEmRedePrivada() {
    const std::string antes = NamespaceDeRede("/proc/self/ns/net");
    if (::unshare(CLONE_NEWNET) != 0) {
        // Run by hand inside a namespace made beforehand (unshare -n ...): that will do.
        if (EmRedePrivada()) return {};
        return "unshare(CLONE_NEWNET) failed (needs root)";
    }
    if (NamespaceDeRede("/proc/self/ns/net") == antes || !SoLoopback())
        return "the new network namespace is not private";
    if (std::system("ip link set lo up && ip route add default dev lo") != 0)
        return "could not set up loopback in the private namespace (is iproute2 installed?)";
    return {};
}

// Gives the process a mount namespace of its own in which the hosts file names nothing but
// localhost and the one name server configured cannot be reached from a private network (a
// documentation address, 5 s per try, two tries): whatever asks a name server there waits as
// on an isolated gate network, whatever this machine's own files say. Call it after
// EntraEmRedePrivada, before any thread exists. Returns the reason when that was impossible.
inline std::string SemServidorDeNomes() {
    if (::unshare(CLONE_NEWNS) != 0) return "unshare(CLONE_NEWNS) failed (needs root)";
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return "could not make the mounts private";
    const std::pair<const char*, const char*> arquivos[] = {
        {"/etc/hosts", "127.0.0.1 localhost\n::1 localhost\n"},
        {"/etc/resolv.conf", "nameserver 192.0.2.53\noptions timeout:5 attempts:2\n"}};
    for (const auto& [alvo, texto] : arquivos) {
        // A minimal root may have no hosts file: then it names nothing already.
        if (!std::filesystem::exists(alvo)) continue;
        const std::string origem =
            std::filesystem::temp_directory_path() / ("lumora-nomes-" + std::to_string(::getpid()));
        std::ofstream(origem, std::ios::trunc) << texto;
        // A bind mount keeps the file alive after its name is gone.
        const bool montado = ::mount(origem.c_str(), alvo, nullptr, MS_BIND, nullptr) == 0;
        std::remove(origem.c_str());
        if (!montado) return std::string("could not replace ") + alvo;
    }
    return {};
}

// A further network namespace inside a test's private one, for a router or a segment behind
// it: a child process of ours makes it and only holds it, the test moves veth ends into it by
// the child's id and runs commands or code there. It goes, with its interfaces, when this
// object does.
class OutraRede {
  public:
    OutraRede() {
        int canal[2];
        if (::pipe2(canal, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            // Never outlives the test, however the test ends.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const char pronta = ::unshare(CLONE_NEWNET) == 0 ? 1 : 0;
            (void)!::write(canal[1], &pronta, 1);
            for (;;) ::pause();
        }
        ::close(canal[1]);
        char pronta = 0;
        if (pid_ > 0 && ::read(canal[0], &pronta, 1) == 1 && pronta)
            fd_ = ::open(Caminho().c_str(), O_RDONLY | O_CLOEXEC);
        ::close(canal[0]);
        if (fd_ >= 0 && Executa("ip link set lo up") != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~OutraRede() {
        if (fd_ >= 0) ::close(fd_);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    OutraRede(const OutraRede&) = delete;
    OutraRede& operator=(const OutraRede&) = delete;

    bool Pronta() const { return fd_ >= 0; }
    // What `ip link set DEV netns ...` takes.
    std::string Id() const { return std::to_string(pid_); }
    std::string Caminho() const { return "/proc/" + Id() + "/ns/net"; }
    // A shell command run inside it; its exit status.
    int Executa(const std::string& comando) const {
        const std::string linha = "nsenter --net=" + Caminho() + " sh -c '" + comando + "'";
        return std::system(linha.c_str());
    }
    // Runs `f` on the calling thread inside it: sockets made there, and threads started
    // there, belong to it for good. Returns false when the thread could not go in or back.
    template <class F>
    bool Dentro(F f) const {
        const int meu = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (meu < 0) return false;
        if (::setns(fd_, CLONE_NEWNET) != 0) {
            ::close(meu);
            return false;
        }
        // Back home even when `f` throws: the rest of the test must not run in there.
        struct Volta {
            int fd;
            ~Volta() {
                if (::setns(fd, CLONE_NEWNET) != 0) std::abort();
                ::close(fd);
            }
        } volta{meu};
        f();
        return true;
    }

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
};

// The kernel's count of UDP datagrams dropped because a socket's receive queue was full, for
// this network namespace; -1 when it cannot be read.
inline long long RcvbufErrors() {
    std::ifstream snmp("/proc/net/snmp");
    std::string cabecalho, valores;
    while (std::getline(snmp, cabecalho)) {
        if (cabecalho.rfind("Udp:", 0) != 0) continue;
        std::getline(snmp, valores);
        std::istringstream nomes(cabecalho), numeros(valores);
        std::string nome, numero;
        while (nomes >> nome && numeros >> numero)
            if (nome == "RcvbufErrors") return std::stoll(numero);
    }
    return -1;
}

}  // namespace lumora::teste
