// What one terminal connection has sent and not yet handed on, cut into messages at each CR.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace lumora {

class TBufferTerminal {
  public:
    // Appends one read. An empty read, or one that is exactly "$", changes nothing: a lone "$"
    // is never part of a message.
    void Acrescenta(std::string_view recebido);
    // Appends one read as far as no message grows beyond `maxSemCR` bytes before its CR, and
    // says whether all of it went in. The complete messages ahead of an overlong one are kept;
    // nothing of it or after it is, so that it never takes more than the bound.
    bool Acrescenta(std::string_view recebido, size_t maxSemCR);
    // The next complete message without its CR, taken off the front; nothing when no CR is held.
    std::optional<std::string> Proxima();
    // Bytes in complete messages waiting to be taken.
    size_t Completas() const;
    // Bytes after the last CR: a message still arriving. Only these grow without a CR.
    size_t SemCR() const;
    void Limpa();

  private:
    // Taken messages are not erased one by one (a long buffer of short messages would be moved
    // once per message); the front is dropped when it is more than half of what is held.
    std::string dados_;
    size_t inicio_ = 0;  // first byte not yet taken
    size_t aposCR_ = 0;  // just after the last CR held; <= inicio_ when none is left
};

}  // namespace lumora
