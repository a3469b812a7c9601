// The settings file of the response time: where it lives, reading, writing, failures.
#include "manager/modules/Preferencias.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "common/Exception.h"
#include "manager/modules/Agenda.h"

namespace modrevo {
namespace {

namespace fs = std::filesystem;

class PreferenciasTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pasta = fs::temp_directory_path() /
                ("modrevo-pref-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(pasta);
        arquivo = pasta / "sub" / "Modrevo.INI";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(pasta, fs::perms::owner_all, ec);
        fs::remove_all(pasta, ec);
    }
    void Escreve(const std::string& texto) {
        fs::create_directories(arquivo.parent_path());
        std::ofstream(arquivo, std::ios::binary) << texto;
    }
    std::string Le() {
        std::ifstream in(arquivo, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    fs::path pasta, arquivo;
};

TEST_F(PreferenciasTest, SemArquivoFicaOTextoAtualENadaSeCria) {
    EXPECT_EQ(CarregaTempoResposta(arquivo, "2000"), "2000");
    EXPECT_FALSE(fs::exists(arquivo.parent_path()));
}

TEST_F(PreferenciasTest, IdaEVolta) {
    struct Caso {
        std::string digitado, gravado, lido;
    };
    const Caso casos[] = {
        {"500", "500", "500"},
        {"  500 \t", "500", "500"},
        {"abc", "abc", "abc"},
        {"\"500\"", "\"\"500\"\"", "\"500\""},
        {"'x'", "\"'x'\"", "'x'"},
        {"\"5'", "\"5'", "\"5'"},
        {"", "", ""},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.digitado);
        SalvaTempoResposta(arquivo, c.digitado);
        EXPECT_EQ(Le(), "[TfrmTempo]\nFormVersion=0\nEditTempo_Text=" + c.gravado + "\n");
        EXPECT_EQ(CarregaTempoResposta(arquivo, "2000"), c.lido);
    }
}

TEST_F(PreferenciasTest, LeituraDeArquivosEscritosAMao) {
    struct Caso {
        std::string conteudo, lido;
    };
    const Caso casos[] = {
        {"[tfrmtempo]\r\nedittempo_text=  750  \r\n", "750"},
        {"[TfrmTempo]\nFormVersion=-1\nEditTempo_Text=750\n", "1234"},
        {"[TfrmTempo]\nFormVersion=abc\nEditTempo_Text=750\n", "750"},
        {"[TfrmTempo]\nFormVersion=3\n", "1234"},
        {"[Outra]\nEditTempo_Text=9\n", "1234"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.conteudo);
        Escreve(c.conteudo);
        EXPECT_EQ(CarregaTempoResposta(arquivo, "1234"), c.lido);
    }
    // Saving keeps the other lines and the file's line ends.
    Escreve("; nota\r\n[Outra]\r\nA=1\r\n[TfrmTempo]\r\nEditTempo_Text=9\r\n");
    SalvaTempoResposta(arquivo, "300");
    EXPECT_EQ(Le(),
              "; nota\r\n[Outra]\r\nA=1\r\n[TfrmTempo]\r\nEditTempo_Text=300\r\nFormVersion=0\r\n");
}

TEST_F(PreferenciasTest, FalhasDeLeituraEEscrita) {
    if (::geteuid() == 0) {
        // Root reads and writes through any permission: a folder where the file should be
        // stands in for an unreadable file, a file where the folder should be for an
        // unwritable folder.
        fs::create_directories(arquivo);
        EXPECT_EQ(CarregaTempoResposta(arquivo, "2000"), "2000");
        fs::remove_all(pasta);
        fs::create_directories(pasta);
        std::ofstream(pasta / "sub") << "x";
    } else {
        Escreve("[TfrmTempo]\nEditTempo_Text=5\n");
        fs::permissions(arquivo, fs::perms::none);
        EXPECT_EQ(CarregaTempoResposta(arquivo, "2000"), "2000");
        fs::permissions(arquivo.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
        fs::permissions(arquivo, fs::perms::owner_read);
    }
    try {
        SalvaTempoResposta(arquivo, "500");
        FAIL() << "saved";
    } catch (const common::EFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + arquivo.string());
    }
}

TEST_F(PreferenciasTest, AgendaIdaEVoltaAoLadoDoTempo) {
    Escreve("[TfrmTempo]\r\nFormVersion=0\r\nEditTempo_Text=300\r\n");
    std::vector<EntradaAgenda> agenda;
    for (const char* t : {"10.1.2.30", " 10.1.3.0/24 ", "10.1.4.10 - 10.1.4.50"}) {
        std::string motivo;
        agenda.push_back(*LeEntradaAgenda(t, motivo));
    }
    SalvaAgenda(arquivo, agenda);
    const std::string tres = Le();
    EXPECT_EQ(tres,
              "[TfrmTempo]\r\nFormVersion=0\r\nEditTempo_Text=300\r\n\r\n[AgendaEnderecos]\r\n"
              "Itens=3\r\nItem1=10.1.2.30\r\nItem2=10.1.3.0/24\r\n"
              "Item3=10.1.4.10 - 10.1.4.50\r\n");
    const auto lida = CarregaAgenda(arquivo);
    ASSERT_EQ(lida.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(lida[i].texto, agenda[i].texto);
        EXPECT_EQ(lida[i].primeiro, agenda[i].primeiro);
        EXPECT_EQ(lida[i].ultimo, agenda[i].ultimo);
    }
    EXPECT_EQ(CarregaTempoResposta(arquivo, "2000"), "300");
    SalvaTempoResposta(arquivo, "400");
    EXPECT_EQ(CarregaAgenda(arquivo).size(), 3u);

    // A shorter book empties the entries past its end; an empty one reads as none.
    SalvaAgenda(arquivo, {agenda[1]});
    EXPECT_NE(Le().find("Itens=1\r\nItem1=10.1.3.0/24\r\nItem2=\r\nItem3=\r\n"), std::string::npos);
    ASSERT_EQ(CarregaAgenda(arquivo).size(), 1u);
    SalvaAgenda(arquivo, {});
    EXPECT_TRUE(CarregaAgenda(arquivo).empty());

    // Written by hand: what does not read is skipped, the rest is searched.
    Escreve(
        "[agendaenderecos]\nItens=4\nItem1=10.1.2.3\nItem2=banana\nItem3=10.0.0.0/8\n"
        "Item4=10.1.2.9\n");
    const auto mao = CarregaAgenda(arquivo);
    ASSERT_EQ(mao.size(), 2u);
    EXPECT_EQ(mao[1].texto, "10.1.2.9");
    fs::remove(arquivo);
    EXPECT_TRUE(CarregaAgenda(arquivo).empty());
    EXPECT_FALSE(fs::exists(arquivo));
}

TEST(Agenda, EntradasAceitasERecusadas) {
    struct Caso {
        std::string texto;
        std::size_t enderecos;  // 0: refused
        std::string primeiro, ultimo;
    };
    const Caso casos[] = {
        {"10.1.2.30", 1, "10.1.2.30", "10.1.2.30"},
        {"10.1.2.0/24", 254, "10.1.2.1", "10.1.2.254"},
        {"10.1.0.0/22", 1022, "10.1.0.1", "10.1.3.254"},
        {"10.1.2.4/30", 2, "10.1.2.5", "10.1.2.6"},
        {"10.1.2.4/31", 2, "10.1.2.4", "10.1.2.5"},
        {"10.1.2.4/32", 1, "10.1.2.4", "10.1.2.4"},
        {"10.1.2.10-10.1.2.12", 3, "10.1.2.10", "10.1.2.12"},
        // A range loses the ends of every /24 in it, as a network entry loses its own.
        {"10.1.2.0-10.1.2.255", 254, "10.1.2.1", "10.1.2.254"},
        {"10.1.2.250-10.1.6.249", 1016, "10.1.2.250", "10.1.6.249"},
        {"10.1.2.255-10.1.3.1", 1, "10.1.3.1", "10.1.3.1"},
        {"10.1.2.255-10.1.3.0", 0, "", ""},
        // A single address is searched as written, however it is written.
        {"10.1.2.255", 1, "10.1.2.255", "10.1.2.255"},
        {"10.1.2.0-10.1.2.0", 1, "10.1.2.0", "10.1.2.0"},
        {"10.1.2.250-10.1.6.250", 0, "", ""},  // more than 1024
        {"10.1.2.12-10.1.2.10", 0, "", ""},
        {"10.1.0.0/21", 0, "", ""},
        {"10.1.2.0/2x", 0, "", ""},
        {"10.1.2.5/24", 0, "", ""},  // not the start of a network
        {"10.1.2", 0, "", ""},
        {"010.1.2.3", 0, "", ""},
        {"gate.local", 0, "", ""},
        {"", 0, "", ""},
        {"255.255.255.255", 0, "", ""},
        {"224.0.0.1", 0, "", ""},
        {"0.0.0.9", 0, "", ""},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.texto);
        std::string motivo;
        const auto e = LeEntradaAgenda(c.texto, motivo);
        ASSERT_EQ(e.has_value(), c.enderecos > 0) << motivo;
        EXPECT_EQ(motivo.empty(), c.enderecos > 0);
        if (!e) continue;
        const auto enderecos = EnderecosDaAgenda({*e});
        ASSERT_EQ(enderecos.size(), c.enderecos);
        EXPECT_EQ(enderecos.front(), c.primeiro);
        EXPECT_EQ(enderecos.back(), c.ultimo);
    }
    std::string motivo;
    LeEntradaAgenda("10.1.2.5/24", motivo);
    EXPECT_EQ(motivo,
              "10.1.2.5 n\xE3o \xE9 o in\xED"
              "cio de uma rede /24: use 10.1.2.0/24.");

    // Overlapping entries search each address once; the book has a ceiling.
    std::vector<EntradaAgenda> agenda{*LeEntradaAgenda("10.1.2.0/24", motivo)};
    EXPECT_EQ(MotivoRecusaNaAgenda(agenda, agenda[0]), "10.1.2.0/24 j\xE1 est\xE1 na agenda.");
    agenda.push_back(*LeEntradaAgenda("10.1.2.5", motivo));
    agenda.push_back(*LeEntradaAgenda("10.1.2.250-10.1.3.3", motivo));
    EXPECT_EQ(EnderecosDaAgenda(agenda).size(), 254u + 3u);
    for (const auto& [endereco, procura] :
         std::vector<std::pair<std::string, bool>>{{"10.1.2.7", true},
                                                   {"10.1.2.255", false},
                                                   {"10.1.3.0", false},
                                                   {"10.1.3.3", true},
                                                   {"10.1.3.4", false},
                                                   {"banana", false}})
        EXPECT_EQ(AgendaProcura(agenda, endereco), procura) << endereco;
    for (int i = 0; i < 4; ++i) {
        const auto e = LeEntradaAgenda("10." + std::to_string(20 + i) + ".0.0/22", motivo);
        EXPECT_EQ(MotivoRecusaNaAgenda(agenda, *e).empty(), i < 3) << i;
        if (i < 3) agenda.push_back(*e);
    }
}

TEST(CaminhoPreferencias, PastaDeConfiguracao) {
    const char* antigoXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string salvo = antigoXdg ? antigoXdg : "";
    ::setenv("HOME", "/home/operador", 1);
    ::setenv("XDG_CONFIG_HOME", "/srv/conf", 1);
    EXPECT_EQ(CaminhoPreferencias(), fs::path("/srv/conf/Modrevo.INI"));
    ::setenv("XDG_CONFIG_HOME", "relativa", 1);
    EXPECT_EQ(CaminhoPreferencias(), fs::path("/home/operador/.config/Modrevo.INI"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(CaminhoPreferencias(), fs::path("/home/operador/.config/Modrevo.INI"));
    if (antigoXdg) ::setenv("XDG_CONFIG_HOME", salvo.c_str(), 1);
}

}  // namespace
}  // namespace modrevo
