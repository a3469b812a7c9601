// The settings file of the response time: where it lives, reading, writing, failures.
#include "manager/modules/Preferencias.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "common/Exception.h"

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
