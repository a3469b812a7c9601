#include "receiver/control/Tabelas.h"

#include <gtest/gtest.h>

#include "common/Exception.h"

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
