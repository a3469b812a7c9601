// Tables to and from their files: the binding messages, what survives a load and a save, and
// saves that fail or are cut short.
#include "receiver/control/TableFile.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/Exception.h"
#include "receiver/control/Tabelas.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;
using common::DateTime;
using common::FieldType;
using common::MemTable;

const std::string kDecl = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";

// The receiver's own tables, each from a set of its own that lives as long as the table is used,
// so the tests meet the very fields, widths, sort orders and store rules the program has.
std::shared_ptr<MemTable> UmaTabela(MemTable TabelasReceptor::*qual) {
    auto conjunto = std::make_shared<TabelasReceptor>();
    return std::shared_ptr<MemTable>(conjunto, &((*conjunto).*qual));
}
std::shared_ptr<MemTable> Comandas() { return UmaTabela(&TabelasReceptor::cdsComandas); }
std::shared_ptr<MemTable> Historico() { return UmaTabela(&TabelasReceptor::cdsHistorico); }

std::string Packet(const std::string& fields, const std::string& rows,
                   const std::string& params = "<PARAMS/>") {
    return kDecl + "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>" + fields + "</FIELDS>" +
           params + "</METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}

class TableFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tablefile_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Put(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    std::string Get(const std::string& name) const { return ReadWholeFile(Path(name)); }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

std::string LoadError(MemTable& table, const std::string& path) {
    try {
        LoadTableFromFile(table, path);
    } catch (const common::Exception& e) {
        return e.Message();
    }
    return "(loaded)";
}

TEST_F(TableFileTest, RefusedFilesNameTheTableAndLeaveItClosed) {
    const std::string numComanda =
        "<FIELD attrname=\"NumComanda\" fieldtype=\"string\" WIDTH=\"20\"/>";
    const std::string histFields =
        "<FIELD attrname=\"DataHora\" fieldtype=\"dateTime\"/><FIELD attrname=\"Cracha\" "
        "fieldtype=\"string\" WIDTH=\"16\"/><FIELD attrname=\"Estado\" fieldtype=\"string\" "
        "WIDTH=\"20\"/>";
    struct Case {
        bool history;
        std::string bytes;
        std::string message;
    };
    const std::vector<Case> cases = {
        {false, Packet("<FIELD attrname=\"Numero\" fieldtype=\"string\"/>", ""),
         "cdsComandas: Field 'Comandas Ativas' not found"},
        {false, Packet("<FIELD attrname=\"NumComanda\" fieldtype=\"i4\"/>", ""),
         "cdsComandas: Type mismatch for field 'Comandas Ativas', expecting: String actual: "
         "Integer"},
        {true, Packet(histFields + "<FIELD attrname=\"Terminal\" fieldtype=\"string\"/>", ""),
         "cdsHistorico: Type mismatch for field 'Terminal', expecting: Integer actual: String"},
        {true, Packet("<FIELD attrname=\"DataHora\" fieldtype=\"r8\"/>", ""),
         "cdsHistorico: Type mismatch for field 'Data Hora', expecting: DateTime actual: Float"},
        {true, Packet(histFields, ""), "cdsHistorico: Field 'Terminal' not found"},
        {false, "", "cdsComandas: Missing data provider or data packet"},
        {false, "NumComanda\r\n0000000000012345\r\n", "cdsComandas: Mismatch in datapacket."},
        {false, Packet("<FIELD attrname=\"NumComanda\" fieldtype=\"varchar\"/>", ""),
         "cdsComandas: Invalid field type."},
        {false, Packet(numComanda, "<ROW NumComanda=\"1\"/>").substr(0, 200),
         "cdsComandas: Mismatch in datapacket."},
    };
    for (const auto& c : cases) {
        auto table = c.history ? Historico() : Comandas();
        Put("f.xml",
            Packet(c.history ? histFields + "<FIELD attrname=\"Terminal\" fieldtype=\"i4\"/>"
                             : numComanda,
                   ""));
        LoadTableFromFile(*table, Path("f.xml"));
        ASSERT_TRUE(table->Active());
        Put("f.xml", c.bytes);
        EXPECT_EQ(LoadError(*table, Path("f.xml")), c.message) << c.bytes;
        EXPECT_FALSE(table->Active());
    }
    auto table = Comandas();
    EXPECT_EQ(LoadError(*table, Path("absent.xml")),
              "Cannot open file \"" + Path("absent.xml") + "\". No such file or directory");
    EXPECT_THROW(LoadTableFromFile(*table, dir_.string()), common::EFileError);
}

TEST_F(TableFileTest, FieldsOfTheSameKindBindWhateverTheirExactType) {
    const std::string bytes = Packet(
        "<FIELD attrname=\"datahora\" fieldtype=\"SQLdateTime\"/><FIELD attrname=\"Cr_cha\" "
        "fieldname=\"Cracha\" fieldtype=\"string.uni\"/><FIELD attrname=\"Estado\" "
        "fieldtype=\"STRING\"/><FIELD attrname=\"Terminal\" fieldtype=\"ui2\"/>",
        "<ROW datahora=\"20240316\" Cr_cha=\"0000000000012345\" Estado=\"Bloqueado   \" "
        "Terminal=\"7x\"/><ROW datahora=\"2024\" Terminal=\"x7\" Estado=\"\"/>");
    Put("h.xml", bytes);
    auto table = Historico();
    LoadTableFromFile(*table, Path("h.xml"));
    const auto rows = table->RowsInEntryOrder();
    ASSERT_EQ(rows.size(), 2u);
    const common::Row first{*DateTime::FromDate(2024, 3, 16), std::string("0000000000012345"),
                            std::string("Bloqueado"), int32_t{7}};
    const common::Row second{std::monostate{}, std::monostate{}, std::string(), std::monostate{}};
    EXPECT_EQ(rows[0], first);
    EXPECT_EQ(rows[1], second);
}

TEST_F(TableFileTest, HistorySavesInEntryOrderAndLoadsBack) {
    auto table = Historico();
    table->Open();
    const auto add = [&](DateTime when, const std::string& cracha, const std::string& estado,
                         int32_t terminal) {
        table->Insert();
        table->SetDateTime(0, when);
        if (!cracha.empty()) table->SetString(1, cracha);
        table->SetString(2, estado);
        table->SetInteger(3, terminal);
        table->Post();
    };
    add(*DateTime::FromParts(2024, 3, 15, 14, 30, 5, 123), "0000000000012345", "Liberado", 1);
    add(*DateTime::FromParts(2024, 3, 16), "0000000000067890", "N\xE3o Girou", 2);
    add(*DateTime::FromParts(2024, 3, 15, 14, 32, 0, 250), "<&\"'\\\t>", "Equip. N\xE3o Cadastrado",
        -9);
    SaveTableToFile(*table, Path("Historico_20240315.xml"));
    const std::string expected = Packet(
        "<FIELD attrname=\"DataHora\" fieldtype=\"dateTime\"/><FIELD attrname=\"Cracha\" "
        "fieldtype=\"string\" WIDTH=\"16\"/><FIELD attrname=\"Estado\" fieldtype=\"string\" "
        "WIDTH=\"20\"/><FIELD attrname=\"Terminal\" fieldtype=\"i4\"/>",
        "<ROW DataHora=\"20240315T14:30:05123\" Cracha=\"0000000000012345\" Estado=\"Liberado\" "
        "Terminal=\"1\"/><ROW DataHora=\"20240316\" Cracha=\"0000000000067890\" Estado=\"N\xE3o "
        "Girou\" Terminal=\"2\"/><ROW DataHora=\"20240315T14:32:00250\" "
        "Cracha=\"&lt;&amp;&quot;&apos;&#092;&#009;&gt;\" Estado=\"Equip. N\xE3o Cadastrad\" "
        "Terminal=\"-9\"/>");
    EXPECT_EQ(Get("Historico_20240315.xml"), expected);
    EXPECT_EQ(Names(), std::vector<std::string>{"Historico_20240315.xml"});

    auto again = Historico();
    const TableFileExtras extras = LoadTableFromFile(*again, Path("Historico_20240315.xml"));
    ASSERT_EQ(again->RecordCount(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(again->RowsInEntryOrder()[i], table->RowsInEntryOrder()[i]);
    again->First();
    EXPECT_EQ(again->AsString(2), "N\xE3o Girou");  // newest first
    SaveTableToFile(*again, Path("Historico_20240315.xml"), &extras);
    EXPECT_EQ(Get("Historico_20240315.xml"), expected);
}

TEST_F(TableFileTest, ForeignColumnsAndParametersSurviveARewrite) {
    Put("Comandas.xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DATAPACKET Version=\"2.0\">\n <METADATA>\n"
        "  <FIELDS>\n   <FIELD attrname=\"Titular\" fieldtype=\"string.uni\" WIDTH=\"40\"/>\n"
        "   <FIELD attrname=\"NumComanda\" fieldtype=\"string\" WIDTH=\"20\"/>\n  </FIELDS>\n"
        "  <PARAMS LCID=\"1046\" DEFAULT_ORDER=\"2\" PRIMARY_KEY=\"2\"/>\n </METADATA>\n"
        " <ROWDATA>\n  <ROW Titular=\"Jo\xC3\xA3o\" NumComanda=\"0000000000000003\"/>\n"
        "  <ROW Titular=\"Ana\" NumComanda=\"0000000000000001\"/>\n"
        "  <ROW NumComanda=\"0000000000000002\" Titular=\"\"/>\n </ROWDATA>\n</DATAPACKET>\n");
    auto table = Comandas();
    const TableFileExtras extras = LoadTableFromFile(*table, Path("Comandas.xml"));
    EXPECT_EQ(extras.params, (PacketAttributes{{"LCID", "1046"}}));
    ASSERT_TRUE(table->FindKey("0000000000000001"));
    table->Delete();
    table->Insert();
    table->SetString(0, "0000000000000009");
    table->Post();
    SaveTableToFile(*table, Path("Comandas.xml"), &extras);
    EXPECT_EQ(Get("Comandas.xml"),
              Packet("<FIELD attrname=\"NumComanda\" fieldtype=\"string\" WIDTH=\"20\"/><FIELD "
                     "attrname=\"Titular\" fieldtype=\"string.uni\" WIDTH=\"40\"/>",
                     "<ROW NumComanda=\"0000000000000003\" Titular=\"Jo\xE3o\"/><ROW "
                     "NumComanda=\"0000000000000002\" Titular=\"\"/><ROW "
                     "NumComanda=\"0000000000000009\"/>",
                     "<PARAMS LCID=\"1046\"/>"));
    // Without what the load carried, only the table's own field is written.
    SaveTableToFile(*table, Path("Comandas.xml"));
    EXPECT_EQ(Get("Comandas.xml").find("Titular"), std::string::npos);
}

TEST_F(TableFileTest, ForeignValuesStayWithTheRecordsTheyCameWith) {
    // The last loaded record goes and a new one comes: it must not inherit the values of the
    // one it replaced (the allocator readily hands it the same memory).
    const std::string arquivo =
        kDecl +
        "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
        "<FIELD attrname=\"NumComanda\" fieldtype=\"string\" WIDTH=\"20\"/>"
        "<FIELD attrname=\"Local\" fieldtype=\"string\" WIDTH=\"10\"/></FIELDS><PARAMS/>"
        "</METADATA><ROWDATA><ROW NumComanda=\"0000000000000001\" Local=\"Porta A\"/>"
        "<ROW NumComanda=\"0000000000000002\" Local=\"Porta B\"/></ROWDATA></DATAPACKET>";
    for (int rodada = 0; rodada < 2; ++rodada) {
        Put("Comandas.xml", arquivo);
        auto table = Comandas();
        const TableFileExtras extras = LoadTableFromFile(*table, Path("Comandas.xml"));
        if (rodada == 0) {
            ASSERT_TRUE(table->FindKey("0000000000000002"));
            table->Delete();
        } else {
            table->Empty();
        }
        for (const char* novo : {"0000000000000009", "0000000000000008"}) {
            table->Insert();
            table->SetString(0, novo);
            table->Post();
        }
        const std::string salvo = WriteTablePacket(*table, &extras);
        EXPECT_EQ(salvo.find("Porta B"), std::string::npos) << rodada;
        EXPECT_EQ(salvo.find("Porta A") != std::string::npos, rodada == 0);
        EXPECT_NE(salvo.find("<ROW NumComanda=\"0000000000000009\"/>"), std::string::npos);
    }
}

// The save writes the file straight from the records; it must give the very bytes of the
// packet route, whatever the values and whatever a foreign file left to carry.
TEST(TableFileBytes, WrittenStraightFromTheRecordsAsThroughAPacket) {
    const auto at = [](int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
        return common::FieldValue(*DateTime::FromParts(y, mo, d, h, mi, s, ms));
    };
    std::string highBytes;
    for (int c = 128; c < 256; ++c) highBytes += static_cast<char>(c);
    const common::FieldValue none;
    const auto text = [](std::string t) { return common::FieldValue(std::move(t)); };

    auto own = std::make_unique<MemTable>(
        "cdsHistorico", std::vector<common::FieldDef>{{"DataHora", FieldType::DateTime, 0, ""},
                                                      {"Cracha", FieldType::Text, 16, ""},
                                                      {"Estado", FieldType::Text, 0, ""},
                                                      {"Terminal", FieldType::Integer, 0, ""},
                                                      {"Com espa\xE7o", FieldType::Text, 0, ""}});
    // Days change, come back and repeat, so that a date part kept from the row before is
    // never written for another day.
    own->Load({
        {none, none, none, none, none},
        {at(2024, 3, 16), text(""), none, int32_t{0}, text("")},
        {at(2024, 3, 16, 0, 0, 0, 1), text("<>&'\"\r\n\t\\"), text("a<b&&c d"), INT32_MIN, none},
        {at(2024, 3, 17), text(highBytes.substr(0, 16)), text(highBytes), INT32_MAX, text("x")},
        {at(2024, 3, 16, 23, 59, 59, 999), none, text("N\xE3o Girou"), int32_t{-1}, none},
        {at(2024, 3, 16, 12), none, none, int32_t{7}, none},
        {common::FieldValue(DateTime()), none, none, none, none},
        {common::FieldValue(DateTime::FromMs(-1)), none, none, none, none},
        {at(9999, 12, 31, 23, 59, 59, 999), none, none, none, none},
        {at(1, 1, 1), none, none, none, none},
    });
    own->Insert();
    own->SetString(1, "0000000000012345");
    own->Post();

    // A foreign card list: carried columns (one of them named like ours, so it gets no values
    // in a row), parameters, then the list edited before the save.
    auto foreign = Comandas();
    TableFileExtras foreignExtras = LoadTableFromPacket(
        *foreign,
        ReadDataPacket(Packet(
            "<FIELD attrname=\"Titular\" fieldtype=\"string.uni\" WIDTH=\"40\"/><FIELD "
            "attrname=\"NumComanda\" fieldtype=\"string\" WIDTH=\"20\"/><FIELD "
            "attrname=\"Saldo\" fieldtype=\"r8\"/><FIELD attrname=\"Num_x\" fieldname=\"Num x\" "
            "fieldtype=\"string\"/><FIELD attrname=\"NumComanda\" fieldtype=\"i4\"/>",
            "<ROW Titular=\"Jo&#227;o &amp; filhos\" NumComanda=\"3\" Saldo=\"1.5\" "
            "Num_x=\"&lt;&gt;\"/><ROW Titular=\"\" NumComanda=\"1\"/><ROW NumComanda=\"2\" "
            "Saldo=\"-0\"/><ROW NumComanda=\"4\" Titular=\"Ana\"/>",
            "<PARAMS LCID=\"1046\" Texto=\"a&amp;b\" DEFAULT_ORDER=\"2\"/>")));
    ASSERT_EQ(foreignExtras.fields.size(), 4u);
    ASSERT_TRUE(foreign->FindKey("1"));
    foreign->Delete();
    ASSERT_TRUE(foreign->FindKey("4"));
    foreign->Edit();
    foreign->SetString(0, "44");
    foreign->Post();
    foreign->Insert();
    foreign->SetString(0, "9");
    foreign->Post();

    // Our own file loaded back: nothing to carry but the (empty) parameters and the rows' places.
    auto loaded = Comandas();
    const TableFileExtras loadedExtras = LoadTableFromPacket(
        *loaded,
        ReadDataPacket(Packet("<FIELD attrname=\"NumComanda\" fieldtype=\"string\" WIDTH=\"20\"/>",
                              "<ROW NumComanda=\"7\"/><ROW/>", "<PARAMS LCID=\"1046\"/>")));

    auto closed = Comandas();
    struct Case {
        const char* what;
        const MemTable* table;
        const TableFileExtras* extras;
        std::vector<std::string> contains;  // a few things the bytes must hold, as a sanity check
    };
    const std::vector<Case> cases = {
        {"every type",
         own.get(),
         nullptr,
         {"<ROW/>", "<ROW DataHora=\"20240316\" Cracha=\"\" Terminal=\"0\" Com_espa\xE7o=\"\"/>",
          "Cracha=\"&lt;&gt;&amp;&apos;&quot;&#013;&#010;&#009;&#092;\"",
          "DataHora=\"20240317\" Cracha=\"" + highBytes.substr(0, 16) + "\"",
          "DataHora=\"20240316T23:59:59999\"", "DataHora=\"20240316T00:00:00001\"",
          "DataHora=\"18991230\"/>", "DataHora=\"18991229T23:59:59999\"/>",
          "fieldname=\"Com espa\xE7o\"", "Terminal=\"-2147483648\""}},
        {"foreign file, edited",
         foreign.get(),
         &foreignExtras,
         {"<PARAMS LCID=\"1046\" Texto=\"a&amp;b\"/>",
          "<ROW NumComanda=\"3\" Titular=\"Jo\xE3o &amp; filhos\" Saldo=\"1.5\" "
          "Num_x=\"&lt;&gt;\"/>",
          "<ROW NumComanda=\"0000000000000044\" Titular=\"Ana\"/><ROW "
          "NumComanda=\"0000000000000009\"/>"}},
        {"own file loaded back",
         loaded.get(),
         &loadedExtras,
         {"<PARAMS LCID=\"1046\"/>", "<ROW NumComanda=\"7\"/><ROW/>"}},
        {"closed table", closed.get(), nullptr, {"<ROWDATA></ROWDATA>"}},
    };
    for (const auto& c : cases) {
        const std::string bytes = WriteTablePacket(*c.table, c.extras);
        EXPECT_EQ(bytes, WriteDataPacket(PacketFromTable(*c.table, c.extras))) << c.what;
        for (const auto& part : c.contains) {
            EXPECT_NE(bytes.find(part), std::string::npos) << c.what << ": " << part;
        }
    }
}

TEST_F(TableFileTest, FailedSavesLeaveTheOldFileAndNoLitter) {
    auto table = Comandas();
    table->Open();
    table->Insert();
    table->SetString(0, "4711");
    table->Post();
    const std::string old = "old contents";
    Put("Comandas.xml", old);
    ASSERT_EQ(chmod(Path("Comandas.xml").c_str(), 0640), 0);

    const auto saveError = [&](const std::string& path) {
        try {
            SaveTableToFile(*table, path);
        } catch (const common::EFileError& e) {
            return e.Message();
        }
        return std::string("(saved)");
    };
    EXPECT_EQ(
        saveError(Path("missing/Comandas.xml")),
        "Cannot create file \"" + Path("missing/Comandas.xml") + "\". No such file or directory");
    fs::create_directory(dir_ / "busy");
    std::ofstream(dir_ / "busy" / "inside") << "x";
    EXPECT_EQ(saveError(Path("busy")),
              "Cannot create file \"" + Path("busy") + "\". Is a directory");
    EXPECT_TRUE(fs::exists(dir_ / "busy" / "inside"));

    // A file size limit makes the write itself fail, as a full disk would. In a child, so the
    // limit does not stay with the tests.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::string expected =
            "Cannot create file \"" + Path("Comandas.xml") + "\". File too large";
        _exit(saveError(Path("Comandas.xml")) == expected ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_EQ(Get("Comandas.xml"), old);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Comandas.xml", "busy"}));

    // A save that works replaces the file and keeps its permissions.
    EXPECT_EQ(saveError(Path("Comandas.xml")), "(saved)");
    EXPECT_NE(Get("Comandas.xml").find("NumComanda=\"0000000000004711\""), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat(Path("Comandas.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Comandas.xml", "busy"}));
}

TEST_F(TableFileTest, AWriterKilledMidSaveLeavesAWholeFile) {
    // Two card lists large enough that a save takes a while; the file must always hold one of
    // them whole.
    const auto cards = [](char digit) {
        auto table = Comandas();
        table->Load(std::vector<common::Row>(60'000, common::Row{std::string(20, digit)}));
        return table;
    };
    const auto a = cards('1');
    const auto b = cards('2');
    SaveTableToFile(*a, Path("Comandas.xml"));
    const std::string bytesA = Get("Comandas.xml");
    SaveTableToFile(*b, Path("Comandas.xml"));
    const std::string bytesB = Get("Comandas.xml");
    int cutShort = 0;  // rounds in which the kill caught a save half done
    for (int round = 0; round < 12; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) SaveTableToFile(i % 2 ? *a : *b, Path("Comandas.xml"));
        }
        // Wait until the child is inside a save (its temporary file is there), then strike:
        // at once in even rounds (a save on a fast disk is over in well under a millisecond),
        // at a later moment each odd round: while writing, syncing or renaming.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Names().size() < 2 && std::chrono::steady_clock::now() < limit) sched_yield();
        if (round % 2) usleep(round * 700);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string now = Get("Comandas.xml");
        EXPECT_TRUE(now == bytesA || now == bytesB) << "round " << round << ": " << now.size();
        for (const auto& name : Names()) {
            if (name != "Comandas.xml") {
                ++cutShort;
                fs::remove(dir_ / name);
            }
        }
    }
    EXPECT_GT(cutShort, 0);
}

}  // namespace
}  // namespace lumora
