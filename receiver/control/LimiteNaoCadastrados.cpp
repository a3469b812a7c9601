#include "receiver/control/LimiteNaoCadastrados.h"

namespace lumora {

std::string TextoContagemNaoCadastrados(uint64_t quantidade, const std::string& endereco) {
    return std::to_string(quantidade) + " mensagens de " + endereco +
           " com terminal n\xE3o cadastrado sem linha no hist\xF3rico";
}

void TLimiteNaoCadastrados::Esquece(Estado& e, int64_t agora) {
    // A clock set back (the end of summer time) would make the rows before it look like the
    // future and hold the address back for an hour: they are forgotten as well.
    while (!e.linhas.empty() &&
           (agora - e.linhas.front() >= kJanelaMs || e.linhas.front() > agora)) {
        e.linhas.pop_front();
    }
    while (!e.linhas.empty() && e.linhas.back() > agora) e.linhas.pop_back();
}

bool TLimiteNaoCadastrados::PermiteLinha(const std::string& endereco, common::DateTime agora) {
    const int64_t ms = agora.Ms();
    Estado& e = porEndereco_[endereco];
    Esquece(e, ms);
    if (e.linhas.size() < kLinhas) {
        e.linhas.push_back(ms);
        return true;
    }
    if (e.contadas++ == 0) e.desde = ms;
    return false;
}

std::vector<std::string> TLimiteNaoCadastrados::Relatos(common::DateTime agora, bool todas) {
    const int64_t ms = agora.Ms();
    std::vector<std::string> linhas;
    for (auto it = porEndereco_.begin(); it != porEndereco_.end();) {
        Estado& e = it->second;
        if (e.contadas > 0 && (todas || ms - e.desde >= kJanelaMs || e.desde > ms)) {
            linhas.push_back(TextoContagemNaoCadastrados(e.contadas, it->first));
            e.contadas = 0;
        }
        Esquece(e, ms);
        if (e.contadas == 0 && e.linhas.empty()) {
            it = porEndereco_.erase(it);
        } else {
            ++it;
        }
    }
    return linhas;
}

}  // namespace lumora
