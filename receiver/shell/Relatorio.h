// The report of one day from the command line: totals of a history file, optionally its rows
// as CSV, without a window and without writing anything in the program folder.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace lumora {

struct OpcoesRelatorio {
    std::optional<std::string> dia;  // --report YYYY-MM-DD
    std::optional<std::string> csv;  // --csv FILE
    std::string erro;                // not empty: the line was not understood
};

// Takes --report and --csv (with "=" or a separate value) out of argv; the rest stays for the
// common options.
OpcoesRelatorio LeOpcoesRelatorio(int& argc, char** argv);

// Prints the day's totals on `saida` and writes the rows to the CSV file when asked. Returns
// the exit status: 0, or 1 with one line on `erros` when the day's file is missing or damaged
// or the CSV file cannot be written.
int ExecutaRelatorio(const OpcoesRelatorio& opcoes, const std::filesystem::path& pastaPrograma,
                     std::FILE* saida, std::FILE* erros);

}  // namespace lumora
