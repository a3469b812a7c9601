// How many history rows the messages of unregistered terminal numbers get, per sending address.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "common/DateTime.h"

namespace lumora {

// Anybody on the network can name a terminal number that is not registered, as fast as it
// likes; a row for each would let one peer fill the disk. Each address gets at most kLinhas
// rows in any kJanelaMs; the messages past that are only counted, and the count is told once
// per kJanelaMs at most. The reply is not this class's business: every message still gets it.
class TLimiteNaoCadastrados {
  public:
    static constexpr size_t kLinhas = 10;
    static constexpr int64_t kJanelaMs = 60'000;

    // Whether a message from this address at this time gets its row; when not, it is counted.
    bool PermiteLinha(const std::string& endereco, common::DateTime agora);

    // The lines for the traffic log about the messages counted: one per address whose count has
    // waited a whole window since its last line (or every count, when `todas`), each count then
    // starting again from zero. Addresses with nothing left to remember are forgotten.
    std::vector<std::string> Relatos(common::DateTime agora, bool todas = false);

    // Addresses remembered now (for tests: a flood of many addresses must not stay forever).
    size_t Enderecos() const { return porEndereco_.size(); }

  private:
    struct Estado {
        std::deque<int64_t> linhas;  // times of the rows within the last window, oldest first
        uint64_t contadas = 0;       // messages without a row since the last line
        int64_t desde = 0;           // when the counted period began (the last line, or the first)
    };
    static void Esquece(Estado& e, int64_t agora);

    std::map<std::string, Estado> porEndereco_;
};

// "N mensagens de <endereco> com terminal não cadastrado ...", in Windows-1252.
std::string TextoContagemNaoCadastrados(uint64_t quantidade, const std::string& endereco);

}  // namespace lumora
