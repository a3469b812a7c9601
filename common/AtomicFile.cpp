// Atomic, durable replacement of a file: temporary file, fsync, rename, fsync of the folder.
#include "common/AtomicFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

#include "common/Exception.h"

namespace common {
namespace {

[[noreturn]] void Fail(const std::filesystem::path& path, int error) {
    throw EFileError("Cannot create file \"" + path.string() + "\". " + std::strerror(error));
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The file a path names in the end: a symbolic link, to the file or to a folder on the way, is
// followed (a link to a file that does not exist yet names that file).
std::filesystem::path RealFile(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    fs::path p = path;
    std::error_code error;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(p, error)); ++hops) {
        const fs::path next = fs::read_symlink(p, error);
        if (error) break;
        p = next.is_absolute() ? next : p.parent_path() / next;
    }
    const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
    const fs::path real = fs::weakly_canonical(folder, error);
    return error ? p : real / p.filename();
}

bool WriteAllAt(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes over the file itself, then cuts it to length and syncs it: for a file whose folder
// cannot take another file. A crash meanwhile may leave it half written, which is why this is
// only the way out when the atomic way is closed. A write that fails puts the old bytes back
// (they fit where they were). Returns 0 or the errno of the failure.
int RewriteInPlace(const std::filesystem::path& file, const std::string& bytes) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return errno;
    std::string old;
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return error;
        }
        if (n == 0) break;
        old.append(buffer, static_cast<size_t>(n));
        at += n;
    }
    if (!WriteAllAt(fd, bytes) || ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0 ||
        ::fsync(fd) != 0) {
        const int error = errno;
        if (WriteAllAt(fd, old) && ::ftruncate(fd, static_cast<off_t>(old.size())) == 0)
            (void)::fsync(fd);
        ::close(fd);
        return error;
    }
    return ::close(fd) == 0 ? 0 : errno;
}

// The folder refuses new files although the file in it may be written: the only case for the
// in-place rewrite. A full disk, a quota or an I/O error must fail the save instead, since
// the rewrite would meet them half way through the file.
bool FolderRefusesFiles(int error) { return error == EACCES || error == EPERM || error == EROFS; }

// Temporary file names: the target's name behind a dot, this marker, the process id, and six
// characters of mkostemp's. Copy tools and editors name their own temporary files after the
// target too, so only names with the marker and a process that is gone are ever removed.
constexpr const char* kTempMarker = ".save~";

std::string TempPrefix(const std::filesystem::path& target) {
    return "." + target.filename().string() + kTempMarker;
}

}  // namespace

void ReplaceFileContents(const std::filesystem::path& path, const std::string& bytes) {
    bool dado = false;
    ReplaceFileContents(path, std::function<bool(std::string&)>([&](std::string& pedaco) {
                            if (dado) return false;
                            dado = true;
                            pedaco = bytes;
                            return true;
                        }));
}

void ReplaceFileContents(const std::filesystem::path& path,
                         const std::function<bool(std::string&)>& pieces) {
    // The venue may keep a file (or a folder) elsewhere behind a symbolic link: the link stays,
    // the file it names is replaced, with the temporary file beside it.
    const std::filesystem::path target = RealFile(path);
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string pattern =
        (folder / (TempPrefix(target) + std::to_string(::getpid()) + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');

    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (existed && FolderRefusesFiles(error) && ::access(target.c_str(), W_OK) == 0) {
            // The rare way out takes the whole contents at once.
            std::string bytes, piece;
            while (pieces(piece)) {
                bytes += piece;
                piece.clear();
            }
            if (const int inPlace = RewriteInPlace(target, bytes); inPlace != 0)
                Fail(path, inPlace);
            return;
        }
        Fail(path, error);
    }
    const std::string tempName(name.data());
    auto abandon = [&](int error) {
        ::close(fd);
        ::unlink(tempName.c_str());
        Fail(path, error);
    };

    const mode_t mode = existed ? (old.st_mode & 07777) : (0666 & ~CurrentUmask());
    // Owner and group as they were, where we may set them (root may; a user keeps its own).
    if (existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
        (void)::fchown(fd, old.st_uid, old.st_gid);
    if (::fchmod(fd, mode) != 0) abandon(errno);

    std::string bytes;
    try {
        while (pieces(bytes)) {
            size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n < 0) {
                    if (errno == EINTR) continue;
                    abandon(errno);
                }
                done += static_cast<size_t>(n);
            }
            bytes.clear();
        }
    } catch (const EFileError&) {
        throw;
    } catch (...) {
        // What made the pieces failed: nothing of it is left behind, the old file stays.
        ::close(fd);
        ::unlink(tempName.c_str());
        throw;
    }
    if (::fsync(fd) != 0) abandon(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(tempName.c_str());
        Fail(path, error);
    }
    if (::rename(tempName.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(tempName.c_str());
        Fail(path, error);
    }
    // Without this the rename itself may not survive a power cut.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void RemoveTemporaryFiles(const std::filesystem::path& path) {
    const std::filesystem::path target = RealFile(path);
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const std::string prefix = TempPrefix(target);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        // "<pid>.XXXXXX" after the prefix.
        const size_t dot = name.find('.', prefix.size());
        if (dot == std::string::npos || dot == prefix.size() || name.size() != dot + 7) continue;
        const std::string digits = name.substr(prefix.size(), dot - prefix.size());
        if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9)
            continue;
        const pid_t owner = static_cast<pid_t>(std::stol(digits));
        // A save of a process still running is its own business. Our own id on a file found
        // here was left by an earlier process that had it: we have no save going on.
        if (owner != ::getpid() && (owner <= 0 || ::kill(owner, 0) == 0 || errno != ESRCH))
            continue;
        if (entry.is_regular_file(error)) std::filesystem::remove(entry.path(), error);
    }
}

}  // namespace common
