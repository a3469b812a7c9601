// The IP address edit control in a real window, driven through QTest's keys and mouse.
#include "manager/shell/IPEdit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "common/Exception.h"
#include "common/Unhandled.h"

namespace {

using modrevo::TIPEdit;

// A window with a field before the control and a button after it.
class IPEditTest : public ::testing::Test {
  protected:
    void SetUp() override {
        common::SetUnhandledFailureHandler([this](const std::string& t) { falhas.push_back(t); });
        auto* layout = new QHBoxLayout(&janela);
        for (QWidget* w : std::initializer_list<QWidget*>{antes, ip, botao}) {
            layout->addWidget(w);
        }
        QObject::connect(botao, &QPushButton::clicked, [this] { noClique.push_back(ip->Text()); });
        antes->setFocus();
        janela.show();
        janela.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&janela));
    }
    void TearDown() override { common::SetUnhandledFailureHandler({}); }

    QLineEdit* Octeto(int i) { return ip->Octeto(i); }
    static QWidget* Foco() { return QApplication::focusWidget(); }
    // Tab from the field before the control.
    void Entra() {
        antes->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(antes, Qt::Key_Tab);
        ASSERT_EQ(Foco(), Octeto(0));
    }
    // Each key to wherever the focus is by then, as the keyboard does.
    static void Digita(const char* texto) {
        for (const char* c = texto; *c; ++c) QTest::keyClick(Foco(), *c);
    }

    QWidget janela;
    QLineEdit* antes = new QLineEdit(&janela);
    TIPEdit* ip = new TIPEdit(&janela);
    QPushButton* botao = new QPushButton(QStringLiteral("OK"), &janela);
    std::vector<std::string> falhas;
    std::vector<std::string> noClique;
};

TEST_F(IPEditTest, WritingTextNormalisesEachPart) {
    struct Caso {
        const char *antes, *escrito, *lido;
    };
    const Caso casos[] = {
        {"0.0.0.0", "192.168.001.010", "192.168.1.10"},
        {"0.0.0.0", "  300.1.1.1  ", "44.1.1.1"},
        {"0.0.0.0", "\t\r\n300.1.1.1\x01\x1F", "44.1.1.1"},
        {"0.0.0.0", "a.b.c.d", "0.0.0.0"},
        {"0.0.0.0", "12x.5.6.7", "12.5.6.7"},
        {"0.0.0.0", "1.2.3.4.5", "1.2.3.4"},
        {"1.2.3.4", "10.0.0", "10.0.0.4"},
        {"1.2.3.4", " \t ", "0.2.3.4"},
        {"0.0.0.0", "1..3.4", "1.0.3.4"},
        {"0.0.0.0", "1.  9.7 .4", "1.9.7.4"},
        // Any number of digits, reduced exactly.
        {"0.0.0.0", "99999999999999999999999.100000000000000000000001.4294967296.4294967597",
         "255.1.0.45"},
        {"0.0.0.0", "18446744073709551916", "44.0.0.0"},
        {"0.0.0.0", "$FF.0x1F.X10.xa", "255.31.16.10"},
        {"0.0.0.0", "$1FF.0Xfg.$.0x", "255.15.0.0"},
        // The sign stays, but only on a part read to its end; a long one is kept whole.
        {"0.0.0.0", "-5.+7.-300.-0", "-5.7.-44.0"},
        {"0.0.0.0", "-255.-256.-$10.-", "-255.0.-16.0"},
        {"0.0.0.0", "-5x.+7 . -9.-0x1z", "5.7.-9.1"},
    };
    for (const auto& c : casos) {
        ip->SetText(c.antes);
        ip->SetText(c.escrito);
        EXPECT_EQ(ip->Text(), c.lido) << '"' << c.escrito << '"';
    }
}

TEST_F(IPEditTest, ValueReadAndWritten) {
    for (uint32_t valor : {3232235521u, 0u, 0xFFFFFFFFu, 0x01020304u}) {
        ip->SetText("9.9.9.9");
        ip->SetValue(valor);
        EXPECT_EQ(ip->Value(), valor);
    }
    ip->SetText("192.168.0.1");
    EXPECT_EQ(ip->Value(), 3232235521u);
    ip->SetValue(0);
    EXPECT_EQ(ip->Text(), "0.0.0.0");

    // No masking: octets outside 0..255 spill into the bytes above them. Anything else in an
    // octet is the standard conversion error.
    struct Caso {
        const char *octetos[4], *erro;
        uint32_t valor;
    };
    const Caso casos[] = {
        {{"0", "0", "1", "256"}, nullptr, 0x100u},
        {{"0", "0", "0", "-1"}, nullptr, 0xFFFFFFFFu},
        {{"-1", "0", "0", "5"}, nullptr, 0xFF000005u},
        {{"1", "2", "", "4"}, "'' is not a valid integer value", 0},
        {{"1a", "2", "3", "4"}, "'1a' is not a valid integer value", 0},
    };
    for (const auto& c : casos) {
        for (int i = 0; i < 4; ++i) Octeto(i)->setText(QString::fromLatin1(c.octetos[i]));
        try {
            EXPECT_EQ(ip->Value(), c.valor) << ip->Text();
            EXPECT_EQ(c.erro, nullptr) << ip->Text();
        } catch (const common::EConvertError& e) {
            EXPECT_EQ(e.Message(), c.erro ? c.erro : "") << ip->Text();
        }
    }
}

TEST_F(IPEditTest, TypingGoesThroughTheFilter) {
    Entra();
    ip->SetText("9.9.9.9");
    Octeto(0)->selectAll();
    // The dot moves on and selects, so the next digits replace the old text.
    Digita("192.");
    EXPECT_EQ(Foco(), Octeto(1));
    EXPECT_EQ(Octeto(1)->selectedText(), QStringLiteral("9"));
    Digita("168.1.25.");
    EXPECT_EQ(ip->Text(), "192.168.1.25");

    struct Caso {
        const char* digitado;
        QString resultado;
    };
    // In octet 3, where a dot does nothing.
    const Caso casos[] = {{"1a2-b 3", QStringLiteral("123")},
                          {"1234", QStringLiteral("123")},
                          {"7.", QStringLiteral("7")},
                          {"+$x,", QString()}};
    for (const auto& c : casos) {
        Octeto(3)->clear();
        Digita(c.digitado);
        EXPECT_EQ(Octeto(3)->text(), c.resultado) << c.digitado;
        EXPECT_EQ(Foco(), Octeto(3));
    }

    // Shortcuts that type control characters are dropped; keys that type nothing work.
    QApplication::clipboard()->setText(QStringLiteral("77"));
    ASSERT_EQ(QApplication::clipboard()->text(), QStringLiteral("77"));
    Octeto(3)->setText(QStringLiteral("12"));
    QTest::keyClick(Foco(), Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(Foco(), Qt::Key_A, Qt::ControlModifier);
    Digita("5");
    Octeto(3)->selectAll();
    QTest::keyClick(Foco(), Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(Octeto(3)->text(), QStringLiteral("125"));
    for (auto tecla : {Qt::Key_End, Qt::Key_Backspace, Qt::Key_Home, Qt::Key_Delete}) {
        QTest::keyClick(Foco(), tecla);
    }
    EXPECT_EQ(Octeto(3)->text(), QStringLiteral("2"));

    // Text that does not come as a plain key is held to digits as well.
    const struct {
        const char* nome;
        std::function<void()> entrada;
    } entradas[] = {
        {"Alt+letter", [&] { QTest::keyClick(Foco(), Qt::Key_Q, Qt::AltModifier); }},
        {"Alt+Shift+letter",
         [&] { QTest::keyClick(Foco(), Qt::Key_Q, Qt::AltModifier | Qt::ShiftModifier); }},
        {"input method",
         [&] {
             QInputMethodEvent im;
             im.setCommitString(QStringLiteral("x5"));
             QApplication::sendEvent(Foco(), &im);
         }},
        {"pasted text", [&] { Octeto(3)->insert(QStringLiteral("4-")); }},
    };
    for (const auto& e : entradas) {
        Octeto(3)->setText(QStringLiteral("12"));
        e.entrada();
        EXPECT_EQ(Octeto(3)->text(), QStringLiteral("12")) << e.nome;
    }
    // Digits that come those ways are taken.
    QInputMethodEvent im;
    im.setCommitString(QStringLiteral("5"));
    QApplication::sendEvent(Foco(), &im);
    EXPECT_EQ(Octeto(3)->text(), QStringLiteral("125"));
}

TEST_F(IPEditTest, LeavingAnOctetKeepsItsValueModulo256) {
    struct Caso {
        const char* digitado;
        Qt::Key saida;  // Key_unknown: a click on the button
        const char* texto;
    };
    const Caso casos[] = {
        {"007", Qt::Key_Tab, "0.7.0.0"},     {"256", Qt::Key_Backtab, "0.0.0.0"},
        {"300", Qt::Key_Period, "0.44.0.0"}, {"999", Qt::Key_unknown, "0.231.0.0"},
        {"255", Qt::Key_Tab, "0.255.0.0"},
    };
    for (const auto& c : casos) {
        ip->SetText("0.0.0.0");
        noClique.clear();
        Entra();
        Digita(".");
        Digita(c.digitado);
        ASSERT_EQ(ip->Text(), std::string("0.") + c.digitado + ".0.0");
        if (c.saida == Qt::Key_unknown) {
            QTest::mouseClick(botao, Qt::LeftButton);
            // The button's own handler already sees the octet as it was left.
            EXPECT_EQ(noClique, std::vector<std::string>{c.texto});
        } else {
            QTest::keyClick(Foco(), c.saida,
                            c.saida == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
        }
        QWidget* destino = c.saida == Qt::Key_unknown   ? static_cast<QWidget*>(botao)
                           : c.saida == Qt::Key_Backtab ? Octeto(0)
                                                        : Octeto(2);
        EXPECT_EQ(Foco(), destino) << c.digitado;
        EXPECT_EQ(ip->Text(), c.texto) << c.digitado;
    }
    EXPECT_TRUE(falhas.empty());
}

TEST_F(IPEditTest, LeavingAnEmptyOctetReportsTheConversionAndKeepsIt) {
    Entra();
    Digita(".");
    QTest::keyClick(Foco(), Qt::Key_Delete);
    QTest::keyClick(Foco(), Qt::Key_Tab);
    // The box comes once the focus has settled.
    EXPECT_TRUE(QTest::qWaitFor([this] { return !falhas.empty(); }, 1000));
    EXPECT_EQ(falhas, std::vector<std::string>{"'' is not a valid integer value."});
    EXPECT_EQ(Foco(), Octeto(2));
    EXPECT_EQ(ip->Text(), "0..0.0");
}

TEST_F(IPEditTest, FocusEntersAtOctetZero) {
    QSignalSpy entradas(ip, &TIPEdit::entered);
    QSignalSpy saidas(ip, &TIPEdit::exited);
    ip->SetText("1.2.3.4");
    // Tab from before, Shift+Tab from after, a click on octet 2, a click on octet 0.
    for (int como = 0; como < 4; ++como) {
        antes->setFocus(Qt::OtherFocusReason);
        entradas.clear();
        saidas.clear();
        if (como == 0) QTest::keyClick(antes, Qt::Key_Tab);
        if (como == 1) {
            botao->setFocus(Qt::OtherFocusReason);
            QTest::keyClick(botao, Qt::Key_Backtab, Qt::ShiftModifier);
        }
        if (como >= 2) QTest::mouseClick(Octeto(como == 2 ? 2 : 0), Qt::LeftButton);
        EXPECT_EQ(Foco(), Octeto(0)) << como;
        EXPECT_EQ(entradas.size(), 1) << como;
        EXPECT_EQ(saidas.size(), 0) << como;
        // A click inside octet 0 itself places the caret, as in any field.
        if (como < 3) {
            EXPECT_EQ(Octeto(0)->selectedText(), QStringLiteral("1")) << como;
        }
    }
    EXPECT_EQ(ip->Text(), "1.2.3.4");

    // Moving among its own octets is neither entering nor leaving; going past the last is.
    entradas.clear();
    for (int i = 1; i < 4; ++i) QTest::keyClick(Foco(), Qt::Key_Tab);
    EXPECT_EQ(Foco(), Octeto(3));
    EXPECT_EQ(saidas.size(), 0);
    QTest::keyClick(Foco(), Qt::Key_Tab);
    EXPECT_EQ(Foco(), botao);
    EXPECT_EQ(entradas.size(), 0);
    EXPECT_EQ(saidas.size(), 1);
}

TEST_F(IPEditTest, AnotherWindowIsNoLeave) {
    QSignalSpy entradas(ip, &TIPEdit::entered);
    QSignalSpy saidas(ip, &TIPEdit::exited);
    Entra();
    Digita(".999");
    QWidget outra;
    outra.show();
    outra.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&outra));
    janela.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&janela));
    EXPECT_EQ(Foco(), Octeto(1));
    EXPECT_EQ(ip->Text(), "0.999.0.0");
    EXPECT_EQ(entradas.size(), 1);
    EXPECT_EQ(saidas.size(), 0);
}

TEST_F(IPEditTest, ClicksOnOctetsAndDots) {
    QSignalSpy cliques(ip, &TIPEdit::clicked);
    QSignalSpy duplos(ip, &TIPEdit::doubleClicked);
    // An octet from outside, an octet from inside, a dot.
    const std::pair<QWidget*, QPoint> alvos[] = {
        {Octeto(3), Octeto(3)->rect().center()},
        {Octeto(1), Octeto(1)->rect().center()},
        {ip, ip->Separador(1)->geometry().center()},
    };
    for (const auto& [widget, ponto] : alvos) {
        cliques.clear();
        duplos.clear();
        QTest::mouseClick(widget, Qt::LeftButton, {}, ponto);
        EXPECT_EQ(cliques.size(), 1);
        EXPECT_EQ(duplos.size(), 0);
        QTest::mouseDClick(widget, Qt::LeftButton, {}, ponto);
        EXPECT_EQ(duplos.size(), 1);
    }
}

TEST_F(IPEditTest, DisabledControlTakesNoFocus) {
    for (bool habilitado : {false, true}) {
        ip->SetEnabled(habilitado);
        EXPECT_EQ(ip->IsEnabled(), habilitado);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(Octeto(i)->isEnabled(), habilitado);
            EXPECT_EQ(ip->Separador(i)->isEnabled(), habilitado);
        }
        antes->setFocus(Qt::OtherFocusReason);
        QTest::mouseClick(Octeto(1), Qt::LeftButton);
        EXPECT_EQ(Foco(), habilitado ? Octeto(0) : static_cast<QWidget*>(antes));
        antes->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(antes, Qt::Key_Tab);
        EXPECT_EQ(Foco(), habilitado ? Octeto(0) : static_cast<QWidget*>(botao));
    }
}

TEST_F(IPEditTest, ChangedOncePerOctetThatChanges) {
    QSignalSpy mudancas(ip, &TIPEdit::changed);
    const std::pair<const char*, int> casos[] = {
        {"1.2.3.4", 4}, {"1.2.3.4", 0}, {"1.2.3.5", 1}, {"7", 1}};
    for (const auto& [texto, quantas] : casos) {
        mudancas.clear();
        ip->SetText(texto);
        EXPECT_EQ(mudancas.size(), quantas) << texto;
    }
    mudancas.clear();
    ip->SetValue(0x07020300);
    Entra();
    Digita("12");
    EXPECT_EQ(mudancas.size(), 3);
}

TEST_F(IPEditTest, NewControlAndLayout) {
    EXPECT_EQ(ip->Text(), "0.0.0.0");
    EXPECT_EQ(ip->focusPolicy(), Qt::NoFocus);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ip->findChild<QLineEdit*>(QStringLiteral("octeto%1").arg(i)), Octeto(i));
        EXPECT_EQ(ip->Octeto(i)->Tag(), i);
        EXPECT_EQ(ip->Separador(i)->isVisible(), i < 3);
    }
    for (auto borda : {TIPEdit::Borda::Simples, TIPEdit::Borda::Nenhuma}) {
        QWidget pai;
        pai.resize(500, 100);
        auto& solto = *new TIPEdit(&pai);
        EXPECT_EQ(solto.height(), 21);
        solto.SetBorderStyle(borda);
        pai.show();
        // Too small grows to one line of text; wide, the octets share the width.
        solto.resize(10, 3);
        const QFontMetrics metricas(solto.font());
        const QRect cliente = solto.contentsRect();
        EXPECT_EQ(cliente == solto.rect(), borda == TIPEdit::Borda::Nenhuma);
        EXPECT_GE(cliente.height(), metricas.height());
        solto.resize(400, 60);
        int direita = -1;
        for (int i = 0; i < 4; ++i) {
            const QRect octeto = solto.Octeto(i)->geometry();
            EXPECT_GE(octeto.width(), metricas.horizontalAdvance(QStringLiteral("000")));
            EXPECT_NEAR(octeto.top() - cliente.top(),
                        solto.contentsRect().bottom() - octeto.bottom(), 1);
            EXPECT_GT(octeto.left(), direita);
            if (i < 3) {
                EXPECT_GT(solto.Separador(i)->geometry().left(), octeto.right());
            }
            direita = solto.Separador(i)->geometry().right();
        }
        EXPECT_GT(solto.Octeto(3)->geometry().right(), solto.contentsRect().right() - 8);
        EXPECT_LE(solto.Octeto(3)->geometry().right(), solto.contentsRect().right());
    }
}

}  // namespace

// One application object for the whole run, destroyed before exit.
int main(int argc, char* argv[]) {
    ::testing::InitGoogleTest(&argc, argv);
    // The windows never need a screen here, not even when the tests are only being listed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Modrevo"));
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
