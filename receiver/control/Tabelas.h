// The receiver's three tables: equipment, card list and the day's history, with their store rules.
#pragma once

#include <cstdint>
#include <string>

#include "common/Table.h"

namespace lumora {

// Outcome texts written to the history, as Windows-1252 bytes.
namespace estado {
inline const std::string kBloqueado = "Bloqueado";
inline const std::string kLiberado = "Liberado";
inline const std::string kNaoGirou = "N\xE3o Girou";
inline const std::string kEquipNaoCadastrado =
    "Equip. N\xE3o Cadastrado";  // 21 bytes; stored as 20
inline const std::string kSentidoLivre = "Sentido Livre";
}  // namespace estado

// Field positions.
namespace campo {
constexpr int kNumEquipamento = 0;
constexpr int kIP = 1;
constexpr int kNumComanda = 0;
constexpr int kDataHora = 0;
constexpr int kCracha = 1;
constexpr int kEstado = 2;
constexpr int kTerminal = 3;
}  // namespace campo

// Card numbers are stored with leading zeros to at least this many characters.
constexpr size_t kDigitosComanda = 16;

// Store rules, run by Post before a record is stored.
void cdsEquipamentosBeforePost(common::MemTable& tabela);
void cdsComandasBeforePost(common::MemTable& tabela);
void cdsHistoricoBeforePost(common::MemTable& tabela);

// The three tables with their fields, sort orders and store rules. Tables start closed.
struct TabelasReceptor {
    TabelasReceptor();
    TabelasReceptor(const TabelasReceptor&) = delete;
    TabelasReceptor& operator=(const TabelasReceptor&) = delete;

    common::MemTable cdsEquipamentos;  // ascending by NumEquipamento
    common::MemTable cdsComandas;      // ascending by NumComanda
    common::MemTable cdsHistorico;     // idx1: DataHora descending, newest first
};

}  // namespace lumora
