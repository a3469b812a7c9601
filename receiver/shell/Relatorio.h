// The report of one day from the command line: totals of a history file, optionally its rows
// as CSV, without a window and without writing anything in the program folder.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "common/DateTime.h"

namespace lumora {

struct OpcoesRelatorio {
    std::optional<std::string> dia;    // --report YYYY-MM-DD[..YYYY-MM-DD]
    common::DateTime de, ate;          // its nights, when it was understood
    std::optional<std::string> busca;  // --find CARD (part of a card number, UTF-8)
    std::optional<std::string> csv;    // --csv FILE ("-": standard output)
    bool sobrescreve = false;          // --overwrite: the CSV file may exist already
    std::string erro;                  // not empty: the line was not understood
};

// Takes --report, --csv (with "=" or a separate value) and --overwrite out of argv; the rest
// stays for the common options. Each may be given once; a value that is missing, or is the
// next option, is an error.
OpcoesRelatorio LeOpcoesRelatorio(int& argc, char** argv);

// Prints the day's totals on `saida` and writes the rows to the CSV file when asked (to
// `saida` instead of the totals for "-"). The CSV file may be neither in the program folder
// nor one that exists, unless `sobrescreve`. Returns the exit status: 0, or 1 with one line on
// `erros` when the day's file is missing or damaged or the CSV file is refused or cannot be
// written.
int ExecutaRelatorio(const OpcoesRelatorio& opcoes, const std::filesystem::path& pastaPrograma,
                     std::FILE* saida, std::FILE* erros);

}  // namespace lumora
