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
#include <functional>
#include <optional>
#include <thread>

#include "TerminalSim.h"
#include "common/Convert.h"
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

// Records each box; with `modal` set, a box keeps the event loop running until it says so,
// as an open box does, and may check what happens meanwhile.
struct AvisosFalsos : IAvisosOperador {
    void Aviso(const std::string& texto) override {
        avisos.push_back(texto);
        ++abertos;
        maisAbertos = std::max(maisAbertos, abertos);
        if (modal) modal();
        --abertos;
    }
    std::vector<std::string> avisos;
    std::function<void()> modal;
    int abertos = 0, maisAbertos = 0;
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
        common::SetUnhandledOverflowSink(nullptr);
        common::SetUnhandledOverflowCounter(nullptr);
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

    // Counts the log lines that contain a text.
    size_t Linhas(const std::vector<std::string>& area, const std::string& trecho) const {
        return size_t(std::count_if(area.begin(), area.end(), [&](const std::string& l) {
            return l.find(trecho) != std::string::npos;
        }));
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
    // The refusal's row and the result's, each saved at once.
    EXPECT_EQ(arquivos.salvamentos, 2);
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
    // Two peers behind one unregistered address (a router, say) are two connections.
    SimTerminal a = Conecta("127.0.0.50");
    SimTerminal b = Saudado("127.0.0.22");
    SimTerminal c = Conecta("127.0.0.50");
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
    EXPECT_EQ(lista.linhas, (std::vector<std::string>{"127.0.0.22", "127.0.0.50"}));
    ASSERT_NE(servidor.PendenteDe(0), nullptr);
    EXPECT_EQ(servidor.PendenteDe(0)->comanda, "0000000000001234");
    b.SendRaw(";\r");
    EXPECT_EQ(Recebe(b).substr(0, 6), "02;02;");
    // b's index moved down when a closed: the reply went to b, not to the one after it.
    EXPECT_EQ(Recebe(c, 200ms), "");

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

// A gate that lost power or its cable connects again while its old connection still looks
// open: the new one is served, the old one closed, and its card's result still finds the card.
TEST_F(ServidorTest, AGateConnectingAgainReplacesItsOldConnectionAndKeepsItsCard) {
    SimTerminal antigo = Saudado("127.0.0.21");
    antigo.SendCardRead("0000000000001234");
    EXPECT_EQ(Recebe(antigo), kEntrega);
    SimTerminal outro = Saudado("127.0.0.22");

    SimTerminal novo;
    novo.Connect("127.0.0.1", porta, "127.0.0.21");
    EXPECT_EQ(Recebe(novo), "$");
    EXPECT_TRUE(log.Contem("Info: Terminal 127.0.0.21 conectou de novo"));
    EXPECT_TRUE(Ate([&] { return antigo.WaitMessage(10ms), antigo.PeerClosed(); }));
    EXPECT_EQ(servidor.QuantidadeConexoes(), 2);
    EXPECT_EQ(lista.linhas, (std::vector<std::string>{"127.0.0.22", "127.0.0.21"}));
    EXPECT_EQ(Recebe(novo).substr(0, 6), "01;01;");
    novo.SendTurnstileResult("G");
    ASSERT_TRUE(Ate([&] { return tabelas.cdsHistorico.RecordCount() == 1; }));
    tabelas.cdsHistorico.First();
    EXPECT_EQ(tabelas.cdsHistorico.AsString(campo::kCracha), "0000000000001234");
    EXPECT_EQ(tabelas.cdsHistorico.AsString(campo::kEstado), "Liberado");

    // A card handed in longer ago than its turnstile result can take (the turn and relay
    // times and a margin) is not carried: its gate's result went to another receiver.
    ajustes.valores.tempoGiro = 0;
    ajustes.valores.tempoRele = 0;
    novo.SendCardRead("0000000000001234");
    EXPECT_EQ(Recebe(novo).substr(0, 6), "01;20;");
    std::this_thread::sleep_for(2100ms);
    SimTerminal depois;
    depois.Connect("127.0.0.1", porta, "127.0.0.21");
    EXPECT_EQ(Recebe(depois), "$");
    EXPECT_TRUE(log.Contem("Info: Terminal 127.0.0.21: comanda 0000000000001234 da conex"));
    EXPECT_EQ(Recebe(depois).substr(0, 6), "01;01;");
    depois.SendTurnstileResult("G");
    ASSERT_TRUE(Ate([&] { return tabelas.cdsHistorico.RecordCount() == 2; }));
    std::vector<std::string> cartoes;
    for (int i = 0; i < 2; ++i)
        cartoes.push_back(std::get<std::string>(tabelas.cdsHistorico.ValueAt(i, campo::kCracha)));
    std::sort(cartoes.begin(), cartoes.end());
    EXPECT_EQ(cartoes, (std::vector<std::string>{"0000000000001234", estado::kSentidoLivre}));
    ajustes.valores = {};

    // Many more reconnections than slots, none of the old connections ever closed by the
    // gate (as after a cable pull): one slot stays in use, and the last one is served.
    std::vector<SimTerminal> mortos;
    for (int i = 0; i < TServidorTerminais::kMaxConexoes + 44; ++i) {
        const auto conectados =
            std::count_if(log.enviados.begin(), log.enviados.end(),
                          [](auto& l) { return l == textos::kConectado + "127.0.0.21"; });
        mortos.emplace_back();
        mortos.back().Connect("127.0.0.1", porta, "127.0.0.21");
        ASSERT_TRUE(Ate([&] {
            return std::count_if(log.enviados.begin(), log.enviados.end(), [](auto& l) {
                       return l == textos::kConectado + "127.0.0.21";
                   }) > conectados;
        }));
    }
    EXPECT_EQ(servidor.QuantidadeConexoes(), 2);
    EXPECT_FALSE(log.Contem("Limite de"));
    EXPECT_EQ(Recebe(mortos.back()), "$");
    EXPECT_EQ(Recebe(mortos.back()).substr(0, 6), "01;01;");
    outro.SetTerminalNumber("02");
    outro.SendReleaseRequest();
    EXPECT_EQ(Recebe(outro).substr(0, 6), "02;02;");
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

// ---- one box at a time, messages never lost, bounds on what one peer may cost ----

TEST_F(ServidorTest, OneFailureBoxAtATimeTheOthersGoToTheLogCounted) {
    common::SetUnhandledOverflowSink([&](const std::string& t) { log.Enviados("Erro: " + t); });
    std::vector<int> contagens;
    common::SetUnhandledOverflowCounter([&](int n) { contagens.push_back(n); });
    const std::string falha = "'ab' is not a valid integer value.";
    SimTerminal bom = Saudado("127.0.0.21");
    std::vector<SimTerminal> maus;
    for (unsigned i = 0; i < 20; ++i)
        maus.push_back(Conecta(termsim::NthLoopbackAddress("127.0.2.1", i)));
    int abertas = 0, maisAbertas = 0;
    std::string respostaComCaixaAberta;
    common::SetUnhandledFailureHandler([&](const std::string& t) {
        falhas.push_back(t);
        maisAbertas = std::max(maisAbertas, ++abertas);
        if (falhas.size() == 1) {
            // The box runs its loop: the other peers' bad messages come in, and a terminal
            // that behaves is still answered.
            bom.SendReleaseRequest();
            respostaComCaixaAberta = Recebe(bom);
            Ate([&] { return Linhas(log.enviados, "Erro: " + falha) == 19; });
        }
        --abertas;
    });
    for (auto& t : maus) t.SendRaw("ab;21;\r");
    ASSERT_TRUE(Ate([&] { return !falhas.empty() && abertas == 0; }));
    EXPECT_EQ(maisAbertas, 1);
    EXPECT_EQ(falhas, std::vector<std::string>{falha});
    EXPECT_EQ(Linhas(log.enviados, "Erro: " + falha), 19u);
    ASSERT_EQ(contagens.size(), 19u);
    EXPECT_EQ(contagens.back(), 19);
    EXPECT_EQ(respostaComCaixaAberta, kLiberacao);
    for (auto& t : maus) EXPECT_EQ(Recebe(t).substr(0, 6), "ab;03;");

    // Once it is closed, the next failure has a box of its own again.
    maus[0].SendRaw("ab;21;\r");
    EXPECT_TRUE(Ate([&] { return falhas.size() == 2; }));
    EXPECT_EQ(Linhas(log.enviados, "Erro: " + falha), 19u);
}

TEST_F(ServidorTest, MessagesHeldForTheClockAreHandledWhenTheConnectionEnds) {
    const struct {
        const char* fim;
        bool paraComunicacao;
    } casos[] = {{"the terminal closes", false}, {"communication stops", true}};
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.fim);
        log.recebidos.clear();
        const int linhas = tabelas.cdsHistorico.RecordCount();
        const int salvamentos = arquivos.salvamentos;
        SimTerminal t = Conecta("127.0.0.21");
        EXPECT_EQ(Recebe(t), "$");
        t.SendRaw("01;09;;0000000000001234;;25;12;24;14;31;05;\r01;10;G;;\r01;21;\r");
        Ate([] { return false; }, 100ms);
        ASSERT_FALSE(log.Contem("01;01;")) << "the clock message went already";
        if (caso.paraComunicacao) {
            servidor.btIniciarClick(std::to_string(porta));
        } else {
            t.Close();
            ASSERT_TRUE(Ate([&] { return servidor.QuantidadeConexoes() == 0; }));
        }
        EXPECT_EQ(log.recebidos.size(), 3u);
        ASSERT_EQ(tabelas.cdsHistorico.RecordCount(), linhas + 1);
        tabelas.cdsHistorico.Last();
        EXPECT_EQ(tabelas.cdsHistorico.AsString(campo::kCracha), "0000000000001234");
        EXPECT_EQ(tabelas.cdsHistorico.AsString(campo::kEstado), estado::kLiberado);
        EXPECT_EQ(arquivos.salvamentos, salvamentos + 1);
        EXPECT_FALSE(log.Contem("01;01;"));
        if (caso.paraComunicacao) {  // still there: its replies went before the close
            EXPECT_EQ(Recebe(t), kEntrega);
            EXPECT_EQ(Recebe(t), kLiberacao);
        }
    }
}

TEST_F(ServidorTest, WhatATerminalSentBeforeTheStopIsHandledThoughNotYetRead) {
    SimTerminal t = Saudado("127.0.0.21");
    t.SendRaw("01;09;;0000000000001234;;25;12;24;14;31;05;\r");
    ASSERT_EQ(Recebe(t), kEntrega);
    const int linhas = tabelas.cdsHistorico.RecordCount();
    const int salvamentos = arquivos.salvamentos;
    // The turnstile result arrives, and communication stops before the event loop has read it
    // (as when SIGTERM comes in a busy moment).
    t.SendRaw("01;10;G;;\r");
    std::this_thread::sleep_for(50ms);
    servidor.btIniciarClick(std::to_string(porta));
    EXPECT_FALSE(servidor.Escutando());
    ASSERT_EQ(tabelas.cdsHistorico.RecordCount(), linhas + 1);
    tabelas.cdsHistorico.Last();
    EXPECT_EQ(tabelas.cdsHistorico.AsString(campo::kEstado), estado::kLiberado);
    EXPECT_EQ(arquivos.salvamentos, salvamentos + 1);
}

TEST_F(ServidorTest, MessagesWaitingBehindABoxAreHandledAfterTheirConnectionEnded) {
    // The replies owed to the connection that ended go nowhere; the operator is told once, with
    // the notice for no terminal at all when none is left.
    const struct {
        bool outroConectado;
        std::string aviso;
    } casos[] = {{false, textos::kSemTerminal}, {true, textos::kFalhaEnvio}};
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.aviso);
        std::optional<SimTerminal> outro;
        if (caso.outroConectado) outro.emplace(Conecta("127.0.0.50"));
        SimTerminal t = Saudado("127.0.0.21");
        log.recebidos.clear();
        log.enviados.clear();
        avisos.avisos.clear();
        falhas.clear();
        const int salvamentos = arquivos.salvamentos;
        const int restantes = caso.outroConectado ? 1 : 0;
        common::SetUnhandledFailureHandler([&](const std::string& f) {
            falhas.push_back(f);
            t.SendRaw("01;10;G;;\r01;21;\r01;21;\r");
            t.Close();
            Ate([&] { return servidor.QuantidadeConexoes() == restantes; });
        });
        t.SendRaw("ab;21;\r");
        ASSERT_TRUE(Ate([&] { return Linhas(log.recebidos, "01;21;") == 2; }));
        EXPECT_EQ(falhas.size(), 1u);
        EXPECT_EQ(arquivos.salvamentos, salvamentos + 1);
        EXPECT_EQ(avisos.avisos, std::vector<std::string>{caso.aviso});
        EXPECT_EQ(Linhas(log.enviados, "Erro: Falha ao enviar para 127.0.0.21: "), 2u);
        EXPECT_FALSE(log.Contem("[127.0.0.21]01;02;"));
        common::SetUnhandledFailureHandler([&](const std::string& f) { falhas.push_back(f); });
    }
}

TEST_F(ServidorTest, OnlyBytesNotYetFramedCountAgainstTheMessageBound) {
    // Well-framed messages sent in the greeting second, more than the bound in all: the
    // terminal is held back, not cut off, and every message is answered after its clock.
    SimTerminal t = Conecta("127.0.0.21");
    EXPECT_EQ(Recebe(t), "$");
    const int pedidos = 12000;  // 84 000 bytes
    std::string lote;
    for (int i = 0; i < 1000; ++i) lote += "01;21;\r";
    for (int i = 0; i < pedidos / 1000; ++i) {
        t.SendRaw(lote);
        Ate([] { return false; }, 5ms);
    }
    ASSERT_FALSE(log.Contem("01;01;")) << "the clock message went already";
    EXPECT_TRUE(servidor.Sock().Connection(0)->ReadingPaused());
    EXPECT_EQ(Recebe(t).substr(0, 6), "01;01;");
    int respostas = 0;
    EXPECT_TRUE(Ate(
        [&] {
            t.ReadAvailable();
            while (const auto m = t.PopMessage()) respostas += m->bytes == kLiberacao;
            return respostas == pedidos;
        },
        10000ms));
    EXPECT_FALSE(log.Contem("sem CR"));
    EXPECT_FALSE(servidor.Sock().Connection(0)->ReadingPaused());

    // While a box of the connection's own handling is open, a message that never ends is
    // cut all the same.
    bool cortadaComCaixaAberta = false;
    common::SetUnhandledFailureHandler([&](const std::string& f) {
        falhas.push_back(f);
        for (int i = 0; i < 9; ++i) t.SendRaw(std::string(8192, 'x'));
        cortadaComCaixaAberta = Ate([&] { return servidor.QuantidadeConexoes() == 0; });
    });
    t.SendRaw("ab;21;\r");
    ASSERT_TRUE(Ate([&] { return !falhas.empty(); }));
    EXPECT_TRUE(cortadaComCaixaAberta);
    EXPECT_TRUE(log.Contem("Erro: Mensagem de 127.0.0.21 passou de 65536 bytes sem CR"));
}

TEST_F(ServidorTest, AFailedSendIsLoggedAsAFailureNotAsSent) {
    SimTerminal a = Saudado("127.0.0.21");
    SimTerminal b = Saudado("127.0.0.22");
    a.Abort();
    b.Abort();
    std::this_thread::sleep_for(50ms);  // the resets are in; their events not yet handled
    // The box runs its loop; a second connection failing meanwhile gets no box of its own.
    avisos.modal = [&] { servidor.EscrevePorta(kLiberacao, 1); };
    servidor.EscrevePorta(kLiberacao, 0);
    servidor.EscrevePorta(kLiberacao, 0);
    EXPECT_EQ(avisos.maisAbertos, 1);
    EXPECT_EQ(avisos.avisos, std::vector<std::string>{textos::kFalhaEnvio});
    EXPECT_EQ(Linhas(log.enviados, "Erro: Falha ao enviar para 127.0.0.21: Error #"), 2u);
    EXPECT_EQ(Linhas(log.enviados, "Erro: Falha ao enviar para 127.0.0.22: Error #"), 1u);
    EXPECT_EQ(Linhas(log.enviados, kLiberacao), 0u);
}

TEST_F(ServidorTest, APortNumberOutsideOneTo65535IsRefusedAndNothingListens) {
    TabelasReceptor t2;
    ArquivosMemoria a2{t2};
    TMotorSaida m2{t2, ajustes, a2};
    LogFalso l2;
    ListaFalsa li2;
    TServidorTerminais segundo{m2, l2, li2, avisos};
    for (const std::string porta : {"0", "00", "65536", "70000", " 131072 "}) {
        SCOPED_TRACE(porta);
        try {
            segundo.btIniciarClick(porta);
            ADD_FAILURE() << "listened";
            segundo.FechaConexoes();
        } catch (const common::Exception& e) {
            EXPECT_EQ(e.Message(), "A porta " + common::Trim(porta) +
                                       " n\xE3o \xE9 v\xE1lida: informe um n\xFAmero de 1 a 65535");
        }
        EXPECT_FALSE(segundo.Escutando());
        EXPECT_FALSE(segundo.Sock().Listen());
    }
    EXPECT_FALSE(l2.Contem("Listening Started"));
}

TEST_F(ServidorTest, APeerThatNeverReadsItsRepliesIsCutPastOneMebibyte) {
    SimTerminal surdo = Saudado("127.0.0.21");
    SimTerminal vizinho = Saudado("127.0.0.22");
    // A small system buffer on our side, so the replies pile up in the program at once.
    const int pequeno = 4096;
    ::setsockopt(servidor.Sock().Connection(0)->Handle(), SOL_SOCKET, SO_SNDBUF, &pequeno,
                 sizeof pequeno);
    std::string lote;
    for (int i = 0; i < 1000; ++i) lote += "01;21;\r";
    for (int i = 0; i < 100 && servidor.QuantidadeConexoes() == 2; ++i) {
        try {
            surdo.SendRaw(lote);
        } catch (const termsim::SimError&) {
            break;  // cut meanwhile
        }
        Ate([] { return false; }, 5ms);
    }
    ASSERT_TRUE(Ate([&] { return servidor.QuantidadeConexoes() == 1; }));
    EXPECT_TRUE(
        log.Contem("Erro: Terminal 127.0.0.21 n\xE3o l\xEA as respostas: mais de 1048576 "
                   "bytes por enviar; conex\xE3o fechada"));
    EXPECT_EQ(lista.linhas, std::vector<std::string>{"127.0.0.22"});
    vizinho.SetTerminalNumber("02");
    vizinho.SendReleaseRequest();
    EXPECT_EQ(Recebe(vizinho).substr(0, 6), "02;02;");
}

TEST_F(ServidorTest, OneBoxAtATimeWhetherAFailureOrANoticeOpenedIt) {
    std::vector<int> contagens;
    common::SetUnhandledOverflowCounter([&](int n) { contagens.push_back(n); });
    // A notice wanted while the failure box is open goes to the log.
    common::SetUnhandledFailureHandler([&](const std::string& t) {
        falhas.push_back(t);
        servidor.EscrevePorta("01;21;\r", 0);
    });
    common::ReportUnhandled(std::make_exception_ptr(common::Exception("primeira")));
    EXPECT_TRUE(avisos.avisos.empty());
    EXPECT_TRUE(log.Contem("Erro: " + textos::kSemTerminal));
    // A failure while a notice is open is held back and counted.
    avisos.modal = [] {
        common::ReportUnhandled(std::make_exception_ptr(common::Exception("segunda")));
    };
    servidor.EscrevePorta("01;21;\r", 0);
    EXPECT_EQ(avisos.avisos, std::vector<std::string>{textos::kSemTerminal});
    EXPECT_EQ(falhas, std::vector<std::string>{"primeira."});
    EXPECT_EQ(contagens, std::vector<int>{1});
}

TEST_F(ServidorTest, ANoticeAboutAGoneTerminalWaitsUntilWhatItSentHasItsRows) {
    // Card read and turnstile result in the greeting second, then a reset: the reply owed to
    // the card read fails, and its notice must come after the turnstile result's row and save.
    int linhasNoAviso = -1, salvamentosNoAviso = -1;
    avisos.modal = [&] {
        linhasNoAviso = tabelas.cdsHistorico.RecordCount();
        salvamentosNoAviso = arquivos.salvamentos;
    };
    SimTerminal t = Conecta("127.0.0.21");
    EXPECT_EQ(Recebe(t), "$");
    t.SendRaw("01;09;;0000000000001234;;25;12;24;14;31;05;\r01;10;G;;\r");
    Ate([] { return false; }, 100ms);
    t.Abort();
    ASSERT_TRUE(Ate([&] { return servidor.QuantidadeConexoes() == 0; }));
    ASSERT_TRUE(Ate([&] { return !avisos.avisos.empty(); }));
    EXPECT_EQ(avisos.avisos.size(), 1u);
    EXPECT_EQ(linhasNoAviso, 1);
    EXPECT_EQ(salvamentosNoAviso, 1);
    tabelas.cdsHistorico.Last();
    EXPECT_EQ(tabelas.cdsHistorico.AsString(campo::kCracha), "0000000000001234");
    EXPECT_EQ(tabelas.cdsHistorico.AsString(campo::kEstado), estado::kLiberado);
}

TEST_F(ServidorTest, AnUnregisteredFloodIsAnsweredInFullWithFewRowsAndACountInTheLog) {
    const common::DateTime agora = *common::DateTime::FromParts(2025, 3, 1, 10, 0, 0);
    common::SetClock([agora] { return agora; });
    struct Relogio {
        ~Relogio() { common::SetClock(nullptr); }
    } relogio;
    SimTerminal intruso = Conecta("127.0.0.50");
    intruso.SetTerminalNumber("07");
    SimTerminal catraca = Saudado("127.0.0.21");
    std::string lote, giros;
    for (int i = 0; i < 1000; ++i) lote += "07;21;\r";
    for (int i = 0; i < 100; ++i) giros += "01;10;G;;\r";
    size_t respostas = 0;
    auto le = [&] {
        intruso.ReadAvailable();
        while (const auto m = intruso.PopMessage()) {
            EXPECT_EQ(m->bytes, "07;03;05;  Equipamento   ; Nao Cadastrado ;\r");
            ++respostas;
        }
    };
    for (int i = 0; i < 10; ++i) {
        intruso.SendRaw(lote);
        catraca.SendRaw(giros);
        Ate([&] { return le(), respostas >= 1000u * (i + 1); }, 5000ms);
    }
    EXPECT_EQ(respostas, 10000u);
    ASSERT_TRUE(
        Ate([&] { return arquivos.salvamentos == 1000 + int(TLimiteNaoCadastrados::kLinhas); }));
    int naoCadastrados = 0;
    auto& h = tabelas.cdsHistorico;
    for (h.First(); !h.Eof(); h.Next()) {
        naoCadastrados += h.AsString(campo::kEstado) == "Equip. N\xE3o Cadastrad";
    }
    EXPECT_EQ(naoCadastrados, int(TLimiteNaoCadastrados::kLinhas));
    EXPECT_EQ(h.RecordCount(), naoCadastrados + 1000);

    // Told once its minute is over, and only then.
    const std::string contagem = TextoContagemNaoCadastrados(9990, "127.0.0.50");
    EXPECT_EQ(Linhas(log.recebidos, contagem), 0u);
    common::SetClock([agora] { return common::DateTime::FromMs(agora.Ms() + 60'000); });
    EXPECT_TRUE(Ate([&] { return Linhas(log.recebidos, contagem) == 1; },
                    std::chrono::milliseconds(TServidorTerminais::kIntervaloRelatosMs + 2000)));
    EXPECT_EQ(Linhas(log.recebidos, "mensagens de"), 1u);

    // What is counted when communication stops is told then.
    intruso.SendRaw(lote.substr(0, 7 * 20));
    Ate([&] { return le(), respostas == 10020u; });
    servidor.FechaConexoes();
    EXPECT_EQ(Linhas(log.recebidos, TextoContagemNaoCadastrados(10, "127.0.0.50")), 1u);
}

TEST_F(ServidorTest, ListensOnlyOnTheAddressGiven) {
    servidor.FechaConexoes();
    const struct {
        std::string endereco;
        bool em7, em8;
    } casos[] = {
        {"127.0.0.7", true, false},
        {" 127.0.0.8\t", false, true},
        {"", true, true},
        {"0.0.0.0", true, true},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE("'" + c.endereco + "'");
        servidor.btIniciarClick(std::to_string(porta), c.endereco);
        ASSERT_TRUE(servidor.Escutando());
        for (const auto& [destino, aceita] :
             {std::pair{"127.0.0.7", c.em7}, {"127.0.0.8", c.em8}}) {
            SimTerminal t;
            if (aceita) {
                t.Connect(destino, porta, "127.0.0.22", 1000ms);
                EXPECT_EQ(Recebe(t), "$") << destino;
            } else {
                EXPECT_THROW(t.Connect(destino, porta, "127.0.0.22", 1000ms), termsim::SimError)
                    << destino;
            }
        }
        servidor.FechaConexoes();
    }
}

TEST_F(ServidorTest, AnAddressThatIsNotOursRefusesToStartAndSaysWhy) {
    servidor.FechaConexoes();
    legenda.clear();
    const std::string invalido = " n\xE3o \xE9 v\xE1lido: informe um endere\xE7o IP";
    const std::string ausente = " n\xE3o pertence a nenhum adaptador de rede deste computador";
    // Addresses the system would let us bind, where no terminal can connect.
    const std::string ninguem = ", onde nenhum terminal se conecta";
    const struct {
        std::string endereco, texto;
    } casos[] = {
        {"127.0.0.256", invalido},
        {"127.1", invalido},
        {"portaria", invalido},
        {"127.0.0.07", invalido},
        {"::1", invalido},
        {"192.0.2.123", ausente},
        {"127.255.255.255", " \xE9 o endere\xE7o de broadcast da rede 127.0.0.0/8" + ninguem},
        {"127.0.0.0", " \xE9 o endere\xE7o da pr\xF3pria rede 127.0.0.0/8" + ninguem},
        {"255.255.255.255", " \xE9 o endere\xE7o de broadcast" + ninguem},
        {"224.0.0.1", " \xE9 um endere\xE7o de multicast" + ninguem},
        {"240.0.0.1", " \xE9 um endere\xE7o reservado" + ninguem},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.endereco);
        try {
            servidor.btIniciarClick(std::to_string(porta), c.endereco);
            ADD_FAILURE() << "listened";
            servidor.FechaConexoes();
        } catch (const common::Exception& e) {
            EXPECT_EQ(e.Message().rfind("O endere\xE7o de escuta " + c.endereco + c.texto, 0), 0u)
                << e.Message();
        }
        EXPECT_FALSE(servidor.Escutando());
        EXPECT_FALSE(servidor.Sock().Listen());
        EXPECT_EQ(legenda, "");
    }
    EXPECT_THROW(SimTerminal().Connect("127.0.0.1", porta, "127.0.0.22", 300ms), termsim::SimError);
}
