#include "receiver/shell/Relatorio.h"

#include <algorithm>
#include <string_view>
#include <system_error>

#include "common/AtomicFile.h"
#include "common/Exception.h"
#include "common/Text1252.h"
#include "receiver/control/HistoricoDias.h"
#include "receiver/shell/ConfigIni.h"

namespace lumora {
namespace {

int Falha(std::FILE* erros, const std::string& linha) {
    std::fprintf(erros, "Lumora: %s\n", linha.c_str());
    std::fflush(erros);
    return 1;
}

// Why the CSV may not go to `destino`, or "": the program folder's files are the venue's
// records (a report must never put a spreadsheet in the place of a night), and an existing
// file is someone's unless the command line says to replace it.
std::string RecusaCsv(const std::filesystem::path& destino, const std::filesystem::path& pasta,
                      bool sobrescreve) {
    std::error_code erro;
    // Links and ".." resolved, for a file that does not exist yet as well.
    const std::filesystem::path alvo = std::filesystem::weakly_canonical(destino, erro);
    const std::filesystem::path dentro = std::filesystem::weakly_canonical(pasta, erro);
    if (!alvo.empty() && !dentro.empty()) {
        const auto [fim, resto] =
            std::mismatch(dentro.begin(), dentro.end(), alvo.begin(), alvo.end());
        if (fim == dentro.end())
            return "--csv " + destino.string() + " is in the program folder " + dentro.string() +
                   ", whose files are the receiver's: write the CSV elsewhere";
    }
    if (!sobrescreve && std::filesystem::exists(std::filesystem::symlink_status(destino, erro)))
        return "--csv " + destino.string() + " exists already: add --overwrite to replace it";
    return {};
}

}  // namespace

OpcoesRelatorio LeOpcoesRelatorio(int& argc, char** argv) {
    OpcoesRelatorio o;
    const auto Erro = [&](std::string texto) {
        if (o.erro.empty()) o.erro = std::move(texto);
    };
    int mantidos = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--overwrite") {
            if (o.sobrescreve) Erro("--overwrite is given twice");
            o.sobrescreve = true;
            continue;
        }
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
        std::string_view valor;
        if (a != nome) {
            valor = a.substr(nome.size() + 1);
        } else if (i + 1 < argc && !std::string_view(argv[i + 1]).starts_with("--")) {
            valor = argv[++i];
        }
        if (valor.empty()) Erro(std::string(nome) + " needs a value");
        if (destino->has_value()) Erro(std::string(nome) + " is given twice");
        *destino = std::string(valor);
    }
    argc = mantidos;
    argv[argc] = nullptr;
    if (o.csv && !o.dia) Erro("--csv goes with --report");
    if (o.sobrescreve && !o.csv) Erro("--overwrite goes with --csv");
    if (o.dia && !o.dia->empty() && !LeDataIso(*o.dia)) {
        const std::string& d = *o.dia;
        const bool forma = d.size() == 10 && d[4] == '-' && d[7] == '-' &&
                           std::all_of(d.begin(), d.end(),
                                       [](char c) { return c == '-' || (c >= '0' && c <= '9'); });
        Erro(forma ? "--report: " + d + " is not a day of the calendar"
                   : "--report needs a day as YYYY-MM-DD, not \"" + d + "\"");
    }
    return o;
}

int ExecutaRelatorio(const OpcoesRelatorio& opcoes, const std::filesystem::path& pastaPrograma,
                     std::FILE* saida, std::FILE* erros) {
    const auto dia = LeDataIso(opcoes.dia.value_or(""));
    if (!dia) return Falha(erros, "no day to report");
    const std::filesystem::path arquivo = ArquivoDoDia(pastaPrograma, *dia);
    DiaHistorico historico;
    try {
        // The night of that day, wherever its rows stand (a restart in its small hours left
        // them in the next day's file), by the cut hour of the receiver of this folder.
        historico = LeNoite(pastaPrograma, *dia, LeHoraCorte(pastaPrograma / "Config.ini"));
    } catch (const common::Exception& e) {
        return Falha(erros, "the history of " + *opcoes.dia +
                                " cannot be read: " + common::Cp1252ToUtf8(e.Message()));
    }
    std::error_code erro;
    if (historico.linhas.empty() && !std::filesystem::is_regular_file(arquivo, erro)) {
        return Falha(erros,
                     "no history for " + *opcoes.dia + ": " + arquivo.string() + " is missing");
    }
    std::vector<int> todas(historico.linhas.size());
    for (size_t i = 0; i < todas.size(); ++i) todas[i] = static_cast<int>(i);
    // Standard output carries the CSV alone, for a pipe.
    if (opcoes.csv && *opcoes.csv == "-") {
        const std::string csv = CsvLinhas(historico, todas);
        std::fwrite(csv.data(), 1, csv.size(), saida);
        return std::fflush(saida) == 0 && !std::ferror(saida)
                   ? 0
                   : Falha(erros, "the CSV could not be written to standard output");
    }
    const std::string texto = TextoRelatorio(historico, Totaliza(historico, todas));
    if (opcoes.csv) {
        if (const std::string recusa = RecusaCsv(*opcoes.csv, pastaPrograma, opcoes.sobrescreve);
            !recusa.empty())
            return Falha(erros, recusa);
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
