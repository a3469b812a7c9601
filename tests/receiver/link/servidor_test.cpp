// The connection server over real loopback sockets, with simulated terminals as peers.
#include "receiver/link/Servidor.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>

#include "TerminalSim.h"
#include "common/Exception.h"
#include "common/Unhandled.h"
#include "tests/support/PortaLivre.h"

using namespace lumora;
using namespace std::chrono_literals;
using termsim::SimTerminal;

namespace {

using teste::PortaLivre;

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "test_servidor";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until the condition holds or the time is up.
template <class F>
bool Ate(F condicao, std::chrono::milliseconds limite = 3000ms) {
    QElapsedTimer t;
    t.start();
    while (!condicao()) {
        if (t.elapsed() > limite.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct LogFalso : ILogTrafego {
    void Recebidos(const std::string& l) override { recebidos.push_back(l); }
    void Enviados(const std::string& l) override { enviados.push_back(l); }
    bool Contem(const std::string& trecho) const {
        return std::any_of(enviados.begin(), enviados.end(), [&](const std::string& l) {
            return l.find(trecho) != std::string::npos;
        });
    }
    std::vector<std::string> recebidos, enviados;
};

struct ListaFalsa : IListaTerminais {
    void Limpa() override { linhas.clear(); }
    void Adiciona(const std::string& ip) override { linhas.push_back(ip); }
    void RemovePrimeiro(const std::string& ip) override {
        auto it = std::find(linhas.begin(), linhas.end(), ip);
        if (it != linhas.end()) linhas.erase(it);
    }
    std::vector<std::string> linhas;
};

struct AvisosFalsos : IAvisosOperador {
    void Aviso(const std::string& texto) override { avisos.push_back(texto); }
    std::vector<std::string> avisos;
};

struct ArquivosMemoria : IArquivosMotor {
    explicit ArquivosMemoria(TabelasReceptor& t) : tabelas(t) {}
    void RecarregaComandas() override {
        std::vector<common::Row> linhas;
        for (const auto& c : comandas) linhas.push_back({c});
        tabelas.cdsComandas.Load(std::move(linhas));
    }
    void SalvaHistorico() override { ++salvamentos; }
    TabelasReceptor& tabelas;
    std::vector<std::string> comandas{"0000000000001234"};
    int salvamentos = 0;
};

class ServidorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        common::SetUnhandledFailureHandler([this](const std::string& t) { falhas.push_back(t); });
        tabelas.cdsEquipamentos.Load({{std::string("03"), std::string("127.0.0.3")},
                                      {std::string("01"), std::string("127.0.0.21")},
                                      {std::string("02"), std::string("127.0.0.22")}});
        tabelas.cdsHistorico.Open();
        servidor.OnLegenda = [this](const std::string& l) { legenda = l; };
        // A port found free may be taken by a parallel test before we listen on it.
        for (int tentativa = 0; tentativa < 5 && !servidor.Escutando(); ++tentativa) {
            porta = PortaLivre();
            try {
                servidor.btIniciarClick(" " + std::to_string(porta) + "\r\n");
            } catch (const ESockException&) {
            }
        }
        ASSERT_TRUE(servidor.Escutando());
    }
    void TearDown() override {
        if (servidor.Escutando()) servidor.FechaConexoes();
        common::SetUnhandledFailureHandler(nullptr);
    }

    // Connects a terminal and waits until the server has accepted it.
    SimTerminal Conecta(const std::string& origem) {
        SimTerminal t;
        t.Connect("127.0.0.1", porta, origem);
        const size_t antes = lista.linhas.size();
        EXPECT_TRUE(Ate([&] { return lista.linhas.size() > antes; }));
        return t;
    }
    // Connects a registered terminal and takes its wake and clock message.
    SimTerminal Saudado(const std::string& origem) {
        SimTerminal t = Conecta(origem);
        EXPECT_EQ(Recebe(t), "$");
        EXPECT_EQ(Recebe(t).substr(3, 3), "01;");
        return t;
    }

    // Next frame from the receiver, serving events meanwhile; "" on time-out.
    std::string Recebe(SimTerminal& t, std::chrono::milliseconds limite = 2500ms) {
        std::optional<termsim::Inbound> m;
        Ate(
            [&] {
                t.ReadAvailable();
                m = t.PopMessage();
                return m.has_value();
            },
            limite);
        return m ? m->bytes : "";
    }

    TabelasReceptor tabelas;
    AjustesFixos ajustes;
    ArquivosMemoria arquivos{tabelas};
    TMotorSaida motor{tabelas, ajustes, arquivos};
    LogFalso log;
    ListaFalsa lista;
    AvisosFalsos avisos;
    TServidorTerminais servidor{motor, log, lista, avisos};
    uint16_t porta = 0;
    std::string legenda;
    std::vector<std::string> falhas;
};

}  // namespace

const std::string kEntrega = "01;20;03;Por Favor Libere;   a Comanda    ;\r";
const std::string kLiberacao = "01;02;S;05;     Saida      ;    Liberada    ;\r";

TEST_F(ServidorTest, GreetsARegisteredTerminalWithWakeThenClockOneSecondLater) {
    const auto antes = std::chrono::steady_clock::now();
    SimTerminal t = Conecta("127.0.0.3");
    EXPECT_EQ(Recebe(t), "$");
    const std::string relogio = Recebe(t);
    const auto depois = std::chrono::steady_clock::now();
    EXPECT_GE(depois - antes, 1000ms);
    const auto r = termsim::ParseReply(relogio);
    EXPECT_EQ(r.kind, termsim::ReplyKind::Clock);
    EXPECT_TRUE(r.WellFormed()) << r.problem;
    EXPECT_EQ(r.Field(0), "03");

    EXPECT_EQ(legenda, textos::kParar);
    EXPECT_EQ(lista.linhas, std::vector<std::string>{"127.0.0.3"});
    const std::vector<std::string> esperado = {
        "Info: Setting PortName While Connected Has No Effect",
        "Info: Setting LocalPortName While Connected Has No Effect",
        "Info: Setting HostName While Connected Has No Effect",
        textos::kConectado + "127.0.0.3",
        "[127.0.0.3]$",
        "[127.0.0.3]" + relogio,
    };
    auto inicio = std::find(log.enviados.begin(), log.enviados.end(), esperado[0]);
    ASSERT_NE(inicio, log.enviados.end());
    EXPECT_EQ(std::vector<std::string>(inicio, log.enviados.end()), esperado);
}

TEST_F(ServidorTest, MessagesSentDuringTheGreetingWaitForTheClock) {
    SimTerminal t = Conecta("127.0.0.21");
    EXPECT_EQ(Recebe(t), "$");
    t.SendReleaseRequest();
    // Another terminal is served while the first one waits for its clock message.
    SimTerminal outro = Conecta("127.0.0.99");
    outro.SendReleaseRequest();
    EXPECT_EQ(Recebe(outro, 500ms), kLiberacao);
    EXPECT_EQ(Recebe(t).substr(0, 6), "01;01;");
    EXPECT_EQ(Recebe(t), kLiberacao);
}

TEST_F(ServidorTest, UnregisteredAddressIsListedButNotGreeted) {
    SimTerminal t = Conecta("127.0.0.50");
    EXPECT_EQ(Recebe(t, 1300ms), "");
    EXPECT_TRUE(log.Contem(textos::kConectado + "127.0.0.50"));
    // Its messages are judged by their terminal number.
    t.SendCardRead("0000000000001234");
    EXPECT_EQ(Recebe(t), kEntrega);
    t.SendCardRead("0000000000009999");
    EXPECT_EQ(Recebe(t), "01;03;05;     Saida      ;   Bloqueada    ;\r");
    t.SendTurnstileResult("G");  // a registered terminal number gets no reply to it
    EXPECT_EQ(Recebe(t, 300ms), "");
    EXPECT_EQ(arquivos.salvamentos, 1);
    t.SetTerminalNumber("07");
    t.SendReleaseRequest();
    EXPECT_EQ(Recebe(t), "07;03;05;  Equipamento   ; Nao Cadastrado ;\r");
}

TEST_F(ServidorTest, CutsTheStreamIntoMessagesWhateverThePieces) {
    SimTerminal t = Saudado("127.0.0.21");
    t.SendRaw("01;2");
    Ate([] { return false; }, 50ms);
    t.SendRaw("1");
    Ate([] { return false; }, 50ms);
    EXPECT_TRUE(log.recebidos.empty());
    t.SendRaw(";\r");
    EXPECT_EQ(Recebe(t), kLiberacao);
    ASSERT_EQ(log.recebidos.size(), 1u);
    // "<[dd/mm/yy hh:nn:ss zzz] 01;21;"
    EXPECT_EQ(log.recebidos[0].size(), 2 + 21 + 2 + 6u);
    EXPECT_EQ(log.recebidos[0].substr(0, 2), "<[");
    EXPECT_EQ(log.recebidos[0].substr(23), "] 01;21;");

    // Several messages in one read, each answered in order; a lone "$" changes nothing.
    t.SendRaw("$");
    t.SendRaw("$01;21;\r01;09;;0000000000001234;;25;12;24;14;31;05;\r01;2$1\r");
    EXPECT_EQ(Recebe(t), kLiberacao);
    EXPECT_EQ(Recebe(t), kEntrega);
    EXPECT_EQ(Recebe(t), kLiberacao);
    EXPECT_EQ(log.recebidos.size(), 4u);

    // A line feed after the CR becomes part of the next terminal number.
    t.SendRaw("01;21;\r\n");
    EXPECT_EQ(Recebe(t), kLiberacao);
    t.SendRaw("01;21;\r");
    EXPECT_EQ(Recebe(t), "\n01;03;05;  Equipamento   ; Nao Cadastrado ;\r");
}

TEST_F(ServidorTest, EachConnectionKeepsItsOwnSlotWhenAnotherCloses) {
    SimTerminal a = Saudado("127.0.0.21");
    SimTerminal b = Saudado("127.0.0.22");
    SimTerminal c = Saudado("127.0.0.21");  // a second terminal from the same address
    b.SetTerminalNumber("02");
    b.SendCardRead("0000000000001234");
    c.SendCardRead("0000000000001234");
    EXPECT_EQ(Recebe(b).substr(0, 6), "02;20;");
    EXPECT_EQ(Recebe(c), kEntrega);
    b.SendRaw("02;21");  // half a message waiting in b's buffer
    Ate([] { return false; }, 50ms);

    a.Close();
    ASSERT_TRUE(Ate([&] { return servidor.QuantidadeConexoes() == 2; }));
    // The first of the two equal lines went.
    EXPECT_EQ(lista.linhas, (std::vector<std::string>{"127.0.0.22", "127.0.0.21"}));
    ASSERT_NE(servidor.PendenteDe(0), nullptr);
    EXPECT_EQ(servidor.PendenteDe(0)->comanda, "0000000000001234");
    b.SendRaw(";\r");
    EXPECT_EQ(Recebe(b).substr(0, 6), "02;02;");
    EXPECT_EQ(Recebe(a, 200ms), "");

    // A pending card that leaves with its connection leaves no row.
    c.Abort();
    ASSERT_TRUE(Ate([&] { return servidor.QuantidadeConexoes() == 1; }));
    EXPECT_EQ(tabelas.cdsHistorico.RecordCount(), 0);
    b.SendTurnstileResult("G");
    ASSERT_TRUE(Ate([&] { return tabelas.cdsHistorico.RecordCount() == 1; }));
    tabelas.cdsHistorico.First();
    EXPECT_EQ(tabelas.cdsHistorico.AsString(campo::kCracha), "0000000000001234");
    EXPECT_EQ(arquivos.salvamentos, 1);
}

TEST_F(ServidorTest, ClosedDuringItsSecondGetsNoClockMessage) {
    SimTerminal t = Conecta("127.0.0.3");
    EXPECT_EQ(Recebe(t), "$");
    t.Close();
    ASSERT_TRUE(Ate([&] { return servidor.QuantidadeConexoes() == 0; }));
    SimTerminal outro = Conecta("127.0.0.50");
    Ate([] { return false; }, 1300ms);
    EXPECT_EQ(Recebe(outro, 100ms), "");
    EXPECT_FALSE(log.Contem("03;01;"));
    EXPECT_TRUE(avisos.avisos.empty());
}

TEST_F(ServidorTest, StopClosesEverythingAndStartListensAgain) {
    SimTerminal t = Saudado("127.0.0.21");
    servidor.btIniciarClick(std::to_string(porta));
    EXPECT_FALSE(servidor.Escutando());
    EXPECT_EQ(legenda, textos::kIniciar);
    EXPECT_TRUE(lista.linhas.empty());
    EXPECT_TRUE(log.Contem(textos::kFechando));
    EXPECT_TRUE(log.Contem("Info: Listening Stopped"));
    EXPECT_EQ(servidor.QuantidadeConexoes(), 0);
    EXPECT_EQ(Recebe(t, 300ms), "");
    EXPECT_TRUE(t.PeerClosed());
    EXPECT_THROW(SimTerminal().Connect("127.0.0.1", porta, "127.0.0.21", 300ms), termsim::SimError);

    servidor.btIniciarClick(std::to_string(porta));
    EXPECT_TRUE(servidor.Escutando());
    SimTerminal de_novo = Saudado("127.0.0.21");
    de_novo.SendReleaseRequest();
    EXPECT_EQ(Recebe(de_novo), kLiberacao);
}

TEST_F(ServidorTest, PortAlreadyTakenLeavesTheServerStopped) {
    TabelasReceptor t2;
    ArquivosMemoria a2{t2};
    TMotorSaida m2{t2, ajustes, a2};
    LogFalso l2;
    ListaFalsa li2;
    li2.linhas = {"velha"};
    TServidorTerminais segundo{m2, l2, li2, avisos};
    std::string legenda2 = "nada";
    segundo.OnLegenda = [&](const std::string& l) { legenda2 = l; };
    try {
        segundo.btIniciarClick(std::to_string(porta));
        FAIL() << "listened on a taken port";
    } catch (const ESockException& e) {
        EXPECT_EQ(e.Message(), "Listen - Error Binding Socket");
    }
    EXPECT_FALSE(segundo.Escutando());
    EXPECT_EQ(legenda2, "nada");
    EXPECT_TRUE(li2.linhas.empty());
    EXPECT_THROW(segundo.btIniciarClick("abc-no-such-service"), ESockException);
    EXPECT_THROW(segundo.btIniciarClick("12x"), common::EConvertError);
}

TEST_F(ServidorTest, ARunawayBufferIsDroppedAndItsConnectionClosed) {
    SimTerminal t = Saudado("127.0.0.21");
    SimTerminal vizinho = Saudado("127.0.0.22");
    const std::string bloco(8192, 'x');
    for (int i = 0; i < 9; ++i) t.SendRaw(bloco);
    ASSERT_TRUE(Ate([&] { return servidor.QuantidadeConexoes() == 1; }));
    EXPECT_TRUE(log.Contem("Erro: "));
    EXPECT_EQ(lista.linhas, std::vector<std::string>{"127.0.0.22"});
    vizinho.SetTerminalNumber("02");
    vizinho.SendReleaseRequest();
    EXPECT_EQ(Recebe(vizinho).substr(0, 6), "02;02;");
}

TEST_F(ServidorTest, AFailingMessageDoesNotHoldUpTheNextOne) {
    SimTerminal t = Saudado("127.0.0.21");
    t.SendRaw("ab;21;\r01;21;\r");
    EXPECT_EQ(Recebe(t).substr(0, 6), "ab;03;");
    EXPECT_EQ(Recebe(t), kLiberacao);
    ASSERT_EQ(falhas.size(), 1u);
    EXPECT_EQ(falhas[0], "'ab' is not a valid integer value.");
}

TEST_F(ServidorTest, NoConnectionAtAllShowsTheNotice) {
    servidor.EscrevePorta("01;21;\r", 0);
    EXPECT_EQ(avisos.avisos, std::vector<std::string>{textos::kSemTerminal});
}

TEST_F(ServidorTest, ConnectionsPastTheLimitAreClosedAtOnce) {
    std::vector<SimTerminal> terminais;
    for (int i = 0; i < TServidorTerminais::kMaxConexoes; ++i) {
        terminais.emplace_back();
        terminais.back().Connect("127.0.0.1", porta, termsim::NthLoopbackAddress("127.0.1.1", i));
        // The listen queue is short: let the server accept before the next one knocks.
        ASSERT_TRUE(Ate([&] { return servidor.QuantidadeConexoes() == i + 1; }));
    }
    ASSERT_TRUE(
        Ate([&] { return servidor.QuantidadeConexoes() == TServidorTerminais::kMaxConexoes; },
            10000ms));
    SimTerminal demais;
    demais.Connect("127.0.0.1", porta, "127.0.0.21");
    EXPECT_TRUE(Ate([&] { return log.Contem("Erro: Limite de 256"); }));
    EXPECT_EQ(Recebe(demais, 300ms), "");
    EXPECT_TRUE(demais.PeerClosed());
    EXPECT_EQ(servidor.QuantidadeConexoes(), TServidorTerminais::kMaxConexoes);
    // The last one admitted still works.
    terminais.back().SendReleaseRequest();
    EXPECT_EQ(Recebe(terminais.back()).substr(0, 6), "01;02;");
}
