// The manager's settings file: the response time, kept between runs.
#include "manager/modules/Preferencias.h"

#include <cstdlib>

#include "common/Exception.h"
#include "common/Profile.h"

namespace modrevo {
namespace {

const std::string kSecao = "TfrmTempo";

std::string Apara(const std::string& texto) {
    std::size_t inicio = 0, fim = texto.size();
    while (inicio < fim && static_cast<unsigned char>(texto[inicio]) <= 32) ++inicio;
    while (fim > inicio && static_cast<unsigned char>(texto[fim - 1]) <= 32) --fim;
    return texto.substr(inicio, fim - inicio);
}

}  // namespace

std::filesystem::path CaminhoPreferencias() {
    std::filesystem::path pasta;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && std::filesystem::path(xdg).is_absolute()) {
        pasta = xdg;
    } else {
        const char* home = std::getenv("HOME");
        pasta = std::filesystem::path(home ? home : "/") / ".config";
    }
    return pasta / "Modrevo.INI";
}

std::string CarregaTempoResposta(const std::filesystem::path& arquivo, const std::string& atual) {
    try {
        const common::ProfileFile perfil(arquivo);
        if (perfil.ReadInteger(kSecao, "FormVersion", 0) < 0) return atual;
        const auto valor = perfil.Find(kSecao, "EditTempo_Text");
        return valor ? Apara(*valor) : atual;
    } catch (const common::EFileError&) {
        return atual;  // a file we cannot read counts as no file
    }
}

void SalvaTempoResposta(const std::filesystem::path& arquivo, const std::string& texto) {
    std::string valor = Apara(texto);
    // Reading strips one pair of enclosing quotes; a value that has its own keeps them.
    if (!valor.empty() && (valor.front() == '"' || valor.front() == '\'') &&
        valor.back() == valor.front())
        valor = "\"" + valor + "\"";
    try {
        std::error_code ignorado;
        std::filesystem::create_directories(arquivo.parent_path(), ignorado);
        // A file that exists but cannot be read is not replaced: its other lines would be lost.
        common::ProfileFile destino(arquivo);
        destino.WriteString(kSecao, "FormVersion", "0");
        destino.WriteString(kSecao, "EditTempo_Text", valor);
        destino.Save();
    } catch (const common::EFileError&) {
        throw common::EFileError("Unable to write to " + arquivo.string());
    }
}

}  // namespace modrevo
