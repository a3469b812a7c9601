#include "receiver/link/BufferTerminal.h"

#include "receiver/link/Protocol.h"

namespace lumora {

void TBufferTerminal::Acrescenta(std::string_view recebido) {
    if (recebido.empty() || recebido == kDespertar) return;
    if (inicio_ > 0 && inicio_ >= dados_.size() / 2) {
        dados_.erase(0, inicio_);
        aposCR_ = aposCR_ > inicio_ ? aposCR_ - inicio_ : 0;
        inicio_ = 0;
    }
    const size_t antes = dados_.size();
    dados_.append(recebido);
    if (const size_t cr = recebido.rfind(kCR); cr != std::string_view::npos) {
        aposCR_ = antes + cr + 1;
    }
}

bool TBufferTerminal::Acrescenta(std::string_view recebido, size_t maxSemCR) {
    if (recebido == kDespertar) return true;
    size_t semCR = SemCR();
    for (size_t i = 0; i < recebido.size();) {
        const size_t cr = recebido.find(kCR, i);
        const size_t fim = cr == std::string_view::npos ? recebido.size() : cr;
        if (semCR + (fim - i) > maxSemCR) {
            Acrescenta(recebido.substr(0, i));
            return false;
        }
        if (cr == std::string_view::npos) break;
        semCR = 0;
        i = cr + 1;
    }
    Acrescenta(recebido);
    return true;
}

std::optional<std::string> TBufferTerminal::Proxima() {
    if (aposCR_ <= inicio_) return std::nullopt;
    const size_t fim = dados_.find(kCR, inicio_);
    std::string mensagem = dados_.substr(inicio_, fim - inicio_);
    inicio_ = fim + 1;
    if (inicio_ == dados_.size()) Limpa();
    return mensagem;
}

size_t TBufferTerminal::Completas() const { return aposCR_ > inicio_ ? aposCR_ - inicio_ : 0; }

size_t TBufferTerminal::SemCR() const {
    return dados_.size() - (aposCR_ > inicio_ ? aposCR_ : inicio_);
}

void TBufferTerminal::Limpa() {
    dados_.clear();
    inicio_ = 0;
    aposCR_ = 0;
}

}  // namespace lumora
