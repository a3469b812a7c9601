// The data packet reader and writer: exact bytes of the files the receiver writes, and what it
// makes of files from other producers.
#include "receiver/control/DataPacket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora {
namespace {

using common::DateTime;

const std::string kDecl = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";

PacketField Text(std::string name, int width) {
    return {std::move(name), "string", {{"WIDTH", std::to_string(width)}}};
}
PacketField Typed(std::string name, std::string type) { return {std::move(name), type, {}}; }

PacketRow Row(std::vector<std::pair<size_t, std::string>> values) { return {0, values}; }

std::string ErrorOf(std::string_view bytes) {
    try {
        ReadDataPacket(bytes);
    } catch (const EDataPacketError& e) {
        return e.Message();
    }
    return "(read)";
}

// Every value of one field, in row order; "-" for a row where it holds nothing.
std::vector<std::string> Column(const DataPacket& p, size_t field) {
    std::vector<std::string> out;
    for (const auto& r : p.rows) out.push_back(r.Value(field) ? *r.Value(field) : "-");
    return out;
}

TEST(DataPacketWrite, TheReceiversFilesByteForByte) {
    DataPacket equip{
        {Text("NumEquipamento", 2), Text("IP", 15)},
        {},
        {Row({{0, "01"}, {1, "192.168.0.21"}}), Row({{0, "02"}, {1, "192.168.0.22"}})}};
    DataPacket comandas{{Text("NumComanda", 20)},
                        {},
                        {Row({{0, "0000000000012345"}}), Row({{0, "0000000000067890"}})}};
    DataPacket vazia{{Text("NumComanda", 20)}, {}, {}};
    DataPacket historico{
        {Typed("DataHora", "dateTime"), Text("Cracha", 16), Text("Estado", 20),
         Typed("Terminal", "i4")},
        {},
        {Row({{0, EncodeDateTime(*DateTime::FromParts(2024, 3, 15, 14, 30, 5, 123))},
              {1, "0000000000012345"},
              {2, "Liberado"},
              {3, EncodeInteger(1)}}),
         Row({{0, EncodeDateTime(*DateTime::FromParts(2024, 3, 15, 14, 31, 10, 0))},
              {1, "0000000000067890"},
              {2, "Bloqueado"},
              {3, EncodeInteger(2)}}),
         Row({{0, EncodeDateTime(*DateTime::FromParts(2024, 3, 15, 14, 32, 0, 250))},
              {1, ""},
              {2, "Equip. N\xE3o Cadastrad"},
              {3, EncodeInteger(9)}})}};

    const std::vector<std::pair<const DataPacket*, std::string>> cases = {
        {&equip,
         kDecl + "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"NumEquipamento\" "
                 "fieldtype=\"string\" WIDTH=\"2\"/><FIELD attrname=\"IP\" fieldtype=\"string\" "
                 "WIDTH=\"15\"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW NumEquipamento=\"01\" "
                 "IP=\"192.168.0.21\"/><ROW NumEquipamento=\"02\" IP=\"192.168.0.22\"/></ROWDATA>"
                 "</DATAPACKET>"},
        {&comandas,
         kDecl + "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"NumComanda\" "
                 "fieldtype=\"string\" WIDTH=\"20\"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW "
                 "NumComanda=\"0000000000012345\"/><ROW NumComanda=\"0000000000067890\"/>"
                 "</ROWDATA></DATAPACKET>"},
        {&vazia, kDecl +
                     "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"NumComanda\" "
                     "fieldtype=\"string\" WIDTH=\"20\"/></FIELDS><PARAMS/></METADATA><ROWDATA>"
                     "</ROWDATA></DATAPACKET>"},
        {&historico,
         kDecl + "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"DataHora\" "
                 "fieldtype=\"dateTime\"/><FIELD attrname=\"Cracha\" fieldtype=\"string\" "
                 "WIDTH=\"16\"/><FIELD attrname=\"Estado\" fieldtype=\"string\" WIDTH=\"20\"/>"
                 "<FIELD attrname=\"Terminal\" fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA>"
                 "<ROWDATA><ROW DataHora=\"20240315T14:30:05123\" Cracha=\"0000000000012345\" "
                 "Estado=\"Liberado\" Terminal=\"1\"/><ROW DataHora=\"20240315T14:31:10000\" "
                 "Cracha=\"0000000000067890\" Estado=\"Bloqueado\" Terminal=\"2\"/><ROW "
                 "DataHora=\"20240315T14:32:00250\" Cracha=\"\" Estado=\"Equip. N\xE3o "
                 "Cadastrad\" Terminal=\"9\"/></ROWDATA></DATAPACKET>"},
    };
    for (const auto& [packet, bytes] : cases) {
        EXPECT_EQ(WriteDataPacket(*packet), bytes);
        // And each reads back into the same packet.
        EXPECT_EQ(ReadDataPacket(bytes), *packet) << bytes;
    }
}

TEST(DataPacketWrite, TextValuesRoundTripThroughTheEscapes) {
    const std::vector<std::pair<std::string, std::string>> escaped = {
        {"a<b>c", "a&lt;b&gt;c"},
        {"P&D 'x' \"y\"", "P&amp;D &apos;x&apos; &quot;y&quot;"},
        {"1\t2\r\n3\\4", "1&#009;2&#013;&#010;3&#092;4"},
        {"N\xE3o Girou", "N\xE3o Girou"},
        {"", ""},
    };
    std::vector<std::string> values;
    for (const auto& [value, written] : escaped) {
        EXPECT_EQ(EscapeText(value), written);
        values.push_back(value);
    }
    std::string everyByte;
    for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
    values.push_back(everyByte);
    for (const auto& value : values) {
        const DataPacket p{{Text("Estado", 20), Text("Outro", 20)}, {}, {Row({{0, value}})}};
        const std::string bytes = WriteDataPacket(p);
        const DataPacket back = ReadDataPacket(bytes);
        ASSERT_EQ(back.rows.size(), 1u);
        ASSERT_NE(back.rows[0].Value(0), nullptr);
        EXPECT_EQ(*back.rows[0].Value(0), value);
        // A field that holds nothing has no attribute at all; the empty text has one.
        EXPECT_EQ(back.rows[0].Value(1), nullptr);
        EXPECT_EQ(bytes.find(" Outro="), std::string::npos);
    }
}

TEST(DataPacketValues, EntitiesDecodeAndStrayAmpersandsStay) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"&#65;&#x42;&#X43;&#067;", "ABCC"},
        {"&#227;", "\xE3"},
        {"&#8364;", "\x80"},  // the euro sign has a byte of its own in the code page
        {"&#19990;", "?"},
        {"&#99999999999999999999;", "?"},
        {"a & b", "a & b"},
        {"&foo; &amp &#; &#x; &#65 &#6a;", "&foo; &amp &#; &#x; &#65 &#6a;"},
        {"&amp;lt;", "&lt;"},
        {"&&lt;&", "&<&"},
    };
    for (const auto& [raw, text] : cases) EXPECT_EQ(UnescapeText(raw), text) << raw;
}

TEST(DataPacketValues, IntegersAreReadLeniently) {
    const std::vector<std::pair<std::string, std::optional<int32_t>>> cases = {
        {"7", 7},
        {"7x", 7},
        {"x7", std::nullopt},
        {"-5", -5},
        {" 12 ", 12},
        {"+3", 3},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"- 5", std::nullopt},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"1e5", 1},
        {"\xE3"
         "5",
         std::nullopt},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(DecodeInteger(text), value) << text;
    EXPECT_EQ(EncodeInteger(-42), "-42");
    EXPECT_EQ(EncodeInteger(0), "0");
}

TEST(DataPacketValues, DateTimesEncodeAndDecode) {
    const auto at = [](int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
        return *DateTime::FromParts(y, mo, d, h, mi, s, ms);
    };
    // Written forms read back as the same value.
    const std::vector<std::pair<DateTime, std::string>> written = {
        {at(2024, 3, 15, 14, 30, 5, 123), "20240315T14:30:05123"},
        {at(2024, 3, 15, 14, 31, 10), "20240315T14:31:10000"},
        {at(2024, 3, 16), "20240316"},
        {at(2024, 3, 16, 0, 0, 0, 1), "20240316T00:00:00001"},
        {at(1899, 12, 30), "18991230"},
        {at(1, 1, 1, 23, 59, 59, 999), "00010101T23:59:59999"},
    };
    for (const auto& [value, text] : written) {
        EXPECT_EQ(EncodeDateTime(value), text);
        EXPECT_EQ(DecodeDateTime(text), value) << text;
    }
    // Other producers' forms, and what does not fit.
    const std::vector<std::pair<std::string, std::optional<DateTime>>> read = {
        {"20240315T14:30:05", at(2024, 3, 15, 14, 30, 5)},
        {"20240315T14:30:5", at(2024, 3, 15, 14, 30, 50)},
        {"20240315T14:30:051", at(2024, 3, 15, 14, 30, 5, 100)},
        {"20240229", at(2024, 2, 29)},
        {"20230229", std::nullopt},
        {"20241315", std::nullopt},
        {"20240132", std::nullopt},
        {"2024031", std::nullopt},
        {"20240315 ", std::nullopt},
        {"20240315X14:30:05123", std::nullopt},
        {"20240315T24:00:00000", std::nullopt},
        {"20240315T14:60:00000", std::nullopt},
        {"20240315T14:30:60000", std::nullopt},
        {"20240315T14:30:", std::nullopt},
        {"20240315T14:30:051234", std::nullopt},
        {"20240315T1:30:05", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, value] : read) EXPECT_EQ(DecodeDateTime(text), value) << text;
    EXPECT_EQ(DecodeTimeOfDay("14:30:05123"), DateTime::FromMs(52'205'123));
    EXPECT_EQ(DecodeTimeOfDay("14:30"), std::nullopt);
}

TEST(DataPacketRead, ForeignCardListKeepsItsParametersAndComesBackOnOneLine) {
    const std::string foreign =
        "\xEF\xBB\xBF  <?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\r\n"
        "<!-- exported by the venue -->\r\n"
        "<?producer build=\"7\"?>\r\n"
        "<DATAPACKET Version=\"2.0\">\r\n"
        "  <METADATA>\r\n"
        "    <FIELDS>\r\n"
        "      <FIELD WIDTH = '20' fieldtype=\"String\" attrname=\"NumComanda\" "
        "required=\"true\"/>\r\n"
        "      <FIELD attrname=\"Titular\" fieldtype=\"string.uni\" WIDTH=\"60\" />\r\n"
        "    </FIELDS>\r\n"
        "    <PARAMS LCID=\"1046\" DEFAULT_ORDER=\"1\">\r\n"
        "      <PARAM Name=\"Origem\" Value=\"Caixa 2\" Type=\"string\" Roundtrip=\"true\"/>\r\n"
        "    </PARAMS>\r\n"
        "  </METADATA>\r\n"
        "  <ROWDATA>\r\n"
        "    <ROW NumComanda=\"0000000000012345\" Titular=\"Jo\xC3\xA3o \xE2\x82\xAC "
        "\xE4\xB8\x96\" Extra=\"1\"/>\r\n"
        "    <!-- a comment between rows -->\r\n"
        "    <ROW Titular=\"S&#227;o\" NumComanda=\"0000000000067890\"></ROW>\r\n"
        "  </ROWDATA>\r\n"
        "</DATAPACKET>\r\n";
    const DataPacket p = ReadDataPacket(foreign);
    ASSERT_EQ(p.fields.size(), 2u);
    EXPECT_EQ(p.fields[0],
              (PacketField{"NumComanda", "string", {{"WIDTH", "20"}, {"required", "true"}}}));
    EXPECT_EQ(p.fields[1].type, "string.uni");
    EXPECT_EQ(p.params,
              (PacketAttributes{{"LCID", "1046"}, {"DEFAULT_ORDER", "1"}, {"Origem", "Caixa 2"}}));
    EXPECT_EQ(Column(p, 0), (std::vector<std::string>{"0000000000012345", "0000000000067890"}));
    EXPECT_EQ(Column(p, 1), (std::vector<std::string>{"Jo\xE3o \x80 ?", "S\xE3o"}));
    EXPECT_EQ(WriteDataPacket(p),
              kDecl +
                  "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"NumComanda\" "
                  "fieldtype=\"string\" WIDTH=\"20\" required=\"true\"/><FIELD "
                  "attrname=\"Titular\" fieldtype=\"string.uni\" WIDTH=\"60\"/></FIELDS><PARAMS "
                  "LCID=\"1046\" DEFAULT_ORDER=\"1\" Origem=\"Caixa 2\"/></METADATA><ROWDATA>"
                  "<ROW NumComanda=\"0000000000012345\" Titular=\"Jo\xE3o \x80 ?\"/><ROW "
                  "NumComanda=\"0000000000067890\" Titular=\"S\xE3o\"/></ROWDATA></DATAPACKET>");
}

TEST(DataPacketRead, EncodingDecidesHowBytesAboveAsciiRead) {
    const auto withDecl = [](const std::string& decl, const std::string& value) {
        return decl +
               "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"E\" fieldtype=\"string\"/>"
               "</FIELDS></METADATA><ROWDATA><ROW E=\"" +
               value + "\"/></ROWDATA></DATAPACKET>";
    };
    const std::string utf8Decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    const std::vector<std::pair<std::string, std::string>> cases = {
        // No declared encoding: every byte is one character, whatever it looks like.
        {withDecl(kDecl, "N\xE3o Girou"), "N\xE3o Girou"},
        {withDecl(kDecl, "N\xC3\xA3o"), "N\xC3\xA3o"},
        {withDecl("", "N\xC3\xA3o"), "N\xC3\xA3o"},
        // UTF-8 declared and well-formed: decoded.
        {withDecl(utf8Decl, "N\xC3\xA3o"), "N\xE3o"},
        {withDecl("<?xml version='1.0' encoding = 'utf-8'?>", "N\xC3\xA3o"), "N\xE3o"},
        // UTF-8 declared, but one stray byte anywhere: the whole file is read byte by byte.
        {withDecl(utf8Decl, "N\xC3\xA3o \xE3"), "N\xC3\xA3o \xE3"},
        // A byte order mark alone switches to UTF-8.
        {"\xEF\xBB\xBF" + withDecl("", "N\xC3\xA3o"), "N\xE3o"},
        {"\xEF\xBB\xBF" + withDecl(kDecl, "N\xC3\xA3o"), "N\xE3o"},
        {withDecl("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "N\xC3\xA3o"), "N\xC3\xA3o"},
    };
    for (const auto& [bytes, value] : cases) {
        const DataPacket p = ReadDataPacket(bytes);
        ASSERT_EQ(p.rows.size(), 1u) << bytes;
        EXPECT_EQ(*p.rows[0].Value(0), value) << bytes;
    }
}

TEST(DataPacketRead, ElementFormFieldNamesAndOddCorners) {
    const std::string bytes =
        "<METADATA><FIELDS>"
        "<FIELD tagname=\"DataHora\" fieldtype=\"DATETIME\"/>"
        "<FIELD attrname=\"Num_Comanda\" fieldname=\"Num Comanda\" fieldtype=\"string\"/>"
        "<FIELD attrname=\"Sub\" fieldtype=\"nested\"><FIELDS><FIELD attrname=\"X\" "
        "fieldtype=\"i4\"/></FIELDS><PARAMS/></FIELD>"
        "<FIELD attrname=\"Terminal\" fieldtype=\"i4\"/>"
        "</FIELDS><PARAMS><PARAM Name=\"LCID\" Value=\"1046\"/><PARAM Value=\"orphan\"/></PARAMS>"
        "<INDEXDEFS/></METADATA>"
        "<ROWDATA>"
        "<ROW Terminal=\"x7\"><DataHora>20240316</DataHora><Sub><ROW X=\"1\"/></Sub>"
        "<Num_Comanda><![CDATA[a<b]]>&amp;c<!-- no --></Num_Comanda></ROW>"
        "<ROWX Terminal=\"7x\" Terminal=\"8\"><DataHora/></ROWX>"
        "</ROWDATA>";
    const DataPacket p = ReadDataPacket(bytes);
    ASSERT_EQ(p.fields.size(), 3u);  // the nested packet is not kept
    EXPECT_EQ(p.fields[0].name, "DataHora");
    EXPECT_EQ(p.fields[0].type, "dateTime");
    EXPECT_EQ(p.fields[1].FieldName(), "Num Comanda");
    EXPECT_EQ(p.fields[1].name, "Num_Comanda");
    EXPECT_EQ(p.params, (PacketAttributes{{"LCID", "1046"}}));
    EXPECT_EQ(Column(p, 0), (std::vector<std::string>{"20240316", ""}));
    EXPECT_EQ(Column(p, 1), (std::vector<std::string>{"a<b&c", "-"}));
    EXPECT_EQ(Column(p, 2), (std::vector<std::string>{"x7", "7x"}));
    EXPECT_EQ(DecodeInteger(*p.rows[1].Value(2)), 7);
}

TEST(DataPacketWrite, NamesNoReaderCouldTakeAreReplacedAndKept) {
    const DataPacket p{{Typed("Num Comanda", "string"), Typed("a<b", "i4"), Typed("a_b", "i4")},
                       {{"bad name", "1"}, {"LCID", "1046"}, {"LCID", "0"}},
                       {Row({{0, "1"}, {1, "2"}, {2, "3"}})}};
    const std::string bytes = WriteDataPacket(p);
    EXPECT_NE(bytes.find("<FIELD attrname=\"Num_Comanda\" fieldtype=\"string\" "
                         "fieldname=\"Num Comanda\"/>"),
              std::string::npos);
    EXPECT_NE(bytes.find("<PARAMS LCID=\"1046\"/>"), std::string::npos);
    // Two fields meeting in one attribute name: only the first keeps its values.
    EXPECT_NE(bytes.find("<ROW Num_Comanda=\"1\" a_b=\"2\"/>"), std::string::npos);
    const DataPacket back = ReadDataPacket(bytes);
    EXPECT_EQ(back.fields[0].FieldName(), "Num Comanda");
    EXPECT_EQ(back.fields[1].FieldName(), "a<b");
    EXPECT_EQ(WriteDataPacket(back), bytes);
}

TEST(DataPacketRead, ChangeLogRowsShowOnce) {
    const auto file = [](const std::string& log, const std::string& rows) {
        return "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"N\" fieldtype=\"string\"/>"
               "</FIELDS><PARAMS " +
               log + " LCID=\"1046\"/></METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
    };
    const auto row = [](int state, const std::string& n) {
        return "<ROW" + (state ? " RowState=\"" + std::to_string(state) + "\"" : "") + " N=\"" + n +
               "\"/>";
    };
    struct Case {
        std::string log;
        std::string rows;
        std::vector<std::string> shown;
    };
    const std::vector<Case> cases = {
        // Before image then its new version: the new one, at the old one's place.
        {"CHANGE_LOG=\"3 1 8\"", row(1, "a") + row(0, "b") + row(8, "A"), {"A", "b"}},
        // The original left unmarked; the log alone says it was replaced.
        {"CHANGE_LOG=\"3 1 8\"", row(0, "a") + row(0, "b") + row(8, "A"), {"A", "b"}},
        // Inserted, then changed twice.
        {"CHANGE_LOG=\"2 0 4 3 2 8 4 3 8\"",
         row(0, "a") + row(4, "x") + row(8, "y") + row(8, "z"),
         {"a", "z"}},
        // Deleted rows go, with every version before them.
        {"CHANGE_LOG=\"2 1 2 3 0 2\"", row(0, "a") + row(2, "a") + row(2, "b"), {}},
        {"", row(0, "a") + row(2, "b") + row(4, "c") + row(1, "d") + row(8, "D"), {"a", "c", "D"}},
        // Logs that cannot be trusted are ignored; the statuses still decide.
        {"CHANGE_LOG=\"3 1\"", row(1, "a") + row(0, "b") + row(8, "A"), {"b", "A"}},
        {"CHANGE_LOG=\"3 9 8\"", row(1, "a") + row(0, "b") + row(8, "A"), {"b", "A"}},
        {"CHANGE_LOG=\"2 1 8 3 1 8\"", row(0, "a") + row(8, "b") + row(8, "c"), {"a", "b", "c"}},
        {"CHANGE_LOG=\"1 2 8 2 1 8\"", row(8, "a") + row(8, "b"), {"a", "b"}},
        {"CHANGE_LOG=\"x y z\"", row(0, "a") + row(12, "b"), {"a", "b"}},
        {"CHANGE_LOG=\"1 1 8\"", row(0, "a"), {"a"}},
    };
    for (const auto& c : cases) {
        const DataPacket p = ReadDataPacket(file(c.log, c.rows));
        EXPECT_EQ(Column(p, 0), c.shown) << c.log << " " << c.rows;
        EXPECT_EQ(p.params, (PacketAttributes{{"LCID", "1046"}}));
        for (const auto& r : p.rows) EXPECT_EQ(r.rowState, 0);
    }
    // The raw reading keeps the log for whoever wants it.
    const DataPacket raw = ParseDataPacket(file("CHANGE_LOG=\"3 1 8\"", row(1, "a") + row(8, "A")));
    EXPECT_EQ(raw.rows[0].rowState, 1);
    EXPECT_EQ(raw.params.size(), 2u);
}

TEST(DataPacketRead, RefusedFilesSayWhy) {
    const std::string fields = "<FIELDS><FIELD attrname=\"N\" fieldtype=\"string\"/></FIELDS>";
    const std::string ok = "<DATAPACKET><METADATA>" + fields +
                           "</METADATA><ROWDATA><ROW N=\"1\"/>"
                           "</ROWDATA></DATAPACKET>";
    const std::string mismatch = kMismatchInDatapacket;
    const std::string badType = kInvalidFieldType;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", kMissingDataPacket},
        {std::string("\x96\x19\xE0\xBD\x01\x00\x00\x00", 8), kBinaryDataPacket},
        {" \t\r\n", mismatch},
        {"\xEF\xBB\xBF", mismatch},
        {std::string("\0", 1) + ok, mismatch},
        {"x" + ok, mismatch},
        {"<FOO/>" + ok, mismatch},
        {"<DATAPACKET/>", mismatch},
        {"<DATAPACKET><METADATA></METADATA><ROWDATA/></DATAPACKET>", mismatch},
        {"<DATAPACKET><METADATA><PARAMS/>" + fields + "</METADATA><ROWDATA/></DATAPACKET>",
         mismatch},
        {"<DATAPACKET><METADATA>" + fields + "</METADATA></DATAPACKET>", mismatch},
        {"<DATAPACKET><METADATA>" + fields +
             "</METADATA><ROWDATA><REC N=\"1\"/></ROWDATA>"
             "</DATAPACKET>",
         mismatch},
        {"<DATAPACKET><METADATA><FIELDS><FIELD fieldtype=\"string\"/></FIELDS></METADATA>"
         "<ROWDATA/></DATAPACKET>",
         mismatch},
        {"<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"N\"/></FIELDS></METADATA>"
         "<ROWDATA/></DATAPACKET>",
         badType},
        {"<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"N\" fieldtype=\"money\"/></FIELDS>"
         "</METADATA><ROWDATA/></DATAPACKET>",
         badType},
        // Closing tags that do not match, and files cut short.
        {"<DATAPACKET><METADATA>" + fields + "</METADATA><ROWDATA></ROWDATA></METADATA>", mismatch},
        {"<DATAPACKET><METADATA>" + fields +
             "</METADATA><ROWDATA><ROW N=\"1\"></ROWX></ROWDATA>"
             "</DATAPACKET>",
         mismatch},
        {ok.substr(0, ok.size() - 1), mismatch},
        {ok.substr(0, ok.size() - 13), mismatch},
        {ok.substr(0, ok.find("</ROWDATA>")), mismatch},
        {ok.substr(0, ok.find("=\"1\"") + 2), mismatch},
        {"<!-- never closed " + ok, mismatch},
        {"<DATAPACKET><METADATA>" + fields +
             "</METADATA><ROWDATA><ROW N=1/></ROWDATA>"
             "</DATAPACKET>",
         mismatch},
    };
    for (const auto& [bytes, message] : cases) EXPECT_EQ(ErrorOf(bytes), message) << bytes;
    EXPECT_EQ(ErrorOf(ok), "(read)");
    EXPECT_EQ(EDataPacketError(kMissingDataPacket).WithPrefix("cdsComandas").Message(),
              "cdsComandas: Missing data provider or data packet");
}

TEST(DataPacketRead, DeepOrWideInputStaysCheap) {
    // Nesting far deeper than any stack could take, inside a value and in a skipped element.
    std::string deep;
    for (int i = 0; i < 200'000; ++i) deep += "<a>";
    for (int i = 0; i < 200'000; ++i) deep += "</a>";
    const std::string bytes =
        "<METADATA><FIELDS><FIELD attrname=\"N\" fieldtype=\"string\"/>"
        "</FIELDS><X>" +
        deep + "</X></METADATA><ROWDATA><ROW><N>v" + deep + "</N></ROW></ROWDATA>";
    const DataPacket p = ReadDataPacket(bytes);
    EXPECT_EQ(Column(p, 0), std::vector<std::string>{"v"});
    EXPECT_EQ(ErrorOf(deep), kMismatchInDatapacket);
}

}  // namespace
}  // namespace lumora
