// The exit decision engine: what every terminal message gets as reply, history row or pending card.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "receiver/control/LimiteNaoCadastrados.h"
#include "receiver/control/Tabelas.h"

namespace lumora {

class CamposPacote;
class TMonitor;

enum class ModoOperacao { Nenhum, ListaBranca, ListaNegra };

// The exit settings as they stand when a message is handled. The defaults are the design values.
struct AjustesSaida {
    ModoOperacao modo = ModoOperacao::ListaBranca;
    int32_t tempoGiro = 5;
    int32_t tempoRele = 3;
    std::string msg1Lib = "Saida";
    std::string msg2Lib = "Liberada";
    std::string msg1Blo = "Saida";
    std::string msg2Blo = "Bloqueada";
    std::string msg1Aguardo = "Por Favor Libere";
    std::string msg2Aguardo = "a Comanda";
};

// Where the engine reads the live settings; the main window implements it.
class IFonteAjustes {
  public:
    virtual ~IFonteAjustes() = default;
    virtual AjustesSaida AjustesAtuais() const = 0;
};

// Fixed settings, for running without the window.
class AjustesFixos : public IFonteAjustes {
  public:
    AjustesSaida valores;
    AjustesSaida AjustesAtuais() const override { return valores; }
};

// The card let through on a connection and waiting for its turnstile result.
struct ComandaPendente {
    std::string comanda;        // at most 16 characters
    common::DateTime dataHora;  // zero when nothing is pending
    bool Presente() const { return !dataHora.IsZero(); }
    void Limpa() { *this = {}; }
};

// The connection a message came in on: its own pending card and its way back to the terminal.
class IConexaoTerminal {
  public:
    virtual ~IConexaoTerminal() = default;
    virtual ComandaPendente& Pendente() = 0;
    // Sends and logs a reply; a reply that cannot be sent is the connection's business.
    virtual void Envia(const std::string& texto) = 0;
    // The peer's address in dotted-quad form.
    virtual const std::string& Endereco() const = 0;
};

// The files behind the tables: reloading the card list before a card check and saving the
// history after every row added. Both raise on failure.
class IArquivosMotor {
  public:
    virtual ~IArquivosMotor() = default;
    virtual void RecarregaComandas() = 0;
    virtual void SalvaHistorico() = 0;
};

class TMotorSaida {
  public:
    TMotorSaida(TabelasReceptor& tabelas, const IFonteAjustes& ajustes, IArquivosMotor& arquivos);

    // Handles one message (without its CR) from a connection. Raises when the card list
    // cannot be reloaded (before any reply) and when a terminal number that must go into the
    // history is not a whole number (after the reply).
    void ProcessaPacote(const std::string& texto, IConexaoTerminal& conexao);

    void InsereHistorico(const std::string& cracha, const std::string& estado, uint8_t terminal,
                         common::DateTime dataHora);
    // The IP text of an equipment number, or "NC" when it is not registered.
    std::string RetornaIpEquipamento(const std::string& terminal) const;
    // The equipment number of the first row, in table order, with exactly this IP text; or "".
    std::string RetornaNumEquipamento(const std::string& ip) const;

    // The traffic-log lines about messages of unregistered terminal numbers that got no row
    // (TLimiteNaoCadastrados::Relatos, at the present time). The server asks every few seconds,
    // and with `todas` when communication stops.
    std::vector<std::string> RelatosNaoCadastrados(bool todas = false);

    // How long after its hand-in a card can still get its turnstile result: the turnstile is
    // released for the turn time after the relay's, and the result follows at once; a margin
    // for the gate's reconnection.
    std::chrono::milliseconds JanelaResultado() const {
        const AjustesSaida a = ajustes_.AjustesAtuais();
        return std::chrono::seconds(std::max(0, a.tempoGiro) + std::max(0, a.tempoRele) + 2);
    }

    // Where card reads, releases, refusals, turnstile results, unregistered messages and rows
    // are counted for the venue's monitoring; none: nowhere.
    void DefineMonitor(TMonitor* monitor) { monitor_ = monitor; }

  private:
    void LeituraComanda(const std::string& terminal, const CamposPacote& campos,
                        IConexaoTerminal& conexao);
    void ResultadoGiro(const std::string& terminal, const CamposPacote& campos,
                       IConexaoTerminal& conexao);
    static uint8_t NumeroTerminal(const std::string& terminal);
    // The text of field `resposta` in the first equipment row, in table order, whose text field
    // `chave` is `valor` ("" when that row's field is empty); none when no row has it.
    std::optional<std::string> CampoDoEquipamento(int chave, const std::string& valor,
                                                  int resposta) const;

    TabelasReceptor& tabelas_;
    const IFonteAjustes& ajustes_;
    IArquivosMotor& arquivos_;
    TLimiteNaoCadastrados limiteNaoCadastrados_;
    TMonitor* monitor_ = nullptr;
};

}  // namespace lumora
