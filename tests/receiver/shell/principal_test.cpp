// The main window driven as the operator drives it: time fields, tabs and menu, navigators,
// the history's clearing, closing, a second instance, and the manager's launch.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <array>
#include <functional>

#include "ApoioJanelas.h"
#include "TerminalSim.h"
#include "common/qt/DbGrid.h"
#include "common/qt/Text1252Qt.h"
#include "receiver/control/HistoricoDias.h"
#include "receiver/control/TableFile.h"
#include "receiver/shell/InstanciaUnica.h"
#include "receiver/shell/uHistoricos.h"
#include "receiver/shell/uLog.h"
#include "tests/receiver/shell/PastaReceptor.h"
#include "tests/support/PortaLivre.h"

using namespace apoio;
using common::qt::ToQString;
using namespace lumora;

namespace {

class PrincipalTest : public JanelaTest {
  protected:
    QTabWidget* Paginas() { return Controle<QTabWidget>("PageControl1"); }
    QString AbaAtual() { return Paginas()->currentWidget()->objectName(); }

    // The equipment page showing, its grid holding the one row "01" / 10.0.0.1.
    common::qt::DbGrid* GradeComUmEquipamento() {
        auto& equip = janela->Tabelas().cdsEquipamentos;
        equip.Insert();
        equip.SetString(campo::kNumEquipamento, "01");
        equip.SetString(campo::kIP, "10.0.0.1");
        equip.Post();
        Paginas()->setCurrentWidget(Controle<QWidget>("tsEquipamentos"));
        return Controle<common::qt::DbGrid>("dbgEquipamentos");
    }

    // Focus moves on to another field as a Tab press would move it.
    void SaiPara(QWidget* outro) {
        outro->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    // Typed where the keyboard is at each moment (a grid hands the keys on to its editor).
    static void Digita(const char* texto) {
        for (const char* c = texto; *c; ++c) QTest::keyClick(QApplication::focusWidget(), *c);
    }

    int Vezes(const std::string& tipo, const std::string& texto) const {
        int n = 0;
        for (const auto& c : dialogos.chamadas) n += c.tipo == tipo && c.texto == texto;
        return n;
    }

    void AdicionaHistorico(const char* comanda, int minuto) {
        auto& h = janela->Tabelas().cdsHistorico;
        h.Insert();
        h.SetDateTime(campo::kDataHora, *common::DateTime::FromParts(2024, 3, 15, 10, minuto));
        h.SetString(campo::kCracha, comanda);
        h.SetString(campo::kEstado, estado::kLiberado);
        h.SetInteger(campo::kTerminal, 1);
        h.Post();
    }
};

// Another user's process (nobody's) that runs `corpo`; what it hands to `responde` comes back
// here, and it holds whatever it made (a lock) until released.
class OutroUsuario {
  public:
    using Responde = std::function<void(const std::string&)>;
    explicit OutroUsuario(const std::function<void(const Responde&)>& corpo) {
        int pronto[2], fim[2];
        if (::pipe(pronto) != 0 || ::pipe(fim) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(pronto[0]);
            ::close(fim[1]);
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(1);
            corpo([&](const std::string& r) {
                if (::write(pronto[1], r.data(), r.size()) < 0) ::_exit(1);
                ::close(pronto[1]);
                char c;
                while (::read(fim[0], &c, 1) > 0) {
                }
            });
            ::_exit(0);
        }
        ::close(pronto[1]);
        ::close(fim[0]);
        fim_ = fim[1];
        char bloco[256];
        for (ssize_t n; (n = ::read(pronto[0], bloco, sizeof bloco)) > 0;)
            resposta_.append(bloco, n);
        ::close(pronto[0]);
    }
    ~OutroUsuario() { Libera(); }
    const std::string& Resposta() const { return resposta_; }
    void Libera() {
        if (fim_ < 0) return;
        ::close(fim_);
        fim_ = -1;
        ::waitpid(pid_, nullptr, 0);
    }

  private:
    pid_t pid_ = -1;
    int fim_ = -1;
    std::string resposta_;
};

}  // namespace

TEST_F(PrincipalTest, TimeFieldsTakeOnlyDigitsAndBackspace) {
    AbreAtiva();
    Paginas()->setCurrentWidget(Controle<QWidget>("tsConfiguracoes"));
    for (const char* nome : {"edTempoGiro", "edTempoRele"}) {
        auto* campo = Controle<QLineEdit>(nome);
        campo->setFocus();
        campo->clear();
        QTest::keyClicks(campo, "1a2 -b.3");
        EXPECT_EQ(campo->text(), "123") << nome;
        QTest::keyClick(campo, Qt::Key_Backspace);
        EXPECT_EQ(campo->text(), "12") << nome;
        // The copy and paste shortcuts are control characters too: dropped.
        QGuiApplication::clipboard()->setText(QStringLiteral("99"));
        QTest::keyClick(campo, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(campo, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(campo, Qt::Key_X, Qt::ControlModifier);
        EXPECT_EQ(campo->text(), "12") << nome;
        // Keys that type nothing still edit.
        QTest::keyClick(campo, Qt::Key_Home);
        QTest::keyClick(campo, Qt::Key_Delete);
        EXPECT_EQ(campo->text(), "2") << nome;
        // What an input method composes is typed too: only its digits get in.
        campo->end(false);
        QInputMethodEvent composto;
        composto.setCommitString(QStringLiteral("4a\u00E75"));
        QApplication::sendEvent(campo, &composto);
        EXPECT_EQ(campo->text(), "245") << nome;
        // Nothing can be dropped in.
        QMimeData arrastado;
        arrastado.setText(QStringLiteral("x9"));
        const QPointF meio = QRectF(campo->rect()).center();
        QDragEnterEvent entra(meio.toPoint(), Qt::CopyAction, &arrastado, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(campo, &entra);
        EXPECT_FALSE(entra.isAccepted()) << nome;
        QDropEvent solta(meio, Qt::CopyAction, &arrastado, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(campo, &solta);
        EXPECT_EQ(campo->text(), "245") << nome;
    }
    // The message fields are not filtered, only limited to 16 typed characters.
    auto* msg = Controle<QLineEdit>("edMsg1Lib");
    msg->setFocus();
    msg->clear();
    QTest::keyClicks(msg, "Abc de fgh ijk lmn opq");
    EXPECT_EQ(msg->text(), "Abc de fgh ijk l");
}

TEST_F(PrincipalTest, LeavingATimeFieldEmptyWarnsKeepsTheFocusAndTheTimeInForce) {
    AbreAtiva();
    Paginas()->setCurrentWidget(Controle<QWidget>("tsConfiguracoes"));
    const struct {
        const char* nome;
        const std::string& mensagem;
        int32_t (TFormPrincipal::*tempo)() const;
        int32_t inicial;
    } casos[] = {
        {"edTempoGiro", textosPrincipal::kInformeGiro, &TFormPrincipal::TempoGiro, 5},
        {"edTempoRele", textosPrincipal::kInformeRele, &TFormPrincipal::TempoRele, 3},
    };
    auto* outro = Controle<QLineEdit>("edMsg1Lib");
    for (const auto& c : casos) {
        auto* campo = Controle<QLineEdit>(c.nome);
        campo->setFocus(Qt::TabFocusReason);
        campo->clear();
        SaiPara(outro);
        EXPECT_EQ(Vezes("Plain", c.mensagem), 1) << c.nome;
        EXPECT_EQ(QApplication::focusWidget(), campo) << c.nome;
        EXPECT_EQ((janela.get()->*c.tempo)(), c.inicial) << c.nome;

        QTest::keyClicks(campo, "09");
        SaiPara(outro);
        EXPECT_EQ((janela.get()->*c.tempo)(), 9) << c.nome;
        EXPECT_EQ(Vezes("Plain", c.mensagem), 1) << c.nome;

        // More digits than 32 bits hold: the conversion error, and the time stays.
        campo->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(campo, "99999999999");
        const int antes = Vezes("Failure", "'99999999999' is not a valid integer value.");
        SaiPara(outro);
        EXPECT_EQ(Vezes("Failure", "'99999999999' is not a valid integer value."), antes + 1)
            << c.nome;
        EXPECT_EQ((janela.get()->*c.tempo)(), 9) << c.nome;
    }
    EXPECT_EQ(janela->AjustesAtuais().tempoGiro, 9);
    EXPECT_EQ(janela->AjustesAtuais().tempoRele, 9);
}

TEST_F(PrincipalTest, EveryShowAndEveryRestoreBringsTheCardListFirst) {
    AbreAtiva();
    EXPECT_EQ(AbaAtual(), "tsComandas");
    Paginas()->setCurrentIndex(2);
    janela->hide();
    janela->show();
    EXPECT_EQ(AbaAtual(), "tsComandas");
    QTest::qWait(20);  // the platform's own show event of the window follows

    // Hidden (or, without a notification area, minimised), the window comes back from the
    // icon on either kind of activation: D-Bus notification areas never send a double click.
    // The icon's menu restores too, whatever the desktop delivers on a click.
    QMenu* menu = janela->IconeBandeja()->contextMenu();
    ASSERT_NE(menu, nullptr);
    QAction* restaurar = menu->findChild<QAction*>(QStringLiteral("Restaurar1"));
    ASSERT_NE(restaurar, nullptr);
    const std::function<void()> formas[] = {
        [&] { emit janela->IconeBandeja()->activated(QSystemTrayIcon::Trigger); },
        [&] { emit janela->IconeBandeja()->activated(QSystemTrayIcon::DoubleClick); },
        [&] { restaurar->trigger(); },
    };
    for (const auto& restaura : formas) {
        Paginas()->setCurrentIndex(3);
        Controle<QAction>("Minimizar1")->trigger();
        QCoreApplication::processEvents();
        if (QSystemTrayIcon::isSystemTrayAvailable() ||
            QGuiApplication::platformName() == QLatin1String("offscreen")) {
            // Into the notification area; without any screen, simply hidden.
            EXPECT_FALSE(janela->isVisible());
        } else {
            // Without a notification area a hidden window could never come back: minimised.
            EXPECT_TRUE(janela->isVisible());
            EXPECT_TRUE(janela->isMinimized());
        }
        // The menu's own click does nothing.
        emit janela->IconeBandeja()->activated(QSystemTrayIcon::Context);
        QCoreApplication::processEvents();
        EXPECT_TRUE(janela->isMinimized() || !janela->isVisible());
        restaura();
        QCoreApplication::processEvents();
        EXPECT_TRUE(janela->isVisible());
        EXPECT_FALSE(janela->isMinimized());
        EXPECT_EQ(AbaAtual(), "tsComandas");
    }
}

TEST_F(PrincipalTest, TheIconsMenuEndsTheProgramThroughTheCloseSequence) {
    AbreAtiva();
    QSignalSpy fim(janela.get(), &TFormPrincipal::finalizado);
    QMenu* menu = janela->IconeBandeja()->contextMenu();
    ASSERT_NE(menu, nullptr);
    QStringList textos;
    for (QAction* a : menu->actions()) textos << a->text();
    EXPECT_EQ(textos, QStringList({"Restaurar", "Sair"}));
    QAction* sair = menu->findChild<QAction*>(QStringLiteral("Sair2"));
    ASSERT_NE(sair, nullptr);

    // From the notification area, the window hidden: the question first, No changes nothing.
    Controle<QAction>("Minimizar1")->trigger();
    dialogos.respostas = {false};
    sair->trigger();
    EXPECT_EQ(Vezes("Question", textosPrincipal::kFinalizar), 1);
    EXPECT_EQ(fim.count(), 0);
    EXPECT_FALSE(std::filesystem::exists(Config()));

    AdicionaHistorico("666", 6);
    dialogos.respostas = {true};
    sair->trigger();
    EXPECT_EQ(Vezes("Question", textosPrincipal::kFinalizar), 2);
    EXPECT_EQ(fim.count(), 1);
    EXPECT_TRUE(std::filesystem::exists(Config()));
    for (const auto& e : std::filesystem::directory_iterator(pasta / "Historicos")) {
        EXPECT_NE(Le(e.path()).find("666"), std::string::npos);
    }
}

TEST_F(PrincipalTest, TheMenuHoldsItsSixEntriesAndTheTabEntriesShowTheirTabs) {
    AbreAtiva();
    QMenu* arquivo = Controle<QMenu>("Arquivo1");
    EXPECT_EQ(arquivo->title(), "&Arquivo");
    QStringList textos;
    for (QAction* a : arquivo->actions()) textos << a->text();
    EXPECT_EQ(textos, QStringList({ToQString("Configura\xE7\xF5"
                                             "es"),
                                   "Lista de Comandas", "Historico de Acesso",
                                   "Log Recebidos/Enviados", "Minimizar", "Sair"}));
    const std::pair<const char*, const char*> entradas[] = {
        {"Configuracoes1", "tsConfiguracoes"},
        {"HistoricodeAcesso1", "tsHistorico"},
        {"ListadeComandas1", "tsComandas"},
    };
    for (const auto& [entrada, aba] : entradas) {
        Controle<QAction>(entrada)->trigger();
        EXPECT_EQ(AbaAtual(), aba) << entrada;
    }
    EXPECT_EQ(janela->windowTitle(), "Lumora v1.2.3");
    EXPECT_EQ(Paginas()->tabText(2), ToQString("Configura\xE7\xF5"
                                               "es"));

    TformLog log;
    janela->DefineLog(&log);
    Controle<QAction>("LogRecebidosEnviados1")->trigger();
    EXPECT_TRUE(log.isVisible());
    EXPECT_TRUE(janela->isVisible());  // not modal: both stay open
}

TEST_F(PrincipalTest, OnlyTheReturnFromTheLogWindowMovesTheKeyboardToTheStartButton) {
    AbreAtiva();
    TformLog log;
    janela->DefineLog(&log);
    Controle<QAction>("Configuracoes1")->trigger();
    auto* giro = Controle<QLineEdit>("edTempoGiro");
    auto* iniciar = Controle<QPushButton>("btIniciar");
    // Another window than the log: a message box, or another program.
    QWidget outra;
    outra.resize(100, 100);

    auto vaiEVolta = [&](QWidget* janelaFora) {
        janelaFora->show();
        janelaFora->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(janelaFora));
        janela->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(janela.get()));
        QCoreApplication::processEvents();  // a field's exit runs once the focus has settled
    };

    // The operator is typing a time: coming back from another window keeps the keyboard in
    // the field, and the time takes effect only when the field is left.
    giro->setFocus(Qt::TabFocusReason);
    giro->clear();
    QTest::keyClicks(giro, "7");
    vaiEVolta(&outra);
    EXPECT_EQ(QApplication::focusWidget(), giro);
    EXPECT_EQ(janela->TempoGiro(), 5);

    // Back from the log window: the start button takes the keyboard, and that leaves the field.
    vaiEVolta(&log);
    EXPECT_EQ(QApplication::focusWidget(), iniciar);
    EXPECT_EQ(janela->TempoGiro(), 7);

    // Also when the field was left empty: its message, and the keyboard back in the field.
    giro->setFocus(Qt::TabFocusReason);
    giro->clear();
    QCoreApplication::processEvents();
    vaiEVolta(&log);
    EXPECT_EQ(Vezes("Plain", textosPrincipal::kInformeGiro), 1);
    EXPECT_EQ(QApplication::focusWidget(), giro);
    EXPECT_EQ(janela->TempoGiro(), 7);
    giro->setText(QStringLiteral("7"));

    // The log window closed by the operator hands the window back the same way.
    log.show();
    log.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&log));
    giro->setFocus();
    log.close();
    janela->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(janela.get()));
    EXPECT_EQ(QApplication::focusWidget(), iniciar);
}

TEST_F(PrincipalTest, AnEmptyTimeFieldLeftForAnotherTabBringsItsTabBack) {
    AbreAtiva();
    auto* rele = Controle<QLineEdit>("edTempoRele");
    const std::function<void()> saidas[] = {
        [&] { Controle<QAction>("ListadeComandas1")->trigger(); },
        [&] {
            QTest::mouseClick(Paginas()->tabBar(), Qt::LeftButton, {},
                              Paginas()->tabBar()->tabRect(3).center());
        },
    };
    int vezes = 0;
    for (const auto& sai : saidas) {
        Paginas()->setCurrentWidget(Controle<QWidget>("tsConfiguracoes"));
        rele->setFocus(Qt::TabFocusReason);
        rele->clear();
        sai();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        EXPECT_EQ(Vezes("Plain", textosPrincipal::kInformeRele), ++vezes);
        // The keyboard goes back into the field only where the operator can see it.
        EXPECT_EQ(AbaAtual(), "tsConfiguracoes");
        EXPECT_TRUE(rele->isVisible());
        EXPECT_EQ(QApplication::focusWidget(), rele);
        EXPECT_EQ(janela->TempoRele(), 3);
    }
}

TEST_F(PrincipalTest, NavigatorInsertPutsTheFocusOnTheTerminalNumberColumn) {
    AbreAtiva();
    auto& equip = janela->Tabelas().cdsEquipamentos;
    auto* grade = GradeComUmEquipamento();
    grade->setCurrentIndex(grade->model()->index(0, 1));  // the operator was on the IP column
    auto* insere = Controle<common::qt::RecordNavigator>("dbnEquipamentos")
                       ->findChild<QToolButton*>(QStringLiteral("nbInsert"));
    ASSERT_NE(insere, nullptr);
    QTest::mouseClick(insere, Qt::LeftButton);
    EXPECT_EQ(equip.State(), common::TableState::Insert);
    EXPECT_TRUE(grade->hasFocus());
    EXPECT_EQ(grade->currentIndex().column(), 0);
    EXPECT_EQ(grade->currentIndex().row(), equip.InsertPosition());

    // The operator types the number and the address straight away; the store rule formats them.
    Digita("7");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    Digita(" 10.0.0.7 ");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCoreApplication::processEvents();  // the grid stores an edit after the key
    QTest::mouseClick(Controle<common::qt::RecordNavigator>("dbnEquipamentos")
                          ->findChild<QToolButton*>(QStringLiteral("nbPost")),
                      Qt::LeftButton);
    ASSERT_EQ(equip.RecordCount(), 2);
    ASSERT_TRUE(equip.FindKey("07"));
    EXPECT_EQ(equip.AsString(campo::kIP), "10.0.0.7");
}

TEST_F(PrincipalTest, NavigatorDeleteAsksFirst) {
    AbreAtiva();
    AdicionaHistorico("1", 1);
    AdicionaHistorico("2", 2);
    auto* apaga = Controle<common::qt::RecordNavigator>("dbnHistorico")
                      ->findChild<QToolButton*>(QStringLiteral("nbDelete"));
    Paginas()->setCurrentWidget(Controle<QWidget>("tsHistorico"));
    dialogos.respostas = {false, true};
    QTest::mouseClick(apaga, Qt::LeftButton);
    EXPECT_EQ(janela->Tabelas().cdsHistorico.RecordCount(), 2);
    QTest::mouseClick(apaga, Qt::LeftButton);
    EXPECT_EQ(janela->Tabelas().cdsHistorico.RecordCount(), 1);
    EXPECT_EQ(Vezes("Confirm", "Delete record?"), 2);
}

TEST_F(PrincipalTest, ClearingTheHistoryAsksAndEmptiesOnlyOnYesWithoutWritingTheFile) {
    Abre();
    AdicionaHistorico("111", 1);
    AdicionaHistorico("222", 2);
    auto* limpar = Controle<QPushButton>("btnLimparHist");
    const auto arquivo = pasta / "Historicos";
    std::string antes;
    for (const auto& e : std::filesystem::directory_iterator(arquivo)) antes = Le(e.path());

    dialogos.respostas = {false};
    QTest::mouseClick(limpar, Qt::LeftButton);
    EXPECT_EQ(janela->Tabelas().cdsHistorico.RecordCount(), 2);
    dialogos.respostas = {true};
    QTest::mouseClick(limpar, Qt::LeftButton);
    EXPECT_EQ(janela->Tabelas().cdsHistorico.RecordCount(), 0);
    EXPECT_EQ(Vezes("Question", textosPrincipal::kLimparHistorico), 2);
    for (const auto& e : std::filesystem::directory_iterator(arquivo)) {
        EXPECT_EQ(Le(e.path()), antes);
    }
}

TEST_F(PrincipalTest, CloseAnsweredNoChangesNothingYesSavesAndEnds) {
    AbreAtiva();
    QSignalSpy fim(janela.get(), &TFormPrincipal::finalizado);
    dialogos.respostas = {false};
    EXPECT_FALSE(janela->close());
    EXPECT_TRUE(janela->isVisible());
    EXPECT_EQ(Vezes("Question", textosPrincipal::kFinalizar), 1);
    EXPECT_FALSE(std::filesystem::exists(Config()));
    EXPECT_EQ(fim.count(), 0);

    AdicionaHistorico("333", 3);
    dialogos.respostas = {true};
    EXPECT_TRUE(janela->close());
    EXPECT_EQ(fim.count(), 1);
    EXPECT_TRUE(std::filesystem::exists(Config()));
    for (const auto& e : std::filesystem::directory_iterator(pasta / "Historicos")) {
        EXPECT_NE(Le(e.path()).find("333"), std::string::npos);
    }
}

TEST_F(PrincipalTest, TheEndTheSystemAsksForSavesWithoutTheQuestion) {
    AbreAtiva();
    AdicionaHistorico("444", 4);
    QSignalSpy fim(janela.get(), &TFormPrincipal::finalizado);
    janela->EncerraSemPergunta();
    EXPECT_EQ(fim.count(), 1);
    EXPECT_EQ(Vezes("Question", textosPrincipal::kFinalizar), 0);
    EXPECT_TRUE(std::filesystem::exists(Config()));
    for (const auto& e : std::filesystem::directory_iterator(pasta / "Historicos")) {
        EXPECT_NE(Le(e.path()).find("444"), std::string::npos);
    }
    // Whatever closes the window afterwards does not ask either.
    EXPECT_TRUE(janela->close());
    EXPECT_EQ(Vezes("Question", textosPrincipal::kFinalizar), 0);
}

TEST_F(PrincipalTest, ASecondInstanceBeepsShowsTheMessageAndTouchesNothing) {
    Abre();
    QTemporaryDir outra;
    const std::filesystem::path pastaOutra = outra.path().toStdString();
    TFormPrincipal segunda(pastaOutra);
    EXPECT_TRUE(segunda.Encerrar());
    EXPECT_EQ(Vezes("Plain", textosPrincipal::kSegundaInstancia), 1);
    EXPECT_TRUE(std::filesystem::is_empty(pastaOutra));
    EXPECT_FALSE(janela->Encerrar());
}

// The folder's own lock: another session's receiver, or one started with no runtime folder,
// on the same program folder is refused before it touches any file.
TEST_F(PrincipalTest, ASecondReceiverOnTheSameFolderIsRefusedWhateverItsSession) {
    Abre();
    const std::string antes = Le(pasta / "Comandas.xml");
    std::filesystem::create_directories(pasta / "outra-sessao");
    for (const char* runtime : {"outra-sessao", ""}) {
        if (*runtime) {
            setenv("XDG_RUNTIME_DIR", (pasta / runtime).c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        TFormPrincipal segunda(pasta);
        EXPECT_TRUE(segunda.Encerrar()) << runtime;
    }
    setenv("XDG_RUNTIME_DIR", (pasta / "run").c_str(), 1);
    EXPECT_EQ(Vezes("Plain", textosPrincipal::kSegundaInstancia), 2);
    EXPECT_EQ(Le(pasta / "Comandas.xml"), antes);
    EXPECT_FALSE(janela->Encerrar());
}

TEST(TTravaPasta, AnotherUsersReceiverHoldsTheFolderAndItsFileIsNeverFollowedNorKept) {
    if (::geteuid() != 0) GTEST_SKIP() << "playing another user needs root";
    QTemporaryDir temporaria;
    const std::filesystem::path pasta = temporaria.path().toStdString();
    ASSERT_EQ(::chmod(pasta.c_str(), 0777), 0);
    // Another user's receiver, running on this folder.
    OutroUsuario outro([&](const OutroUsuario::Responde& responde) {
        lumora::TTravaPasta trava(pasta);
        responde(trava.Ocupada() ? "n" : "s");
    });
    EXPECT_EQ(outro.Resposta(), "s");
    EXPECT_TRUE(lumora::TTravaPasta(pasta).Ocupada());
    outro.Libera();
    {
        // Its file, held by nobody now, is replaced by one of ours, which holds the folder.
        lumora::TTravaPasta minha(pasta);
        EXPECT_FALSE(minha.Ocupada());
        struct stat dados {};
        ASSERT_EQ(::stat(minha.Arquivo().c_str(), &dados), 0);
        EXPECT_EQ(dados.st_uid, ::geteuid());
        EXPECT_TRUE(lumora::TTravaPasta(pasta).Ocupada());
    }
    // A symbolic link in its place is not followed: the file it names stays as it was.
    const std::filesystem::path arquivo = pasta / ".Lumora.lock";
    std::filesystem::remove(arquivo);
    { std::ofstream(pasta / "alvo") << "x"; }
    std::filesystem::create_symlink(pasta / "alvo", arquivo);
    lumora::TTravaPasta minha(pasta);
    EXPECT_FALSE(minha.Ocupada());
    EXPECT_FALSE(std::filesystem::is_symlink(arquivo));
    EXPECT_EQ(Le(pasta / "alvo"), "x");
    EXPECT_TRUE(lumora::TTravaPasta(pasta).Ocupada());
}

TEST(TMutexGlobal, WithoutARuntimeFolderOneUsersReceiverNeverHoldsAnothersBack) {
    if (::geteuid() != 0) GTEST_SKIP() << "playing another user needs root";
    const char* antes = std::getenv("XDG_RUNTIME_DIR");
    const std::string runtime = antes ? antes : "";
    unsetenv("XDG_RUNTIME_DIR");
    const std::string nome = "LumoraTesteTrava" + std::to_string(::getpid());
    std::vector<std::filesystem::path> feitos;

    // Another user's receiver, running: its lock is held in its own process.
    OutroUsuario outro([&](const OutroUsuario::Responde& responde) {
        lumora::TMutexGlobal trava(nome);
        responde((trava.JaExistia() ? "n" : "s") + trava.Arquivo().string());
    });
    const std::string resposta = outro.Resposta();
    ASSERT_FALSE(resposta.empty());
    EXPECT_EQ(resposta[0], 's');
    feitos.push_back(resposta.substr(1));
    {
        lumora::TMutexGlobal minha(nome);
        feitos.push_back(minha.Arquivo());
        EXPECT_FALSE(minha.JaExistia());
        // Still one receiver per user.
        lumora::TMutexGlobal segunda(nome);
        EXPECT_TRUE(segunda.JaExistia());
    }
    // Nor a file that another user made under this user's name in /tmp and holds.
    std::filesystem::remove(feitos.back());
    const int alheio = ::open(feitos.back().c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(alheio, 0);
    ASSERT_EQ(::fchown(alheio, 65534, 65534), 0);
    ASSERT_EQ(::flock(alheio, LOCK_EX | LOCK_NB), 0);
    {
        lumora::TMutexGlobal minha(nome);
        EXPECT_FALSE(minha.JaExistia());
    }
    ::close(alheio);

    outro.Libera();
    for (const auto& f : feitos) std::filesystem::remove(f);
    if (antes) setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
}

TEST_F(PrincipalTest, VerifIPStartsTheManagerBesideTheProgramOnlyWhenItIsThere) {
    Abre();
    auto* botao = Controle<QPushButton>("btVerificaIP");
    QTest::mouseClick(botao, Qt::LeftButton);  // absent: nothing at all
    EXPECT_TRUE(dialogos.chamadas.empty());

    const auto marca = pasta / "iniciado";
    const auto modrevo = pasta / "Modrevo";
    Grava(modrevo, "#!/bin/sh\necho x >> '" + marca.string() + "'\n");
    std::filesystem::permissions(modrevo, std::filesystem::perms::owner_all);
    QTest::mouseClick(botao, Qt::LeftButton);
    QTest::mouseClick(botao, Qt::LeftButton);
    EXPECT_TRUE(Ate([&] { return Le(marca) == "x\nx\n"; })) << Le(marca);
}

TEST_F(PrincipalTest, TheConnectedTerminalsListRemovesTheFirstEqualLine) {
    Abre();
    auto* lista = Controle<QListWidget>("ListBoxTerminais");
    janela->Adiciona("10.0.0.1");
    janela->Adiciona("10.0.0.2");
    janela->Adiciona("10.0.0.1");
    janela->RemovePrimeiro("10.0.0.1");
    janela->RemovePrimeiro("10.9.9.9");
    ASSERT_EQ(lista->count(), 2);
    EXPECT_EQ(lista->item(0)->text(), "10.0.0.2");
    EXPECT_EQ(lista->item(1)->text(), "10.0.0.1");
    janela->Limpa();
    EXPECT_EQ(lista->count(), 0);
}

TEST_F(PrincipalTest, ASaveThatFailsAtCloseIsShownAndTheRestIsStillSavedAndTheProgramEnds) {
    AbreAtiva();
    AdicionaHistorico("555", 5);
    std::filesystem::create_directory(Config());  // Config.ini cannot be written
    QSignalSpy fim(janela.get(), &TFormPrincipal::finalizado);
    dialogos.respostas = {true};
    EXPECT_TRUE(janela->close());
    EXPECT_EQ(fim.count(), 1);
    ASSERT_EQ(dialogos.chamadas.size(), 2u);
    EXPECT_EQ(dialogos.chamadas[1].tipo, "Failure");
    EXPECT_EQ(dialogos.chamadas[1].texto.rfind("Cannot ", 0), 0u) << dialogos.chamadas[1].texto;
    for (const auto& e : std::filesystem::directory_iterator(pasta / "Historicos")) {
        EXPECT_NE(Le(e.path()).find("555"), std::string::npos);
    }
}

TEST_F(PrincipalTest, ATableThatCannotBeTakenUpEndsStartUpSilently) {
    Grava(pasta / "Comandas.xml", "<not a data packet");
    Grava(Config(), "[CONFIGS]\nInicio_Automatico=1\n");
    Abre();
    EXPECT_TRUE(janela->Encerrar());
    EXPECT_TRUE(dialogos.chamadas.empty());
    EXPECT_FALSE(Controle<QTimer>("tmrAutoCom")->isActive());
    EXPECT_FALSE(Controle<QCheckBox>("ckAutoInit")->isChecked());  // Config.ini not read
    janela.reset();
    EXPECT_EQ(Le(Config()), "[CONFIGS]\nInicio_Automatico=1\n");  // nor written
}

TEST_F(PrincipalTest, AnEquipmentRowTheStoreRuleRefusesStaysOpenInTheGrid) {
    AbreAtiva();
    auto& equip = janela->Tabelas().cdsEquipamentos;
    auto* grade = GradeComUmEquipamento();
    grade->setFocus();
    QTest::keyClick(grade, Qt::Key_Insert);
    ASSERT_EQ(equip.State(), common::TableState::Insert);
    Digita("ab");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCoreApplication::processEvents();
    // Moving to the other row stores the new one first: refused, it stays open and shown.
    const int outra = equip.InsertPosition() == 0 ? 1 : 0;
    grade->setCurrentIndex(grade->model()->index(outra, 1));
    QCoreApplication::processEvents();
    EXPECT_EQ(Vezes("Failure", "'ab' is not a valid integer value."), 1);
    EXPECT_EQ(equip.State(), common::TableState::Insert);
    EXPECT_EQ(grade->currentIndex().row(), equip.InsertPosition());
    EXPECT_EQ(grade->model()->headerData(equip.InsertPosition(), Qt::Vertical), "*");

    // Escape drops it; Ctrl+Delete asks before deleting the stored row.
    grade->setFocus();
    QTest::keyClick(grade, Qt::Key_Escape);
    EXPECT_EQ(equip.State(), common::TableState::Browse);
    EXPECT_EQ(equip.RecordCount(), 1);
    dialogos.respostas = {false, true};
    QTest::keyClick(grade, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(equip.RecordCount(), 1);
    QTest::keyClick(grade, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(equip.RecordCount(), 0);
    EXPECT_EQ(Vezes("Confirm", "Delete record?"), 2);
}

// ---- the gates' status and the past nights ----

namespace {

int Ocorrencias(const QString& texto, const QString& linha) { return texto.count(linha); }

QString Celula(QTableWidget* grade, int linha, int coluna) {
    const QTableWidgetItem* item = grade->item(linha, coluna);
    return item ? item->text() : QString();
}

}  // namespace

TEST_F(PrincipalTest, TheGatesStatusFollowsRealTrafficAndReportsAnAbsenceAndAReturnOnce) {
    const uint16_t porta = lumora::teste::PortaLivre();
    setenv("LUMORA_PORTA_TCP", std::to_string(porta).c_str(), 1);
    common::DateTime agora = *common::DateTime::FromParts(2024, 3, 16, 22, 0, 0);
    common::SetClock([&] { return agora; });
    struct Relogio {
        ~Relogio() { common::SetClock(nullptr); }
    } relogio;
    ASSERT_FALSE(lumora::teste::SemeiaPasta(pasta, "1234").empty());
    Abre();
    auto& equip = janela->Tabelas().cdsEquipamentos;
    equip.Insert();
    equip.SetString(campo::kNumEquipamento, "02");
    equip.SetString(campo::kIP, "127.0.0.6");
    equip.Post();
    TformLog log;
    log.show();
    janela->DefineLog(&log);
    auto avisos = [&](const std::string& texto) {
        return Ocorrencias(log.MemoEnviados()->toPlainText(), ToQString("Aviso: " + texto));
    };
    auto* grade = Controle<QTableWidget>("grdTerminais");
    auto* painel = Controle<QLabel>("StatusPanel0");
    janela->btIniciarClick();
    ASSERT_TRUE(janela->Servidor().Escutando());

    termsim::SimTerminal terminal("01");
    terminal.Connect("127.0.0.1", porta, "127.0.0.5");
    ASSERT_TRUE(Ate([&] { return janela->EstadoTerminais().Conectados() == 1; }));
    agora = *common::DateTime::FromParts(2024, 3, 16, 22, 0, 5);
    terminal.SendCardRead("0000000000001234");
    terminal.SendTurnstileResult("G");
    terminal.SendCardRead("0000000000007777");
    auto& historico = janela->Tabelas().cdsHistorico;
    // Held until the terminal's clock message, a second after it connected.
    ASSERT_TRUE(Ate([&] { return historico.RecordCount() == 2; }, 5000));
    janela->AtualizaTerminais();
    // Nobody looks at the table yet: it waits; the first status panel opens the window with it.
    EXPECT_EQ(grade->rowCount(), 0);
    EXPECT_FALSE(Controle<QWidget>("formTerminais")->isVisible());
    QTest::mouseClick(painel, Qt::LeftButton);
    EXPECT_TRUE(Controle<QWidget>("formTerminais")->isVisible());
    ASSERT_EQ(grade->rowCount(), 2);
    EXPECT_EQ(Celula(grade, 0, 0), "01");
    EXPECT_EQ(Celula(grade, 0, 1), "127.0.0.5");
    EXPECT_EQ(Celula(grade, 0, 2), "Conectado");
    EXPECT_EQ(Celula(grade, 0, 3), "22:00:00");
    EXPECT_EQ(Celula(grade, 0, 4), "22:00:05");
    EXPECT_EQ(Celula(grade, 0, 5), "1");  // Liberado
    EXPECT_EQ(Celula(grade, 0, 6), "1");  // Bloqueado
    EXPECT_EQ(Celula(grade, 1, 2), "Desconectado");
    EXPECT_EQ(Celula(grade, 1, 4), "-");
    EXPECT_NE(grade->item(1, 0)->background(), grade->item(0, 0)->background());
    EXPECT_EQ(painel->text(), " 1 de 2 terminais conectados");
    EXPECT_TRUE(janela->IconeBandeja()->toolTip().endsWith("1 de 2 terminais conectados"));

    // 02 never came: a minute after the start it is reported, once.
    const std::string ausente02 = "Terminal 02 (127.0.0.6) sem conex\xE3o h\xE1 60 s";
    agora = *common::DateTime::FromParts(2024, 3, 16, 22, 0, 59);
    janela->AtualizaTerminais();
    EXPECT_EQ(avisos(ausente02), 0);
    agora = *common::DateTime::FromParts(2024, 3, 16, 22, 1, 0);
    janela->AtualizaTerminais();
    janela->AtualizaTerminais();
    EXPECT_EQ(avisos(ausente02), 1);

    // 01 closes; a minute later it is reported once, and its return once.
    const std::string ausente01 = "Terminal 01 (127.0.0.5) sem conex\xE3o h\xE1 60 s";
    const std::string volta01 = "Terminal 01 (127.0.0.5) conectado novamente";
    terminal.Close();
    ASSERT_TRUE(Ate([&] { return janela->EstadoTerminais().Conectados() == 0; }));
    janela->AtualizaTerminais();
    EXPECT_EQ(Celula(grade, 0, 2), "Desconectado");
    EXPECT_EQ(Celula(grade, 0, 3), "22:01:00");
    EXPECT_EQ(painel->text(), " 0 de 2 terminais conectados");
    agora = *common::DateTime::FromParts(2024, 3, 16, 22, 1, 59);
    janela->AtualizaTerminais();
    EXPECT_EQ(avisos(ausente01), 0);
    agora = *common::DateTime::FromParts(2024, 3, 16, 22, 2, 0);
    janela->AtualizaTerminais();
    janela->AtualizaTerminais();
    EXPECT_EQ(avisos(ausente01), 1);
    EXPECT_EQ(avisos(volta01), 0);

    termsim::SimTerminal deVolta("01");
    deVolta.Connect("127.0.0.1", porta, "127.0.0.5");
    ASSERT_TRUE(Ate([&] { return janela->EstadoTerminais().Conectados() == 1; }));
    janela->AtualizaTerminais();
    janela->AtualizaTerminais();
    EXPECT_EQ(avisos(volta01), 1);
    EXPECT_EQ(avisos(ausente01), 1);
    EXPECT_EQ(avisos(ausente02), 1);
    EXPECT_EQ(Celula(grade, 0, 2), "Conectado");

    // Closed, the window shows where things stand when it opens again.
    Controle<QWidget>("formTerminais")->hide();
    deVolta.SendCardRead("0000000000007777");
    ASSERT_TRUE(Ate([&] { return historico.RecordCount() == 3; }, 5000));
    janela->AtualizaTerminais();
    EXPECT_EQ(Celula(grade, 0, 6), "1");
    QTest::mouseClick(painel, Qt::LeftButton);
    EXPECT_EQ(Celula(grade, 0, 6), "2");
}

TEST_F(PrincipalTest, ThePastNightsWindowFiltersTotalsAndExportsADayWithoutWritingIt) {
    // Last Saturday, written by the receiver's own file code.
    std::filesystem::create_directories(pasta / "Historicos");
    const common::DateTime sabado = *common::DateTime::FromDate(2024, 3, 16);
    TabelasReceptor t;
    t.cdsHistorico.Open();
    int bloqueados = 0, do3 = 0;
    std::array<int, 24> saidas{};
    for (int i = 0; i < 300; ++i) {
        const auto quando = common::DateTime::FromMs(sabado.Ms() + 20 * 3'600'000LL + i * 97'000LL);
        const std::string& estado = i % 4 == 0 ? estado::kBloqueado : estado::kLiberado;
        const int terminal = 1 + i % 3;
        t.cdsHistorico.Insert();
        t.cdsHistorico.SetDateTime(campo::kDataHora, quando);
        t.cdsHistorico.SetString(campo::kCracha,
                                 i == 7 ? "Jos\xE9;\"VIP\"" : std::to_string(5000 + i));
        t.cdsHistorico.SetString(campo::kEstado, estado);
        t.cdsHistorico.SetInteger(campo::kTerminal, terminal);
        t.cdsHistorico.Post();
        bloqueados += estado == estado::kBloqueado;
        do3 += terminal == 3 && estado == estado::kLiberado;
        if (estado == estado::kLiberado) ++saidas[quando.Decode().hour];
    }
    const auto arquivo = ArquivoDoDia(pasta, sabado);
    SaveTableToFile(t.cdsHistorico, arquivo.string());
    AbreAtiva();
    const std::string bytes = Le(arquivo);
    const auto quando = std::filesystem::last_write_time(arquivo);

    Controle<QAction>("HistoricosAnteriores1")->trigger();
    TformHistoricos* janelaDias = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "formHistoricos" && w->isVisible())
            janelaDias = static_cast<TformHistoricos*>(w);
    }
    ASSERT_NE(janelaDias, nullptr);
    auto* dias = janelaDias->findChild<QListWidget*>("lbDias");
    // Today's file (made at start-up) first, then Saturday.
    ASSERT_EQ(dias->count(), 2);
    EXPECT_EQ(dias->item(1)->text(), ToQString("16/03/2024 s\xE1"
                                               "b"));
    QTest::mouseClick(dias->viewport(), Qt::LeftButton, {},
                      dias->visualItemRect(dias->item(1)).center());
    // Read off the program's thread: the window says so until the rows are there.
    EXPECT_TRUE(janelaDias->Carregando());
    EXPECT_TRUE(
        janelaDias->findChild<QLabel*>("lbResumo")->text().startsWith("Carregando 16/03/2024"));
    auto* lendo = janelaDias->findChild<QProgressBar*>("pbCarregando");
    EXPECT_TRUE(lendo->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!janelaDias->Carregando(), 5000);
    EXPECT_FALSE(lendo->isVisible());
    EXPECT_EQ(janelaDias->Mostradas().size(), 300u);
    EXPECT_EQ(janelaDias->findChild<TGraficoHoras*>("grafHoras")->Valores(), saidas);

    // Both nights at once, and back to Saturday alone.
    QTest::mouseClick(dias->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      dias->visualItemRect(dias->item(0)).center());
    QTRY_VERIFY_WITH_TIMEOUT(!janelaDias->Carregando(), 5000);
    EXPECT_EQ(janelaDias->Dia().linhas.size(),
              300u + LeNoite(pasta, NoiteDe(common::Now()), kHoraCorteHistorico).linhas.size());
    QTest::mouseClick(dias->viewport(), Qt::LeftButton, {},
                      dias->visualItemRect(dias->item(1)).center());
    QTRY_VERIFY_WITH_TIMEOUT(!janelaDias->Carregando(), 5000);
    ASSERT_EQ(janelaDias->Mostradas().size(), 300u);

    // A card's story across every night.
    janelaDias->findChild<QLineEdit*>("edBuscaComanda")->setText(ToQString("Jos\xE9"));
    QTest::mouseClick(janelaDias->findChild<QPushButton*>("btBuscar"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!janelaDias->Carregando(), 5000);
    EXPECT_EQ(janelaDias->Dia().linhas.size(), 1u);
    EXPECT_TRUE(janelaDias->findChild<QLabel*>("lbResumo")
                    ->text()
                    .startsWith(ToQString("1 registro da comanda Jos\xE9 em 1 noite")))
        << janelaDias->findChild<QLabel*>("lbResumo")->text().toStdString();
    QTest::mouseClick(dias->viewport(), Qt::LeftButton, {},
                      dias->visualItemRect(dias->item(1)).center());
    QTRY_VERIFY_WITH_TIMEOUT(!janelaDias->Carregando(), 5000);
    ASSERT_EQ(janelaDias->Mostradas().size(), 300u);

    auto* estado = janelaDias->findChild<QComboBox*>("cbFiltroEstado");
    estado->setCurrentIndex(estado->findText("Bloqueado"));
    EXPECT_EQ(static_cast<int>(janelaDias->Mostradas().size()), bloqueados);
    estado->setCurrentIndex(estado->findText("Liberado"));
    auto* terminal = janelaDias->findChild<QComboBox*>("cbFiltroTerminal");
    terminal->setCurrentIndex(terminal->findText("03"));
    EXPECT_EQ(static_cast<int>(janelaDias->Mostradas().size()), do3);
    EXPECT_EQ(janelaDias->Totais().porTerminal.at(3).liberado, do3);
    terminal->setCurrentIndex(0);
    estado->setCurrentIndex(0);
    janelaDias->findChild<QLineEdit*>("edFiltroComanda")->insert(ToQString("Jos\xE9"));
    ASSERT_EQ(janelaDias->Mostradas().size(), 1u);

    const std::filesystem::path csv = pasta.parent_path() / (pasta.filename().string() + ".csv");
    janelaDias->PerguntaArquivo = [&](const QString&) { return QString::fromStdString(csv); };
    QTest::mouseClick(janelaDias->findChild<QPushButton*>("btExportarRegistros"), Qt::LeftButton);
    EXPECT_EQ(Le(csv), CsvLinhas(janelaDias->Dia(), janelaDias->Mostradas()));
    EXPECT_NE(Le(csv).find("\"Jos\xC3\xA9;\"\"VIP\"\"\""), std::string::npos);
    QTest::mouseClick(janelaDias->findChild<QPushButton*>("btExportarTotais"), Qt::LeftButton);
    EXPECT_EQ(Le(csv), CsvTotais(janelaDias->Totais()));
    std::filesystem::remove(csv);

    EXPECT_EQ(Le(arquivo), bytes);
    EXPECT_EQ(std::filesystem::last_write_time(arquivo), quando);
    janelaDias->close();
}
