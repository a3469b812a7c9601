// The modules' reply texts: the discovery reply to "X" and the second family's reply.
#pragma once

#include <optional>
#include <string>

namespace modrevo {

// What a reply to "X" says of a first-family module. Texts are taken exactly as sent.
struct RespostaDescoberta {
    std::string mac;
    std::string porta;
    std::string flags;
    std::string dhcp;       // "Ativado", "Desativado" or "N\xE3o Obitido"
    std::string descricao;  // field 5 + " - " + the rest
};

// Nothing when the text is no discovery reply: blank, or not beginning with "A" or "a".
std::optional<RespostaDescoberta> InterpretaRespostaDescoberta(const std::string& texto);

// What a second-family module says of itself. `separador` is the character that follows
// "Found:" in the first reply form; none in the second form and in a bare "Found:".
struct RespostaSegundaFamilia {
    std::string nome;
    std::string mac;
    std::optional<unsigned char> separador;
};

RespostaSegundaFamilia InterpretaRespostaSegundaFamilia(const std::string& texto);

// The response time in milliseconds from the setting's text: a decimal integer, else 2000.
// A negative value also counts as 2000, so that no receive waits without end.
int TempoResposta(const std::string& texto);

// The DHCP texts of the first list.
inline const std::string kDhcpAtivado = "Ativado";
inline const std::string kDhcpDesativado = "Desativado";
inline const std::string kDhcpNaoObtido = "N\xE3o Obitido";

}  // namespace modrevo
