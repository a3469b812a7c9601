#include "PrivateNetwork.h"

#include <arpa/inet.h>
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

bool IsPrivateSegmentAddress(const std::string& ip) {
    in_addr wanted{};
    if (::inet_pton(AF_INET, ip.c_str(), &wanted) != 1) return false;
    // Only where process 1's namespace can be seen to differ: a doubt never counts.
    if (!DiffersFromMachineNamespace()) return false;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    bool found = false;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_LOOPBACK))
            continue;
        if (reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == wanted.s_addr)
            found = true;
    }
    ::freeifaddrs(list);
    return found;
}

}  // namespace modsim
