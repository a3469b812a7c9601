#include "PrivateNetwork.h"

#include <unistd.h>

namespace modsim {

bool InPrivateNetwork(const std::string& own, const std::string& machine) {
    char mine[128] = {}, first[128] = {};
    const ssize_t a = ::readlink(own.c_str(), mine, sizeof mine - 1);
    const ssize_t b = ::readlink(machine.c_str(), first, sizeof first - 1);
    if (a <= 0 || b <= 0) return false;
    return std::string(mine, a) != std::string(first, b);
}

}  // namespace modsim
