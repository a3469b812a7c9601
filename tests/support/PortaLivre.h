// A TCP port for servers under test that nothing else will take in the meantime.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <random>

namespace lumora::teste {

// A port that is free now and lies below the system's range of ephemeral ports. A port handed
// out by bind(0) comes from that range, and any outgoing connection on the machine (tests run
// in parallel, with hundreds of simulated terminals) may take it as its own local port before
// the server under test gets to listen on it.
inline uint16_t PortaLivre() {
    int primeiraEfemera = 32768;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> primeiraEfemera;
    const int mais_alta = std::max(primeiraEfemera - 1, 10001);
    std::random_device semente;
    std::mt19937 sorteio(semente());
    std::uniform_int_distribution<int> faixa(10000, mais_alta);
    for (int tentativa = 0; tentativa < 200; ++tentativa) {
        const auto porta = static_cast<uint16_t>(faixa(sorteio));
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int um = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &um, sizeof um);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        a.sin_port = htons(porta);
        const bool livre = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (livre) return porta;
    }
    return 0;
}

}  // namespace lumora::teste
