// Which registered terminals are online: connections, last messages, the day's counts, and
// the one report of a terminal that has been away too long and of its return.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "common/Table.h"

namespace lumora {

struct EstadoTerminal {
    std::string numero;  // "01"
    std::string ip;
    bool conectado = false;
    common::DateTime desde;           // connected since, or away since; zero: not yet seen
    common::DateTime ultimaMensagem;  // zero: none since the program started
    int liberados = 0;
    int bloqueados = 0;
};

// What the operator is to be told once.
struct AvisoTerminal {
    std::string numero;
    std::string ip;
    bool voltou = false;  // false: away for the limit; true: back after that
};

class TEstadoTerminais {
  public:
    // A gate's module reconnects within seconds after a glitch; a minute without it means
    // the gate is off or cut off.
    static constexpr int64_t kAusenciaMs = 60'000;

    // The registered terminals, in the equipment table's order; what is known of an address
    // stays with it.
    void DefineEquipamentos(const common::MemTable& equipamentos);
    // Communication started or stopped. Only while it runs is anyone away.
    void Comunicacao(bool escutando, common::DateTime agora);
    void Conectou(const std::string& ip, common::DateTime agora);
    void Desconectou(const std::string& ip, common::DateTime agora);
    void Mensagem(const std::string& ip, common::DateTime agora);
    // The counts of "Liberado" and "Bloqueado" rows of each terminal in the day's history,
    // and of every state's rows.
    void ContaHistorico(const common::MemTable& historico);
    const std::map<std::string, int>& ContagensEstados() const { return contagensEstados_; }

    // The reports due now: each terminal away for kAusenciaMs once, and once again when it is
    // back.
    std::vector<AvisoTerminal> Verifica(common::DateTime agora);

    // As of this call: read it again after a change.
    const std::vector<EstadoTerminal>& Terminais() const;
    int Conectados() const;

  private:
    struct PorEndereco {
        int conexoes = 0;
        common::DateTime desde;
        common::DateTime ultimaMensagem;
        bool avisado = false;  // reported away, not back yet
        bool voltou = false;   // back after the report, not reported yet
    };
    // Brings the per-terminal view up to date with what changed since it was last read.
    void Atualiza() const;

    bool escutando_ = false;
    common::DateTime inicio_;
    std::map<std::string, PorEndereco> enderecos_;
    std::map<int32_t, std::pair<int, int>> contagens_;
    std::map<std::string, int> contagensEstados_;
    mutable std::vector<EstadoTerminal> terminais_;
    mutable bool sujo_ = false;
    const common::MemTable* contado_ = nullptr;
    uint64_t revisaoContada_ = 0;
    int linhasContadas_ = 0;
};

}  // namespace lumora
