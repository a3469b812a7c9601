// Reading and writing Config.ini through the profile module, with the receiver's key names.
#include "receiver/shell/ConfigIni.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>
#include <optional>

#include "common/Convert.h"
#include "common/Exception.h"
#include "common/Profile.h"
#include "common/qt/Text1252Qt.h"
#include "receiver/control/ArquivosReceptor.h"

namespace lumora {
namespace {

using common::qt::FromQString;
using common::qt::ToQString;

struct ChaveTexto {
    const char* chave;
    const char* padrao;
    QLineEdit* ControlesConfig::*campo;
};

constexpr ChaveTexto kTextos[] = {
    {"Mensagem_Liberada_Linha1", "Saida", &ControlesConfig::edMsg1Lib},
    {"Mensagem_Liberada_Linha2", "Liberada", &ControlesConfig::edMsg2Lib},
    {"Mensagem_Bloqueada_Linha1", "Saida", &ControlesConfig::edMsg1Blo},
    {"Mensagem_Bloqueada_Linha2", "Bloqueada", &ControlesConfig::edMsg2Blo},
    {"Mensagem_Aguardo_Linha1", "Por Favor Libere", &ControlesConfig::edMsg1Aguardo},
    {"Mensagem_Aguardo_Linha2", "a Comanda", &ControlesConfig::edMsg2Aguardo},
    {"Tempo_De_Giro", "5", &ControlesConfig::edTempoGiro},
    {"Tempo_De_Rele", "3", &ControlesConfig::edTempoRele},
};

const char* const kAutoInit = "Inicio_Automatico";
const char* const kMinimizeInit = "Inicio_Minimizado";
const char* const kListaBranca = "Lista_Branca";
const char* const kListaNegra = "Lista_Negra";

std::string Flag(bool ligado) { return ligado ? "1" : "0"; }

// Reading takes the blanks off both ends of a value and then one pair of enclosing quotes. A
// text that would lose something so goes into a pair of quotes of its own, which reading takes
// off again; every other text is written as typed.
std::string Gravado(const std::string& texto) {
    if (texto.empty()) return texto;
    const auto branco = [](char c) { return c == ' ' || c == '\t'; };
    const bool entreAspas = texto.size() >= 2 && (texto.front() == '"' || texto.front() == '\'') &&
                            texto.back() == texto.front();
    if (branco(texto.front()) || branco(texto.back()) || entreAspas) return '"' + texto + '"';
    return texto;
}

}  // namespace

void DefineOpcao(QRadioButton* opcao, bool escolhida) {
    if (escolhida) {
        opcao->setChecked(true);
        return;
    }
    // An exclusive option cannot be cleared by itself; lift the exclusivity for a moment.
    const bool exclusiva = opcao->autoExclusive();
    opcao->setAutoExclusive(false);
    opcao->setChecked(false);
    opcao->setAutoExclusive(exclusiva);
}

int LeHoraCorte(const std::filesystem::path& arquivo, std::string* erro) {
    std::error_code falta;
    if (!std::filesystem::exists(arquivo, falta)) return kHoraCorteHistorico;
    std::string texto;
    try {
        texto = common::ProfileFile(arquivo).ReadString(kSecaoConfig, kHoraCorte, "");
    } catch (const common::EFileError&) {
        return kHoraCorteHistorico;
    }
    if (texto.empty()) return kHoraCorteHistorico;
    int hora = -1;
    if (texto.size() <= 2 &&
        std::all_of(texto.begin(), texto.end(), [](char c) { return c >= '0' && c <= '9'; }))
        hora = std::stoi(texto);
    if (hora < 0 || hora > 23) {
        if (erro)
            *erro = kHoraCorte + "=" + texto + " is not an hour from 0 to 23; " +
                    std::to_string(kHoraCorteHistorico) + " is used";
        return kHoraCorteHistorico;
    }
    return hora;
}

ConfigMonitor LeConfigMonitor(const std::filesystem::path& arquivo) {
    ConfigMonitor c;
    std::error_code falta;
    if (!std::filesystem::exists(arquivo, falta)) return c;
    try {
        common::ProfileFile ini(arquivo);
        c.endereco = common::Trim(ini.ReadString(kSecaoConfig, kMonitorHttp, ""));
        c.mostraComandas = common::Trim(ini.ReadString(kSecaoConfig, kMonitorComandas, "")) == "1";
    } catch (const common::EFileError&) {
    }
    return c;
}

std::filesystem::path LePastaParceira(const std::filesystem::path& pastaPrograma) {
    const std::filesystem::path arquivo = pastaPrograma / "Config.ini";
    std::error_code falta;
    if (!std::filesystem::exists(arquivo, falta)) return {};
    std::string texto;
    try {
        texto =
            common::Trim(common::ProfileFile(arquivo).ReadString(kSecaoConfig, kPastaParceira, ""));
    } catch (const common::EFileError&) {
        return {};
    }
    if (texto.empty()) return {};
    const std::filesystem::path pasta = texto;
    return pasta.is_absolute() ? pasta : pastaPrograma / pasta;
}

bool LeConfigIni(const std::filesystem::path& arquivo, const ControlesConfig& c) {
    std::error_code erro;
    if (!std::filesystem::exists(arquivo, erro)) return false;
    std::optional<common::ProfileFile> ini;
    try {
        ini.emplace(arquivo);
    } catch (const common::EFileError&) {
        ini.emplace(std::filesystem::path());  // unreadable: every key takes its default
    }
    const std::string& s = kSecaoConfig;
    for (const auto& t : kTextos) {
        (c.*(t.campo))->setText(ToQString(ini->ReadString(s, t.chave, t.padrao)));
    }
    c.ckAutoInit->setChecked(ini->ReadInteger(s, kAutoInit, 0) != 0);
    c.ckMinimizeInit->setChecked(ini->ReadInteger(s, kMinimizeInit, 0) != 0);
    DefineOpcao(c.rbListaBranca, ini->ReadInteger(s, kListaBranca, 0) != 0);
    DefineOpcao(c.rbListaNegra, ini->ReadInteger(s, kListaNegra, 1) != 0);
    c.edEnderecoEscuta->setText(ToQString(ini->ReadString(s, kEnderecoEscuta, "")));
    return true;
}

void GravaConfigIni(const std::filesystem::path& arquivo, const ControlesConfig& c) {
    common::ProfileFile ini(arquivo);
    const std::string& s = kSecaoConfig;
    for (const auto& t : kTextos) {
        ini.WriteString(s, t.chave, Gravado(FromQString((c.*(t.campo))->text())));
    }
    ini.WriteString(s, kAutoInit, Flag(c.ckAutoInit->isChecked()));
    ini.WriteString(s, kMinimizeInit, Flag(c.ckMinimizeInit->isChecked()));
    ini.WriteString(s, kListaBranca, Flag(c.rbListaBranca->isChecked()));
    ini.WriteString(s, kListaNegra, Flag(c.rbListaNegra->isChecked()));
    if (!c.edEnderecoEscuta->isReadOnly()) {
        const std::string endereco = FromQString(c.edEnderecoEscuta->text());
        if (!endereco.empty() || ini.Find(s, kEnderecoEscuta)) {
            ini.WriteString(s, kEnderecoEscuta, Gravado(endereco));
        }
    }
    ini.Save();
}

}  // namespace lumora
