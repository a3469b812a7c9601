// The main window's side of the monitoring endpoint: starting it with the settings or the
// command line, and publishing the gates, tonight's counts and last rows every second.
#include <cstdio>

#include "common/Unhandled.h"
#include "receiver/shell/uPrincipal.h"

namespace lumora {

void TFormPrincipal::IniciaMonitor() {
    if (configMonitor_.endereco.empty() || finalizado_) return;
    std::string erro;
    std::optional<OpcoesMonitor> opcoes = LeEnderecoMonitor(configMonitor_.endereco, &erro);
    try {
        if (!opcoes)
            throw common::Exception("monitoring endpoint " + kMonitorHttp + "=" +
                                    configMonitor_.endereco + ": " + erro);
        opcoes->mostraComandas = configMonitor_.mostraComandas;
        servidorMonitor_->Inicia(*opcoes);
    } catch (const std::exception& e) {
        // The terminals are served all the same; the venue's monitoring sees the endpoint
        // missing, and the journal says why.
        log_.Enviados(std::string("Erro: ") + e.what());
        common::WriteStderrLine(std::string("Lumora: ") + e.what());
        return;
    }
    const std::string onde =
        "http://" + opcoes->endereco + ":" + std::to_string(servidorMonitor_->Porta()) + "/";
    log_.Enviados("Info: Monitoramento em " + onde);
    common::WriteStderrLine("Lumora: monitoring endpoint on " + onde);
    PublicaMonitor(common::Now());
}

void TFormPrincipal::PublicaMonitor(common::DateTime agora) {
    if (!servidorMonitor_->Servindo()) return;
    QuadroMonitor q;
    q.escutando = servidor_->Escutando() && !finalizado_;
    q.conexoes = servidor_->QuantidadeConexoes();
    q.noite = arquivos_->Noite().Format("dd/mm/yyyy");
    for (const EstadoTerminal& t : estadoTerminais_.Terminais()) {
        TerminalMonitor m;
        m.numero = t.numero;
        m.ip = t.ip;
        m.conectado = t.conectado;
        m.desde = Momento(t.desde, agora);
        m.ultimaMensagem = Momento(t.ultimaMensagem, agora);
        if (!t.ultimaMensagem.IsZero())
            m.idadeUltimaMs = std::max<int64_t>(0, agora.Ms() - t.ultimaMensagem.Ms());
        m.liberados = t.liberados;
        m.bloqueados = t.bloqueados;
        q.terminais.push_back(std::move(m));
    }
    q.contagens = estadoTerminais_.ContagensEstados();
    const auto& h = tabelas_.cdsHistorico;
    if (h.Active()) {
        q.linhasHistorico = h.RecordCount();
        for (int i = h.RecordCount() - 1; i >= 0 && q.ultimas.size() < TMonitor::kUltimasLinhas;
             --i) {
            LinhaMonitor l;
            const auto dataHora = h.ValueAt(i, campo::kDataHora);
            if (const auto* d = std::get_if<common::DateTime>(&dataHora))
                l.dataHora = d->Format("dd/mm/yyyy hh:nn:ss");
            const auto terminal = h.ValueAt(i, campo::kTerminal);
            if (const auto* t = std::get_if<int32_t>(&terminal)) {
                char texto[8];
                std::snprintf(texto, sizeof texto, "%02d", static_cast<int>(*t));
                l.terminal = texto;
            }
            const auto estado = h.ValueAt(i, campo::kEstado);
            if (const auto* e = std::get_if<std::string>(&estado)) l.estado = *e;
            const auto comanda = h.ValueAt(i, campo::kCracha);
            if (const auto* c = std::get_if<std::string>(&comanda)) l.comanda = *c;
            q.ultimas.push_back(std::move(l));
        }
    }
    monitor_.Publica(std::move(q));
}

}  // namespace lumora
