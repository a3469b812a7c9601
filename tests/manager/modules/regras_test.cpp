// The three reply rules on a scripted endpoint: what ends each wait and what is skipped.
#include <gtest/gtest.h>

#include "EndpointFalso.h"
#include "manager/modules/RegrasResposta.h"

namespace modrevo {
namespace {

using teste::De;
using teste::EndpointFalso;

EndpointFalso Com(std::initializer_list<std::string> textos) {
    EndpointFalso e;
    for (const std::string& t : textos) e.fila.push_back(De("10.0.0.1", t));
    return e;
}

TEST(RegrasResposta, ColetaAteOSilencio) {
    EndpointFalso e = Com({"A1", "lixo", "A2"});
    std::vector<std::string> vistos;
    EXPECT_EQ(ColetaAteSilencio(e,
                                [&](const Datagrama& d) {
                                    vistos.push_back(d.texto);
                                    return true;
                                }),
              3);
    EXPECT_EQ(vistos, (std::vector<std::string>{"A1", "lixo", "A2"}));
    EXPECT_EQ(e.recepcoes, 4);
    EXPECT_EQ(e.esgotados, 1);

    // An empty datagram ends it as silence does; what follows stays queued for the next wait.
    EndpointFalso vazio = Com({"A1", "", "A2"});
    EXPECT_EQ(ColetaAteSilencio(vazio, [](const Datagrama&) { return true; }), 1);
    ASSERT_EQ(vazio.fila.size(), 1u);
    EXPECT_EQ(vazio.fila.front().texto, "A2");
}

TEST(RegrasResposta, EsperasDeLoginEValor) {
    int processados = 0;
    const ProcessaMensagens processa = [&] {
        ++processados;
        return true;
    };
    struct Caso {
        std::vector<std::string> respostas;
        std::optional<std::string> valor;
        int recepcoes, processados;
    };
    const Caso casosValor[] = {
        {{"C", "A255.255.255.0"}, "255.255.255.0", 2, 1},
        {{"D", "A1"}, std::nullopt, 1, 0},
        {{}, std::nullopt, 1, 0},
        {{"A"}, "", 1, 0},
        {{"a1", "DD", "x", "A2"}, "2", 4, 3},
    };
    for (const Caso& c : casosValor) {
        EndpointFalso e;
        for (const auto& t : c.respostas) e.fila.push_back(De("10.0.0.1", t));
        processados = 0;
        EXPECT_EQ(AguardaValor(e, processa), c.valor);
        EXPECT_EQ(e.recepcoes, c.recepcoes);
        EXPECT_EQ(processados, c.processados);
    }
    const Caso casosLogin[] = {
        {{"A0", "A"}, std::nullopt, 2, 1},
        {{"D"}, std::nullopt, 1, 0},
        {{"A255", "x", "D", "A"}, std::nullopt, 3, 2},
        {{}, std::nullopt, 1, 0},
    };
    for (const Caso& c : casosLogin) {
        EndpointFalso e;
        for (const auto& t : c.respostas) e.fila.push_back(De("10.0.0.1", t));
        processados = 0;
        AguardaLogin(e, processa);
        EXPECT_EQ(e.recepcoes, c.recepcoes);
        EXPECT_EQ(processados, c.processados);
    }
}

TEST(RegrasResposta, UmHospedeQueNaoParaNaoPrendeAJanela) {
    EndpointFalso e;
    e.aoReceber = [&](int) { e.fila.push_back(De("10.0.0.9", "ruido")); };
    EXPECT_EQ(ColetaAteSilencio(e, [](const Datagrama&) { return true; }), kMaxDatagramas);
    e.recepcoes = 0;
    EXPECT_EQ(AguardaValor(e, [] { return true; }), std::nullopt);
    EXPECT_EQ(e.recepcoes, kMaxDatagramas);
    e.recepcoes = 0;
    AguardaLogin(e, [] { return true; });
    EXPECT_EQ(e.recepcoes, kMaxDatagramas);
}

TEST(RegrasResposta, UmaOperacaoSuperadaParaDeEsperar) {
    EndpointFalso e = Com({"C", "C", "A1"});
    EXPECT_EQ(AguardaValor(e, [] { return false; }), std::nullopt);
    EXPECT_EQ(e.recepcoes, 1);
    EXPECT_EQ(ColetaAteSilencio(e, [](const Datagrama&) { return false; }), 1);
}

}  // namespace
}  // namespace modrevo
