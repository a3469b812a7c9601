// A disk that fills up for real: a small file system of the test's own over a folder.
#pragma once

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

namespace lumora::teste {

// Runs `corpo` in a child process in which `pasta` is a tmpfs mounted with `opcoes` (size,
// inodes), in a mount namespace of the child's own, so nothing stays mounted whatever happens.
// The child's checks report as usual; the result is "" when they passed, the reason to skip
// where no such file system can be made (not root, no namespaces), else "failed".
inline std::string EmDiscoPequeno(const std::filesystem::path& pasta, const char* opcoes,
                                  const std::function<void()>& corpo) {
    if (::geteuid() != 0) return "skip: mounting a small file system needs root";
    const pid_t filho = ::fork();
    if (filho < 0) return "failed";
    if (filho == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", pasta.c_str(), "tmpfs", 0, opcoes) != 0)
            ::_exit(77);
        corpo();
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int estado = 0;
    if (::waitpid(filho, &estado, 0) != filho || !WIFEXITED(estado)) return "failed";
    if (WEXITSTATUS(estado) == 77) return "skip: no private mount namespace here";
    return WEXITSTATUS(estado) == 0 ? "" : "failed";
}

}  // namespace lumora::teste
