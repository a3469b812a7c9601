#include "PrivateNetwork.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

namespace modsim {

bool DiffersFromMachineNamespace(const std::string& own, const std::string& machine) {
    char mine[128] = {}, first[128] = {};
    const ssize_t a = ::readlink(own.c_str(), mine, sizeof mine - 1);
    const ssize_t b = ::readlink(machine.c_str(), first, sizeof first - 1);
    if (a <= 0 || b <= 0) return false;
    return std::string(mine, a) != std::string(first, b);
}

bool OnlyLoopbackInterfaces() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    bool onlyLoopback = list != nullptr;
    for (ifaddrs* i = list; i; i = i->ifa_next)
        if (!(i->ifa_flags & IFF_LOOPBACK)) onlyLoopback = false;
    ::freeifaddrs(list);
    return onlyLoopback;
}

bool InPrivateNetwork() { return DiffersFromMachineNamespace() || OnlyLoopbackInterfaces(); }

}  // namespace modsim
