// The three ways the manager waits for the modules' replies on one endpoint.
#include "manager/modules/RegrasResposta.h"

namespace modrevo {

int ColetaAteSilencio(IEndpointUDP& endpoint, const std::function<bool(const Datagrama&)>& cadaUm) {
    int recebidos = 0;
    while (recebidos < kMaxDatagramas) {
        Datagrama d = endpoint.Receive();
        if (d.texto.empty()) break;
        ++recebidos;
        if (!cadaUm(d)) break;
    }
    return recebidos;
}

void AguardaLogin(IEndpointUDP& endpoint, const ProcessaMensagens& processa) {
    for (int i = 0; i < kMaxDatagramas; ++i) {
        const Datagrama d = endpoint.Receive();
        if (d.texto.empty() || d.texto == "A" || d.texto == "D") return;
        if (!processa()) return;
    }
}

std::optional<std::string> AguardaValor(IEndpointUDP& endpoint, const ProcessaMensagens& processa) {
    for (int i = 0; i < kMaxDatagramas; ++i) {
        const Datagrama d = endpoint.Receive();
        if (d.texto.empty() || d.texto == "D") return std::nullopt;
        if (d.texto[0] == 'A') return d.texto.substr(1);
        if (!processa()) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace modrevo
