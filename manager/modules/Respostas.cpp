// The modules' reply texts: the discovery reply to "X" and the second family's reply.
#include "manager/modules/Respostas.h"

#include "common/Convert.h"
#include "common/Exception.h"

namespace modrevo {
namespace {

// Takes the text before the first "/" (all of it is no field when there is none: the field is
// empty and nothing is removed).
std::string TiraCampo(std::string& texto) {
    const auto barra = texto.find('/');
    if (barra == std::string::npos) return {};
    std::string campo = texto.substr(0, barra);
    texto.erase(0, barra + 1);
    return campo;
}

bool SoBrancos(const std::string& texto) {
    for (unsigned char c : texto)
        if (c > 32) return false;
    return true;
}

// The text before the next `c`, or empty when there is none.
std::string AteOProximo(const std::string& texto, std::size_t inicio, char c) {
    const auto pos = texto.find(c, inicio);
    if (pos == std::string::npos) return {};
    return texto.substr(inicio, pos - inicio);
}

}  // namespace

std::optional<RespostaDescoberta> InterpretaRespostaDescoberta(const std::string& texto) {
    if (SoBrancos(texto)) return std::nullopt;
    if (texto[0] != 'A' && texto[0] != 'a') return std::nullopt;
    std::string resto = texto.substr(1);
    RespostaDescoberta r;
    r.mac = TiraCampo(resto);
    r.porta = TiraCampo(resto);
    r.flags = TiraCampo(resto);
    TiraCampo(resto);  // field 4 means nothing to us
    const std::string campo5 = TiraCampo(resto);
    r.descricao = campo5 + " - " + resto;
    r.dhcp = kDhcpNaoObtido;
    if (r.flags.size() >= 4) {
        const char modo = r.flags[3];
        if (modo == 'I' || modo == 'i') r.dhcp = kDhcpAtivado;
        if (modo == 'M' || modo == 'm') r.dhcp = kDhcpDesativado;
    }
    return r;
}

RespostaSegundaFamilia InterpretaRespostaSegundaFamilia(const std::string& texto) {
    RespostaSegundaFamilia r;
    if (texto.compare(0, 6, "Found:") == 0 && texto.size() >= 6) {
        if (texto.size() == 6) return r;  // no separator: name and MAC stay empty
        const char s = texto[6];
        r.separador = static_cast<unsigned char>(s);
        // The first s anywhere, so a ":" separator matches the colon of "Found:" itself.
        const std::size_t depois = texto.find(s) + 1;
        r.nome = AteOProximo(texto, depois, s);
        const auto fimNome = texto.find(s, depois);
        if (fimNome != std::string::npos) r.mac = AteOProximo(texto, fimNome + 1, s);
        return r;
    }
    const auto cr = texto.find('\r');
    r.nome = cr == std::string::npos ? std::string() : texto.substr(0, cr);
    // After the CR its LF goes too; without a CR only the first character goes.
    const std::size_t inicio = cr == std::string::npos ? 1 : cr + 2;
    if (inicio < texto.size()) r.mac = AteOProximo(texto, inicio, '\r');
    return r;
}

int TempoResposta(const std::string& texto) {
    try {
        const int valor = common::StrToInt(texto);
        return valor < 0 ? 2000 : valor;
    } catch (const common::EConvertError&) {
        return 2000;
    }
}

}  // namespace modrevo
