#include "receiver/control/Tabelas.h"

#include <gtest/gtest.h>

#include "common/Exception.h"
#include "receiver/control/EstadoTerminais.h"

using namespace lumora;
using common::TableState;

namespace {
void PostaEquipamento(common::MemTable& e, const std::string& num, const std::string& ip) {
    e.Insert();
    e.SetString(campo::kNumEquipamento, num);
    e.SetString(campo::kIP, ip);
    e.Post();
}
}  // namespace

TEST(Tabelas, EquipmentStoreRule) {
    const struct {
        std::string num, ip, numGuardado, ipGuardado;
    } casos[] = {
        {" 3", "10.0.0.5 ", "03", "10.0.0.5"},
        {"12", "192. 168.0.10 ", "12", "192.168.0.10"},
        {"7", " 1 2 7.0.0.1", "07", "127.0.0.1"},
        {"-5", "1.1.1.1", "-0", "1.1.1.1"},
    };
    for (const auto& c : casos) {
        TabelasReceptor t;
        t.cdsEquipamentos.Open();
        PostaEquipamento(t.cdsEquipamentos, c.num, c.ip);
        t.cdsEquipamentos.First();
        EXPECT_EQ(t.cdsEquipamentos.AsString(campo::kNumEquipamento), c.numGuardado) << c.num;
        EXPECT_EQ(t.cdsEquipamentos.AsString(campo::kIP), c.ipGuardado) << c.ip;
    }
}

TEST(Tabelas, EquipmentNumberThatIsNotAnIntegerKeepsTheRecordOpen) {
    TabelasReceptor t;
    t.cdsEquipamentos.Open();
    for (const std::string num : {"ab", "", "1a"}) {
        t.cdsEquipamentos.Insert();
        t.cdsEquipamentos.SetString(campo::kNumEquipamento, num);
        t.cdsEquipamentos.SetString(campo::kIP, "10.0.0.5");
        try {
            t.cdsEquipamentos.Post();
            ADD_FAILURE() << "posted " << num;
        } catch (const common::EConvertError& e) {
            EXPECT_EQ(e.Message(), "'" + num + "' is not a valid integer value");
        }
        EXPECT_EQ(t.cdsEquipamentos.State(), TableState::Insert);
        EXPECT_EQ(t.cdsEquipamentos.RecordCount(), 0);
        // The operator corrects the number and the same record goes in.
        t.cdsEquipamentos.SetString(campo::kNumEquipamento, "4");
        t.cdsEquipamentos.Post();
        EXPECT_EQ(t.cdsEquipamentos.RecordCount(), 1);
        t.cdsEquipamentos.Empty();
    }
}

TEST(Tabelas, DuplicateEquipmentNumbersAreKept) {
    TabelasReceptor t;
    t.cdsEquipamentos.Open();
    PostaEquipamento(t.cdsEquipamentos, "05", "10.0.0.1");
    PostaEquipamento(t.cdsEquipamentos, "02", "10.0.0.2");
    PostaEquipamento(t.cdsEquipamentos, "5", "10.0.0.3");
    EXPECT_EQ(t.cdsEquipamentos.RecordCount(), 3);
    ASSERT_TRUE(t.cdsEquipamentos.FindKey("05"));
    EXPECT_EQ(t.cdsEquipamentos.AsString(campo::kIP), "10.0.0.1");
}

TEST(Tabelas, CardNumbersArePaddedToSixteen) {
    TabelasReceptor t;
    t.cdsComandas.Open();
    const struct {
        std::string entrada, guardado;
    } casos[] = {
        {"4711", "0000000000004711"},
        {"", "0000000000000000"},
        {"1234567890123456", "1234567890123456"},
        {"12345678901234567890", "12345678901234567890"},
        {"1234567890123456789012345", "12345678901234567890"},
    };
    for (const auto& c : casos) {
        t.cdsComandas.Insert();
        t.cdsComandas.SetString(campo::kNumComanda, c.entrada);
        t.cdsComandas.Post();
        EXPECT_TRUE(t.cdsComandas.FindKey(c.guardado)) << c.entrada;
        EXPECT_EQ(t.cdsComandas.AsString(campo::kNumComanda), c.guardado);
    }
}

TEST(Tabelas, HistoryKeepsTheNewestFirstAndNeverAnEmptyTime) {
    TabelasReceptor t;
    auto& h = t.cdsHistorico;
    h.Open();
    for (int minuto : {5, 1, 9}) {
        h.Insert();
        h.SetDateTime(campo::kDataHora, *common::DateTime::FromParts(2024, 3, 15, 14, minuto, 0));
        h.SetString(campo::kEstado, estado::kEquipNaoCadastrado);
        h.Post();
    }
    h.Insert();
    h.SetString(campo::kCracha, "sem hora");
    h.Post();
    std::vector<int> minutos;
    for (h.First(); !h.Eof(); h.Next()) {
        ASSERT_FALSE(h.IsNull(campo::kDataHora));
        minutos.push_back(h.AsDateTime(campo::kDataHora).Decode().minute);
    }
    EXPECT_EQ(minutos, (std::vector<int>{9, 5, 1, 0}));
    h.Last();
    EXPECT_EQ(h.AsDateTime(campo::kDataHora).Ms(), 0);
    h.First();
    EXPECT_EQ(h.AsString(campo::kEstado), "Equip. N\xE3o Cadastrad");
}

TEST(Tabelas, LabelsNameTheFieldsForTheOperator) {
    TabelasReceptor t;
    EXPECT_EQ(t.cdsComandas.Fields()[0].DisplayLabel(), "Comandas Ativas");
    EXPECT_EQ(t.cdsHistorico.Fields()[1].DisplayLabel(), "Crach\xE1");
    EXPECT_EQ(t.cdsEquipamentos.Fields()[1].DisplayLabel(), "IP");
}

// The terminals' status: a registered gate away for a minute while communication runs is
// reported once, and once more when it is back.
TEST(EstadoTerminais, AwayForAMinuteIsReportedOnceAndTheReturnOnce) {
    TabelasReceptor t;
    t.cdsEquipamentos.Open();
    PostaEquipamento(t.cdsEquipamentos, "1", "127.0.0.5");
    PostaEquipamento(t.cdsEquipamentos, "2", "127.0.0.6");
    TEstadoTerminais e;
    e.DefineEquipamentos(t.cdsEquipamentos);

    enum Acao { Inicia, Para, Conecta, Desconecta, Verifica };
    struct Passo {
        int segundo;
        Acao acao;
        std::string ip;
        std::string avisos;  // what Verifica reports: "01-" away, "01+" back
    };
    const Passo passos[] = {
        // Nothing is away while communication is stopped, however long.
        {0, Verifica, "", ""},
        {500, Verifica, "", ""},
        {1000, Inicia, "", ""},
        {1001, Conecta, "127.0.0.5", ""},
        {1059, Verifica, "", ""},
        // 02 never came: away from the start of communication.
        {1060, Verifica, "", "02-"},
        {1061, Verifica, "", ""},
        // A glitch shorter than the minute is no report.
        {1100, Desconecta, "127.0.0.5", ""},
        {1130, Conecta, "127.0.0.5", ""},
        {1200, Verifica, "", ""},
        // Two connections from one address: away only when both are gone.
        {1201, Conecta, "127.0.0.5", ""},
        {1202, Desconecta, "127.0.0.5", ""},
        {1300, Verifica, "", ""},
        {1301, Desconecta, "127.0.0.5", ""},
        {1360, Verifica, "", ""},
        {1361, Verifica, "", "01-"},
        {5000, Verifica, "", ""},
        {5001, Conecta, "127.0.0.6", ""},
        {5002, Verifica, "", "02+"},
        {5003, Verifica, "", ""},
        // A stop forgets who was reported: no return is told for those, and the minute
        // starts again with the next start.
        {6000, Para, "", ""},
        {6001, Conecta, "127.0.0.5", ""},
        {6100, Verifica, "", ""},
        {7000, Inicia, "", ""},
        {7059, Verifica, "", ""},
        {7060, Verifica, "", "01-02-"},
        {7061, Desconecta, "127.0.0.9", ""},  // no such connection: nothing changes
        {7062, Verifica, "", ""},
    };
    const auto base = common::DateTime::FromParts(2024, 3, 30, 20, 0, 0)->Ms();
    for (const Passo& p : passos) {
        const auto agora = common::DateTime::FromMs(base + p.segundo * 1000LL);
        std::string avisos;
        switch (p.acao) {
            case Inicia:
            case Para:
                e.Comunicacao(p.acao == Inicia, agora);
                break;
            case Conecta:
                e.Conectou(p.ip, agora);
                break;
            case Desconecta:
                e.Desconectou(p.ip, agora);
                break;
            case Verifica:
                for (const AvisoTerminal& a : e.Verifica(agora))
                    avisos += a.numero + (a.voltou ? "+" : "-");
                break;
        }
        EXPECT_EQ(avisos, p.avisos) << "at " << p.segundo;
    }
    EXPECT_EQ(e.Conectados(), 0);
    ASSERT_EQ(e.Terminais().size(), 2u);
    // Away since the stop closed its connection.
    EXPECT_EQ(e.Terminais()[1].desde.Ms(), base + 6000 * 1000LL);
}

TEST(EstadoTerminais, CountsTheDaysReleasedAndBlockedRowsOfEachRegisteredTerminal) {
    TabelasReceptor t;
    t.cdsEquipamentos.Open();
    PostaEquipamento(t.cdsEquipamentos, "1", "127.0.0.5");
    PostaEquipamento(t.cdsEquipamentos, "12", "127.0.0.6");
    t.cdsHistorico.Open();
    const std::pair<const std::string*, int> linhas[] = {
        {&estado::kLiberado, 1},  {&estado::kLiberado, 1},  {&estado::kBloqueado, 1},
        {&estado::kNaoGirou, 1},  {&estado::kLiberado, 12}, {&estado::kBloqueado, 7},
        {&estado::kBloqueado, 12}};
    const auto posta = [&](const std::string& texto, int terminal) {
        t.cdsHistorico.Insert();
        t.cdsHistorico.SetString(campo::kEstado, texto);
        t.cdsHistorico.SetInteger(campo::kTerminal, terminal);
        t.cdsHistorico.Post();
    };
    for (const auto& [texto, terminal] : linhas) posta(*texto, terminal);
    TEstadoTerminais e;
    e.DefineEquipamentos(t.cdsEquipamentos);
    e.ContaHistorico(t.cdsHistorico);
    const auto& s = e.Terminais();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].numero, "01");
    EXPECT_EQ(std::make_pair(s[0].liberados, s[0].bloqueados), std::make_pair(2, 1));
    EXPECT_EQ(std::make_pair(s[1].liberados, s[1].bloqueados), std::make_pair(1, 1));

    // Rows added since the last count are counted once; an edit of an older row counts anew.
    posta(estado::kLiberado, 1);
    posta(estado::kBloqueado, 12);
    e.ContaHistorico(t.cdsHistorico);
    const auto& s2 = e.Terminais();
    EXPECT_EQ(std::make_pair(s2[0].liberados, s2[0].bloqueados), std::make_pair(3, 1));
    EXPECT_EQ(std::make_pair(s2[1].liberados, s2[1].bloqueados), std::make_pair(1, 2));
    t.cdsHistorico.First();
    const auto antes = std::get<std::string>(t.cdsHistorico.ValueAt(0, campo::kEstado));
    const auto terminal = std::get<int32_t>(t.cdsHistorico.ValueAt(0, campo::kTerminal));
    t.cdsHistorico.Edit();
    t.cdsHistorico.SetString(campo::kEstado, estado::kNaoGirou);
    t.cdsHistorico.Post();
    e.ContaHistorico(t.cdsHistorico);
    const EstadoTerminal& editado = e.Terminais()[terminal == 1 ? 0 : 1];
    const std::pair<int, int> esperado =
        terminal == 1 ? std::make_pair(3, 1) : std::make_pair(1, 2);
    EXPECT_EQ(editado.liberados, esperado.first - (antes == estado::kLiberado ? 1 : 0));
    EXPECT_EQ(editado.bloqueados, esperado.second - (antes == estado::kBloqueado ? 1 : 0));
    t.cdsHistorico.Empty();
    e.ContaHistorico(t.cdsHistorico);
    EXPECT_EQ(e.Terminais()[0].liberados, 0);
}
