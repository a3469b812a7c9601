// Puts a test process into a network namespace of its own, where broadcasts stay on loopback.
#pragma once

#include <ifaddrs.h>
#include <net/if.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

}  // namespace lumora::teste
