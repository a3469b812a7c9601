// The single-instance lock file in the user's runtime folder.
#include "receiver/shell/InstanciaUnica.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace lumora {

std::filesystem::path TMutexGlobal::Pasta() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return runtime;
    return "/tmp";
}

TMutexGlobal::TMutexGlobal(const std::string& nome) : arquivo_(Pasta() / nome) {
    fd_ = ::open(arquivo_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // A lock file that cannot even be made must not keep the receiver from running: the
    // gates would stay without their receiver. The rule is then simply not enforced.
    if (fd_ < 0) return;
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
