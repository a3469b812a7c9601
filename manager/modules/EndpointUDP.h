// The UDP endpoints the manager speaks to the modules through: datagram sockets with a
// receive that waits at most a given time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/Exception.h"

namespace modrevo {

// A failure of a datagram socket, with the text the operator sees ("Socket Error # ...",
// "Cannot allocate socket.", "Package Size Too Big.", "Not all bytes sent.").
class ESocketUDP : public common::Exception {
  public:
    ESocketUDP(const std::string& texto, int codigo) : common::Exception(texto), codigo_(codigo) {}
    int Codigo() const { return codigo_; }  // Windows Sockets code; 0 for the plain texts

  private:
    int codigo_;
};

// One received datagram; empty text, empty address and port 0 when the wait ran out.
struct Datagrama {
    std::string texto;
    std::string endereco;
    uint16_t porta = 0;
};

// What the reply rules and the refresh need of an endpoint, so tests can put a scripted one
// in its place.
class IEndpointUDP {
  public:
    virtual ~IEndpointUDP() = default;
    virtual void SetReceiveTimeout(int milissegundos) = 0;
    virtual int ReceiveTimeout() const = 0;
    virtual void Broadcast(const std::string& texto, uint16_t porta) = 0;
    // The adapters that refused the last broadcast while another took it, each as
    // "name: error text"; empty when every adapter took it.
    virtual std::vector<std::string> FalhasParciais() const { return {}; }
    virtual void Send(const std::string& host, uint16_t porta, const std::string& texto) = 0;
    // Send with the broadcast permission off for this one datagram: an address the system
    // knows as a broadcast address (an adapter's network's last one) is refused with an error
    // instead of reaching every module of that segment.
    virtual void SendSoUnicast(const std::string& host, uint16_t porta, const std::string& texto) {
        Send(host, porta, texto);
    }
    virtual Datagrama Receive() = 0;
    // A datagram already waiting, without waiting for one: empty text and an empty address
    // when none is there. Not counted as a receive.
    virtual Datagrama ReceiveImediato() { return {}; }
    // Datagrams the system dropped for this socket because its receive queue was full, since
    // the socket was opened, as far as the receives so far have been told.
    virtual uint32_t Perdidos() const { return 0; }
    virtual void Close() = 0;
};

// What the endpoints ask the system for as their receive queue: room for a few thousand
// replies, so that every module of a segment answering one broadcast at once fits. The
// system caps it (net.core.rmem_max) for a program without privileges.
constexpr int kFilaRecepcao = 1 << 20;

// A datagram socket opened by the first send and kept until Close; the system picks its local
// port. It is never bound by us, so every reply to any of its sends reaches it.
class TUDPEndpoint : public IEndpointUDP {
  public:
    explicit TUDPEndpoint(int bufferSize, bool broadcastEnabled = true,
                          int filaRecepcao = kFilaRecepcao);
    ~TUDPEndpoint() override;
    TUDPEndpoint(const TUDPEndpoint&) = delete;
    TUDPEndpoint& operator=(const TUDPEndpoint&) = delete;

    int BufferSize() const { return bufferSize_; }
    bool BroadcastEnabled() const { return broadcastEnabled_; }
    bool Active() const { return fd_ >= 0; }
    // A negative time-out counts as 2000 ms; 0 polls once without waiting.
    void SetReceiveTimeout(int milissegundos) override;
    int ReceiveTimeout() const override { return receiveTimeout_; }

    // One datagram to 255.255.255.255 through every IPv4 interface that is up, can broadcast
    // and is not loopback, all from this socket and its port; by the routing table where no
    // such interface exists.
    void Broadcast(const std::string& texto, uint16_t porta) override;
    std::vector<std::string> FalhasParciais() const override { return falhasParciais_; }
    // `host` is a dotted quad; nothing is ever resolved.
    void Send(const std::string& host, uint16_t porta, const std::string& texto) override;
    void SendSoUnicast(const std::string& host, uint16_t porta, const std::string& texto) override;
    Datagrama Receive() override;
    Datagrama ReceiveImediato() override;
    uint32_t Perdidos() const override;
    void Close() override;
    // The receive queue the system gave the open socket, in bytes; 0 when none is open.
    int FilaRecepcao() const;

    // For tests and diagnostics: receives made, and those that ended without a datagram.
    int Recepcoes() const { return recepcoes_; }
    int Esgotados() const { return esgotados_; }
    uint16_t PortaLocal() const;  // 0 when no socket is open

  private:
    void Abre();
    void EnviaPara(uint32_t destino, uint16_t porta, const std::string& texto, int interfaceIndex);
    void DefineBroadcast(bool ligado);
    // Reads the datagram that poll() said is there.
    Datagrama Le();

    int bufferSize_;
    bool broadcastEnabled_;
    int filaRecepcao_;
    uint32_t perdidos_ = 0;
    int receiveTimeout_ = 0;
    int fd_ = -1;
    int recepcoes_ = 0;
    int esgotados_ = 0;
    std::vector<std::string> falhasParciais_;
};

// A dotted-quad IPv4 text as an address in network order; false for anything else.
bool LeEnderecoIPv4(const std::string& texto, uint32_t& endereco);

}  // namespace modrevo
