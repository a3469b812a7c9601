// Module configuration: a first-family module's new settings sent in their fixed order, and a
// second-family module's own page opened in the browser.
#pragma once

#include <string>
#include <vector>

#include "manager/modules/Atualizacao.h"

namespace modrevo {

// What the configuration dialog shows and gives back. Addresses are the dotted texts of the
// address fields; `dhcp` is the text of the DHCP choice.
struct CamposConfiguracao {
    std::string ip;
    std::string mascara;
    std::string gateway;
    std::string ipComputador;
    std::string dhcp;
};

// The configuration dialog, made once and shown again for every configuration.
class IDialogoConfigura {
  public:
    virtual ~IDialogoConfigura() = default;
    // Fills the fields; `vexa` enables the computer-address field, its label and its button.
    virtual void Preenche(const CamposConfiguracao& campos, bool vexa) = 0;
    // Shows the dialog modally; true when it closed with OK.
    virtual bool Executa() = 0;
    // What the dialog holds: right after Preenche, what the operator is shown. A greyed field
    // gives back what it was filled with, since the operator cannot have meant to change it.
    virtual CamposConfiguracao Le() const = 0;
    // The addresses of the other listed modules, so that OK can warn when the address typed
    // is one of them.
    virtual void DefineEnderecosDeOutros(const std::vector<std::string>& enderecos) {
        (void)enderecos;
    }
    // The module was found only through the address book: OK warns when the new address is
    // one the book does not search, since no refresh would find the module there. An empty
    // book with `soPorUnicast` false: the module is found by the broadcast, nothing to warn.
    virtual void DefineAgenda(const std::vector<EntradaAgenda>& agenda, bool soPorUnicast) {
        (void)agenda;
        (void)soPorUnicast;
    }
};

// Opens a document or URL through the desktop.
class IAbridor {
  public:
    virtual ~IAbridor() = default;
    // Opens the document and waits for the process that the desktop started, processing the
    // window's messages meanwhile; returns at once when there is no process to wait for.
    virtual void AbreEAguarda(const std::string& documento) = 0;
};

inline const std::string kOpcaoIndisponivel =
    "Op\xE7\xE3o n\xE3o dispon\xEDvel para este equipamento.";
// Two lines joined by a lone CR, as the operators have always seen it.
inline const std::string kFaixaDiferente =
    "A Faixa de ip do m\xF3"
    "dulo est\xE1 diferente do IP do\r"
    "computador. Modifique o IP da placa de rede.";

// True when the first three dot-separated fields of both addresses are the same texts.
bool MesmaFaixaDoComputador(const std::string& enderecoModulo, const std::string& ipComputador);

// The change flags and the target, worked out once when the operator confirms.
struct PlanoConfiguracao {
    std::string mac;
    std::string alvo;  // where every unicast command goes
    // The module answered only the book's unicast search: the "A" broadcast cannot reach it,
    // so "A" goes by unicast to the address the module has now, after its new settings (see
    // EnviaComandos).
    bool aPorUnicast = false;
    std::string ipAtual;
    CamposConfiguracao campos;
    bool mudouIp = false;
    bool mudouMascara = false;
    bool mudouGateway = false;
    bool mudouDestino = false;
    bool mudouDhcp = false;
};

// The row being configured, as the list held it when the dialog opened.
struct LinhaColetor {
    std::string ip, mac, dhcp, descricao, gateway, netmask, ipDestino;
    bool soPorUnicast = false;
};

// `mostrado` is what the dialog showed before the operator touched it, `dialogo` what it holds
// on OK.
PlanoConfiguracao PlanejaConfiguracao(const LinhaColetor& linha, const CamposConfiguracao& mostrado,
                                      const CamposConfiguracao& dialogo);

// The eligibility words, looked for exactly as written.
bool ModuloConfiguravel(const std::string& descricao);
bool ModuloVexa(const std::string& descricao);

class TConfiguracao {
  public:
    TConfiguracao(IJanelaGerente& janela, TAtualizacao& atualizacao, IDialogoConfigura& dialogo,
                  IAbridor& abridor, std::string ipComputador);

    // Configures the current first-family row. Timer1 is stopped when it starts and is
    // started again on every way out of the outermost configuration (but after a failing
    // closing refresh).
    void ConfiguraColetor();
    // Opens the current second-family row's page when it is in this computer's range.
    void AbrePaginaModulo();
    // Runs while a configuration sends its commands.
    bool EmConfiguracao() const { return enviando_ > 0; }

  private:
    void EnviaComandos(const PlanoConfiguracao& plano);
    void Coleta();

    IJanelaGerente& janela_;
    TAtualizacao& atualizacao_;
    IDialogoConfigura& dialogo_;
    IAbridor& abridor_;
    std::string ipComputador_;
    int enviando_ = 0;
    int configurando_ = 0;
};

}  // namespace modrevo
