// Module configuration: a first-family module's new settings sent in their fixed order, and a
// second-family module's own page opened in the browser.
#include "manager/modules/Configuracao.h"

#include <exception>

#include "manager/modules/Listas.h"
#include "manager/modules/RegrasResposta.h"
#include "manager/modules/Respostas.h"

namespace modrevo {
namespace {

// The text before the first "." (empty when there is none); the text up to and including that
// "." goes.
std::string TiraFaixa(std::string& texto) {
    const auto ponto = texto.find('.');
    if (ponto == std::string::npos) return {};
    std::string campo = texto.substr(0, ponto);
    texto.erase(0, ponto + 1);
    return campo;
}

bool Contem(const std::string& texto, const char* palavra) {
    return texto.find(palavra) != std::string::npos;
}

}  // namespace

bool MesmaFaixaDoComputador(const std::string& enderecoModulo, const std::string& ipComputador) {
    std::string a = enderecoModulo, b = ipComputador;
    for (int i = 0; i < 3; ++i) {
        if (TiraFaixa(a) != TiraFaixa(b)) return false;
    }
    return true;
}

bool ModuloConfiguravel(const std::string& descricao) {
    return Contem(descricao, "Torvane") || Contem(descricao, "Vexa") ||
           Contem(descricao, "Castrell");
}

bool ModuloVexa(const std::string& descricao) { return Contem(descricao, "Vexa"); }

PlanoConfiguracao PlanejaConfiguracao(const LinhaColetor& linha, const CamposConfiguracao& mostrado,
                                      const CamposConfiguracao& dialogo) {
    // A column that was never read says nothing about the module: what the dialog showed for
    // it is only a placeholder, sent when the operator changed it and never otherwise.
    const auto mudou = [](const std::string& coluna, const std::string& exibido,
                          const std::string& final) {
        return coluna.empty() ? final != exibido : final != coluna;
    };
    PlanoConfiguracao p;
    p.mac = linha.mac;
    p.campos = dialogo;
    p.mudouIp = dialogo.ip != linha.ip;
    p.mudouMascara = mudou(linha.netmask, mostrado.mascara, dialogo.mascara);
    p.mudouGateway = mudou(linha.gateway, mostrado.gateway, dialogo.gateway);
    p.mudouDestino = ModuloVexa(linha.descricao) &&
                     mudou(linha.ipDestino, mostrado.ipComputador, dialogo.ipComputador);
    const bool dhcpLido = linha.dhcp == kDhcpAtivado || linha.dhcp == kDhcpDesativado;
    p.mudouDhcp = dhcpLido ? dialogo.dhcp != linha.dhcp : dialogo.dhcp != mostrado.dhcp;
    p.alvo = p.mudouIp ? dialogo.ip : linha.ip;
    p.aPorUnicast = p.mudouIp && linha.soPorUnicast;
    p.ipAtual = linha.ip;
    return p;
}

TConfiguracao::TConfiguracao(IJanelaGerente& janela, TAtualizacao& atualizacao,
                             IDialogoConfigura& dialogo, IAbridor& abridor,
                             std::string ipComputador)
    : janela_(janela),
      atualizacao_(atualizacao),
      dialogo_(dialogo),
      abridor_(abridor),
      ipComputador_(std::move(ipComputador)) {}

void TConfiguracao::ConfiguraColetor() {
    ++configurando_;
    // Only the outermost configuration started the timer's pause, so only it ends it: one
    // run inside another (a double click while the first sends) must not let a tick start a
    // refresh under the first.
    struct Saida {
        TConfiguracao& c;
        int excecoes = std::uncaught_exceptions();
        ~Saida() {
            if (--c.configurando_ == 0 && std::uncaught_exceptions() == excecoes)
                c.janela_.IniciaTimer1();
        }
    } saida{*this};
    common::MemTable& t = atualizacao_.tbmColetores;
    if (!t.Active() || t.RecordCount() == 0 || t.RecNo() < 0) return;
    LinhaColetor linha{t.AsString(cIp),        t.AsString(cMACaddress),
                       t.AsString(cDHCP),      t.AsString(cDescricao),
                       t.AsString(cGateway),   t.AsString(cNetmask),
                       t.AsString(cIpDestino), false};
    linha.soPorUnicast = atualizacao_.SoPorUnicast(linha.mac);
    if (!ModuloConfiguravel(linha.descricao)) {
        janela_.Aviso(kOpcaoIndisponivel);
        return;
    }
    const bool vexa = ModuloVexa(linha.descricao);
    CamposConfiguracao campos;
    campos.ip = linha.ip;
    campos.gateway = linha.gateway;
    campos.mascara = linha.netmask;
    campos.dhcp = linha.dhcp == kDhcpAtivado ? kDhcpAtivado : kDhcpDesativado;
    campos.ipComputador = vexa ? linha.ipDestino : "0.0.0.0";
    dialogo_.Preenche(campos, vexa);
    dialogo_.DefineEnderecosDeOutros(atualizacao_.EnderecosDeOutros(linha.mac));
    dialogo_.DefineAgenda(
        linha.soPorUnicast ? janela_.CarregaAgenda() : std::vector<EntradaAgenda>{},
        linha.soPorUnicast);
    const CamposConfiguracao mostrado = dialogo_.Le();
    if (!dialogo_.Executa()) return;
    // Everything the commands carry is taken here, once: a refresh or another configuration
    // run by a message processed between two replies cannot change what this one sends.
    const PlanoConfiguracao plano = PlanejaConfiguracao(linha, mostrado, dialogo_.Le());

    janela_.Ampulheta(true);
    janela_.ProcessaMensagens();
    try {
        EnviaComandos(plano);
    } catch (const std::exception&) {
        janela_.Aviso(kErroAtualizacao);
        janela_.ProcessaMensagens();
    }
    janela_.ProcessaMensagens();
    janela_.Pausa(100);
    atualizacao_.AtualizaListas(true);
    janela_.ProcessaMensagens();
}

void TConfiguracao::Coleta() {
    ColetaAteSilencio(atualizacao_.UDPClient(), [this](const Datagrama& d) {
        janela_.AdicionaMemo1(d.endereco + " " + d.texto);
        janela_.ProcessaMensagens();
        return true;
    });
}

void TConfiguracao::EnviaComandos(const PlanoConfiguracao& plano) {
    ++enviando_;
    struct Saida {
        int& n;
        ~Saida() { --n; }
    } saida{enviando_};
    IEndpointUDP& udp = atualizacao_.UDPClient();
    const auto envia = [&](const std::string& comando) {
        udp.Send(plano.alvo, kPortaPrimeiraFamilia, comando);
        Coleta();
    };
    const std::string enderecamento = "A" + plano.mac + "/" + kSenhaModulo + "/" + plano.campos.ip;
    if (plano.aPorUnicast) {
        // Reached through a router, the module keeps being reached only while its address,
        // netmask and gateway agree with the route to it. So everything else goes to the
        // address it answers at now, while that still holds, and the address changes last,
        // just before the closing command, which goes to the new address: a module that took
        // the new address first, with a netmask and gateway of its old network, could not be
        // told the rest. No broadcast: it would never reach this module, and one that it
        // did reach would be re-addressed before its new settings.
        const auto paraAtual = [&](const std::string& comando) {
            udp.Send(plano.ipAtual, kPortaPrimeiraFamilia, comando);
            Coleta();
        };
        paraAtual("L" + kSenhaModulo);
        if (plano.mudouMascara) paraAtual("SNM" + plano.campos.mascara);
        if (plano.mudouGateway) paraAtual("SGI" + plano.campos.gateway);
        if (plano.mudouDestino) paraAtual("SDI" + plano.campos.ipComputador);
        if (plano.mudouDhcp) paraAtual(plano.campos.dhcp == kDhcpAtivado ? "SDH1" : "SDH0");
        paraAtual(enderecamento);
        envia("E");
        return;
    }
    if (plano.mudouIp) {
        udp.Broadcast(enderecamento, kPortaPrimeiraFamilia);
        Coleta();
    }
    envia("L" + kSenhaModulo);
    if (plano.mudouMascara) envia("SNM" + plano.campos.mascara);
    if (plano.mudouGateway) envia("SGI" + plano.campos.gateway);
    if (plano.mudouDestino) envia("SDI" + plano.campos.ipComputador);
    if (plano.mudouDhcp) envia(plano.campos.dhcp == kDhcpAtivado ? "SDH1" : "SDH0");
    envia("E");
}

void TConfiguracao::AbrePaginaModulo() {
    const common::MemTable& t = atualizacao_.tbmModulos;
    const std::string ip =
        t.Active() && t.RecordCount() > 0 && t.RecNo() >= 0 ? t.AsString(mIp) : std::string();
    if (MesmaFaixaDoComputador(ip, ipComputador_)) {
        abridor_.AbreEAguarda("Http://" + ip);
    } else {
        janela_.MensagemSimples(kFaixaDiferente);
    }
}

}  // namespace modrevo
