#include "receiver/control/EstadoTerminais.h"

#include <algorithm>

#include "common/Convert.h"
#include "receiver/control/Tabelas.h"

namespace lumora {

void TEstadoTerminais::DefineEquipamentos(const common::MemTable& equipamentos) {
    terminais_.clear();
    if (!equipamentos.Active()) return;
    for (int i = 0; i < equipamentos.RecordCount(); ++i) {
        const common::Row& r = equipamentos.RowAt(i);
        EstadoTerminal t;
        if (const auto* v = std::get_if<std::string>(&r[campo::kNumEquipamento])) t.numero = *v;
        if (const auto* v = std::get_if<std::string>(&r[campo::kIP])) t.ip = *v;
        terminais_.push_back(std::move(t));
    }
    sujo_ = true;
}

void TEstadoTerminais::Comunicacao(bool escutando, common::DateTime agora) {
    if (escutando == escutando_) return;
    escutando_ = escutando;
    inicio_ = agora;
    // Nobody is away while nothing listens, and nobody is back either: a stop closes every
    // connection, and the next start counts the minute afresh.
    for (auto& [ip, e] : enderecos_) {
        if (e.conexoes > 0) e.desde = agora;
        e.conexoes = 0;
        e.avisado = false;
        e.voltou = false;
    }
    sujo_ = true;
}

void TEstadoTerminais::Conectou(const std::string& ip, common::DateTime agora) {
    PorEndereco& e = enderecos_[ip];
    if (e.conexoes++ == 0) {
        e.desde = agora;
        if (e.avisado) e.voltou = true;
        e.avisado = false;
    }
    sujo_ = true;
}

void TEstadoTerminais::Desconectou(const std::string& ip, common::DateTime agora) {
    const auto it = enderecos_.find(ip);
    if (it == enderecos_.end() || it->second.conexoes == 0) return;
    if (--it->second.conexoes == 0) it->second.desde = agora;
    sujo_ = true;
}

void TEstadoTerminais::Mensagem(const std::string& ip, common::DateTime agora) {
    // Every message of every terminal comes here: no more than the one address's time.
    enderecos_[ip].ultimaMensagem = agora;
    sujo_ = true;
}

void TEstadoTerminais::ContaHistorico(const common::MemTable& historico) {
    // A night's history only grows while nothing else changes it: count just the rows added
    // since the last count, so a busy night costs the same each second at 500,000 rows as at
    // 500. An edit, a deletion, emptying or loading starts the count afresh.
    const bool soAcrescimos = historico.Active() && &historico == contado_ &&
                              historico.Revision() == revisaoContada_ &&
                              historico.EntryCount() >= linhasContadas_;
    if (!soAcrescimos) {
        contagens_.clear();
        contagensEstados_.clear();
        linhasContadas_ = 0;
    }
    contado_ = &historico;
    revisaoContada_ = historico.Revision();
    if (!historico.Active()) {
        linhasContadas_ = 0;
        sujo_ = true;
        return;
    }
    const int linhas = historico.EntryCount();
    for (int i = linhasContadas_; i < linhas; ++i) {
        const common::FieldValue t = historico.EntryValue(i, campo::kTerminal);
        const common::FieldValue e = historico.EntryValue(i, campo::kEstado);
        const auto* terminal = std::get_if<int32_t>(&t);
        const auto* estado = std::get_if<std::string>(&e);
        if (estado) ++contagensEstados_[*estado];
        if (!terminal || !estado) continue;
        if (*estado == estado::kLiberado) ++contagens_[*terminal].first;
        if (*estado == estado::kBloqueado) ++contagens_[*terminal].second;
    }
    linhasContadas_ = linhas;
    sujo_ = true;
}

std::vector<AvisoTerminal> TEstadoTerminais::Verifica(common::DateTime agora) {
    std::vector<AvisoTerminal> avisos;
    for (const EstadoTerminal& t : terminais_) {
        PorEndereco& e = enderecos_[t.ip];
        // One report per address, under the first terminal registered with it.
        if (e.voltou) {
            e.voltou = false;
            avisos.push_back({t.numero, t.ip, true});
            continue;
        }
        if (!escutando_ || e.conexoes > 0 || e.avisado) continue;
        const common::DateTime ausente = std::max(e.desde, inicio_);
        if (agora.Ms() - ausente.Ms() >= kAusenciaMs) {
            e.avisado = true;
            avisos.push_back({t.numero, t.ip, false});
        }
    }
    return avisos;
}

const std::vector<EstadoTerminal>& TEstadoTerminais::Terminais() const {
    Atualiza();
    return terminais_;
}

int TEstadoTerminais::Conectados() const {
    Atualiza();
    return static_cast<int>(std::count_if(terminais_.begin(), terminais_.end(),
                                          [](const EstadoTerminal& t) { return t.conectado; }));
}

void TEstadoTerminais::Atualiza() const {
    if (!sujo_) return;
    sujo_ = false;
    for (EstadoTerminal& t : terminais_) {
        const auto it = enderecos_.find(t.ip);
        if (it != enderecos_.end()) {
            t.conectado = it->second.conexoes > 0;
            t.desde = it->second.desde;
            t.ultimaMensagem = it->second.ultimaMensagem;
        }
        const auto numero = common::TryStrToInt(t.numero);
        const auto c = numero ? contagens_.find(*numero) : contagens_.end();
        t.liberados = c != contagens_.end() ? c->second.first : 0;
        t.bloqueados = c != contagens_.end() ? c->second.second : 0;
    }
}

}  // namespace lumora
