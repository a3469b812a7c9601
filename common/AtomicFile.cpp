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

}  // namespace

void ReplaceFileContents(const std::filesystem::path& path, const std::string& bytes) {
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');

    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) Fail(path, errno);
    const std::string tempName(name.data());
    auto abandon = [&](int error) {
        ::close(fd);
        ::unlink(tempName.c_str());
        Fail(path, error);
    };

    struct stat old {};
    const mode_t mode =
        ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : (0666 & ~CurrentUmask());
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
    if (::rename(tempName.c_str(), path.c_str()) != 0) {
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
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    // The names mkostemp makes from the pattern above: the prefix and six more characters.
    const std::string prefix = "." + path.filename().string() + ".";
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
