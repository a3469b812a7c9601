// Host name, name resolution and, when that is of no use, the interfaces' own addresses.
#include "common/LocalAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

namespace common {
namespace {

bool Loopback(const in_addr& a) { return (ntohl(a.s_addr) >> 24) == 127; }

std::string Texto(const in_addr& a) {
    char buffer[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, buffer, sizeof buffer);
    return buffer;
}

std::string PrimeiraInterface() {
    ifaddrs* lista = nullptr;
    if (getifaddrs(&lista) != 0) return {};
    std::string achado;
    for (ifaddrs* i = lista; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        const auto* a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        if (Loopback(a->sin_addr)) continue;
        achado = Texto(a->sin_addr);
        break;
    }
    freeifaddrs(lista);
    return achado;
}

}  // namespace

std::string LocalIPv4Address(bool loopbackFallback) {
    char nome[128] = {};
    std::string resolvido;
    if (gethostname(nome, sizeof nome - 1) == 0) {
        addrinfo dica{};
        dica.ai_family = AF_INET;
        dica.ai_socktype = SOCK_STREAM;
        addrinfo* resultado = nullptr;
        if (getaddrinfo(nome, nullptr, &dica, &resultado) == 0 && resultado) {
            const auto* a = reinterpret_cast<const sockaddr_in*>(resultado->ai_addr);
            resolvido = Texto(a->sin_addr);
            const bool loop = Loopback(a->sin_addr);
            freeaddrinfo(resultado);
            if (!loop) return resolvido;
        }
    }
    const std::string interface = PrimeiraInterface();
    if (!interface.empty()) return interface;
    return loopbackFallback ? resolvido : std::string();
}

}  // namespace common
