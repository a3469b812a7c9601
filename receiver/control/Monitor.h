// What the receiver tells the venue's monitoring: counters kept as terminals are served, a
// picture of the gates published every second, and the answers of the monitoring endpoint
// (health, metrics in the Prometheus text format, the status page's data) built from them.
//
// The serving thread writes, the endpoint's own thread reads; one mutex guards it all and is
// held only to copy or add a few numbers, so a scrape never waits on a terminal, nor a
// terminal on a scrape.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "receiver/control/Motor.h"

namespace lumora {

// One registered terminal as the status window shows it, its times already as text.
struct TerminalMonitor {
    std::string numero;
    std::string ip;
    bool conectado = false;
    std::string desde;           // "hh:nn:ss" or "dd/mm hh:nn"; "-" when never seen
    std::string ultimaMensagem;  // the same
    int64_t idadeUltimaMs = -1;  // since its last message when published; -1: none
    int liberados = 0;
    int bloqueados = 0;
};

// One history row of tonight, for the page (Windows-1252 texts as in the table).
struct LinhaMonitor {
    std::string dataHora;  // "dd/mm/yyyy hh:nn:ss"
    std::string terminal;
    std::string estado;
    std::string comanda;
};

// What the serving thread publishes every second.
struct QuadroMonitor {
    bool escutando = false;
    int conexoes = 0;
    std::string noite;  // "dd/mm/yyyy"
    std::vector<TerminalMonitor> terminais;
    std::map<std::string, int> contagens;  // tonight's rows per state
    int linhasHistorico = 0;
    std::vector<LinhaMonitor> ultimas;  // newest first
};

enum class ResultadoGiroMonitor { Girou, NaoGirou, SentidoLivre };

class TMonitor {
  public:
    using Relogio = std::chrono::steady_clock;
    // The serving thread publishes every second; this long without it means its loop is stuck.
    static constexpr std::chrono::milliseconds kLacoParado{5000};
    // Upper bounds of the reply-time histogram, in seconds.
    static constexpr std::array<double, 12> kFaixasResposta = {
        0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 1.0};
    // Rows of the page's list of the last ones.
    static constexpr size_t kUltimasLinhas = 20;

    TMonitor();

    // The serving thread, as things happen.
    void LeituraComanda(bool liberada);
    void LeituraSemModo();  // a card read in neither list mode: no reply, no row
    void PedidoLiberacao();
    void ResultadoGiro(ResultadoGiroMonitor resultado);
    void NaoCadastrado();
    void LinhaHistorico();
    // From a message taken for handling to its reply handed to the socket.
    void Resposta(Relogio::duration tempo);
    // A save of the history: `motivo` says why it failed (empty: it succeeded).
    void Salvamento(const std::string& motivo);
    // A reading of the card list's file (not the checks that found it unchanged).
    void RecargaComandas(Relogio::duration tempo, const std::string& motivo);
    void Publica(QuadroMonitor quadro, Relogio::time_point agora = Relogio::now());

    // The endpoint's thread.
    struct Saude {
        bool ok = false;
        std::string motivo;  // why not, one line of English for the checks' logs
    };
    Saude Avalia(Relogio::time_point agora = Relogio::now()) const;
    std::string Metricas(Relogio::time_point agora = Relogio::now()) const;
    // The status page's data: the gates, tonight's counts and last rows; card numbers only
    // with `comComandas`. UTF-8.
    std::string EstadoJson(bool comComandas, Relogio::time_point agora = Relogio::now()) const;

  private:
    mutable std::mutex mutex_;
    bool publicado_ = false;
    Relogio::time_point publicadoEm_{};
    QuadroMonitor quadro_;
    uint64_t leituras_ = 0, liberadas_ = 0, recusadas_ = 0, semModo_ = 0, pedidos_ = 0;
    uint64_t girou_ = 0, naoGirou_ = 0, sentidoLivre_ = 0, naoCadastrados_ = 0;
    uint64_t linhas_ = 0, salvamentos_ = 0, falhasSalvamento_ = 0;
    std::string falhaSalvamento_;
    uint64_t recargas_ = 0, falhasRecarga_ = 0;
    double segundosRecarga_ = 0;
    std::string falhaRecarga_;
    std::array<uint64_t, kFaixasResposta.size()> faixas_{};
    uint64_t respostas_ = 0;
    double segundosRespostas_ = 0;
    double inicioProcesso_ = 0;  // seconds since 1970
};

// The engine's files with their card-list readings and history saves told to the monitor.
// `leituras` says how often the card list's bytes have been read: a reload that found the file
// unchanged read nothing and is no reading.
class TArquivosMonitorados : public IArquivosMotor {
  public:
    TArquivosMonitorados(IArquivosMotor& arquivos, TMonitor& monitor,
                         std::function<long()> leituras)
        : arquivos_(arquivos), monitor_(monitor), leituras_(std::move(leituras)) {}
    void RecarregaComandas() override;
    void SalvaHistorico() override;

  private:
    IArquivosMotor& arquivos_;
    TMonitor& monitor_;
    std::function<long()> leituras_;
};

// A Prometheus label value with its backslashes, quotes and line ends escaped.
std::string ValorRotulo(const std::string& texto);

}  // namespace lumora
