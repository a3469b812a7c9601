#include "ModuleSim.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <ostream>
#include <queue>

#include "PrivateNetwork.h"

namespace modsim {

namespace {

using SteadyClock = std::chrono::steady_clock;

enum class Family { Tibbo, Brivant };

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

std::string AddressText(in_addr a) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

std::string Clock(WallClock::time_point when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    const auto seconds = static_cast<std::time_t>(ms.count() / 1000);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms.count() % 1000));
    return text;
}

// Long datagrams (the oversized ones) are shown by their start and their size.
std::string Shown(const std::string& payload) {
    if (payload.size() <= 120) return Escape(payload);
    return Escape(std::string_view(payload).substr(0, 32)) + "... (" +
           std::to_string(payload.size()) + " bytes)";
}

// Receives broadcasts and unicasts to every address on `port`, and tells each datagram's
// destination address (IP_PKTINFO). Port 0 makes the second socket that some replies come
// from.
int OpenSocket(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) throw SimError(Errno("cannot create a UDP socket"));
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    at.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        const std::string why = Errno(("cannot bind UDP port " + std::to_string(port)).c_str());
        ::close(fd);
        throw SimError(why);
    }
    return fd;
}

uint16_t LocalPort(int fd) {
    sockaddr_in at{};
    socklen_t length = sizeof at;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
    return ntohs(at.sin_port);
}

// An address a module may answer from: loopback, or a veth end of a private namespace.
bool Answerable(const std::string& ip) { return IsLoopbackHost(ip) || IsPrivateSegmentAddress(ip); }

// The behaviour key of a first-family text.
std::string TibboKey(const std::string& text) {
    if (text == "X" || text == "E" || text == "GNM" || text == "GGI" || text == "GDI") return text;
    for (const char* setter : {"SNM", "SGI", "SDI", "SDH"})
        if (text.rfind(setter, 0) == 0) return setter;
    if (!text.empty() && (text[0] == 'L' || text[0] == 'A')) return text.substr(0, 1);
    return "?";
}

// "A" MAC "/" password "/" new address.
struct Readdress {
    std::string mac, password, ip;
};
std::optional<Readdress> ParseReaddress(const std::string& text) {
    const auto a = text.find('/', 1);
    if (a == std::string::npos) return std::nullopt;
    const auto b = text.find('/', a + 1);
    if (b == std::string::npos) return std::nullopt;
    return Readdress{text.substr(1, a - 1), text.substr(a + 1, b - a - 1), text.substr(b + 1)};
}

// What a first-family module answers, and what the command does to it. Nothing when the
// command is not for this module (another MAC, an unknown broadcast).
std::optional<std::string> AnswerTibbo(TibboModule& m, const std::string& key,
                                       const std::string& text, bool broadcast, bool deny) {
    std::optional<Readdress> readdress;
    if (key == "A") {
        readdress = ParseReaddress(text);
        if (!readdress || readdress->mac != m.mac) return std::nullopt;
    }
    if (key == "?" && broadcast) return std::nullopt;
    if (deny) return "D";

    if (key == "X") return DiscoveryReply(m);
    if (key == "L") {
        m.loggedIn = text.substr(1) == m.password;
        return m.loggedIn ? "A" : "D";
    }
    if (key == "GNM") return "A" + m.netmask;
    if (key == "GGI") return "A" + m.gateway;
    if (key == "GDI") return "A" + m.destino;
    if (key == "A") {
        // The module keeps only addresses it could answer from.
        if (readdress->password != m.password || !Answerable(readdress->ip)) return "D";
        m.ip = readdress->ip;
        return "A";
    }
    if (key == "SNM" || key == "SGI" || key == "SDI" || key == "SDH") {
        if (!m.loggedIn) return "D";
        const std::string value = text.substr(3);
        if (key == "SNM") m.staged.netmask = value;
        if (key == "SGI") m.staged.gateway = value;
        if (key == "SDI") m.staged.destino = value;
        if (key == "SDH") {
            if (value != "1" && value != "0") return "D";
            m.staged.dhcp = value == "1";
        }
        return "A";
    }
    if (key == "E") {
        if (m.staged.netmask) m.netmask = *m.staged.netmask;
        if (m.staged.gateway) m.gateway = *m.staged.gateway;
        if (m.staged.destino) m.destino = *m.staged.destino;
        if (m.staged.dhcp) m.SetDhcp(*m.staged.dhcp);
        m.staged = {};
        m.loggedIn = false;
        return "A";
    }
    return "D";  // an unknown command sent to this module
}

}  // namespace

struct Outgoing {
    SteadyClock::time_point when;
    uint64_t order;  // datagrams due together leave in the order they were queued
    int fd;
    in_addr from;
    sockaddr_in to;
    std::string payload;
};

struct LaterFirst {
    bool operator()(const Outgoing& a, const Outgoing& b) const {
        return a.when != b.when ? a.when > b.when : a.order > b.order;
    }
};

struct ModuleSim::Impl {
    int tibbo = -1, brivant = -1, other = -1;
    int wake[2] = {-1, -1};
    uint16_t otherPort = 0;
    std::priority_queue<Outgoing, std::vector<Outgoing>, LaterFirst> queue;
    uint64_t order = 0;

    ~Impl() {
        for (int fd : {tibbo, brivant, other, wake[0], wake[1]})
            if (fd >= 0) ::close(fd);
    }
};

ModuleSim::ModuleSim(Modules modules, SimOptions options)
    : options_(options), modules_(std::move(modules)) {}

ModuleSim::~ModuleSim() { Stop(); }

void ModuleSim::Start() {
    if (Running()) throw SimError("the module simulator is already running");
    if (!InPrivateNetwork()) throw SimError(kPrivateNetworkHint);
    {
        std::lock_guard lock(mutex_);
        for (const auto& m : modules_.tibbo)
            if (!Answerable(m.ip)) throw SimError("module address '" + m.ip + "' is not loopback");
        for (const auto& m : modules_.brivant)
            if (!Answerable(m.ip)) throw SimError("module address '" + m.ip + "' is not loopback");
    }
    auto impl = std::make_unique<Impl>();
    impl->tibbo = OpenSocket(options_.tibboPort);
    impl->brivant = OpenSocket(options_.brivantPort);
    impl->other = OpenSocket(0);
    impl->otherPort = LocalPort(impl->other);
    if (::pipe2(impl->wake, O_CLOEXEC | O_NONBLOCK) != 0) throw SimError(Errno("pipe"));
    impl_ = std::move(impl);
    thread_ = std::thread([this] { Loop(); });
}

void ModuleSim::Stop() {
    if (!thread_.joinable()) return;
    const char byte = 0;
    while (::write(impl_->wake[1], &byte, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
    impl_.reset();
}

Modules ModuleSim::Snapshot() const {
    std::lock_guard lock(mutex_);
    return modules_;
}

void ModuleSim::Modify(const std::function<void(Modules&)>& change) {
    std::lock_guard lock(mutex_);
    change(modules_);
}

std::vector<Received> ModuleSim::Log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

void ModuleSim::ClearLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

void ModuleSim::Loop() {
    Impl& im = *impl_;
    std::vector<char> buffer(65536);

    auto print = [&](const std::string& line) {
        if (options_.out) *options_.out << Clock(WallClock::now()) << ' ' << line << std::endl;
    };

    // Queues what one module sends for one command, as its behaviour says.
    auto schedule = [&](int listenFd, const Behaviour* b, const std::string& fromIp,
                        const sockaddr_in& to, const std::optional<std::string>& reply) {
        Behaviour plain;
        if (!b) b = &plain;
        in_addr from{};
        if (!Answerable(fromIp) || ::inet_pton(AF_INET, fromIp.c_str(), &from) != 1) {
            print("not answering from address " + fromIp + ", which is no module's");
            return;
        }
        const auto at = SteadyClock::now() + b->delay;
        const int fd = b->otherPort ? im.other : listenFd;
        auto push = [&](SteadyClock::time_point when, std::string payload) {
            im.queue.push(Outgoing{when, im.order++, fd, from, to, std::move(payload)});
        };
        if (b->stray) push(at, *b->stray);
        if (b->oversize > 0) push(at, std::string(b->oversize, 'Z'));
        if (reply && !b->silent) {
            push(at, *reply);
            if (b->late) push(at + *b->late, *reply);
        }
    };

    auto handle = [&](Family family, int fd, const std::string& text, const sockaddr_in& sender,
                      in_addr destination) {
        const uint16_t port = family == Family::Tibbo ? options_.tibboPort : options_.brivantPort;
        const std::string to = AddressText(destination);
        const bool broadcast = destination.s_addr == htonl(INADDR_BROADCAST);
        std::lock_guard lock(mutex_);
        log_.push_back(Received{WallClock::now(), AddressText(sender.sin_addr),
                                ntohs(sender.sin_port), to, port, text});
        print("recv " + log_.back().from + ":" + std::to_string(log_.back().fromPort) + " > " + to +
              ":" + std::to_string(port) + "  " + Shown(text));

        if (family == Family::Tibbo) {
            const std::string key = TibboKey(text);
            for (auto& m : modules_.tibbo) {
                if (!broadcast && m.ip != to) continue;
                if (broadcast && m.routed) continue;
                const std::string replyFrom = m.ip;  // a new address applies after this reply
                const Behaviour* b = FindBehaviour(m.behaviours, key);
                auto reply = AnswerTibbo(m, key, text, broadcast, b && b->deny);
                if (reply) schedule(fd, b, replyFrom, sender, reply);
            }
        } else {
            if (text != kBrivantQuery) return;
            for (auto& m : modules_.brivant) {
                if (!broadcast && m.ip != to) continue;
                const Behaviour* b = FindBehaviour(m.behaviours, "query");
                const std::string reply = b && b->deny ? "D" : BrivantReply(m);
                schedule(fd, b, m.ip, sender, reply);
            }
        }
    };

    auto readAll = [&](Family family, int fd) {
        for (;;) {
            sockaddr_in sender{};
            iovec iov{buffer.data(), buffer.size()};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
            msghdr msg{};
            msg.msg_name = &sender;
            msg.msg_namelen = sizeof sender;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(fd, &msg, 0);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK) print(Errno("receive failed"));
                return;
            }
            in_addr destination{};
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                    destination = reinterpret_cast<in_pktinfo*>(CMSG_DATA(c))->ipi_addr;
            handle(family, fd, std::string(buffer.data(), static_cast<std::size_t>(n)), sender,
                   destination);
        }
    };

    // Sends from a module's own address through a socket bound to every address.
    auto send = [&](const Outgoing& o) {
        iovec iov{const_cast<char*>(o.payload.data()), o.payload.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        msghdr msg{};
        msg.msg_name = const_cast<sockaddr_in*>(&o.to);
        msg.msg_namelen = sizeof o.to;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst = o.from;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
        const uint16_t fromPort = o.fd == im.tibbo     ? options_.tibboPort
                                  : o.fd == im.brivant ? options_.brivantPort
                                                       : im.otherPort;
        const std::string line = AddressText(o.from) + ":" + std::to_string(fromPort) + " > " +
                                 AddressText(o.to.sin_addr) + ":" +
                                 std::to_string(ntohs(o.to.sin_port)) + "  " + Shown(o.payload);
        ssize_t sent;
        do sent = ::sendmsg(o.fd, &msg, 0);
        while (sent < 0 && errno == EINTR);
        print(sent < 0 ? Errno(("send failed " + line).c_str()) : "send " + line);
    };

    for (;;) {
        int timeout = -1;
        if (!im.queue.empty()) {
            const auto wait = im.queue.top().when - SteadyClock::now();
            timeout = static_cast<int>(
                std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
        }
        pollfd fds[3] = {{im.wake[0], POLLIN, 0}, {im.tibbo, POLLIN, 0}, {im.brivant, POLLIN, 0}};
        if (::poll(fds, 3, timeout) < 0 && errno != EINTR) {
            print(Errno("poll failed"));
            return;
        }
        if (fds[0].revents) return;
        if (fds[1].revents) readAll(Family::Tibbo, im.tibbo);
        if (fds[2].revents) readAll(Family::Brivant, im.brivant);
        while (!im.queue.empty() && im.queue.top().when <= SteadyClock::now()) {
            send(im.queue.top());
            im.queue.pop();
        }
    }
}

}  // namespace modsim
