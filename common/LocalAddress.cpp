// Host name, the hosts file and, when that is of no use, the interfaces' own addresses.
#include "common/LocalAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <strings.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

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

std::string HostsIPv4Address(std::string_view hosts, std::string_view name) {
    if (name.empty()) return {};
    std::istringstream linhas{std::string(hosts)};
    std::string linha;
    while (std::getline(linhas, linha)) {
        linha = linha.substr(0, linha.find('#'));
        std::istringstream campos(linha);
        std::string endereco, nome;
        in_addr a{};
        if (!(campos >> endereco) || inet_pton(AF_INET, endereco.c_str(), &a) != 1) continue;
        while (campos >> nome) {
            if (nome.size() == name.size() &&
                strncasecmp(nome.data(), name.data(), name.size()) == 0)
                return Texto(a);
        }
    }
    return {};
}

std::string LocalIPv4Address(bool loopbackFallback) {
    char nome[256] = {};
    std::string doHosts;
    if (gethostname(nome, sizeof nome - 1) == 0) {
        std::ifstream arquivo("/etc/hosts");
        std::ostringstream texto;
        texto << arquivo.rdbuf();
        doHosts = HostsIPv4Address(texto.str(), nome);
        in_addr a{};
        if (!doHosts.empty() && inet_pton(AF_INET, doHosts.c_str(), &a) == 1 && !Loopback(a))
            return doHosts;
    }
    const std::string interface = PrimeiraInterface();
    if (!interface.empty()) return interface;
    return loopbackFallback ? doHosts : std::string();
}

std::vector<IPv4Adapter> IPv4Adapters() {
    std::vector<IPv4Adapter> adaptadores;
    ifaddrs* lista = nullptr;
    if (getifaddrs(&lista) != 0) return adaptadores;
    for (ifaddrs* i = lista; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_netmask) continue;
        if (!(i->ifa_flags & IFF_UP)) continue;
        const auto* a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        const auto* m = reinterpret_cast<const sockaddr_in*>(i->ifa_netmask);
        adaptadores.push_back({ntohl(a->sin_addr.s_addr), ntohl(m->sin_addr.s_addr)});
    }
    freeifaddrs(lista);
    return adaptadores;
}

IPv4RoleFound ClassifyIPv4(uint32_t address, const std::vector<IPv4Adapter>& adapters) {
    if (address == 0xFFFFFFFFu) return {IPv4Role::LimitedBroadcast};
    if ((address >> 28) == 0xE) return {IPv4Role::Multicast};
    if ((address >> 28) == 0xF) return {IPv4Role::Reserved};
    const auto Prefixo = [](uint32_t mascara) {
        int n = 0;
        while (n < 32 && (mascara & (0x80000000u >> n))) ++n;
        return n;
    };
    std::vector<IPv4Adapter> redes = adapters;
    redes.push_back({0x7F000001u, 0xFF000000u});  // loopback, also where lo is down
    for (const IPv4Adapter& a : redes) {
        const int prefixo = Prefixo(a.netmask);
        if (prefixo >= 31 || prefixo == 0 || address == a.address) continue;
        const uint32_t rede = a.address & a.netmask;
        if ((address & a.netmask) != rede) continue;
        if (address == rede) return {IPv4Role::NetworkAddress, rede, prefixo};
        if (address == (rede | ~a.netmask)) return {IPv4Role::DirectedBroadcast, rede, prefixo};
    }
    return {IPv4Role::Unicast};
}

}  // namespace common
