// The refresh: discovery of both module families into the two lists, and the reads of each
// first-family module's netmask, gateway and destination IP.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "common/Table.h"
#include "manager/modules/Agenda.h"
#include "manager/modules/EndpointUDP.h"

namespace modrevo {

// What the refresh needs of the main window. Tests implement it without Qt.
class IJanelaGerente {
  public:
    virtual ~IJanelaGerente() = default;
    // Runs the window's pending messages (clicks, timer ticks) and returns.
    virtual void ProcessaMensagens() = 0;
    virtual void Ampulheta(bool ligada) = 0;
    virtual void LimpaMemos() = 0;
    virtual void AdicionaMemo1(const std::string& linha) = 0;
    virtual void AdicionaMemo2(const std::string& linha) = 0;
    // The "Aten\xE7\xE3o" box with the information icon.
    virtual void Aviso(const std::string& texto) = 0;
    // The first panel of the status bar.
    virtual void MostraContagem(const std::string& texto) = 0;
    // The response-time setting as stored (its design value when nothing is stored).
    virtual std::string CarregaTempoResposta() = 0;
    virtual void ParaTimer1() = 0;
    virtual void IniciaTimer1() = 0;
    // A plain box: the program's title, no icon, OK.
    virtual void MensagemSimples(const std::string& texto) = 0;
    // Holds the thread without processing messages.
    virtual void Pausa(int milissegundos) = 0;
    // The address book as stored (empty when nothing is stored).
    virtual std::vector<EntradaAgenda> CarregaAgenda() { return {}; }
    // How many listed modules share their IP address with a module of another MAC.
    virtual void MostraDuplicados(int modulos) { (void)modulos; }
    // A line for whoever looks after the PC (the journal): what went wrong without stopping
    // the refresh, such as replies the system dropped.
    virtual void Diagnostico(const std::string& linha) { (void)linha; }
};

// The log line for replies the system dropped on one endpoint during a refresh.
std::string TextoPerdidos(const std::string& endpoint, uint32_t perdidos);

// The status text for modules that share an address; "" for none.
std::string TextoDuplicados(int modulos);

inline const std::string kErroAtualizacao =
    "Erro durante a atualiza\xE7\xE3o. Verifique e tente novamente.";
constexpr uint16_t kPortaPrimeiraFamilia = 65535;
constexpr uint16_t kPortaSegundaFamilia = 30303;
inline const std::string kSenhaModulo = "581947";
inline const std::string kConsultaSegundaFamilia = "Discovery: Who is out there?";

// The main window's module lists and the operations that fill them. Everything runs on the
// window's thread; a message processed between two receives may start another refresh
// inside a running one.
class TAtualizacao {
  public:
    TAtualizacao(IJanelaGerente& janela, IEndpointUDP& udpClient, IEndpointUDP& udpClientAux,
                 IEndpointUDP& udpSafe);

    common::MemTable tbmColetores;
    common::MemTable tbmModulos;

    // At the window's creation: the second-family list opens (the first opens at the first
    // refresh).
    void FormCreate();
    void AtualizaListas(bool mostraAmpulheta);
    // One row per module: a reply whose MAC (as the list holds it) is listed already (the
    // module answered twice, through two adapters, or both to the broadcast and to the book)
    // adds nothing, and the row keeps what its first reply said. True when a row was added.
    bool InsereColetor(const std::string& endereco, const std::string& texto);
    void btnUDPSafeClick();
    void dsColetoresStateChange();
    // Every 30 s. A tick that comes while a row is being inserted or edited, or while any
    // refresh is running, does nothing.
    void Timer1Timer();
    // "Atualizar": the timer stands still around its own refresh.
    void ToolButton2Click();

    // A refresh is running (possibly several, one inside the other).
    bool EmAtualizacao() const { return profundidade_ > 0; }
    // Rises with every refresh begun: a refresh that sees it changed was overtaken.
    unsigned Geracao() const { return geracao_; }

    IEndpointUDP& UDPClient() { return udpClient_; }

    // The module with this MAC (as the list holds it) answered only the book's unicast "X":
    // the last refresh found it behind a router.
    bool SoPorUnicast(const std::string& mac) const { return soUnicast_.count(mac) > 0; }
    // The row's address is also the address of a listed module with another MAC.
    bool IpRepetido(int linha) const;
    // Rows whose address is shared with a module of another MAC.
    int ModulosComIpRepetido() const;
    // The addresses of the listed modules other than the one with this MAC.
    std::vector<std::string> EnderecosDeOutros(const std::string& mac) const;

  private:
    // Steps of a refresh that send and receive; false when a newer refresh overtook it.
    bool LeModulos(unsigned minha, int tempo, const std::vector<EntradaAgenda>& agenda);
    // Unicast "X" to every book address that did not answer the broadcast, then the same
    // collection; false when a newer refresh overtook it.
    bool BuscaAgenda(unsigned minha, const std::vector<EntradaAgenda>& agenda);
    bool Vigente(unsigned minha) const { return geracao_ == minha; }
    // Processes the window's messages; false when that started a newer refresh.
    bool Processa(unsigned minha);
    void GuardaValor(int linha, int campo, const std::string& valor);
    // The second-family discovery; `minha` is the refresh that runs it, 0 for none.
    void DescobreSegundaFamilia(unsigned minha, int tempo);
    // A broadcast whose refusal by some adapters goes to the log.
    void Difunde(IEndpointUDP& udp, const std::string& texto, uint16_t porta);
    // A reply to "X": its log line and, for a module not listed yet, its row.
    void AceitaDescoberta(const Datagrama& d, bool porUnicast);
    // Replies the system dropped on UDPClient and UDPClientAUX since `antes` go to the log.
    void RelataPerdas(const uint32_t (&antes)[2]);
    void LePerdas(uint32_t (&perdidos)[2]) const;

    IJanelaGerente& janela_;
    IEndpointUDP& udpClient_;
    IEndpointUDP& udpClientAux_;
    IEndpointUDP& udpSafe_;
    std::set<std::string> soUnicast_;
    unsigned geracao_ = 0;
    int profundidade_ = 0;
};

}  // namespace modrevo
