// The computer's own IPv4 address as the operator should give it to terminals and modules.
#pragma once

#include <string>
#include <string_view>

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

}  // namespace common
