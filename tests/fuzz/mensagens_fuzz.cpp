// Arbitrary byte streams, cut into arbitrary reads, through the terminal message path: the
// connection's buffer as the server fills and empties it, the splitting into fields, and the
// exit decision engine's replies. Checked against a plain cut of the whole stream.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Exception.h"
#include "receiver/control/Motor.h"
#include "receiver/link/BufferTerminal.h"
#include "receiver/link/Protocol.h"

namespace {

using namespace lumora;

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

struct Arquivos : IArquivosMotor {
    explicit Arquivos(TabelasReceptor& t) : tabelas(t) {}
    void RecarregaComandas() override {
        tabelas.cdsComandas.Load({{std::string("0000000000001234")}});
    }
    void SalvaHistorico() override {}
    TabelasReceptor& tabelas;
};

// Every reply must come back framed as the terminal reads it: one CR, at the end, and exactly
// the fields of its code, whatever the message and the settings held.
struct Conexao : IConexaoTerminal {
    ComandaPendente pendente;
    std::string terminal;
    std::string endereco = "127.0.0.1";
    ComandaPendente& Pendente() override { return pendente; }
    const std::string& Endereco() const override { return endereco; }
    void Envia(const std::string& texto) override {
        Check(texto.size() >= 2 && texto.find(kCR) == texto.size() - 1 &&
              texto[texto.size() - 2] == ';');
        std::vector<std::string> campos;
        size_t inicio = 0;
        for (size_t fim; (fim = texto.find(';', inicio)) != std::string::npos; inicio = fim + 1) {
            campos.push_back(texto.substr(inicio, fim - inicio));
        }
        Check(campos.size() >= 2 && campos[0] == terminal);
        size_t esperados = 0;
        if (campos[1] == "02") esperados = 6;
        if (campos[1] == "03" || campos[1] == "20") esperados = 5;
        Check(esperados != 0 && campos.size() == esperados);
        Check(campos[esperados - 2].size() == 16 && campos[esperados - 1].size() == 16);
    }
};

// The server's own cut: nothing but a read that is exactly "$" is left out; messages end at CR.
struct Referencia {
    std::string fluxo;
    void Acrescenta(const std::string& leitura) {
        if (leitura != "$") fluxo += leitura;
    }
    std::vector<std::string> Mensagens() const {
        std::vector<std::string> m;
        size_t inicio = 0;
        for (size_t cr; (cr = fluxo.find(kCR, inicio)) != std::string::npos; inicio = cr + 1) {
            m.push_back(fluxo.substr(inicio, cr - inicio));
        }
        return m;
    }
    size_t SemCR() const {
        const size_t cr = fluxo.rfind(kCR);
        return cr == std::string::npos ? fluxo.size() : fluxo.size() - cr - 1;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider entrada(data, size);
    TabelasReceptor tabelas;
    tabelas.cdsEquipamentos.Load({{std::string("01"), std::string("127.0.0.5")}});
    tabelas.cdsHistorico.Open();
    AjustesFixos ajustes;
    // Display texts as the operator or Config.ini may have left them, separators included.
    ajustes.valores.msg1Lib = entrada.ConsumeRandomLengthString(24);
    ajustes.valores.msg2Blo = entrada.ConsumeRandomLengthString(24);
    ajustes.valores.modo =
        entrada.ConsumeBool() ? ModoOperacao::ListaNegra : ModoOperacao::ListaBranca;
    Arquivos arquivos(tabelas);
    TMotorSaida motor(tabelas, ajustes, arquivos);
    Conexao conexao;

    TBufferTerminal buffer;
    Referencia referencia;
    std::vector<std::string> tomadas;
    while (entrada.remaining_bytes() > 0) {
        const std::string leitura =
            entrada.ConsumeBytesAsString(entrada.ConsumeIntegralInRange<size_t>(0, 64));
        buffer.Acrescenta(leitura);
        referencia.Acrescenta(leitura);
        Check(buffer.SemCR() == referencia.SemCR());
        // Held for a clock message or a box now and then; taken all at once otherwise.
        if (entrada.ConsumeBool()) continue;
        while (const auto mensagem = buffer.Proxima()) {
            Check(mensagem->find(kCR) == std::string::npos);
            tomadas.push_back(*mensagem);

            const CamposPacote campos(*mensagem);
            std::string junto;
            for (size_t i = 1; i <= campos.Quantidade(); ++i) {
                Check(campos.Campo(i).find_first_of(";$") == std::string::npos);
                junto += campos.Campo(i) + ";";
            }
            std::string limpo;
            for (char c : *mensagem) {
                if (c != '$') limpo += c;
            }
            if (limpo.empty() || limpo.back() != ';') limpo += ';';
            Check(junto == limpo);

            conexao.terminal = campos.Campo(1);
            try {
                motor.ProcessaPacote(*mensagem, conexao);
            } catch (const common::EConvertError&) {
                // A terminal number that is no whole number cannot go into the history: the
                // failure the program reports, after the reply.
            }
            Check(conexao.pendente.comanda.size() <= 16);
        }
        Check(buffer.Completas() == 0);
    }
    while (const auto mensagem = buffer.Proxima()) tomadas.push_back(*mensagem);
    Check(tomadas == referencia.Mensagens());
    Check(buffer.SemCR() == referencia.SemCR());
    return 0;
}
