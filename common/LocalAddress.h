// The computer's own IPv4 address as the operator should give it to terminals and modules.
#pragma once

#include <string>

namespace common {

// The first IPv4 address the host name resolves to. Linux commonly maps the host name to a
// loopback address (127.0.1.1), which no terminal or module can reach; then, and when the name
// does not resolve at all, the first IPv4 address of a running network interface other than
// loopback is taken instead. Failing that: the loopback address the name gave when
// `loopbackFallback` is set, else "".
std::string LocalIPv4Address(bool loopbackFallback);

}  // namespace common
