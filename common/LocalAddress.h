// The computer's own IPv4 address as the operator should give it to terminals and modules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace common {

// The host name's IPv4 address as the hosts file gives it, else the first IPv4 address of a
// running network interface other than loopback. No name server is ever asked: on an isolated
// gate network the configured one is often unreachable, and each try would freeze the window
// for seconds; a name server also knows nothing the interfaces do not. Linux commonly maps the
// host name to a loopback address (127.0.1.1), which no terminal or module can reach; then the
// interfaces decide too. Failing all that: the loopback address of the hosts file when
// `loopbackFallback` is set, else "".
std::string LocalIPv4Address(bool loopbackFallback);

// The first IPv4 address that the hosts-file text `hosts` gives to `name` (its canonical name
// or an alias, compared without case, as the resolver's files source does); "" when none.
std::string HostsIPv4Address(std::string_view hosts, std::string_view name);

// One IPv4 address of a network interface, with its netmask; both in host byte order.
struct IPv4Adapter {
    uint32_t address = 0;
    uint32_t netmask = 0;
};
// Every IPv4 address of every interface that is up, loopback included.
std::vector<IPv4Adapter> IPv4Adapters();

// What an address is to this computer, for a listen address typed by hand: only a unicast one
// can take connections. An address can be bound although it is a network or broadcast address
// of one of the adapters (the system keeps those as local), which is why it is asked here.
enum class IPv4Role {
    Unicast,
    LimitedBroadcast,
    DirectedBroadcast,
    NetworkAddress,
    Multicast,
    Reserved
};
struct IPv4RoleFound {
    IPv4Role role = IPv4Role::Unicast;
    uint32_t network = 0;  // for a directed broadcast or network address: that network
    int prefix = 0;
};
// 0.0.0.0 (every address) counts as unicast here. Networks of /31 and /32 have no network or
// broadcast address; 127.0.0.0/8 has them whatever the adapters say.
IPv4RoleFound ClassifyIPv4(uint32_t address, const std::vector<IPv4Adapter>& adapters);

}  // namespace common
