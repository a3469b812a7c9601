// The guard that keeps the simulator's broadcasts off real networks: it runs only in a
// network namespace of its own.
#pragma once

#include <string>

namespace modsim {

// True when the calling thread's network namespace differs from that of process 1 (the
// machine's own). Anything unreadable counts as not different. The paths are parameters only
// so that the check itself can be tried.
bool DiffersFromMachineNamespace(const std::string& own = "/proc/thread-self/ns/net",
                                 const std::string& machine = "/proc/1/ns/net");

// True when every network interface in sight is a loopback interface, as in a namespace just
// made with `unshare -n`: nothing sent here can leave the machine. Some sandboxes hide process
// 1's namespace even from root, and then this is what tells a private namespace.
bool OnlyLoopbackInterfaces();

// True when the calling thread's network namespace differs from its parent process's and
// every interface in it is loopback or a veth end: a namespace that this process (a test)
// made and wired to further namespaces of its own, as a segment behind a simulated router.
// Running the program from a shell never passes this.
bool InNamespaceMadeHere();

// Any of the above.
bool InPrivateNetwork();

// True for an IPv4 address of a non-loopback interface (a veth end) of this namespace, when
// the namespace is certainly not the machine's (see above): a module of a routed segment that
// a test builds out of namespaces answers from such an address.
bool IsPrivateSegmentAddress(const std::string& ip);

// What to do about it, for error messages.
constexpr char kPrivateNetworkHint[] =
    "module-sim answers broadcasts and must run in a private network namespace, e.g.\n"
    "  unshare -n sh -c 'ip link set lo up; ip route add default dev lo; module-sim'";

}  // namespace modsim
