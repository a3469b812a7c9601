// How many lines the journal gets from the traffic log: a flood of failures must not fill it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/DateTime.h"

namespace lumora {

// At most kLinhas lines in any window of kJanelaMs that begins with a line written; the lines
// past that are counted, and the count is said before the first line of the next window, or
// at the end.
class TLimiteJornal {
  public:
    static constexpr int kLinhas = 30;
    static constexpr int64_t kJanelaMs = 60'000;

    // The lines to write now for `linha` at `agora`: none while over the limit.
    std::vector<std::string> Linha(const std::string& linha, common::DateTime agora);
    // The count of lines left out and not yet said, as a line; empty when none.
    std::string Resto();

  private:
    int64_t inicio_ = 0;
    bool aberta_ = false;
    int escritas_ = 0;
    long omitidas_ = 0;
};

}  // namespace lumora
