// A first-family module configured through the real dialog against the module simulator: the
// commands it receives, where they go, the module's state after "E", the lists after the
// closing refresh, Timer1 around it all; and the second list's page opening.
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

#include "ApoioModrevo.h"
#include "manager/shell/IPEdit.h"

using namespace apoio;
using namespace std::chrono_literals;
using modrevo::TFormConfigura;
using modrevo::TIPEdit;

namespace {

const std::string kIndisponivel = "Op\xE7\xE3o n\xE3o dispon\xEDvel para este equipamento.";
const std::string kFaixa =
    "A Faixa de ip do m\xF3"
    "dulo est\xE1 diferente do IP do\rcomputador. Modifique o IP da placa de rede.";

// How the operator starts it: a double click on the row, or a click on the row and then
// "Configurar".
enum class Via { DuploClique, Configurar };

modsim::TibboModule Vexa() { return Tibbo("127.0.0.5", "0.36.119.87.8.24", "ABCI", "Vexa gate 1"); }
modsim::TibboModule Torvane() {
    auto m = Tibbo("127.0.0.6", "0.36.119.87.8.25", "ABCM", "Torvane turnstile 2");
    m.destino = "127.0.0.2";
    return m;
}

modsim::Modules SoTibbo(std::vector<modsim::TibboModule> modulos) {
    modsim::Modules m;
    m.tibbo = std::move(modulos);
    return m;
}

Comando Para(const std::string& ip, const std::string& texto) { return {ip, texto}; }

class ConfiguraTest : public ModrevoTest {
  public:
    TIPEdit* Campo(const char* nome) const { return NoDialogo<TIPEdit>(nome); }
    QComboBox* DHCP() const { return NoDialogo<QComboBox>("cbDHCP"); }
    QLabel* Rotulo(const std::string& texto) const {
        for (auto* l : janela->FormConfigura()->findChildren<QLabel*>())
            if (l->text() == common::qt::ToQString(texto)) return l;
        ADD_FAILURE() << "no label " << texto;
        return nullptr;
    }

  protected:
    // Starts the configuration of the listed module at `ip`; `acao` works the dialog and must
    // close it. Returns once all of it, closing refresh included, has run.
    void Configura(const std::string& ip, Via via, std::function<void(TFormConfigura&)> acao) {
        sim->ClearLog();
        abriu = false;
        timerDurante = true;
        QuandoConfigura([this, acao](TFormConfigura& d) {
            abriu = true;
            timerDurante = Timer1()->isActive();
            acao(d);
            if (d.isVisible()) {
                ADD_FAILURE() << "the dialog was left open";
                d.reject();
            }
        });
        if (via == Via::DuploClique) {
            DuploClique(1, ip);
        } else {
            Clica(1, ip);
            EXPECT_TRUE(Grade(1)->hasFocus());
            QTest::mouseClick(Controle<QToolButton>("ToolButtonConfigurar"), Qt::LeftButton);
        }
        Espera(20);
        Desarma();
        EXPECT_FALSE(janela->FormConfigura()->isVisible());
        EXPECT_TRUE(Timer1()->isActive()) << "Timer1 was not started again";
    }

    static void Ok(TFormConfigura& d) {
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("btOK")), Qt::LeftButton);
    }

    bool abriu = false;
    bool timerDurante = true;
};

// The module as the list shows it after the closing refresh.
struct Listado {
    std::string ip, dhcp, netmask, gateway, destino;
};

TEST_F(ConfiguraTest, OkSendsWhatChangedInItsOrderAndTheListsFollow) {
    const struct Caso {
        const char* nome;
        modsim::TibboModule modulo;
        Via via;
        std::function<void(ConfiguraTest&, TFormConfigura&)> acao;
        std::vector<Comando> esperados;
        Listado depois;
    } casos[] = {
        {"only DHCP, to Ativado",
         Torvane(),
         Via::DuploClique,
         [](ConfiguraTest& t, TFormConfigura&) { QTest::keyClick(t.DHCP(), Qt::Key_Up); },
         {Para("127.0.0.6", "L581947"), Para("127.0.0.6", "SDH1"), Para("127.0.0.6", "E")},
         {"127.0.0.6", "Ativado", "255.255.255.0", "127.0.0.1", "127.0.0.2"}},
        {"IP and netmask",
         Torvane(),
         Via::Configurar,
         [](ConfiguraTest& t, TFormConfigura&) {
             t.Campo("IPEdit")->SetText("127.0.0.7");
             t.Campo("IPEditMascara")->SetText("255.255.0.0");
         },
         {Para("255.255.255.255", "A0.36.119.87.8.25/581947/127.0.0.7"),
          Para("127.0.0.7", "L581947"), Para("127.0.0.7", "SNM255.255.0.0"),
          Para("127.0.0.7", "E")},
         {"127.0.0.7", "Desativado", "255.255.0.0", "127.0.0.1", "127.0.0.2"}},
        {"everything of a Vexa module",
         Vexa(),
         Via::DuploClique,
         [](ConfiguraTest& t, TFormConfigura&) {
             QTest::keyClick(t.DHCP(), Qt::Key_Down);
             t.Campo("IPEdit")->SetText("127.0.0.8");
             t.Campo("IPEditMascara")->SetText("255.255.0.0");
             t.Campo("IPEditGateway")->SetText("127.0.0.9");
             t.Campo("IPEditIPComp")->SetText("127.0.0.4");
         },
         {Para("255.255.255.255", "A0.36.119.87.8.24/581947/127.0.0.8"),
          Para("127.0.0.8", "L581947"), Para("127.0.0.8", "SNM255.255.0.0"),
          Para("127.0.0.8", "SGI127.0.0.9"), Para("127.0.0.8", "SDI127.0.0.4"),
          Para("127.0.0.8", "SDH0"), Para("127.0.0.8", "E")},
         {"127.0.0.8", "Desativado", "255.255.0.0", "127.0.0.9", "127.0.0.4"}},
        {"nothing changed, Torvane",
         Torvane(),
         Via::Configurar,
         {},
         {Para("127.0.0.6", "L581947"), Para("127.0.0.6", "E")},
         {"127.0.0.6", "Desativado", "255.255.255.0", "127.0.0.1", "127.0.0.2"}},
        {"nothing changed, Vexa",
         Vexa(),
         Via::DuploClique,
         {},
         {Para("127.0.0.5", "L581947"), Para("127.0.0.5", "E")},
         {"127.0.0.5", "Ativado", "255.255.255.0", "127.0.0.1", "127.0.0.1"}},
        // What was never read is sent only when the operator changed it.
        {"DHCP not obtained",
         Tibbo("127.0.0.6", "0.36.119.87.8.26", "ABCX", "Castrell door"),
         Via::DuploClique,
         {},
         {Para("127.0.0.6", "L581947"), Para("127.0.0.6", "E")},
         {"127.0.0.6", "N\xE3o Obitid", "255.255.255.0", "127.0.0.1", "127.0.0.1"}},
        {"DHCP not obtained, Desativado picked again",
         Tibbo("127.0.0.6", "0.36.119.87.8.26", "ABCX", "Castrell door"),
         Via::DuploClique,
         [](ConfiguraTest& t, TFormConfigura&) {
             QTest::keyClick(t.DHCP(), Qt::Key_Up);
             QTest::keyClick(t.DHCP(), Qt::Key_Down);
         },
         {Para("127.0.0.6", "L581947"), Para("127.0.0.6", "E")},
         {"127.0.0.6", "N\xE3o Obitid", "255.255.255.0", "127.0.0.1", "127.0.0.1"}},
        {"DHCP not obtained, turned on",
         Tibbo("127.0.0.6", "0.36.119.87.8.26", "ABCX", "Castrell door"),
         Via::DuploClique,
         [](ConfiguraTest& t, TFormConfigura&) { QTest::keyClick(t.DHCP(), Qt::Key_Up); },
         {Para("127.0.0.6", "L581947"), Para("127.0.0.6", "SDH1"), Para("127.0.0.6", "E")},
         {"127.0.0.6", "Ativado", "255.255.255.0", "127.0.0.1", "127.0.0.1"}},
        {"netmask with leading zeros",
         [] {
             auto m = Torvane();
             m.netmask = "255.255.255.000";
             return m;
         }(),
         Via::DuploClique,
         {},
         {Para("127.0.0.6", "L581947"), Para("127.0.0.6", "SNM255.255.255.0"),
          Para("127.0.0.6", "E")},
         {"127.0.0.6", "Desativado", "255.255.255.0", "127.0.0.1", "127.0.0.2"}},
        {"Vexa destination with leading zeros",
         [] {
             auto m = Vexa();
             m.destino = "127.000.000.003";
             return m;
         }(),
         Via::DuploClique,
         {},
         {Para("127.0.0.5", "L581947"), Para("127.0.0.5", "SDI127.0.0.3"), Para("127.0.0.5", "E")},
         {"127.0.0.5", "Ativado", "255.255.255.0", "127.0.0.1", "127.0.0.3"}},
        {"no destination for a module that is not Vexa",
         [] {
             auto m = Torvane();
             m.destino = "127.000.000.003";
             return m;
         }(),
         Via::DuploClique,
         {},
         {Para("127.0.0.6", "L581947"), Para("127.0.0.6", "E")},
         {"127.0.0.6", "Desativado", "255.255.255.0", "127.0.0.1", "127.000.000.003"}},
        {"netmask never read",
         [] {
             auto m = Torvane();
             m.behaviours["GNM"].silent = true;
             return m;
         }(),
         Via::DuploClique,
         {},
         {Para("127.0.0.6", "L581947"), Para("127.0.0.6", "E")},
         {"127.0.0.6", "Desativado", "", "127.0.0.1", "127.0.0.2"}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        IniciaSim(SoTibbo({c.modulo}));
        Abre("127.0.0.1");
        Configura(c.modulo.ip, c.via, [&](TFormConfigura& d) {
            if (c.acao) c.acao(*this, d);
            Ok(d);
        });
        EXPECT_TRUE(abriu);
        EXPECT_FALSE(timerDurante) << "Timer1 ran during the configuration";
        EXPECT_EQ(ComandosDaConfiguracao(), c.esperados);
        // "E" applied everything staged.
        const auto agora = sim->Snapshot().tibbo.at(0);
        EXPECT_EQ(agora.ip, c.depois.ip);
        EXPECT_FALSE(agora.staged.netmask || agora.staged.gateway || agora.staged.destino ||
                     agora.staged.dhcp);
        // The closing refresh read the module again, at its address of now.
        EXPECT_EQ(Descobertas(), 1);
        auto* g = Grade(1);
        ASSERT_EQ(g->model()->rowCount(), 1);
        const Listado listado{Celula(g, 0, 1), Celula(g, 0, 0), Celula(g, 0, 2), Celula(g, 0, 3),
                              Celula(g, 0, 6)};
        EXPECT_EQ(listado.ip, c.depois.ip);
        EXPECT_EQ(listado.dhcp, c.depois.dhcp);
        EXPECT_EQ(listado.netmask, c.depois.netmask);
        EXPECT_EQ(listado.gateway, c.depois.gateway);
        EXPECT_EQ(listado.destino, c.depois.destino);
        EXPECT_TRUE(dialogos.chamadas.empty());
        janela.reset();
    }
}

// The dialog is filled from the row picked, every time; the DHCP choice greys the address
// fields; every way of cancelling sends nothing and starts Timer1 again.
TEST_F(ConfiguraTest, DialogShowsThePickedRowAndCancellingSendsNothing) {
    IniciaSim(SoTibbo(
        {Vexa(), Torvane(), Tibbo("127.0.0.7", "0.36.119.87.8.27", "AB", "Castrell door")}));
    Abre("127.0.0.1");
    const struct {
        std::string ip;
        const char* dhcp;
        std::string mascara, gateway, ipComp;
        bool vexa;
        const char* cancela;
    } casos[] = {
        {"127.0.0.5", "Ativado", "255.255.255.0", "127.0.0.1", "127.0.0.1", true, "Cancelar"},
        {"127.0.0.6", "Desativado", "255.255.255.0", "127.0.0.1", "0.0.0.0", false, "close"},
        {"127.0.0.7", "Desativado", "255.255.255.0", "127.0.0.1", "0.0.0.0", false, "Escape"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.ip);
        Configura(c.ip, Via::DuploClique, [&](TFormConfigura& d) {
            EXPECT_EQ(Campo("IPEdit")->Text(), c.ip);
            EXPECT_EQ(Campo("IPEditMascara")->Text(), c.mascara);
            EXPECT_EQ(Campo("IPEditGateway")->Text(), c.gateway);
            EXPECT_EQ(Campo("IPEditIPComp")->Text(), c.ipComp);
            EXPECT_EQ(DHCP()->currentText().toStdString(), c.dhcp);
            auto* comp = Campo("IPEditIPComp");
            const auto vexa = [&](const char* quando) {
                EXPECT_EQ(comp->IsEnabled(), c.vexa) << quando;
                EXPECT_EQ(comp->Octeto(0)->isEnabled(), c.vexa) << quando;
                EXPECT_EQ(Rotulo("Endere\xE7o IP do Computador")->isEnabled(), c.vexa) << quando;
                EXPECT_EQ(NoDialogo<QToolButton>("SpeedButton1")->isEnabled(), c.vexa) << quando;
            };
            const auto enderecos = [&](bool habilitados, const char* quando) {
                for (const char* nome : {"IPEdit", "IPEditMascara", "IPEditGateway"}) {
                    EXPECT_EQ(Campo(nome)->IsEnabled(), habilitados) << nome << " " << quando;
                    EXPECT_EQ(Campo(nome)->Octeto(3)->isEnabled(), habilitados)
                        << nome << " " << quando;
                }
                for (const char* rotulo : {"Endere\xE7o IP:", "M\xE1scara de Rede", "Gateway"})
                    EXPECT_EQ(Rotulo(rotulo)->isEnabled(), habilitados) << rotulo << " " << quando;
            };
            enderecos(std::string(c.dhcp) == "Desativado", "as filled");
            vexa("as filled");
            QTest::keyClick(DHCP(), Qt::Key_Up);
            EXPECT_EQ(DHCP()->currentText(), QStringLiteral("Ativado"));
            enderecos(false, "after choosing Ativado");
            vexa("after choosing Ativado");
            QTest::keyClick(DHCP(), Qt::Key_Down);
            EXPECT_EQ(DHCP()->currentText(), QStringLiteral("Desativado"));
            enderecos(true, "after choosing Desativado");
            vexa("after choosing Desativado");
            // Edits that are then thrown away.
            Campo("IPEditGateway")->SetText("127.0.0.99");
            const std::string cancela = c.cancela;
            if (cancela == "Cancelar")
                QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("btCancelar")),
                                  Qt::LeftButton);
            else if (cancela == "close")
                d.close();
            else
                QTest::keyClick(Campo("IPEdit")->Octeto(1), Qt::Key_Escape);
        });
        EXPECT_TRUE(abriu);
        EXPECT_FALSE(timerDurante);
        EXPECT_TRUE(sim->Log().empty()) << "sent: " << ::testing::PrintToString(Comandos());
    }
    EXPECT_TRUE(dialogos.chamadas.empty());
}

// Enter confirms nothing, and OK is refused while an octet is empty; OK then works once it
// is filled.
TEST_F(ConfiguraTest, EnterAndAnEmptyOctetDoNotConfirm) {
    IniciaSim(SoTibbo({Torvane()}));
    Abre("127.0.0.1");
    Configura("127.0.0.6", Via::DuploClique, [&](TFormConfigura& d) {
        const struct {
            const char* nome;
            QWidget* alvo;
        } focos[] = {{"cbDHCP", DHCP()},
                     {"IPEdit", Campo("IPEdit")->Octeto(0)},
                     {"IPEditGateway", Campo("IPEditGateway")->Octeto(3)}};
        for (const auto& f : focos) {
            f.alvo->setFocus();
            QTest::keyClick(f.alvo, Qt::Key_Return);
            QTest::keyClick(f.alvo, Qt::Key_Enter);
            EXPECT_TRUE(d.isVisible()) << "Enter on " << f.nome;
        }
        auto* vazio = Campo("IPEditMascara")->Octeto(2);
        vazio->setText(QString());
        DHCP()->setFocus();
        Ok(d);
        EXPECT_TRUE(d.isVisible()) << "OK with an empty octet";
        EXPECT_EQ(QApplication::focusWidget(), vazio);
        // The operator is told why.
        EXPECT_EQ(dialogos.Textos("Notice"),
                  (std::vector<std::string>{"M\xE1scara de Rede: endere\xE7o incompleto. "
                                            "Preencha os quatro n\xFAmeros."}));
        QTest::keyClicks(vazio, "0");
        // An empty octet in a greyed field blocks nothing: that field is not sent.
        Campo("IPEditGateway")->Octeto(1)->setText(QString());
        QTest::keyClick(DHCP(), Qt::Key_Up);
        dialogos.chamadas.clear();
        Ok(d);
    });
    EXPECT_TRUE(abriu);
    EXPECT_EQ(ComandosDaConfiguracao(),
              (std::vector<Comando>{Para("127.0.0.6", "L581947"), Para("127.0.0.6", "SDH1"),
                                    Para("127.0.0.6", "E")}));
    EXPECT_TRUE(dialogos.chamadas.empty());
}

TEST_F(ConfiguraTest, OkAsksBeforeTakingAnotherModulesAddress) {
    IniciaSim(SoTibbo({Vexa(), Torvane()}));
    Abre("127.0.0.1");
    dialogos.respostaPergunta = false;
    Configura("127.0.0.6", Via::DuploClique, [&](TFormConfigura& d) {
        Campo("IPEdit")->SetText("127.0.0.5");
        Ok(d);
        EXPECT_TRUE(d.isVisible()) << "No keeps the dialog";
        EXPECT_EQ(dialogos.Textos("Question"),
                  (std::vector<std::string>{modrevo::TextoEnderecoEmUso("127.0.0.5")}));
        EXPECT_EQ(QApplication::focusWidget(), Campo("IPEdit")->Octeto(3));
        Campo("IPEdit")->SetText("127.0.0.9");
        dialogos.chamadas.clear();
        Ok(d);
    });
    EXPECT_TRUE(dialogos.chamadas.empty());  // a free address asks nothing
    EXPECT_EQ(ComandosDaConfiguracao().front(),
              Para("255.255.255.255", "A0.36.119.87.8.25/581947/127.0.0.9"));
}

// A module that only the address book finds: OK warns before moving it where the book does not
// search, and its new address goes last, by unicast, after its other settings.
TEST_F(ConfiguraTest, RoutedModuleWarnsOutsideTheBookAndMovesLast) {
    IniciaSim(SoTibbo({modsim::BookDemoModules().tibbo.front()}));  // routed, 127.0.1.5
    Grava(Preferencias(), Preferencia(std::to_string(kTempo)) +
                              "[AgendaEnderecos]\r\nItens=1\r\nItem1=127.0.1.4-127.0.1.6\r\n");
    Abre("127.0.0.1");
    dialogos.respostaPergunta = false;
    Configura("127.0.1.5", Via::DuploClique, [&](TFormConfigura& d) {
        DHCP()->setCurrentIndex(1);
        d.cbDHCPChange();
        Campo("IPEdit")->SetText("127.0.1.9");
        Ok(d);
        EXPECT_TRUE(d.isVisible()) << "No keeps the dialog";
        EXPECT_EQ(dialogos.Textos("Question"),
                  (std::vector<std::string>{modrevo::TextoForaDaAgenda("127.0.1.9")}));
        Campo("IPEdit")->SetText("127.0.1.6");
        Campo("IPEditGateway")->SetText("127.0.1.254");
        dialogos.chamadas.clear();
        Ok(d);
    });
    EXPECT_TRUE(dialogos.chamadas.empty());  // inside the book: nothing to ask
    EXPECT_EQ(ComandosDaConfiguracao(),
              (std::vector<Comando>{Para("127.0.1.5", "L581947"),
                                    Para("127.0.1.5", "SGI127.0.1.254"), Para("127.0.1.5", "SDH0"),
                                    Para("127.0.1.5", "A0.36.119.87.9.5/581947/127.0.1.6"),
                                    Para("127.0.1.6", "E")}));
    EXPECT_EQ(sim->Snapshot().tibbo[0].ip, "127.0.1.6");
}

// A module whose values were not read, configured after one whose values were: the dialog
// shows nothing of the first, and only what the operator changed goes out.
TEST_F(ConfiguraTest, NothingOfThePreviousModuleIsSent) {
    auto naoLido = Tibbo("127.0.0.7", "0.36.119.87.8.27", "AB", "Vexa door");
    for (const char* leitura : {"GNM", "GGI", "GDI"}) naoLido.behaviours[leitura].deny = true;
    auto vexa = Vexa();
    vexa.flags = "ABCM";  // every field open, so that all four are filled from the row
    vexa.netmask = "255.255.0.0";
    vexa.gateway = "127.0.0.3";
    IniciaSim(SoTibbo({vexa, naoLido}));
    Abre("127.0.0.1");
    Configura("127.0.0.5", Via::DuploClique, [&](TFormConfigura& d) { Ok(d); });
    const struct {
        const char* nome;
        std::function<void()> operador;
        std::vector<Comando> esperados;
    } casos[] = {
        {"OK unchanged", nullptr, {Para("127.0.0.7", "L581947"), Para("127.0.0.7", "E")}},
        {"netmask typed",
         [&] { Campo("IPEditMascara")->SetText("255.255.255.0"); },
         {Para("127.0.0.7", "L581947"), Para("127.0.0.7", "SNM255.255.255.0"),
          Para("127.0.0.7", "E")}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Configura("127.0.0.7", Via::DuploClique, [&](TFormConfigura& d) {
            for (const char* nome : {"IPEditMascara", "IPEditGateway", "IPEditIPComp"})
                EXPECT_EQ(Campo(nome)->Text(), "0.0.0.0") << nome;
            if (c.operador) c.operador();
            Ok(d);
        });
        EXPECT_EQ(ComandosDaConfiguracao(), c.esperados);
    }
    EXPECT_TRUE(dialogos.chamadas.empty());
}

// "IP" writes the computer's address as the window was given it; "0.0.0.0" when it had none.
TEST_F(ConfiguraTest, IPButtonWritesTheComputersAddress) {
    for (const std::string ipComputador : {"127.0.0.44", ""}) {
        SCOPED_TRACE(ipComputador);
        const std::string esperado = ipComputador.empty() ? "0.0.0.0" : ipComputador;
        IniciaSim(SoTibbo({Vexa()}));
        Abre(ipComputador);
        Configura("127.0.0.5", Via::DuploClique, [&](TFormConfigura& d) {
            auto* botao = NoDialogo<QToolButton>("SpeedButton1");
            EXPECT_EQ(botao->text(), QStringLiteral("IP"));
            QTest::mouseClick(botao, Qt::LeftButton);
            EXPECT_EQ(Campo("IPEditIPComp")->Text(), esperado);
            Ok(d);
        });
        EXPECT_EQ(
            ComandosDaConfiguracao(),
            (std::vector<Comando>{Para("127.0.0.5", "L581947"), Para("127.0.0.5", "SDI" + esperado),
                                  Para("127.0.0.5", "E")}));
        EXPECT_EQ(sim->Snapshot().tibbo.at(0).destino, esperado);
        janela.reset();
    }
}

// A module whose description lacks the kind words, as they are written, is not configured.
TEST_F(ConfiguraTest, ModulesWithoutAKindWordAreRefused) {
    const struct {
        const char* nome;
        std::vector<modsim::TibboModule> modulos;
        Via via;
        std::vector<std::string> avisos;
    } casos[] = {
        {"vexa in lower case",
         {Tibbo("127.0.0.5", "0.36.119.87.8.24", "ABCI", "vexa gate 1")},
         Via::DuploClique,
         {kIndisponivel}},
        {"kind word past the description's 30 characters",
         {Tibbo("127.0.0.5", "0.36.119.87.8.24", "ABCI", "Entrance turnstile of Vexa")},
         Via::Configurar,
         {kIndisponivel}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        IniciaSim(SoTibbo(c.modulos));
        Abre("127.0.0.1");
        dialogos.chamadas.clear();
        Configura(c.modulos.at(0).ip, c.via, [](TFormConfigura& d) { d.reject(); });
        EXPECT_FALSE(abriu);
        EXPECT_EQ(dialogos.Textos("Notice"), c.avisos);
        EXPECT_TRUE(sim->Log().empty());
        janela.reset();
    }
}

// "Configurar" with the focus on the second list, or a double click there: the module's page
// when it is in the computer's range, the range message otherwise; Timer1 is left alone.
TEST_F(ConfiguraTest, SecondListOpensThePageOnlyInTheComputersRange) {
    const struct {
        std::string ipComputador;
        Via via;
        std::string ip;  // the row picked; "" for an empty list
        std::vector<std::string> abertos;
        std::vector<std::string> mensagens;
    } casos[] = {
        {"127.0.0.1", Via::Configurar, "127.0.0.10", {"Http://127.0.0.10"}, {}},
        {"127.0.0.200", Via::DuploClique, "127.0.0.9", {"Http://127.0.0.9"}, {}},
        {"127.0.1.1", Via::Configurar, "127.0.0.9", {}, {kFaixa}},
        {"127.0.1.1", Via::DuploClique, "127.0.0.10", {}, {kFaixa}},
        {"", Via::Configurar, "127.0.0.9", {}, {kFaixa}},
        {"127.0.0.1", Via::Configurar, "", {}, {kFaixa}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.ipComputador + " " + c.ip);
        auto modulos = modsim::DefaultModules();
        if (c.ip.empty()) modulos.brivant.clear();
        IniciaSim(modulos);
        Abre(c.ipComputador);
        sim->ClearLog();
        abridor.abertos.clear();
        dialogos.chamadas.clear();
        bool abriu = false;
        QuandoConfigura([&](TFormConfigura& d) {
            abriu = true;
            d.reject();
        });
        if (c.ip.empty()) {
            Grade(2)->setFocus();
        } else if (c.via == Via::Configurar) {
            Clica(2, c.ip);
        } else {
            DuploClique(2, c.ip);
        }
        if (c.via == Via::Configurar) {
            EXPECT_TRUE(Grade(2)->hasFocus());
            QTest::mouseClick(Controle<QToolButton>("ToolButtonConfigurar"), Qt::LeftButton);
        }
        Espera(20);
        Desarma();
        EXPECT_FALSE(abriu);
        EXPECT_EQ(abridor.abertos, c.abertos);
        EXPECT_EQ(dialogos.Textos("Plain"), c.mensagens);
        EXPECT_TRUE(Timer1()->isActive());
        EXPECT_TRUE(sim->Log().empty());
        janela.reset();
    }
}

}  // namespace

namespace {

// SIGTERM and the session's end reach the window as Encerra.
TEST_F(ConfiguraTest, EndingDuringAConfigurationWaitsForItsLastCommand) {
    auto torvane = Torvane();
    torvane.behaviours["SNM"].delay = 80ms;
    IniciaSim(SoTibbo({torvane}));
    Abre("127.0.0.1");
    QSignalSpy finalizado(janela.get(), &modrevo::TFormPrincipal::finalizado);
    bool visivel = true;
    int fimsDurante = -1;
    Quando([this] { return janela->Configuracao().EmConfiguracao() && !Comandos().empty(); },
           [&] {
               janela->Encerra();
               visivel = janela->isVisible();
               fimsDurante = static_cast<int>(finalizado.count());
           });
    QuandoConfigura([this](TFormConfigura& d) {
        Campo("IPEditMascara")->SetText("255.255.0.0");
        Ok(d);
    });
    sim->ClearLog();
    DuploClique(1, "127.0.0.6");
    ASSERT_TRUE(Ate([&] { return finalizado.count() > 0; }));
    Desarma();
    EXPECT_FALSE(visivel);
    EXPECT_EQ(fimsDurante, 0);
    EXPECT_EQ(ComandosDaConfiguracao(),
              (std::vector<Comando>{Para("127.0.0.6", "L581947"),
                                    Para("127.0.0.6", "SNM255.255.0.0"), Para("127.0.0.6", "E")}));
    EXPECT_EQ(finalizado.count(), 1);

    // With the dialog still open nothing was confirmed: it closes and nothing is sent.
    janela.reset();
    Abre("127.0.0.1");
    QSignalSpy outro(janela.get(), &modrevo::TFormPrincipal::finalizado);
    sim->ClearLog();
    QuandoConfigura([this](TFormConfigura&) { janela->Encerra(); });
    DuploClique(1, "127.0.0.6");
    ASSERT_TRUE(Ate([&] { return outro.count() > 0; }));
    Desarma();
    EXPECT_FALSE(janela->FormConfigura()->isVisible());
    EXPECT_TRUE(ComandosDaConfiguracao().empty());

    // A real notice box open inside the operation: nobody may be there to answer it. It is
    // taken as read and the program ends.
    janela.reset();
    IniciaSim(SoTibbo({Tibbo("127.0.0.5", "0.36.119.87.8.24", "ABCI", "sem palavra")}));
    Abre("127.0.0.1");
    QSignalSpy terceiro(janela.get(), &modrevo::TFormPrincipal::finalizado);
    common::qt::SetDialogs(nullptr);
    bool caixaAberta = false;
    Quando(
        [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (qobject_cast<QMessageBox*>(w) && w->isVisible()) return true;
            return false;
        },
        [&] {
            caixaAberta = true;
            janela->Encerra();
        });
    DuploClique(1, "127.0.0.5");
    const bool terminou = Ate([&] { return terceiro.count() > 0; }, 3000);
    Desarma();
    common::qt::SetDialogs(&dialogos);
    EXPECT_TRUE(caixaAberta);
    EXPECT_TRUE(terminou);
    EXPECT_FALSE(Timer1()->isActive());
}

}  // namespace
