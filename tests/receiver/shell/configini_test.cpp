// Config.ini through the real main window: first run, the flag and option rules, round trips,
// and the two start-up timers that the flags arm.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "ApoioJanelas.h"
#include "common/qt/Text1252Qt.h"
#include "tests/support/PortaLivre.h"

using namespace apoio;
using common::qt::FromQString;
using lumora::ModoOperacao;

namespace {

const char kPrimeiraVez[] =
    "[CONFIGS]\n"
    "Mensagem_Liberada_Linha1=Saida\n"
    "Mensagem_Liberada_Linha2=Liberada\n"
    "Mensagem_Bloqueada_Linha1=Saida\n"
    "Mensagem_Bloqueada_Linha2=Bloqueada\n"
    "Mensagem_Aguardo_Linha1=Por Favor Libere\n"
    "Mensagem_Aguardo_Linha2=a Comanda\n"
    "Tempo_De_Giro=5\n"
    "Tempo_De_Rele=3\n"
    "Inicio_Automatico=0\n"
    "Inicio_Minimizado=0\n"
    "Lista_Branca=1\n"
    "Lista_Negra=0\n";

class ConfigIniTest : public JanelaTest {
  protected:
    void FechaComSim() {
        dialogos.respostas = {true};
        janela->close();
    }
};

}  // namespace

TEST_F(ConfigIniTest, FirstRunShowsTheDesignValuesAndCloseWritesTheTwelveKeysInOrder) {
    Abre();
    EXPECT_TRUE(Controle<QRadioButton>("rbListaBranca")->isChecked());
    EXPECT_FALSE(Controle<QRadioButton>("rbListaNegra")->isChecked());
    EXPECT_EQ(janela->AjustesAtuais().modo, ModoOperacao::ListaBranca);
    Controle<QRadioButton>("rbListaNegra")->click();
    EXPECT_EQ(janela->AjustesAtuais().modo, ModoOperacao::ListaNegra);
    Controle<QRadioButton>("rbListaBranca")->click();
    EXPECT_EQ(janela->AjustesAtuais().modo, ModoOperacao::ListaBranca);
    EXPECT_FALSE(Controle<QTimer>("tmrAutoCom")->isActive());
    EXPECT_FALSE(Controle<QTimer>("tmrAutoMinimize")->isActive());
    EXPECT_FALSE(std::filesystem::exists(Config()));
    FechaComSim();
    EXPECT_EQ(Le(Config()), kPrimeiraVez);
}

TEST_F(ConfigIniTest, FlagsAndOptionsFollowTheirRules) {
    const struct {
        const char* conteudo;
        bool branca, negra, auto_, minimizado;
    } casos[] = {
        {"[CONFIGS]\nLista_Branca=1\nLista_Negra=1\n", false, true, false, false},
        {"[CONFIGS]\nLista_Branca=0\nLista_Negra=0\n", false, false, false, false},
        {"[CONFIGS]\n", false, true, false, false},  // no mode keys: black list
        {"[CONFIGS]\nLista_Branca=0x1\nLista_Negra=0\n", true, false, false, false},
        {"[CONFIGS]\nLista_Branca=$0\nLista_Negra=-3\n", false, true, false, false},
        // A word or a number followed by other characters is no number: the default applies.
        {"[CONFIGS]\nLista_Branca=sim\nLista_Negra=1x\n", false, true, false, false},
        {"[configs]\ninicio_automatico=0X10\nINICIO_MINIMIZADO=X1\nlista_branca=\"1\"\n"
         "lista_negra=0\n",
         true, false, true, true},
        {"[CONFIGS]\nInicio_Automatico=yes\nInicio_Minimizado=\n", false, true, false, false},
    };
    for (const auto& c : casos) {
        Grava(Config(), c.conteudo);
        Abre();
        EXPECT_EQ(Controle<QRadioButton>("rbListaBranca")->isChecked(), c.branca) << c.conteudo;
        EXPECT_EQ(Controle<QRadioButton>("rbListaNegra")->isChecked(), c.negra) << c.conteudo;
        EXPECT_EQ(Controle<QCheckBox>("ckAutoInit")->isChecked(), c.auto_) << c.conteudo;
        EXPECT_EQ(Controle<QCheckBox>("ckMinimizeInit")->isChecked(), c.minimizado) << c.conteudo;
        // The flags arm the start-up timers.
        EXPECT_EQ(Controle<QTimer>("tmrAutoCom")->isActive(), c.auto_) << c.conteudo;
        EXPECT_EQ(Controle<QTimer>("tmrAutoMinimize")->isActive(), c.minimizado) << c.conteudo;
        const ModoOperacao modo = c.negra    ? ModoOperacao::ListaNegra
                                  : c.branca ? ModoOperacao::ListaBranca
                                             : ModoOperacao::Nenhum;
        EXPECT_EQ(janela->AjustesAtuais().modo, modo) << c.conteudo;
        janela.reset();
    }
}

TEST_F(ConfigIniTest, TextsAndTimesRoundTripAndTheRestOfTheFileStays) {
    // Longer than the 16 a field lets the operator type: shown whole and written back whole.
    const std::string longo = "Obrigado e volte sempre";
    Grava(Config(),
          "; mantido\n"
          "[Outra]\n"
          "x=1\n"
          "\n"
          "[configs]\n"
          "mensagem_liberada_linha1=Sa\xED"
          "da \x80 "
          "5\n"
          "Mensagem_Liberada_Linha2=" +
              longo +
              "\n"
              "Mensagem_Aguardo_Linha2=\n"
              "Tempo_De_Giro=007\n"
              "Tempo_De_Rele=12\n"
              "Lista_Negra=0\n"
              "Lista_Branca=1\n");
    Abre();
    EXPECT_EQ(FromQString(Controle<QLineEdit>("edMsg1Lib")->text()),
              "Sa\xED"
              "da \x80 5");
    EXPECT_EQ(FromQString(Controle<QLineEdit>("edMsg2Lib")->text()), longo);
    EXPECT_EQ(Controle<QLineEdit>("edMsg2Aguardo")->text(), "");
    EXPECT_EQ(Controle<QLineEdit>("edMsg1Blo")->text(), "Saida");  // missing: the default
    EXPECT_EQ(janela->TempoGiro(), 7);
    EXPECT_EQ(janela->TempoRele(), 12);
    const auto ajustes = janela->AjustesAtuais();
    EXPECT_EQ(ajustes.msg1Lib,
              "Sa\xED"
              "da \x80 5");
    EXPECT_EQ(ajustes.tempoGiro, 7);

    Controle<QLineEdit>("edMsg2Blo")->setText(QStringLiteral("Volte"));
    // The engine's next message takes what the fields say now.
    EXPECT_EQ(janela->AjustesAtuais().msg2Blo, "Volte");
    FechaComSim();
    EXPECT_EQ(Le(Config()),
              "; mantido\n"
              "[Outra]\n"
              "x=1\n"
              "\n"
              "[configs]\n"
              "Mensagem_Liberada_Linha1=Sa\xED"
              "da \x80 "
              "5\n"
              "Mensagem_Liberada_Linha2=" +
                  longo +
                  "\n"
                  "Mensagem_Aguardo_Linha2=\n"
                  "Tempo_De_Giro=007\n"
                  "Tempo_De_Rele=12\n"
                  "Lista_Negra=0\n"
                  "Lista_Branca=1\n"
                  "Mensagem_Bloqueada_Linha1=Saida\n"
                  "Mensagem_Bloqueada_Linha2=Volte\n"
                  "Mensagem_Aguardo_Linha1=Por Favor Libere\n"
                  "Inicio_Automatico=0\n"
                  "Inicio_Minimizado=0\n");
}

TEST_F(ConfigIniTest, AnEmptyTimeIsWrittenEmptyAndTakenBackAsTheDesignValue) {
    Abre();
    Controle<QLineEdit>("edTempoGiro")->clear();
    FechaComSim();
    EXPECT_NE(Le(Config()).find("\nTempo_De_Giro=\n"), std::string::npos);
    janela.reset();

    Grava(Config(), "[CONFIGS]\nTempo_De_Giro=\nTempo_De_Rele=abc\n");
    Abre();
    EXPECT_EQ(Controle<QLineEdit>("edTempoGiro")->text(), "5");
    EXPECT_EQ(Controle<QLineEdit>("edTempoRele")->text(), "3");
    EXPECT_EQ(janela->TempoGiro(), 5);
    EXPECT_EQ(janela->TempoRele(), 3);
}

TEST_F(ConfigIniTest, TextsComeBackAsTypedThoughTheFileTrimsAndUnquotesValues) {
    const struct {
        const char* campo;
        const char* texto;
    } casos[] = {
        {"edMsg1Lib", "  Saida"}, {"edMsg2Lib", "Liberada  "}, {"edMsg1Blo", "\"Bloqueada\""},
        {"edMsg2Blo", "'x'"},     {"edMsg1Aguardo", "\t"},     {"edMsg2Aguardo", " \"a\" "},
    };
    Abre();
    for (const auto& c : casos) Controle<QLineEdit>(c.campo)->setText(QString::fromLatin1(c.texto));
    FechaComSim();
    janela.reset();
    Abre();
    for (const auto& c : casos) {
        EXPECT_EQ(FromQString(Controle<QLineEdit>(c.campo)->text()), c.texto) << c.campo;
    }
}

TEST_F(ConfigIniTest, StartMinimisedHidesTheShownWindowAMomentAfterStartUp) {
    Grava(Config(), "[CONFIGS]\nInicio_Minimizado=1\n");
    QElapsedTimer relogio;
    relogio.start();
    Abre();
    janela->show();
    const auto escondida = [&] { return !janela->isVisible() || janela->isMinimized(); };
    EXPECT_FALSE(escondida());
    ASSERT_TRUE(Ate(escondida, 3000));
    // About 200 ms: long enough for the window to have been seen.
    EXPECT_GE(relogio.elapsed(), 150);
}

TEST_F(ConfigIniTest, TheAutomaticStartNeverStopsWhatTheOperatorStarted) {
    const uint16_t porta = lumora::teste::PortaLivre();
    setenv("LUMORA_PORTA_TCP", std::to_string(porta).c_str(), 1);
    Grava(Config(), "[CONFIGS]\nInicio_Automatico=1\n");
    QElapsedTimer relogio;
    relogio.start();
    AbreAtiva();
    // The operator does not wait for it: started at once by hand.
    auto* botao = Controle<QPushButton>("btIniciar");
    QTest::mouseClick(botao, Qt::LeftButton);
    ASSERT_TRUE(janela->Servidor().Escutando());
    auto* tick = Controle<QTimer>("tmrAutoCom");
    ASSERT_TRUE(Ate([&] { return !tick->isActive(); }, 5000));
    QCoreApplication::processEvents();
    EXPECT_GE(relogio.elapsed(), 1900);  // the tick came, about 2 s after start-up
    // Still listening, and terminals can connect.
    EXPECT_TRUE(janela->Servidor().Escutando());
    EXPECT_EQ(botao->text(), common::qt::ToQString(lumora::textos::kParar));
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(porta);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::close(fd);
}

TEST_F(ConfigIniTest, TheListenAddressRoundTripsAndTheButtonListensThereOnly) {
    const uint16_t porta = lumora::teste::PortaLivre();
    setenv("LUMORA_PORTA_TCP", std::to_string(porta).c_str(), 1);
    const auto conecta = [porta](const char* endereco) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(porta);
        ::inet_pton(AF_INET, endereco, &a.sin_addr);
        const bool aceitou = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        return aceitou;
    };
    Grava(Config(), "[CONFIGS]\nEndereco_Escuta=127.0.0.7\n");
    Abre();
    auto* campo = Controle<QLineEdit>("edEnderecoEscuta");
    EXPECT_EQ(campo->text(), "127.0.0.7");
    auto* botao = Controle<QPushButton>("btIniciar");
    QTest::mouseClick(botao, Qt::LeftButton);
    ASSERT_TRUE(janela->Servidor().Escutando());
    EXPECT_TRUE(conecta("127.0.0.7"));
    EXPECT_FALSE(conecta("127.0.0.8"));
    QTest::mouseClick(botao, Qt::LeftButton);

    // One that is no address of this computer: the failure box says so, nothing listens.
    campo->setText(QStringLiteral("192.0.2.123"));
    QTest::mouseClick(botao, Qt::LeftButton);
    EXPECT_FALSE(janela->Servidor().Escutando());
    ASSERT_FALSE(dialogos.chamadas.empty());
    EXPECT_EQ(dialogos.chamadas.back().tipo, "Failure");
    EXPECT_NE(dialogos.chamadas.back().texto.find("192.0.2.123 n\xE3o pertence"),
              std::string::npos);

    const struct {
        const char* digitado;      // nullptr: given on the command line instead
        const char* linhaGravada;  // what the file has after the close
    } casos[] = {
        {"127.0.0.8", "\nEndereco_Escuta=127.0.0.8\n"},
        {nullptr, "\nEndereco_Escuta=127.0.0.8\n"},  // the command line's stays out of the file
        {"", "\nEndereco_Escuta=\n"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.digitado ? c.digitado : "--listen-address");
        if (c.digitado) {
            Controle<QLineEdit>("edEnderecoEscuta")->setText(QString::fromLatin1(c.digitado));
        } else {
            janela->DefineEnderecoEscuta("127.0.0.9");
            EXPECT_TRUE(Controle<QLineEdit>("edEnderecoEscuta")->isReadOnly());
        }
        FechaComSim();
        EXPECT_NE(Le(Config()).find(c.linhaGravada), std::string::npos) << Le(Config());
        janela.reset();
        Abre();
    }
    EXPECT_EQ(Controle<QLineEdit>("edEnderecoEscuta")->text(), "");
}
