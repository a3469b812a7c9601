#include "receiver/control/Motor.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "common/Exception.h"
#include "receiver/control/LimiteJornal.h"

using namespace lumora;
using common::DateTime;

namespace {

DateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return *DateTime::FromParts(y, mo, d, h, mi, s);
}

const DateTime kAgora = At(2025, 3, 1, 10, 0, 0);

// A connection that records what was sent, and what the tables looked like at that moment,
// so that tests can tell that the reply went out before the row or the pending card.
struct ConexaoFalsa : IConexaoTerminal {
    explicit ConexaoFalsa(const TabelasReceptor& t) : tabelas(t) {}
    ComandaPendente& Pendente() override { return pendente; }
    const std::string& Endereco() const override { return endereco; }
    void Envia(const std::string& texto) override {
        enviados.push_back(texto);
        linhasAoEnviar.push_back(tabelas.cdsHistorico.RecordCount());
        pendenteAoEnviar.push_back(pendente.comanda);
    }
    const TabelasReceptor& tabelas;
    ComandaPendente pendente;
    std::string endereco = "127.0.0.21";
    std::vector<std::string> enviados;
    std::vector<int> linhasAoEnviar;
    std::vector<std::string> pendenteAoEnviar;
};

// The card list "file" is a vector; reloads and saves are counted and can be made to fail.
struct ArquivosFalsos : IArquivosMotor {
    explicit ArquivosFalsos(TabelasReceptor& t) : tabelas(t) {}
    void RecarregaComandas() override {
        ++recargas;
        estadoAoRecarregar = tabelas.cdsComandas.State();
        if (falhaRecarga) {
            tabelas.cdsComandas.Close();
            throw common::EFileError("Cannot open file \"Comandas.xml\". Permission denied");
        }
        std::vector<common::Row> linhas;
        for (const auto& c : arquivo) linhas.push_back({c});
        tabelas.cdsComandas.Load(std::move(linhas));
    }
    void SalvaHistorico() override {
        ++salvamentos;
        if (falhaSalvar) throw common::EFileError("disk full");
    }
    TabelasReceptor& tabelas;
    std::vector<std::string> arquivo;
    int recargas = 0;
    common::TableState estadoAoRecarregar = common::TableState::Inactive;
    int salvamentos = 0;
    bool falhaRecarga = false;
    bool falhaSalvar = false;
};

struct Linha {
    DateTime dataHora;
    std::string cracha, estado;
    int terminal;
};

class MotorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        common::SetClock([] { return kAgora; });
        t.cdsEquipamentos.Open();
        t.cdsComandas.Open();
        t.cdsHistorico.Open();
        for (auto [num, ip] : {std::pair{"01", "127.0.0.21"}, {"02", "127.0.0.22"}}) {
            t.cdsEquipamentos.Insert();
            t.cdsEquipamentos.SetString(campo::kNumEquipamento, num);
            t.cdsEquipamentos.SetString(campo::kIP, ip);
            t.cdsEquipamentos.Post();
        }
        arquivos.arquivo = {"0000000000001234", "0000000000005678"};
    }
    void TearDown() override { common::SetClock(nullptr); }

    std::vector<Linha> Historico() {
        std::vector<Linha> linhas;
        auto& h = t.cdsHistorico;
        for (h.First(); !h.Eof(); h.Next()) {
            linhas.push_back({h.AsDateTime(campo::kDataHora), h.AsString(campo::kCracha),
                              h.AsString(campo::kEstado), h.AsInteger(campo::kTerminal)});
        }
        return linhas;
    }
    static std::string Leitura(const std::string& terminal, const std::string& comanda) {
        return terminal + ";09;;" + comanda + ";;25;12;24;14;31;05;";
    }

    TabelasReceptor t;
    AjustesFixos ajustes;
    ArquivosFalsos arquivos{t};
    TMotorSaida motor{t, ajustes, arquivos};
    ConexaoFalsa conexao{t};
};

const std::string kEntrega = "01;20;03;Por Favor Libere;   a Comanda    ;\r";
const std::string kRecusa = "01;03;05;     Saida      ;   Bloqueada    ;\r";

}  // namespace

TEST_F(MotorTest, CardReadFollowsTheOperatingMode) {
    const struct {
        ModoOperacao modo;
        std::string comanda;
        bool liberada;
    } casos[] = {
        {ModoOperacao::ListaNegra, "0000000000001234", false},
        {ModoOperacao::ListaNegra, "0000000000009999", true},
        {ModoOperacao::ListaBranca, "0000000000001234", true},
        {ModoOperacao::ListaBranca, "0000000000009999", false},
        // The card is looked up as sent: no padding, no blanks or NUL dropped.
        {ModoOperacao::ListaBranca, "1234", false},
        {ModoOperacao::ListaBranca, "0000000000001234 ", false},
        {ModoOperacao::ListaBranca, std::string("0000000000001234\0", 17), false},
        {ModoOperacao::ListaNegra, "0000000000001234 ", true},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.comanda);
        TabelasReceptor tabelas;
        tabelas.cdsEquipamentos.Load({{std::string("01"), std::string("127.0.0.21")}});
        tabelas.cdsHistorico.Open();
        ArquivosFalsos arq(tabelas);
        arq.arquivo = arquivos.arquivo;
        AjustesFixos a;
        a.valores.modo = c.modo;
        TMotorSaida m(tabelas, a, arq);
        ConexaoFalsa con(tabelas);

        m.ProcessaPacote(Leitura("01", c.comanda), con);

        EXPECT_EQ(arq.recargas, 1);
        // A refusal's row is saved at once; a card let through waits for its result.
        EXPECT_EQ(arq.salvamentos, c.liberada ? 0 : 1);
        ASSERT_EQ(con.enviados.size(), 1u);
        EXPECT_EQ(con.linhasAoEnviar[0], 0);
        EXPECT_EQ(con.pendenteAoEnviar[0], "");
        if (c.liberada) {
            EXPECT_EQ(con.enviados[0], kEntrega);
            EXPECT_EQ(tabelas.cdsHistorico.RecordCount(), 0);
            EXPECT_EQ(con.pendente.comanda, c.comanda.substr(0, 16));
            EXPECT_EQ(con.pendente.dataHora, At(2024, 12, 25, 14, 31, 5));
        } else {
            EXPECT_EQ(con.enviados[0], kRecusa);
            ASSERT_EQ(tabelas.cdsHistorico.RecordCount(), 1);
            tabelas.cdsHistorico.First();
            EXPECT_EQ(tabelas.cdsHistorico.AsString(campo::kCracha),
                      common::StoreText(c.comanda, 16));
            EXPECT_EQ(tabelas.cdsHistorico.AsString(campo::kEstado), "Bloqueado");
            EXPECT_EQ(tabelas.cdsHistorico.AsDateTime(campo::kDataHora), kAgora);
            EXPECT_EQ(tabelas.cdsHistorico.AsInteger(campo::kTerminal), 1);
            EXPECT_FALSE(con.pendente.Presente());
        }
    }
}

TEST_F(MotorTest, NoModeChosenReloadsButAnswersNothing) {
    ajustes.valores.modo = ModoOperacao::Nenhum;
    conexao.pendente = {"0000000000000042", At(2025, 1, 1)};
    motor.ProcessaPacote(Leitura("01", "0000000000001234"), conexao);
    EXPECT_EQ(arquivos.recargas, 1);
    EXPECT_TRUE(conexao.enviados.empty());
    EXPECT_TRUE(Historico().empty());
    EXPECT_EQ(conexao.pendente.comanda, "0000000000000042");
    // Releases and turnstile results go on as usual.
    motor.ProcessaPacote("01;21;", conexao);
    EXPECT_EQ(conexao.enviados.size(), 1u);
}

TEST_F(MotorTest, TurnstileResultWritesTheRowAndSaves) {
    const struct {
        bool pendente;
        std::string resultado;
        std::string cracha, estado;
    } casos[] = {
        {true, "G", "0000000000001234", "Liberado"},
        {true, "g", "0000000000001234", "N\xE3o Girou"},
        {true, "GG", "0000000000001234", "N\xE3o Girou"},
        {true, "", "0000000000001234", "N\xE3o Girou"},
        {false, "G", "Sentido Livre", "Liberado"},
        {false, "N", "Sentido Livre", "Liberado"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.resultado + (c.pendente ? " pending" : " free"));
        t.cdsHistorico.Empty();
        arquivos.salvamentos = 0;
        if (c.pendente) conexao.pendente = {"0000000000001234", At(2024, 12, 25, 14, 31, 5)};
        motor.ProcessaPacote("01;10;" + c.resultado + ";;", conexao);
        EXPECT_TRUE(conexao.enviados.empty());
        const auto h = Historico();
        ASSERT_EQ(h.size(), 1u);
        EXPECT_EQ(h[0].cracha, c.cracha);
        EXPECT_EQ(h[0].estado, c.estado);
        EXPECT_EQ(h[0].dataHora, c.pendente ? At(2024, 12, 25, 14, 31, 5) : kAgora);
        EXPECT_EQ(h[0].terminal, 1);
        EXPECT_FALSE(conexao.pendente.Presente());
        EXPECT_EQ(conexao.pendente.comanda, "");
        EXPECT_EQ(arquivos.salvamentos, 1);
    }
}

TEST_F(MotorTest, ReleaseRequestAnswersWithTheLiveSettings) {
    conexao.pendente = {"0000000000001234", At(2025, 1, 1)};
    motor.ProcessaPacote("01;21", conexao);
    ajustes.valores.tempoGiro = 120;
    ajustes.valores.msg1Lib = "Boa noite";
    ajustes.valores.msg2Lib = "texto longo demais para o visor";
    motor.ProcessaPacote("$01;2$1;", conexao);
    ASSERT_EQ(conexao.enviados.size(), 2u);
    EXPECT_EQ(conexao.enviados[0], "01;02;S;05;     Saida      ;    Liberada    ;\r");
    EXPECT_EQ(conexao.enviados[1], "01;02;S;120;   Boa noite    ;texto longo dema;\r");
    EXPECT_TRUE(Historico().empty());
    EXPECT_EQ(conexao.pendente.comanda, "0000000000001234");
    EXPECT_EQ(arquivos.recargas, 0);
}

TEST_F(MotorTest, UnregisteredTerminalGetsTheFixedRefusalForEveryCode) {
    conexao.pendente = {"0000000000001234", At(2025, 1, 1)};
    for (const std::string texto :
         {"07;09;;0000000000001234;;25;12;24;14;31;05;", "07;10;G;;", "07;21;"}) {
        SCOPED_TRACE(texto);
        conexao.enviados.clear();
        t.cdsHistorico.Empty();
        motor.ProcessaPacote(texto, conexao);
        ASSERT_EQ(conexao.enviados.size(), 1u);
        EXPECT_EQ(conexao.enviados[0], "07;03;05;  Equipamento   ; Nao Cadastrado ;\r");
        EXPECT_EQ(conexao.linhasAoEnviar[0], 0);
        const auto h = Historico();
        ASSERT_EQ(h.size(), 1u);
        EXPECT_EQ(h[0].cracha, "");
        EXPECT_EQ(h[0].estado, "Equip. N\xE3o Cadastrad");
        EXPECT_EQ(h[0].estado.size(), 20u);
        EXPECT_EQ(h[0].terminal, 7);
        EXPECT_EQ(h[0].dataHora, kAgora);
    }
    EXPECT_EQ(conexao.pendente.comanda, "0000000000001234");
    EXPECT_EQ(arquivos.recargas, 0);
    // Each row is on disk before the next message.
    EXPECT_EQ(arquivos.salvamentos, 3);
}

TEST_F(MotorTest, OtherCodesAreIgnored) {
    for (const std::string texto : {"01;11;", "01;abc;", "07;20;", "01;;", "", "01;265;x;y;"}) {
        arquivos.recargas = 0;
        motor.ProcessaPacote(texto, conexao);
        if (texto == "01;265;x;y;") {
            // 265 is a card read: only the low eight bits of the code count.
            EXPECT_EQ(arquivos.recargas, 1);
            EXPECT_EQ(conexao.enviados.size(), 1u);
        } else {
            EXPECT_TRUE(conexao.enviados.empty()) << texto;
            EXPECT_EQ(arquivos.recargas, 0);
        }
    }
}

TEST_F(MotorTest, TerminalNumberIsCutToTheEquipmentWidth) {
    motor.ProcessaPacote("1;21;", conexao);
    EXPECT_EQ(conexao.enviados.back(), "1;03;05;  Equipamento   ; Nao Cadastrado ;\r");
    motor.ProcessaPacote("012;21;", conexao);
    EXPECT_EQ(conexao.enviados.back().substr(0, 8), "012;02;S");
    motor.ProcessaPacote(Leitura("012", "0000000000009999"), conexao);
    EXPECT_EQ(conexao.enviados.back().substr(0, 7), "012;03;");
    const auto h = Historico();
    ASSERT_EQ(h.size(), 2u);
    EXPECT_EQ(h[0].terminal + h[1].terminal, 13);  // rows of "1" and "012"
    EXPECT_EQ(h[0].terminal * h[1].terminal, 12);
    EXPECT_EQ(motor.RetornaIpEquipamento("01"), "127.0.0.21");
    EXPECT_EQ(motor.RetornaIpEquipamento(""), "NC");
}

TEST_F(MotorTest, PendingCardLifecycle) {
    // A long card number is remembered by its first 16 characters.
    arquivos.arquivo.push_back("12345678901234567890");
    motor.ProcessaPacote(Leitura("01", "12345678901234567890"), conexao);
    EXPECT_EQ(conexao.pendente.comanda, "1234567890123456");
    // A second card replaces the first, which never gets a row.
    motor.ProcessaPacote("01;09;;0000000000005678;;;;;;;", conexao);
    EXPECT_EQ(conexao.pendente.comanda, "0000000000005678");
    EXPECT_EQ(conexao.pendente.dataHora, kAgora);  // unreadable date: the receiver's time
    // Refusals, releases and unregistered numbers leave it alone.
    motor.ProcessaPacote(Leitura("01", "0000000000009999"), conexao);
    motor.ProcessaPacote("01;21;", conexao);
    motor.ProcessaPacote("09;10;G;;", conexao);
    EXPECT_EQ(conexao.pendente.comanda, "0000000000005678");
    common::SetClock([] { return At(2025, 3, 1, 11, 0, 0); });
    motor.ProcessaPacote("01;10;G;;", conexao);
    const auto h = Historico();
    ASSERT_EQ(h.size(), 3u);  // newest first
    EXPECT_EQ(h[0].estado, "Bloqueado");
    EXPECT_EQ(h[1].estado, "Equip. N\xE3o Cadastrad");
    EXPECT_EQ(h[2].cracha, "0000000000005678");
    EXPECT_EQ(h[2].estado, "Liberado");
    EXPECT_EQ(h[2].dataHora, kAgora);
}

TEST_F(MotorTest, EmptyCardNumberLetThroughIsStillPending) {
    ajustes.valores.modo = ModoOperacao::ListaNegra;
    motor.ProcessaPacote(Leitura("01", ""), conexao);
    EXPECT_TRUE(conexao.pendente.Presente());
    motor.ProcessaPacote("01;10;X;;", conexao);
    const auto h = Historico();
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].cracha, "");
    EXPECT_EQ(h[0].estado, "N\xE3o Girou");
}

TEST_F(MotorTest, TerminalNumberThatIsNotAnIntegerFailsAfterTheReply) {
    try {
        motor.ProcessaPacote("ab;21;", conexao);
        FAIL() << "expected a conversion error";
    } catch (const common::EConvertError& e) {
        EXPECT_EQ(e.Message(), "'ab' is not a valid integer value");
    }
    EXPECT_EQ(conexao.enviados.size(), 1u);
    EXPECT_TRUE(Historico().empty());

    // Registered through its first two characters, refused card: reply, then the error.
    EXPECT_THROW(motor.ProcessaPacote(Leitura("01x", "0000000000009999"), conexao),
                 common::EConvertError);
    EXPECT_EQ(conexao.enviados.size(), 2u);
    EXPECT_TRUE(Historico().empty());

    // Turnstile result: the pending card stays and nothing is saved.
    conexao.pendente = {"0000000000001234", At(2025, 1, 1)};
    EXPECT_THROW(motor.ProcessaPacote("01x;10;G;;", conexao), common::EConvertError);
    EXPECT_EQ(conexao.pendente.comanda, "0000000000001234");
    EXPECT_EQ(arquivos.salvamentos, 0);
    EXPECT_TRUE(Historico().empty());
    EXPECT_EQ(t.cdsHistorico.State(), common::TableState::Browse);
}

TEST_F(MotorTest, CardListThatCannotBeReloadedStopsBeforeTheReply) {
    arquivos.falhaRecarga = true;
    conexao.pendente = {"0000000000001234", At(2025, 1, 1)};
    EXPECT_THROW(motor.ProcessaPacote(Leitura("01", "0000000000001234"), conexao),
                 common::EFileError);
    EXPECT_TRUE(conexao.enviados.empty());
    EXPECT_TRUE(Historico().empty());
    EXPECT_EQ(conexao.pendente.comanda, "0000000000001234");
    // Once the file is back the next read is answered.
    arquivos.falhaRecarga = false;
    motor.ProcessaPacote(Leitura("01", "0000000000001234"), conexao);
    EXPECT_EQ(conexao.enviados.size(), 1u);
}

TEST_F(MotorTest, UnpostedCardListChangeIsDiscardedBeforeTheReload) {
    t.cdsComandas.Insert();
    t.cdsComandas.SetString(campo::kNumComanda, "9999");
    motor.ProcessaPacote(Leitura("01", "0000000000001234"), conexao);
    // Dropped by the engine itself before the reload, not by whatever the reload does.
    EXPECT_EQ(arquivos.estadoAoRecarregar, common::TableState::Browse);
    EXPECT_EQ(t.cdsComandas.State(), common::TableState::Browse);
    EXPECT_FALSE(t.cdsComandas.FindKey("9999"));
}

TEST_F(MotorTest, HistorySaveFailureKeepsTheRowsInMemory) {
    arquivos.falhaSalvar = true;
    EXPECT_THROW(motor.ProcessaPacote("01;10;G;;", conexao), common::EFileError);
    EXPECT_EQ(Historico().size(), 1u);
}

TEST_F(MotorTest, ReverseLookupTakesTheFirstRowWithTheExactAddress) {
    t.cdsEquipamentos.Load({{std::string("05"), std::string("127.0.0.9")},
                            {std::string("03"), std::string("127.0.0.9")},
                            {std::string("04"), std::string("127.000.0.10")}});
    EXPECT_EQ(motor.RetornaNumEquipamento("127.0.0.9"), "03");
    EXPECT_EQ(motor.RetornaNumEquipamento("127.0.0.10"), "");
    EXPECT_EQ(motor.RetornaNumEquipamento(""), "");
}

TEST_F(MotorTest, UnregisteredFloodGetsEveryReplyButFewRows) {
    const std::string kOutro = "127.0.0.99";
    ConexaoFalsa outra(t);
    outra.endereco = kOutro;
    for (int i = 0; i < 10000; ++i) motor.ProcessaPacote("07;21;", conexao);
    EXPECT_EQ(conexao.enviados.size(), 10000u);
    EXPECT_EQ(Historico().size(), TLimiteNaoCadastrados::kLinhas);
    // Another address has rows of its own; a registered terminal from the flooding address is
    // never held back.
    for (int i = 0; i < 3; ++i) motor.ProcessaPacote("07;10;G;;", outra);
    for (int i = 0; i < 20; ++i) motor.ProcessaPacote("01;10;G;;", conexao);
    EXPECT_EQ(Historico().size(), TLimiteNaoCadastrados::kLinhas + 3 + 20);
    // A save per row, none for the messages that got none.
    EXPECT_EQ(arquivos.salvamentos, static_cast<int>(TLimiteNaoCadastrados::kLinhas) + 3 + 20);
    // A count not yet a minute old is told only when communication stops.
    EXPECT_TRUE(motor.RelatosNaoCadastrados().empty());
    common::SetClock([] { return DateTime::FromMs(kAgora.Ms() + 60'000); });
    EXPECT_EQ(motor.RelatosNaoCadastrados(),
              std::vector<std::string>{TextoContagemNaoCadastrados(9990, "127.0.0.21")});
    EXPECT_TRUE(motor.RelatosNaoCadastrados(true).empty());
    motor.ProcessaPacote("07;21;", conexao);
    EXPECT_EQ(Historico().size(), TLimiteNaoCadastrados::kLinhas + 3 + 20 + 1);
}

TEST(LimiteNaoCadastrados, RowsPerAddressInAnyMinute) {
    const int64_t t0 = At(2025, 10, 26, 2, 30, 0).Ms();
    const struct {
        const char* caso;
        int64_t em;  // ms after t0
        bool linha;
    } passos[] = {
        {"window starts", 0, true},
        {"", 1, true},
        {"", 2, true},
        {"", 3, true},
        {"", 4, true},
        {"", 30'000, true},
        {"", 30'001, true},
        {"", 30'002, true},
        {"", 30'003, true},
        {"tenth", 59'000, true},
        {"full", 59'999, false},
        {"first row a minute old", 60'000, true},
        {"the next four too", 60'001, true},
        {"", 60'002, true},
        {"", 60'003, true},
        {"", 60'004, true},
        {"full again", 60'005, false},
        {"clock set back an hour", -3'600'000, true},
    };
    TLimiteNaoCadastrados limite;
    for (const auto& p : passos) {
        SCOPED_TRACE(std::string(p.caso) + " at " + std::to_string(p.em));
        EXPECT_EQ(limite.PermiteLinha("127.0.0.5", DateTime::FromMs(t0 + p.em)), p.linha);
    }
    EXPECT_TRUE(limite.PermiteLinha("127.0.0.6", DateTime::FromMs(t0 + 60'005)));

    // The two counted messages are told a minute after the first of them; an address is
    // forgotten once it has neither a count nor a row of the last minute.
    EXPECT_TRUE(limite.Relatos(DateTime::FromMs(t0 + 119'998)).empty());
    EXPECT_EQ(limite.Relatos(DateTime::FromMs(t0 + 119'999)),
              std::vector<std::string>{TextoContagemNaoCadastrados(2, "127.0.0.5")});
    EXPECT_EQ(limite.Enderecos(), 1u);
    EXPECT_TRUE(limite.Relatos(DateTime::FromMs(t0 + 200'000)).empty());
    EXPECT_EQ(limite.Enderecos(), 0u);
    EXPECT_EQ(TextoContagemNaoCadastrados(2, "127.0.0.5"),
              "2 mensagens de 127.0.0.5 com terminal n\xE3o cadastrado sem linha no hist\xF3rico");
}

namespace {

TEST(TLimiteJornal, AFloodGivesAMinutesShareAndThenSaysHowManyWereLeftOut) {
    TLimiteJornal limite;
    const DateTime inicio = At(2024, 12, 25, 14, 0, 0);
    const auto Em = [&](int64_t ms) { return DateTime::FromMs(inicio.Ms() + ms); };
    size_t escritas = 0;
    for (int i = 0; i < 1000; ++i) escritas += limite.Linha("Erro: x", Em(i)).size();
    EXPECT_EQ(escritas, size_t(TLimiteJornal::kLinhas));
    // The next window opens with the count, then the line.
    EXPECT_EQ(limite.Linha("Erro: y", Em(TLimiteJornal::kJanelaMs)),
              (std::vector<std::string>{
                  "970 further lines of the traffic log left out here (at most 30 a minute)",
                  "Erro: y"}));
    for (int i = 0; i < TLimiteJornal::kLinhas; ++i) limite.Linha("Erro: z", Em(70'000));
    EXPECT_EQ(limite.Resto(),
              "1 further line of the traffic log left out here (at most 30 a minute)");
    EXPECT_EQ(limite.Resto(), "");
    // A clock set back opens a new window rather than silencing the journal.
    EXPECT_EQ(limite.Linha("Erro: w", Em(0)), std::vector<std::string>{"Erro: w"});
}

}  // namespace
