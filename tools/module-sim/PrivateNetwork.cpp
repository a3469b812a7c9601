#include "PrivateNetwork.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

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

namespace {

// The driver of an interface, as the kernel names it ("veth" for a veth end).
std::string Driver(int fd, const char* name) {
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    request.ifr_data = reinterpret_cast<char*>(&info);
    if (::ioctl(fd, SIOCETHTOOL, &request) != 0) return {};
    return info.driver;
}

}  // namespace

bool InNamespaceMadeHere() {
    if (!DiffersFromMachineNamespace("/proc/thread-self/ns/net",
                                     "/proc/" + std::to_string(::getppid()) + "/ns/net"))
        return false;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    // Made in this thread's namespace, so the ioctl asks about its interfaces.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool ok = list != nullptr && fd >= 0;
    for (ifaddrs* i = list; ok && i; i = i->ifa_next)
        if (!(i->ifa_flags & IFF_LOOPBACK) && Driver(fd, i->ifa_name) != "veth") ok = false;
    if (fd >= 0) ::close(fd);
    ::freeifaddrs(list);
    return ok;
}

bool InPrivateNetwork() {
    return DiffersFromMachineNamespace() || OnlyLoopbackInterfaces() || InNamespaceMadeHere();
}

bool IsPrivateSegmentAddress(const std::string& ip) {
    in_addr wanted{};
    if (::inet_pton(AF_INET, ip.c_str(), &wanted) != 1) return false;
    // Only in a namespace that is certainly not the machine's: a doubt never counts.
    if (!DiffersFromMachineNamespace() && !InNamespaceMadeHere()) return false;
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
