// The receiver's files in a temporary program folder: start-up, reload, saves and close.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/Exception.h"
#include "receiver/control/ArquivosReceptor.h"
#include "receiver/control/DataPacket.h"
#include "receiver/control/TableFile.h"

using namespace lumora;
namespace fs = std::filesystem;
using common::DateTime;

namespace {

const std::string kCabeca =
    "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\">";
const std::string kComandasVazia =
    kCabeca +
    "<METADATA><FIELDS><FIELD attrname=\"NumComanda\" fieldtype=\"string\" WIDTH=\"20\"/>"
    "</FIELDS><PARAMS/></METADATA><ROWDATA></ROWDATA></DATAPACKET>";

std::string Comandas(const std::vector<std::string>& cartoes) {
    std::string linhas;
    for (const auto& c : cartoes) linhas += "<ROW NumComanda=\"" + c + "\"/>";
    return kCabeca +
           "<METADATA><FIELDS><FIELD attrname=\"NumComanda\" fieldtype=\"string\" WIDTH=\"20\"/>"
           "</FIELDS><PARAMS/></METADATA><ROWDATA>" +
           linhas + "</ROWDATA></DATAPACKET>";
}

std::string Le(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}
void Escreve(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

class ArquivosTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char modelo[] = "/tmp/lumora-arquivos-XXXXXX";
        pasta = mkdtemp(modelo);
        common::SetClock([this] { return agora; });
        arquivosDono = std::make_unique<TArquivosReceptor>(tabelas, pasta);
    }
    void TearDown() override {
        common::SetClock(nullptr);
        fs::remove_all(pasta);
    }
    std::vector<fs::path> DeLado(const std::string& prefixo) {
        std::vector<fs::path> achados;
        for (const auto& e : fs::recursive_directory_iterator(pasta)) {
            if (e.path().filename().string().rfind(prefixo + ".damaged-", 0) == 0) {
                achados.push_back(e.path());
            }
        }
        return achados;
    }

    fs::path pasta;
    DateTime agora = *DateTime::FromParts(2024, 3, 31, 23, 59, 0);
    TabelasReceptor tabelas;
    std::unique_ptr<TArquivosReceptor> arquivosDono;
    TArquivosReceptor& arquivos() { return *arquivosDono; }
};

}  // namespace

TEST_F(ArquivosTest, FirstStartInAnEmptyFolder) {
    TArquivosReceptor a(tabelas, pasta);
    ASSERT_TRUE(a.Inicia(agora));
    EXPECT_FALSE(fs::exists(pasta / "Equip.xml"));
    EXPECT_EQ(Le(pasta / "Comandas.xml"), kComandasVazia);
    const fs::path historico = pasta / "Historicos" / "Historico_20240331.xml";
    EXPECT_EQ(a.ArquivoHistorico(), historico);
    EXPECT_EQ(Le(historico),
              kCabeca +
                  "<METADATA><FIELDS><FIELD attrname=\"DataHora\" fieldtype=\"dateTime\"/>"
                  "<FIELD attrname=\"Cracha\" fieldtype=\"string\" WIDTH=\"16\"/>"
                  "<FIELD attrname=\"Estado\" fieldtype=\"string\" WIDTH=\"20\"/>"
                  "<FIELD attrname=\"Terminal\" fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA>"
                  "<ROWDATA></ROWDATA></DATAPACKET>");
    EXPECT_TRUE(tabelas.cdsEquipamentos.Active());

    // Past midnight the rows still go to the file of the day the program started.
    agora = *DateTime::FromParts(2024, 4, 1, 0, 5, 0);
    tabelas.cdsHistorico.Insert();
    tabelas.cdsHistorico.SetDateTime(campo::kDataHora, agora);
    tabelas.cdsHistorico.SetString(campo::kEstado, "Liberado");
    tabelas.cdsHistorico.Post();
    a.SalvaHistorico();
    EXPECT_NE(Le(historico).find("20240401T00:05:00000"), std::string::npos);
    EXPECT_FALSE(fs::exists(pasta / "Historicos" / "Historico_20240401.xml"));
}

TEST_F(ArquivosTest, AFileThatCannotBeTakenUpIsMovedAsideAndStartUpEnds) {
    for (const std::string nome :
         {"Equip.xml", "Comandas.xml", "Historicos/Historico_20240331.xml"}) {
        SCOPED_TRACE(nome);
        fs::remove_all(pasta);
        fs::create_directories(pasta / "Historicos");
        Escreve(pasta / "Comandas.xml", kComandasVazia);
        Escreve(pasta / nome, "<DATAPACKET><ROWDATA><ROW x=\"1\"/></ROWDAT></DATAPACKET>");
        TabelasReceptor t;
        TArquivosReceptor a(t, pasta);
        EXPECT_FALSE(a.Inicia(agora));
        EXPECT_FALSE(fs::exists(pasta / nome));
        const auto lado = DeLado(fs::path(nome).filename().string());
        ASSERT_EQ(lado.size(), 1u);
        EXPECT_EQ(Le(lado[0]), "<DATAPACKET><ROWDATA><ROW x=\"1\"/></ROWDAT></DATAPACKET>");
        EXPECT_EQ(lado[0].filename().string(),
                  fs::path(nome).filename().string() + ".damaged-20240331-235900");
    }
}

TEST_F(ArquivosTest, TheCardListIsReadAgainWheneverTheFileChanges) {
    Escreve(pasta / "Comandas.xml", Comandas({"0000000000001111"}));
    ASSERT_TRUE(arquivos().Inicia(agora));
    auto& lista = tabelas.cdsComandas;
    EXPECT_TRUE(lista.FindKey("0000000000001111"));

    // Same size, other contents: still seen.
    Escreve(pasta / "Comandas.xml", Comandas({"0000000000002222"}));
    arquivos().RecarregaComandas();
    EXPECT_FALSE(lista.FindKey("0000000000001111"));
    EXPECT_TRUE(lista.FindKey("0000000000002222"));
    arquivos().RecarregaComandas();  // unchanged
    EXPECT_EQ(lista.RecordCount(), 1);

    // Gone: the reload fails with the file error and leaves the list closed.
    fs::remove(pasta / "Comandas.xml");
    try {
        arquivos().RecarregaComandas();
        FAIL();
    } catch (const common::EFileError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"" + (pasta / "Comandas.xml").string() +
                                   "\". No such file or directory");
    }
    EXPECT_FALSE(lista.Active());

    // Damaged, then a card list without the field: the table's name comes first.
    Escreve(pasta / "Comandas.xml", "");
    try {
        arquivos().RecarregaComandas();
        FAIL();
    } catch (const common::Exception& e) {
        EXPECT_EQ(e.Message(), "cdsComandas: Missing data provider or data packet");
    }
    Escreve(pasta / "Comandas.xml",
            kCabeca +
                "<METADATA><FIELDS><FIELD attrname=\"Outra\" fieldtype=\"string\" WIDTH=\"20\"/>"
                "</FIELDS><PARAMS/></METADATA><ROWDATA></ROWDATA></DATAPACKET>");
    try {
        arquivos().RecarregaComandas();
        FAIL();
    } catch (const common::Exception& e) {
        EXPECT_EQ(e.Message(), "cdsComandas: Field 'Comandas Ativas' not found");
    }
    EXPECT_FALSE(lista.Active());

    // Back again: the same bytes as before the failures must still be read.
    Escreve(pasta / "Comandas.xml", Comandas({"0000000000002222"}));
    arquivos().RecarregaComandas();
    EXPECT_TRUE(lista.FindKey("0000000000002222"));
}

TEST_F(ArquivosTest, CloseWritesTheCardListOnlyOverTheFileItLoaded) {
    // A file from another producer: written back in our form, its parameter kept.
    const std::string estrangeira =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<DATAPACKET Version=\"2.0\">\n  <METADATA>\n    <FIELDS>\n"
        "      <FIELD attrname=\"NumComanda\" fieldtype=\"string\" WIDTH=\"20\"/>\n"
        "    </FIELDS>\n    <PARAMS LCID=\"1046\"/>\n  </METADATA>\n  <ROWDATA>\n"
        "    <ROW NumComanda=\"0000000000001234\"/>\n  </ROWDATA>\n</DATAPACKET>\n";
    Escreve(pasta / "Comandas.xml", estrangeira);
    ASSERT_TRUE(arquivos().Inicia(agora));
    arquivos().Fecha();
    EXPECT_EQ(
        Le(pasta / "Comandas.xml"),
        kCabeca +
            "<METADATA><FIELDS><FIELD attrname=\"NumComanda\" fieldtype=\"string\" WIDTH=\"20\"/>"
            "</FIELDS><PARAMS LCID=\"1046\"/></METADATA><ROWDATA>"
            "<ROW NumComanda=\"0000000000001234\"/></ROWDATA></DATAPACKET>");

    // A newer list written meanwhile stays as it is.
    TabelasReceptor t;
    TArquivosReceptor a(t, pasta);
    ASSERT_TRUE(a.Inicia(agora));
    Escreve(pasta / "Comandas.xml", Comandas({"0000000000009999", "0000000000008888"}));
    a.Fecha();
    EXPECT_EQ(Le(pasta / "Comandas.xml"), Comandas({"0000000000009999", "0000000000008888"}));
    EXPECT_FALSE(t.cdsComandas.Active());
    EXPECT_FALSE(t.cdsHistorico.Active());
}

TEST_F(ArquivosTest, HistoryRowsReachTheFileAtCloseAndSurviveARestart) {
    ASSERT_TRUE(arquivos().Inicia(agora));
    auto& h = tabelas.cdsHistorico;
    h.Insert();
    h.SetDateTime(campo::kDataHora, agora);
    h.SetString(campo::kCracha, "0000000000001234");
    h.SetString(campo::kEstado, "N\xE3o Girou");
    h.SetInteger(campo::kTerminal, 7);
    h.Post();
    arquivos().Fecha();

    TabelasReceptor t;
    TArquivosReceptor a(t, pasta);
    ASSERT_TRUE(a.Inicia(agora));
    ASSERT_EQ(t.cdsHistorico.RecordCount(), 1);
    t.cdsHistorico.First();
    EXPECT_EQ(t.cdsHistorico.AsString(campo::kEstado), "N\xE3o Girou");
    EXPECT_EQ(t.cdsHistorico.AsInteger(campo::kTerminal), 7);
}

TEST_F(ArquivosTest, EquipmentIsWrittenOnlyAfterAChange) {
    ASSERT_TRUE(arquivos().Inicia(agora));
    arquivos().FechaEquipamentos();
    EXPECT_FALSE(fs::exists(pasta / "Equip.xml"));

    TabelasReceptor t;
    TArquivosReceptor a(t, pasta);
    ASSERT_TRUE(a.Inicia(agora));
    t.cdsEquipamentos.Insert();
    t.cdsEquipamentos.SetString(campo::kNumEquipamento, "1");
    t.cdsEquipamentos.SetString(campo::kIP, "192.168.0.21");
    t.cdsEquipamentos.Post();
    a.FechaEquipamentos();
    EXPECT_EQ(Le(pasta / "Equip.xml"),
              kCabeca +
                  "<METADATA><FIELDS><FIELD attrname=\"NumEquipamento\" fieldtype=\"string\" "
                  "WIDTH=\"2\"/>"
                  "<FIELD attrname=\"IP\" fieldtype=\"string\" WIDTH=\"15\"/></FIELDS><PARAMS/>"
                  "</METADATA><ROWDATA><ROW NumEquipamento=\"01\" IP=\"192.168.0.21\"/></ROWDATA>"
                  "</DATAPACKET>");
}

TEST_F(ArquivosTest, ASaveThatFailsKeepsTheRowsAndTheOldFile) {
    ASSERT_TRUE(arquivos().Inicia(agora));
    const std::string antes = Le(arquivos().ArquivoHistorico());
    tabelas.cdsHistorico.Insert();
    tabelas.cdsHistorico.SetDateTime(campo::kDataHora, agora);
    tabelas.cdsHistorico.Post();
    // A folder in the way of the temporary file's rename target makes the save fail.
    fs::remove(arquivos().ArquivoHistorico());
    fs::create_directory(arquivos().ArquivoHistorico());
    Escreve(arquivos().ArquivoHistorico() / "x", antes);
    EXPECT_THROW(arquivos().SalvaHistorico(), common::Exception);
    EXPECT_EQ(tabelas.cdsHistorico.RecordCount(), 1);
    EXPECT_THROW(arquivos().Fecha(), common::Exception);
    EXPECT_EQ(Le(arquivos().ArquivoHistorico() / "x"), antes);
}
