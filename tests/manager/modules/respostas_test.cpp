// The reply texts and the response-time rule.
#include "manager/modules/Respostas.h"

#include <gtest/gtest.h>

namespace modrevo {
namespace {

TEST(RespostaDescoberta, CamposComoChegam) {
    struct Caso {
        std::string texto, mac, porta, flags, dhcp, descricao;
    };
    const Caso casos[] = {
        {"a0.36.119.87.8.24/1001/ABCI/x/Owner/Device", "0.36.119.87.8.24", "1001", "ABCI",
         kDhcpAtivado, "Owner - Device"},
        {"A0.36.119.87.8.24/1001/ABcm/x/Owner/Dev/ice", "0.36.119.87.8.24", "1001", "ABcm",
         kDhcpDesativado, "Owner - Dev/ice"},
        {"A0.36.119.87.8.24/1001/ABC", "0.36.119.87.8.24", "1001", "", kDhcpNaoObtido, " - ABC"},
        {"A1/2/ABCX/4/5/", "1", "2", "ABCX", kDhcpNaoObtido, "5 - "},
        {"A1/2/ABI/4/5/6", "1", "2", "ABI", kDhcpNaoObtido, "5 - 6"},
        {"A", "", "", "", kDhcpNaoObtido, " - "},
        {"A//\xE7\xE7\xE7i/4/Dono/Torvane 2", "", "", "\xE7\xE7\xE7i", kDhcpAtivado,
         "Dono - Torvane 2"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.texto);
        const auto r = InterpretaRespostaDescoberta(c.texto);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->mac, c.mac);
        EXPECT_EQ(r->porta, c.porta);
        EXPECT_EQ(r->flags, c.flags);
        EXPECT_EQ(r->dhcp, c.dhcp);
        EXPECT_EQ(r->descricao, c.descricao);
    }
}

TEST(RespostaDescoberta, NaoSaoRespostas) {
    for (const std::string& texto : std::vector<std::string>{"", "   ", std::string("\0\t\r\n ", 5),
                                                             " A1/2/3/4/5/6", "B1/2/3/4/5/6", "D",
                                                             "\xC1"
                                                             "1/2"}) {
        EXPECT_FALSE(InterpretaRespostaDescoberta(texto)) << texto;
    }
    // Trimming only decides emptiness; the first byte is looked at as received.
    EXPECT_TRUE(InterpretaRespostaDescoberta("A \t"));
}

TEST(RespostaSegundaFamilia, AsDuasFormas) {
    struct Caso {
        std::string texto, nome, mac;
        int separador;  // -1 for none
    };
    const Caso casos[] = {
        {"Found:;Gate 1;00-04-A3-11-22-33;", "Gate 1", "00-04-A3-11-22-33", ';'},
        {"Found:;Gate 1;00-04-A3-11-22-33", "Gate 1", "", ';'},
        {"Found::Gate 1:00-04-A3-11-22-33:", "", "Gate 1", ':'},
        {"Found:;Gate 1", "", "", ';'},
        {"Found:", "", "", -1},
        {"Found:;;;", "", "", ';'},
        {"Gate 1\r\n00-04-A3-11-22-33\r\n", "Gate 1", "00-04-A3-11-22-33", -1},
        {"Gate 1\r\n00-04-A3-11-22-33", "Gate 1", "", -1},
        {"Gate 1\r", "Gate 1", "", -1},
        {"Gate 1", "", "", -1},
        {"A\rB\rC", "A", "", -1},  // the character after the CR goes, whatever it is
        {"found:;a;b;", "", "", -1},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.texto);
        const auto r = InterpretaRespostaSegundaFamilia(c.texto);
        EXPECT_EQ(r.nome, c.nome);
        EXPECT_EQ(r.mac, c.mac);
        EXPECT_EQ(r.separador ? int(*r.separador) : -1, c.separador);
    }
}

TEST(TempoResposta, TextoParaMilissegundos) {
    EXPECT_EQ(TempoResposta("500"), 500);
    EXPECT_EQ(TempoResposta("0"), 0);
    EXPECT_EQ(TempoResposta(""), 2000);
    EXPECT_EQ(TempoResposta("abc"), 2000);
    EXPECT_EQ(TempoResposta("1.5"), 2000);
    EXPECT_EQ(TempoResposta("-5"), 2000);
    EXPECT_EQ(TempoResposta("99999999999"), 2000);
}

}  // namespace
}  // namespace modrevo
