// The simulated Ethernet modules: their settings, their per-command behaviours and the
// replies they build, as plain values that the simulator, the CLI and tests share.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace modsim {

class SimError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// How one module answers one command. The default answers at once, once, with the reply the
// command deserves. Everything a command sends goes out in this order, after `delay`:
// the stray text, the oversized datagram, the reply (unless `silent`), and `late` after the
// reply a second copy of it.
struct Behaviour {
    std::chrono::milliseconds delay{0};
    bool silent = false;               // no reply (a stray or oversized datagram still goes out)
    bool deny = false;                 // the command is refused: no effect, and the reply is "D"
    std::optional<std::string> stray;  // sent before the reply
    bool otherPort = false;            // all of it from a second socket
    std::size_t oversize = 0;          // bytes of filler before the reply; 0 none
    std::optional<std::chrono::milliseconds> late;  // the reply again, this long after it
};

// Behaviours by command key: "X", "L", "GNM", "GGI", "GDI", "A", "SNM", "SGI", "SDI", "SDH",
// "E", "?" (any other first-family text), "query" (the second-family query), and "*" for
// every command that has no entry of its own.
using Behaviours = std::map<std::string, Behaviour>;
// A behaviour written as the command line takes it ("delay:500,stray:C"); "" for the default.
std::string Describe(const Behaviour& b);
const Behaviour* FindBehaviour(const Behaviours& behaviours, const std::string& key);
// True for the keys above.
bool KnownCommandKey(std::string_view key);

// Default oversized datagrams: past the manager's 8192-byte buffer for the first family,
// past its 512-byte buffer for the second.
constexpr std::size_t kTibboOversize = 9000;
constexpr std::size_t kBrivantOversize = 600;

constexpr char kPassword[] = "581947";
constexpr char kBrivantQuery[] = "Discovery: Who is out there?";

// Values set by SNM, SGI, SDI and SDH wait here until "E" applies them, as a module that
// reboots to take its new settings.
struct Staged {
    std::optional<std::string> netmask, gateway, destino;
    std::optional<bool> dhcp;
};

// A first-family module, answering on port 65535.
struct TibboModule {
    std::string ip;  // 127.x.y.z; its replies come from here
    std::string mac = "0.36.119.87.8.24";
    std::string port = "1001";
    std::string flags = "ABCI";  // the fourth character follows the DHCP mode: I on, M off
    std::string field4 = "x";
    std::string field5 = "Owner";
    std::string rest = "Vexa gate 1";
    std::string netmask = "255.255.255.0";  // texts kept exactly as given or set
    std::string gateway = "127.0.0.1";
    std::string destino = "127.0.0.1";
    std::string password = kPassword;
    std::string discovery;  // when not empty, sent verbatim as the reply to "X"
    // Behind a router: no broadcast reaches it, so it answers only what is sent to its own
    // address ("X" and "A" included).
    bool routed = false;
    Behaviours behaviours;

    // Run-time state, shown in snapshots.
    bool loggedIn = false;  // from a right "L" until "E" or a wrong "L"
    Staged staged;

    // The DHCP mode as the flags tell it: nothing when the fourth character is neither.
    std::optional<bool> Dhcp() const;
    // Sets the fourth character of the flags, padding short flags with '-'.
    void SetDhcp(bool on);
};

enum class BrivantForm {
    Found,  // "Found:" s name s MAC s
    Lines,  // name CR LF MAC CR LF
    Bare,   // "Found:" and nothing more
};

// A second-family module, answering on port 30303.
struct BrivantModule {
    std::string ip;
    std::string name = "Gate 1";
    std::string mac = "00-04-A3-11-22-33";
    BrivantForm form = BrivantForm::Found;
    char separator = ';';
    std::string reply;  // when not empty, sent verbatim instead of the built reply
    Behaviours behaviours;
};

struct Modules {
    std::vector<TibboModule> tibbo;
    std::vector<BrivantModule> brivant;
};

// Two first-family modules (a Vexa gate and a Torvane turnstile) and two second-family
// modules, one of each reply form: what the CLI plays when given no module.
Modules DefaultModules();
// What the CLI's --book-demo adds: a Vexa gate behind a router at 127.0.1.5 (found only
// through the address book) and two Torvane turnstiles sharing 127.0.0.7.
Modules BookDemoModules();

std::string DiscoveryReply(const TibboModule& module);
std::string BrivantReply(const BrivantModule& module);

// Bytes made readable on one line: printable ASCII as is, backslash doubled, \r \n \t, and
// \xNN for every other byte.
std::string Escape(std::string_view bytes);
// The reverse, for texts given on the command line: \r \n \t \\ \xNN. Throws SimError on a
// broken escape.
std::string Unescape(std::string_view text);

// True for a dotted quad in 127.0.0.0/8 other than its network and broadcast addresses.
bool IsLoopbackHost(const std::string& text);

}  // namespace modsim
