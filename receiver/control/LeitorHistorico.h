// A history file read row by row, without building its whole document: a night of a million
// rows costs its rows, not its XML.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include "common/DateTime.h"

namespace lumora {

// One row as the history table would hold it: texts cut and trimmed by its store rules.
struct LinhaLida {
    std::optional<common::DateTime> dataHora;
    std::optional<int32_t> terminal;
    std::string_view cracha;  // empty also when the row has none
    std::string_view estado;
};

// Hands every row of `arquivo` to `linha`, in file order. False for a file that only the full
// reader takes as it should (UTF-8 text, a change log, columns of other types, anything else
// this reader does not know): the rows handed over before it found out are to be dropped.
// Raises EDataPacketError for a document that is not a whole data packet (an addition of the
// receiver caught half way among them), common::EFileError when the file cannot be read.
bool PercorreLinhasHistorico(const std::filesystem::path& arquivo,
                             const std::function<void(const LinhaLida&)>& linha);

}  // namespace lumora
