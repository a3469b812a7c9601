#include "TerminalSim.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace termsim {

namespace {

constexpr uint32_t kLoopbackNet = 0x7F000000;
constexpr uint32_t kLoopbackBroadcast = 0x7FFFFFFF;

std::string SysError(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

bool IsUsableLoopback(uint32_t hostOrder) {
    return (hostOrder & 0xFF000000) == kLoopbackNet && hostOrder != kLoopbackNet &&
           hostOrder != kLoopbackBroadcast;
}

int RemainingMs(SteadyClock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

in_addr LoopbackAddress(const std::string& text) {
    in_addr address{};
    std::string numeric = text == "localhost" ? "127.0.0.1" : text;
    if (inet_pton(AF_INET, numeric.c_str(), &address) != 1 ||
        !IsUsableLoopback(ntohl(address.s_addr)))
        throw SimError("'" + text +
                       "' is not a loopback address (127.0.0.1 to 127.255.255.254): this "
                       "simulator only talks to the machine it runs on");
    return address;
}

namespace {

std::string NetworkNamespace(const char* path) {
    char name[128] = {};
    const ssize_t n = ::readlink(path, name, sizeof name - 1);
    return n > 0 ? std::string(name, static_cast<size_t>(n)) : std::string();
}

// The network the program started in, read before main() while no thread can have moved.
const std::string kStartNetwork = NetworkNamespace("/proc/self/ns/net");

}  // namespace

bool InPrivateNetwork() {
    // A thread moved out of the network the program started in went into one a test made
    // (only root can, and only on purpose); else it is private when it is not process 1's.
    // A doubt (process 1's hidden from another namespace, say) never counts as private.
    const std::string mine = NetworkNamespace("/proc/thread-self/ns/net");
    if (mine.empty()) return false;
    if (!kStartNetwork.empty() && mine != kStartNetwork) return true;
    const std::string machine = NetworkNamespace("/proc/1/ns/net");
    return !machine.empty() && mine != machine;
}

in_addr TerminalAddress(const std::string& text) {
    in_addr address{};
    if (text != "localhost" && inet_pton(AF_INET, text.c_str(), &address) == 1 &&
        !IsUsableLoopback(ntohl(address.s_addr)) && InPrivateNetwork())
        return address;
    return LoopbackAddress(text);
}

std::string AddressText(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string NthLoopbackAddress(const std::string& first, unsigned steps) {
    uint64_t host = ntohl(LoopbackAddress(first).s_addr) + uint64_t{steps};
    if (host > 0xFFFFFFFF || !IsUsableLoopback(static_cast<uint32_t>(host)))
        throw SimError("counting " + std::to_string(steps) + " addresses up from " + first +
                       " leaves the loopback block");
    in_addr address{htonl(static_cast<uint32_t>(host))};
    return AddressText(address);
}

SimTerminal::SimTerminal(std::string terminalNumber) : terminal_(std::move(terminalNumber)) {}

SimTerminal::~SimTerminal() {
    if (fd_ >= 0) ::close(fd_);
}

SimTerminal::SimTerminal(SimTerminal&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      terminal_(std::move(other.terminal_)),
      splitter_(std::move(other.splitter_)),
      inbox_(std::move(other.inbox_)),
      peerClosed_(other.peerClosed_),
      connecting_(std::exchange(other.connecting_, false)),
      where_(std::move(other.where_)),
      lastSend_(other.lastSend_) {}

SimTerminal& SimTerminal::operator=(SimTerminal&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        terminal_ = std::move(other.terminal_);
        splitter_ = std::move(other.splitter_);
        inbox_ = std::move(other.inbox_);
        peerClosed_ = other.peerClosed_;
        connecting_ = std::exchange(other.connecting_, false);
        where_ = std::move(other.where_);
        lastSend_ = other.lastSend_;
    }
    return *this;
}

void SimTerminal::Connect(const std::string& host, uint16_t port, const std::string& source,
                          std::chrono::milliseconds timeout) {
    if (BeginConnect(host, port, source)) return;
    pollfd p{fd_, POLLOUT, 0};
    int ready;
    auto deadline = SteadyClock::now() + timeout;
    do {
        ready = ::poll(&p, 1, RemainingMs(deadline));
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        ::close(std::exchange(fd_, -1));
        connecting_ = false;
        throw SimError(SysError("connect to " + where_, ETIMEDOUT));
    }
    FinishConnect();
}

bool SimTerminal::BeginConnect(const std::string& host, uint16_t port, const std::string& source) {
    if (fd_ >= 0) throw SimError("terminal is already connected");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = TerminalAddress(host);
    to.sin_port = htons(port);
    std::string where = host + ":" + std::to_string(port);

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) throw SimError(SysError("socket", errno));
    auto fail = [&](const std::string& what, int error) {
        ::close(fd);
        throw SimError(SysError(what, error));
    };

    if (!source.empty()) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        try {
            from.sin_addr = TerminalAddress(source);
        } catch (...) {
            ::close(fd);
            throw;
        }
        where += " from " + source;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0)
            fail("bind to " + source, errno);
    }
    int on = 1;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) fail("TCP_NODELAY", errno);

    bool now = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    if (!now && errno != EINPROGRESS) fail("connect to " + where, errno);
    fd_ = fd;
    connecting_ = !now;
    where_ = where;
    peerClosed_ = false;
    splitter_ = FrameSplitter();
    inbox_.clear();
    return now;
}

void SimTerminal::FinishConnect() {
    if (!connecting_) return;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    connecting_ = false;
    if (error != 0) {
        ::close(std::exchange(fd_, -1));
        throw SimError(SysError("connect to " + where_, error));
    }
}

std::string NthTerminalAddress(const std::string& first, unsigned steps) {
    in_addr address{};
    if (first == "localhost" || inet_pton(AF_INET, first.c_str(), &address) != 1 ||
        IsUsableLoopback(ntohl(address.s_addr)) || !InPrivateNetwork())
        return NthLoopbackAddress(first, steps);
    uint64_t host = ntohl(address.s_addr) + uint64_t{steps};
    if (host > 0xFFFFFFFF) throw SimError("counting up from " + first + " leaves IPv4");
    address.s_addr = htonl(static_cast<uint32_t>(host));
    return AddressText(address);
}

std::string SimTerminal::LocalAddress() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) return {};
    return AddressText(local.sin_addr);
}

SteadyClock::time_point SimTerminal::SendRaw(std::string_view bytes) {
    if (fd_ < 0) throw SimError("send: terminal is not connected");
    auto deadline = SteadyClock::now() + 5s;
    while (!bytes.empty()) {
        ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The receiver is not reading; give it a while before calling it stuck.
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, RemainingMs(deadline)) == 0)
                throw SimError("send: the receiver has not read for 5 s");
            continue;
        }
        throw SimError(SysError("send", errno));
    }
    lastSend_ = SteadyClock::now();
    return lastSend_;
}

SteadyClock::time_point SimTerminal::SendCardRead(std::string_view card, const CardTime& at) {
    return SendRaw(BuildCardRead(terminal_, card, at));
}

SteadyClock::time_point SimTerminal::SendTurnstileResult(std::string_view outcome) {
    return SendRaw(BuildTurnstileResult(terminal_, outcome));
}

SteadyClock::time_point SimTerminal::SendReleaseRequest() {
    return SendRaw(BuildReleaseRequest(terminal_));
}

bool SimTerminal::ReadAvailable() {
    if (fd_ < 0 || peerClosed_) return false;
    char buffer[4096];
    for (;;) {
        ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got > 0) {
            Inbound stamp{{}, SteadyClock::now(), WallClock::now()};
            splitter_.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
            while (auto frame = splitter_.Next()) {
                stamp.bytes = std::move(*frame);
                inbox_.push_back(stamp);
            }
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        peerClosed_ = true;  // 0: orderly close; otherwise reset or another failure
        return false;
    }
}

std::optional<Inbound> SimTerminal::PopMessage() {
    if (inbox_.empty()) return std::nullopt;
    Inbound next = std::move(inbox_.front());
    inbox_.pop_front();
    return next;
}

std::optional<Inbound> SimTerminal::WaitMessage(std::chrono::milliseconds timeout) {
    auto deadline = SteadyClock::now() + timeout;
    for (;;) {
        if (auto next = PopMessage()) return next;
        if (fd_ < 0 || peerClosed_) return std::nullopt;
        int wait = RemainingMs(deadline);
        pollfd p{fd_, POLLIN, 0};
        int ready = ::poll(&p, 1, wait);
        if (ready < 0 && errno != EINTR) throw SimError(SysError("poll", errno));
        if (ready > 0) {
            ReadAvailable();
        } else if (wait == 0) {
            return std::nullopt;
        }
    }
}

void SimTerminal::Close() {
    if (fd_ < 0) return;
    if (std::exchange(connecting_, false)) return Abort();
    // Closing with unread bytes in the kernel makes Linux send a reset instead of a FIN;
    // take them first so an orderly close really is one.
    ReadAvailable();
    ::close(fd_);
    fd_ = -1;
}

void SimTerminal::Abort() {
    if (fd_ < 0) return;
    linger off{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    ::close(fd_);
    fd_ = -1;
    connecting_ = false;
}

}  // namespace termsim
