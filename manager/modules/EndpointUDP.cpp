// The UDP endpoints the manager speaks to the modules through.
#include "manager/modules/EndpointUDP.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <vector>

#include "common/SockErrors.h"

namespace modrevo {
namespace {

constexpr int kTempoPadrao = 2000;

[[noreturn]] void FalhaSocket(int err) {
    const int codigo = WsaErrorFromErrno(err);
    throw ESocketUDP(SocketErrorText(codigo, err), codigo);
}

std::string Texto(const in_addr& a) {
    char buffer[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, buffer, sizeof buffer);
    return buffer;
}

// Indexes of the interfaces a broadcast should leave by: up, able to broadcast, not loopback,
// with an IPv4 address.
struct Interface {
    int indice;
    std::string nome;
};

std::vector<Interface> InterfacesDeBroadcast() {
    std::vector<Interface> indices;
    ifaddrs* lista = nullptr;
    if (getifaddrs(&lista) != 0) return indices;
    std::set<int> vistos;
    for (ifaddrs* i = lista; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        const unsigned flags = i->ifa_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_BROADCAST) || (flags & IFF_LOOPBACK)) continue;
        // An alias ("eth0:1") is the same interface as its base.
        std::string nome = i->ifa_name;
        nome = nome.substr(0, nome.find(':'));
        const int indice = static_cast<int>(if_nametoindex(nome.c_str()));
        if (indice > 0 && vistos.insert(indice).second) indices.push_back({indice, nome});
    }
    freeifaddrs(lista);
    return indices;
}

}  // namespace

bool LeEnderecoIPv4(const std::string& texto, uint32_t& endereco) {
    // Four decimal parts of 0 to 255; inet_pton accepts exactly that and never resolves a name.
    in_addr a{};
    if (texto.size() > 15 || inet_pton(AF_INET, texto.c_str(), &a) != 1) return false;
    endereco = a.s_addr;
    return true;
}

TUDPEndpoint::TUDPEndpoint(int bufferSize, bool broadcastEnabled, int filaRecepcao)
    : bufferSize_(bufferSize), broadcastEnabled_(broadcastEnabled), filaRecepcao_(filaRecepcao) {}

TUDPEndpoint::~TUDPEndpoint() { Close(); }

void TUDPEndpoint::SetReceiveTimeout(int milissegundos) {
    receiveTimeout_ = milissegundos < 0 ? kTempoPadrao : milissegundos;
}

void TUDPEndpoint::Abre() {
    if (fd_ >= 0) return;
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw ESocketUDP("Cannot allocate socket.", 0);
    perdidos_ = 0;
    DefineBroadcast(broadcastEnabled_);
    if (filaRecepcao_ > 0) {
        // Beyond the system's ceiling only with the privilege for it; the plain request is
        // then granted up to that ceiling. Neither failing keeps the socket from working.
        if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &filaRecepcao_, sizeof filaRecepcao_) !=
            0)
            (void)::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &filaRecepcao_, sizeof filaRecepcao_);
    }
    // Where the socket's own count cannot be asked for, every datagram read carries the count
    // of those the system dropped for want of room.
    const int um = 1;
    (void)::setsockopt(fd_, SOL_SOCKET, SO_RXQ_OVFL, &um, sizeof um);
}

uint32_t TUDPEndpoint::Perdidos() const {
    // The socket's own count, asked now: a datagram read carries the count as it stood when
    // that datagram was queued, so drops after the last one queued would go unseen.
    if (fd_ >= 0) {
        uint32_t memoria[SK_MEMINFO_VARS] = {};
        socklen_t tamanho = sizeof memoria;
        if (::getsockopt(fd_, SOL_SOCKET, SO_MEMINFO, memoria, &tamanho) == 0 &&
            tamanho > SK_MEMINFO_DROPS * sizeof(uint32_t))
            return std::max(memoria[SK_MEMINFO_DROPS], perdidos_);
    }
    return perdidos_;
}

int TUDPEndpoint::FilaRecepcao() const {
    if (fd_ < 0) return 0;
    int bytes = 0;
    socklen_t tamanho = sizeof bytes;
    if (::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, &tamanho) != 0) return 0;
    return bytes;
}

void TUDPEndpoint::DefineBroadcast(bool ligado) {
    const int valor = ligado ? 1 : 0;
    if (::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &valor, sizeof valor) != 0) FalhaSocket(errno);
}

void TUDPEndpoint::Close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

uint16_t TUDPEndpoint::PortaLocal() const {
    if (fd_ < 0) return 0;
    sockaddr_in local{};
    socklen_t tamanho = sizeof local;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &tamanho) != 0) return 0;
    return ntohs(local.sin_port);
}

void TUDPEndpoint::EnviaPara(uint32_t destino, uint16_t porta, const std::string& texto,
                             int interfaceIndex) {
    sockaddr_in para{};
    para.sin_family = AF_INET;
    para.sin_port = htons(porta);
    para.sin_addr.s_addr = destino;
    iovec dados{const_cast<char*>(texto.data()), texto.size()};
    msghdr msg{};
    msg.msg_name = &para;
    msg.msg_namelen = sizeof para;
    msg.msg_iov = &dados;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char controle[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (interfaceIndex > 0) {
        msg.msg_control = controle;
        msg.msg_controllen = sizeof controle;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = interfaceIndex;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    ssize_t enviados;
    do {
        enviados = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
    } while (enviados < 0 && errno == EINTR);
    if (enviados < 0) {
        if (errno == EMSGSIZE) throw ESocketUDP("Package Size Too Big.", 0);
        FalhaSocket(errno);
    }
    if (static_cast<std::size_t>(enviados) != texto.size())
        throw ESocketUDP("Not all bytes sent.", 0);
}

void TUDPEndpoint::Broadcast(const std::string& texto, uint16_t porta) {
    Abre();
    DefineBroadcast(true);
    const uint32_t todos = htonl(INADDR_BROADCAST);
    const std::vector<Interface> interfaces = InterfacesDeBroadcast();
    falhasParciais_.clear();
    try {
        if (interfaces.empty()) {
            EnviaPara(todos, porta, texto, 0);
        } else {
            // A computer with two adapters finds the modules on both. One adapter that cannot
            // send (cable out) does not keep the modules on the others from being found; the
            // error is reported only when no adapter took the datagram.
            bool algumEnviou = false;
            std::exception_ptr ultimaFalha;
            std::vector<std::string> falhas;
            for (const Interface& i : interfaces) {
                try {
                    EnviaPara(todos, porta, texto, i.indice);
                    algumEnviou = true;
                } catch (const ESocketUDP& e) {
                    ultimaFalha = std::current_exception();
                    falhas.push_back(i.nome + ": " + e.what());
                }
            }
            if (!algumEnviou && ultimaFalha) std::rethrow_exception(ultimaFalha);
            falhasParciais_ = std::move(falhas);
        }
    } catch (...) {
        DefineBroadcast(broadcastEnabled_);
        throw;
    }
    DefineBroadcast(broadcastEnabled_);
}

void TUDPEndpoint::Send(const std::string& host, uint16_t porta, const std::string& texto) {
    Abre();
    uint32_t destino = 0;
    if (!LeEnderecoIPv4(host, destino)) FalhaSocket(EINVAL);
    EnviaPara(destino, porta, texto, 0);
}

void TUDPEndpoint::SendSoUnicast(const std::string& host, uint16_t porta,
                                 const std::string& texto) {
    Abre();
    uint32_t destino = 0;
    if (!LeEnderecoIPv4(host, destino)) FalhaSocket(EINVAL);
    DefineBroadcast(false);
    try {
        EnviaPara(destino, porta, texto, 0);
    } catch (...) {
        DefineBroadcast(broadcastEnabled_);
        throw;
    }
    DefineBroadcast(broadcastEnabled_);
}

Datagrama TUDPEndpoint::Receive() {
    Abre();
    ++recepcoes_;
    using Relogio = std::chrono::steady_clock;
    const auto limite = Relogio::now() + std::chrono::milliseconds(receiveTimeout_);
    pollfd espera{fd_, POLLIN, 0};
    for (;;) {
        // Rounded up, so that a wait lasts at least the whole time-out.
        const auto faltam =
            std::chrono::ceil<std::chrono::milliseconds>(limite - Relogio::now()).count();
        const int r = ::poll(&espera, 1, static_cast<int>(std::max<long long>(faltam, 0)));
        if (r > 0) break;
        if (r == 0 && faltam > 0 && Relogio::now() < limite) continue;
        if (r == 0) {
            ++esgotados_;
            return {};
        }
        if (errno != EINTR) FalhaSocket(errno);
        // A signal came in: wait again for the time that is left.
    }
    return Le();
}

Datagrama TUDPEndpoint::ReceiveImediato() {
    Abre();
    pollfd espera{fd_, POLLIN, 0};
    int r;
    do {
        r = ::poll(&espera, 1, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) FalhaSocket(errno);
    if (r == 0) return {};
    return Le();
}

Datagrama TUDPEndpoint::Le() {
    std::vector<char> buffer(static_cast<std::size_t>(bufferSize_));
    sockaddr_in de{};
    iovec dados{buffer.data(), buffer.size()};
    alignas(cmsghdr) char controle[CMSG_SPACE(sizeof(uint32_t))] = {};
    msghdr msg{};
    msg.msg_name = &de;
    msg.msg_namelen = sizeof de;
    msg.msg_iov = &dados;
    msg.msg_iovlen = 1;
    msg.msg_control = controle;
    msg.msg_controllen = sizeof controle;
    ssize_t lidos;
    do {
        // MSG_TRUNC gives the datagram's real length, so a datagram larger than the buffer is
        // seen as such; it has been taken off the queue either way.
        lidos = ::recvmsg(fd_, &msg, MSG_TRUNC);
    } while (lidos < 0 && errno == EINTR);
    if (lidos < 0) FalhaSocket(errno);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL)
            std::memcpy(&perdidos_, CMSG_DATA(c), sizeof perdidos_);
    }
    if (static_cast<std::size_t>(lidos) > buffer.size()) FalhaSocket(EMSGSIZE);
    Datagrama d;
    d.texto.assign(buffer.data(), static_cast<std::size_t>(lidos));
    d.endereco = Texto(de.sin_addr);
    d.porta = ntohs(de.sin_port);
    return d;
}

}  // namespace modrevo
