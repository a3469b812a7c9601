#include "receiver/link/Protocol.h"

#include <gtest/gtest.h>

#include "receiver/link/BufferTerminal.h"

using namespace lumora;
using common::DateTime;

namespace {
DateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return *DateTime::FromParts(y, mo, d, h, mi, s);
}
struct FixedClock {
    explicit FixedClock(DateTime t) {
        common::SetClock([t] { return t; });
    }
    ~FixedClock() { common::SetClock(nullptr); }
};
}  // namespace

TEST(Protocol, RepliesByteForByte) {
    EXPECT_EQ(MontaAcertoRelogio("01", At(2024, 12, 25, 14, 30, 0)),
              "01;01;25;12;24;14;30;00;04;\r");
    EXPECT_EQ(MontaLiberacao("01", 5, "Saida", "Liberada"),
              "01;02;S;05;     Saida      ;    Liberada    ;\r");
    EXPECT_EQ(MontaRecusa("01", 5, "Saida", "Bloqueada"),
              "01;03;05;     Saida      ;   Bloqueada    ;\r");
    EXPECT_EQ(MontaRecusa("07", 5, "Equipamento", "Nao Cadastrado"),
              "07;03;05;  Equipamento   ; Nao Cadastrado ;\r");
    EXPECT_EQ(MontaEntregaComanda("01", 3, "Por Favor Libere", "a Comanda"),
              "01;20;03;Por Favor Libere;   a Comanda    ;\r");
    // The terminal's first field comes back as it was sent, even when it is odd.
    EXPECT_EQ(MontaLiberacao(" 1x", 300, "", "").substr(0, 13), " 1x;02;S;300;");
}

TEST(Protocol, ASemicolonOrCrInADisplayTextGoesOutAsABlank) {
    using Montador =
        std::string (*)(const std::string&, int64_t, const std::string&, const std::string&);
    const struct {
        Montador monta;
        size_t campos;  // fields before the two lines
    } montadores[] = {{MontaLiberacao, 4}, {MontaRecusa, 3}, {MontaEntregaComanda, 3}};
    for (const auto& m : montadores) {
        const std::string r = m.monta("01", 5, "Sai;da", "a;b\r;c;d;e;f;g;h;i;j");
        // One CR, at the end; exactly the fields the reply has, each line 16 bytes.
        ASSERT_EQ(r.find('\r'), r.size() - 1) << r;
        const CamposPacote campos(r.substr(0, r.size() - 1));
        ASSERT_EQ(campos.Quantidade(), m.campos + 2) << r;
        EXPECT_EQ(campos.Campo(m.campos + 1), "     Sai da     ");
        EXPECT_EQ(campos.Campo(m.campos + 2), "a b  c d e f g h");
    }
}

TEST(Protocol, ClockMessageCarriesTheDayOfWeek) {
    EXPECT_EQ(MontaAcertoRelogio("03", At(2024, 12, 22, 0, 0, 1)), "03;01;22;12;24;00;00;01;01;\r");
    EXPECT_EQ(MontaAcertoRelogio("03", At(2024, 12, 28, 23, 59, 59)),
              "03;01;28;12;24;23;59;59;07;\r");
}

TEST(Protocol, CentralizaFitsSixteenCharacters) {
    EXPECT_EQ(Centraliza(""), std::string(16, ' '));
    EXPECT_EQ(Centraliza("1234567890123456"), "1234567890123456");
    EXPECT_EQ(Centraliza("12345678901234567"), "1234567890123456");
    EXPECT_EQ(Centraliza(" a "), "       a        ");  // 6 blanks, " a ", 7 blanks
    EXPECT_EQ(Centraliza(" a ").size(), 16u);
    EXPECT_EQ(Centraliza("N\xE3o"), "      N\xE3o       ");  // one byte per character
}

TEST(Protocol, TimeValues) {
    EXPECT_EQ(FormataTempo(0), "00");
    EXPECT_EQ(FormataTempo(7), "07");
    EXPECT_EQ(FormataTempo(300), "300");
}

TEST(Protocol, SplittingRemovesDollarsAndSuppliesTheLastSemicolon) {
    const struct {
        const char* text;
        std::vector<std::string> fields;
        int code;
    } cases[] = {
        {"01;21", {"01", "21"}, 21},
        {"01;21;", {"01", "21"}, 21},
        {"$01;21;", {"01", "21"}, 21},
        {"01;2$1;", {"01", "21"}, 21},
        {"", {""}, 0},
        {"\n01;09;;123;", {"\n01", "09", "", "123"}, 9},
        {"01; 9;", {"01", " 9"}, 9},
        {"01;09;", {"01", "09"}, 9},
        {"01;+9;", {"01", "+9"}, 9},
        {"01;265;", {"01", "265"}, 9},
        {"01;abc;", {"01", "abc"}, 0},
        {"01;9 ;", {"01", "9 "}, 0},
        {"01;-247;", {"01", "-247"}, 9},
        {"01;99999999999;", {"01", "99999999999"}, 0},
        {"01;10;G;;", {"01", "10", "G", ""}, 10},
    };
    for (const auto& c : cases) {
        const CamposPacote campos(c.text);
        ASSERT_EQ(campos.Quantidade(), c.fields.size()) << c.text;
        for (size_t i = 0; i < c.fields.size(); ++i) EXPECT_EQ(campos.Campo(i + 1), c.fields[i]);
        EXPECT_EQ(campos.Campo(c.fields.size() + 1), "");
        EXPECT_EQ(campos.Campo(40), "");
        EXPECT_EQ(campos.Codigo(), c.code) << c.text;
    }
}

TEST(Protocol, CardReadTimeStamp) {
    FixedClock clock(At(2025, 1, 2, 3, 4, 5));
    EXPECT_EQ(DataHoraLeitura(CamposPacote("01;09;;0000000000001234;;25;12;24;14;31;05;")),
              At(2024, 12, 25, 14, 31, 5));
    EXPECT_EQ(DataHoraLeitura(CamposPacote("01;09;;1;;01;01;80;00;00;00;")), At(1980, 1, 1));
    // Anything that is not a real date and time gives the receiver's own time.
    for (const char* text :
         {"01;09;;1234;", "01;09;;1;;31;02;24;10;00;00;", "01;09;;1;;25;12;24;24;00;00;",
          "01;09;;1;;25;12;24;10;00;", "01;09;;1;;xx;12;24;10;00;00;"}) {
        EXPECT_EQ(DataHoraLeitura(CamposPacote(text)), At(2025, 1, 2, 3, 4, 5)) << text;
    }
}

// The connection's buffer: what is cut into messages, and what counts as still arriving.
TEST(Protocol, BufferCutsAtEachCrAndCountsTheTailApart) {
    TBufferTerminal b;
    b.Acrescenta("$");  // a lone "$" is no part of a message
    b.Acrescenta("01;2");
    EXPECT_EQ(b.Proxima(), std::nullopt);
    EXPECT_EQ(b.Completas(), 0u);
    EXPECT_EQ(b.SemCR(), 4u);
    b.Acrescenta("1;\r$\r01;10;G;;\rxy");
    EXPECT_EQ(b.Completas(), 19u);
    EXPECT_EQ(b.SemCR(), 2u);
    EXPECT_EQ(b.Proxima(), "01;21;");
    EXPECT_EQ(b.Proxima(), "$");
    EXPECT_EQ(b.Completas(), 10u);
    b.Acrescenta("z\r");  // the tail becomes a message; nothing is left arriving
    EXPECT_EQ(b.SemCR(), 0u);
    EXPECT_EQ(b.Proxima(), "01;10;G;;");
    EXPECT_EQ(b.Proxima(), "xyz");
    EXPECT_EQ(b.Proxima(), std::nullopt);
    EXPECT_EQ(b.Completas() + b.SemCR(), 0u);

    // Thousands of short messages, taken while more arrive: nothing lost, nothing reordered.
    size_t tomadas = 0;
    for (int i = 0; i < 5000; ++i) {
        const std::string m = std::to_string(i) + ";21;\r";
        b.Acrescenta(m.substr(0, 3));
        b.Acrescenta(m.substr(3));
        if (i % 3 == 0) {
            while (const auto p = b.Proxima()) {
                ASSERT_EQ(*p, std::to_string(tomadas) + ";21;");
                ++tomadas;
            }
        }
    }
    while (const auto p = b.Proxima()) ASSERT_EQ(*p, std::to_string(tomadas++) + ";21;");
    EXPECT_EQ(tomadas, 5000u);
}

// The bound on a message still arriving holds before the bytes go in, whatever a read holds.
TEST(Protocol, BufferTakesNoMessagePastTheBound) {
    struct Caso {
        const char* antes;
        const char* leitura;
        bool inteira;
        size_t completas, semCR;
    };
    const size_t limite = 8;
    for (const Caso& c : std::initializer_list<Caso>{
             {"abc", "defgh", true, 0, 8},               // exactly the bound
             {"abc", "defghi", false, 0, 3},             // one past: none of the read
             {"", "12345678\r1234", true, 9, 4},         // a whole message at the bound
             {"abc", "de\r123456789\rxy", false, 6, 0},  // the message before is kept
             {"abcdefgh", "\r", true, 9, 0},             // its CR ends it
             {"abcdefgh", "$", true, 0, 8},              // the wake byte is no part of it
             {"", "123456789", false, 0, 0},
         }) {
        SCOPED_TRACE(std::string(c.antes) + " + " + c.leitura);
        TBufferTerminal b;
        b.Acrescenta(c.antes);
        EXPECT_EQ(b.Acrescenta(c.leitura, limite), c.inteira);
        EXPECT_EQ(b.Completas(), c.completas);
        EXPECT_EQ(b.SemCR(), c.semCR);
    }
}
