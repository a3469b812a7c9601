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
    Atualiza();
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
    Atualiza();
}

void TEstadoTerminais::Conectou(const std::string& ip, common::DateTime agora) {
    PorEndereco& e = enderecos_[ip];
    if (e.conexoes++ == 0) {
        e.desde = agora;
        if (e.avisado) e.voltou = true;
        e.avisado = false;
    }
    Atualiza();
}

void TEstadoTerminais::Desconectou(const std::string& ip, common::DateTime agora) {
    const auto it = enderecos_.find(ip);
    if (it == enderecos_.end() || it->second.conexoes == 0) return;
    if (--it->second.conexoes == 0) it->second.desde = agora;
    Atualiza();
}

void TEstadoTerminais::Mensagem(const std::string& ip, common::DateTime agora) {
    enderecos_[ip].ultimaMensagem = agora;
    Atualiza();
}

void TEstadoTerminais::ContaHistorico(const common::MemTable& historico) {
    contagens_.clear();
    if (historico.Active()) {
        for (int i = 0; i < historico.RecordCount(); ++i) {
            const common::FieldValue t = historico.ValueAt(i, campo::kTerminal);
            const common::FieldValue e = historico.ValueAt(i, campo::kEstado);
            const auto* terminal = std::get_if<int32_t>(&t);
            const auto* estado = std::get_if<std::string>(&e);
            if (!terminal || !estado) continue;
            if (*estado == estado::kLiberado) ++contagens_[*terminal].first;
            if (*estado == estado::kBloqueado) ++contagens_[*terminal].second;
        }
    }
    Atualiza();
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

int TEstadoTerminais::Conectados() const {
    return static_cast<int>(std::count_if(terminais_.begin(), terminais_.end(),
                                          [](const EstadoTerminal& t) { return t.conectado; }));
}

void TEstadoTerminais::Atualiza() {
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
