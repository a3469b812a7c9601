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

namespace {

// 0 when the lock was taken, EWOULDBLOCK when someone holds it, another errno when it fails.
int TravaSemEsperar(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

}  // namespace

TTravaPasta::TTravaPasta(const std::filesystem::path& pasta) : arquivo_(pasta / ".Lumora.lock") {
    // A few rounds at most: each one only repeats after the file was replaced meanwhile.
    for (int volta = 0; volta < 8; ++volta) {
        // Readable by every user, so that a receiver started by anyone meets the same lock.
        const int fd = ::open(arquivo_.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            // A symbolic link in its place is not ours to follow: it goes, and the file is made.
            if (errno == ELOOP && ::unlink(arquivo_.c_str()) == 0) continue;
            // Another user's file that we may not even read may be held by its receiver, and
            // removing it would let us start beside that one: the folder counts as taken.
            ocupada_ = errno == EACCES;
            return;
        }
        struct stat dados {};
        if (::fstat(fd, &dados) != 0 || !S_ISREG(dados.st_mode)) {
            ::close(fd);
            return;
        }
        const int erro = TravaSemEsperar(fd);
        if (erro == EWOULDBLOCK) {
            // Held, by a receiver of whichever user: that one serves the folder.
            ::close(fd);
            ocupada_ = true;
            return;
        }
        if (erro != 0) {
            ::close(fd);
            return;
        }
        if (dados.st_uid != ::geteuid() && ::unlink(arquivo_.c_str()) == 0) {
            // Nobody holds another user's file: ours takes its place, locked in the next round.
            ::close(fd);
            continue;
        }
        // The file may have been replaced between our open and our lock (by a receiver doing
        // the above): the lock counts only on the file the name still gives.
        struct stat agora {};
        if (::stat(arquivo_.c_str(), &agora) != 0 || agora.st_dev != dados.st_dev ||
            agora.st_ino != dados.st_ino) {
            ::close(fd);
            continue;
        }
        // Whatever the umask, other users' receivers must be able to open it to meet the lock.
        if (dados.st_uid == ::geteuid()) (void)::fchmod(fd, 0644);
        fd_ = fd;
        return;
    }
}

TTravaPasta::~TTravaPasta() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace lumora
