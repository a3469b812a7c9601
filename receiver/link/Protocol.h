// The text format spoken with the turnstile terminals: framing, splitting, replies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/DateTime.h"

namespace lumora {

// Every outbound message but the wake ends with a carriage return.
constexpr char kCR = '\r';
// The wake a registered terminal gets when it connects; no fields, no CR.
inline const std::string kDespertar = "$";

// Message codes read from terminals.
enum CodigoEntrada : uint8_t {
    kLeituraComanda = 9,
    kResultadoGiro = 10,
    kPedidoLiberacao = 21,
};

// The message text with its CR.
std::string CompletaPacote(const std::string& texto);

// Fits a text to a 16-character display line: longer texts are cut, shorter ones centred
// with the odd blank behind. The text's own blanks count.
std::string Centraliza(const std::string& texto);

// A time value: whole seconds with at least two digits.
std::string FormataTempo(int64_t segundos);

// The fields of one inbound message (its CR already removed). Every "$" is dropped and a
// missing final ";" supplied; fields past the last one read as empty text.
class CamposPacote {
  public:
    explicit CamposPacote(const std::string& texto);
    // Field n, counted from 1.
    const std::string& Campo(size_t n) const;
    // The message code of field 2: a decimal integer (leading blanks and a sign allowed),
    // anything else 0, held as an unsigned byte.
    uint8_t Codigo() const;
    size_t Quantidade() const { return campos_.size(); }

  private:
    std::vector<std::string> campos_;
};

// Date and time of a card read from fields 6 to 11 (day, month, two-digit year, hour,
// minute, second); the receiver's current time when they do not form a valid date and time.
common::DateTime DataHoraLeitura(const CamposPacote& campos);

// Outbound messages, CR included. The display lines go through Centraliza, with every ";" and CR
// in them sent as a blank.
std::string MontaAcertoRelogio(const std::string& numEquipamento, common::DateTime agora);
std::string MontaLiberacao(const std::string& terminal, int64_t tempoGiro,
                           const std::string& linha1, const std::string& linha2);
std::string MontaRecusa(const std::string& terminal, int64_t tempoGiro, const std::string& linha1,
                        const std::string& linha2);
std::string MontaEntregaComanda(const std::string& terminal, int64_t tempoRele,
                                const std::string& linha1, const std::string& linha2);

}  // namespace lumora
