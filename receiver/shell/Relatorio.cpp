#include "receiver/shell/Relatorio.h"

#include <string_view>
#include <system_error>

#include "common/AtomicFile.h"
#include "common/Exception.h"
#include "common/Text1252.h"
#include "receiver/control/HistoricoDias.h"

namespace lumora {
namespace {

int Falha(std::FILE* erros, const std::string& linha) {
    std::fprintf(erros, "Lumora: %s\n", linha.c_str());
    std::fflush(erros);
    return 1;
}

}  // namespace

OpcoesRelatorio LeOpcoesRelatorio(int& argc, char** argv) {
    OpcoesRelatorio o;
    int mantidos = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        std::optional<std::string>* destino = nullptr;
        std::string_view nome;
        for (auto [opcao, campo] : {std::pair{std::string_view("--report"), &o.dia},
                                    std::pair{std::string_view("--csv"), &o.csv}}) {
            if (a == opcao ||
                (a.starts_with(opcao) && a.size() > opcao.size() && a[opcao.size()] == '=')) {
                destino = campo;
                nome = opcao;
            }
        }
        if (!destino) {
            argv[mantidos++] = argv[i];
            continue;
        }
        const std::string_view valor =
            a == nome ? (i + 1 < argc ? std::string_view(argv[++i]) : std::string_view())
                      : a.substr(nome.size() + 1);
        if (valor.empty() && o.erro.empty()) o.erro = std::string(nome) + " needs a value";
        *destino = std::string(valor);
    }
    argc = mantidos;
    argv[argc] = nullptr;
    if (o.erro.empty() && o.csv && !o.dia) o.erro = "--csv goes with --report";
    if (o.erro.empty() && o.dia && !LeDataIso(*o.dia)) {
        o.erro = "--report needs a day as YYYY-MM-DD, not \"" + *o.dia + "\"";
    }
    return o;
}

int ExecutaRelatorio(const OpcoesRelatorio& opcoes, const std::filesystem::path& pastaPrograma,
                     std::FILE* saida, std::FILE* erros) {
    const auto dia = LeDataIso(opcoes.dia.value_or(""));
    if (!dia) return Falha(erros, "no day to report");
    const std::filesystem::path arquivo = ArquivoDoDia(pastaPrograma, *dia);
    std::error_code erro;
    if (!std::filesystem::is_regular_file(arquivo, erro)) {
        return Falha(erros,
                     "no history for " + *opcoes.dia + ": " + arquivo.string() + " is missing");
    }
    DiaHistorico historico;
    try {
        historico = LeDiaHistorico(arquivo);
    } catch (const common::Exception& e) {
        return Falha(erros, "the history of " + *opcoes.dia +
                                " cannot be read: " + common::Cp1252ToUtf8(e.Message()));
    }
    std::vector<int> todas(historico.linhas.size());
    for (size_t i = 0; i < todas.size(); ++i) todas[i] = static_cast<int>(i);
    const std::string texto = TextoRelatorio(historico, Totaliza(historico, todas));
    if (opcoes.csv) {
        try {
            common::ReplaceFileContents(*opcoes.csv, CsvLinhas(historico, todas));
        } catch (const common::Exception& e) {
            return Falha(erros, common::Cp1252ToUtf8(e.Message()));
        }
    }
    std::fputs(texto.c_str(), saida);
    std::fflush(saida);
    return 0;
}

}  // namespace lumora
