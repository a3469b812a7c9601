// Module configuration: a first-family module's new settings sent in their fixed order, and a
// second-family module's own page opened in the browser.
#include "manager/modules/Configuracao.h"

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

PlanoConfiguracao PlanejaConfiguracao(const LinhaColetor& linha,
                                      const CamposConfiguracao& dialogo) {
    PlanoConfiguracao p;
    p.mac = linha.mac;
    p.campos = dialogo;
    p.mudouIp = dialogo.ip != linha.ip;
    p.mudouMascara = dialogo.mascara != linha.netmask;
    p.mudouGateway = dialogo.gateway != linha.gateway;
    p.mudouDestino = ModuloVexa(linha.descricao) && dialogo.ipComputador != linha.ipDestino;
    p.mudouDhcp = dialogo.dhcp != linha.dhcp;
    p.alvo = p.mudouIp ? dialogo.ip : linha.ip;
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
    common::MemTable& t = atualizacao_.tbmColetores;
    if (!t.Active() || t.RecordCount() == 0 || t.RecNo() < 0) {
        janela_.IniciaTimer1();
        return;
    }
    LinhaColetor linha{t.AsString(cIp),        t.AsString(cMACaddress), t.AsString(cDHCP),
                       t.AsString(cDescricao), t.AsString(cGateway),    t.AsString(cNetmask),
                       t.AsString(cIpDestino)};
    if (!ModuloConfiguravel(linha.descricao)) {
        janela_.Aviso(kOpcaoIndisponivel);
        janela_.IniciaTimer1();
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
    if (!dialogo_.Executa()) {
        janela_.IniciaTimer1();
        return;
    }
    // Everything the commands carry is taken here, once: a refresh or another configuration
    // run by a message processed between two replies cannot change what this one sends.
    const PlanoConfiguracao plano = PlanejaConfiguracao(linha, dialogo_.Le());

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
    janela_.IniciaTimer1();
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
    if (plano.mudouIp) {
        udp.Broadcast("A" + plano.mac + "/" + kSenhaModulo + "/" + plano.campos.ip,
                      kPortaPrimeiraFamilia);
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
