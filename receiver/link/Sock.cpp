// The TCP socket component: listens, accepts connections, moves their bytes and reports each step.
#include "receiver/link/Sock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <utility>

#include "common/Convert.h"
#include "common/SockErrors.h"
#include "common/Unhandled.h"
#include "receiver/link/SockStream.h"
#include "receiver/link/SockThread.h"

namespace {

constexpr int kReceiveArea = 32768;  // the most that one platform receive may fill
// Connections the system completes before they are accepted. A short queue makes terminals
// that reconnect together after a network blip lose their SYNs and wait out the retransmission
// back-off (1 s, 3 s, 7 s ...); a generous one costs nothing.
constexpr int kListenQueue = 128;
// After an accept that failed for want of descriptors or memory the accept event rests this
// long: the connection is still pending and would otherwise wake the loop on every pass.
constexpr int kAcceptRestMs = 100;
// Connections taken in one accept event at most, so that other events still get their turn.
constexpr int kAcceptsPerEvent = 64;
// A peer that vanished (power, cable, switch) sends no close: without these its connection
// stayed open for good, showed as connected and kept its slot. Idle connections are probed
// after kKeepIdle s, every kKeepInterval s; a peer that answers nothing for kUserTimeoutMs,
// whether probed or owed a reply, is dropped with ETIMEDOUT (about 20 to 25 s after it went
// quiet). A live peer answers every probe at its network layer, so an idle terminal on a
// working link is never dropped, however long it sends nothing.
constexpr int kKeepIdle = 10;
constexpr int kKeepInterval = 5;
constexpr int kKeepCount = 3;
constexpr unsigned kUserTimeoutMs = 20000;

// Closes a descriptor unless it was handed on.
class DescriptorGuard {
  public:
    explicit DescriptorGuard(int fd) : fd_(fd) {}
    ~DescriptorGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    DescriptorGuard(const DescriptorGuard&) = delete;
    DescriptorGuard& operator=(const DescriptorGuard&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

void SetDescriptorBlocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return;
    ::fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

std::string DottedQuad(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

// Nothing is wrong: the readiness was stale or a signal came in between.
bool IsTransient(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

// Waits until the descriptor is readable or the seconds have passed (negative: no limit). A wait
// that fails counts as readable, so that the receive after it reports the error.
bool WaitReadable(int fd, int timeoutSeconds) {
    using Clock = std::chrono::steady_clock;
    const bool unlimited = timeoutSeconds < 0 || timeoutSeconds > INT_MAX / 1000;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::seconds(unlimited ? 0 : timeoutSeconds);
    for (;;) {
        int waitMs = -1;
        if (!unlimited) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = static_cast<int>(std::max<int64_t>(0, left.count()));
        }
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, waitMs);
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return true;
    }
}

// Receive errors after which the connection is still usable.
bool KeepsConnection(int code) {
    return code == WSAEINTR || code == WSAEWOULDBLOCK || code == WSAEINPROGRESS ||
           code == WSAEMSGSIZE || code == WSAEOPNOTSUPP;
}

}  // namespace

// Holds a component across one of its events. A handler may close the component (which destroys
// a connection socket) or delete it outright: Alive() then turns false and the event goes no
// further. A destruction asked for by Close while the event runs is carried out when the
// outermost event of the component returns, so nothing on the stack is left pointing at freed
// memory, a handler suspended in a nested event loop included.
class TSock::EventScope {
  public:
    explicit EventScope(TSock* sock) : sock_(sock), life_(sock->life_) { ++sock->eventDepth_; }
    ~EventScope() {
        if (!*life_) return;
        if (--sock_->eventDepth_ == 0 && sock_->destroyPending_) delete sock_;
    }
    EventScope(const EventScope&) = delete;
    EventScope& operator=(const EventScope&) = delete;

    bool Alive() const { return *life_ && !sock_->destroyPending_; }

  private:
    TSock* sock_;
    std::shared_ptr<bool> life_;
};

TSock::TSock(QObject* parent)
    : QObject(parent), receiveArea_(kReceiveArea), stream_(std::make_unique<TSockStream>(*this)) {}

TSock::~TSock() {
    *life_ = false;
    // A blocking connection: its thread uses this object, so it must end first. Shutting the
    // socket down wakes a receive that waits without limit.
    if (worker_) {
        if (worker_->isRunning()) {
            std::lock_guard<std::mutex> lock(fdLock_);
            if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
        }
        worker_->wait();
        delete worker_;
        worker_ = nullptr;
    }
    if (listen_ || connected_) {
        try {
            Close();  // with the life token down, Close does not destroy a second time
        } catch (...) {
            ReportFailure(std::current_exception());
        }
    }
    ReleaseHandle();
    while (!owned_.empty()) delete owned_.back();  // each one leaves the list itself
    DetachFromOwner();
}

// --- Properties ------------------------------------------------------------------------------

void TSock::SetSocketType(TSocketType value) {
    if (listen_) throw ESockException("SocketType - Can't Assign Socket Type While Listening");
    if (connected_) throw ESockException("SocketType - Can't Assign Socket Type While Connected");
    socketType_ = value;
}

void TSock::SetHostName(const std::string& value) {
    const auto life = life_;
    if (connected_ && socketType_ == stStream) {
        Notice(siLookUp, "Setting HostName While Connected Has No Effect");
        if (!*life) return;
    }
    hostName_ = value;
}

void TSock::SetPortName(const std::string& value) {
    const auto life = life_;
    if (connected_) {
        Notice(siLookUp, "Setting PortName While Connected Has No Effect");
        if (!*life) return;
    }
    portName_ = value;
}

void TSock::SetLocalPortName(const std::string& value) {
    const auto life = life_;
    if (connected_) {
        Notice(siLookUp, "Setting LocalPortName While Connected Has No Effect");
        if (!*life) return;
    }
    localPortName_ = value;
}

void TSock::SetBlocking(bool value) {
    blocking_ = value;
    if (!loading_) ApplyBlocking();
}

void TSock::SetAutoAccept(bool value) {
    autoAccept_ = value;
    if (listen_ && readNotifier_) readNotifier_->setEnabled(true);
}

void TSock::SetListen(bool value) {
    if (loading_) {
        listen_ = value;
        return;
    }
    if (value) {
        StartListening();
    } else {
        StopListening();
    }
}

void TSock::EndLoading() {
    loading_ = false;
    ApplyBlocking();
    if (listen_) {
        listen_ = false;
        StartListening();
    }
}

// --- Listening -------------------------------------------------------------------------------

bool TSock::StartListen() {
    const auto life = life_;
    SetListen(true);
    return *life && listen_;
}

bool TSock::StopListen() {
    SetListen(false);
    return true;
}

// A failed start gives its socket back and leaves the component idle (no handle, Listen false),
// whatever step failed, so the operator can correct the port and simply start again.
void TSock::StartListening() {
    if (fd_ >= 0 && !listen_) throw ESockException("Listen - Socket Already In Use");
    if (socketType_ == stDatagram) {
        throw ESockException("Listen - Cannot Listen On A Datagram Socket");
    }
    if (listen_) {
        Notice(siListen, "Listening Already Running");
        return;
    }
    const auto life = life_;
    DescriptorGuard fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const uint16_t port = LookupPort(portName_);
    if (!*life) return;

    // The connections of a previous run that this side closed wait in TIME_WAIT for a minute;
    // without SO_REUSEADDR stopping and starting again would fail to bind until they are gone.
    // A port that another program listens on still fails: Linux never lets a second socket bind
    // a port while a socket on it is listening.
    const int one = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool addressOk = listenAddress_.empty() ||
                           ::inet_pton(AF_INET, listenAddress_.c_str(), &local.sin_addr) == 1;
    if (fd.Get() < 0 || !addressOk ||
        ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        throw ESockException("Listen - Error Binding Socket");
    }
    if (::listen(fd.Get(), kListenQueue) != 0)
        throw ESockException("Listen - Error Starting Listen");

    fd_ = fd.Release();
    listen_ = true;
    ApplyBlocking();  // a listener asks for the accept event only
    Notice(siListen, "Listening Started");
}

void TSock::StopListening() {
    if (fd_ >= 0 && !listen_) throw ESockException("Listen - Socket Already In Use");
    const auto life = life_;
    listen_ = false;
    Close();  // "Socket Closed", as Listen is already down
    if (*life) Notice(siListen, "Listening Stopped");
}

uint16_t TSock::LookupPort(const std::string& portName) {
    const std::string name = portName;  // the notice handler may change or destroy the original
    Notice(siLookUp, "Lookup Of Port " + name);
    if (!name.empty() && name[0] >= '0' && name[0] <= '9') {
        // Only the low 16 bits count: "70000" is port 4464.
        return static_cast<uint16_t>(common::StrToInt(name));
    }
    // An empty name is no service either, and fails the same way.
    if (!name.empty()) {
        if (const servent* entry = ::getservbyname(name.c_str(), "tcp")) {
            return ntohs(static_cast<uint16_t>(entry->s_port));
        }
    }
    throw ESockException("Port Lookup - Could Not Find Service Entry");
}

// --- Event registration ----------------------------------------------------------------------

void TSock::ApplyBlocking() {
    if (fd_ < 0) return;
    if (blocking_ && !listen_) {
        DropNotifiers();
        SetDescriptorBlocking(fd_, true);
        return;
    }
    SetDescriptorBlocking(fd_, false);
    if (listen_) {
        // One descriptor: the set would only add a hop to the accept event.
        if (!readNotifier_) {
            readNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
            connect(readNotifier_, &QSocketNotifier::activated, this, [this] { ReadReady(); });
        }
        readNotifier_->setEnabled(true);
        return;
    }
    if (readinessToken_ == 0 && !readNotifier_) {
        readiness_ = TSockReadiness::ForThisThread();
        readinessToken_ = readiness_->Add(fd_, this);
        if (readinessToken_ == 0) {
            readiness_.reset();
            MakeNotifiers();
        }
    }
    UpdateReadiness();
}

void TSock::MakeNotifiers() {
    readNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this] { ReadReady(); });
    writeNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, [this] { WriteReady(); });
}

// Writability is wanted only while the platform has refused part of the output; otherwise it
// would be reported on every pass of the loop.
void TSock::UpdateReadiness() {
    if (readinessToken_ != 0) {
        const uint32_t events =
            (readPaused_ ? 0u : uint32_t{EPOLLIN}) | (wantWrite_ ? uint32_t{EPOLLOUT} : 0u);
        if (readiness_->Watch(readinessToken_, events)) return;
        // The set refused (out of kernel memory): this connection falls back to notifiers.
        readiness_->Remove(readinessToken_);
        readinessToken_ = 0;
        readiness_.reset();
        MakeNotifiers();
    }
    if (readNotifier_) readNotifier_->setEnabled(!readPaused_);
    if (writeNotifier_) writeNotifier_->setEnabled(wantWrite_);
}

void TSock::ReadinessReady(uint32_t events) {
    const auto life = life_;
    if (events & EPOLLIN) {
        ReadReady();
        if (!*life) return;
    }
    // The read event may have closed the connection or sent the rest meanwhile.
    if ((events & EPOLLOUT) && fd_ >= 0 && wantWrite_) WriteReady();
}

// Deleting a notifier from its own activation is safe: it guards itself after emitting; the
// readiness set likewise outlives the pass that reports to this socket.
void TSock::DropNotifiers() {
    delete std::exchange(readNotifier_, nullptr);
    delete std::exchange(writeNotifier_, nullptr);
    if (readinessToken_ != 0) readiness_->Remove(std::exchange(readinessToken_, 0));
    readiness_.reset();
    wantWrite_ = false;
}

void TSock::PauseReading(bool paused) {
    readPaused_ = paused;
    if (!listen_) UpdateReadiness();
}

std::string TSock::TakeUnread(size_t limit) {
    std::string taken;
    taken.swap(receiveBuffer_);
    while (fd_ >= 0 && !listen_ && taken.size() < limit) {
        const size_t room = std::min(receiveArea_.size(), limit - taken.size());
        const ssize_t n = ::recv(fd_, receiveArea_.data(), room, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // nothing more now, the peer's close, or an error: the close follows
        taken.append(receiveArea_.data(), static_cast<size_t>(n));
    }
    return taken;
}

void TSock::UpdateWriteNotifier(bool platformFull) {
    if (listen_ || (readinessToken_ == 0 && !writeNotifier_)) return;
    wantWrite_ = platformFull && !pendingOutput_.empty();
    UpdateReadiness();
}

bool TSock::ReleaseHandle() {
    std::lock_guard<std::mutex> lock(fdLock_);
    if (fd_ < 0) return false;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return closed;
}

// --- Events ----------------------------------------------------------------------------------

// Readiness to read: a pending connection on a listener; on a connection data, the peer's close
// (a receive of nothing) or a failed connection (a receive error, such as a reset).
void TSock::ReadReady() {
    EventScope scope(this);
    try {
        if (listen_) {
            AcceptEvent(scope);
            return;
        }
        if (fd_ < 0) return;
        const ssize_t received = ::recv(fd_, receiveArea_.data(), receiveArea_.size(), 0);
        if (received > 0) {
            ReadEvent(scope, static_cast<size_t>(received));
        } else if (received == 0) {
            CloseEvent(scope, 0);
        } else if (!IsTransient(errno)) {
            CloseEvent(scope, WsaErrorFromErrno(errno));
        }
    } catch (...) {
        ReportFailure(std::current_exception());
    }
}

void TSock::ReadEvent(EventScope& scope, size_t received) {
    receiveBuffer_.append(receiveArea_.data(), received);
    Notice(siReceive, "Non-Blocking Incoming Data");
    if (!scope.Alive() || !OnRead) return;
    const TNotifyReadEvent handler = OnRead;  // survives the handler deleting this component
    handler(this, static_cast<int>(std::min<size_t>(receiveBuffer_.size(), INT_MAX)));
}

void TSock::CloseEvent(EventScope& scope, int error) {
    // The connection is over: no further events, not even inside a nested event loop of the
    // handlers below, which would otherwise see the same close again.
    DropNotifiers();
    try {
        if (error > 10000) Notice(siError, SocketErrorNotice(error));
        if (scope.Alive() && OnDisconnect) {
            const TNotifyEvent handler = OnDisconnect;
            handler(this);
        }
    } catch (...) {
        // Reported, and the close still happens: a dead connection must leave the list.
        ReportFailure(std::current_exception());
    }
    // A handler that closed the socket itself has done the close already.
    if (scope.Alive() && fd_ >= 0) Close();
}

void TSock::WriteReady() {
    EventScope scope(this);
    try {
        if (pendingOutput_.empty()) {
            UpdateWriteNotifier(false);
        } else {
            Send(std::string());  // sends the rest and re-arms the event if the platform is full
        }
        if (!scope.Alive()) return;
        Notice(siSend, "Non-Blocking Outgoing Data");
        if (!scope.Alive() || !OnWrite) return;
        const TNotifyEvent handler = OnWrite;
        handler(this);
    } catch (...) {
        ReportFailure(std::current_exception());
    }
}

void TSock::AcceptEvent(EventScope& scope) {
    if (!autoAccept_ || !OnAutoAccept) {
        // The connection stays pending. The event is not raised again until AutoAccept is set,
        // or it would be raised on every pass of the loop.
        if (readNotifier_) readNotifier_->setEnabled(false);
        if (OnAccept) {
            const TNotifyEvent handler = OnAccept;
            handler(this);
        }
        return;
    }
    // Every connection waiting now is taken in this one event. Taking one per pass of the
    // loop let terminals that connected during busy traffic wait behind every other event for
    // each of them in turn, long enough for their first messages to go unanswered.
    for (int taken = 0; taken < kAcceptsPerEvent; ++taken) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            if (err == EINTR || err == ECONNABORTED) continue;  // that one went away again
            if (IsTransient(err)) return;                       // nothing more waiting
            PauseAccept(kAcceptRestMs);
            Notice(siError, SocketErrorNotice(WsaErrorFromErrno(err)));
            return;
        }
        AcceptConnection(fd, peer);
        // The handlers may have stopped listening or destroyed this listener.
        if (!scope.Alive() || !listen_ || fd_ < 0 || !autoAccept_ || !OnAutoAccept) return;
    }
}

void TSock::PauseAccept(int milliseconds) {
    if (!readNotifier_) return;
    QSocketNotifier* notifier = readNotifier_;
    notifier->setEnabled(false);
    // Bound to the notifier: if listening stops meanwhile, the timer goes with it.
    QTimer::singleShot(milliseconds, notifier, [notifier] { notifier->setEnabled(true); });
}

void TSock::AcceptConnection(int fd, const sockaddr_in& peer) {
    peer_ = peer;
    // Two replies written back to back must leave at once, not wait for the peer's ack.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdle, sizeof kKeepIdle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepInterval, sizeof kKeepInterval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUserTimeoutMs, sizeof kUserTimeoutMs);

    auto* connection = new TSock();
    connection->owner_ = this;
    owned_.push_back(connection);
    connection->fd_ = fd;
    connection->socketType_ = stStream;
    connection->blocking_ = blocking_;
    connection->blockingTimeout_ = blockingTimeout_;
    connection->OnRead = OnRead;
    connection->OnWrite = OnWrite;
    connection->OnDisconnect = OnDisconnect;
    connection->OnInfo = OnInfo;
    connection->lineBreak_ = lineBreak_;
    connection->peer_ = peer;
    connection->connected_ = true;
    connection->freeOnClose_ = !blocking_;
    connection->ApplyBlocking();

    // Keeps the new socket allocated while it is announced, whatever its handlers do to it.
    // While it is alive and owned, this listener is alive too: destroying a listener destroys
    // the sockets it owns.
    EventScope connectionScope(connection);
    connection->SetPortName(portName_);
    if (!connectionScope.Alive()) return;
    connection->SetLocalPortName(localPortName_);
    if (!connectionScope.Alive()) return;
    connection->SetHostName(DottedQuad(peer.sin_addr));
    if (!connectionScope.Alive()) return;

    if (!blocking_) {
        const TNotifyAutoEvent handler = OnAutoAccept;
        handler(this, connection);
        return;
    }
    auto* thread = new TSockThread(this, connection, OnAutoAccept);
    connection->worker_ = thread;
    // The connection and its thread are destroyed together on this thread once the handler has
    // returned, unless the listener has destroyed them already.
    QPointer<TSock> done(connection);
    connect(thread, &QThread::finished, this, [done] { delete done.data(); });
    thread->start();
}

// --- Operations ------------------------------------------------------------------------------

bool TSock::Send(const std::string& text) {
    if (fd_ < 0) throw ESockException("Send - Socket Not Connected");
    if (listen_) throw ESockException("Send - Cannot Send On A Listener Socket");
    pendingOutput_ += text;
    lastSendError_ = 0;
    if (pendingOutput_.empty()) return true;
    if (blocking_) {
        SendBlocking();
        return true;
    }
    const auto life = life_;
    Notice(siSend, "Non-Blocking Outgoing Data");
    if (!*life || fd_ < 0 || pendingOutput_.empty()) return true;
    const ssize_t sent = ::send(fd_, pendingOutput_.data(), pendingOutput_.size(), MSG_NOSIGNAL);
    const int err = errno;
    if (sent > 0) pendingOutput_.erase(0, static_cast<size_t>(sent));
    if (sent < 0 && !IsTransient(err)) lastSendError_ = WsaErrorFromErrno(err);
    // Only a full platform buffer promises a write event. After a hard failure the bytes stay
    // unsent; the broken connection is reported by its read side.
    UpdateWriteNotifier(sent >= 0 || IsTransient(err));
    return true;
}

void TSock::SendBlocking() {
    while (!pendingOutput_.empty()) {
        if (fd_ < 0) throw ESockException("Send - Socket Not Connected");
        const ssize_t sent =
            ::send(fd_, pendingOutput_.data(), pendingOutput_.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            const int err = errno;
            if (err != EINTR && WsaErrorFromErrno(err) != WSAEINPROGRESS) {
                Notice(siError, "Socket Error On Send");
                throw ESockException("Send - Socket Error");
            }
        } else {
            pendingOutput_.erase(0, static_cast<size_t>(sent));
        }
        Notice(siSend, "Blocking Outgoing Data");
    }
}

std::string TSock::ReceiveCount(int count) {
    if (fd_ < 0 && receiveBuffer_.empty()) throw ESockException("Receive - Socket Not Connected");
    if (listen_) throw ESockException("Receive - Cannot Receive On A Listener Socket");
    if (blocking_) return ReceiveBlocking(count);
    // Only what the read events have gathered; nothing is read from the platform here.
    if (count == -1 || (count >= 0 && static_cast<size_t>(count) >= receiveBuffer_.size())) {
        return std::exchange(receiveBuffer_, std::string());
    }
    if (count <= 0) return std::string();
    std::string taken = receiveBuffer_.substr(0, static_cast<size_t>(count));
    receiveBuffer_.erase(0, static_cast<size_t>(count));
    return taken;
}

std::string TSock::ReceiveBlocking(int count) {
    const int size = (count == -1 || count > kReceiveArea) ? kReceiveArea : count;
    // A receive of no bytes would read as the peer's close, so a count of 0 waits for nothing.
    if (connected_ && size > 0 && WaitReadable(fd_, blockingTimeout_)) {
        Notice(siReceive, "Blocking Incoming Data");
        const ssize_t received = ::recv(fd_, receiveArea_.data(), static_cast<size_t>(size), 0);
        if (received < 0) {
            const int code = WsaErrorFromErrno(errno);
            receiveBuffer_.clear();
            Notice(siError, "Socket Error On Receive");
            if (!KeepsConnection(code)) DisconnectWith("Socket Disconnected On Error On Receive");
            throw ESockException("Receive - Socket Error " + SocketErrorName(code));
        }
        if (received > 0) {
            receiveBuffer_.append(receiveArea_.data(), static_cast<size_t>(received));
        } else {
            DisconnectWith("Socket Disconnected On Receive");
        }
    }
    return std::exchange(receiveBuffer_, std::string());
}

void TSock::DisconnectWith(const std::string& text) {
    Notice(siClose, text);
    Close();
    if (OnDisconnect) {
        const TNotifyEvent handler = OnDisconnect;
        handler(this);
    }
}

bool TSock::Close() {
    const auto life = life_;
    DropNotifiers();
    const bool closed = ReleaseHandle();
    connected_ = false;
    pendingOutput_.clear();  // nothing left to send it on
    if (!listen_) {
        try {
            Notice(siClose, "Socket Closed");
        } catch (...) {
            if (*life) {
                listen_ = false;
                if (freeOnClose_) DestroySelf();
            }
            throw;
        }
        if (!*life) return closed;
    }
    listen_ = false;
    if (freeOnClose_) DestroySelf();
    return closed;
}

std::string TSock::RemoteAddress() const { return DottedQuad(peer_.sin_addr); }

TSock* TSock::Connection(int index) const {
    if (index < 0 || index >= ConnectionCount()) return nullptr;
    return owned_[static_cast<size_t>(index)];
}

int TSock::IndexOf(const TSock* sock) const {
    const auto found = std::find(owned_.begin(), owned_.end(), sock);
    return found == owned_.end() ? -1 : static_cast<int>(found - owned_.begin());
}

// --- Helpers ---------------------------------------------------------------------------------

void TSock::Notice(TSocketInfo info, const std::string& text) {
    if (!OnInfo) return;
    const TNotifyInfoEvent handler = OnInfo;  // survives the handler deleting this component
    handler(this, info, text);
}

void TSock::DestroySelf() {
    if (!*life_ || destroyPending_) return;
    DetachFromOwner();  // leaves the list at once: the later connections move down now
    if (eventDepth_ > 0) {
        destroyPending_ = true;
    } else {
        delete this;
    }
}

void TSock::DetachFromOwner() {
    if (!owner_) return;
    auto& list = owner_->owned_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    owner_ = nullptr;
}

void TSock::ReportFailure(std::exception_ptr failure) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread()) {
        // A worker thread of a blocking listener: the failure box belongs to the main thread.
        QMetaObject::invokeMethod(
            app, [failure] { common::ReportUnhandled(failure); }, Qt::QueuedConnection);
        return;
    }
    common::ReportUnhandled(failure);
}
