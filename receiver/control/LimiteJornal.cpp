#include "receiver/control/LimiteJornal.h"

namespace lumora {

std::vector<std::string> TLimiteJornal::Linha(const std::string& linha, common::DateTime agora) {
    std::vector<std::string> saida;
    if (!aberta_ || agora.Ms() - inicio_ >= kJanelaMs || agora.Ms() < inicio_) {
        if (std::string resto = Resto(); !resto.empty()) saida.push_back(std::move(resto));
        aberta_ = true;
        inicio_ = agora.Ms();
        escritas_ = 0;
    }
    if (escritas_ >= kLinhas) {
        ++omitidas_;
        return saida;
    }
    ++escritas_;
    saida.push_back(linha);
    return saida;
}

std::string TLimiteJornal::Resto() {
    if (omitidas_ == 0) return {};
    const std::string texto =
        std::to_string(omitidas_) + (omitidas_ == 1 ? " further line" : " further lines") +
        " of the traffic log left out here (at most " + std::to_string(kLinhas) + " a minute)";
    omitidas_ = 0;
    return texto;
}

}  // namespace lumora
