// The profile (INI) module: the reading rules, flags as integers, in-place writing and
// the atomic replacement of the file.
#include "common/Profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/Exception.h"

using namespace common;
namespace fs = std::filesystem;

namespace {

struct PastaTemporaria {
    fs::path caminho;
    PastaTemporaria() {
        char modelo[] = "/tmp/profile_test.XXXXXX";
        caminho = ::mkdtemp(modelo);
    }
    ~PastaTemporaria() { fs::remove_all(caminho); }
};

void Grava(const fs::path& arquivo, const std::string& bytes) {
    std::ofstream(arquivo, std::ios::binary) << bytes;
}

std::string Le(const fs::path& arquivo) {
    std::ifstream in(arquivo, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(ParseProfileInteger, DecimalAndTheHexadecimalPrefixes) {
    const struct {
        const char* texto;
        std::optional<int32_t> valor;
    } casos[] = {
        {"0", 0},
        {"1", 1},
        {"-7", -7},
        {"+12", 12},
        {"0x1F", 31},
        {"0X10", 16},
        {"$ff", 255},
        {"x10", 16},
        {"X0", 0},
        {"-$10", -16},
        {"$FFFFFFFF", -1},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        // Not wholly a number: the caller's default applies.
        {"", std::nullopt},
        {"sim", std::nullopt},
        {"1x", std::nullopt},
        {"0x", std::nullopt},
        {"$", std::nullopt},
        {"-", std::nullopt},
        {"1 ", std::nullopt},
        {"0x1G", std::nullopt},
        {"2147483648", std::nullopt},
        {"$100000000", std::nullopt},
        {"1.0", std::nullopt},
    };
    for (const auto& c : casos) EXPECT_EQ(ParseProfileInteger(c.texto), c.valor) << c.texto;
}

TEST(ProfileFile, ReadsSectionsAndKeysAsTheProfileFunctionsDo) {
    PastaTemporaria pasta;
    const fs::path ini = pasta.caminho / "x.ini";
    Grava(ini,
          "orphan=1\r\n"
          "[Outra]\r\n"
          "Chave=errada\r\n"
          "  [ configs ]  \r\n"
          "; Chave=comentario\r\n"
          "  chave  =  valor com brancos  \r\n"
          "CHAVE=segunda\r\n"
          "aspas=\"entre aspas\"\r\n"
          "simples='x'\r\n"
          "duplas=\"\"a\"\"\r\n"
          "meia=\"a\r\n"
          "vazio=\r\n"
          "semigual\r\n"
          "acento=Cora\xE7\xE3o\r\n"
          "flag=0x10\r\n"
          "palavra=sim\r\n"
          "[CONFIGS]\r\n"
          "Chave=da segunda secao\r\n");
    const ProfileFile p(ini);
    EXPECT_TRUE(p.Existed());
    EXPECT_TRUE(p.SectionExists("Configs"));
    EXPECT_FALSE(p.SectionExists("nada"));
    // The first section and the first key of a name win; names ignore case and blanks.
    EXPECT_EQ(p.ReadString("CONFIGS", "Chave", "-"), "valor com brancos");
    EXPECT_EQ(p.ReadString("outra", "chave", "-"), "errada");
    EXPECT_EQ(p.ReadString("CONFIGS", "orphan", "-"), "-");
    EXPECT_EQ(p.ReadString("CONFIGS", "aspas", "-"), "entre aspas");
    EXPECT_EQ(p.ReadString("CONFIGS", "simples", "-"), "x");
    EXPECT_EQ(p.ReadString("CONFIGS", "duplas", "-"), "\"a\"");  // one pair only
    EXPECT_EQ(p.ReadString("CONFIGS", "meia", "-"), "\"a");
    EXPECT_EQ(p.ReadString("CONFIGS", "vazio", "-"), "");
    EXPECT_EQ(p.ReadString("CONFIGS", "semigual", "-"), "-");
    EXPECT_EQ(p.ReadString("CONFIGS", "acento", "-"), "Cora\xE7\xE3o");
    EXPECT_EQ(p.ReadInteger("CONFIGS", "flag", 0), 16);
    EXPECT_EQ(p.ReadInteger("CONFIGS", "palavra", 7), 7);
    EXPECT_EQ(p.ReadInteger("CONFIGS", "falta", -3), -3);
    EXPECT_EQ(p.ReadString("CONFIGS", "; Chave", "-"), "-");
}

TEST(ProfileFile, AccentedNamesMatchAcrossCase) {
    PastaTemporaria pasta;
    const fs::path ini = pasta.caminho / "x.ini";
    Grava(ini, "[A\xC7\xC3O]\nCHAVE\xC9=1\n");
    EXPECT_EQ(ProfileFile(ini).ReadString("a\xE7\xE3o", "chave\xE9", "-"), "1");
}

TEST(ProfileFile, WritingReplacesInPlaceAndKeepsEveryOtherByte) {
    PastaTemporaria pasta;
    const fs::path ini = pasta.caminho / "x.ini";
    const std::string original =
        "; cabecalho\r\n[Outra]\r\nk=1\r\n\r\n[configs]\r\nA=velho\r\n  b = 2\r\n\r\n[Fim]\r\nz=9";
    Grava(ini, original);
    ProfileFile p(ini);
    EXPECT_EQ(p.Text(), original);  // nothing changed, nothing moved
    p.WriteString("CONFIGS", "a", "novo");
    p.WriteString("CONFIGS", "C", "3");  // after the section's last key, before the blank
    p.WriteString("Nova", "x",
                  "Sa\xED"
                  "da\r\nlixo");  // a line break cannot go into the file
    p.Save();
    EXPECT_EQ(Le(ini),
              "; cabecalho\r\n[Outra]\r\nk=1\r\n\r\n[configs]\r\na=novo\r\n  b = 2\r\nC=3\r\n"
              "\r\n[Fim]\r\nz=9\r\n\r\n[Nova]\r\nx=Sa\xED"
              "da\r\n");
    EXPECT_EQ(ReadProfileString(ini, "nova", "X", "-"),
              "Sa\xED"
              "da");
}

TEST(ProfileFile, StrayCarriageReturnsBeforeALineEndMeanTheSameBeforeAndAfterASave) {
    PastaTemporaria pasta;
    const fs::path ini = pasta.caminho / "x.ini";
    for (const char* original : {"[s]\nk=1\r\r\n", "[s]\r\nk=1\r\r\r\nt=a\r\r", "[s]\nk=1\r\r"}) {
        Grava(ini, original);
        EXPECT_EQ(ReadProfileInteger(ini, "s", "k", 0), 1) << original;
        EXPECT_EQ(ReadProfileString(ini, "s", "t", "a"), "a") << original;
        WriteProfileString(ini, "s", "outra", "2");
        EXPECT_EQ(ReadProfileInteger(ini, "s", "k", 0), 1) << original;
        EXPECT_EQ(ReadProfileString(ini, "s", "t", "a"), "a") << original;
    }
}

TEST(ProfileFile, CreatesTheFileAndSectionWhenMissing) {
    PastaTemporaria pasta;
    const fs::path ini = pasta.caminho / "novo.ini";
    EXPECT_FALSE(ProfileFile(ini).Existed());
    WriteProfileString(ini, "CONFIGS", "Um", "1");
    WriteProfileString(ini, "CONFIGS", "Dois", "");
    EXPECT_EQ(Le(ini), "[CONFIGS]\nUm=1\nDois=\n");
    EXPECT_EQ(ReadProfileInteger(ini, "configs", "um", 0), 1);
}

TEST(ProfileFile, SaveReplacesTheFileWholeAndKeepsItsPermissions) {
    PastaTemporaria pasta;
    const fs::path ini = pasta.caminho / "x.ini";
    Grava(ini, "[S]\nk=1\n");
    ::chmod(ini.c_str(), 0640);
    const auto inode = fs::status(ini);
    ProfileFile p(ini);
    p.WriteString("S", "k", "2");
    p.Save();
    EXPECT_EQ(Le(ini), "[S]\nk=2\n");
    EXPECT_EQ(fs::status(ini).permissions(), inode.permissions());
    // No temporary file is left beside it.
    int arquivos = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(pasta.caminho)) ++arquivos;
    EXPECT_EQ(arquivos, 1);
}

TEST(ProfileFile, FailuresRaiseTheFileErrorsAndLeaveNoTrace) {
    PastaTemporaria pasta;
    const fs::path semPasta = pasta.caminho / "falta" / "Config.ini";
    ProfileFile p(semPasta);
    p.WriteString("S", "k", "1");
    try {
        p.Save();
        ADD_FAILURE() << "no error";
    } catch (const EFileError& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind("Cannot create file \"" + semPasta.string() + "\". ", 0),
            0u)
            << e.what();
    }
    // Something that is not a file cannot be read as one.
    const fs::path pastaNoLugar = pasta.caminho / "Config.ini";
    fs::create_directory(pastaNoLugar);
    try {
        ProfileFile q(pastaNoLugar);
        ADD_FAILURE() << "no error";
    } catch (const EFileError& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind("Cannot open file \"" + pastaNoLugar.string() + "\". ", 0),
            0u)
            << e.what();
    }
    int entradas = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(pasta.caminho)) ++entradas;
    EXPECT_EQ(entradas, 1);
}
