#include "receiver/shell/Relatorio.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <system_error>
#include <utility>

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
                                    std::pair{std::string_view("--find"), &o.busca},
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
    if (o.dia && o.busca) Erro("--find does not go with --report");
    if (o.csv && !o.dia && !o.busca) Erro("--csv goes with --report or --find");
    if (o.sobrescreve && !o.csv) Erro("--overwrite goes with --csv");
    if (o.dia && !o.dia->empty()) {
        // FROM or FROM..TO: nights, each named by the day its evening falls on.
        const std::string& texto = *o.dia;
        const size_t pontos = texto.find("..");
        const std::string de = texto.substr(0, pontos);
        const std::string ate = pontos == std::string::npos ? de : texto.substr(pontos + 2);
        for (const std::string& d : {de, ate}) {
            if (LeDataIso(d)) continue;
            const bool forma = d.size() == 10 && d[4] == '-' && d[7] == '-' &&
                               std::all_of(d.begin(), d.end(), [](char c) {
                                   return c == '-' || (c >= '0' && c <= '9');
                               });
            Erro(forma ? "--report: " + d + " is not a day of the calendar"
                       : "--report needs a day as YYYY-MM-DD or a range FROM..TO, not \"" + texto +
                             "\"");
        }
        if (o.erro.empty()) {
            o.de = *LeDataIso(de);
            o.ate = *LeDataIso(ate);
            if (o.ate < o.de) Erro("--report: " + ate + " comes before " + de);
        }
    }
    if (o.busca && !o.busca->empty() && !common::Utf8ToCp1252(*o.busca))
        Erro("--find: the card text is not UTF-8");
    return o;
}

namespace {

// Writes `csv` where --csv says: standard output ("-") or the file, after its refusals.
int GravaCsv(const OpcoesRelatorio& o, const std::filesystem::path& pasta, std::FILE* saida,
             std::FILE* erros, const std::function<bool(std::string&)>& pedacos) {
    if (*o.csv == "-") {
        std::string pedaco;
        while (pedacos(pedaco)) {
            std::fwrite(pedaco.data(), 1, pedaco.size(), saida);
            pedaco.clear();
        }
        return std::fflush(saida) == 0 && !std::ferror(saida)
                   ? 0
                   : Falha(erros, "the CSV could not be written to standard output");
    }
    if (const std::string recusa = RecusaCsv(*o.csv, pasta, o.sobrescreve); !recusa.empty())
        return Falha(erros, recusa);
    try {
        common::ReplaceFileContents(*o.csv, pedacos);
    } catch (const common::Exception& e) {
        return Falha(erros, common::Cp1252ToUtf8(e.Message()));
    }
    return 0;
}

// The partner PC's rows are an addition: without them the report still stands, and says so.
void AvisaParceira(std::FILE* erros, const std::string& falha) {
    if (falha.empty()) return;
    std::fprintf(erros, "Lumora: the partner folder's rows are left out: %s\n",
                 common::Cp1252ToUtf8(falha).c_str());
    std::fflush(erros);
}

std::function<bool(std::string&)> UmaVez(std::string texto) {
    return [texto = std::move(texto), dado = false](std::string& pedaco) mutable {
        if (dado) return false;
        dado = true;
        pedaco = std::move(texto);
        return true;
    };
}

int ExecutaBusca(const OpcoesRelatorio& o, const std::filesystem::path& pasta, int horaCorte,
                 std::FILE* saida, std::FILE* erros) {
    const std::string parte = *common::Utf8ToCp1252(*o.busca);
    std::vector<Achado> achados;
    std::string falhaParceira;
    try {
        achados = BuscaComanda(pasta, parte, horaCorte, LePastaParceira(pasta), &falhaParceira);
    } catch (const common::Exception& e) {
        return Falha(erros, "the history cannot be searched: " + common::Cp1252ToUtf8(e.Message()));
    }
    if (o.csv) {
        const int status = GravaCsv(o, pasta, saida, erros, UmaVez(CsvBusca(achados)));
        if (status != 0 || *o.csv == "-") return status;
    }
    AvisaParceira(erros, falhaParceira);
    const std::string texto = TextoBusca(parte, achados);
    std::fputs(texto.c_str(), saida);
    std::fflush(saida);
    return 0;
}

}  // namespace

int ExecutaRelatorio(const OpcoesRelatorio& opcoes, const std::filesystem::path& pastaPrograma,
                     std::FILE* saida, std::FILE* erros) {
    // Nights end at the cut hour of the receiver of this folder.
    const int horaCorte = LeHoraCorte(pastaPrograma / "Config.ini");
    if (opcoes.busca) return ExecutaBusca(opcoes, pastaPrograma, horaCorte, saida, erros);
    if (!opcoes.dia) return Falha(erros, "no night to report");
    TLeitorNoites leitor(pastaPrograma, opcoes.de, opcoes.ate, horaCorte,
                         LePastaParceira(pastaPrograma));
    std::vector<std::pair<common::DateTime, Contagem>> noites;
    TotaisHistorico soma;
    DiaHistorico ultima;  // a single night's, for its report
    bool primeira = true;
    // A night at a time, into the totals and, asked for, the CSV: a month of nights is never
    // in memory at once.
    const auto Proxima = [&](std::string* csv) {
        common::DateTime dia;
        if (!leitor.Proxima(ultima, dia)) return false;
        std::vector<int> todas(ultima.linhas.size());
        for (size_t i = 0; i < todas.size(); ++i) todas[i] = static_cast<int>(i);
        const TotaisHistorico t = Totaliza(ultima, todas);
        Acumula(soma, t);
        noites.emplace_back(dia, t.geral);
        if (csv) *csv = CsvLinhas(ultima, todas, std::exchange(primeira, false));
        return true;
    };
    try {
        if (opcoes.csv) {
            const int status = GravaCsv(opcoes, pastaPrograma, saida, erros,
                                        [&](std::string& pedaco) { return Proxima(&pedaco); });
            if (status != 0) return status;
        } else {
            while (Proxima(nullptr)) {
            }
        }
    } catch (const common::Exception& e) {
        return Falha(erros, "the history cannot be read: " + common::Cp1252ToUtf8(e.Message()));
    }
    AvisaParceira(erros, leitor.FalhaParceira());
    const std::string dia = opcoes.de.Format("yyyy-mm-dd");
    if (noites.empty()) {
        return Falha(erros,
                     opcoes.de == opcoes.ate
                         ? "no history for " + dia + ": " +
                               ArquivoDoDia(pastaPrograma, opcoes.de).string() + " is missing"
                         : "no history from " + dia + " to " + opcoes.ate.Format("yyyy-mm-dd"));
    }
    if (opcoes.csv && *opcoes.csv == "-") return 0;  // standard output carries the CSV alone
    const std::string texto = opcoes.de == opcoes.ate
                                  ? TextoRelatorio(ultima, soma)
                                  : TextoRelatorioNoites(opcoes.de, opcoes.ate, noites, soma);
    std::fputs(texto.c_str(), saida);
    std::fflush(saida);
    return 0;
}

}  // namespace lumora
