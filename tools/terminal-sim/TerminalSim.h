// A simulated turnstile terminal: one TCP connection to the receiver over loopback, with
// the terminal's messages, a frame splitter and time-stamped receipt of every reply.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "TerminalMessages.h"

namespace termsim {

using SteadyClock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;
using namespace std::chrono_literals;

class SimError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// This tool talks to one machine only. Both parse numeric dotted quads ("localhost" is
// taken as 127.0.0.1, nothing is ever looked up) and throw SimError for anything outside
// 127.0.0.0/8, the network and broadcast addresses of that block included.
in_addr LoopbackAddress(const std::string& text);
std::string AddressText(in_addr address);
// The address `steps` after `first`, for terminals that each want their own peer address;
// throws when it would leave 127.0.0.0/8.
std::string NthLoopbackAddress(const std::string& first, unsigned steps);
// Where a terminal may connect from and to: loopback always; any other dotted quad only while
// the calling thread is in a network namespace that is not the machine's own (a test's, with
// veth links between namespaces), where nothing real can be reached.
in_addr TerminalAddress(const std::string& text);
// NthLoopbackAddress for loopback; in a test's own network, any address counted up the same
// way (terminals on a veth link with one address each).
std::string NthTerminalAddress(const std::string& first, unsigned steps);
// Whether the calling thread's network namespace is known not to be the machine's.
bool InPrivateNetwork();

// One frame from the receiver with the moment the read that completed it returned.
struct Inbound {
    std::string bytes;           // the frame, its CR included; "$" for the wake
    SteadyClock::time_point at;  // for latencies
    WallClock::time_point wall;  // for printing
};

class SimTerminal {
  public:
    explicit SimTerminal(std::string terminalNumber = "01");
    ~SimTerminal();
    SimTerminal(const SimTerminal&) = delete;
    SimTerminal& operator=(const SimTerminal&) = delete;
    SimTerminal(SimTerminal&& other) noexcept;
    SimTerminal& operator=(SimTerminal&& other) noexcept;

    // Connects from `source` (empty: the kernel picks, normally 127.0.0.1), with
    // TCP_NODELAY. Throws SimError when an address is not loopback or the connection fails.
    void Connect(const std::string& host, uint16_t port, const std::string& source = {},
                 std::chrono::milliseconds timeout = 5s);
    // The same without waiting, for a driver that polls many terminals: true when connected
    // at once, else the connection is under way (Connecting(), POLLOUT on Fd()) until
    // FinishConnect() says how it went. Throws SimError as Connect does for what fails at once.
    bool BeginConnect(const std::string& host, uint16_t port, const std::string& source = {});
    bool Connecting() const { return connecting_; }
    // After POLLOUT: throws SimError (and closes) when the connection was refused or failed.
    void FinishConnect();
    bool Connected() const { return fd_ >= 0 && !connecting_; }
    int Fd() const { return fd_; }
    std::string LocalAddress() const;  // the address the receiver sees as its peer
    const std::string& TerminalNumber() const { return terminal_; }
    void SetTerminalNumber(std::string number) { terminal_ = std::move(number); }

    // Each send returns once every byte has been handed to the kernel, and returns that
    // moment: the start of a reply's latency. Throws SimError when the connection is gone.
    SteadyClock::time_point SendRaw(std::string_view bytes);
    SteadyClock::time_point SendCardRead(std::string_view card,
                                         const CardTime& at = CardTime::Now());
    SteadyClock::time_point SendTurnstileResult(std::string_view outcome);
    SteadyClock::time_point SendReleaseRequest();
    SteadyClock::time_point LastSend() const { return lastSend_; }

    // The next complete frame, waiting at most `timeout`; nothing on time-out or when the
    // receiver has closed the connection (then PeerClosed() is true).
    std::optional<Inbound> WaitMessage(std::chrono::milliseconds timeout);
    // Without waiting: a frame already received, if any.
    std::optional<Inbound> PopMessage();
    // Reads whatever the kernel holds without blocking, stamping frames completed by each
    // read with the moment it returned. For callers that poll() many terminals at once.
    // Returns false once the receiver has closed or reset the connection.
    bool ReadAvailable();
    bool PeerClosed() const { return peerClosed_; }
    // Bytes received that do not form a frame yet.
    const std::string& Pending() const { return splitter_.Pending(); }

    // Orderly close (FIN).
    void Close();
    // Abortive close: SO_LINGER with zero time, so the receiver gets a reset (RST).
    void Abort();

  private:
    int fd_ = -1;
    std::string terminal_;
    FrameSplitter splitter_;
    std::deque<Inbound> inbox_;
    bool peerClosed_ = false;
    bool connecting_ = false;
    std::string where_;  // "host:port from source", for errors of a connection under way
    SteadyClock::time_point lastSend_{};
};

}  // namespace termsim
