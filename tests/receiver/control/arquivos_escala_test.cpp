// The files at venue scale: a card list read again only when it may have changed, history
// saves that add the new records to the file, and what a crash leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "common/Convert.h"
#include "receiver/control/ArquivosReceptor.h"
#include "receiver/control/DataPacket.h"
#include "receiver/control/SincronizaArquivo.h"
#include "receiver/control/TableFile.h"
#include "tests/support/DiscoPequeno.h"

using namespace lumora;
namespace fs = std::filesystem;
using common::DateTime;

namespace {

std::string Comandas(int n, int variante = 0) {
    std::string x =
        "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA>"
        "<FIELDS><FIELD attrname=\"NumComanda\" fieldtype=\"string\" WIDTH=\"20\"/></FIELDS>"
        "<PARAMS/></METADATA><ROWDATA>";
    for (int i = 0; i < n; ++i)
        x += "<ROW NumComanda=\"" + common::IntToStrMin(i + variante * 100000, 16) + "\"/>";
    return x + "</ROWDATA></DATAPACKET>";
}

std::string Le(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

// Writes over the file's own bytes, keeping its inode.
void ReescreveNoLugar(const fs::path& p, const std::string& bytes) {
    const int fd = ::open(p.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

bool TemCartao(TabelasReceptor& t, int i, int variante = 0) {
    return t.cdsComandas.FindKey(common::IntToStrMin(i + variante * 100000, 16));
}

class EscalaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char modelo[] = "/tmp/lumora-escala-XXXXXX";
        pasta = mkdtemp(modelo);
        common::SetClock([this] { return agora; });
    }
    void TearDown() override {
        common::SetClock(nullptr);
        fs::remove_all(pasta);
    }
    fs::path Historico() const { return pasta / "Historicos" / "Historico_20240331.xml"; }
    void Linha(TabelasReceptor& t, int n) {
        auto& h = t.cdsHistorico;
        h.Insert();
        h.SetDateTime(campo::kDataHora, agora);
        h.SetString(campo::kCracha, common::IntToStrMin(n, 16));
        h.SetString(campo::kEstado, n % 3 ? estado::kLiberado : estado::kNaoGirou);
        h.SetInteger(campo::kTerminal, n % 100);
        h.Post();
        agora = DateTime::FromMs(agora.Ms() + 1234);
    }

    fs::path pasta;
    DateTime agora = *DateTime::FromParts(2024, 3, 31, 8, 0, 0);
};

}  // namespace

// Two receivers, each on a folder of its own: one believes the system's notices of writes (a
// local disk), the other cannot (as on a network share) and compares the bytes instead. Both
// see every change of the card list at the next card read. And the history file, whose times
// our own additions keep recent, is checked once they settle, in the quiet spell.
TEST_F(EscalaTest, ArquivosSoSaoRelidosQuandoPodemTerMudado) {
    struct Lado {
        const char* nome;
        bool avisos;
        fs::path lista;
        TabelasReceptor t;
        std::unique_ptr<TArquivosReceptor> a;
    } lados[] = {{"notices", true, {}, {}, {}}, {"no notices", false, {}, {}, {}}};
    for (Lado& l : lados) {
        const fs::path sua = pasta / (l.avisos ? "local" : "rede");
        fs::create_directories(sua);
        l.lista = sua / "Comandas.xml";
        std::ofstream(l.lista, std::ios::binary) << Comandas(500);
        l.a = std::make_unique<TArquivosReceptor>(l.t, sua);
        l.a->UsaAvisosDeEscrita(l.avisos);
        ASSERT_TRUE(l.a->Inicia(agora));
        EXPECT_TRUE(TemCartao(l.t, 499));
    }
    // A file modified moments ago: a write within the file system's time granularity could
    // leave its times as they were. Without notices it is compared at every read (not parsed
    // again); with them it is read again only once one came (a busy exit's cashier may write
    // the list every few seconds, and reading it at each card read was most of the work).
    for (Lado& l : lados) {
        SCOPED_TRACE(l.nome);
        const long leituras = l.a->LeiturasComandas();
        l.a->RecarregaComandas();
        l.a->RecarregaComandas();
        EXPECT_EQ(l.a->LeiturasComandas(), leituras + (l.avisos ? 0 : 2));
        Linha(l.t, 1);
        l.a->SalvaHistorico();
        l.a->ConfirmaHistoricoEmRepouso();  // too recent to settle anything
    }
    // Once its times are old enough, an unchanged file is not read again.
    std::this_thread::sleep_for(std::chrono::milliseconds(3200));
    for (Lado& l : lados) {
        SCOPED_TRACE(l.nome);
        // The quiet spell's tick compares the history once; the next addition does not wait
        // for a comparison.
        const long comparacoes = l.a->ComparacoesHistorico();
        l.a->ConfirmaHistoricoEmRepouso();
        l.a->ConfirmaHistoricoEmRepouso();
        EXPECT_EQ(l.a->ComparacoesHistorico(), comparacoes + 1);
        Linha(l.t, 2);
        l.a->SalvaHistorico();
        EXPECT_EQ(l.a->ComparacoesHistorico(), comparacoes + 1);
        EXPECT_EQ(Le(l.a->ArquivoHistorico()), WriteTablePacket(l.t.cdsHistorico));
        l.a->RecarregaComandas();
        const long leituras = l.a->LeiturasComandas();
        for (int i = 0; i < 100; ++i) l.a->RecarregaComandas();
        EXPECT_EQ(l.a->LeiturasComandas(), leituras);
        EXPECT_TRUE(TemCartao(l.t, 499));
    }

    struct Mudanca {
        const char* nome;
        std::function<void(const fs::path&)> faz;
        int variante;
    };
    const Mudanca mudancas[] = {
        // Same size, in place, and its modification time put back as a copy that keeps times
        // would: the change time still tells.
        {"rewritten in place, same size and time",
         [&](const fs::path& lista) {
             struct stat st {};
             ::stat(lista.c_str(), &st);
             ReescreveNoLugar(lista, Comandas(500, 1));
             timespec tempos[2] = {st.st_atim, st.st_mtim};
             ::utimensat(AT_FDCWD, lista.c_str(), tempos, 0);
         },
         1},
        {"replaced by rename",
         [&](const fs::path& lista) {
             const fs::path outra = lista.parent_path() / "Comandas.novo";
             std::ofstream(outra, std::ios::binary) << Comandas(500, 2);
             fs::rename(outra, lista);
         },
         2},
        {"rewritten twice within a second",
         [&](const fs::path& lista) { ReescreveNoLugar(lista, Comandas(500, 3)); }, 3},
        {"and again", [&](const fs::path& lista) { ReescreveNoLugar(lista, Comandas(500, 4)); },
         4},
        {"unchanged, read twice", [](const fs::path&) {}, 4},
        {"truncated", [&](const fs::path& lista) { ReescreveNoLugar(lista, Comandas(10, 5)); },
         5},
    };
    for (Lado& l : lados) {
        for (const Mudanca& m : mudancas) {
            SCOPED_TRACE(std::string(l.nome) + ": " + m.nome);
            m.faz(l.lista);
            l.a->RecarregaComandas();
            EXPECT_TRUE(TemCartao(l.t, 5, m.variante));
            EXPECT_FALSE(TemCartao(l.t, 5, m.variante - 1));
        }
        fs::remove(l.lista);
        EXPECT_THROW(l.a->RecarregaComandas(), common::EFileError);
        EXPECT_FALSE(l.t.cdsComandas.Active());
        std::ofstream(l.lista, std::ios::binary) << Comandas(3, 6);
        l.a->RecarregaComandas();
        EXPECT_TRUE(TemCartao(l.t, 2, 6));
    }
}

TEST_F(EscalaTest, HistoricoIgualAoArquivoInteiroDepoisDeCadaMudanca) {
    TabelasReceptor t;
    auto a = std::make_unique<TArquivosReceptor>(t, pasta);
    ASSERT_TRUE(a->Inicia(agora));
    auto confere = [&](const char* quando) {
        SCOPED_TRACE(quando);
        EXPECT_EQ(Le(Historico()), WriteTablePacket(t.cdsHistorico));
    };
    struct stat inicial {};
    for (int i = 0; i < 40; ++i) {
        Linha(t, i);
        a->SalvaHistorico();
        if (i == 0) ::stat(Historico().c_str(), &inicial);
    }
    confere("after additions");
    struct stat st {};
    ::stat(Historico().c_str(), &st);
    EXPECT_EQ(st.st_ino, inicial.st_ino);  // added to, never rewritten

    t.cdsHistorico.MoveTo(7);
    t.cdsHistorico.Delete();
    Linha(t, 100);
    a->SalvaHistorico();
    confere("after a deletion");
    t.cdsHistorico.First();
    t.cdsHistorico.Edit();
    t.cdsHistorico.SetString(campo::kEstado, estado::kBloqueado);
    t.cdsHistorico.Post();
    a->SalvaHistorico();
    confere("after an edit");
    t.cdsHistorico.Empty();
    a->SalvaHistorico();
    confere("after emptying");
    for (int i = 0; i < 5; ++i) Linha(t, 200 + i);
    a->SalvaHistorico();
    confere("five at once");

    // Someone else writes the file: the next save rewrites it whole.
    std::ofstream(Historico(), std::ios::app) << " ";
    Linha(t, 300);
    a->SalvaHistorico();
    confere("after a foreign write");

    // The next run goes on adding to the file it loaded.
    a->Fecha();
    TabelasReceptor t2;
    TArquivosReceptor b(t2, pasta);
    ASSERT_TRUE(b.Inicia(agora));
    EXPECT_EQ(t2.cdsHistorico.RecordCount(), 6);
    ::stat(Historico().c_str(), &inicial);
    Linha(t2, 400);
    b.SalvaHistorico();
    ::stat(Historico().c_str(), &st);
    EXPECT_EQ(st.st_ino, inicial.st_ino);
    EXPECT_EQ(Le(Historico()), WriteTablePacket(t2.cdsHistorico));
}

TEST_F(EscalaTest, AdicaoCortadaEReparadaNaPartida) {
    TabelasReceptor t;
    {
        TArquivosReceptor a(t, pasta);
        ASSERT_TRUE(a.Inicia(agora));
        for (int i = 0; i < 6; ++i) Linha(t, i);
        a.SalvaHistorico();
    }
    const std::string completo = Le(Historico());
    const std::string cinco = [&] {
        t.cdsHistorico.First();  // newest first: the sixth record
        t.cdsHistorico.Delete();
        return WriteTablePacket(t.cdsHistorico);
    }();
    const std::size_t inicioSexto = cinco.size() - kDataPacketTail.size();
    // Cut anywhere inside the sixth record or the closing tags, or followed by zeros.
    std::mt19937 sorte(7);
    std::vector<std::string> danos;
    for (std::size_t corte = inicioSexto + 1; corte < completo.size(); corte += 3)
        danos.push_back(completo.substr(0, corte));
    danos.push_back(completo.substr(0, inicioSexto + 10) + std::string(4096, '\0'));
    for (const std::string& dano : danos) {
        std::ofstream(Historico(), std::ios::binary | std::ios::trunc) << dano;
        TabelasReceptor t2;
        TArquivosReceptor b(t2, pasta);
        ASSERT_TRUE(b.Inicia(agora)) << dano.size();
        const std::string reparado = Le(Historico());
        EXPECT_TRUE(reparado == cinco || reparado == completo) << dano.size();
        EXPECT_EQ(t2.cdsHistorico.RecordCount(), reparado == completo ? 6 : 5);
        for (const auto& e : fs::directory_iterator(pasta / "Historicos"))
            EXPECT_EQ(e.path(), Historico());  // nothing moved aside, nothing left over
    }
    // Crash images other than cuts. Every complete row is kept; when more than an addition
    // cut short is dropped, the original stays beside the repaired file.
    std::vector<std::size_t> linha;
    for (auto p = completo.find("<ROW "); p != std::string::npos; p = completo.find("<ROW ", p + 1))
        linha.push_back(p);
    ASSERT_EQ(linha.size(), 6u);
    const std::size_t fimDados = completo.size() - kDataPacketTail.size();
    auto Zera = [](std::string b, std::size_t de, std::size_t n) {
        return b.replace(de, n, std::string(n, '\0'));
    };
    struct Imagem {
        const char* caso;
        std::string bytes;
        int registros;
        bool original;  // kept beside
        const char* linha;
    };
    const std::vector<Imagem> imagens = {
        {"new row over the old closing tags, their end still after it",
         completo.substr(0, fimDados) + "<ROW DataHora=\"2024" + completo.substr(fimDados + 19), 6,
         false, "cut short"},
        {"zeros over the closing tags", Zera(completo, fimDados, kDataPacketTail.size()), 6, false,
         "cut short"},
        {"a torn row in the middle", Zera(completo, linha[3] - 2, 2), 5, true,
         "1 damaged row was dropped"},
        {"a torn row and a cut addition", Zera(completo, linha[3] - 2, 2).substr(0, linha[5] + 9),
         4, true, "2 damaged rows were dropped"},
    };
    for (const Imagem& im : imagens) {
        fs::remove_all(pasta / "Historicos");
        fs::create_directories(pasta / "Historicos");
        std::ofstream(Historico(), std::ios::binary) << im.bytes;
        TabelasReceptor t2;
        TArquivosReceptor b(t2, pasta);
        ASSERT_TRUE(b.Inicia(agora)) << im.caso;
        EXPECT_EQ(t2.cdsHistorico.RecordCount(), im.registros) << im.caso;
        EXPECT_EQ(Le(Historico()), WriteTablePacket(t2.cdsHistorico)) << im.caso;
        EXPECT_NE(b.ReparoHistorico().find(im.linha), std::string::npos)
            << im.caso << ": " << b.ReparoHistorico();
        std::vector<fs::path> deLado;
        for (const auto& e : fs::directory_iterator(pasta / "Historicos"))
            if (e.path() != Historico()) deLado.push_back(e.path());
        ASSERT_EQ(deLado.size(), im.original ? 1u : 0u) << im.caso;
        if (im.original) {
            EXPECT_EQ(Le(deLado[0]), im.bytes) << im.caso;
            EXPECT_NE(b.ReparoHistorico().find(deLado[0].string()), std::string::npos);
        }
    }
    // Damage elsewhere is not mended: that file goes aside as before.
    std::string estragado = completo;
    estragado.replace(estragado.find("<METADATA>"), 10, "<METADATX>");
    std::ofstream(Historico(), std::ios::binary | std::ios::trunc) << estragado;
    TabelasReceptor t3;
    TArquivosReceptor c(t3, pasta);
    EXPECT_FALSE(c.Inicia(agora));
}

// A child saves records one after another and tells the parent each count that is saved;
// the parent kills it at a random moment. The file must always load with every record that
// was reported saved.
TEST_F(EscalaTest, SigkillDuranteAsGravacoes) {
    std::mt19937 sorte(12345);
    int salvas = 0;  // records known to be in the file
    for (int rodada = 0; rodada < 30; ++rodada) {
        int canal[2];
        ASSERT_EQ(::pipe(canal), 0);
        const pid_t filho = ::fork();
        ASSERT_GE(filho, 0);
        if (filho == 0) {
            ::close(canal[0]);
            TabelasReceptor t;
            TArquivosReceptor a(t, pasta);
            if (!a.Inicia(agora)) ::_exit(3);
            for (int i = 0;; ++i) {
                Linha(t, i);
                // Now and then a deletion forces a whole rewrite, so kills land there too.
                if (i % 97 == 96) {
                    t.cdsHistorico.Last();
                    t.cdsHistorico.Delete();
                }
                a.SalvaHistorico();
                const int n = t.cdsHistorico.RecordCount();
                if (::write(canal[1], &n, sizeof n) != sizeof n) ::_exit(4);
            }
        }
        ::close(canal[1]);
        // The kill comes at a random moment once the child is saving (start-up takes longer
        // as the file grows, and much longer under the sanitizers).
        int n = 0, ultimo = -1;
        if (::read(canal[0], &n, sizeof n) == sizeof n) ultimo = n;
        std::this_thread::sleep_for(std::chrono::microseconds(sorte() % 20000));
        ::kill(filho, SIGKILL);
        while (::read(canal[0], &n, sizeof n) == sizeof n) ultimo = n;
        if (ultimo >= 0) salvas = ultimo;
        ::close(canal[0]);
        ::waitpid(filho, nullptr, 0);

        TabelasReceptor t;
        TArquivosReceptor a(t, pasta);
        ASSERT_TRUE(a.Inicia(agora)) << "round " << rodada;
        // Every record reported saved is there, and at most the one being written besides.
        EXPECT_GE(t.cdsHistorico.RecordCount(), salvas) << "round " << rodada;
        EXPECT_LE(t.cdsHistorico.RecordCount(), salvas + 1) << "round " << rodada;
        salvas = t.cdsHistorico.RecordCount();
        for (const auto& e : fs::directory_iterator(pasta / "Historicos"))
            EXPECT_EQ(e.path(), Historico()) << "round " << rodada;
        ASSERT_GT(ultimo, 0) << "round " << rodada << ": the child never saved";
    }
}

TEST_F(EscalaTest, SobrasDeGravacoesInterrompidasSaemNaPartida) {
    fs::create_directories(pasta / "Historicos");
    // A process that is gone, as one killed in the middle of a save.
    const pid_t morto = ::fork();
    ASSERT_GE(morto, 0);
    if (morto == 0) ::_exit(0);
    ::waitpid(morto, nullptr, 0);
    const std::string dele = ".save~" + std::to_string(morto) + ".";
    const std::vector<fs::path> sobras = {
        pasta / (".Comandas.xml" + dele + "a1B2c3"), pasta / (".Equip.xml" + dele + "XyZ123"),
        pasta / (".Config.ini.save~" + std::to_string(::getpid()) + ".000000"),
        pasta / "Historicos" / (".Historico_20240331.xml" + dele + "q9W8e7")};
    // Names that only look alike, files a copy tool is delivering, saves of a living process.
    const std::vector<fs::path> alheios = {
        pasta / ".Comandas.xml.abc123",
        pasta / ".Comandas.xml.a1B2c3",
        pasta / (".Comandas.xml" + dele + "toolong"),
        pasta / ("Comandas.xml" + dele + "a1B2c3"),
        pasta / (".Outro.xml" + dele + "a1B2c3"),
        pasta / ".Equip.xml.save~1.XyZ123",
        pasta / "Historicos" / (".Historico_20240330.xml" + dele + "q9W8e7")};
    for (const auto& p : sobras) std::ofstream(p) << "<DATAPA";
    for (const auto& p : alheios) std::ofstream(p) << "x";
    TabelasReceptor t;
    TArquivosReceptor a(t, pasta);
    ASSERT_TRUE(a.Inicia(agora));
    for (const auto& p : sobras) EXPECT_FALSE(fs::exists(p)) << p;
    for (const auto& p : alheios) EXPECT_TRUE(fs::exists(p)) << p;
}

// A full disk, for real (a small file system in a private mount namespace): saves fail with
// the files as they were, the rows stay in the table, and once there is room again every row
// reaches the file, at the next save as at close.
TEST_F(EscalaTest, DiscoCheioNaoPerdeLinhas) {
    const std::string r = lumora::teste::EmDiscoPequeno(pasta, "size=256k", [&] {
        TabelasReceptor t;
        TArquivosReceptor a(t, pasta);
        if (!a.Inicia(agora)) ::_exit(2);
        for (int i = 0; i < 5; ++i) Linha(t, i);
        a.SalvaHistorico();
        const std::string comandas = Le(pasta / "Comandas.xml");
        {
            std::ofstream cheio(pasta / "cheio", std::ios::binary);
            const std::string bloco(4096, 'c');
            while (cheio.write(bloco.data(), bloco.size()) && cheio.flush()) {
            }
        }
        int falhas = 0;
        for (int i = 5; i < 200; ++i) {
            Linha(t, i);
            if (i == 150) {  // a change that rewrites the file whole
                t.cdsHistorico.Last();
                t.cdsHistorico.Delete();
            }
            const std::string antes = Le(Historico());
            try {
                a.SalvaHistorico();
            } catch (const std::exception&) {
                ++falhas;
                EXPECT_EQ(Le(Historico()), antes) << i;  // as it was, whole
            }
            ReadDataPacket(Le(Historico()));  // never torn
        }
        EXPECT_GT(falhas, 0);
        const int registros = t.cdsHistorico.RecordCount();
        EXPECT_THROW(a.Fecha(), std::exception);
        EXPECT_EQ(Le(pasta / "Comandas.xml"), comandas);
        EXPECT_EQ(t.cdsHistorico.RecordCount(), registros);  // kept for another try
        fs::remove(pasta / "cheio");
        a.Fecha();
        TabelasReceptor t2;
        TArquivosReceptor b(t2, pasta);
        EXPECT_TRUE(b.Inicia(agora));
        EXPECT_EQ(t2.cdsHistorico.RecordCount(), registros);
        std::vector<std::string> nomes;
        for (const auto& e : fs::recursive_directory_iterator(pasta))
            nomes.push_back(e.path().filename().string());
        EXPECT_EQ(nomes.size(), 3u);  // Comandas.xml, Historicos/, the history: nothing left over
    });
    if (r.rfind("skip: ", 0) == 0) GTEST_SKIP() << r.substr(6);
    EXPECT_EQ(r, "");
}

// A sync that fails: the history is written whole at once, and at close too, so that no row
// depends on the sync that failed.
TEST_F(EscalaTest, SincroniaQueFalhaReescreveOArquivoInteiro) {
    TabelasReceptor t;
    TArquivosReceptor a(t, pasta);
    std::atomic<int> falhas{0};
    std::atomic<int> avisos{0};
    a.TrocaSincronia([&](int fd) {
        if (falhas > 0) {
            --falhas;
            errno = EIO;
            return -1;
        }
        return ::fdatasync(fd);
    });
    a.AoFalharSincronia([&] { ++avisos; });
    ASSERT_TRUE(a.Inicia(agora));
    Linha(t, 1);
    a.SalvaHistorico();
    struct stat st {};
    ASSERT_EQ(::stat(Historico().c_str(), &st), 0);
    const ino_t antes = st.st_ino;
    falhas = 1;
    Linha(t, 2);
    a.SalvaHistorico();  // the addition, whose sync fails
    for (int i = 0; i < 500 && avisos == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(avisos, 1);
    a.RefazHistorico();  // what the program does at once on the warning
    ASSERT_EQ(::stat(Historico().c_str(), &st), 0);
    EXPECT_NE(st.st_ino, antes) << "not written whole again";
    EXPECT_EQ(Le(Historico()), WriteTablePacket(t.cdsHistorico));
    // At close: the last addition's sync fails, the file is written whole, the close succeeds.
    Linha(t, 3);
    falhas = 1;
    const std::string esperado = WriteTablePacket(t.cdsHistorico);
    EXPECT_NO_THROW(a.Fecha());
    EXPECT_EQ(Le(Historico()), esperado);
    TabelasReceptor t2;
    TArquivosReceptor b(t2, pasta);
    ASSERT_TRUE(b.Inicia(agora));
    EXPECT_EQ(t2.cdsHistorico.RecordCount(), 3);
}

TEST(SincronizaArquivo, FalhasChegamAoProgramaUmaVez) {
    TSincronizaArquivo s;
    EXPECT_EQ(s.Pede("/nonexistent/Historico.xml"), 0);
    EXPECT_EQ(s.Aguarda(), ENOENT);
    EXPECT_EQ(s.Aguarda(), 0);  // told once
    // The failure of a sync comes with the next request when no wait came between.
    EXPECT_EQ(s.Pede("/nonexistent/Historico.xml"), 0);
    while (s.Pede("/nonexistent/Historico.xml") == 0) std::this_thread::yield();
    s.Aguarda();
    char modelo[] = "/tmp/lumora-sync-XXXXXX";
    const int fd = ::mkstemp(modelo);
    ::close(fd);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(s.Pede(modelo), 0);
    EXPECT_EQ(s.Aguarda(), 0);
    ::unlink(modelo);
}

// Requests that come close together share one sync; a wait does not sit out the window.
TEST(SincronizaArquivo, PedidosProximosDividemUmaSincronia) {
    std::atomic<int> sincronias{0};
    TSincronizaArquivo s;
    s.TrocaChamada([&](int) {
        ++sincronias;
        return 0;
    });
    char modelo[] = "/tmp/lumora-sync-XXXXXX";
    ::close(::mkstemp(modelo));
    for (int rodada = 0; rodada < 5; ++rodada) {
        const int antes = sincronias;
        for (int i = 0; i < 20; ++i) EXPECT_EQ(s.Pede(modelo), 0);
        EXPECT_EQ(s.Aguarda(), 0);
        // One, or two when the first had already begun before the others came.
        EXPECT_GE(sincronias - antes, 1);
        EXPECT_LE(sincronias - antes, 2);
    }
    ::unlink(modelo);
}
