#include "receiver/link/Protocol.h"

#include <optional>

#include "common/Convert.h"

namespace lumora {
namespace {

constexpr size_t kLinhaVisor = 16;

std::string Junta(std::initializer_list<std::string> campos) {
    std::string texto;
    for (const auto& campo : campos) {
        texto += campo;
        texto += ';';
    }
    return CompletaPacote(texto);
}

// A display line inside a reply. A ";" or a CR in the operator's text would end the field or
// the message early and the terminal would show the wrong lines: each goes out as a blank.
std::string LinhaVisor(std::string texto) {
    for (char& c : texto) {
        if (c == ';' || c == kCR) c = ' ';
    }
    return Centraliza(texto);
}

}  // namespace

std::string CompletaPacote(const std::string& texto) { return texto + kCR; }

std::string Centraliza(const std::string& texto) {
    if (texto.size() > kLinhaVisor) return texto.substr(0, kLinhaVisor);
    const size_t antes = (kLinhaVisor - texto.size()) / 2;
    std::string linha(antes, ' ');
    linha += texto;
    linha.append(kLinhaVisor - linha.size(), ' ');
    return linha;
}

std::string FormataTempo(int64_t segundos) { return common::IntToStrMin(segundos, 2); }

CamposPacote::CamposPacote(const std::string& texto) {
    std::string limpo;
    limpo.reserve(texto.size() + 1);
    for (char c : texto) {
        if (c != '$') limpo += c;
    }
    if (limpo.empty() || limpo.back() != ';') limpo += ';';
    size_t inicio = 0;
    for (size_t fim; (fim = limpo.find(';', inicio)) != std::string::npos; inicio = fim + 1) {
        campos_.push_back(limpo.substr(inicio, fim - inicio));
    }
}

const std::string& CamposPacote::Campo(size_t n) const {
    static const std::string vazio;
    return n >= 1 && n <= campos_.size() ? campos_[n - 1] : vazio;
}

uint8_t CamposPacote::Codigo() const {
    const auto valor = common::TryStrToInt(Campo(2));
    return static_cast<uint8_t>(valor.value_or(0) & 0xFF);
}

common::DateTime DataHoraLeitura(const CamposPacote& c) {
    const auto data = common::ParseShortDate(c.Campo(6) + "/" + c.Campo(7) + "/" + c.Campo(8));
    const auto hora = common::ParseTime(c.Campo(9) + ":" + c.Campo(10) + ":" + c.Campo(11));
    if (!data || !hora) return common::Now();
    return common::DateTime::FromMs(data->Ms() + hora->Ms());
}

std::string MontaAcertoRelogio(const std::string& numEquipamento, common::DateTime agora) {
    return CompletaPacote(numEquipamento + ";01;" + agora.Format("dd;mm;yy;hh;nn;ss;") +
                          FormataTempo(agora.DayOfWeek()) + ";");
}

std::string MontaLiberacao(const std::string& terminal, int64_t tempoGiro,
                           const std::string& linha1, const std::string& linha2) {
    return Junta(
        {terminal, "02", "S", FormataTempo(tempoGiro), LinhaVisor(linha1), LinhaVisor(linha2)});
}

std::string MontaRecusa(const std::string& terminal, int64_t tempoGiro, const std::string& linha1,
                        const std::string& linha2) {
    return Junta({terminal, "03", FormataTempo(tempoGiro), LinhaVisor(linha1), LinhaVisor(linha2)});
}

std::string MontaEntregaComanda(const std::string& terminal, int64_t tempoRele,
                                const std::string& linha1, const std::string& linha2) {
    return Junta({terminal, "20", FormataTempo(tempoRele), LinhaVisor(linha1), LinhaVisor(linha2)});
}

}  // namespace lumora
