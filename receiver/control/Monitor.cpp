#include "receiver/control/Monitor.h"

#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "common/Text1252.h"

namespace lumora {
namespace {

std::string Numero(double valor) {
    if (std::isnan(valor)) return "NaN";
    char texto[64];
    std::snprintf(texto, sizeof texto, "%.17g", valor);
    return texto;
}

std::string Numero(uint64_t valor) { return std::to_string(valor); }

// One metric family: its help and type lines, then its samples as given.
struct Familia {
    std::string& saida;
    Familia(std::string& s, const char* nome, const char* tipo, const char* ajuda) : saida(s) {
        saida += "# HELP ";
        saida += nome;
        saida += ' ';
        saida += ajuda;
        saida += "\n# TYPE ";
        saida += nome;
        saida += ' ';
        saida += tipo;
        saida += '\n';
    }
    void Amostra(const std::string& nome, const std::string& rotulos, const std::string& valor) {
        saida += nome;
        if (!rotulos.empty()) saida += "{" + rotulos + "}";
        saida += ' ';
        saida += valor;
        saida += '\n';
    }
};

void Simples(std::string& s, const char* nome, const char* tipo, const char* ajuda,
             const std::string& valor) {
    Familia(s, nome, tipo, ajuda).Amostra(nome, "", valor);
}

// What the system says of this process: resident and virtual memory, CPU time, descriptors.
struct Processo {
    double residente = NAN, virtual_ = NAN, cpu = NAN, descritores = NAN;
};

Processo LeProcesso() {
    Processo p;
    std::ifstream statm("/proc/self/statm");
    uint64_t paginasVirtual = 0, paginasResidente = 0;
    if (statm >> paginasVirtual >> paginasResidente) {
        const double pagina = static_cast<double>(::sysconf(_SC_PAGESIZE));
        p.virtual_ = static_cast<double>(paginasVirtual) * pagina;
        p.residente = static_cast<double>(paginasResidente) * pagina;
    }
    timespec cpu{};
    if (::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu) == 0)
        p.cpu = static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        int n = 0;
        while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
        ::closedir(d);
        p.descritores = n - 1;  // less the one this reading holds
    }
    return p;
}

std::string Utf8(const std::string& cp1252) { return common::Cp1252ToUtf8(cp1252); }

std::string RotulosTerminal(const TerminalMonitor& t) {
    return "terminal=\"" + ValorRotulo(Utf8(t.numero)) + "\",address=\"" + ValorRotulo(Utf8(t.ip)) +
           "\"";
}

}  // namespace

std::string ValorRotulo(const std::string& texto) {
    std::string s;
    for (const char c : texto) {
        if (c == '\\' || c == '"') {
            s += '\\';
            s += c;
        } else if (c == '\n') {
            s += "\\n";
        } else {
            s += c;
        }
    }
    return s;
}

void TArquivosMonitorados::RecarregaComandas() {
    const auto inicio = TMonitor::Relogio::now();
    const long antes = leituras_();
    try {
        arquivos_.RecarregaComandas();
    } catch (const std::exception& e) {
        monitor_.RecargaComandas(TMonitor::Relogio::now() - inicio, e.what());
        throw;
    }
    if (leituras_() != antes) monitor_.RecargaComandas(TMonitor::Relogio::now() - inicio, {});
}

void TArquivosMonitorados::SalvaHistorico() {
    try {
        arquivos_.SalvaHistorico();
    } catch (const std::exception& e) {
        monitor_.Salvamento(*e.what() ? e.what() : "failed");
        throw;
    }
    monitor_.Salvamento({});
}

TMonitor::TMonitor() {
    inicioProcesso_ =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void TMonitor::LeituraComanda(bool liberada) {
    const std::lock_guard trava(mutex_);
    ++leituras_;
    ++(liberada ? liberadas_ : recusadas_);
}

void TMonitor::LeituraSemModo() {
    const std::lock_guard trava(mutex_);
    ++leituras_;
    ++semModo_;
}

void TMonitor::PedidoLiberacao() {
    const std::lock_guard trava(mutex_);
    ++pedidos_;
}

void TMonitor::ResultadoGiro(ResultadoGiroMonitor resultado) {
    const std::lock_guard trava(mutex_);
    switch (resultado) {
        case ResultadoGiroMonitor::Girou:
            ++girou_;
            break;
        case ResultadoGiroMonitor::NaoGirou:
            ++naoGirou_;
            break;
        case ResultadoGiroMonitor::SentidoLivre:
            ++sentidoLivre_;
            break;
    }
}

void TMonitor::NaoCadastrado() {
    const std::lock_guard trava(mutex_);
    ++naoCadastrados_;
}

void TMonitor::LinhaHistorico() {
    const std::lock_guard trava(mutex_);
    ++linhas_;
}

void TMonitor::Resposta(Relogio::duration tempo) {
    const double segundos = std::chrono::duration<double>(tempo).count();
    const std::lock_guard trava(mutex_);
    ++respostas_;
    segundosRespostas_ += segundos;
    for (size_t i = 0; i < kFaixasResposta.size(); ++i) {
        if (segundos <= kFaixasResposta[i]) {
            ++faixas_[i];
            break;
        }
    }
}

void TMonitor::Salvamento(const std::string& motivo) {
    const std::lock_guard trava(mutex_);
    ++salvamentos_;
    if (!motivo.empty()) ++falhasSalvamento_;
    falhaSalvamento_ = motivo;
}

void TMonitor::RecargaComandas(Relogio::duration tempo, const std::string& motivo) {
    const std::lock_guard trava(mutex_);
    ++recargas_;
    segundosRecarga_ += std::chrono::duration<double>(tempo).count();
    if (!motivo.empty()) ++falhasRecarga_;
    falhaRecarga_ = motivo;
}

void TMonitor::Publica(QuadroMonitor quadro, Relogio::time_point agora) {
    const std::lock_guard trava(mutex_);
    quadro_ = std::move(quadro);
    publicado_ = true;
    publicadoEm_ = agora;
}

TMonitor::Saude TMonitor::Avalia(Relogio::time_point agora) const {
    const std::lock_guard trava(mutex_);
    if (!publicado_) return {false, "starting up"};
    const auto parado = agora - publicadoEm_;
    if (parado > kLacoParado) {
        return {false, "event loop stuck for " +
                           std::to_string(
                               std::chrono::duration_cast<std::chrono::seconds>(parado).count()) +
                           " s"};
    }
    if (!quadro_.escutando) return {false, "communication stopped"};
    if (!falhaSalvamento_.empty()) return {false, "history not saved: " + Utf8(falhaSalvamento_)};
    if (!falhaRecarga_.empty()) return {false, "card list not readable: " + Utf8(falhaRecarga_)};
    return {true, "ok"};
}

std::string TMonitor::Metricas(Relogio::time_point agora) const {
    const Processo processo = LeProcesso();
    const std::lock_guard trava(mutex_);
    std::string s;
    s.reserve(4096 + quadro_.terminais.size() * 200);
    Simples(s, "lumora_communication_running", "gauge",
            "Whether the terminal port is open (1) or communication is stopped (0).",
            publicado_ && quadro_.escutando ? "1" : "0");
    Simples(s, "lumora_terminals_registered", "gauge", "Terminals in the equipment table.",
            std::to_string(quadro_.terminais.size()));
    int conectados = 0;
    for (const auto& t : quadro_.terminais) conectados += t.conectado;
    Simples(s, "lumora_terminals_connected", "gauge", "Registered terminals with a connection now.",
            std::to_string(conectados));
    Simples(s, "lumora_open_connections", "gauge",
            "TCP connections on the terminal port, registered addresses or not.",
            std::to_string(quadro_.conexoes));
    {
        Familia f(s, "lumora_terminal_up", "gauge",
                  "Whether a registered terminal is connected (1) or not (0).");
        for (const auto& t : quadro_.terminais) {
            f.Amostra("lumora_terminal_up", RotulosTerminal(t), t.conectado ? "1" : "0");
        }
    }
    {
        Familia f(s, "lumora_terminal_last_message_age_seconds", "gauge",
                  "Seconds since a registered terminal's last message (absent before the first).");
        const double desdePublicado = std::chrono::duration<double>(agora - publicadoEm_).count();
        for (const auto& t : quadro_.terminais) {
            if (t.idadeUltimaMs < 0) continue;
            f.Amostra("lumora_terminal_last_message_age_seconds", RotulosTerminal(t),
                      Numero(static_cast<double>(t.idadeUltimaMs) / 1000 +
                             std::max(0.0, desdePublicado)));
        }
    }
    Simples(s, "lumora_card_reads_total", "counter", "Card reads from registered terminals.",
            Numero(leituras_));
    Simples(s, "lumora_card_releases_total", "counter",
            "Card reads answered with the card to be handed in (let through).", Numero(liberadas_));
    Simples(s, "lumora_card_refusals_total", "counter", "Card reads refused (exit blocked).",
            Numero(recusadas_));
    Simples(s, "lumora_release_requests_total", "counter",
            "Release requests from registered terminals, each answered with a release.",
            Numero(pedidos_));
    {
        Familia f(s, "lumora_turnstile_results_total", "counter",
                  "Turnstile results: the card turned, did not turn, or a free passage.");
        f.Amostra("lumora_turnstile_results_total", "result=\"turned\"", Numero(girou_));
        f.Amostra("lumora_turnstile_results_total", "result=\"not_turned\"", Numero(naoGirou_));
        f.Amostra("lumora_turnstile_results_total", "result=\"free_passage\"",
                  Numero(sentidoLivre_));
    }
    Simples(s, "lumora_unregistered_messages_total", "counter",
            "Messages naming a terminal number the equipment table lacks.",
            Numero(naoCadastrados_));
    {
        Familia f(s, "lumora_reply_duration_seconds", "histogram",
                  "From a message taken for handling to its reply handed to the connection.");
        uint64_t acumulado = 0;
        for (size_t i = 0; i < kFaixasResposta.size(); ++i) {
            acumulado += faixas_[i];
            f.Amostra("lumora_reply_duration_seconds_bucket",
                      "le=\"" + Numero(kFaixasResposta[i]) + "\"", Numero(acumulado));
        }
        f.Amostra("lumora_reply_duration_seconds_bucket", "le=\"+Inf\"", Numero(respostas_));
        f.Amostra("lumora_reply_duration_seconds_sum", "", Numero(segundosRespostas_));
        f.Amostra("lumora_reply_duration_seconds_count", "", Numero(respostas_));
    }
    Simples(s, "lumora_history_rows", "gauge", "Rows in the history of the night being served.",
            std::to_string(quadro_.linhasHistorico));
    Simples(s, "lumora_history_rows_added_total", "counter",
            "History rows added by terminal traffic since the start.", Numero(linhas_));
    Simples(s, "lumora_history_saves_total", "counter", "Saves of the history to its file.",
            Numero(salvamentos_));
    Simples(s, "lumora_history_save_failures_total", "counter", "Saves of the history that failed.",
            Numero(falhasSalvamento_));
    Simples(s, "lumora_history_save_ok", "gauge",
            "Whether the last save of the history succeeded (1) or failed (0).",
            falhaSalvamento_.empty() ? "1" : "0");
    {
        Familia f(s, "lumora_card_list_reload_duration_seconds", "summary",
                  "Readings of the card list's file (checks that found it unchanged excluded).");
        f.Amostra("lumora_card_list_reload_duration_seconds_sum", "", Numero(segundosRecarga_));
        f.Amostra("lumora_card_list_reload_duration_seconds_count", "", Numero(recargas_));
    }
    Simples(s, "lumora_card_list_reload_failures_total", "counter",
            "Readings of the card list's file that failed.", Numero(falhasRecarga_));
    Simples(s, "process_resident_memory_bytes", "gauge", "Resident memory size in bytes.",
            Numero(processo.residente));
    Simples(s, "process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.",
            Numero(processo.virtual_));
    Simples(s, "process_cpu_seconds_total", "counter", "User and system CPU time in seconds.",
            Numero(processo.cpu));
    Simples(s, "process_open_fds", "gauge", "Open file descriptors.", Numero(processo.descritores));
    Simples(s, "process_start_time_seconds", "gauge",
            "Start time of the process since the epoch in seconds.", Numero(inicioProcesso_));
    return s;
}

std::string TMonitor::EstadoJson(bool comComandas, Relogio::time_point agora) const {
    const Saude saude = Avalia(agora);
    const std::lock_guard trava(mutex_);
    std::string s = "{\"ok\":";
    s += saude.ok ? "true" : "false";
    s += ",\"motivo\":" + common::JsonString(saude.motivo);
    s += ",\"escutando\":";
    s += quadro_.escutando ? "true" : "false";
    s += ",\"noite\":" + common::JsonString(quadro_.noite);
    s += ",\"conexoes\":" + std::to_string(quadro_.conexoes);
    s += ",\"linhas\":" + std::to_string(quadro_.linhasHistorico);
    s += ",\"terminais\":[";
    for (size_t i = 0; i < quadro_.terminais.size(); ++i) {
        const auto& t = quadro_.terminais[i];
        if (i) s += ',';
        s += "{\"numero\":" + common::JsonString(Utf8(t.numero)) +
             ",\"ip\":" + common::JsonString(Utf8(t.ip)) +
             ",\"conectado\":" + (t.conectado ? "true" : "false") +
             ",\"desde\":" + common::JsonString(Utf8(t.desde)) +
             ",\"ultima\":" + common::JsonString(Utf8(t.ultimaMensagem)) +
             ",\"liberados\":" + std::to_string(t.liberados) +
             ",\"bloqueados\":" + std::to_string(t.bloqueados) + "}";
    }
    s += "],\"contagens\":{";
    bool primeira = true;
    for (const auto& [estado, n] : quadro_.contagens) {
        if (!primeira) s += ',';
        primeira = false;
        s += common::JsonString(Utf8(estado)) + ":" + std::to_string(n);
    }
    s += "},\"comandas\":";
    s += comComandas ? "true" : "false";
    s += ",\"ultimas\":[";
    for (size_t i = 0; i < quadro_.ultimas.size(); ++i) {
        const auto& l = quadro_.ultimas[i];
        if (i) s += ',';
        s += "{\"dataHora\":" + common::JsonString(Utf8(l.dataHora)) +
             ",\"terminal\":" + common::JsonString(Utf8(l.terminal)) +
             ",\"estado\":" + common::JsonString(Utf8(l.estado));
        if (comComandas) s += ",\"comanda\":" + common::JsonString(Utf8(l.comanda));
        s += '}';
    }
    return s + "]}";
}

}  // namespace lumora
