// Atomic, durable replacement of a file: temporary file, fsync, rename, fsync of the folder.
#include "common/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

// Writes over the file itself, then cuts it to length and syncs it: for a file whose folder
// cannot take another file. A crash meanwhile may leave it half written, which is why this is
// only the way out when the atomic way is closed.
bool RewriteInPlace(const std::filesystem::path& file, const std::string& bytes) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    const bool ok = ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

}  // namespace

void ReplaceFileContents(const std::filesystem::path& path, const std::string& bytes) {
    // The venue may keep a file (or a folder) elsewhere behind a symbolic link: the link stays,
    // the file it names is replaced, with the temporary file beside it.
    const std::filesystem::path target = RealFile(path);
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');

    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (existed && RewriteInPlace(target, bytes)) return;
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

    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            abandon(errno);
        }
        done += static_cast<size_t>(n);
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
    // The names mkostemp makes from the pattern above: the prefix and six more characters.
    const std::string prefix = "." + target.filename().string() + ".";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            entry.is_regular_file(error)) {
            std::filesystem::remove(entry.path(), error);
        }
    }
}

}  // namespace common
