// Modrevo's main window against the module simulator: its controls, the first refresh, the
// "Atualizar" button, the response time from the settings file, the hidden response-time
// window, and a close that comes while a refresh runs.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

#include "ApoioModrevo.h"
#include "manager/shell/uAgenda.h"

using namespace apoio;
using namespace std::chrono_literals;
using common::qt::ToQString;

namespace {

class PrincipalTest : public ModrevoTest {
  protected:
    QToolButton* Botao(const char* nome) const { return Controle<QToolButton>(nome); }
    std::string Painel(int n) const {
        return common::qt::FromQString(
            Controle<QLabel>(n == 0 ? "StatusPanel0" : "StatusPanel1")->text());
    }
    // The receive time-outs of the three endpoints.
    std::vector<int> Tempos() {
        return {janela->UDPClient().ReceiveTimeout(), janela->UDPClientAUX().ReceiveTimeout(),
                janela->UDPSafe().ReceiveTimeout()};
    }
    void Atualiza() {
        const int antes = Consultas();
        QTest::mouseClick(Botao("ToolButton2"), Qt::LeftButton);
        ASSERT_TRUE(AguardaAtualizacoes(antes + 1));
    }
    bool TempoAberto() const { return janela->FrmTempo() && janela->FrmTempo()->isVisible(); }
};

TEST_F(PrincipalTest, HasTheDocumentedControls) {
    IniciaSim({});
    Abre("10.9.8.7");
    EXPECT_EQ(janela->windowTitle(), ToQString("Modrevo 1.5 - Gerenciamento de IP dos M\xF3"
                                               "dulos Ethernet"));
    EXPECT_EQ(janela->minimumSize(), QSize(793, 373));
    EXPECT_EQ(janela->maximumSize(), QSize(793, 373));
    EXPECT_FALSE(janela->windowFlags() & Qt::WindowMaximizeButtonHint);
    const struct {
        const char* nome;
        const char* texto;
    } botoes[] = {{"ToolButton2", "Atualizar"},
                  {"ToolButtonConfigurar", "Configurar"},
                  {"ToolButton5", "Sair"}};
    for (const auto& b : botoes) {
        auto* w = Botao(b.nome);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->isVisible()) << b.nome;
        EXPECT_EQ(w->text().toStdString(), b.texto);
        // "Configurar" must leave the focus on the list the operator used last.
        EXPECT_EQ(w->focusPolicy(), Qt::NoFocus) << b.nome;
    }
    ASSERT_NE(Botao("btnUDPSafe"), nullptr);
    EXPECT_FALSE(Botao("btnUDPSafe")->isVisible());
    for (const char* memo : {"Memo1", "Memo2"}) {
        auto* m = Controle<QPlainTextEdit>(memo);
        ASSERT_NE(m, nullptr);
        EXPECT_FALSE(m->isVisible()) << memo;
    }
    for (int g : {1, 2}) {
        ASSERT_NE(Grade(g), nullptr);
        EXPECT_TRUE(Grade(g)->isVisible());
        EXPECT_EQ(Grade(g)->size(), QSize(777, 113));
    }
    ASSERT_NE(Timer1(), nullptr);
    EXPECT_EQ(Timer1()->interval(), 30000);
    EXPECT_TRUE(Timer1()->isActive());
    EXPECT_EQ(Controle<QLabel>("StatusPanel0")->width(), 200);
    EXPECT_TRUE(Controle<QLabel>("StatusPanel1")->isVisible());
}

// Three modules of each family answering in a known order, the window made with and without
// the computer's address.
TEST_F(PrincipalTest, FirstRefreshListsBothFamiliesLatestReplyFirst) {
    modsim::Modules m;
    auto p = Tibbo("127.0.0.21", "0.36.119.87.8.21", "ABCI", "Vexa gate 1");
    auto q = Tibbo("127.0.0.22", "0.36.119.87.8.22", "ABCM", "Torvane turnstile");
    auto r = Tibbo("127.0.0.23", "0.36.119.87.8.23", "ABCX", "Castrell door");
    p.netmask = "255.255.255.0";
    q.netmask = "255.255.0.0";
    r.netmask = "255.0.0.0";
    q.gateway = "127.0.0.2";
    r.destino = "127.0.0.3";
    q.behaviours["X"].delay = 40ms;
    r.behaviours["X"].delay = 80ms;
    auto b1 = Brivant("127.0.0.31", "Gate 1", "00-04-A3-11-22-31");
    auto b2 = Brivant("127.0.0.32", "Gate 2", "00-04-A3-11-22-32");
    b2.form = modsim::BrivantForm::Lines;
    b2.behaviours["query"].delay = 40ms;
    m.tibbo = {p, q, r};
    m.brivant = {b1, b2};
    IniciaSim(m);

    const struct {
        std::string ipComputador;
        std::string painel;
    } casos[] = {
        {"10.9.8.7", " Endere\xE7o IP deste Computador: 10.9.8.7"},
        {"", ""},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.ipComputador);
        sim->ClearLog();
        Abre(c.ipComputador);
        auto* g1 = Grade(1);
        EXPECT_EQ(Coluna(g1, 1),
                  (std::vector<std::string>{"127.0.0.23", "127.0.0.22", "127.0.0.21"}));
        EXPECT_EQ(Coluna(g1, 0),
                  (std::vector<std::string>{"N\xE3o Obitid", "Desativado", "Ativado"}));
        EXPECT_EQ(Coluna(g1, 2),
                  (std::vector<std::string>{"255.0.0.0", "255.255.0.0", "255.255.255.0"}));
        EXPECT_EQ(Coluna(g1, 3), (std::vector<std::string>{"127.0.0.1", "127.0.0.2", "127.0.0.1"}));
        EXPECT_EQ(Coluna(g1, 4),
                  (std::vector<std::string>{"Owner - Castrell door", "Owner - Torvane turnstile",
                                            "Owner - Vexa gate 1"}));
        EXPECT_EQ(Coluna(g1, 5), (std::vector<std::string>{"0.36.119.87.8.23", "0.36.119.87.8.22",
                                                           "0.36.119.87.8.21"}));
        EXPECT_EQ(Coluna(g1, 6), (std::vector<std::string>{"127.0.0.3", "127.0.0.1", "127.0.0.1"}));
        auto* g2 = Grade(2);
        EXPECT_EQ(Coluna(g2, 0), (std::vector<std::string>{"127.0.0.32", "127.0.0.31"}));
        EXPECT_EQ(Coluna(g2, 1), (std::vector<std::string>{"Gate 2", "Gate 1"}));
        EXPECT_EQ(Coluna(g2, 2),
                  (std::vector<std::string>{"00-04-A3-11-22-32", "00-04-A3-11-22-31"}));

        // The reads go down the list: the latest reply first, four commands each.
        std::vector<Comando> leituras;
        for (const auto& cmd : Comandos())
            if (cmd.texto != "X") leituras.push_back(cmd);
        std::vector<Comando> esperadas;
        for (const char* ip : {"127.0.0.23", "127.0.0.22", "127.0.0.21"})
            for (const char* t : {"L581947", "GNM", "GGI", "GDI"}) esperadas.push_back({ip, t});
        EXPECT_EQ(leituras, esperadas);

        EXPECT_EQ(Painel(0), " 5 equipamento(s) encotrado(s)");
        EXPECT_EQ(Painel(1), c.painel);
        EXPECT_EQ(janela->IPComputador(), c.ipComputador.empty() ? "0.0.0.0" : c.ipComputador);

        // Once only: not again after the fallback for a window never activated, nor when the
        // window becomes active again.
        Espera(700);
        QWidget outra;
        outra.show();
        outra.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&outra));
        janela->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(janela.get()));
        Espera(100);
        EXPECT_EQ(Descobertas(), 1);
        EXPECT_EQ(Consultas(), 1);
        janela.reset();
    }
}

// "Atualizar" stands the timer still around its own refresh; the first refresh leaves it alone.
TEST_F(PrincipalTest, AtualizarStopsTimer1AroundItsRefresh) {
    IniciaSim(modsim::DefaultModules());
    // Seen from inside the first refresh, which the window's activation starts.
    std::vector<bool> vistos;
    Quando([this] { return janela && janela->Atualizacao().EmAtualizacao(); },
           [this, &vistos] { vistos.push_back(Timer1()->isActive()); });
    Abre("127.0.0.1");
    ASSERT_EQ(vistos.size(), 1u);
    EXPECT_TRUE(vistos[0]) << "the first refresh stopped Timer1";

    Quando([this] { return janela->Atualizacao().EmAtualizacao(); },
           [this, &vistos] { vistos.push_back(Timer1()->isActive()); });
    sim->Modify([](modsim::Modules& m) { m.tibbo.pop_back(); });
    Atualiza();
    ASSERT_EQ(vistos.size(), 2u);
    EXPECT_FALSE(vistos[1]) << "Timer1 ran during the refresh of \"Atualizar\"";
    EXPECT_TRUE(Timer1()->isActive());
    EXPECT_EQ(Timer1()->interval(), 30000);
    // The refresh replaced the list.
    EXPECT_EQ(Coluna(Grade(1), 1), std::vector<std::string>{"127.0.0.5"});
    EXPECT_EQ(Painel(0), " 3 equipamento(s) encotrado(s)");
}

// Every refresh loads the stored response time anew and puts it on all three endpoints.
TEST_F(PrincipalTest, EveryRefreshReloadsTheResponseTime) {
    IniciaSim(modsim::DefaultModules());
    Abre("127.0.0.1");
    EXPECT_EQ(Tempos(), (std::vector<int>{kTempo, kTempo, kTempo}));
    const struct {
        std::string arquivo;
        int esperado;
    } casos[] = {
        {Preferencia("120"), 120},
        {"[tfrmtempo]\r\nformversion=0\r\nedittempo_text=\" 110 \"\r\n", 110},
        // The key gone: the text loaded last stays.
        {"[TfrmTempo]\r\nFormVersion=0\r\n", 110},
        {Preferencia("130"), 130},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.arquivo);
        Grava(Preferencias(), c.arquivo);
        Atualiza();
        EXPECT_EQ(Tempos(), (std::vector<int>{c.esperado, c.esperado, c.esperado}));
        // Everything was found within that time.
        EXPECT_EQ(Grade(1)->model()->rowCount(), 2);
        EXPECT_EQ(Grade(2)->model()->rowCount(), 2);
    }
}

// Without a settings file a receive waits 2000 ms, and the refresh writes no file.
TEST_F(PrincipalTest, WithoutSettingsFileWaits2000AndCreatesNone) {
    std::filesystem::remove(Preferencias());
    IniciaSim(modsim::DefaultModules());
    janela = std::make_unique<modrevo::TFormPrincipal>("127.0.0.1");
    janela->show();
    QElapsedTimer relogio;
    relogio.start();
    ASSERT_TRUE(
        Ate([this] { return Consultas() == 1 && !janela->Atualizacao().EmAtualizacao(); }, 10000));
    // Two collections that end in silence: the modules' and the second family's.
    EXPECT_GE(relogio.elapsed(), 4000);
    EXPECT_EQ(Tempos(), (std::vector<int>{2000, 2000, 2000}));
    EXPECT_FALSE(std::filesystem::exists(Preferencias()));
    EXPECT_TRUE(std::filesystem::is_empty(configuracao));
}

// Only Ctrl+Shift+Alt+T opens the response-time window, whichever control has the focus.
TEST_F(PrincipalTest, OnlyCtrlShiftAltTOpensTheResponseTimeWindow) {
    IniciaSim({});
    Abre("127.0.0.1");
    const auto todos = Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier;
    const struct {
        const char* nome;
        Qt::Key tecla;
        Qt::KeyboardModifiers mods;
        bool naGrade;
        bool abre;
    } casos[] = {
        {"Ctrl+Shift+Alt+T", Qt::Key_T, todos, false, true},
        {"Ctrl+Shift+Alt+T on a list", Qt::Key_T, todos, true, true},
        {"Ctrl+Shift+T", Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier, false, false},
        {"Ctrl+Alt+T", Qt::Key_T, Qt::ControlModifier | Qt::AltModifier, false, false},
        {"Shift+Alt+T", Qt::Key_T, Qt::ShiftModifier | Qt::AltModifier, false, false},
        {"Ctrl+Shift+Alt+Meta+T", Qt::Key_T, todos | Qt::MetaModifier, false, false},
        {"Ctrl+Shift+Alt+R", Qt::Key_R, todos, false, false},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        std::vector<std::string> vistos;
        QuandoTempo([&vistos](modrevo::TfrmTempo& t) {
            vistos.push_back(common::qt::FromQString(t.EditTempo()->text()));
            t.close();
        });
        QWidget* alvo = janela.get();
        if (c.naGrade) {
            Grade(1)->setFocus();
            alvo = Grade(1);
        }
        QTest::keyClick(alvo, c.tecla, c.mods);
        Espera(150);
        Desarma();
        EXPECT_EQ(vistos.size(), c.abre ? 1u : 0u);
        if (!vistos.empty()) {
            EXPECT_EQ(vistos[0], std::to_string(kTempo));
        }
        EXPECT_FALSE(TempoAberto());
    }
}

// The window shows the stored value, ignores Escape, keeps what is being typed through a
// refresh (which uses the stored value), and stores the trimmed text when it closes; the next
// refresh and the next run of the program wait that long.
TEST_F(PrincipalTest, ResponseTimeWindowStoresTheTrimmedTextOnClose) {
    IniciaSim(modsim::DefaultModules());
    Abre("127.0.0.1");
    bool feito = false;
    QuandoTempo([&](modrevo::TfrmTempo& t) {
        QLineEdit* campo = t.EditTempo();
        EXPECT_EQ(campo->text(), QString::number(kTempo));
        EXPECT_EQ(t.windowTitle(), QStringLiteral("Tempo de Resposta"));
        EXPECT_TRUE(t.isModal());
        QTest::keyClick(campo, Qt::Key_Escape);
        EXPECT_TRUE(t.isVisible()) << "Escape closed the window";
        campo->selectAll();
        QTest::keyClicks(campo, " 130 ");
        // The timer keeps refreshing while the window is open; a refresh here stands for it.
        const int antes = Consultas();
        Botao("ToolButton2")->click();
        EXPECT_EQ(Consultas(), antes + 1);
        EXPECT_EQ(campo->text(), QStringLiteral(" 130 "));
        EXPECT_EQ(Tempos(), (std::vector<int>{kTempo, kTempo, kTempo}));
        EXPECT_EQ(Le(Preferencias()), Preferencia(std::to_string(kTempo)));
        t.close();
        feito = true;
    });
    QTest::keyClick(janela.get(), Qt::Key_T,
                    Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    ASSERT_TRUE(Ate([&] { return feito; }));
    EXPECT_FALSE(TempoAberto());
    const std::string arquivo = Le(Preferencias());
    const auto versao = arquivo.find("FormVersion=0\r\n");
    const auto tempo = arquivo.find("EditTempo_Text=130\r\n");
    EXPECT_NE(arquivo.find("[TfrmTempo]"), std::string::npos) << arquivo;
    EXPECT_NE(versao, std::string::npos) << arquivo;
    EXPECT_NE(tempo, std::string::npos) << arquivo;
    EXPECT_LT(versao, tempo) << arquivo;

    Atualiza();
    EXPECT_EQ(Tempos(), (std::vector<int>{130, 130, 130}));

    // The program started again.
    janela.reset();
    Abre("127.0.0.1");
    EXPECT_EQ(Tempos(), (std::vector<int>{130, 130, 130}));
}

// A settings file that cannot be written: the operator is told, and the window closes.
TEST_F(PrincipalTest, ResponseTimeWindowClosesWhenTheFileCannotBeWritten) {
    falhasEsperadas = true;
    IniciaSim({});
    Abre("127.0.0.1");
    // A folder below a plain file can be made by nobody, root included.
    const auto arquivo = pasta / "arquivo";
    Grava(arquivo, "x");
    setenv("XDG_CONFIG_HOME", arquivo.c_str(), 1);
    bool feito = false;
    QuandoTempo([&](modrevo::TfrmTempo& t) {
        QTest::keyClicks(t.EditTempo(), "9");
        t.close();
        feito = true;
    });
    QTest::keyClick(janela.get(), Qt::Key_T,
                    Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    ASSERT_TRUE(Ate([&] { return feito; }));
    EXPECT_FALSE(TempoAberto());
    const auto falhas = dialogos.Textos("Failure");
    ASSERT_EQ(falhas.size(), 1u);
    EXPECT_EQ(falhas[0].rfind("Unable to write to " + (arquivo / "Modrevo.INI").string(), 0), 0u)
        << falhas[0];
    EXPECT_EQ(Le(arquivo), "x");
}

// A gate behind a router (it answers only what is sent to its own address) and two modules
// on one address: the twins are marked and counted; the gate is listed once it is in the book.
TEST_F(PrincipalTest, AddressBookFindsTheRoutedGateAndTwinsAreMarked) {
    IniciaSim(modsim::BookDemoModules());
    Abre("127.0.0.1");
    EXPECT_EQ(Coluna(Grade(1), 1), (std::vector<std::string>{"127.0.0.7", "127.0.0.7"}));
    EXPECT_TRUE(janela->LinhaMarcada(0));
    EXPECT_TRUE(janela->LinhaMarcada(1));
    auto* duplicados = Controle<QLabel>("StatusPanelDuplicados");
    EXPECT_TRUE(duplicados->isVisible());
    EXPECT_EQ(common::qt::FromQString(duplicados->text()),
              " 2 m\xF3"
              "dulos com o mesmo IP");

    auto* botao = Botao("ToolButtonAgenda");
    EXPECT_EQ(common::qt::FromQString(botao->text()), "Endere\xE7os");
    const int antes = Consultas();
    Quando(
        [this] {
            return janela->FormAgenda() && janela->FormAgenda()->isVisible() &&
                   janela->FormAgenda()->isActiveWindow();
        },
        [this] {
            auto& d = *janela->FormAgenda();
            auto* campo = d.findChild<QLineEdit*>(QStringLiteral("edEndereco"));
            auto* adicionar = d.findChild<QPushButton*>(QStringLiteral("btAdicionar"));
            QTest::keyClicks(campo, "127.0.1.0/16");
            QTest::mouseClick(adicionar, Qt::LeftButton);
            EXPECT_EQ(
                dialogos.Textos("Notice"),
                (std::vector<std::string>{"O prefixo vai de /22 (1024 endere\xE7os) a /32."}));
            campo->clear();
            QTest::keyClicks(campo, "127.0.1.0/24");
            QTest::keyClick(campo, Qt::Key_Return);  // adds; never closes the window
            EXPECT_TRUE(d.isVisible());
            QTest::keyClicks(campo, "10.0.0.1");
            QTest::mouseClick(adicionar, Qt::LeftButton);
            EXPECT_EQ(d.Agenda().size(), 2u);
            // The entry just added is the one selected, and goes.
            QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("btRemover")),
                              Qt::LeftButton);
            ASSERT_EQ(d.Agenda().size(), 1u);
            EXPECT_EQ(d.Agenda()[0].texto, "127.0.1.0/24");
            QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("btOK")), Qt::LeftButton);
        });
    QTest::mouseClick(botao, Qt::LeftButton);
    ASSERT_TRUE(AguardaAtualizacoes(antes + 1));
    Desarma();
    EXPECT_NE(Le(Preferencias()).find("[AgendaEnderecos]\r\nItens=1\r\nItem1=127.0.1.0/24\r\n"),
              std::string::npos)
        << Le(Preferencias());
    EXPECT_EQ(Linha(1, "127.0.1.5"), 0);  // found last, listed first
    EXPECT_EQ(Grade(1)->model()->rowCount(), 3);
    EXPECT_FALSE(janela->LinhaMarcada(0));
    int unicast = 0;
    for (const auto& c : Comandos()) unicast += c.texto == "X" && c.para != "255.255.255.255";
    EXPECT_EQ(unicast, 254);
}

// Closing while a refresh runs hides the window at once; the program ends once the refresh
// has finished, its second-family query included, and no tick starts another meanwhile.
TEST_F(PrincipalTest, CloseDuringARefreshEndsAfterIt) {
    for (const bool doTique : {false, true}) {
        SCOPED_TRACE(doTique ? "refresh of a tick, next tick due" : "Atualizar");
        auto m = modsim::DefaultModules();
        m.tibbo[0].behaviours["GNM"].delay = 60ms;
        IniciaSim(m);
        Abre("127.0.0.1");
        QSignalSpy finalizado(janela.get(), &modrevo::TFormPrincipal::finalizado);
        sim->ClearLog();
        bool visivel = true;
        int fimsDurante = -1;
        bool consultaAntes = true;
        bool timerDepois = true;
        Quando([this] { return janela->Atualizacao().EmAtualizacao() && !Comandos().empty(); },
               [&] {
                   janela->close();
                   visivel = janela->isVisible();
                   fimsDurante = static_cast<int>(finalizado.count());
                   consultaAntes = Consultas() > 0;
                   timerDepois = Timer1()->isActive();
               });
        if (doTique)
            Timer1()->start(5);  // ticks keep coming all through the refresh
        else
            QTest::mouseClick(Controle<QToolButton>("ToolButton2"), Qt::LeftButton);
        ASSERT_TRUE(Ate([&] { return finalizado.count() > 0; }));
        Espera(50);
        Desarma();
        EXPECT_FALSE(visivel);
        EXPECT_EQ(fimsDurante, 0);
        EXPECT_FALSE(consultaAntes);
        EXPECT_FALSE(timerDepois) << "a close pending must stop Timer1";
        EXPECT_EQ(finalizado.count(), 1);
        EXPECT_EQ(Descobertas(), 1);
        EXPECT_EQ(Consultas(), 1);
        EXPECT_EQ(Grade(1)->model()->rowCount(), 2);
        EXPECT_EQ(Grade(2)->model()->rowCount(), 2);
        EXPECT_FALSE(Timer1()->isActive());
        janela.reset();
    }
}

}  // namespace
