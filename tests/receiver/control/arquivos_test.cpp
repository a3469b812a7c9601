// The receiver's files in a temporary program folder: start-up, reload, saves and close.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "common/Convert.h"
#include "common/Exception.h"
#include "common/Text1252.h"
#include "receiver/control/ArquivosReceptor.h"
#include "receiver/control/DataPacket.h"
#include "receiver/control/HistoricoDias.h"
#include "receiver/control/LeitorHistorico.h"
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

TEST_F(ArquivosTest, ANightEndsAtTheCutHourNamedAfterItsEvening) {
    const struct {
        DateTime agora;
        int corte;
        DateTime noite;
    } casos[] = {
        {*DateTime::FromParts(2024, 3, 31, 23, 59, 0), 12, *DateTime::FromDate(2024, 3, 31)},
        {*DateTime::FromParts(2024, 4, 1, 3, 0, 0), 12, *DateTime::FromDate(2024, 3, 31)},
        {*DateTime::FromParts(2024, 4, 1, 11, 59, 59, 999), 12, *DateTime::FromDate(2024, 3, 31)},
        {*DateTime::FromParts(2024, 4, 1, 12, 0, 0), 12, *DateTime::FromDate(2024, 4, 1)},
        {*DateTime::FromParts(2024, 1, 1, 3, 0, 0), 12, *DateTime::FromDate(2023, 12, 31)},
        {*DateTime::FromParts(2024, 3, 1, 3, 0, 0), 12, *DateTime::FromDate(2024, 2, 29)},
        {*DateTime::FromParts(2024, 4, 1, 5, 59, 0), 6, *DateTime::FromDate(2024, 3, 31)},
        {*DateTime::FromParts(2024, 4, 1, 6, 0, 0), 6, *DateTime::FromDate(2024, 4, 1)},
        // A cut at midnight is the calendar day.
        {*DateTime::FromParts(2024, 4, 1, 0, 0, 0), 0, *DateTime::FromDate(2024, 4, 1)},
        {*DateTime::FromParts(2024, 3, 31, 23, 59, 59, 999), 0, *DateTime::FromDate(2024, 3, 31)},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.agora.Format("dd/mm/yyyy hh:nn:ss.zzz") + " cut " + std::to_string(c.corte));
        EXPECT_EQ(NoiteDe(c.agora, c.corte), c.noite);
    }
}

TEST_F(ArquivosTest, ARunThroughSeveralDaysKeepsOneWholeFilePerNight) {
    const auto Linha = [&](const char* cartao) {
        auto& h = tabelas.cdsHistorico;
        h.Insert();
        h.SetDateTime(campo::kDataHora, agora);
        h.SetString(campo::kCracha, cartao);
        h.SetString(campo::kEstado, "Liberado");
        h.SetInteger(campo::kTerminal, 1);
        h.Post();
        arquivos().SalvaHistorico();
    };
    const fs::path dia31 = pasta / "Historicos" / "Historico_20240331.xml";
    const fs::path dia01 = pasta / "Historicos" / "Historico_20240401.xml";
    ASSERT_TRUE(arquivos().Inicia(NoiteDe(agora)));
    EXPECT_EQ(arquivos().ArquivoHistorico(), dia31);
    Linha("0000000000000031");
    // Past midnight the night goes on in its file.
    agora = *DateTime::FromParts(2024, 4, 1, 3, 0, 0);
    EXPECT_FALSE(arquivos().ViraNoite(NoiteDe(agora)));
    Linha("0000000000000032");

    // A row the operator is typing does not keep the night open.
    agora = *DateTime::FromParts(2024, 4, 1, 12, 0, 0);
    tabelas.cdsHistorico.Insert();
    ASSERT_TRUE(arquivos().ViraNoite(NoiteDe(agora)));
    EXPECT_EQ(arquivos().Noite(), *DateTime::FromDate(2024, 4, 1));
    EXPECT_EQ(arquivos().ArquivoHistorico(), dia01);
    EXPECT_EQ(tabelas.cdsHistorico.RecordCount(), 0);
    EXPECT_EQ(LeDiaHistorico(dia31).linhas.size(), 2u);
    EXPECT_EQ(LeDiaHistorico(dia01).linhas.size(), 0u);
    Linha("0000000000000041");
    EXPECT_EQ(LeDiaHistorico(dia01).linhas.size(), 1u);
    EXPECT_EQ(LeDiaHistorico(dia31).linhas.size(), 2u);

    // The next night's end cannot be saved: nothing moves, the rows stay; once the disk
    // takes them again the change happens.
    const std::string antes = Le(dia01);
    Linha("0000000000000042");
    fs::remove(dia01);
    fs::create_directory(dia01);
    agora = *DateTime::FromParts(2024, 4, 2, 12, 0, 1);
    EXPECT_THROW(arquivos().ViraNoite(NoiteDe(agora)), common::Exception);
    EXPECT_EQ(arquivos().Noite(), *DateTime::FromDate(2024, 4, 1));
    EXPECT_EQ(tabelas.cdsHistorico.RecordCount(), 2);
    fs::remove_all(dia01);
    ASSERT_TRUE(arquivos().ViraNoite(NoiteDe(agora)));
    EXPECT_EQ(LeDiaHistorico(dia01).linhas.size(), 2u);

    // A file of the next night that nothing can read is kept aside, and the night is served.
    const fs::path dia03 = pasta / "Historicos" / "Historico_20240403.xml";
    Escreve(dia03, "not a data packet");
    agora = *DateTime::FromParts(2024, 4, 3, 12, 0, 0);
    ASSERT_TRUE(arquivos().ViraNoite(NoiteDe(agora)));
    EXPECT_EQ(DeLado("Historico_20240403.xml").size(), 1u);
    Linha("0000000000000043");
    arquivos().Fecha();
    EXPECT_EQ(LeDiaHistorico(dia03).linhas.size(), 1u);

    // Started again in the small hours of that night: its file goes on.
    agora = *DateTime::FromParts(2024, 4, 4, 2, 0, 0);
    TabelasReceptor t;
    TArquivosReceptor a(t, pasta);
    ASSERT_TRUE(a.Inicia(NoiteDe(agora)));
    EXPECT_EQ(a.ArquivoHistorico(), dia03);
    EXPECT_EQ(t.cdsHistorico.RecordCount(), 1);
}

// ---- past nights: the day files read back, filtered, totalled and exported ----

namespace {

// RFC 4180 as a spreadsheet reads it: quoted fields may hold separators, quotes and breaks.
std::vector<std::vector<std::string>> LeCsv(const std::string& texto, char separador) {
    std::vector<std::vector<std::string>> linhas(1, std::vector<std::string>(1));
    bool aspas = false;
    for (size_t i = 0; i < texto.size(); ++i) {
        const char c = texto[i];
        if (aspas) {
            if (c == '"' && i + 1 < texto.size() && texto[i + 1] == '"') {
                linhas.back().back() += '"';
                ++i;
            } else if (c == '"') {
                aspas = false;
            } else {
                linhas.back().back() += c;
            }
        } else if (c == '"') {
            aspas = true;
        } else if (c == separador) {
            linhas.back().emplace_back();
        } else if (c == '\r' && i + 1 < texto.size() && texto[i + 1] == '\n') {
            ++i;
            linhas.emplace_back(1);
        } else {
            EXPECT_NE(c, '\n') << "a bare LF at " << i;
            linhas.back().back() += c;
        }
    }
    EXPECT_TRUE(linhas.back().size() == 1 && linhas.back()[0].empty()) << "no CRLF at the end";
    linhas.pop_back();
    return linhas;
}

struct Registro {
    DateTime quando;
    std::string cracha, estado;
    int32_t terminal;
};

// A night of rows at four gates, the card texts among them that a CSV must quote.
std::vector<Registro> Noite(DateTime inicio, int n) {
    // The 21-byte state is stored as 20, and read back so.
    const std::string estados[] = {estado::kLiberado, estado::kLiberado, estado::kBloqueado,
                                   estado::kNaoGirou, estado::kEquipNaoCadastrado.substr(0, 20)};
    const std::string especiais[] = {"12\"3;4", "Crach\xE1 \x80", "a\r\nb", "x;y"};
    std::vector<Registro> r;
    uint32_t s = 7;
    for (int i = 0; i < n; ++i) {
        s = s * 1103515245u + 12345u;
        const std::string cracha = i % 9 == 0 ? especiais[(s >> 5) % 4]
                                              : common::IntToStrMin(static_cast<int>(s % 5000), 16);
        r.push_back(
            {DateTime::FromMs(inicio.Ms() + static_cast<int64_t>((s >> 3) % (10 * 3'600'000))),
             cracha, estados[(s >> 11) % 5], static_cast<int32_t>(1 + (s >> 17) % 4)});
    }
    return r;
}

void PostaNoHistorico(TabelasReceptor& tabelas, const std::vector<Registro>& registros) {
    auto& h = tabelas.cdsHistorico;
    for (const Registro& r : registros) {
        h.Insert();
        h.SetDateTime(campo::kDataHora, r.quando);
        h.SetString(campo::kCracha, r.cracha);
        h.SetString(campo::kEstado, r.estado);
        h.SetInteger(campo::kTerminal, r.terminal);
        h.Post();
    }
}

std::map<std::string, fs::file_time_type> Retrato(const fs::path& pasta) {
    std::map<std::string, fs::file_time_type> r;
    for (const auto& e : fs::recursive_directory_iterator(pasta))
        r[e.path().string()] = e.last_write_time();
    return r;
}

}  // namespace

TEST_F(ArquivosTest, PastNightsAreReadOnlyAndFilteredAndTotalledAsCountedHere) {
    // Today's file as the receiver writes it ...
    ASSERT_TRUE(arquivos().Inicia(agora));
    const std::vector<Registro> hoje = Noite(*DateTime::FromParts(2024, 3, 31, 18, 0, 0), 700);
    PostaNoHistorico(tabelas, hoje);
    arquivos().Fecha();
    // ... and a day written by another producer: its own columns and parameters, rows in its
    // own order, a row without a terminal.
    Escreve(pasta / "Historicos" / "Historico_20240329.xml",
            kCabeca +
                "<METADATA><FIELDS><FIELD attrname=\"Operador\" fieldtype=\"string\" WIDTH=\"10\"/>"
                "<FIELD attrname=\"DataHora\" fieldtype=\"dateTime\"/>"
                "<FIELD attrname=\"Cracha\" fieldtype=\"string\" WIDTH=\"16\"/>"
                "<FIELD attrname=\"Estado\" fieldtype=\"string\" WIDTH=\"20\"/>"
                "<FIELD attrname=\"Terminal\" fieldtype=\"i4\"/></FIELDS><PARAMS LCID=\"1046\"/>"
                "</METADATA><ROWDATA>"
                "<ROW Operador=\"ana\" DataHora=\"20240330T01:10:00000\" Cracha=\"77\" "
                "Estado=\"Liberado\" Terminal=\"2\"/>"
                "<ROW Operador=\"rui\" DataHora=\"20240329T23:05:00000\" Cracha=\"78\" "
                "Estado=\"Bloqueado\"/>"
                "<ROW DataHora=\"20240329T23:50:00000\" Cracha=\"79\" Estado=\"Liberado\" "
                "Terminal=\"2\"/></ROWDATA></DATAPACKET>");
    // Names that are no day's file.
    for (const char* outro : {"Historico_2024033.xml", "Historico_20240231.xml",
                              ".Historico_20240330.xml.save~1.abc", "Historico_20240330.xml.bak"}) {
        Escreve(pasta / "Historicos" / outro, "x");
    }

    const auto dias = DiasComHistorico(pasta);
    ASSERT_EQ(dias.size(), 2u);
    EXPECT_EQ(dias[0].dia, *DateTime::FromDate(2024, 3, 31));
    EXPECT_EQ(dias[1].dia, *DateTime::FromDate(2024, 3, 29));
    EXPECT_EQ(dias[0].arquivo, arquivos().ArquivoHistorico());

    const auto antes = Retrato(pasta);
    const std::string bytesHoje = Le(dias[0].arquivo);
    const DiaHistorico dia = LeDiaHistorico(dias[0].arquivo);
    const DiaHistorico outro = LeDiaHistorico(dias[1].arquivo);
    EXPECT_EQ(Retrato(pasta), antes);
    EXPECT_EQ(Le(dias[0].arquivo), bytesHoje);

    ASSERT_EQ(dia.linhas.size(), hoje.size());
    EXPECT_TRUE(std::is_sorted(dia.linhas.begin(), dia.linhas.end(),
                               [](const auto& a, const auto& b) { return a.ms < b.ms; }));
    // The other producer's day: its rows in time order, the one without a terminal kept.
    ASSERT_EQ(outro.linhas.size(), 3u);
    EXPECT_EQ(outro.linhas[0].Cracha(), "78");
    EXPECT_EQ(outro.linhas[0].terminal, kSemTerminal);
    EXPECT_EQ(outro.linhas[2].Cracha(), "77");
    const TotaisHistorico tOutro = Totaliza(outro, FiltraHistorico(outro, {}));
    EXPECT_EQ(tOutro.primeiraHora, 23);
    EXPECT_EQ(tOutro.porHora[23].liberado, 1);
    EXPECT_EQ(tOutro.porHora[1].liberado, 1);
    EXPECT_EQ(tOutro.porTerminal.at(kSemTerminal).bloqueado, 1);

    struct Caso {
        FiltroHistorico filtro;
    };
    const Caso casos[] = {
        {{}},
        {{"12", std::nullopt, std::nullopt}},
        {{"", 3, std::nullopt}},
        {{"", std::nullopt, estado::kNaoGirou}},
        {{"0", 2, estado::kLiberado}},
        {{"", std::nullopt, "Sentido Livre"}},  // a state the day does not have
        {{"\xE1 \x80", std::nullopt, std::nullopt}},
    };
    for (const Caso& c : casos) {
        const auto passa = [&](const Registro& r) {
            return r.cracha.find(c.filtro.cracha) != std::string::npos &&
                   (!c.filtro.terminal || r.terminal == *c.filtro.terminal) &&
                   (!c.filtro.estado || r.estado == *c.filtro.estado);
        };
        Contagem geral;
        std::map<int32_t, int> porTerminal;
        std::map<std::string, int> porEstado;
        std::array<int, 24> saidasPorHora{};
        for (const Registro& r : hoje) {
            if (!passa(r)) continue;
            ++geral.total;
            geral.liberado += r.estado == estado::kLiberado;
            geral.bloqueado += r.estado == estado::kBloqueado;
            ++porTerminal[r.terminal];
            ++porEstado[r.estado];
            if (r.estado == estado::kLiberado) ++saidasPorHora[r.quando.Decode().hour];
        }
        const auto linhas = FiltraHistorico(dia, c.filtro);
        const TotaisHistorico t = Totaliza(dia, linhas);
        const std::string caso = c.filtro.cracha + "/" +
                                 std::to_string(c.filtro.terminal.value_or(-1)) + "/" +
                                 c.filtro.estado.value_or("*");
        EXPECT_EQ(static_cast<int>(linhas.size()), geral.total) << caso;
        EXPECT_EQ(t.geral.total, geral.total) << caso;
        EXPECT_EQ(t.geral.liberado, geral.liberado) << caso;
        EXPECT_EQ(t.geral.bloqueado, geral.bloqueado) << caso;
        EXPECT_EQ(t.porEstado, porEstado) << caso;
        std::map<int32_t, int> terminais;
        for (const auto& [n, contagem] : t.porTerminal) terminais[n] = contagem.total;
        EXPECT_EQ(terminais, porTerminal) << caso;
        for (int h = 0; h < 24; ++h)
            EXPECT_EQ(t.porHora[h].liberado, saidasPorHora[h]) << caso << h;
    }
}

TEST_F(ArquivosTest, ExportedRowsAndTotalsComeBackThroughACsvParser) {
    ASSERT_TRUE(arquivos().Inicia(agora));
    std::vector<Registro> hoje = Noite(*DateTime::FromParts(2024, 3, 31, 18, 0, 0), 200);
    // Card numbers anyone on the network can send, which a spreadsheet would run as formulas.
    const std::string formulas[] = {"=1+2", "@SUM(1+1)", "+1", "-1", "\t=1", "\r=1"};
    for (const std::string& f : formulas) hoje.push_back({hoje.back().quando, f, "Bloqueado", 1});
    // Another producer's state text reaches the totals' export.
    hoje.push_back({hoje.back().quando, "1", "=cmd|' /C calc'!A0", 1});
    PostaNoHistorico(tabelas, hoje);
    arquivos().Fecha();
    const DiaHistorico dia = LeDiaHistorico(arquivos().ArquivoHistorico());
    const auto todas = FiltraHistorico(dia, {});

    const std::string csv = CsvLinhas(dia, todas);
    ASSERT_TRUE(csv.starts_with("\xEF\xBB\xBF"));
    const auto linhas = LeCsv(csv.substr(3), ';');
    ASSERT_EQ(linhas.size(), hoje.size() + 1);
    EXPECT_EQ(linhas[0], (std::vector<std::string>{"Data Hora", "Comanda", "Estado", "Equip."}));
    // Every source row comes back once, its texts as UTF-8.
    std::multiset<std::vector<std::string>> esperadas, lidas(linhas.begin() + 1, linhas.end());
    for (const Registro& r : hoje) {
        const bool formula =
            std::find(std::begin(formulas), std::end(formulas), r.cracha) != std::end(formulas);
        esperadas.insert({r.quando.Format("dd/mm/yyyy hh:nn:ss"),
                          (formula ? "'" : "") + common::Cp1252ToUtf8(r.cracha),
                          (r.estado.starts_with('=') ? "'" : "") + common::Cp1252ToUtf8(r.estado),
                          TextoTerminal(r.terminal)});
    }
    EXPECT_EQ(lidas, esperadas);
    for (const char* neutro :
         {";'=1+2;", ";'@SUM(1+1);", ";'+1;", ";'-1;", ";'\t=1;", ";\"'\r=1\";"})
        EXPECT_NE(csv.find(neutro), std::string::npos) << neutro;
    EXPECT_TRUE(lidas.count({"", "", "", ""}) == 0);
    EXPECT_NE(csv.find("\"12\"\"3;4\""), std::string::npos);
    EXPECT_NE(csv.find("Crach\xC3\xA1 \xE2\x82\xAC"), std::string::npos);  // "á €"

    const TotaisHistorico t = Totaliza(dia, todas);
    const std::string totais = CsvTotais(t);
    EXPECT_NE(totais.find("\r\nEstado;'=cmd|' /C calc'!A0;1;0;0\r\n"), std::string::npos) << totais;
    ASSERT_TRUE(totais.starts_with("\xEF\xBB\xBF"));
    const auto tabela = LeCsv(totais.substr(3), ';');
    ASSERT_GT(tabela.size(), 1u);
    EXPECT_EQ(tabela[0],
              (std::vector<std::string>{"Grupo", "Item", "Registros", "Liberado", "Bloqueado"}));
    std::map<std::string, int> somas;
    std::vector<std::string> horas;
    for (size_t i = 1; i < tabela.size(); ++i) {
        ASSERT_EQ(tabela[i].size(), 5u);
        somas[tabela[i][0]] += std::stoi(tabela[i][2]);
        if (tabela[i][0] == "Hora") horas.push_back(tabela[i][1]);
        if (tabela[i][0] == "Estado" && tabela[i][1] == "N\xC3\xA3o Girou") {
            EXPECT_EQ(std::stoi(tabela[i][2]), t.porEstado.at(estado::kNaoGirou));
        }
    }
    // Each group adds up to the whole; the hours run from the night's first one, all 24.
    for (const char* grupo : {"Total", "Estado", "Equip.", "Hora"}) {
        EXPECT_EQ(somas[grupo], static_cast<int>(hoje.size())) << grupo;
    }
    ASSERT_EQ(horas.size(), 24u);
    EXPECT_EQ(horas.front(), "18:00");
    EXPECT_EQ(horas.back(), "17:00");
}

// Nights, not files: a restart in the small hours (before one file per night) left a night in
// two files, a run of three days one file for three nights; a terminal with a wrong clock and a
// row without a time neither reorder their night nor invent an hour.
TEST_F(ArquivosTest, ANightIsItsRowsWhereverTheyStandAndAWrongClockInventsNoHour) {
    const auto Em = [](int d, int h, int m = 0) {
        return *DateTime::FromParts(2026, 12, d, h, m, 0);
    };
    const auto Arquivo = [&](int dia, const std::vector<Registro>& linhas) {
        TabelasReceptor t;
        t.cdsHistorico.Open();
        PostaNoHistorico(t, linhas);
        fs::create_directories(pasta / "Historicos");
        SaveTableToFile(t.cdsHistorico,
                        ArquivoDoDia(pasta, *DateTime::FromDate(2026, 12, dia)).string());
    };
    Arquivo(3, {{Em(3, 20), "3", "Liberado", 1},
                {Em(3, 21), "0000000000000777", "Liberado", 4},
                {Em(4, 21), "4", "Liberado", 1},
                {Em(5, 18, 30), "5a", "Liberado", 2}});
    Arquivo(5, {{Em(5, 19), "5b", "Liberado", 1},
                {Em(5, 20), "5c", "Bloqueado", 1},
                {*DateTime::FromParts(2000, 1, 1, 3, 0, 0), "relogio", "Liberado", 7},
                {DateTime(), "semhora", "Liberado", 7},
                {Em(5, 23, 30), "5d", "Liberado", 1}});
    Arquivo(6, {{Em(6, 0, 45), "5e", "Liberado", 1},
                {Em(6, 2), "5f", "N\xE3o Girou", 2},
                {Em(6, 19, 30), "6", "Liberado", 1},
                {Em(6, 20), "0000000000000777", "Bloqueado", 4}});
    // The month before.
    TabelasReceptor novembro;
    novembro.cdsHistorico.Open();
    PostaNoHistorico(
        novembro,
        {{*DateTime::FromParts(2026, 11, 30, 22, 0, 0), "0000000000000777", "Liberado", 4},
         {*DateTime::FromParts(2026, 12, 1, 1, 0, 0), "0000000000000777", "Liberado", 4}});
    SaveTableToFile(novembro.cdsHistorico,
                    ArquivoDoDia(pasta, *DateTime::FromDate(2026, 11, 30)).string());
    const auto Cartoes = [](const DiaHistorico& d) {
        std::vector<std::string> c;
        for (const auto& l : d.linhas) c.emplace_back(l.Cracha());
        return c;
    };

    const DiaHistorico noite = LeNoite(pasta, *DateTime::FromDate(2026, 12, 5), 12);
    EXPECT_EQ(Cartoes(noite),
              (std::vector<std::string>{"5a", "5b", "5c", "relogio", "semhora", "5d", "5e", "5f"}));
    EXPECT_EQ(noite.arquivo, ArquivoDoDia(pasta, *DateTime::FromDate(2026, 12, 5)));
    std::vector<bool> incertas;
    for (const auto& l : noite.linhas) incertas.push_back(l.horaIncerta);
    EXPECT_EQ(incertas, (std::vector<bool>{false, false, false, true, true, false, false, false}));
    const TotaisHistorico t = Totaliza(noite, FiltraHistorico(noite, {}));
    EXPECT_EQ(t.primeiraHora, 18);
    EXPECT_EQ(t.horaIncerta.total, 2);
    EXPECT_EQ(t.porHora[3].total, 0);  // the wrong clock's hour
    EXPECT_EQ(t.porHora[2].total, 1);
    EXPECT_EQ(t.geral.total, 8);
    const std::string csv = CsvLinhas(noite, FiltraHistorico(noite, {}));
    EXPECT_NE(csv.find("\r\n01/01/2000 03:00:00 (?);relogio;"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\r\n;semhora;"), std::string::npos) << csv;
    EXPECT_NE(TextoRelatorio(noite, t).find("  Hour     ? (time not trusted)         2         2"),
              std::string::npos)
        << TextoRelatorio(noite, t);
    EXPECT_NE(CsvTotais(t).find("Hora;incerta;2;2;0\r\n"), std::string::npos);

    // A range across a month's end: each night once, in order, each row in one night only.
    std::vector<std::pair<std::string, std::vector<std::string>>> noites;
    LeNoites(pasta, *DateTime::FromDate(2026, 11, 29), *DateTime::FromDate(2026, 12, 7), 12,
             [&](DiaHistorico&& d, DateTime dia) {
                 noites.emplace_back(dia.Format("dd/mm"), Cartoes(d));
             });
    EXPECT_EQ(noites, (std::vector<std::pair<std::string, std::vector<std::string>>>{
                          {"30/11", {"0000000000000777", "0000000000000777"}},
                          {"03/12", {"3", "0000000000000777"}},
                          {"04/12", {"4"}},
                          {"05/12", Cartoes(noite)},
                          {"06/12", {"6", "0000000000000777"}}}));
    // A card's story: four rows in three nights of two months, newest first; a part of the
    // number finds them as well; a card nobody had, nothing.
    const auto achados = BuscaComanda(pasta, "0000000000000777", 12);
    ASSERT_EQ(achados.size(), 4u);
    EXPECT_EQ(achados[0].noite, *DateTime::FromDate(2026, 12, 6));
    EXPECT_EQ(achados[0].estado, "Bloqueado");
    EXPECT_EQ(achados[1].noite, *DateTime::FromDate(2026, 12, 3));
    EXPECT_EQ(achados[2].linha.ms, DateTime::FromParts(2026, 12, 1, 1, 0, 0)->Ms());
    EXPECT_EQ(achados[2].noite, *DateTime::FromDate(2026, 11, 30));
    EXPECT_EQ(achados[3].noite, *DateTime::FromDate(2026, 11, 30));
    EXPECT_EQ(BuscaComanda(pasta, "777", 12).size(), 4u);
    EXPECT_TRUE(BuscaComanda(pasta, "0000000000000778", 12).empty());
    const auto linhasBusca = LeCsv(CsvBusca(achados).substr(3), ';');
    ASSERT_EQ(linhasBusca.size(), 5u);
    EXPECT_EQ(linhasBusca[1], (std::vector<std::string>{"06/12/2026", "06/12/2026 20:00:00",
                                                        "0000000000000777", "Bloqueado", "04"}));
    // At midnight as the cut, the small hours are the next day's.
    EXPECT_EQ(Cartoes(LeNoite(pasta, *DateTime::FromDate(2026, 12, 6), 0)),
              (std::vector<std::string>{"5e", "5f", "6", "0000000000000777"}));
    // Another producer writes a letter as a character reference: the search still finds it.
    Escreve(ArquivoDoDia(pasta, *DateTime::FromDate(2026, 12, 10)),
            kCabeca +
                "<METADATA><FIELDS><FIELD attrname=\"DataHora\" fieldtype=\"dateTime\"/>"
                "<FIELD attrname=\"Cracha\" fieldtype=\"string\" WIDTH=\"16\"/>"
                "<FIELD attrname=\"Estado\" fieldtype=\"string\" WIDTH=\"20\"/>"
                "<FIELD attrname=\"Terminal\" fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA>"
                "<ROWDATA><ROW DataHora=\"20261210T21:00:00000\" Cracha=\"Jos&#233;\" "
                "Estado=\"Liberado\" Terminal=\"1\"/></ROWDATA></DATAPACKET>");
    ASSERT_EQ(BuscaComanda(pasta, "Jos\xE9", 12).size(), 1u);
    EXPECT_EQ(BuscaComanda(pasta, "Jos", 12).size(), 1u);
    // A neighbour nothing can read leaves its night's rows out; the night's own file fails it.
    Escreve(ArquivoDoDia(pasta, *DateTime::FromDate(2026, 12, 6)), "<DATAPACKET");
    EXPECT_EQ(LeNoite(pasta, *DateTime::FromDate(2026, 12, 5), 12).linhas.size(), 6u);
    EXPECT_THROW(LeNoite(pasta, *DateTime::FromDate(2026, 12, 6), 12), EDataPacketError);
}

// The history read a row at a time gives what the receiver's whole-document reading gives,
// for its own files and other producers' alike; what only the whole reading knows is left to it.
TEST_F(ArquivosTest, RowByRowReadingGivesWhatTheWholeDocumentGives) {
    ASSERT_TRUE(arquivos().Inicia(agora));
    std::vector<Registro> noite = Noite(*DateTime::FromParts(2024, 3, 31, 18, 0, 0), 300);
    noite.push_back({noite.back().quando, "=1+2 com espa\xE7o   ", "Liberado", 3});
    PostaNoHistorico(tabelas, noite);
    arquivos().Fecha();
    const std::string daqui = Le(arquivos().ArquivoHistorico());
    const std::string campos =
        "<METADATA><FIELDS><FIELD attrname=\"DataHora\" fieldtype=\"dateTime\"/>"
        "<FIELD attrname=\"Cracha\" fieldtype=\"string\" WIDTH=\"16\"/>"
        "<FIELD attrname=\"Estado\" fieldtype=\"string\" WIDTH=\"20\"/>"
        "<FIELD attrname=\"Terminal\" fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA>";
    const struct {
        const char* nome;
        std::string bytes;
        bool linhaALinha;  // false: only the whole reading takes it
    } casos[] = {
        {"the receiver's", daqui, true},
        {"escapes, lenient numbers, a date alone, values past the widths",
         kCabeca + campos +
             "<ROWDATA><ROW DataHora=\"20240315T14:30:05123\" Cracha=\"00000000000123456789\" "
             "Estado=\"Liberado\" Terminal=\"1\"/><ROW DataHora=\"20240316\" "
             "Cracha=\"&lt;&amp;&#009;&#x41;&bogus;\" Estado=\"N\xE3o Girou\" Terminal=\"7x\"/>"
             "<ROW DataHora=\"x\" Cracha=\"\" Estado=\"Equip. N\xE3o Cadastrado\" "
             "Terminal=\"x7\"/><ROW/></ROWDATA></DATAPACKET>",
         true},
        {"another producer's layout",
         "<?xml version='1.0'?>\n<!-- export -->\n<DATAPACKET Version='2.0'>\n"
         "<METADATA><FIELDS><FIELD attrname='Operador' fieldtype='string' WIDTH='10'/>"
         "<FIELD fieldtype='DateTime' attrname='DataHora'/><FIELD attrname='Terminal' "
         "fieldtype='I4'/><FIELD attrname='Cracha' fieldtype='String' WIDTH='30'/>"
         "<FIELD attrname='Estado' fieldtype='string' WIDTH='20'/></FIELDS>"
         "<PARAMS LCID='1046'><PARAM Name='x' Value='y'/></PARAMS></METADATA>\n<ROWDATA>\n"
         " <ROW Operador='ana' Terminal = '2' Cracha='a\"b' DataHora='20240330T01:10:00000' "
         "Estado='Liberado'></ROW>\n <?pi x?>\n <ROW Cracha=\"x > y\" Estado=\"Bloqueado\"/>\n"
         "</ROWDATA>\n</DATAPACKET>\n",
         true},
        {"UTF-8 text",
         "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><DATAPACKET Version=\"2.0\">" +
             campos +
             "<ROWDATA><ROW DataHora=\"20240330\" Cracha=\"Jo\xC3\xA3o\" "
             "Estado=\"N\xC3\xA3o Girou\" Terminal=\"1\"/></ROWDATA></DATAPACKET>",
         false},
        {"a change log",
         kCabeca + campos.substr(0, campos.find("<PARAMS/>")) +
             "<PARAMS CHANGE_LOG=\"1 0 4\"/></METADATA><ROWDATA><ROW RowState=\"4\" "
             "DataHora=\"20240330\" Cracha=\"1\" Estado=\"Liberado\" Terminal=\"1\"/>"
             "</ROWDATA></DATAPACKET>",
         false},
    };
    const fs::path arquivo = pasta / "outro.xml";
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Escreve(arquivo, c.bytes);
        std::vector<
            std::tuple<std::optional<DateTime>, std::optional<int32_t>, std::string, std::string>>
            lidas, inteiras;
        const bool linhaALinha = PercorreLinhasHistorico(arquivo, [&](const LinhaLida& l) {
            lidas.emplace_back(l.dataHora, l.terminal, std::string(l.cracha),
                               std::string(l.estado));
        });
        EXPECT_EQ(linhaALinha, c.linhaALinha);
        TabelasReceptor t;
        LoadTableFromFile(t.cdsHistorico, arquivo.string());
        for (int i = 0; i < t.cdsHistorico.EntryCount(); ++i) {
            const auto v = [&](int campo) { return t.cdsHistorico.EntryValue(i, campo); };
            const auto d = v(campo::kDataHora), n = v(campo::kTerminal), cr = v(campo::kCracha),
                       e = v(campo::kEstado);
            inteiras.emplace_back(
                std::get_if<DateTime>(&d) ? std::optional(std::get<DateTime>(d)) : std::nullopt,
                std::get_if<int32_t>(&n) ? std::optional(std::get<int32_t>(n)) : std::nullopt,
                std::get_if<std::string>(&cr) ? std::get<std::string>(cr) : "",
                std::get_if<std::string>(&e) ? std::get<std::string>(e) : "");
        }
        EXPECT_FALSE(inteiras.empty());
        if (c.linhaALinha) {
            EXPECT_EQ(lidas, inteiras);
        }
        // Either way the nights' views read what the receiver reads.
        const DiaHistorico dia = LeDiaHistorico(arquivo);
        EXPECT_EQ(dia.linhas.size(), inteiras.size());
    }
    // Cut short in an addition, or after its rows: not a whole packet.
    for (const size_t corte : {daqui.size() - 5, daqui.size() - 30}) {
        Escreve(arquivo, daqui.substr(0, corte));
        EXPECT_THROW(PercorreLinhasHistorico(arquivo, [](const LinhaLida&) {}), EDataPacketError);
    }
}

TEST_F(ArquivosTest, ADayFileCaughtHalfWrittenIsReadAgainAndADamagedOneRefused) {
    ASSERT_TRUE(arquivos().Inicia(agora));
    auto& h = tabelas.cdsHistorico;
    for (int i = 0; i < 50; ++i) {
        h.Insert();
        h.SetDateTime(campo::kDataHora, DateTime::FromMs(agora.Ms() - i * 1000));
        h.SetString(campo::kCracha, std::to_string(i));
        h.SetString(campo::kEstado, estado::kLiberado);
        h.SetInteger(campo::kTerminal, 1);
        h.Post();
    }
    arquivos().Fecha();
    const fs::path arquivo = arquivos().ArquivoHistorico();
    const std::string inteiro = Le(arquivo);
    // As an addition in front of the closing tags is seen before it is complete.
    Escreve(arquivo, inteiro.substr(0, inteiro.size() / 2));
    std::thread completa([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Escreve(arquivo, inteiro);
    });
    const DiaHistorico dia = LeDiaHistorico(arquivo);
    completa.join();
    EXPECT_EQ(dia.linhas.size(), 50u);

    Escreve(arquivo, inteiro.substr(0, inteiro.size() / 2));
    EXPECT_THROW(LeDiaHistorico(arquivo), EDataPacketError);
    EXPECT_EQ(Le(arquivo), inteiro.substr(0, inteiro.size() / 2));
    EXPECT_THROW(LeDiaHistorico(pasta / "Historicos" / "Historico_20200101.xml"),
                 common::EFileError);
}

// A standby pair: each PC keeps its own files, and the nights of both are read as one night,
// each row once, whether a row stands on one PC or (a copy) on both. A partner folder that
// cannot be read costs this PC's report nothing.
TEST_F(ArquivosTest, ThePartnersRowsJoinEachNightOnceAndItsFailureCostsNothingOfOurs) {
    const auto Em = [](int d, int h, int m = 0) {
        return *DateTime::FromParts(2026, 12, d, h, m, 0);
    };
    const fs::path outro = pasta / "outro";
    const auto Arquivo = [&](const fs::path& onde, int dia, const std::vector<Registro>& linhas) {
        TabelasReceptor t;
        t.cdsHistorico.Open();
        PostaNoHistorico(t, linhas);
        fs::create_directories(onde / "Historicos");
        SaveTableToFile(t.cdsHistorico,
                        ArquivoDoDia(onde, *DateTime::FromDate(2026, 12, dia)).string());
    };
    Arquivo(pasta, 5,
            {{Em(5, 19), "A", "Liberado", 1},
             {Em(5, 20), "B", "Bloqueado", 2},
             {Em(5, 22), "E", "Liberado", 1},
             {Em(5, 22), "E", "Liberado", 1},
             {Em(5, 23, 30), "C", "Liberado", 1}});
    // The partner served the night's middle, and holds a copy of B and one of the two E.
    Arquivo(outro, 5,
            {{Em(5, 20), "B", "Bloqueado", 2},
             {Em(5, 21), "D", "N\xE3o Girou", 3},
             {DateTime(), "semhora", "Liberado", 3},
             {Em(5, 22), "E", "Liberado", 1}});
    Arquivo(outro, 4, {{Em(4, 21), "F", "Liberado", 3}});
    const auto Cartoes = [](const DiaHistorico& d) {
        std::vector<std::string> c;
        for (const auto& l : d.linhas) c.push_back(std::string(l.Cracha()) + ":" + d.Estado(l));
        return c;
    };

    std::vector<std::pair<std::string, std::vector<std::string>>> noites;
    std::string falha;
    LeNoites(
        pasta, *DateTime::FromDate(2026, 12, 3), *DateTime::FromDate(2026, 12, 6), 12,
        [&](DiaHistorico&& d, DateTime dia) {
            noites.emplace_back(dia.Format("dd/mm") + " " +
                                    d.arquivo.parent_path().parent_path().filename().string(),
                                Cartoes(d));
        },
        outro, &falha);
    const std::string minha = pasta.filename().string();
    EXPECT_EQ(noites, (std::vector<std::pair<std::string, std::vector<std::string>>>{
                          {"04/12 outro", {"F:Liberado"}},
                          {"05/12 " + minha,
                           {"A:Liberado", "B:Bloqueado", "D:N\xE3o Girou", "semhora:Liberado",
                            "E:Liberado", "E:Liberado", "C:Liberado"}}}));
    EXPECT_EQ(falha, "");
    const DiaHistorico cinco = LeNoite(pasta, *DateTime::FromDate(2026, 12, 5), 12, outro);
    const TotaisHistorico t = Totaliza(cinco, FiltraHistorico(cinco, {}));
    EXPECT_EQ(t.geral.total, 7);
    EXPECT_EQ(t.horaIncerta.total, 1);
    EXPECT_EQ(t.porTerminal.at(3).total, 2);
    // The night list has the partner's nights too; a card's story has each row once.
    const auto dias = DiasComHistorico(pasta, outro);
    ASSERT_EQ(dias.size(), 2u);
    EXPECT_EQ(dias[0].arquivo, ArquivoDoDia(pasta, *DateTime::FromDate(2026, 12, 5)));
    EXPECT_EQ(dias[1].arquivo, ArquivoDoDia(outro, *DateTime::FromDate(2026, 12, 4)));
    EXPECT_EQ(BuscaComanda(pasta, "B", 12, outro).size(), 1u);
    EXPECT_EQ(BuscaComanda(pasta, "E", 12, outro).size(), 2u);
    ASSERT_EQ(BuscaComanda(pasta, "D", 12, outro).size(), 1u);
    EXPECT_EQ(BuscaComanda(pasta, "D", 12).size(), 0u);

    // The partner's file damaged (a copy cut off): our night whole, and the reason said.
    Escreve(ArquivoDoDia(outro, *DateTime::FromDate(2026, 12, 5)), "<DATAPACKET");
    const DiaHistorico so = LeNoite(pasta, *DateTime::FromDate(2026, 12, 5), 12, outro, &falha);
    EXPECT_EQ(Cartoes(so), (std::vector<std::string>{"A:Liberado", "B:Bloqueado", "E:Liberado",
                                                     "E:Liberado", "C:Liberado"}));
    EXPECT_NE(falha.find("outro"), std::string::npos) << falha;
    // A search that must read it (the file holds the text) says so too, and keeps ours.
    std::string falhaBusca;
    EXPECT_EQ(BuscaComanda(pasta, "A", 12, outro, &falhaBusca).size(), 1u);
    EXPECT_FALSE(falhaBusca.empty());
}
