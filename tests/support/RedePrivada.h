// Puts a test process into a network namespace of its own, where broadcasts stay on loopback.
#pragma once

#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace lumora::teste {

// True when this process's network namespace is not the one of process 1 (the machine's own).
// Anything unreadable counts as "not private", so a doubt never lets a broadcast out.
inline bool EmRedePrivada() {
    char meu[64] = {}, inicial[64] = {};
    const ssize_t a = ::readlink("/proc/self/ns/net", meu, sizeof meu - 1);
    const ssize_t b = ::readlink("/proc/1/ns/net", inicial, sizeof inicial - 1);
    if (a <= 0 || b <= 0) return false;
    return std::string(meu, a) != std::string(inicial, b);
}

// Moves the process into a new network namespace with loopback up and the default route on
// it, so that 255.255.255.255 is delivered on loopback and nowhere else. Call it first thing in
// main(), before any thread exists (a namespace change applies to the calling thread only).
// Returns the reason when that was impossible (not root, no unshare); "" on success.
inline std::string EntraEmRedePrivada() {
    if (EmRedePrivada()) return {};
    if (::unshare(CLONE_NEWNET) != 0) return "unshare(CLONE_NEWNET) failed (needs root)";
    if (std::system("ip link set lo up && ip route add default dev lo") != 0)
        return "could not set up loopback in the private namespace (is iproute2 installed?)";
    if (!EmRedePrivada()) return "the namespace is not private";
    return {};
}

}  // namespace lumora::teste
