// What the card list reload and the history save cost per message, for growing tables.
#include <cstdio>
#include <cstdlib>

#include "BenchUtil.h"
#include "receiver/control/ArquivosReceptor.h"
#include "receiver/control/Motor.h"
#include "receiver/control/TableFile.h"

using namespace lumora;

namespace {

struct Conexao : IConexaoTerminal {
    ComandaPendente p;
    std::string endereco = "127.0.0.1";
    ComandaPendente& Pendente() override { return p; }
    void Envia(const std::string&) override {}
    const std::string& Endereco() const override { return endereco; }
};

}  // namespace

// A receiver with its files in a fresh folder and terminal "01" registered.
struct Receptor {
    explicit Receptor(const std::filesystem::path& p) : pasta(p) {
        if (!arquivos.Inicia(lumora::NoiteDe(common::Now()))) std::exit(1);
        t.cdsEquipamentos.Load({{std::string("01"), std::string("127.0.0.1")}});
    }
    ~Receptor() { std::filesystem::remove_all(pasta); }
    std::filesystem::path pasta;
    TabelasReceptor t;
    TArquivosReceptor arquivos{t, pasta};
    AjustesFixos ajustes;
    TMotorSaida motor{t, ajustes, arquivos};
    Conexao c;
};

int main() {
    std::printf("Card check (card read from a registered terminal, white list)\n");
    std::printf("%10s %18s %18s\n", "cards", "unchanged us/read", "changed us/read");
    for (int n : {1000, 10000, 100000}) {
        const auto pasta = bench::TempFolder("lumora-bench-files");
        const std::string a = bench::CardList(n, 0), b = bench::CardList(n, 1);
        bench::WriteFile(pasta / "Comandas.xml", a);
        Receptor r(pasta);
        TMotorSaida& motor = r.motor;
        Conexao& c = r.c;
        const std::string leitura =
            "01;09;;" + common::IntToStrMin(n - 1, 16) + ";;25;12;24;14;31;05;";
        const int vezes = n >= 100000 ? 50 : 500;
        const double inalterado =
            bench::MicrosPer(vezes, [&](int) { motor.ProcessaPacote(leitura, c); });
        // Changed: the file is rewritten before every read (the write itself is not counted).
        double alterado = 0;
        for (int i = 0; i < vezes / 5; ++i) {
            bench::WriteFile(pasta / "Comandas.xml", i % 2 ? a : b);
            alterado += bench::MicrosPer(1, [&](int) { motor.ProcessaPacote(leitura, c); });
        }
        alterado /= vezes / 5;
        std::printf("%10d %18.1f %18.1f\n", n, inalterado, alterado);
    }

    std::printf("\nHistory save after a turnstile result (whole file written and synced)\n");
    std::printf("%10s %18s %18s %18s\n", "rows", "ms/result", "bytes ms", "via packet ms");
    for (int n : {1000, 10000, 50000}) {
        Receptor r(bench::TempFolder("lumora-bench-files"));
        TMotorSaida& motor = r.motor;
        Conexao& c = r.c;
        TabelasReceptor& t = r.t;
        for (int i = 0; i < n - 20; ++i) {
            motor.InsereHistorico(common::IntToStrMin(i, 16), "Liberado", 1, common::Now());
        }
        const double us = bench::MicrosPer(20, [&](int) { motor.ProcessaPacote("01;10;G;;", c); });
        // The file's bytes alone, as the save makes them and by way of a whole packet.
        size_t size = 0;
        const double direct =
            bench::MicrosPer(20, [&](int) { size += WriteTablePacket(t.cdsHistorico).size(); });
        const double viaPacket = bench::MicrosPer(
            20, [&](int) { size += WriteDataPacket(PacketFromTable(t.cdsHistorico)).size(); });
        std::printf("%10d %18.2f %18.2f %18.2f\n", n, us / 1000.0, direct / 1000.0,
                    viaPacket / 1000.0);
        if (size == 0) return 1;
    }
    return 0;
}
