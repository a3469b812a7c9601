// The monitoring endpoint: what the monitor answers from its counters and picture, and the
// HTTP server in front of it on loopback, hostile peers included.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "common/Exception.h"
#include "receiver/link/ServidorMonitor.h"
#include "tests/support/ClienteHttp.h"

namespace {

using namespace std::chrono_literals;
using lumora::QuadroMonitor;
using lumora::TMonitor;

QuadroMonitor DoisTerminais() {
    QuadroMonitor q;
    q.escutando = true;
    q.conexoes = 3;
    q.noite = "10/12/2026";
    q.terminais.push_back({"01", "10.0.0.11", true, "21:00:01", "23:59:58", 1500, 7, 2});
    // An address as typed into the equipment table, quote and all.
    q.terminais.push_back({"02", "10.0.0.\"12", false, "22:10:00", "-", -1, 0, 0});
    q.contagens = {{"Liberado", 7}, {"N\xE3o Girou", 1}};
    q.linhasHistorico = 8;
    q.ultimas.push_back({"10/12/2026 23:59:58", "01", "Liberado", "0000000000001234"});
    q.ultimas.push_back({"10/12/2026 23:59:50", "02", "<b>x</b>", "0000000000009999"});
    return q;
}

// The samples of an exposition, name with labels -> value; and every family's type.
struct Exposicao {
    std::map<std::string, std::string> amostras;
    std::map<std::string, std::string> tipos;
};

Exposicao Le(const std::string& texto) {
    Exposicao e;
    std::istringstream linhas(texto);
    std::string linha;
    while (std::getline(linhas, linha)) {
        if (linha.rfind("# TYPE ", 0) == 0) {
            const auto nome = linha.substr(7, linha.find(' ', 7) - 7);
            e.tipos[nome] = linha.substr(linha.rfind(' ') + 1);
        } else if (!linha.empty() && linha[0] != '#') {
            const auto espaco = linha.rfind(' ');
            e.amostras[linha.substr(0, espaco)] = linha.substr(espaco + 1);
        }
    }
    return e;
}

}  // namespace

TEST(Monitor, CountsWhatTheGatesDidAndDescribesEveryFamily) {
    TMonitor m;
    for (int i = 0; i < 5; ++i) m.LeituraComanda(true);
    m.LeituraComanda(false);
    m.LeituraSemModo();
    m.PedidoLiberacao();
    m.ResultadoGiro(lumora::ResultadoGiroMonitor::Girou);
    m.ResultadoGiro(lumora::ResultadoGiroMonitor::NaoGirou);
    m.ResultadoGiro(lumora::ResultadoGiroMonitor::SentidoLivre);
    m.ResultadoGiro(lumora::ResultadoGiroMonitor::SentidoLivre);
    m.NaoCadastrado();
    m.Resposta(50us);   // in the 0.0001 bucket
    m.Resposta(700us);  // 0.001
    m.Resposta(3s);     // beyond every bound: +Inf only
    m.Salvamento({});
    m.Salvamento("disco cheio");
    m.RecargaComandas(2ms, {});
    const auto agora = TMonitor::Relogio::now();
    m.Publica(DoisTerminais(), agora);

    const Exposicao e = Le(m.Metricas(agora + 500ms));
    EXPECT_EQ(e.amostras.at("lumora_card_reads_total"), "7");
    EXPECT_EQ(e.amostras.at("lumora_card_releases_total"), "5");
    EXPECT_EQ(e.amostras.at("lumora_card_refusals_total"), "1");
    EXPECT_EQ(e.amostras.at("lumora_release_requests_total"), "1");
    EXPECT_EQ(e.amostras.at("lumora_turnstile_results_total{result=\"free_passage\"}"), "2");
    EXPECT_EQ(e.amostras.at("lumora_turnstile_results_total{result=\"not_turned\"}"), "1");
    EXPECT_EQ(e.amostras.at("lumora_unregistered_messages_total"), "1");
    EXPECT_EQ(e.amostras.at("lumora_terminals_registered"), "2");
    EXPECT_EQ(e.amostras.at("lumora_terminals_connected"), "1");
    EXPECT_EQ(e.amostras.at("lumora_open_connections"), "3");
    EXPECT_EQ(e.amostras.at("lumora_history_save_failures_total"), "1");
    EXPECT_EQ(e.amostras.at("lumora_history_save_ok"), "0");
    EXPECT_EQ(e.amostras.at("lumora_card_list_reload_duration_seconds_count"), "1");
    EXPECT_EQ(e.amostras.at("lumora_terminal_up{terminal=\"01\",address=\"10.0.0.11\"}"), "1");
    // Label values escaped; a terminal never heard from has no age rather than a made-up one.
    EXPECT_EQ(e.amostras.at("lumora_terminal_up{terminal=\"02\",address=\"10.0.0.\\\"12\"}"), "0");
    EXPECT_EQ(
        e.amostras.count(
            "lumora_terminal_last_message_age_seconds{terminal=\"02\",address=\"10.0.0.\\\"12\"}"),
        0u);
    // The age goes on growing between publications.
    EXPECT_NEAR(
        std::stod(e.amostras.at(
            "lumora_terminal_last_message_age_seconds{terminal=\"01\",address=\"10.0.0.11\"}")),
        2.0, 0.01);
    // The histogram's buckets are cumulative and end with every observation.
    EXPECT_EQ(e.amostras.at("lumora_reply_duration_seconds_bucket{le=\"0.0001\"}"), "1");
    EXPECT_EQ(e.amostras.at("lumora_reply_duration_seconds_bucket{le=\"0.001\"}"), "2");
    EXPECT_EQ(e.amostras.at("lumora_reply_duration_seconds_bucket{le=\"1\"}"), "2");
    EXPECT_EQ(e.amostras.at("lumora_reply_duration_seconds_bucket{le=\"+Inf\"}"), "3");
    EXPECT_EQ(e.amostras.at("lumora_reply_duration_seconds_count"), "3");
    // Every sample belongs to a family described before it, counters named as counters.
    for (const auto& [amostra, valor] : e.amostras) {
        std::string familia = amostra.substr(0, amostra.find('{'));
        for (const char* sufixo : {"_bucket", "_sum", "_count"}) {
            const std::string s = sufixo;
            if (!e.tipos.count(familia) && familia.size() > s.size() &&
                familia.compare(familia.size() - s.size(), s.size(), s) == 0)
                familia.resize(familia.size() - s.size());
        }
        ASSERT_TRUE(e.tipos.count(familia)) << amostra;
        if (e.tipos.at(familia) == "counter") {
            EXPECT_EQ(familia.substr(familia.size() - 6), "_total") << familia;
        }
        EXPECT_NO_THROW((void)std::stod(valor)) << amostra << " " << valor;
    }
    EXPECT_GT(std::stod(e.amostras.at("process_resident_memory_bytes")), 1e5);
}

TEST(Monitor, HealthSaysWhatIsWrongUntilItIsMended) {
    TMonitor m;
    const auto t0 = TMonitor::Relogio::now();
    EXPECT_FALSE(m.Avalia(t0).ok);  // before the first picture
    QuadroMonitor q = DoisTerminais();
    q.escutando = false;
    m.Publica(q, t0);
    EXPECT_EQ(m.Avalia(t0).motivo, "communication stopped");
    m.Publica(DoisTerminais(), t0);
    EXPECT_TRUE(m.Avalia(t0).ok);
    // The serving thread stopped publishing: its loop is stuck, whatever it published last.
    EXPECT_EQ(m.Avalia(t0 + TMonitor::kLacoParado + 1s).motivo, "event loop stuck for 6 s");
    m.Salvamento("N\xE3o h\xE1 espa\xE7o");
    EXPECT_EQ(m.Avalia(t0).motivo, "history not saved: N\xC3\xA3o h\xC3\xA1 espa\xC3\xA7o");
    m.Salvamento({});
    EXPECT_TRUE(m.Avalia(t0).ok);
    m.RecargaComandas(1ms, "Comandas.xml: damaged");
    EXPECT_EQ(m.Avalia(t0).motivo, "card list not readable: Comandas.xml: damaged");
    m.RecargaComandas(1ms, {});
    EXPECT_TRUE(m.Avalia(t0).ok);
}

TEST(Monitor, ThePagesDataHidesCardNumbersUnlessAskedAndNeverCarriesMarkup) {
    TMonitor m;
    const auto agora = TMonitor::Relogio::now();
    m.Publica(DoisTerminais(), agora);
    const std::string sem = m.EstadoJson(false, agora);
    EXPECT_EQ(sem.find("0000000000001234"), std::string::npos) << sem;
    EXPECT_NE(sem.find("\"comandas\":false"), std::string::npos) << sem;
    const std::string com = m.EstadoJson(true, agora);
    EXPECT_NE(com.find("\"comanda\":\"0000000000001234\""), std::string::npos) << com;
    // The terminal's texts in UTF-8, markup and quotes as escapes.
    EXPECT_NE(com.find("\"N\xC3\xA3o Girou\":1"), std::string::npos) << com;
    EXPECT_NE(com.find("\\u003cb\\u003ex\\u003c/b\\u003e"), std::string::npos) << com;
    EXPECT_NE(com.find("10.0.0.\\\"12"), std::string::npos) << com;
    EXPECT_EQ(com.find('<'), std::string::npos) << com;
}

TEST(Monitor, AddressesOfTheEndpoint) {
    struct Caso {
        const char* texto;
        const char* endereco;  // nullptr: refused
        uint16_t porta;
    };
    for (const Caso& c :
         {Caso{"9180", "127.0.0.1", 9180}, Caso{" 10.1.2.3:80 ", "10.1.2.3", 80},
          Caso{"0.0.0.0:65535", "0.0.0.0", 65535}, Caso{"", nullptr, 0}, Caso{"0", nullptr, 0},
          Caso{"65536", nullptr, 0}, Caso{"host:80", nullptr, 0}, Caso{"10.1.2.3:", nullptr, 0},
          Caso{"10.1.2.3:8x", nullptr, 0}, Caso{"123456", nullptr, 0}}) {
        std::string erro;
        const auto o = lumora::LeEnderecoMonitor(c.texto, &erro);
        if (!c.endereco) {
            EXPECT_FALSE(o) << c.texto;
            EXPECT_FALSE(erro.empty()) << c.texto;
            continue;
        }
        ASSERT_TRUE(o) << c.texto << ": " << erro;
        EXPECT_EQ(o->endereco, c.endereco);
        EXPECT_EQ(o->porta, c.porta);
    }
}

class ServidorMonitorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        monitor.Publica(DoisTerminais());
        servidor.Inicia({"127.0.0.1", 0, false});
        porta = servidor.Porta();
    }
    TMonitor monitor;
    lumora::TServidorMonitor servidor{monitor};
    uint16_t porta = 0;
};

TEST_F(ServidorMonitorTest, ServesReadOnlyAnswersWithTheirTypes) {
    using lumora::teste::GetHttp;
    using lumora::teste::PedidoHttp;
    struct Caso {
        std::string pedido;
        int status;
        const char* tipo;
        const char* contem;
    };
    const std::vector<Caso> casos = {
        {"GET /health HTTP/1.0\r\n\r\n", 200, "text/plain", "ok"},
        {"GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 200,
         "text/plain; version=0.0.4", "lumora_card_reads_total 0"},
        {"GET / HTTP/1.0\r\n\r\n", 200, "text/html", "Status dos Terminais"},
        {"GET /pagina.js HTTP/1.0\r\n\r\n", 200, "text/javascript", "estado.json"},
        {"GET /estado.json HTTP/1.0\r\n\r\n", 200, "application/json", "\"terminais\""},
        {"GET /nada HTTP/1.0\r\n\r\n", 404, "text/plain", ""},
        {"POST /health HTTP/1.0\r\nContent-Length: 4\r\n\r\nabcd", 405, "text/plain", ""},
        {"DELETE / HTTP/1.0\r\n\r\n", 405, "text/plain", ""},
    };
    for (const Caso& c : casos) {
        const auto r = PedidoHttp("127.0.0.1", porta, c.pedido);
        EXPECT_EQ(r.status, c.status) << c.pedido;
        EXPECT_NE(r.cabecalhos.find(std::string("Content-Type: ") + c.tipo), std::string::npos)
            << c.pedido << r.cabecalhos;
        EXPECT_NE(r.corpo.find(c.contem), std::string::npos) << c.pedido << r.corpo;
        EXPECT_NE(r.cabecalhos.find("Content-Security-Policy: default-src 'none'"),
                  std::string::npos)
            << r.cabecalhos;
    }
    // Card numbers only where the settings allow them.
    EXPECT_EQ(GetHttp("127.0.0.1", porta, "/estado.json").corpo.find("1234"), std::string::npos);
    // Health follows the monitor.
    monitor.Salvamento("sem espa\xE7o");
    const auto doente = GetHttp("127.0.0.1", porta, "/health");
    EXPECT_EQ(doente.status, 503);
    EXPECT_EQ(doente.corpo, "history not saved: sem espa\xC3\xA7o\n");
}

TEST_F(ServidorMonitorTest, HostilePeersAreBoundedAndTheOthersStillServed) {
    using lumora::teste::ConectaTcp;
    using lumora::teste::GetHttp;
    // Headers far beyond what a connection may hold: refused, not buffered.
    const auto enorme = lumora::teste::PedidoHttp(
        "127.0.0.1", porta,
        "GET /health HTTP/1.0\r\nX-A: " + std::string(200 * 1024, 'a') + "\r\n\r\n");
    EXPECT_TRUE(enorme.status == 0 || enorme.status == 413 || enorme.status == 431)
        << enorme.status;
    // Silent connections from one address past its share: the extra ones are closed at once,
    // and the endpoint answers others meanwhile.
    std::vector<int> mudas;
    for (unsigned i = 0; i < lumora::TServidorMonitor::kMaxConexoesPorEndereco + 8; ++i) {
        const int s = ConectaTcp("127.0.0.1", porta);
        ASSERT_GE(s, 0);
        ::send(s, "GET /", 5, MSG_NOSIGNAL);  // a request that never ends
        mudas.push_back(s);
    }
    std::this_thread::sleep_for(300ms);
    int fechadas = 0;
    for (const int s : mudas) {
        char c;
        const ssize_t n = ::recv(s, &c, 1, MSG_DONTWAIT);
        fechadas += n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }
    EXPECT_GE(fechadas, 8);
    const auto t0 = std::chrono::steady_clock::now();
    // The address's share is full until its silent peers go.
    const auto r = GetHttp("127.0.0.1", porta, "/health");
    EXPECT_EQ(r.status, 0) << "the address's share should be full";
    for (const int s : mudas) ::close(s);
    std::this_thread::sleep_for(200ms);
    const auto depois = GetHttp("127.0.0.1", porta, "/health");
    EXPECT_EQ(depois.status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
}

TEST(ServidorMonitor, APortInUseIsSaidPlainly) {
    TMonitor m;
    lumora::TServidorMonitor primeiro(m), segundo(m);
    primeiro.Inicia({"127.0.0.1", 0, false});
    try {
        segundo.Inicia({"127.0.0.1", primeiro.Porta(), false});
        FAIL() << "a second endpoint bound the same port";
    } catch (const common::Exception& e) {
        EXPECT_NE(std::string(e.what()).find("Address already in use"), std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(segundo.Servindo());
    EXPECT_THROW(segundo.Inicia({"192.0.2.1", 0, false}), common::Exception);  // not ours
    primeiro.Para();
    EXPECT_EQ(lumora::teste::GetHttp("127.0.0.1", primeiro.Porta(), "/health").status, 0);
}
