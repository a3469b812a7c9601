// Module configuration on scripted endpoints: the change flags, the command order, failures,
// the timer on every way out, and the range check of the second family's page.
#include "manager/modules/Configuracao.h"

#include <gtest/gtest.h>

#include "EndpointFalso.h"
#include "JanelaFalsa.h"
#include "manager/modules/Listas.h"

namespace modrevo {
namespace {

using teste::De;
using teste::EndpointFalso;
using teste::Envio;
using teste::JanelaFalsa;

// What the address field makes of a column's text: the dotted form without leading zeros.
std::string ComoOCampo(const std::string& texto) {
    if (texto.empty()) return "0.0.0.0";
    std::string r, parte;
    std::string t = texto + ".";
    for (char c : t) {
        if (c != '.') {
            parte += c;
            continue;
        }
        r += (r.empty() ? "" : ".") + std::to_string(std::stoi(parte));
        parte.clear();
    }
    return r;
}

class DialogoFalso : public IDialogoConfigura {
  public:
    CamposConfiguracao campos;
    bool vexa = false;
    int preenchido = 0;
    bool ok = true;
    std::function<void(CamposConfiguracao&)> operador;  // what the operator types

    // The fields show the columns as the address fields would.
    void Preenche(const CamposConfiguracao& c, bool v) override {
        campos = c;
        for (std::string* e : {&campos.ip, &campos.mascara, &campos.gateway, &campos.ipComputador})
            *e = ComoOCampo(*e);
        vexa = v;
        ++preenchido;
    }
    bool Executa() override {
        if (operador) operador(campos);
        return ok;
    }
    CamposConfiguracao Le() const override { return campos; }
    std::vector<std::string> outros;
    void DefineEnderecosDeOutros(const std::vector<std::string>& e) override { outros = e; }
    std::vector<EntradaAgenda> agenda;
    bool soPorUnicast = false;
    void DefineAgenda(const std::vector<EntradaAgenda>& a, bool u) override {
        agenda = a;
        soPorUnicast = u;
    }
};

class AbridorFalso : public IAbridor {
  public:
    std::vector<std::string> abertos;
    void AbreEAguarda(const std::string& d) override { abertos.push_back(d); }
};

class ConfiguracaoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        atualizacao.FormCreate();
        client.responde = [this](const Envio& e) {
            std::vector<Datagrama> r;
            if (e.texto == "X") {
                if (e.broadcast ? !roteado : e.host == hostX) r.push_back(De(hostX, resposta));
            } else if (!e.broadcast || e.texto[0] == 'A')
                r.push_back(De(e.host, "A"));
            return r;
        };
        aux.responde = [this](const Envio& e) {
            std::vector<Datagrama> r;
            if (e.texto == "L581947") r.push_back(De(e.host, "A"));
            if (e.texto == "GNM" && !netmask.empty()) r.push_back(De(e.host, "A" + netmask));
            if (e.texto == "GGI" && !netmask.empty()) r.push_back(De(e.host, "A10.0.0.1"));
            if (e.texto == "GDI" && !netmask.empty()) r.push_back(De(e.host, "A10.0.0.100"));
            return r;
        };
    }

    // Lists the module, then configures it; returns what went out to port 65535 after the
    // list's own refresh, as "host text".
    std::vector<std::string> Configura() {
        atualizacao.AtualizaListas(false);
        const std::size_t antes = client.envios.size();
        janela.ParaTimer1();
        configuracao.ConfiguraColetor();
        std::vector<std::string> enviados;
        for (std::size_t i = antes; i < client.envios.size(); ++i) {
            const Envio& e = client.envios[i];
            if (e.texto == "X") break;  // the closing refresh
            enviados.push_back(e.host + " " + e.texto);
        }
        return enviados;
    }

    std::string hostX = "10.0.0.5";
    std::string resposta = "A0.36.119.87.8.24/1001/ABCM/x/Dono/Vexa 1";
    std::string netmask = "255.255.255.0";  // empty: none of the three values is read
    bool roteado = false;  // behind a router: only "X" sent to its address reaches it
    JanelaFalsa janela;
    EndpointFalso client, aux, safe;
    TAtualizacao atualizacao{janela, client, aux, safe};
    DialogoFalso dialogo;
    AbridorFalso abridor;
    TConfiguracao configuracao{janela, atualizacao, dialogo, abridor, "192.168.0.10"};
};

TEST_F(ConfiguracaoTest, SequenciasDeComandos) {
    using V = std::vector<std::string>;
    struct Caso {
        const char* nome;
        std::string resposta, netmask;
        std::function<void(CamposConfiguracao&)> operador;
        V esperado;
    };
    const Caso casos[] = {
        {"only DHCP, to on",
         "A0.1/1/ABCM/x/Dono/Vexa 1",
         "255.255.255.0",
         [](CamposConfiguracao& c) { c.dhcp = "Ativado"; },
         {"10.0.0.5 L581947", "10.0.0.5 SDH1", "10.0.0.5 E"}},
        {"IP and netmask",
         "A0.1/1/ABCM/x/Dono/Vexa 1",
         "255.255.255.0",
         [](CamposConfiguracao& c) {
             c.ip = "10.0.0.77";
             c.mascara = "255.255.0.0";
         },
         {"255.255.255.255 A0.1/581947/10.0.0.77", "10.0.0.77 L581947", "10.0.0.77 SNM255.255.0.0",
          "10.0.0.77 E"}},
        {"nothing changed",
         "A0.1/1/ABCM/x/Dono/Vexa 1",
         "255.255.255.0",
         nullptr,
         {"10.0.0.5 L581947", "10.0.0.5 E"}},
        // What was not read is sent only when the operator changed it in the dialog.
        {"DHCP not known, nothing read",
         "A0.1/1/ABC/x/Dono/Vexa 1",
         "",
         nullptr,
         {"10.0.0.5 L581947", "10.0.0.5 E"}},
        {"nothing read, operator sets the netmask",
         "A0.1/1/ABCM/x/Dono/Vexa 1",
         "",
         [](CamposConfiguracao& c) { c.mascara = "255.255.0.0"; },
         {"10.0.0.5 L581947", "10.0.0.5 SNM255.255.0.0", "10.0.0.5 E"}},
        {"DHCP not known, operator turns it on",
         "A0.1/1/ABC/x/Dono/Vexa 1",
         "255.255.255.0",
         [](CamposConfiguracao& c) { c.dhcp = "Ativado"; },
         {"10.0.0.5 L581947", "10.0.0.5 SDH1", "10.0.0.5 E"}},
        {"leading zeros",
         "A0.1/1/ABCM/x/Dono/Vexa 1",
         "255.255.255.000",
         nullptr,
         {"10.0.0.5 L581947", "10.0.0.5 SNM255.255.255.0", "10.0.0.5 E"}},
        {"every field, destination last before DHCP",
         "A0.1/1/ABCI/x/Dono/Vexa 1",
         "255.255.255.0",
         [](CamposConfiguracao& c) {
             c.ip = "10.0.0.6";
             c.mascara = "255.0.0.0";
             c.gateway = "10.0.0.2";
             c.ipComputador = "10.0.0.200";
             c.dhcp = "Desativado";
         },
         {"255.255.255.255 A0.1/581947/10.0.0.6", "10.0.0.6 L581947", "10.0.0.6 SNM255.0.0.0",
          "10.0.0.6 SGI10.0.0.2", "10.0.0.6 SDI10.0.0.200", "10.0.0.6 SDH0", "10.0.0.6 E"}},
        {"not Vexa: never SDI",
         "A0.1/1/ABCM/x/Dono/Torvane",
         "255.255.255.0",
         [](CamposConfiguracao& c) { c.ipComputador = "10.9.9.9"; },
         {"10.0.0.5 L581947", "10.0.0.5 E"}},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        resposta = c.resposta;
        netmask = c.netmask;
        dialogo.operador = c.operador;
        EXPECT_EQ(Configura(), c.esperado);
        EXPECT_TRUE(janela.timerLigado);
        EXPECT_FALSE(janela.ampulheta);
        EXPECT_EQ(janela.pausas.back(), 100);
    }
}

TEST_F(ConfiguracaoTest, ModuloAtrasDeRoteadorMudaDeEnderecoPorUltimo) {
    using V = std::vector<std::string>;
    janela.agenda = teste::Agenda({"10.0.0.0/24"});
    struct Caso {
        const char* nome;
        bool roteado;
        std::function<void(CamposConfiguracao&)> operador;
        V esperado;
    };
    const Caso casos[] = {
        // Its new netmask and gateway while its address still leads to it; then the address,
        // by unicast to where it is now; the closing command to where it goes.
        {"routed, into a new network",
         true,
         [](CamposConfiguracao& c) {
             c.ip = "10.0.0.77";
             c.mascara = "255.255.0.0";
             c.gateway = "10.0.0.9";
         },
         {"10.0.0.5 L581947", "10.0.0.5 SNM255.255.0.0", "10.0.0.5 SGI10.0.0.9",
          "10.0.0.5 A0.36.119.87.8.24/581947/10.0.0.77", "10.0.0.77 E"}},
        {"routed, the address alone",
         true,
         [](CamposConfiguracao& c) { c.ip = "10.0.0.77"; },
         {"10.0.0.5 L581947", "10.0.0.5 A0.36.119.87.8.24/581947/10.0.0.77", "10.0.0.77 E"}},
        {"routed, same address",
         true,
         [](CamposConfiguracao& c) { c.gateway = "10.0.0.9"; },
         {"10.0.0.5 L581947", "10.0.0.5 SGI10.0.0.9", "10.0.0.5 E"}},
        // Found by the broadcast too: the broadcast first, as documented.
        {"on this segment",
         false,
         [](CamposConfiguracao& c) {
             c.ip = "10.0.0.77";
             c.gateway = "10.0.0.9";
         },
         {"255.255.255.255 A0.36.119.87.8.24/581947/10.0.0.77", "10.0.0.77 L581947",
          "10.0.0.77 SGI10.0.0.9", "10.0.0.77 E"}},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        roteado = c.roteado;
        dialogo.operador = c.operador;
        EXPECT_EQ(Configura(), c.esperado);
        // The dialog knows the book only for a module that only the book finds.
        EXPECT_EQ(dialogo.soPorUnicast, c.roteado);
        EXPECT_EQ(dialogo.agenda.size(), c.roteado ? 1u : 0u);
    }
    EXPECT_TRUE(dialogo.outros.empty());  // no other module listed
}

TEST_F(ConfiguracaoTest, ODialogoMostraALinha) {
    atualizacao.AtualizaListas(false);
    configuracao.ConfiguraColetor();
    EXPECT_TRUE(dialogo.vexa);
    resposta = "A0.1/1/ABCI/x/Dono/Castrell";
    atualizacao.AtualizaListas(false);
    dialogo.operador = nullptr;
    configuracao.ConfiguraColetor();
    EXPECT_FALSE(dialogo.vexa);
    EXPECT_EQ(dialogo.campos.ip, "10.0.0.5");
    EXPECT_EQ(dialogo.campos.dhcp, "Ativado");
    EXPECT_EQ(dialogo.campos.ipComputador, "0.0.0.0");
    EXPECT_EQ(dialogo.campos.gateway, "10.0.0.1");
}

TEST_F(ConfiguracaoTest, SemConfiguracaoPossivel) {
    // An empty list, a kind word in lower case only, a cancelled dialog: nothing is sent and the
    // timer runs again.
    janela.ParaTimer1();
    configuracao.ConfiguraColetor();
    EXPECT_TRUE(janela.timerLigado);
    EXPECT_EQ(dialogo.preenchido, 0);

    resposta = "A0.1/1/ABCM/x/Dono/vexa torvane castrell";
    atualizacao.AtualizaListas(false);
    janela.ParaTimer1();
    configuracao.ConfiguraColetor();
    EXPECT_EQ(
        janela.avisos,
        (std::vector<std::string>{"Op\xE7\xE3o n\xE3o dispon\xEDvel para este equipamento."}));
    EXPECT_TRUE(janela.timerLigado);
    EXPECT_EQ(dialogo.preenchido, 0);

    resposta = "A0.1/1/ABCM/x/Dono/Vexa";
    dialogo.ok = false;
    EXPECT_TRUE(Configura().empty());
    EXPECT_EQ(dialogo.preenchido, 1);
    EXPECT_TRUE(janela.timerLigado);
    EXPECT_TRUE(janela.pausas.empty());
}

TEST_F(ConfiguracaoTest, FalhaNoMeioParaASequenciaMasAtualiza) {
    dialogo.operador = [](CamposConfiguracao& c) {
        c.ip = "10.0.0.5";
        c.mascara = "255.0.0.0";
        c.gateway = "10.0.0.1";
        c.ipComputador = "10.0.0.100";
        c.dhcp = "Ativado";
    };
    atualizacao.AtualizaListas(false);
    client.falhaNoEnvio = static_cast<int>(client.envios.size()) + 2;  // the "SNM"
    const std::size_t antes = client.envios.size();
    configuracao.ConfiguraColetor();
    ASSERT_GE(client.envios.size(), antes + 3);
    EXPECT_EQ(client.envios[antes].texto, "L581947");
    EXPECT_EQ(client.envios[antes + 1].texto, "SNM255.0.0.0");
    EXPECT_EQ(client.envios[antes + 2].texto, "X");  // the closing refresh, nothing else
    EXPECT_EQ(janela.avisos,
              (std::vector<std::string>{
                  "Erro durante a atualiza\xE7\xE3o. Verifique e tente novamente."}));
    EXPECT_TRUE(janela.timerLigado);
}

TEST_F(ConfiguracaoTest, OsComandosSaemDaCopiaFeitaNoOk) {
    // A refresh run by a message processed between two replies lists another module first;
    // the commands still carry what the operator confirmed, to the module confirmed.
    dialogo.operador = [](CamposConfiguracao& c) {
        c.ip = "10.0.0.5";
        c.mascara = "255.0.0.0";
        c.gateway = "10.0.0.9";
        c.ipComputador = "10.0.0.100";
        c.dhcp = "Desativado";
    };
    atualizacao.AtualizaListas(false);
    bool atualizou = false;
    janela.aoProcessar = [&] {
        if (configuracao.EmConfiguracao() && !atualizou) {
            atualizou = true;
            // Another module now, and the dialog filled again as another configuration would.
            hostX = "10.0.0.6";
            resposta = "A9.9/1/ABCI/x/Outro/Vexa 2";
            dialogo.campos = CamposConfiguracao{"10.0.0.6", "255.255.255.0", "10.0.0.1",
                                                "10.0.0.100", "Ativado"};
            atualizacao.ToolButton2Click();
        }
    };
    const std::size_t antes = client.envios.size();
    configuracao.ConfiguraColetor();
    EXPECT_TRUE(atualizou);
    std::vector<std::string> comandos;
    for (std::size_t i = antes; i < client.envios.size(); ++i)
        if (client.envios[i].texto != "X")
            comandos.push_back(client.envios[i].host + " " + client.envios[i].texto);
    EXPECT_EQ(comandos, (std::vector<std::string>{"10.0.0.5 L581947", "10.0.0.5 SNM255.0.0.0",
                                                  "10.0.0.5 SGI10.0.0.9", "10.0.0.5 E"}));
}

TEST_F(ConfiguracaoTest, ConfiguracaoDentroDeOutraNaoReligaOTimer) {
    // A double click while the first configuration sends: when the inner one ends, the outer
    // is still sending and no tick may start a refresh under it.
    atualizacao.AtualizaListas(false);
    int internas = 0;
    bool ligadoNoMeio = false;
    janela.aoProcessar = [&] {
        if (!configuracao.EmConfiguracao()) return;
        if (internas == 0) {
            ++internas;
            janela.ParaTimer1();
            configuracao.ConfiguraColetor();
        }
        ligadoNoMeio = ligadoNoMeio || janela.timerLigado;
    };
    janela.ParaTimer1();
    configuracao.ConfiguraColetor();
    EXPECT_EQ(internas, 1);
    EXPECT_FALSE(ligadoNoMeio);
    EXPECT_TRUE(janela.timerLigado);
}

TEST(MesmaFaixa, TresPrimeirosCamposComoTexto) {
    EXPECT_TRUE(MesmaFaixaDoComputador("192.168.0.25", "192.168.0.10"));
    EXPECT_FALSE(MesmaFaixaDoComputador("192.168.0.25", "192.168.1.10"));
    EXPECT_FALSE(MesmaFaixaDoComputador("192.168.000.25", "192.168.0.10"));
    EXPECT_FALSE(MesmaFaixaDoComputador("", "192.168.0.10"));
    EXPECT_TRUE(MesmaFaixaDoComputador("0.0.0.7", "0.0.0.0"));
    EXPECT_TRUE(MesmaFaixaDoComputador("", ""));
}

TEST_F(ConfiguracaoTest, PaginaDoModuloOuAMensagemDaFaixa) {
    configuracao.AbrePaginaModulo();  // empty list
    EXPECT_EQ(janela.simples,
              (std::vector<std::string>{"A Faixa de ip do m\xF3"
                                        "dulo est\xE1 diferente do IP do\r"
                                        "computador. Modifique o IP da placa de rede."}));
    safe.responde = [](const Envio&) {
        return std::vector<Datagrama>{De("192.168.0.25", "Found:;Porta;00-01;")};
    };
    atualizacao.AtualizaListas(false);
    configuracao.AbrePaginaModulo();
    EXPECT_EQ(abridor.abertos, (std::vector<std::string>{"Http://192.168.0.25"}));
    TConfiguracao outraFaixa{janela, atualizacao, dialogo, abridor, "192.168.1.10"};
    outraFaixa.AbrePaginaModulo();
    EXPECT_EQ(janela.simples.size(), 2u);
    EXPECT_EQ(abridor.abertos.size(), 1u);
    EXPECT_EQ(client.envios.size(), 1u);  // no timer stop, nothing sent to the modules
}

}  // namespace
}  // namespace modrevo
