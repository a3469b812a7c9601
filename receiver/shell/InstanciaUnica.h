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

// One receiver per program folder, whoever started it and whatever its session: an exclusive
// flock on ".Lumora.lock" in the folder itself. The file is opened without following a
// symbolic link; one that another user owns is not kept (anyone could hold it to keep the
// receiver out): unless a process holds it, it is replaced by one of our own; one we may not
// open at all counts as held. A folder that cannot take the file (read-only) is not locked:
// the gates must not stay without their receiver, and such a folder takes no saves either.
class TTravaPasta {
  public:
    explicit TTravaPasta(const std::filesystem::path& pasta);
    ~TTravaPasta();
    TTravaPasta(const TTravaPasta&) = delete;
    TTravaPasta& operator=(const TTravaPasta&) = delete;

    // True when another receiver serves the folder.
    bool Ocupada() const { return ocupada_; }
    const std::filesystem::path& Arquivo() const { return arquivo_; }

  private:
    std::filesystem::path arquivo_;
    int fd_ = -1;
    bool ocupada_ = false;
};

}  // namespace lumora
