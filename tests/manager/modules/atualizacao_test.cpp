// The refresh on scripted endpoints: list order, reads, counts, failures, and refreshes that
// start inside one another.
#include "manager/modules/Atualizacao.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>

#include "EndpointFalso.h"
#include "JanelaFalsa.h"
#include "manager/modules/Listas.h"

namespace modrevo {
namespace {

using teste::De;
using teste::EndpointFalso;
using teste::Envio;
using teste::JanelaFalsa;

struct Modulo {
    std::string ip, resposta, netmask, gateway, destino;
    bool mudo = false;
    bool roteado = false;  // behind a router: the broadcast does not reach it
};

class AtualizacaoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        modulos = {
            {"10.0.0.1", "A0.1/1001/ABCI/x/P/Vexa 1", "255.0.0.0", "10.0.0.254", "10.0.0.100"},
            {"10.0.0.2", "A0.2/1001/ABCM/x/Q/Torvane", "255.255.0.0", "10.0.0.253", ""},
            {"10.0.0.3", "A0.3/1001/AB/x/R/Castrell", "255.255.255.0", "10.0.0.252", "1.2.3.4"},
        };
        client.responde = [this](const Envio& e) {
            std::vector<Datagrama> r;
            if (e.texto == "X")
                for (const Modulo& m : modulos)
                    if (e.broadcast ? !m.roteado : m.ip == e.host)
                        r.push_back(De(m.ip, m.resposta));
            return r;
        };
        aux.responde = [this](const Envio& e) {
            std::vector<Datagrama> r;
            for (const Modulo& m : modulos) {
                if (m.ip != e.host || m.mudo) continue;
                if (e.texto == "L581947") r.push_back(De(m.ip, "A"));
                if (e.texto == "GNM") r.push_back(De(m.ip, "A" + m.netmask));
                if (e.texto == "GGI") r.push_back(De(m.ip, "A" + m.gateway));
                if (e.texto == "GDI")
                    r.push_back(De(m.ip, m.destino.empty() ? "D" : "A" + m.destino));
            }
            return r;
        };
        safe.responde = [](const Envio& e) {
            std::vector<Datagrama> r;
            if (e.texto == "Discovery: Who is out there?" && e.porta == 30303) {
                r.push_back(De("10.0.0.8", "Found:;Porta 8;00-04-A3-00-00-08;"));
                r.push_back(De("10.0.0.9", "Porta 9\r\n00-04-A3-00-00-09\r\n"));
            }
            return r;
        };
        atualizacao.FormCreate();
    }

    std::vector<std::string> Coluna(common::MemTable& t, int campo) {
        std::vector<std::string> v;
        for (int i = 0; i < t.RecordCount(); ++i) {
            const common::FieldValue valor = t.ValueAt(i, campo);
            const auto* texto = std::get_if<std::string>(&valor);
            v.push_back(texto ? *texto : "");
        }
        return v;
    }
    std::vector<std::string> HostsLidos() {
        std::vector<std::string> v;
        for (const Envio& e : aux.envios) v.push_back(e.host + " " + e.texto);
        return v;
    }

    std::vector<Modulo> modulos;
    JanelaFalsa janela;
    EndpointFalso client, aux, safe;
    TAtualizacao atualizacao{janela, client, aux, safe};
};

TEST_F(AtualizacaoTest, ListaNaOrdemInversaELeDoUltimoAoPrimeiro) {
    EXPECT_EQ(janela.contagem, "");
    atualizacao.AtualizaListas(true);

    auto& t = atualizacao.tbmColetores;
    EXPECT_EQ(Coluna(t, cIp), (std::vector<std::string>{"10.0.0.3", "10.0.0.2", "10.0.0.1"}));
    EXPECT_EQ(Coluna(t, cDHCP),
              (std::vector<std::string>{"N\xE3o Obitid", "Desativado", "Ativado"}));
    EXPECT_EQ(Coluna(t, cNetmask),
              (std::vector<std::string>{"255.255.255.0", "255.255.0.0", "255.0.0.0"}));
    EXPECT_EQ(Coluna(t, cIpDestino), (std::vector<std::string>{"1.2.3.4", "", "10.0.0.100"}));
    EXPECT_EQ(Coluna(t, cDescricao),
              (std::vector<std::string>{"R - Castrell", "Q - Torvane", "P - Vexa 1"}));
    const std::vector<std::string> leituras = {
        "10.0.0.3 L581947", "10.0.0.3 GNM", "10.0.0.3 GGI", "10.0.0.3 GDI",
        "10.0.0.2 L581947", "10.0.0.2 GNM", "10.0.0.2 GGI", "10.0.0.2 GDI",
        "10.0.0.1 L581947", "10.0.0.1 GNM", "10.0.0.1 GGI", "10.0.0.1 GDI"};
    EXPECT_EQ(HostsLidos(), leituras);
    EXPECT_EQ(t.RecNo(), 2);  // the reads leave the last row current

    ASSERT_EQ(client.envios.size(), 1u);
    EXPECT_TRUE(client.envios[0].broadcast);
    EXPECT_EQ(client.envios[0].porta, 65535);
    EXPECT_EQ(janela.memo1, (std::vector<std::string>{"10.0.0.1 A0.1/1001/ABCI/x/P/Vexa 1",
                                                      "10.0.0.2 A0.2/1001/ABCM/x/Q/Torvane",
                                                      "10.0.0.3 A0.3/1001/AB/x/R/Castrell"}));

    auto& m = atualizacao.tbmModulos;
    EXPECT_EQ(Coluna(m, mIp), (std::vector<std::string>{"10.0.0.9", "10.0.0.8"}));
    EXPECT_EQ(Coluna(m, mEquipamento), (std::vector<std::string>{"Porta 9", "Porta 8"}));
    EXPECT_EQ(Coluna(m, mMac),
              (std::vector<std::string>{"00-04-A3-00-00-09", "00-04-A3-00-00-08"}));
    EXPECT_EQ(m.RecNo(), 0);
    EXPECT_EQ(janela.memo2,
              (std::vector<std::string>{"10.0.0.8", "Found:;Porta 8;00-04-A3-00-00-08;", "59",
                                        "10.0.0.9", "Porta 9\r\n00-04-A3-00-00-09\r\n"}));
    EXPECT_EQ(safe.fechamentos, 1);
    EXPECT_EQ(janela.contagem, " 5 equipamento(s) encotrado(s)");
    EXPECT_FALSE(janela.ampulheta);
    EXPECT_TRUE(janela.avisos.empty());
    EXPECT_EQ(client.tempo, 2000);
    EXPECT_EQ(aux.tempo, 2000);
    EXPECT_EQ(safe.tempo, 2000);
}

TEST_F(AtualizacaoTest, ModuloMudoCustaQuatroEsperasSoDele) {
    modulos[1].mudo = true;
    janela.tempo = "500";
    atualizacao.AtualizaListas(false);
    EXPECT_EQ(aux.esgotados, 4);
    EXPECT_EQ(aux.recepcoes, 12);
    EXPECT_EQ(client.esgotados, 1);
    EXPECT_EQ(Coluna(atualizacao.tbmColetores, cNetmask),
              (std::vector<std::string>{"255.255.255.0", "", "255.0.0.0"}));
    EXPECT_EQ(aux.tempo, 500);
    EXPECT_EQ(client.tempo, 500);
}

TEST_F(AtualizacaoTest, SemRespostasNadaSeLeEAContagemFica) {
    atualizacao.AtualizaListas(true);
    EXPECT_EQ(janela.contagem, " 5 equipamento(s) encotrado(s)");
    modulos.clear();
    safe.responde = nullptr;
    janela.tempo = "abc";
    aux.envios.clear();
    atualizacao.AtualizaListas(true);
    EXPECT_TRUE(aux.envios.empty());
    EXPECT_EQ(atualizacao.tbmColetores.RecordCount(), 0);
    EXPECT_EQ(safe.envios.size(), 2u);  // the second family is still asked
    // Emptying the lists is no change of state: the text stays as it was.
    EXPECT_EQ(janela.contagem, " 5 equipamento(s) encotrado(s)");
    EXPECT_EQ(client.tempo, 2000);
}

TEST_F(AtualizacaoTest, FalhaDeSocketGuardaOQueJaVeioEContinua) {
    aux.falhaNoEnvio = 6;  // the second module's "GNM"
    atualizacao.AtualizaListas(true);
    EXPECT_EQ(janela.avisos,
              (std::vector<std::string>{
                  "Erro durante a atualiza\xE7\xE3o. Verifique e tente novamente."}));
    EXPECT_EQ(Coluna(atualizacao.tbmColetores, cNetmask),
              (std::vector<std::string>{"255.255.255.0", "", ""}));
    EXPECT_EQ(atualizacao.tbmModulos.RecordCount(), 2);
    EXPECT_FALSE(janela.ampulheta);

    // An adapter that refuses a broadcast another one took is a line in the log, for either
    // family, and everything is still listed.
    janela.avisos.clear();
    aux.falhaNoEnvio = 0;
    client.falhasParciais = {"eth1: Socket Error # 10051\r\nNetwork is unreachable"};
    safe.falhasParciais = {"eth2: Socket Error # 10051\r\nNetwork is unreachable"};
    atualizacao.AtualizaListas(true);
    EXPECT_TRUE(janela.avisos.empty());
    for (const auto* f : {&client.falhasParciais, &safe.falhasParciais})
        EXPECT_NE(std::find(janela.memo1.begin(), janela.memo1.end(), f->at(0)),
                  janela.memo1.end());
    EXPECT_EQ(atualizacao.tbmColetores.RecordCount(), 3);
    EXPECT_EQ(atualizacao.tbmModulos.RecordCount(), 2);

    // A failure of the second family's query on every adapter is not caught: "Atualizar" then
    // leaves the timer stopped.
    safe.falhaNoEnvio = static_cast<int>(safe.envios.size()) + 1;
    EXPECT_THROW(atualizacao.ToolButton2Click(), ESocketUDP);
    EXPECT_FALSE(janela.timerLigado);
}

TEST_F(AtualizacaoTest, TiqueDentroDeAtualizacaoDoTiqueNaoFazNada) {
    // Whoever started the running refresh: a tick, the first activation, "Atualizar".
    const std::function<void()> primeiras[] = {
        [&] { atualizacao.Timer1Timer(); },
        [&] { atualizacao.AtualizaListas(true); },
        [&] { atualizacao.ToolButton2Click(); },
    };
    for (const auto& primeira : primeiras) {
        client.envios.clear();
        int tiques = 0;
        janela.aoProcessar = [&] {
            if (tiques++ < 3) atualizacao.Timer1Timer();
        };
        primeira();
        janela.aoProcessar = nullptr;
        EXPECT_EQ(client.envios.size(), 1u);
    }

    // A row being edited also holds the tick back.
    janela.aoProcessar = nullptr;
    atualizacao.tbmColetores.Edit();
    atualizacao.Timer1Timer();
    EXPECT_EQ(client.envios.size(), 1u);
    atualizacao.tbmColetores.Cancel();
    atualizacao.Timer1Timer();
    EXPECT_EQ(client.envios.size(), 2u);
}

TEST_F(AtualizacaoTest, AtualizacaoSuperadaParaSemDuplicarNada) {
    // The operator clicks "Atualizar" while the second module is being read.
    bool clicou = false;
    janela.aoProcessar = [&] {
        if (!clicou && aux.envios.size() == 6) {  // the stray reply to the second "GNM"
            clicou = true;
            atualizacao.ToolButton2Click();
        }
    };
    aux.responde = [base = aux.responde](const Envio& e) {
        auto r = base(e);
        if (e.texto == "GNM") r.insert(r.begin(), De(e.host, "C"));  // skipped: messages run
        return r;
    };
    atualizacao.AtualizaListas(false);
    EXPECT_TRUE(clicou);
    auto& t = atualizacao.tbmColetores;
    EXPECT_EQ(Coluna(t, cIp), (std::vector<std::string>{"10.0.0.3", "10.0.0.2", "10.0.0.1"}));
    EXPECT_EQ(Coluna(t, cGateway),
              (std::vector<std::string>{"10.0.0.252", "10.0.0.253", "10.0.0.254"}));
    EXPECT_EQ(atualizacao.tbmModulos.RecordCount(), 2);
    EXPECT_EQ(safe.envios.size(), 1u);
    EXPECT_EQ(client.envios.size(), 2u);
    EXPECT_TRUE(janela.avisos.empty());
    EXPECT_EQ(janela.contagem, " 5 equipamento(s) encotrado(s)");
}

TEST_F(AtualizacaoTest, CliqueNaListaDuranteAsLeiturasNaoPulaModulo) {
    aux.responde = [base = aux.responde](const Envio& e) {
        auto r = base(e);
        r.insert(r.begin(), De(e.host, "C"));  // every read sees a stray reply first
        return r;
    };
    int cliques = 0;
    janela.aoProcessar = [&] {
        auto& t = atualizacao.tbmColetores;
        if (t.RecordCount() == 3) (cliques++ % 2 ? t.First() : t.Last());
    };
    atualizacao.AtualizaListas(false);
    EXPECT_GT(cliques, 4);
    std::map<std::string, int> lidos;
    for (const Envio& e : aux.envios)
        if (e.texto == "GNM") ++lidos[e.host];
    EXPECT_EQ(lidos,
              (std::map<std::string, int>{{"10.0.0.1", 1}, {"10.0.0.2", 1}, {"10.0.0.3", 1}}));
    EXPECT_EQ(Coluna(atualizacao.tbmColetores, cNetmask),
              (std::vector<std::string>{"255.255.255.0", "255.255.0.0", "255.0.0.0"}));
}

TEST_F(AtualizacaoTest, AgendaProcuraPorUnicastQuemNaoRespondeuAoBroadcast) {
    modulos.push_back({"10.9.0.5", "A0.9/1001/ABCI/x/Anexo/Vexa 9", "255.255.255.0", "10.9.0.1",
                       "10.0.0.100", false, true});
    // The same module as 10.0.0.1 (its MAC), also answering from behind the router.
    modulos.push_back({"10.9.0.6", "A0.1/1001/ABCI/x/P/Vexa 1", "", "", "", false, true});
    // An address that answered the broadcast and one written twice are searched no more.
    janela.agenda = teste::Agenda({"10.0.0.1", "10.9.0.4-10.9.0.6", "10.9.0.5"});
    std::vector<std::chrono::steady_clock::time_point> quando;
    client.responde = [&, base = client.responde](const Envio& e) {
        if (!e.broadcast) quando.push_back(std::chrono::steady_clock::now());
        return base(e);
    };
    atualizacao.AtualizaListas(false);

    std::vector<std::string> enviados;
    for (const Envio& e : client.envios)
        enviados.push_back(e.host + (e.broadcast ? " broadcast " : " ") + e.texto);
    EXPECT_EQ(enviados, (std::vector<std::string>{"255.255.255.255 broadcast X", "10.9.0.4 X",
                                                  "10.9.0.5 X", "10.9.0.6 X"}));
    ASSERT_EQ(quando.size(), 3u);
    // Paced on a fixed schedule of a millisecond each from the first slot: a first send that
    // came late shortens the gap to the next, so three sends span more than one millisecond
    // (unpaced, microseconds), not always two.
    EXPECT_GE(quando.back() - quando.front(), std::chrono::milliseconds(1));
    // Listed once each; the one found by unicast comes last, so it is listed (and read) first.
    auto& t = atualizacao.tbmColetores;
    EXPECT_EQ(Coluna(t, cIp),
              (std::vector<std::string>{"10.9.0.5", "10.0.0.3", "10.0.0.2", "10.0.0.1"}));
    EXPECT_EQ(HostsLidos().front(), "10.9.0.5 L581947");
    EXPECT_EQ(Coluna(t, cGateway).front(), "10.9.0.1");
    EXPECT_TRUE(atualizacao.SoPorUnicast("0.9"));
    EXPECT_FALSE(atualizacao.SoPorUnicast("0.1"));
    EXPECT_EQ(janela.memo1.size(), 5u);  // every reply of both collections
    EXPECT_EQ(client.esgotados, 2);      // one silence ends each collection
    EXPECT_EQ(janela.duplicados, 0);

    // A book address that cannot be sent to is a log line; the search and the reads go on.
    client.envios.clear();
    client.falhaNoEnvio = 2;  // the unicast to 10.9.0.4
    atualizacao.AtualizaListas(false);
    EXPECT_TRUE(janela.avisos.empty());
    EXPECT_EQ(client.envios.size(), 4u);
    EXPECT_NE(std::find(janela.memo1.begin(), janela.memo1.end(),
                        "10.9.0.4: Socket Error # 10065\r\nNo route to host"),
              janela.memo1.end());
    EXPECT_EQ(t.RecordCount(), 4);
    client.falhaNoEnvio = 0;

    // Two modules (two MACs) on one address: both rows marked, counted once each; a module
    // that answers twice with its one MAC is one row, read once, and no duplicate.
    modulos = {{"10.0.0.1", "A0.1/1001/ABCI/x/P/Vexa 1", "", "", ""},
               {"10.0.0.1", "A0.2/1001/ABCI/x/Q/Vexa 2", "", "", ""},
               {"10.0.0.4", "A0.4/1001/ABCI/x/S/Vexa 4", "", "", ""},
               {"10.0.0.4", "A0.4/1001/ABCI/x/S/Vexa 4", "", "", ""},
               {"10.0.0.3", "A0.3/1001/ABCI/x/R/Vexa 3", "", "", ""}};
    janela.agenda.clear();
    client.envios.clear();
    atualizacao.AtualizaListas(false);
    EXPECT_EQ(client.envios.size(), 1u);  // an empty book: the broadcast alone
    EXPECT_EQ(janela.duplicados, 2);
    std::vector<bool> marcadas;
    for (int i = 0; i < t.RecordCount(); ++i) marcadas.push_back(atualizacao.IpRepetido(i));
    EXPECT_EQ(marcadas, (std::vector<bool>{false, false, true, true}));
    EXPECT_EQ(atualizacao.EnderecosDeOutros("0.1"),
              (std::vector<std::string>{"10.0.0.3", "10.0.0.4", "10.0.0.1"}));
    const std::vector<std::string> lidos = HostsLidos();
    EXPECT_EQ(std::count(lidos.begin(), lidos.end(), "10.0.0.4 GNM"), 1);
    EXPECT_EQ(janela.memo1.size(), 5u);  // both of its replies are logged
    EXPECT_EQ(TextoDuplicados(2),
              " 2 m\xF3"
              "dulos com o mesmo IP");
    EXPECT_EQ(TextoDuplicados(0), "");
}

TEST_F(AtualizacaoTest, CortaNaLarguraDosCampos) {
    modulos = {{"10.0.0.1",
                "A0.36.119.87.8.24.99.99.99/1001/ABCX/x/Proprietario longo/da Vexa 12345",
                "255.255.255.0", "", ""}};
    atualizacao.AtualizaListas(false);
    auto& t = atualizacao.tbmColetores;
    ASSERT_EQ(t.RecordCount(), 1);
    EXPECT_EQ(t.AsString(cMACaddress), "0.36.119.87.8.24.99.");
    EXPECT_EQ(t.AsString(cDescricao), "Proprietario longo - da Vexa 1");
    EXPECT_EQ(t.AsString(cDHCP), "N\xE3o Obitid");
}

}  // namespace
}  // namespace modrevo
