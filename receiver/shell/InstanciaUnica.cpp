// The single-instance lock file in the user's runtime folder.
#include "receiver/shell/InstanciaUnica.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace lumora {
namespace {

std::filesystem::path ArquivoTrava(const std::string& nome) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::filesystem::path(runtime) / nome;
    // /tmp is shared by every user of the machine: one user's receiver must not keep
    // another's from starting.
    return std::filesystem::path("/tmp") / (nome + "-" + std::to_string(::geteuid()));
}

}  // namespace

TMutexGlobal::TMutexGlobal(const std::string& nome) : arquivo_(ArquivoTrava(nome)) {
    fd_ = ::open(arquivo_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    // A lock file that cannot even be made must not keep the receiver from running: the
    // gates would stay without their receiver. The rule is then simply not enforced.
    if (fd_ < 0) return;
    // Nor one that someone else made under our name in /tmp, and may be holding.
    struct stat dados {};
    if (::fstat(fd_, &dados) != 0 || dados.st_uid != ::geteuid()) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        jaExistia_ = errno == EWOULDBLOCK;
        break;
    }
}

TMutexGlobal::~TMutexGlobal() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace lumora
