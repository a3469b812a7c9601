// The monitoring endpoint: a read-only HTTP server on an address and port of its own, on a
// thread of its own, answering from TMonitor. Nothing it serves changes anything.
//
//   /health       200 "ok" while the receiver serves and saves, 503 and the reason otherwise
//   /metrics      the Prometheus text format
//   /             the status page (with /pagina.js, /pagina.css and its data, /estado.json)
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "receiver/control/Monitor.h"

namespace lumora {

struct OpcoesMonitor {
    std::string endereco = "127.0.0.1";
    uint16_t porta = 0;  // 0: any free port (tests)
    // Whether the status page shows the card numbers of the last rows.
    bool mostraComandas = false;
};

// "[ADDRESS:]PORT", an IPv4 address in dotted form (0.0.0.0: every address) and a port from 1
// to 65535; without an address, loopback only. None, with `erro` saying why, otherwise.
std::optional<OpcoesMonitor> LeEnderecoMonitor(const std::string& texto, std::string* erro);

class TServidorMonitor {
  public:
    // Bounds on what the peers of the endpoint may cost: connections at once, from one address,
    // the memory of one (a request's headers must fit), the seconds one may stay silent.
    static constexpr unsigned kMaxConexoes = 256;
    static constexpr unsigned kMaxConexoesPorEndereco = 32;
    static constexpr size_t kMemoriaPorConexao = 32 * 1024;
    static constexpr unsigned kSegundosOcioso = 10;

    explicit TServidorMonitor(const TMonitor& monitor);
    ~TServidorMonitor();
    TServidorMonitor(const TServidorMonitor&) = delete;
    TServidorMonitor& operator=(const TServidorMonitor&) = delete;

    // Binds the address and serves from then on. Raises common::Exception with the reason
    // (an address that is not this computer's, a port in use, ...).
    void Inicia(const OpcoesMonitor& opcoes);
    // Stops serving and waits for the endpoint's thread; nothing when it does not serve.
    void Para();
    bool Servindo() const;
    // The port bound (the one asked, or the one the system chose for 0).
    uint16_t Porta() const { return porta_; }

    struct Estado;

  private:
    const TMonitor& monitor_;
    std::unique_ptr<Estado> estado_;
    uint16_t porta_ = 0;
};

// The status page's files.
extern const char* const kPaginaHtml;
extern const char* const kPaginaJs;
extern const char* const kPaginaCss;

}  // namespace lumora
