// The address book: single addresses and ranges of modules that broadcasts cannot reach (behind
// a router), searched by unicast at every refresh, and kept in the settings file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace modrevo {

// One entry as the operator wrote it, with the addresses it stands for (host order, first to
// last inclusive).
struct EntradaAgenda {
    std::string texto;
    uint32_t primeiro = 0;
    uint32_t ultimo = 0;
    // A range: its addresses ending in .0 or .255 are the first or last of the /24 they lie
    // in, a network's own address or its broadcast, and are not searched.
    bool semBordas = false;
};

// The largest entry: a /22. Every address of the book costs a datagram at every refresh.
constexpr uint32_t kMaxEnderecosEntrada = 1024;
// The whole book, searched at one datagram per millisecond: about 4 s at most.
constexpr std::size_t kMaxEnderecosAgenda = 4096;

// "10.1.2.30", "10.1.2.0/24" (prefix 22 to 32; a network of /30 or wider loses its network
// and broadcast addresses) or "10.1.2.10-10.1.2.50" (which loses every .0 and .255 it holds).
// A single address is searched whatever it ends in. Blanks around the text and around the
// dash are allowed. Nothing on success; the reason for the operator otherwise.
std::optional<EntradaAgenda> LeEntradaAgenda(const std::string& texto, std::string& motivo);

// The addresses to search, each once, in book order, as dotted quads.
std::vector<std::string> EnderecosDaAgenda(const std::vector<EntradaAgenda>& agenda);

// True when the book searches this dotted-quad address.
bool AgendaProcura(const std::vector<EntradaAgenda>& agenda, const std::string& endereco);

// The reason `nova` cannot join `agenda` (the book would grow past kMaxEnderecosAgenda, or
// the same text is there already); "" when it can.
std::string MotivoRecusaNaAgenda(const std::vector<EntradaAgenda>& agenda,
                                 const EntradaAgenda& nova);

// The book from the settings file's own section; entries that do not read are skipped.
// Never creates anything; a missing or unreadable file is an empty book.
std::vector<EntradaAgenda> CarregaAgenda(const std::filesystem::path& arquivo);

// Writes the book into its section, every other line of the file unchanged. Raises
// common::EFileError "Unable to write to <path>" when it cannot.
void SalvaAgenda(const std::filesystem::path& arquivo, const std::vector<EntradaAgenda>& agenda);

}  // namespace modrevo
