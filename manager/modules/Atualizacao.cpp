// The refresh: discovery of both module families into the two lists, and the reads of each
// first-family module's netmask, gateway and destination IP.
#include "manager/modules/Atualizacao.h"

#include <chrono>
#include <map>
#include <thread>

#include "manager/modules/Listas.h"
#include "manager/modules/RegrasResposta.h"
#include "manager/modules/Respostas.h"

namespace modrevo {

using common::TableState;

TAtualizacao::TAtualizacao(IJanelaGerente& janela, IEndpointUDP& udpClient,
                           IEndpointUDP& udpClientAux, IEndpointUDP& udpSafe)
    : tbmColetores(CriaTbmColetores()),
      tbmModulos(CriaTbmModulos()),
      janela_(janela),
      udpClient_(udpClient),
      udpClientAux_(udpClientAux),
      udpSafe_(udpSafe) {
    tbmColetores.OnStateChange = [this](common::MemTable&) { dsColetoresStateChange(); };
    tbmModulos.OnStateChange = [this](common::MemTable&) { dsColetoresStateChange(); };
}

void TAtualizacao::FormCreate() { tbmModulos.Open(); }

void TAtualizacao::dsColetoresStateChange() {
    if (!tbmColetores.Active() || tbmColetores.State() != TableState::Browse) return;
    const int total = tbmColetores.RecordCount() + tbmModulos.RecordCount();
    janela_.MostraContagem(" " + std::to_string(total) + " equipamento(s) encotrado(s)");
}

void TAtualizacao::Difunde(IEndpointUDP& udp, const std::string& texto, uint16_t porta) {
    udp.Broadcast(texto, porta);
    // The modules behind the other adapters are still found: worth a line, not a box.
    for (const std::string& falha : udp.FalhasParciais()) janela_.AdicionaMemo1(falha);
}

bool TAtualizacao::Processa(unsigned minha) {
    janela_.ProcessaMensagens();
    return Vigente(minha);
}

bool TAtualizacao::InsereColetor(const std::string& endereco, const std::string& texto) {
    const auto resposta = InterpretaRespostaDescoberta(texto);
    if (!resposta) return false;
    const std::string mac =
        resposta->mac.substr(0, static_cast<std::size_t>(tbmColetores.Fields()[cMACaddress].width));
    for (int i = 0; i < tbmColetores.RecordCount(); ++i) {
        const common::FieldValue v = tbmColetores.ValueAt(i, cMACaddress);
        const auto* listado = std::get_if<std::string>(&v);
        if (listado && *listado == mac) return false;
    }
    tbmColetores.Insert();
    tbmColetores.SetString(cIp, endereco);
    tbmColetores.SetString(cMACaddress, resposta->mac);
    tbmColetores.SetString(cPorta, resposta->porta);
    tbmColetores.SetString(cDescricao, resposta->descricao);
    tbmColetores.SetString(cDHCP, resposta->dhcp);
    tbmColetores.Post();
    return true;
}

void TAtualizacao::AceitaDescoberta(const Datagrama& d, bool porUnicast) {
    janela_.AdicionaMemo1(d.endereco + " " + d.texto);
    if (InsereColetor(d.endereco, d.texto) && porUnicast)
        soUnicast_.insert(tbmColetores.AsString(cMACaddress));
}

std::string TextoPerdidos(const std::string& endpoint, uint32_t perdidos) {
    return endpoint + ": " + std::to_string(perdidos) +
           " resposta(s) perdida(s), fila de recep\xE7\xE3o cheia";
}

void TAtualizacao::LePerdas(uint32_t (&perdidos)[2]) const {
    perdidos[0] = udpClient_.Perdidos();
    perdidos[1] = udpClientAux_.Perdidos();
}

void TAtualizacao::RelataPerdas(const uint32_t (&antes)[2]) {
    uint32_t agora[2];
    LePerdas(agora);
    static const char* const kNomes[] = {"UDPClient", "UDPClientAUX"};
    for (int i = 0; i < 2; ++i) {
        const uint32_t novos = agora[i] - antes[i];
        if (novos == 0) continue;
        const std::string linha = TextoPerdidos(kNomes[i], novos);
        janela_.AdicionaMemo1(linha);
        janela_.Diagnostico(linha);
    }
}

void TAtualizacao::GuardaValor(int linha, int campo, const std::string& valor) {
    // The operator may have moved the cursor while the reply was awaited.
    tbmColetores.MoveTo(linha);
    tbmColetores.Edit();
    tbmColetores.SetString(campo, valor);
    tbmColetores.Post();
}

std::string TextoDuplicados(int modulos) {
    if (modulos <= 0) return {};
    return " " + std::to_string(modulos) +
           " m\xF3"
           "dulos com o mesmo IP";
}

namespace {

std::string Texto(const common::MemTable& t, int linha, int campo) {
    const common::FieldValue v = t.ValueAt(linha, campo);
    const auto* s = std::get_if<std::string>(&v);
    return s ? *s : std::string();
}

}  // namespace

bool TAtualizacao::IpRepetido(int linha) const {
    if (linha < 0 || linha >= tbmColetores.RecordCount()) return false;
    const std::string ip = Texto(tbmColetores, linha, cIp);
    const std::string mac = Texto(tbmColetores, linha, cMACaddress);
    for (int i = 0; i < tbmColetores.RecordCount(); ++i) {
        if (Texto(tbmColetores, i, cIp) == ip && Texto(tbmColetores, i, cMACaddress) != mac)
            return true;
    }
    return false;
}

int TAtualizacao::ModulosComIpRepetido() const {
    // Counted by MAC: the modules answering from one address, each once.
    std::map<std::string, std::set<std::string>> macsPorIp;
    for (int i = 0; i < tbmColetores.RecordCount(); ++i)
        macsPorIp[Texto(tbmColetores, i, cIp)].insert(Texto(tbmColetores, i, cMACaddress));
    int n = 0;
    for (const auto& [ip, macs] : macsPorIp)
        if (macs.size() > 1) n += static_cast<int>(macs.size());
    return n;
}

std::vector<std::string> TAtualizacao::EnderecosDeOutros(const std::string& mac) const {
    std::vector<std::string> r;
    for (int i = 0; i < tbmColetores.RecordCount(); ++i)
        if (Texto(tbmColetores, i, cMACaddress) != mac) r.push_back(Texto(tbmColetores, i, cIp));
    return r;
}

bool TAtualizacao::BuscaAgenda(unsigned minha, const std::vector<EntradaAgenda>& agenda) {
    const std::vector<std::string> enderecos = EnderecosDaAgenda(agenda);
    if (enderecos.empty()) return true;
    std::set<std::string> responderam;
    for (int i = 0; i < tbmColetores.RecordCount(); ++i)
        responderam.insert(Texto(tbmColetores, i, cIp));
    // Paced on a fixed schedule, one datagram a millisecond: a router or a module's small
    // buffer drops a burst, and a late send does not push the rest later still.
    using Relogio = std::chrono::steady_clock;
    auto proximo = Relogio::now();
    int enviados = 0;
    for (const std::string& ip : enderecos) {
        if (responderam.count(ip)) continue;
        // The replies are taken as they come while the search goes on: a big book's replies
        // would otherwise wait seconds in the receive queue, which overflows past a few
        // hundred of them.
        for (;;) {
            const Datagrama d = udpClient_.ReceiveImediato();
            if (d.texto.empty() && d.endereco.empty()) break;
            if (!d.texto.empty()) AceitaDescoberta(d, true);
        }
        std::this_thread::sleep_until(proximo);
        try {
            udpClient_.SendSoUnicast(ip, kPortaPrimeiraFamilia, "X");
        } catch (const ESocketUDP& e) {
            // A book address this PC has no route to (a cable out, a VPN down) must not cost
            // the other modules their reads, nor the operator a box every 30 s: a log line.
            janela_.AdicionaMemo1(ip + ": " + e.what());
        }
        proximo += std::chrono::milliseconds(1);
        // A long book must not freeze the window.
        if (++enviados % 100 == 0 && !Processa(minha)) return false;
    }
    if (enviados == 0) return true;
    ColetaAteSilencio(udpClient_, [&](const Datagrama& d) {
        AceitaDescoberta(d, true);
        return Processa(minha);
    });
    return Processa(minha);
}

bool TAtualizacao::LeModulos(unsigned minha, int tempo, const std::vector<EntradaAgenda>& agenda) {
    if (!Processa(minha)) return false;
    Difunde(udpClient_, "X", kPortaPrimeiraFamilia);
    ColetaAteSilencio(udpClient_, [&](const Datagrama& d) {
        AceitaDescoberta(d, false);
        return Processa(minha);
    });
    if (!Processa(minha)) return false;
    if (!BuscaAgenda(minha, agenda)) return false;
    janela_.MostraDuplicados(ModulosComIpRepetido());
    if (tbmColetores.RecordCount() == 0) return true;

    tbmColetores.First();
    udpClientAux_.SetReceiveTimeout(tempo);
    const ProcessaMensagens processa = [&] { return Processa(minha); };
    // The reads keep their own position: a click on the list meanwhile moves the table's
    // cursor, and must neither skip a module nor read one twice.
    for (int linha = 0; linha < tbmColetores.RecordCount(); ++linha) {
        tbmColetores.MoveTo(linha);
        const std::string ip = tbmColetores.AsString(cIp);
        udpClientAux_.Send(ip, kPortaPrimeiraFamilia, "L" + kSenhaModulo);
        AguardaLogin(udpClientAux_, processa);
        if (!Vigente(minha)) return false;
        static constexpr struct {
            const char* comando;
            int campo;
        } kLeituras[] = {{"GNM", cNetmask}, {"GGI", cGateway}, {"GDI", cIpDestino}};
        for (const auto& leitura : kLeituras) {
            udpClientAux_.Send(ip, kPortaPrimeiraFamilia, leitura.comando);
            const auto valor = AguardaValor(udpClientAux_, processa);
            if (!Vigente(minha)) return false;
            if (valor) GuardaValor(linha, leitura.campo, *valor);
        }
        if (!Processa(minha)) return false;
    }
    return true;
}

void TAtualizacao::AtualizaListas(bool mostraAmpulheta) {
    const unsigned minha = ++geracao_;
    ++profundidade_;
    struct Saida {
        int& p;
        ~Saida() { --p; }
    } saida{profundidade_};

    if (mostraAmpulheta) janela_.Ampulheta(true);
    const std::string textoTempo = janela_.CarregaTempoResposta();
    const int tempo = TempoResposta(textoTempo);
    const std::vector<EntradaAgenda> agenda = janela_.CarregaAgenda();
    bool vigente = Processa(minha);
    if (vigente) {
        if (!tbmColetores.Active()) tbmColetores.Open();
        tbmColetores.Empty();
        tbmModulos.Empty();
        soUnicast_.clear();
        janela_.LimpaMemos();
        udpClient_.SetReceiveTimeout(tempo);
        uint32_t perdidos[2];
        LePerdas(perdidos);
        try {
            vigente = LeModulos(minha, tempo, agenda);
        } catch (const std::exception&) {
            janela_.MostraDuplicados(ModulosComIpRepetido());
            janela_.Aviso(kErroAtualizacao);
            vigente = Processa(minha);
        }
        RelataPerdas(perdidos);
    }
    janela_.Ampulheta(false);
    if (!vigente) return;  // a newer refresh has filled the lists already
    if (!Processa(minha)) return;
    DescobreSegundaFamilia(minha, tempo);
}

void TAtualizacao::btnUDPSafeClick() {
    DescobreSegundaFamilia(0, TempoResposta(janela_.CarregaTempoResposta()));
}

void TAtualizacao::DescobreSegundaFamilia(unsigned minha, int tempo) {
    udpSafe_.Close();
    udpSafe_.SetReceiveTimeout(tempo);
    // Through every adapter, as "X" goes: a plain send reaches one segment at most, and none
    // where there is no default route.
    Difunde(udpSafe_, kConsultaSegundaFamilia, kPortaSegundaFamilia);
    janela_.ProcessaMensagens();
    // A refresh begun by the messages just processed has run its own query on a new socket;
    // the rows of this one would be listed twice.
    if (minha != 0 && !Vigente(minha)) return;
    ColetaAteSilencio(udpSafe_, [&](const Datagrama& d) {
        janela_.AdicionaMemo2(d.endereco);
        janela_.AdicionaMemo2(d.texto);
        tbmModulos.Insert();
        tbmModulos.SetString(mIp, d.endereco);
        const RespostaSegundaFamilia r = InterpretaRespostaSegundaFamilia(d.texto);
        if (r.separador) janela_.AdicionaMemo2(std::to_string(*r.separador));
        tbmModulos.SetString(mMac, r.mac);
        tbmModulos.SetString(mEquipamento, r.nome);
        tbmModulos.Post();
        return true;
    });
    // Its socket is new at every query: whatever it counts was lost in this one.
    if (const uint32_t perdidos = udpSafe_.Perdidos(); perdidos > 0) {
        const std::string linha = TextoPerdidos("UDPSafe", perdidos);
        janela_.AdicionaMemo2(linha);
        janela_.Diagnostico(linha);
    }
}

void TAtualizacao::Timer1Timer() {
    const TableState estado = tbmColetores.State();
    if (estado == TableState::Insert || estado == TableState::Edit) return;
    // Whoever started the running refresh (the first activation, "Atualizar", a
    // configuration), a refresh started inside it would nest without end on a silent network.
    if (EmAtualizacao()) return;
    AtualizaListas(false);
}

void TAtualizacao::ToolButton2Click() {
    janela_.ParaTimer1();
    AtualizaListas(true);
    janela_.IniciaTimer1();
}

}  // namespace modrevo
