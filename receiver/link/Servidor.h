// The terminal connection server: listens, greets terminals, cuts their streams into messages,
// hands each to the exit decision engine and sends the replies back.
#pragma once

#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "receiver/control/Motor.h"
#include "receiver/link/BufferTerminal.h"
#include "receiver/link/Sock.h"

namespace lumora {

class TMonitor;

// The two areas of the traffic-log window.
class ILogTrafego {
  public:
    virtual ~ILogTrafego() = default;
    virtual void Recebidos(const std::string& linha) = 0;
    virtual void Enviados(const std::string& linha) = 0;
    // A line just written to an area that the operator must hear of even where nobody sees the
    // window (a failure, a lost connection, the counts of unregistered traffic).
    virtual void Destaca(const std::string& /*linha*/) {}
};

// The list of connected terminals on the main window.
class IListaTerminais {
  public:
    virtual ~IListaTerminais() = default;
    virtual void Limpa() = 0;
    virtual void Adiciona(const std::string& ip) = 0;
    // Removes the first line equal to ip; nothing when there is none.
    virtual void RemovePrimeiro(const std::string& ip) = 0;
};

// The operator's notice box ("Atenção", information icon, OK). The window shows it; tests count.
class IAvisosOperador {
  public:
    virtual ~IAvisosOperador() = default;
    virtual void Aviso(const std::string& texto) = 0;
};

// Texts the server shows or logs, in Windows-1252.
namespace textos {
inline const std::string kIniciar = "Iniciar Comunica\xE7\xE3o";
inline const std::string kParar = "Parar Comunica\xE7\xE3o";
inline const std::string kConectado = "Terminal Vexa Conectado! Endere\xE7o IP:";
inline const std::string kFechando =
    "Fechando conex\xF5"
    "es...";
inline const std::string kSemTerminal = "N\xE3o Existe nenhum terminal Conectado.";
inline const std::string kFalhaEnvio =
    "N\xE3o foi poss\xEDvel comunicar com o equipamento.\n"
    "Verifique se o endere\xE7o IP est\xE1 correto e tente novamente.";
}  // namespace textos

class TServidorTerminais {
  public:
    // Limits that keep one misbehaving peer from hurting the others.
    static constexpr int kMaxConexoes = 256;
    // Bytes after the last CR: a message that long is no terminal's, and the connection is cut.
    static constexpr size_t kMaxBufferMensagem = 64 * 1024;
    // Complete messages held for a connection (its clock message is a second away, or a box of
    // its handling is open): past this the connection is not read until they are handled.
    static constexpr size_t kMaxRetido = 64 * 1024;
    // Replies waiting for a peer that does not read them: past this the connection is cut.
    static constexpr size_t kMaxSaidaPendente = 1024 * 1024;
    static constexpr int kEsperaRelogioMs = 1000;
    // How often the engine is asked for its counts of messages that got no row.
    static constexpr int kIntervaloRelatosMs = 5000;

    TServidorTerminais(TMotorSaida& motor, ILogTrafego& log, IListaTerminais& lista,
                       IAvisosOperador& avisos);
    ~TServidorTerminais();
    TServidorTerminais(const TServidorTerminais&) = delete;
    TServidorTerminais& operator=(const TServidorTerminais&) = delete;

    // Start/stop. portaTCP is the text of the port field; a failure to start raises, and so
    // does a port number outside 1..65535. enderecoEscuta: the address of this computer to
    // listen on (empty: every address); one that is not an IPv4 address of this computer
    // raises with a text saying so, and nothing listens.
    void btIniciarClick(const std::string& portaTCP, const std::string& enderecoEscuta = {});
    void FechaConexoes();
    bool Escutando() const { return escutando_; }
    // The caption of the start/stop button follows this.
    std::function<void(const std::string& legenda)> OnLegenda;
    // Every complete message from a connection, before it is handled (the terminal's status).
    std::function<void(const std::string& endereco)> OnMensagem;
    // Where the time from each message taken for handling to its reply is counted; none: not.
    void DefineMonitor(TMonitor* monitor) { monitor_ = monitor; }

    // Sends a text to the connection at an index and logs it.
    void EscrevePorta(const std::string& texto, int indice);

    TSock& Sock() { return *sock_; }
    int QuantidadeConexoes() const;
    // The pending card of the connection at an index (for the window and for tests).
    const ComandaPendente* PendenteDe(int indice) const;

    // The socket component's events.
    void SockAutoAccept(TSock* escuta, TSock* nova);
    void SockRead(TSock* conexao, int quantidade);
    void SockInfo(TSock* origem, TSocketInfo tipo, const std::string& texto);
    void SockDisconnect(TSock* conexao);

  private:
    struct Conexao;
    std::shared_ptr<Conexao> ConexaoDe(TSock* sock) const;
    void EnviaRelogio(const std::shared_ptr<Conexao>& conexao);
    // Closes the other open connections from a registered terminal's address; returns the card
    // the last of them was waiting with, for the new connection.
    ComandaPendente SubstituiAnterior(const std::string& endereco, TSock* nova);
    void ProcessaBuffer(const std::shared_ptr<Conexao>& conexao);
    void AtualizaLeitura(Conexao& conexao);
    void Responde(Conexao& conexao, const std::string& texto);
    // A connection that ends (its peer closed, or communication stops): what it sent in full
    // is handled first.
    void Libera(const std::shared_ptr<Conexao>& conexao);
    // Runs `acao` with the connection's notice held back, then shows it: a box about the
    // connection must not keep what it sent from being handled (a turnstile result from its row).
    template <class F>
    void AvisosDepois(const std::shared_ptr<Conexao>& conexao, F&& acao);
    // A connection that misbehaves: logged, closed, and nothing more of it handled.
    void Corta(const std::shared_ptr<Conexao>& conexao, const std::string& linhaLog);
    void Descarta(const std::shared_ptr<Conexao>& conexao);
    void FalhaEnvio(const std::string& endereco, Conexao* conexao, const std::string& motivo);
    // The notice box, one box of any kind at a time; `registrado`: the log has the reason
    // already. About a connection whose notices are held back, it waits for AvisosDepois.
    void Avisa(const std::string& texto, bool registrado = false, Conexao* sobre = nullptr);
    void DefineLegenda(const std::string& legenda);
    // A line about a failure: to the log, and to whoever listens where the log is not seen.
    void Falha(const std::string& linha);
    void RelataNaoCadastrados(bool todas);

    TMotorSaida& motor_;
    ILogTrafego& log_;
    IListaTerminais& lista_;
    IAvisosOperador& avisos_;
    std::unique_ptr<TSock> sock_;
    bool escutando_ = false;
    std::unordered_map<TSock*, std::shared_ptr<Conexao>> conexoes_;
    QTimer tmrRelatos_;
    TMonitor* monitor_ = nullptr;
    // When the message being handled was taken; none once its first reply went out.
    std::optional<std::chrono::steady_clock::time_point> inicioMensagem_;
};

}  // namespace lumora
