// A plain HTTP/1.0 client for the tests and benchmarks of the monitoring endpoint: one request
// per connection, the answer read to its end, on loopback or in a test's own namespace.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace lumora::teste {

struct RespostaHttp {
    int status = 0;  // 0: no answer (refused, closed, timed out)
    std::string cabecalhos;
    std::string corpo;
};

// A connected socket to `endereco`:`porta` (from `origem` when given), or -1.
inline int ConectaTcp(const std::string& endereco, uint16_t porta, const std::string& origem = {}) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    if (!origem.empty()) {
        sockaddr_in o{};
        o.sin_family = AF_INET;
        ::inet_pton(AF_INET, origem.c_str(), &o.sin_addr);
        if (::bind(s, reinterpret_cast<sockaddr*>(&o), sizeof o) != 0) {
            ::close(s);
            return -1;
        }
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(porta);
    ::inet_pton(AF_INET, endereco.c_str(), &a.sin_addr);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

// Reads until the peer closes or `limite` passes.
inline std::string LeAteFechar(int s, std::chrono::milliseconds limite) {
    std::string lido;
    const auto fim = std::chrono::steady_clock::now() + limite;
    char bloco[16384];
    for (;;) {
        const auto falta = std::chrono::duration_cast<std::chrono::milliseconds>(
                               fim - std::chrono::steady_clock::now())
                               .count();
        if (falta <= 0) break;
        pollfd p{s, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(falta)) <= 0) break;
        const ssize_t n = ::recv(s, bloco, sizeof bloco, 0);
        if (n <= 0) break;
        lido.append(bloco, static_cast<size_t>(n));
    }
    return lido;
}

inline RespostaHttp SeparaResposta(const std::string& bruto) {
    RespostaHttp r;
    const size_t fimCabecalhos = bruto.find("\r\n\r\n");
    if (bruto.rfind("HTTP/1.", 0) != 0 || bruto.size() < 12 || fimCabecalhos == std::string::npos)
        return r;
    r.status = std::stoi(bruto.substr(9, 3));
    r.cabecalhos = bruto.substr(0, fimCabecalhos);
    r.corpo = bruto.substr(fimCabecalhos + 4);
    return r;
}

// Sends `pedido` as it is (the request line and headers, CRLFs included) and reads the answer.
inline RespostaHttp PedidoHttp(const std::string& endereco, uint16_t porta,
                               const std::string& pedido,
                               std::chrono::milliseconds limite = std::chrono::seconds(5)) {
    const int s = ConectaTcp(endereco, porta);
    if (s < 0) return {};
    size_t enviado = 0;
    while (enviado < pedido.size()) {
        const ssize_t n = ::send(s, pedido.data() + enviado, pedido.size() - enviado, MSG_NOSIGNAL);
        if (n <= 0) break;
        enviado += static_cast<size_t>(n);
    }
    const RespostaHttp r = SeparaResposta(LeAteFechar(s, limite));
    ::close(s);
    return r;
}

inline RespostaHttp GetHttp(const std::string& endereco, uint16_t porta, const std::string& caminho,
                            std::chrono::milliseconds limite = std::chrono::seconds(5)) {
    return PedidoHttp(endereco, porta,
                      "GET " + caminho + " HTTP/1.0\r\nHost: " + endereco + "\r\n\r\n", limite);
}

}  // namespace lumora::teste
