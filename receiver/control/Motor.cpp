#include "receiver/control/Motor.h"

#include "common/Convert.h"
#include "receiver/control/Monitor.h"
#include "receiver/link/Protocol.h"

namespace lumora {
namespace {

const std::string kNaoCadastrado = "NC";
constexpr size_t kMaxComandaPendente = 16;

}  // namespace

TMotorSaida::TMotorSaida(TabelasReceptor& tabelas, const IFonteAjustes& ajustes,
                         IArquivosMotor& arquivos)
    : tabelas_(tabelas), ajustes_(ajustes), arquivos_(arquivos) {}

uint8_t TMotorSaida::NumeroTerminal(const std::string& terminal) {
    // The history holds the terminal as a byte; only a decimal number is accepted.
    return static_cast<uint8_t>(common::StrToInt(terminal));
}

void TMotorSaida::InsereHistorico(const std::string& cracha, const std::string& estado,
                                  uint8_t terminal, common::DateTime dataHora) {
    auto& h = tabelas_.cdsHistorico;
    h.Insert();
    try {
        h.SetDateTime(campo::kDataHora, dataHora);
        h.SetString(campo::kCracha, cracha);
        h.SetString(campo::kEstado, estado);
        h.SetInteger(campo::kTerminal, terminal);
        h.Post();
        if (monitor_) monitor_->LinhaHistorico();
    } catch (...) {
        h.Cancel();
        throw;
    }
}

std::string TMotorSaida::RetornaIpEquipamento(const std::string& terminal) const {
    // As sent, cut to the column's width.
    const size_t largura = tabelas_.cdsEquipamentos.Fields()[campo::kNumEquipamento].width;
    return CampoDoEquipamento(campo::kNumEquipamento, terminal.substr(0, largura), campo::kIP)
        .value_or(kNaoCadastrado);
}

std::string TMotorSaida::RetornaNumEquipamento(const std::string& ip) const {
    return CampoDoEquipamento(campo::kIP, ip, campo::kNumEquipamento).value_or(std::string());
}

std::optional<std::string> TMotorSaida::CampoDoEquipamento(int chave, const std::string& valor,
                                                           int resposta) const {
    // Read the stored rows rather than moving the table's cursor: the operator may be editing
    // a row of this table in the window while terminals talk.
    const auto& e = tabelas_.cdsEquipamentos;
    for (int i = 0; i < e.RecordCount(); ++i) {
        const auto achado = e.ValueAt(i, chave);
        const auto* texto = std::get_if<std::string>(&achado);
        if (texto && *texto == valor) {
            const auto pedido = e.ValueAt(i, resposta);
            const auto* guardado = std::get_if<std::string>(&pedido);
            return guardado ? *guardado : std::string();
        }
    }
    return std::nullopt;
}

std::vector<std::string> TMotorSaida::RelatosNaoCadastrados(bool todas) {
    return limiteNaoCadastrados_.Relatos(common::Now(), todas);
}

void TMotorSaida::ProcessaPacote(const std::string& texto, IConexaoTerminal& conexao) {
    const CamposPacote campos(texto);
    const std::string& terminal = campos.Campo(1);
    const uint8_t codigo = campos.Codigo();
    if (codigo != kLeituraComanda && codigo != kResultadoGiro && codigo != kPedidoLiberacao) {
        return;
    }

    if (RetornaIpEquipamento(terminal) == kNaoCadastrado) {
        const AjustesSaida a = ajustes_.AjustesAtuais();
        if (monitor_) monitor_->NaoCadastrado();
        conexao.Envia(MontaRecusa(terminal, a.tempoGiro, "Equipamento", "Nao Cadastrado"));
        // A number that is no number fails as always, whether or not its row is due: the
        // failure is reported, never a row.
        const uint8_t numero = NumeroTerminal(terminal);
        const common::DateTime agora = common::Now();
        if (limiteNaoCadastrados_.PermiteLinha(conexao.Endereco(), agora)) {
            InsereHistorico("", estado::kEquipNaoCadastrado, numero, agora);
            // On disk before the next message, like every row: a crash must not lose it.
            arquivos_.SalvaHistorico();
        }
        return;
    }

    switch (codigo) {
        case kLeituraComanda:
            LeituraComanda(terminal, campos, conexao);
            break;
        case kResultadoGiro:
            ResultadoGiro(terminal, campos, conexao);
            break;
        case kPedidoLiberacao: {
            const AjustesSaida a = ajustes_.AjustesAtuais();
            if (monitor_) monitor_->PedidoLiberacao();
            conexao.Envia(MontaLiberacao(terminal, a.tempoGiro, a.msg1Lib, a.msg2Lib));
            break;
        }
    }
}

void TMotorSaida::LeituraComanda(const std::string& terminal, const CamposPacote& campos,
                                 IConexaoTerminal& conexao) {
    const std::string& comanda = campos.Campo(4);
    const common::DateTime lidaEm = DataHoraLeitura(campos);

    // The venue's own program maintains the card list: look at the file as it is now.
    auto& lista = tabelas_.cdsComandas;
    if (lista.State() == common::TableState::Insert || lista.State() == common::TableState::Edit) {
        lista.Cancel();
    }
    arquivos_.RecarregaComandas();

    const AjustesSaida a = ajustes_.AjustesAtuais();
    if (a.modo == ModoOperacao::Nenhum) {
        if (monitor_) monitor_->LeituraSemModo();
        return;
    }
    // As sent, cut to the column's width only, like the equipment lookup.
    const bool naLista = lista.Active() && lista.FindExactKey(comanda);
    const bool liberada = (a.modo == ModoOperacao::ListaNegra) != naLista;
    if (monitor_) monitor_->LeituraComanda(liberada);

    if (liberada) {
        conexao.Envia(MontaEntregaComanda(terminal, a.tempoRele, a.msg1Aguardo, a.msg2Aguardo));
        // A card already pending on this connection is replaced without a row.
        conexao.Pendente() = {comanda.substr(0, kMaxComandaPendente), lidaEm};
    } else {
        conexao.Envia(MontaRecusa(terminal, a.tempoGiro, a.msg1Blo, a.msg2Blo));
        InsereHistorico(comanda, estado::kBloqueado, NumeroTerminal(terminal), common::Now());
        arquivos_.SalvaHistorico();
    }
}

void TMotorSaida::ResultadoGiro(const std::string& terminal, const CamposPacote& campos,
                                IConexaoTerminal& conexao) {
    ComandaPendente& pendente = conexao.Pendente();
    const bool girou = campos.Campo(3) == "G";
    if (monitor_) {
        monitor_->ResultadoGiro(!pendente.Presente() ? ResultadoGiroMonitor::SentidoLivre
                                : girou              ? ResultadoGiroMonitor::Girou
                                                     : ResultadoGiroMonitor::NaoGirou);
    }
    if (!pendente.Presente()) {
        InsereHistorico(estado::kSentidoLivre, estado::kLiberado, NumeroTerminal(terminal),
                        common::Now());
    } else {
        InsereHistorico(pendente.comanda, girou ? estado::kLiberado : estado::kNaoGirou,
                        NumeroTerminal(terminal), pendente.dataHora);
    }
    pendente.Limpa();
    arquivos_.SalvaHistorico();
}

}  // namespace lumora
