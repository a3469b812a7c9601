// Modrevo without a window: the modules listed, and one module changed by its MAC, from the
// command line of an installer's shell or a script. No Qt, no display.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace modrevo {

// Exit statuses, as `Modrevo --help` tells them.
constexpr int kSaidaOk = 0;
constexpr int kSaidaFalha = 1;  // refused or failed: nothing, or not everything, was done
constexpr int kSaidaUso = 2;    // the command line or one of its values was not understood

struct OpcoesLinhaComando {
    enum class Acao { Lista, Altera };
    Acao acao = Acao::Lista;
    bool json = false;
    bool forca = false;     // no question to ask: --force answers Yes
    bool detalhes = false;  // --verbose: every datagram received, on standard error
    std::string mac;        // --set MAC
    // New values, already in the dotted form the dialog's fields give.
    std::optional<std::string> ip, mascara, gateway, destino;
    std::optional<bool> dhcp;
    std::optional<std::vector<std::string>> agenda;  // --book, replacing the stored one
    std::optional<std::string> tempo;                // --response-time
};

// True when the command line asks for the window-less mode (one of its options is there).
bool PedeLinhaComando(int argc, char** argv);

// Reads the options after the program's name. Nothing and `erro` set when they do not read.
std::optional<OpcoesLinhaComando> LeOpcoes(const std::vector<std::string>& argumentos,
                                           std::string& erro);

// A dotted quad as the dialog's address field shows it (no leading zeros); nothing for a text
// that is not four numbers from 0 to 255.
std::optional<std::string> EnderecoDeOpcao(const std::string& texto);

// Runs it: lists, or changes one module and lists it as the closing refresh found it. Texts go
// out in UTF-8. Returns the exit status.
int ExecutaLinhaComando(const OpcoesLinhaComando& opcoes, std::ostream& saida, std::ostream& erros);

// The options' part of `Modrevo --help`.
extern const char kAjudaLinhaComando[];

}  // namespace modrevo
