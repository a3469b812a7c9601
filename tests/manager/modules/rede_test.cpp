// The real endpoints, reply rules and refresh against the module simulator, inside a private
// network namespace: receives and time-outs are counted, not timed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "JanelaFalsa.h"
#include "ModuleSim.h"
#include "manager/modules/Atualizacao.h"
#include "manager/modules/Configuracao.h"
#include "manager/modules/EndpointUDP.h"
#include "manager/modules/Listas.h"
#include "manager/modules/RegrasResposta.h"
#include "tests/support/RedePrivada.h"

namespace modrevo {
namespace {

using namespace std::chrono_literals;

std::string semRede;  // why the network tests cannot run here; "" when they can

#define EXIGE_REDE_PRIVADA() \
    if (!semRede.empty()) GTEST_SKIP() << "no private network namespace: " << semRede

// A plain socket of the test's own, to put datagrams where the simulator would not.
struct SocketAvulso {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ~SocketAvulso() { ::close(fd); }
    void EnviaPara(uint16_t porta, const std::string& texto, const char* de = "127.0.0.1") {
        sockaddr_in origem{};
        origem.sin_family = AF_INET;
        inet_pton(AF_INET, de, &origem.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr*>(&origem), sizeof origem);
        sockaddr_in para{};
        para.sin_family = AF_INET;
        para.sin_port = htons(porta);
        inet_pton(AF_INET, "127.0.0.1", &para.sin_addr);
        ASSERT_EQ(::sendto(fd, texto.data(), texto.size(), 0, reinterpret_cast<sockaddr*>(&para),
                           sizeof para),
                  static_cast<ssize_t>(texto.size()));
    }
};

modsim::TibboModule Tibbo(const std::string& ip, const std::string& mac, const std::string& rest) {
    modsim::TibboModule m;
    m.ip = ip;
    m.mac = mac;
    m.rest = rest;
    m.netmask = "255.255.255.0";
    m.gateway = "127.0.0.1";
    m.destino = ip;
    return m;
}

class RedeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!semRede.empty()) return;
        modulos.tibbo = {Tibbo("127.0.0.11", "0.1", "Vexa P"),
                         Tibbo("127.0.0.12", "0.2", "Torvane Q"),
                         Tibbo("127.0.0.13", "0.3", "Castrell R")};
        modsim::BrivantModule found;
        found.ip = "127.0.0.21";
        modsim::BrivantModule linhas;
        linhas.ip = "127.0.0.22";
        linhas.name = "Gate 2";
        linhas.mac = "00-04-A3-11-22-34";
        linhas.form = modsim::BrivantForm::Lines;
        modsim::BrivantModule nu;
        nu.ip = "127.0.0.23";
        nu.form = modsim::BrivantForm::Bare;
        modulos.brivant = {found, linhas, nu};
    }
    void Inicia() {
        sim = std::make_unique<modsim::ModuleSim>(modulos);
        sim->Start();
    }
    std::vector<std::string> Recebidos(const std::string& para) {
        std::vector<std::string> r;
        for (const auto& d : sim->Log())
            if (d.to == para) r.push_back(d.text);
        return r;
    }

    modsim::Modules modulos;
    std::unique_ptr<modsim::ModuleSim> sim;
    teste::JanelaFalsa janela;
    TUDPEndpoint client{8192}, aux{8192}, safe{512};
};

TEST_F(RedeTest, AtualizacaoCompletaContaSoAsEsperasDoProtocolo) {
    EXIGE_REDE_PRIVADA();
    // Replies P, Q, R in that order: the delays make the order certain.
    modulos.tibbo[1].behaviours["X"].delay = 20ms;
    modulos.tibbo[2].behaviours["X"].delay = 40ms;
    modulos.tibbo[0].behaviours["GNM"].stray = "C";  // skipped, the value still comes
    modulos.tibbo[1].behaviours["GGI"].deny = true;  // no value, the next read goes at once
    Inicia();
    janela.tempo = "300";
    TAtualizacao a(janela, client, aux, safe);
    a.FormCreate();
    a.AtualizaListas(true);

    auto& t = a.tbmColetores;
    ASSERT_EQ(t.RecordCount(), 3);
    std::vector<std::string> ips;
    for (int i = 0; i < 3; ++i) ips.push_back(std::get<std::string>(t.RowAt(i)[cIp]));
    EXPECT_EQ(ips, (std::vector<std::string>{"127.0.0.13", "127.0.0.12", "127.0.0.11"}));
    t.MoveTo(2);
    EXPECT_EQ(t.AsString(cNetmask), "255.255.255.0");
    EXPECT_EQ(t.AsString(cDescricao), "Owner - Vexa P");
    t.MoveTo(1);
    EXPECT_EQ(t.AsString(cGateway), "");
    EXPECT_EQ(t.AsString(cIpDestino), "127.0.0.12");
    // R is read first.
    const auto log = sim->Log();
    std::vector<std::string> primeiras;
    for (const auto& d : log)
        if (d.text == "L581947") primeiras.push_back(d.to);
    EXPECT_EQ(primeiras, (std::vector<std::string>{"127.0.0.13", "127.0.0.12", "127.0.0.11"}));

    // One silence ends the "X" collection, one the second family's; every read was answered.
    EXPECT_EQ(client.Esgotados(), 1);
    EXPECT_EQ(client.Recepcoes(), 4);
    EXPECT_EQ(aux.Esgotados(), 0);
    EXPECT_EQ(aux.Recepcoes(), 13);  // twelve reads and the stray "C"
    EXPECT_EQ(safe.Esgotados(), 1);
    EXPECT_EQ(client.ReceiveTimeout(), 300);

    auto& m = a.tbmModulos;
    ASSERT_EQ(m.RecordCount(), 3);
    std::map<std::string, std::pair<std::string, std::string>> segunda;
    for (int i = 0; i < 3; ++i) {
        const auto& r = m.RowAt(i);
        auto texto = [&](int c) {
            const auto* s = std::get_if<std::string>(&r[c]);
            return s ? *s : std::string();
        };
        segunda[texto(mIp)] = {texto(mEquipamento), texto(mMac)};
    }
    EXPECT_EQ(segunda["127.0.0.21"],
              std::make_pair(std::string("Gate 1"), std::string("00-04-A3-11-22-33")));
    EXPECT_EQ(segunda["127.0.0.22"],
              std::make_pair(std::string("Gate 2"), std::string("00-04-A3-11-22-34")));
    EXPECT_EQ(segunda["127.0.0.23"], std::make_pair(std::string(), std::string()));
    EXPECT_EQ(janela.contagem, " 6 equipamento(s) encotrado(s)");
    EXPECT_EQ(janela.memo1.size(), 3u);
    EXPECT_EQ(janela.memo2.size(), 7u);  // address and text per reply, one separator code
    EXPECT_TRUE(janela.avisos.empty());
}

TEST_F(RedeTest, ModuloQueRespondeDuasVezesEUmaLinhaLidaUmaVez) {
    EXIGE_REDE_PRIVADA();
    // The second copy comes well inside the collection's wait; the book finds it once more.
    modulos.tibbo[0].behaviours["X"].late = 50ms;
    Inicia();
    janela.tempo = "300";
    janela.agenda = teste::Agenda({"127.0.0.11-127.0.0.12"});
    TAtualizacao a(janela, client, aux, safe);
    a.FormCreate();
    a.AtualizaListas(false);
    ASSERT_EQ(a.tbmColetores.RecordCount(), 3);
    EXPECT_EQ(Recebidos("127.0.0.11"), (std::vector<std::string>{"L581947", "GNM", "GGI", "GDI"}));
    EXPECT_EQ(std::count(janela.memo1.begin(), janela.memo1.end(),
                         "127.0.0.11 A0.1/1001/ABCI/x/Owner/Vexa P"),
              2);
    EXPECT_EQ(janela.duplicados, 0);
    EXPECT_FALSE(a.SoPorUnicast("0.1"));
}

// Every module of a segment answering one broadcast at once: replies that the system drops
// for want of room are counted and logged, never silently missing.
TEST_F(RedeTest, RespostasPerdidasNaFilaVaoParaOLog) {
    EXIGE_REDE_PRIVADA();
    modulos.tibbo.clear();
    for (int i = 0; i < 300; ++i)
        modulos.tibbo.push_back(
            Tibbo("127.0.3." + std::to_string(i % 250 + 1) + "", "9." + std::to_string(i), "Vexa"));
    for (auto& m : modulos.tibbo)
        for (const char* c : {"L", "GNM", "GGI", "GDI"}) m.behaviours[c].silent = true;
    Inicia();
    janela.tempo = "100";
    TUDPEndpoint pequeno(8192, true, 2048);  // room for a handful of replies
    TAtualizacao a(janela, pequeno, aux, safe);
    a.FormCreate();
    aux.SetReceiveTimeout(0);
    // Only the broadcast's collection matters here: the reads of the found are cut short.
    janela.aoProcessar = [&] {
        if (pequeno.Recepcoes() > 0) aux.SetReceiveTimeout(0);
    };
    a.AtualizaListas(false);
    ASSERT_GT(pequeno.Perdidos(), 0u);
    EXPECT_LT(a.tbmColetores.RecordCount(), 300);
    const std::string linha = TextoPerdidos("UDPClient", pequeno.Perdidos());
    EXPECT_NE(std::find(janela.memo1.begin(), janela.memo1.end(), linha), janela.memo1.end());
    EXPECT_EQ(janela.diagnosticos, (std::vector<std::string>{linha}));
}

// 600 modules behind a router and a book of 4,096 addresses: the replies come during the
// four seconds of the search, and none may be lost, even to a receive queue of the system's
// default size.
TEST_F(RedeTest, SeiscentosRoteadosComAgendaCheiaTodosListados) {
    EXIGE_REDE_PRIVADA();
    std::vector<EntradaAgenda> agenda =
        teste::Agenda({"127.1.0.0/22", "127.1.4.0/22", "127.1.8.0/22", "127.1.12.0/22"});
    for (int i = 1; i <= 8; ++i)
        agenda.push_back(teste::Agenda({"127.2.0." + std::to_string(i)}).front());
    const std::vector<std::string> enderecos = EnderecosDaAgenda(agenda);
    ASSERT_EQ(enderecos.size(), kMaxEnderecosAgenda);
    modulos.tibbo.clear();
    for (std::size_t i = 0; i < 600; ++i) {
        modsim::TibboModule m = Tibbo(enderecos[i * 6], "0.77." + std::to_string(i), "Vexa");
        m.routed = true;
        modulos.tibbo.push_back(m);
    }
    modulos.brivant.clear();
    Inicia();
    janela.tempo = "300";
    janela.agenda = agenda;
    TUDPEndpoint padrao(8192, true, 0), auxPadrao(8192, true, 0);
    TAtualizacao a(janela, padrao, auxPadrao, safe);
    a.FormCreate();
    const long long antes = lumora::teste::RcvbufErrors();
    a.AtualizaListas(false);
    EXPECT_EQ(a.tbmColetores.RecordCount(), 600);
    EXPECT_EQ(lumora::teste::RcvbufErrors(), antes);
    EXPECT_EQ(padrao.Perdidos(), 0u);
    EXPECT_TRUE(janela.diagnosticos.empty());
    // Every one read, with its values.
    std::set<std::string> lidos;
    for (int i = 0; i < a.tbmColetores.RecordCount(); ++i) {
        a.tbmColetores.MoveTo(i);
        if (a.tbmColetores.AsString(cNetmask) == "255.255.255.0")
            lidos.insert(a.tbmColetores.AsString(cIp));
    }
    EXPECT_EQ(lidos.size(), 600u);
}

TEST_F(RedeTest, ModuloMudoCustaSuasQuatroEsperasEAtrasadoServeAProxima) {
    EXIGE_REDE_PRIVADA();
    modulos.tibbo.resize(2);
    modulos.tibbo[1].behaviours["X"].delay = 20ms;  // listed first, read first
    for (const char* c : {"L", "GNM", "GGI", "GDI"}) modulos.tibbo[0].behaviours[c].silent = true;
    Inicia();
    janela.tempo = "200";
    TAtualizacao a(janela, client, aux, safe);
    a.FormCreate();
    a.AtualizaListas(false);
    EXPECT_EQ(aux.Esgotados(), 4);
    EXPECT_EQ(aux.Recepcoes(), 8);
    a.tbmColetores.MoveTo(0);
    EXPECT_EQ(a.tbmColetores.AsString(cNetmask), "255.255.255.0");
    a.tbmColetores.MoveTo(1);
    EXPECT_EQ(a.tbmColetores.AsString(cNetmask), "");

    // A reply that comes after its wait is taken by the next wait on the same endpoint.
    sim->Modify([](modsim::Modules& m) {
        m.tibbo[0].behaviours.clear();
        m.tibbo[0].behaviours["GNM"].delay = 300ms;
    });
    aux.SetReceiveTimeout(100);
    aux.Send("127.0.0.11", 65535, "GNM");
    EXPECT_EQ(AguardaValor(aux, [] { return true; }), std::nullopt);
    std::this_thread::sleep_for(300ms);
    aux.Send("127.0.0.11", 65535, "GGI");
    EXPECT_EQ(AguardaValor(aux, [] { return true; }), "255.255.255.0");
    EXPECT_EQ(AguardaValor(aux, [] { return true; }), "127.0.0.1");
}

TEST_F(RedeTest, DatagramaGrandeFalhaUmaVezERespostaDeOutraPorta) {
    EXIGE_REDE_PRIVADA();
    modulos.tibbo.resize(1);
    modulos.tibbo[0].behaviours["GNM"].oversize = modsim::kTibboOversize;
    modulos.tibbo[0].behaviours["GGI"].otherPort = true;
    Inicia();
    aux.SetReceiveTimeout(500);
    aux.Send("127.0.0.11", 65535, "GNM");
    try {
        aux.Receive();
        FAIL() << "no error";
    } catch (const ESocketUDP& e) {
        EXPECT_EQ(e.Codigo(), 10040);
        EXPECT_EQ(std::string(e.what()), "Socket Error # 10040\r\nMessage too long");
    }
    // The oversized datagram is gone; the reply behind it is there.
    EXPECT_EQ(aux.Receive().texto, "A255.255.255.0");
    aux.Send("127.0.0.11", 65535, "GGI");
    const Datagrama d = aux.Receive();
    EXPECT_EQ(d.texto, "A127.0.0.1");
    EXPECT_EQ(d.endereco, "127.0.0.11");
    EXPECT_NE(d.porta, 65535);

    // In the refresh, the error ends the reads with the notice; the row found stays.
    TAtualizacao a(janela, client, aux, safe);
    a.FormCreate();
    a.AtualizaListas(false);
    EXPECT_EQ(janela.avisos, (std::vector<std::string>{kErroAtualizacao}));
    EXPECT_EQ(a.tbmColetores.RecordCount(), 1);
    EXPECT_EQ(a.tbmModulos.RecordCount(), 3);
}

TEST_F(RedeTest, EndpointGuardaSuaPortaEFechaPerdeAFila) {
    EXIGE_REDE_PRIVADA();
    Inicia();
    client.SetReceiveTimeout(200);
    client.Send("127.0.0.11", 65535, "L581947");
    const uint16_t porta = client.PortaLocal();
    ASSERT_NE(porta, 0);
    EXPECT_EQ(client.Receive().texto, "A");
    // An empty datagram reads as empty text, as a time-out does, and ends a collection.
    SocketAvulso avulso;
    avulso.EnviaPara(porta, "");
    avulso.EnviaPara(porta, "depois");
    EXPECT_EQ(ColetaAteSilencio(client, [](const Datagrama&) { return true; }), 0);
    EXPECT_EQ(client.Receive().texto, "depois");
    client.Send("127.0.0.12", 65535, "GNM");
    EXPECT_EQ(client.PortaLocal(), porta);

    // A datagram queued when the socket closes is dropped; the next send takes a new port.
    safe.SetReceiveTimeout(200);
    safe.Send("255.255.255.255", 30303, "Discovery: Who is out there?");
    std::this_thread::sleep_for(50ms);
    safe.Close();
    EXPECT_FALSE(safe.Active());
    EXPECT_EQ(safe.Receive().texto, "");
    EXPECT_EQ(safe.Esgotados(), 1);

    // The waits resume after a signal with the time that is left.
    struct sigaction acao {};
    acao.sa_handler = [](int) {};
    ::sigaction(SIGALRM, &acao, nullptr);
    client.SetReceiveTimeout(400);
    const auto inicio = std::chrono::steady_clock::now();
    ::ualarm(100000, 0);
    EXPECT_EQ(client.Receive().texto, "A255.255.255.0");  // the GNM answer was still queued
    ::ualarm(100000, 0);
    EXPECT_EQ(client.Receive().texto, "");
    EXPECT_GE(std::chrono::steady_clock::now() - inicio, 350ms);
}

TEST_F(RedeTest, FalhasDeEnvio) {
    EXIGE_REDE_PRIVADA();
    TUDPEndpoint e(8192);
    try {
        e.Send("127.0.0.1", 9, std::string(70000, 'x'));
        FAIL();
    } catch (const ESocketUDP& f) {
        EXPECT_EQ(std::string(f.what()), "Package Size Too Big.");
    }
    for (const char* host : {"localhost", "127.0.0.01", "1.2.3", ""}) {
        EXPECT_THROW(e.Send(host, 9, "x"), ESocketUDP) << host;
    }
    // No descriptor left for a new socket.
    rlimit antes{};
    ::getrlimit(RLIMIT_NOFILE, &antes);
    std::vector<int> ocupados;
    rlimit pouco = antes;
    pouco.rlim_cur = 64;
    ::setrlimit(RLIMIT_NOFILE, &pouco);
    for (int fd; (fd = ::dup(0)) >= 0;) ocupados.push_back(fd);
    TUDPEndpoint sem(8192);
    try {
        sem.Send("127.0.0.1", 9, "x");
        ADD_FAILURE();
    } catch (const ESocketUDP& f) {
        EXPECT_EQ(std::string(f.what()), "Cannot allocate socket.");
    }
    for (int fd : ocupados) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &antes);
}

// A computer with two adapters: every broadcast of the manager goes out through each of them,
// with a default route and, as on an isolated gate network, without one (where a plain send to
// 255.255.255.255 fails).
TEST(RedeAdaptadores, BroadcastSaiPorCadaAdaptador) {
    EXIGE_REDE_PRIVADA();
    // Two veth pairs inside this namespace; the far ends listen here too, so nothing leaves it.
    const char* montagem =
        "ip link add mvA type veth peer name mvA2 && ip link add mvB type veth peer name mvB2 && "
        "ip addr add 10.91.1.1/24 dev mvA && ip addr add 10.91.1.2/24 dev mvA2 && "
        "ip addr add 10.91.2.1/24 dev mvB && ip addr add 10.91.2.2/24 dev mvB2 && "
        "ip link set mvA up && ip link set mvA2 up && ip link set mvB up && ip link set mvB2 up";
    if (std::system(montagem) != 0) GTEST_SKIP() << "cannot make veth pairs here";
    struct Limpa {
        ~Limpa() {
            (void)std::system("ip link del mvA; ip link del mvB");
            (void)std::system("ip route replace default dev lo");
        }
    } limpa;

    // How many times a datagram to `porta` came in on each interface, after `envia`.
    const auto chegadas = [](uint16_t porta, const std::function<void()>& envia) {
        std::map<std::string, int> r;
        const int escuta = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int um = 1;
        ::setsockopt(escuta, SOL_SOCKET, SO_REUSEADDR, &um, sizeof um);
        ::setsockopt(escuta, IPPROTO_IP, IP_PKTINFO, &um, sizeof um);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(porta);
        EXPECT_EQ(::bind(escuta, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        EXPECT_NO_THROW(envia());
        for (;;) {
            pollfd p{escuta, POLLIN, 0};
            if (::poll(&p, 1, 300) <= 0) break;
            char dados[64];
            alignas(cmsghdr) char controle[256];
            iovec iov{dados, sizeof dados};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = controle;
            msg.msg_controllen = sizeof controle;
            if (::recvmsg(escuta, &msg, 0) <= 0) break;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                char nome[IF_NAMESIZE] = {};
                ++r[if_indextoname(static_cast<unsigned>(info.ipi_ifindex), nome) ? nome : "?"];
            }
        }
        ::close(escuta);
        return r;
    };

    for (const bool rotaPadrao : {true, false}) {
        SCOPED_TRACE(rotaPadrao ? "default route" : "no default route");
        ASSERT_EQ(std::system(rotaPadrao ? "ip route replace default dev lo"
                                         : "ip route del default 2>/dev/null; true"),
                  0);
        teste::JanelaFalsa janela;
        janela.tempo = "50";
        TUDPEndpoint client(8192), aux(8192), safe(512);
        TAtualizacao a(janela, client, aux, safe);
        a.FormCreate();
        const struct {
            const char* nome;
            uint16_t porta;
            std::function<void()> envia;
        } casos[] = {
            {"first family", kPortaPrimeiraFamilia, [&] { client.Broadcast("X", 65535); }},
            {"second-family query", kPortaSegundaFamilia, [&] { a.btnUDPSafeClick(); }},
        };
        for (const auto& c : casos) {
            SCOPED_TRACE(c.nome);
            auto r = chegadas(c.porta, c.envia);
            // Each far end got the datagram once; loopback, not an adapter, got none.
            EXPECT_EQ(r["mvA2"], 1);
            EXPECT_EQ(r["mvB2"], 1);
            EXPECT_EQ(r["lo"], 0);
        }
        EXPECT_TRUE(janela.memo1.empty());  // no adapter refused it
    }
}

// A PC with two adapters on one gate network: the broadcast leaves through both, the module
// answers each, and it is listed once, at its address, and read once.
TEST(RedeAdaptadores, ModuloPorDoisAdaptadoresNoMesmoSegmentoUmaLinha) {
    EXIGE_REDE_PRIVADA();
    lumora::teste::OutraRede segmento;
    if (!segmento.Pronta()) GTEST_SKIP() << "cannot make more namespaces";
    const std::string montagem =
        "ip link add dsA type veth peer name dsA2 && ip link add dsB type veth peer name dsB2 && "
        "ip link set dsA2 netns " +
        segmento.Id() + " && ip link set dsB2 netns " + segmento.Id() +
        " && ip addr add 10.94.1.1/24 dev dsA && ip addr add 10.94.1.2/24 dev dsB && "
        "ip link set dsA up && ip link set dsB up";
    if (std::system(montagem.c_str()) != 0) GTEST_SKIP() << "cannot make veth pairs here";
    struct Limpa {
        ~Limpa() { (void)std::system("ip link del dsA 2>/dev/null; ip link del dsB 2>/dev/null"); }
    } limpa;
    // The module's one address on both ends of the segment, as one module on one switch.
    ASSERT_EQ(segmento.Executa("ip addr add 10.94.1.50/24 dev dsA2 && ip addr add 10.94.1.50/24 "
                               "dev dsB2 && ip link set dsA2 up && ip link set dsB2 up"),
              0);
    modsim::Modules modulos;
    modulos.tibbo.push_back(Tibbo("10.94.1.50", "0.94.1.50", "Vexa portaria"));
    std::unique_ptr<modsim::ModuleSim> sim;
    ASSERT_TRUE(segmento.Dentro([&] {
        sim = std::make_unique<modsim::ModuleSim>(modulos);
        sim->Start();
    }));
    teste::JanelaFalsa janela;
    janela.tempo = "300";
    TUDPEndpoint client(8192), aux(8192), safe(512);
    TAtualizacao a(janela, client, aux, safe);
    a.FormCreate();
    a.AtualizaListas(false);
    int descobertas = 0, leituras = 0;
    for (const auto& d : sim->Log()) {
        descobertas += d.text == "X";
        leituras += d.text == "GNM";
    }
    EXPECT_EQ(descobertas, 2);  // once through each adapter
    EXPECT_EQ(janela.memo1.size(), 2u);
    ASSERT_EQ(a.tbmColetores.RecordCount(), 1);
    a.tbmColetores.MoveTo(0);
    EXPECT_EQ(a.tbmColetores.AsString(cIp), "10.94.1.50");
    EXPECT_EQ(a.tbmColetores.AsString(cNetmask), "255.255.255.0");
    EXPECT_EQ(leituras, 1);
    EXPECT_EQ(janela.duplicados, 0);

    // The segment's broadcast address written into the book as a single address is never
    // sent to: the search refuses it and says so, where it would have reached every module.
    janela.agenda = teste::Agenda({"10.94.1.255"});
    sim->ClearLog();
    a.AtualizaListas(false);
    for (const auto& d : sim->Log()) EXPECT_NE(d.to, "10.94.1.255") << d.text;
    EXPECT_NE(std::find_if(janela.memo1.begin(), janela.memo1.end(),
                           [](const std::string& l) {
                               return l.rfind("10.94.1.255: Socket Error # 10013", 0) == 0;
                           }),
              janela.memo1.end());
    EXPECT_EQ(a.tbmColetores.RecordCount(), 1);
    sim->Stop();
}

// An office PC and a gate network behind a router: the router namespace forwards between its
// two veth segments, and no broadcast passes it. The module behind it is found only through
// the address book, read, and re-addressed.
TEST(RedeRoteada, ModuloAtrasDoRoteadorSoPelaAgenda) {
    EXIGE_REDE_PRIVADA();
    lumora::teste::OutraRede roteador, anexo;
    if (!roteador.Pronta() || !anexo.Pronta()) GTEST_SKIP() << "cannot make more namespaces";
    const std::string montagem =
        "ip link add rtA type veth peer name rtA2 && ip link set rtA2 netns " + roteador.Id() +
        " && ip addr add 10.93.1.1/24 dev rtA && ip link set rtA up && "
        "ip route add 10.93.2.0/24 via 10.93.1.254";
    if (std::system(montagem.c_str()) != 0) GTEST_SKIP() << "cannot make veth pairs here";
    struct Limpa {
        ~Limpa() { (void)std::system("ip link del rtA 2>/dev/null"); }
    } limpa;
    ASSERT_EQ(roteador.Executa("ip addr add 10.93.1.254/24 dev rtA2 && ip link set rtA2 up && "
                               "ip link add rtB type veth peer name rtB2 && "
                               "ip link set rtB2 netns " +
                               anexo.Id() +
                               " && ip addr add 10.93.3.254/24 dev rtB && ip link set rtB up && "
                               "ip route add 10.93.2.0/24 dev rtB && "
                               "echo 1 > /proc/sys/net/ipv4/ip_forward"),
              0);
    // The far segment takes every address of its /24, so that the simulator sees each "X" of
    // the search, module or not; the module's own two addresses sit on its interface. The
    // router's side of it lies outside that /24, or its ARP would come from a "local" source.
    ASSERT_EQ(anexo.Executa("ip addr add 10.93.2.5/24 dev rtB2 && ip addr add 10.93.2.6/24 dev "
                            "rtB2 && ip link set rtB2 up && ip route add 10.93.3.254 dev rtB2 && "
                            "ip route add default via 10.93.3.254 && "
                            "ip route add local 10.93.2.0/24 dev lo"),
              0);

    modsim::Modules modulos;
    modulos.tibbo.push_back(Tibbo("10.93.2.5", "0.93.2.5", "Vexa anexo"));
    modulos.tibbo[0].gateway = "10.93.3.254";
    std::unique_ptr<modsim::ModuleSim> sim;
    ASSERT_TRUE(anexo.Dentro([&] {
        sim = std::make_unique<modsim::ModuleSim>(modulos);
        sim->Start();  // its sockets and its thread stay behind the router
    }));
    const auto recebidos = [&](const std::string& texto) {
        std::vector<modsim::Received> r;
        for (const auto& d : sim->Log())
            if (d.text == texto) r.push_back(d);
        return r;
    };

    teste::JanelaFalsa janela;
    janela.tempo = "250";
    TUDPEndpoint client(8192), aux(8192), safe(512);
    TAtualizacao a(janela, client, aux, safe);
    a.FormCreate();

    // Without the book: nothing passes the router, nothing is listed.
    a.AtualizaListas(false);
    EXPECT_EQ(a.tbmColetores.RecordCount(), 0);
    EXPECT_TRUE(sim->Log().empty());
    EXPECT_EQ(client.Esgotados(), 1);  // the broadcast's collection and nothing more

    // With it: every address of the /24 once, paced, and the module found and read.
    janela.agenda = teste::Agenda({"10.93.2.0/24"});
    a.AtualizaListas(false);
    const auto busca = recebidos("X");
    ASSERT_EQ(busca.size(), 254u);
    std::set<std::string> destinos;
    for (const auto& d : busca) destinos.insert(d.to);
    EXPECT_EQ(destinos.size(), 254u);
    EXPECT_EQ(destinos.count("10.93.2.0") + destinos.count("10.93.2.255"), 0u);
    // Sent 1 ms apart; what arrives may bunch up a little behind the router's address
    // resolution, but a burst would take a few milliseconds, not a quarter of a second.
    EXPECT_GE(busca.back().at - busca.front().at, 200ms);
    ASSERT_EQ(a.tbmColetores.RecordCount(), 1);
    a.tbmColetores.MoveTo(0);
    EXPECT_EQ(a.tbmColetores.AsString(cIp), "10.93.2.5");
    EXPECT_EQ(a.tbmColetores.AsString(cGateway), "10.93.3.254");
    EXPECT_EQ(a.tbmColetores.AsString(cNetmask), "255.255.255.0");
    EXPECT_TRUE(a.SoPorUnicast("0.93.2.5"));

    // Re-addressed with a new netmask and gateway: those first, to where it is now, then "A"
    // by unicast there, then "E" to the new address; the closing refresh finds it there.
    struct Dialogo : IDialogoConfigura {
        CamposConfiguracao campos;
        void Preenche(const CamposConfiguracao& c, bool) override { campos = c; }
        bool Executa() override {
            campos.ip = "10.93.2.6";
            campos.mascara = "255.255.0.0";
            campos.gateway = "10.93.2.254";
            return true;
        }
        CamposConfiguracao Le() const override { return campos; }
    } dialogo;
    struct : IAbridor {
        void AbreEAguarda(const std::string&) override {}
    } abridor;
    TConfiguracao configuracao(janela, a, dialogo, abridor, "10.93.1.1");
    sim->ClearLog();
    configuracao.ConfiguraColetor();
    std::vector<std::string> naRede;
    for (const auto& d : sim->Log()) {
        if (d.text == "X") break;  // the closing refresh
        naRede.push_back(d.to + " " + d.text);
    }
    EXPECT_EQ(naRede,
              (std::vector<std::string>{"10.93.2.5 L581947", "10.93.2.5 SNM255.255.0.0",
                                        "10.93.2.5 SGI10.93.2.254",
                                        "10.93.2.5 A0.93.2.5/581947/10.93.2.6", "10.93.2.6 E"}));
    EXPECT_EQ(sim->Snapshot().tibbo[0].ip, "10.93.2.6");
    ASSERT_EQ(a.tbmColetores.RecordCount(), 1);
    a.tbmColetores.MoveTo(0);
    EXPECT_EQ(a.tbmColetores.AsString(cIp), "10.93.2.6");
    EXPECT_EQ(a.tbmColetores.AsString(cGateway), "10.93.2.254");
    EXPECT_EQ(a.tbmColetores.AsString(cNetmask), "255.255.0.0");
    EXPECT_TRUE(janela.avisos.empty());
    sim->Stop();
}

}  // namespace
}  // namespace modrevo

int main(int argc, char** argv) {
    // Before anything starts a thread: the namespace belongs to the calling thread.
    modrevo::semRede = lumora::teste::EntraEmRedePrivada();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
