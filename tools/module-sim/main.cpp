// module-sim: plays Ethernet modules of both families on loopback addresses for the module
// manager, until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "ModuleArgs.h"
#include "ModuleSim.h"
#include "PrivateNetwork.h"

using namespace modsim;

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitNetwork = 3;

const char kHelp[] = R"(Usage: module-sim [--tibbo DESC]... [--brivant DESC]... [--book-demo]
                  [--behave RULE]...

Plays Ethernet modules for the module manager: first-family modules on UDP port
65535, second-family modules on UDP port 30303, each on its own loopback
address. Runs until Ctrl-C or SIGTERM, printing every datagram received and sent.

It answers broadcasts, so it runs only inside a private network namespace:
  unshare -n sh -c 'ip link set lo up; ip route add default dev lo; module-sim'

Modules (DESC is comma-separated key=value; escapes \r \n \t \\ \xNN, a comma
is \x2C):
  --tibbo DESC      a first-family module; keys: ip (required, 127.x.y.z), mac,
                    port, flags, field4, field5, rest, netmask, gateway, dest,
                    password, dhcp (1|0: sets the fourth flag to I|M),
                    discovery (verbatim reply to X), routed (1: behind a
                    router, no broadcast reaches it; it answers only what is
                    sent to its own address, "X" and "A" included)
                    Its discovery reply: A mac/port/flags/field4/field5/rest
  --brivant DESC    a second-family module; keys: ip (required), name, mac,
                    form (found|lines|bare), sep (found form's separator),
                    reply (verbatim reply)
  Without modules: 127.0.0.5 (Vexa gate, DHCP on), 127.0.0.6 (Torvane, DHCP
  off), 127.0.0.9 (found form, ';'), 127.0.0.10 (lines form).
  --book-demo       adds a Vexa gate behind a router at 127.0.1.5 (put it in the
                    manager's address book to find it) and two Torvane
                    turnstiles that share 127.0.0.7

Behaviours:
  --behave IP:COMMAND=ITEMS
                    COMMAND: X L GNM GGI GDI A SNM SGI SDI SDH E, ? (any other
                    text), query (second family), * (every command without a
                    rule of its own). ITEMS, comma-separated:
                      delay:MS       answer MS later (other modules are not held)
                      silent         no reply
                      deny           refuse: no effect, reply D
                      stray[:TEXT]   send TEXT (default C) before the reply
                      otherport      send from a second socket (same address)
                      oversize[:N]   N bytes of filler before the reply
                                     (default 9000, 600 for the second family)
                      late:MS        the reply once more, MS after it
                    e.g. --behave 127.0.0.5:GNM=stray:C,delay:500

Other:
  --tibbo-port N    (default 65535)     --brivant-port N   (default 30303)
  --help

Exit status: 0 after Ctrl-C/SIGTERM, 2 bad usage, 3 not in a private network
namespace or a port that cannot be bound.
)";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

uint16_t Port(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 1 || v > 65535)
        throw UsageError(option + " takes a port from 1 to 65535, not '" + text + "'");
    return static_cast<uint16_t>(v);
}

const char* FormName(BrivantForm form) {
    switch (form) {
        case BrivantForm::Found:
            return "found";
        case BrivantForm::Lines:
            return "lines";
        case BrivantForm::Bare:
            return "bare";
    }
    return "?";
}

void PrintModules(const Modules& modules, const SimOptions& o) {
    for (const auto& m : modules.tibbo)
        std::cout << "module " << m.ip << ":" << o.tibboPort << "  " << Escape(DiscoveryReply(m))
                  << "  netmask " << m.netmask << " gateway " << m.gateway << " dest " << m.destino
                  << (m.routed ? "  routed (unicast only)" : "") << "\n";
    for (const auto& m : modules.brivant)
        std::cout << "module " << m.ip << ":" << o.brivantPort << "  " << FormName(m.form) << "  "
                  << Escape(BrivantReply(m)) << "\n";
    auto rules = [](const std::string& ip, const Behaviours& behaviours) {
        for (const auto& [key, b] : behaviours)
            std::cout << "  behave " << ip << ":" << key << "=" << Describe(b) << "\n";
    };
    for (const auto& m : modules.tibbo) rules(m.ip, m.behaviours);
    for (const auto& m : modules.brivant) rules(m.ip, m.behaviours);
    std::cout << std::flush;
}

}  // namespace

int main(int argc, char** argv) {
    Modules modules;
    SimOptions options;
    std::vector<std::string> rules;
    bool bookDemo = false;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= argc) throw UsageError(arg + " needs a value");
                return argv[++i];
            };
            if (arg == "--help" || arg == "-h") {
                std::fputs(kHelp, stdout);
                return 0;
            } else if (arg == "--tibbo") {
                modules.tibbo.push_back(ParseTibbo(value()));
            } else if (arg == "--brivant") {
                modules.brivant.push_back(ParseBrivant(value()));
            } else if (arg == "--book-demo") {
                bookDemo = true;
            } else if (arg == "--behave") {
                rules.push_back(value());
            } else if (arg == "--tibbo-port") {
                options.tibboPort = Port(arg, value());
            } else if (arg == "--brivant-port") {
                options.brivantPort = Port(arg, value());
            } else {
                throw UsageError("unknown option " + arg + " (see --help)");
            }
        }
        if (modules.tibbo.empty() && modules.brivant.empty()) modules = DefaultModules();
        if (bookDemo)
            for (auto& m : BookDemoModules().tibbo) modules.tibbo.push_back(std::move(m));
        for (const auto& rule : rules) ApplyBehave(rule, modules);
    } catch (const std::exception& e) {
        std::cerr << "module-sim: " << e.what() << "\n";
        return kExitUsage;
    }

    if (!InPrivateNetwork()) {
        std::cerr << "module-sim: refusing to run outside a private network namespace.\n"
                  << kPrivateNetworkHint << "\n";
        return kExitNetwork;
    }

    // The loop thread inherits this mask, so the signals reach sigwait below and nothing else.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    options.out = &std::cout;
    PrintModules(modules, options);
    ModuleSim sim(std::move(modules), options);
    try {
        sim.Start();
    } catch (const std::exception& e) {
        std::cerr << "module-sim: " << e.what() << "\n";
        return kExitNetwork;
    }
    int signal = 0;
    sigwait(&stop, &signal);
    sim.Stop();
    std::cout << "stopped by " << (signal == SIGINT ? "SIGINT" : "SIGTERM") << std::endl;
    return 0;
}
