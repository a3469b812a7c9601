// The real Modrevo executable, started in this test's private network namespace without a
// display: its first refresh reaches the simulated modules, those behind a router through the
// address book of its settings file, and SIGTERM ends it cleanly.
#include <signal.h>
#include <sys/stat.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <thread>

#include "ApoioModrevo.h"
#include "tests/support/Processo.h"

using namespace apoio;
using namespace std::chrono_literals;

namespace {

class ProgramaTest : public ModrevoTest {
  protected:
    void TearDown() override {
        programa.Mata();
        ModrevoTest::TearDown();
    }

    // `semRede`: in a network namespace of its own with loopback only and no route, where
    // every send fails.
    void Inicia(bool semRede = false) {
        std::filesystem::create_directories(pasta / "run");
        ::chmod((pasta / "run").c_str(), 0700);
        lumora::teste::Execucao e;
        e.executavel = MODREVO_EXE;
        if (semRede) {
            e.executavel = "/usr/bin/unshare";
            e.argumentos = {"-n", "sh", "-c",
                            std::string("ip link set lo up && exec ") + MODREVO_EXE};
        }
        e.ambiente = {"XDG_CONFIG_HOME=" + configuracao.string(),
                      "XDG_RUNTIME_DIR=" + (pasta / "run").string(), "QT_QPA_PLATFORM=offscreen"};
        e.erros = pasta / "stderr.txt";
        ASSERT_EQ(programa.Inicia(e), "");
    }

    lumora::teste::Processo programa;
};

TEST_F(ProgramaTest, RefreshesAtStartAndEndsOnSigterm) {
    IniciaSim(modsim::DefaultModules());
    Inicia();
    // The whole first refresh: the broadcast, four reads of each module, the second family.
    std::vector<Comando> esperados{{"255.255.255.255", "X"}};
    for (const auto& m : sim->Snapshot().tibbo)
        for (const char* t : {"L581947", "GNM", "GGI", "GDI"}) esperados.push_back({m.ip, t});
    // No name server can be reached here (see main): finding this computer's address must not
    // wait for one, each try of which would hold the first broadcast back by 5 s.
    const auto inicio = std::chrono::steady_clock::now();
    const auto limite = inicio + 15s;
    while (std::chrono::steady_clock::now() < limite && Descobertas() == 0) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, 4s) << "first broadcast held back";
    while (std::chrono::steady_clock::now() < limite && Consultas() == 0) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_EQ(Consultas(), 1) << Le(pasta / "stderr.txt");
    std::vector<Comando> reais = Comandos();
    // The reads go down the list, the latest reply first; whichever that was, each module is
    // read as one block.
    ASSERT_EQ(reais.size(), esperados.size()) << ::testing::PrintToString(reais);
    EXPECT_EQ(reais[0], esperados[0]);
    if (reais[1].para != esperados[1].para) {
        std::rotate(esperados.begin() + 1, esperados.begin() + 5, esperados.end());
    }
    EXPECT_EQ(reais, esperados);
    for (const auto& r : sim->Log()) {
        if (r.text == kConsulta) {
            EXPECT_EQ(r.to, "255.255.255.255");
            EXPECT_EQ(r.toPort, 30303);
        }
    }
    // Nothing stored by a refresh.
    EXPECT_EQ(Le(Preferencias()), Preferencia(std::to_string(kTempo)));

    // Let the refresh's last collection end, then ask the program to stop.
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * kTempo));
    ASSERT_TRUE(programa.Sinal(SIGTERM));
    EXPECT_EQ(programa.Termino(3s), 0) << Le(pasta / "stderr.txt");
}

// With no network at all, the refresh fails and says so; asked to stop while it says so,
// the program ends at once, the failure that follows a line on stderr, not a box that waits.
TEST_F(ProgramaTest, EndsOnSigtermWhileTheFailedRefreshIsReported) {
    Inicia(/*semRede=*/true);
    std::this_thread::sleep_for(3s);
    ASSERT_TRUE(programa.Sinal(SIGTERM));
    EXPECT_EQ(programa.Termino(3s), 0) << Le(pasta / "stderr.txt");
    EXPECT_NE(Le(pasta / "stderr.txt").find("Erro: "), std::string::npos);
}

// The real program reads the address book from its settings file: the gate that no
// broadcast reaches is sent "X" at its own address, then read like the others.
TEST_F(ProgramaTest, SearchesTheAddressBookFromItsSettingsFile) {
    modsim::Modules modulos;
    modulos.tibbo.push_back(modsim::BookDemoModules().tibbo.front());  // routed, 127.0.1.5
    IniciaSim(modulos);
    Grava(Preferencias(), Preferencia(std::to_string(kTempo)) +
                              "[AgendaEnderecos]\r\nItens=1\r\nItem1=127.0.1.4-127.0.1.6\r\n");
    Inicia();
    const auto limite = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < limite && Consultas() == 0)
        std::this_thread::sleep_for(20ms);
    ASSERT_EQ(Consultas(), 1) << Le(pasta / "stderr.txt");
    const std::vector<Comando> esperados{
        {"255.255.255.255", "X"}, {"127.0.1.4", "X"},   {"127.0.1.5", "X"},   {"127.0.1.6", "X"},
        {"127.0.1.5", "L581947"}, {"127.0.1.5", "GNM"}, {"127.0.1.5", "GGI"}, {"127.0.1.5", "GDI"}};
    EXPECT_EQ(Comandos(), esperados);
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * kTempo));
    ASSERT_TRUE(programa.Sinal(SIGTERM));
    EXPECT_EQ(programa.Termino(3s), 0) << Le(pasta / "stderr.txt");
}

// The window-less command line, as an installer runs it over SSH: no display, no Qt platform,
// nothing but its options and its settings file.
class LinhaComandoTest : public ModrevoTest {
  protected:
    struct Resultado {
        int status = -1;
        std::string saida, erros;
    };
    Resultado Roda(const std::vector<std::string>& argumentos) {
        lumora::teste::Execucao e;
        e.executavel = MODREVO_EXE;
        e.argumentos = argumentos;
        e.ambienteLimpo = true;  // no DISPLAY, no WAYLAND_DISPLAY, no QT_QPA_PLATFORM
        e.ambiente = {"XDG_CONFIG_HOME=" + configuracao.string(), "HOME=" + pasta.string(),
                      "PATH=/usr/bin:/bin"};
        ++execucoes_;
        e.saida = pasta / ("saida" + std::to_string(execucoes_));
        e.erros = pasta / ("erros" + std::to_string(execucoes_));
        lumora::teste::Processo p;
        Resultado r;
        if (p.Inicia(e) != "") return r;
        r.status = p.Termino(20s);
        r.saida = Le(e.saida);
        r.erros = Le(e.erros);
        return r;
    }
    static QJsonObject Json(const std::string& texto) {
        QJsonParseError erro{};
        const QJsonDocument d = QJsonDocument::fromJson(QByteArray::fromStdString(texto), &erro);
        EXPECT_EQ(erro.error, QJsonParseError::NoError) << texto;
        return d.object();
    }
    // What went to 255.255.255.255, in order.
    std::vector<std::string> Difundidos() const {
        std::vector<std::string> r;
        for (const auto& d : sim->Log())
            if (d.to == "255.255.255.255") r.push_back(d.text);
        return r;
    }

  private:
    int execucoes_ = 0;
};

TEST_F(LinhaComandoTest, ListsBothFamiliesAsTextAndJson) {
    modsim::Modules modulos = modsim::DefaultModules();
    modulos.tibbo.push_back(modsim::BookDemoModules().tibbo.front());  // routed, 127.0.1.5
    IniciaSim(modulos);
    Grava(Preferencias(), Preferencia(std::to_string(kTempo)) +
                              "[AgendaEnderecos]\r\nItens=1\r\nItem1=127.0.1.5\r\n");
    const Resultado json = Roda({"--list", "--json"});
    ASSERT_EQ(json.status, 0) << json.erros;
    const QJsonObject lista = Json(json.saida);
    const QJsonArray tibbo = lista["tibbo"].toArray();
    ASSERT_EQ(tibbo.size(), 3);
    std::map<std::string, QJsonObject> porIp;
    for (const auto& m : tibbo) porIp[m.toObject()["ip"].toString().toStdString()] = m.toObject();
    const QJsonObject vexa = porIp["127.0.0.5"];
    EXPECT_EQ(vexa["mac"].toString(), "0.36.119.87.8.24");
    EXPECT_EQ(vexa["netmask"].toString(), "255.255.255.0");
    EXPECT_EQ(vexa["gateway"].toString(), "127.0.0.1");
    EXPECT_EQ(vexa["destination"].toString(), "127.0.0.1");
    EXPECT_EQ(vexa["dhcp"], QJsonValue(true));
    EXPECT_EQ(vexa["description"].toString(), "Owner - Vexa gate 1");
    EXPECT_EQ(vexa["foundBy"].toString(), "broadcast");
    EXPECT_EQ(porIp["127.0.0.6"]["dhcp"], QJsonValue(false));
    EXPECT_EQ(porIp["127.0.0.6"]["destination"].toString(), "127.0.0.2");
    EXPECT_EQ(porIp["127.0.1.5"]["foundBy"].toString(), "book");
    EXPECT_EQ(porIp["127.0.1.5"]["gateway"].toString(), "127.0.1.1");
    const QJsonArray brivant = lista["brivant"].toArray();
    ASSERT_EQ(brivant.size(), 2);
    EXPECT_EQ(brivant[1].toObject()["name"].toString(), "Gate 1");
    EXPECT_EQ(brivant[1].toObject()["mac"].toString(), "00-04-A3-11-22-33");
    // Exactly what a refresh of the window broadcasts, nothing more.
    EXPECT_EQ(Difundidos(), (std::vector<std::string>{"X", kConsulta}));

    // As text: a header and one line per module; the book from the command line instead.
    sim->ClearLog();
    const Resultado texto = Roda(
        {"--list", "--book", "127.0.1.4-127.0.1.6", "--response-time", std::to_string(kTempo)});
    ASSERT_EQ(texto.status, 0) << texto.erros;
    EXPECT_EQ(std::count(texto.saida.begin(), texto.saida.end(), '\n'), 6) << texto.saida;
    EXPECT_NE(texto.saida.find("tibbo   127.0.1.5       0.36.119.87.9.5"), std::string::npos)
        << texto.saida;
    EXPECT_NE(texto.saida.find("brivant 127.0.0.10"), std::string::npos);
    EXPECT_EQ(Comandos().at(1), (Comando{"127.0.1.4", "X"}));
    EXPECT_EQ(texto.erros, "");
}

TEST_F(LinhaComandoTest, ChangesOneModuleByItsMacWithTheDialogsRules) {
    modsim::Modules modulos = modsim::DefaultModules();
    auto naoLido = Tibbo("127.0.0.8", "0.36.119.87.8.30", "ABCM", "Castrell 8");
    naoLido.behaviours["GNM"].deny = true;  // its netmask is never read
    modulos.tibbo.push_back(naoLido);
    IniciaSim(modulos);
    using V = std::vector<std::string>;
    struct Caso {
        const char* nome;
        std::vector<std::string> argumentos;
        std::vector<Comando> comandos;  // the configuration's, before the closing refresh
        V difundidos;
        std::string ip, netmask;  // as the closing refresh listed it
    };
    const Caso casos[] = {
        {"address and netmask",
         {"--set", "0.36.119.87.8.25", "--ip", "127.0.0.16", "--netmask", "255.255.000.0"},
         {{"255.255.255.255", "A0.36.119.87.8.25/581947/127.0.0.16"},
          {"127.0.0.16", "L581947"},
          {"127.0.0.16", "SNM255.255.0.0"},
          {"127.0.0.16", "E"}},
         {"X", kConsulta, "A0.36.119.87.8.25/581947/127.0.0.16", "X", kConsulta},
         "127.0.0.16",
         "255.255.0.0"},
        // The value the module has already is no change; nothing else is sent, no broadcast
        // but the refreshes'.
        {"only what differs",
         {"--set", "0.36.119.87.8.25", "--netmask", "255.255.0.0", "--gateway", "127.0.0.1",
          "--dhcp", "off"},
         {{"127.0.0.16", "L581947"}, {"127.0.0.16", "E"}},
         {"X", kConsulta, "X", kConsulta},
         "127.0.0.16",
         "255.255.0.0"},
        {"DHCP on a Vexa's destination",
         {"--set", "0.36.119.87.8.24", "--destination", "127.0.0.200", "--dhcp", "off"},
         {{"127.0.0.5", "L581947"},
          {"127.0.0.5", "SDI127.0.0.200"},
          {"127.0.0.5", "SDH0"},
          {"127.0.0.5", "E"}},
         {"X", kConsulta, "X", kConsulta},
         "127.0.0.5",
         "255.255.255.0"},
        // What was not read is not sent: the netmask field's placeholder stays home.
        {"an unread netmask",
         {"--set", "0.36.119.87.8.30", "--gateway", "127.0.0.254"},
         {{"127.0.0.8", "L581947"}, {"127.0.0.8", "SGI127.0.0.254"}, {"127.0.0.8", "E"}},
         {"X", kConsulta, "X", kConsulta},
         "127.0.0.8",
         ""},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        sim->ClearLog();
        std::vector<std::string> argumentos = c.argumentos;
        argumentos.insert(argumentos.end(), {"--json", "--response-time", std::to_string(kTempo)});
        const Resultado r = Roda(argumentos);
        ASSERT_EQ(r.status, 0) << r.erros;
        // Between the first refresh's last read and the closing refresh's broadcast.
        const std::vector<Comando> todos = Comandos();
        std::size_t fim = 1;
        while (fim < todos.size() && todos[fim] != Comando{"255.255.255.255", "X"}) ++fim;
        std::size_t inicio = fim;
        while (inicio > 0 && todos[inicio - 1].texto != "GDI") --inicio;
        EXPECT_EQ(std::vector<Comando>(todos.begin() + static_cast<long>(inicio),
                                       todos.begin() + static_cast<long>(fim)),
                  c.comandos);
        const QJsonObject m = Json(r.saida);
        EXPECT_EQ(m["ip"].toString().toStdString(), c.ip);
        EXPECT_EQ(m["netmask"].toString().toStdString(), c.netmask);
        EXPECT_EQ(Difundidos(), c.difundidos);
    }
}

// What it refuses: each says why on standard error and ends with the status an admin's script
// can tell apart; a command line that does not read sends nothing at all.
TEST_F(LinhaComandoTest, RefusesWithAReasonAndAStatus) {
    IniciaSim(modsim::DefaultModules());
    const std::string t = std::to_string(kTempo);
    struct Caso {
        std::vector<std::string> argumentos;
        int status;
        std::string motivo;
        bool rede;  // it listed the modules (a refresh went out)
    };
    const Caso casos[] = {
        {{"--set", "0.36.119.87.8.99", "--ip", "127.0.0.16"}, 1, "no first-family module", true},
        {{"--set", "0.36.119.87.8.24", "--ip", "127.0.0.16"}, 1, "DHCP mode is on", true},
        {{"--set", "0.36.119.87.8.25", "--destination", "127.0.0.200"}, 1, "only a Vexa", true},
        {{"--set", "0.36.119.87.8.25", "--ip", "127.0.0.5"}, 1, "another listed module", true},
        {{"--set", "0.36.119.87.8.25", "--ip", "127.0.0.300"}, 2, "not an IPv4 address", false},
        {{"--set", "0.36.119.87.8.25", "--gateway", "127.0.0"}, 2, "not an IPv4 address", false},
        {{"--set", "0.36.119.87.8.25", "--dhcp", "yes"}, 2, "--dhcp takes on or off", false},
        {{"--set", "0.36.119.87.8.25"}, 2, "needs at least one", false},
        {{"--set"}, 2, "needs a value", false},
        {{"--list", "--ip", "127.0.0.16"}, 2, "go with --set", false},
        {{"--list", "--set", "0.36.119.87.8.25", "--dhcp", "on"}, 2, "either --list or", false},
        {{"--list", "--book", "10.1.2.0/16"}, 2, "--book '10.1.2.0/16'", false},
        {{"--list", "--response-time", "-5"}, 2, "--response-time takes", false},
        {{"--list", "--colour"}, 2, "unknown option", false},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(::testing::PrintToString(c.argumentos));
        sim->ClearLog();
        std::vector<std::string> argumentos = c.argumentos;
        if (c.status == 1) argumentos.insert(argumentos.end(), {"--response-time", t});
        const Resultado r = Roda(argumentos);
        EXPECT_EQ(r.status, c.status) << r.erros;
        EXPECT_NE(r.erros.find(c.motivo), std::string::npos) << r.erros;
        EXPECT_EQ(r.erros.rfind("Modrevo: ", 0), 0u) << r.erros;
        EXPECT_EQ(r.saida, "");
        EXPECT_EQ(!sim->Log().empty(), c.rede);
        // Refused after listing: no module was told anything.
        for (const auto& d : sim->Log())
            EXPECT_TRUE(d.text == "X" || d.text == kConsulta || d.text == "L581947" ||
                        d.text == "GNM" || d.text == "GGI" || d.text == "GDI")
                << d.text;
    }
    // --force takes another module's address, as Yes in the window does.
    sim->ClearLog();
    const Resultado forcado =
        Roda({"--set", "0.36.119.87.8.25", "--ip", "127.0.0.5", "--force", "--response-time", t});
    EXPECT_EQ(forcado.status, 0) << forcado.erros;
    EXPECT_EQ(Difundidos().at(2), "A0.36.119.87.8.25/581947/127.0.0.5");

    // No module at all: an empty list is an answer; a change has nothing to change.
    sim->Stop();
    sim = std::make_unique<modsim::ModuleSim>(modsim::Modules{});
    sim->Start();
    const Resultado vazia = Roda({"--list", "--json", "--response-time", t});
    EXPECT_EQ(vazia.status, 0) << vazia.erros;
    EXPECT_TRUE(Json(vazia.saida)["tibbo"].toArray().isEmpty());
    EXPECT_TRUE(Json(vazia.saida)["brivant"].toArray().isEmpty());
    const Resultado nenhum =
        Roda({"--set", "0.36.119.87.8.25", "--dhcp", "on", "--response-time", t});
    EXPECT_EQ(nenhum.status, 1);
    EXPECT_NE(nenhum.erros.find("(0 listed)"), std::string::npos) << nenhum.erros;

    // The help names the options and the statuses, and touches no network.
    sim->ClearLog();
    const Resultado ajuda = Roda({"--help"});
    EXPECT_EQ(ajuda.status, 0);
    for (const char* texto : {"--list", "--set MAC", "--json", "--book", "Exit status"})
        EXPECT_NE(ajuda.saida.find(texto), std::string::npos) << texto;
    EXPECT_TRUE(sim->Log().empty());
}

}  // namespace
