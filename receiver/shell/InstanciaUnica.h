// The single-instance rule: one running receiver per user session, held by a locked file.
#pragma once

#include <filesystem>
#include <string>

namespace lumora {

// An exclusive flock on the file `nome` in $XDG_RUNTIME_DIR, else on a file of this user's own
// in /tmp (the name followed by "-" and the user id). The system lets go of it when the
// process ends, however it ends; the lock is never released on purpose, only when this object
// goes with the process (or with a test).
class TMutexGlobal {
  public:
    explicit TMutexGlobal(const std::string& nome = "GlobalMutex");
    ~TMutexGlobal();
    TMutexGlobal(const TMutexGlobal&) = delete;
    TMutexGlobal& operator=(const TMutexGlobal&) = delete;

    // True when another process of this user (or another holder in this one) already has it.
    bool JaExistia() const { return jaExistia_; }
    const std::filesystem::path& Arquivo() const { return arquivo_; }

  private:
    std::filesystem::path arquivo_;
    int fd_ = -1;
    bool jaExistia_ = false;
};

}  // namespace lumora
