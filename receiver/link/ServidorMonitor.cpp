#include "receiver/link/ServidorMonitor.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Convert.h"
#include "common/Exception.h"

namespace lumora {
namespace {

// Whatever the endpoint answers: nothing is cached, framed, sniffed or sent elsewhere.
void Cabecalhos(MHD_Response* r, const char* tipo) {
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, tipo);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(r, "X-Frame-Options", "DENY");
    MHD_add_response_header(r, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(r, "Content-Security-Policy",
                            "default-src 'none'; script-src 'self'; style-src 'self'; "
                            "connect-src 'self'; img-src 'self'; base-uri 'none'; "
                            "form-action 'none'; frame-ancestors 'none'");
}

MHD_Result Responde(MHD_Connection* conexao, unsigned status, const std::string& corpo,
                    const char* tipo, const char* permitido = nullptr) {
    MHD_Response* r = MHD_create_response_from_buffer(corpo.size(), const_cast<char*>(corpo.data()),
                                                      MHD_RESPMEM_MUST_COPY);
    if (!r) return MHD_NO;
    Cabecalhos(r, tipo);
    if (permitido) MHD_add_response_header(r, MHD_HTTP_HEADER_ALLOW, permitido);
    const MHD_Result feito = MHD_queue_response(conexao, status, r);
    MHD_destroy_response(r);
    return feito;
}

constexpr const char* kTexto = "text/plain; charset=utf-8";

}  // namespace

struct TServidorMonitor::Estado {
    const TMonitor* monitor = nullptr;
    OpcoesMonitor opcoes;
    MHD_Daemon* daemon = nullptr;
    int escuta = -1;  // until the library has it

    static MHD_Result Pedido(void* cls, MHD_Connection* conexao, const char* url,
                             const char* metodo, const char* /*versao*/, const char* /*dados*/,
                             size_t* tamanhoDados, void** /*porPedido*/) {
        auto* e = static_cast<Estado*>(cls);
        // The endpoint's thread gives way to the terminals' wherever the system lets it.
        thread_local bool cedeu = false;
        if (!cedeu) {
            cedeu = true;
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
        }
        const bool leitura = std::strcmp(metodo, MHD_HTTP_METHOD_GET) == 0 ||
                             std::strcmp(metodo, MHD_HTTP_METHOD_HEAD) == 0;
        if (!leitura) {
            // Read-only: nothing to post, put or delete; a body is not even read.
            *tamanhoDados = 0;
            return Responde(conexao, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET and HEAD\n", kTexto,
                            "GET, HEAD");
        }
        *tamanhoDados = 0;
        const std::string caminho = url;
        if (caminho == "/health") {
            const TMonitor::Saude s = e->monitor->Avalia();
            return Responde(conexao, s.ok ? MHD_HTTP_OK : MHD_HTTP_SERVICE_UNAVAILABLE,
                            s.motivo + "\n", kTexto);
        }
        if (caminho == "/metrics") {
            return Responde(conexao, MHD_HTTP_OK, e->monitor->Metricas(),
                            "text/plain; version=0.0.4; charset=utf-8");
        }
        if (caminho == "/estado.json") {
            return Responde(conexao, MHD_HTTP_OK, e->monitor->EstadoJson(e->opcoes.mostraComandas),
                            "application/json; charset=utf-8");
        }
        if (caminho == "/" || caminho == "/index.html")
            return Responde(conexao, MHD_HTTP_OK, kPaginaHtml, "text/html; charset=utf-8");
        if (caminho == "/pagina.js")
            return Responde(conexao, MHD_HTTP_OK, kPaginaJs, "text/javascript; charset=utf-8");
        if (caminho == "/pagina.css")
            return Responde(conexao, MHD_HTTP_OK, kPaginaCss, "text/css; charset=utf-8");
        return Responde(conexao, MHD_HTTP_NOT_FOUND, "not found\n", kTexto);
    }

    // The library's own complaints (a peer that broke off, ...) are the peers' business, not
    // the journal's.
    static void Registro(void*, const char*, va_list) {}
};

std::optional<OpcoesMonitor> LeEnderecoMonitor(const std::string& texto, std::string* erro) {
    const auto Falha = [&](const std::string& motivo) -> std::optional<OpcoesMonitor> {
        if (erro) *erro = motivo;
        return std::nullopt;
    };
    const std::string t = common::Trim(texto);
    OpcoesMonitor o;
    std::string porta = t;
    if (const size_t doisPontos = t.rfind(':'); doisPontos != std::string::npos) {
        o.endereco = t.substr(0, doisPontos);
        porta = t.substr(doisPontos + 1);
        in_addr a{};
        if (::inet_pton(AF_INET, o.endereco.c_str(), &a) != 1)
            return Falha("\"" + o.endereco + "\" is not an IPv4 address");
    }
    if (porta.empty() || porta.size() > 5 || porta.find_first_not_of("0123456789") != porta.npos)
        return Falha("\"" + t + "\" is not [ADDRESS:]PORT");
    const int numero = std::stoi(porta);
    if (numero < 1 || numero > 65535) return Falha("port " + porta + " is not 1 to 65535");
    o.porta = static_cast<uint16_t>(numero);
    return o;
}

TServidorMonitor::TServidorMonitor(const TMonitor& monitor)
    : monitor_(monitor), estado_(std::make_unique<Estado>()) {
    estado_->monitor = &monitor_;
}

TServidorMonitor::~TServidorMonitor() { Para(); }

bool TServidorMonitor::Servindo() const { return estado_->daemon != nullptr; }

void TServidorMonitor::Inicia(const OpcoesMonitor& opcoes) {
    Para();
    const std::string onde = opcoes.endereco + ":" + std::to_string(opcoes.porta);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(opcoes.porta);
    if (::inet_pton(AF_INET, opcoes.endereco.c_str(), &local.sin_addr) != 1)
        throw common::Exception("monitoring endpoint: \"" + opcoes.endereco +
                                "\" is not an IPv4 address");
    // Bound here rather than by the library, so that a failure says why.
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) throw common::Exception("monitoring endpoint: " + std::string(strerror(errno)));
    const int um = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &um, sizeof um);
    if (::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || ::listen(s, 64) != 0) {
        const int e = errno;
        ::close(s);
        throw common::Exception("monitoring endpoint " + onde + ": " + strerror(e));
    }
    socklen_t tamanho = sizeof local;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&local), &tamanho);
    estado_->opcoes = opcoes;
    estado_->escuta = s;
    estado_->daemon = MHD_start_daemon(
        MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ERROR_LOG, 0, nullptr, nullptr, &Estado::Pedido,
        estado_.get(), MHD_OPTION_LISTEN_SOCKET, s, MHD_OPTION_CONNECTION_LIMIT, kMaxConexoes,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxConexoesPorEndereco,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kMemoriaPorConexao, MHD_OPTION_CONNECTION_TIMEOUT,
        kSegundosOcioso, MHD_OPTION_EXTERNAL_LOGGER, &Estado::Registro, nullptr, MHD_OPTION_END);
    if (!estado_->daemon) {
        ::close(s);
        estado_->escuta = -1;
        throw common::Exception("monitoring endpoint " + onde + ": the HTTP server did not start");
    }
    // The library closes the socket when it stops.
    estado_->escuta = -1;
    porta_ = ntohs(local.sin_port);
}

void TServidorMonitor::Para() {
    if (estado_->daemon) {
        MHD_stop_daemon(estado_->daemon);
        estado_->daemon = nullptr;
    }
    if (estado_->escuta >= 0) {
        ::close(estado_->escuta);
        estado_->escuta = -1;
    }
}

}  // namespace lumora
