// The TCP socket component: listens, accepts connections, moves their bytes and reports each step.
#pragma once

#include <netinet/in.h>

#include <QObject>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/Exception.h"
#include "receiver/link/SockReadiness.h"

class QSocketNotifier;
class TSock;
class TSockStream;
class TSockThread;

enum TSocketType { stStream, stDatagram };
enum TLineBreak { lbCRLF, lbCR, lbLF, lbSmart };
// The kind of a notice raised through OnInfo.
enum TSocketInfo { siLookUp, siConnect, siClose, siListen, siReceive, siSend, siAccept, siError };

// Raised by the component's operations; carries only its text.
class ESockException : public common::Exception {
  public:
    using Exception::Exception;
};

using TNotifyEvent = std::function<void(TSock* sender)>;
// Count: the number of bytes now held in the receive buffer.
using TNotifyReadEvent = std::function<void(TSock* sender, int count)>;
using TNotifyAutoEvent = std::function<void(TSock* listener, TSock* newSock)>;
using TNotifyInfoEvent =
    std::function<void(TSock* sender, TSocketInfo info, const std::string& msg)>;

// One TCP socket: either a listener that accepts connections and owns the connection sockets it
// creates, or one of those connection sockets. All platform events are turned into events of the
// component on the thread that owns it (the program's main thread), one at a time.
//
// Non-blocking mode (the one the receiver uses): readiness of a connection comes from the
// thread's one epoll set (TSockReadiness), that of a listener from a QSocketNotifier on its
// descriptor; nothing waits. Blocking mode: a listener still accepts from the event loop, but each
// connection is served on its own TSockThread whose OnAutoAccept handler calls Receive (waiting up
// to BlockingTimeout seconds) and Send (waiting until everything is taken).
//
// A failure that escapes a handler ends that event and goes to common::ReportUnhandled.
//
// Lifetime: a connection socket created by a non-blocking listener destroys itself when it is
// closed, by the program or after the peer closed it. A handler may close or delete the component
// that raised its event; the component is never touched after that, and one closed inside its own
// event stays allocated (closed, out of its listener's list) until that event has returned, so
// the handler may still ask it for its address. In blocking mode a connection socket belongs to
// its thread: handlers must not delete it. Destroying a listener destroys the connection sockets
// it still owns (closing them raises their "Socket Closed" notices), waiting for their threads.
class TSock : public QObject, private TSockReadiness::Client {
  public:
    explicit TSock(QObject* parent = nullptr);
    ~TSock() override;

    TSock(const TSock&) = delete;
    TSock& operator=(const TSock&) = delete;

    // --- Properties -----------------------------------------------------------------------
    TSocketType SocketType() const { return socketType_; }
    void SetSocketType(TSocketType value);
    // Peer host; on a connection socket the peer's address in dotted-quad form.
    const std::string& HostName() const { return hostName_; }
    void SetHostName(const std::string& value);
    // Port to listen on: a decimal number (low 16 bits taken) or a TCP service name.
    const std::string& PortName() const { return portName_; }
    void SetPortName(const std::string& value);
    // The local IPv4 address a listener accepts on, dotted quad; empty: every local interface.
    // Taken at the next start of listening.
    const std::string& ListenAddress() const { return listenAddress_; }
    void SetListenAddress(const std::string& value) { listenAddress_ = value; }
    // Kept and handed on to connection sockets; listening does not use it.
    const std::string& LocalPortName() const { return localPortName_; }
    void SetLocalPortName(const std::string& value);
    bool Blocking() const { return blocking_; }
    void SetBlocking(bool value);
    bool AutoAccept() const { return autoAccept_; }
    // Setting it also re-arms the accept event after a connection was left pending for OnAccept.
    void SetAutoAccept(bool value);
    bool Listen() const { return listen_; }
    void SetListen(bool value);
    // Kept and handed on to connection sockets; no operation here depends on it.
    TLineBreak LineBreak() const { return lineBreak_; }
    void SetLineBreak(TLineBreak value) { lineBreak_ = value; }
    // Seconds a blocking receive waits; negative waits without limit.
    int BlockingTimeout() const { return blockingTimeout_; }
    void SetBlockingTimeout(int value) { blockingTimeout_ = value; }

    // --- Events (raised only when set) ----------------------------------------------------
    TNotifyEvent OnConnect;  // an outgoing connection completed; this component never makes one
    TNotifyEvent OnDisconnect;
    TNotifyInfoEvent OnInfo;
    TNotifyReadEvent OnRead;
    TNotifyEvent OnWrite;
    TNotifyEvent OnAccept;
    TNotifyAutoEvent OnAutoAccept;

    // --- Operations -----------------------------------------------------------------------
    // Starts listening on PortName at ListenAddress; returns Listen afterwards. A failed
    // start raises and leaves the component idle (socket released, Listen false), so a later
    // start can succeed. An empty PortName fails like an unknown service name.
    bool StartListen();
    // Stops listening; the connection sockets stay open. Always true.
    bool StopListen();
    // Queues the text and sends what the platform takes now; the rest goes on the write event
    // (non-blocking) or is waited for (blocking). Always true when it returns.
    bool Send(const std::string& text);
    // The whole receive buffer, which is then empty.
    std::string Receive() { return ReceiveCount(-1); }
    // At most count bytes from the front of the receive buffer (-1: all).
    std::string ReceiveCount(int count);
    // Closes the socket; a connection socket of a non-blocking listener is destroyed by it.
    // Does not raise OnDisconnect. True if the platform closed a socket without error.
    bool Close();
    // The peer's address in dotted-quad form (on a listener, that of the last accepted one).
    std::string RemoteAddress() const;
    // Port number for a port name, with the lookup notice; raises for an unknown name.
    uint16_t LookupPort(const std::string& portName);

    // --- State ----------------------------------------------------------------------------
    bool Connected() const { return connected_; }
    bool FreeOnClose() const { return freeOnClose_; }
    // The platform descriptor, -1 when there is none.
    int Handle() const { return fd_; }
    // Bytes handed to Send and not yet taken by the platform.
    size_t PendingOutputSize() const { return pendingOutput_.size(); }
    // The Windows Sockets code of the platform's refusal of the last non-blocking Send (the
    // peer gone before its close event came), 0 when it took the bytes or had no room yet.
    // Send itself reports nothing; its bytes stay pending.
    int LastSendError() const { return lastSendError_; }
    // A connection that is not read (paused) takes nothing more from the platform: its bytes
    // wait in the system and TCP holds the peer back, so a peer cannot fill our memory while
    // what it sent earlier cannot be handled yet. Its close is seen once reading resumes.
    void PauseReading(bool paused);
    // What the peer has sent and nobody has read yet, taken at once without waiting and without
    // events (at most `limit` bytes): for a connection about to be closed by us, whose last
    // messages must still be handled.
    std::string TakeUnread(size_t limit);
    bool ReadingPaused() const { return readPaused_; }
    TSockStream& Stream() { return *stream_; }

    // The listener that owns this connection socket, or null.
    TSock* Owner() const { return owner_; }
    // The owned connection sockets in order of acceptance; a position is a connection index,
    // and the later ones move down by one when one of them is destroyed.
    int ConnectionCount() const { return static_cast<int>(owned_.size()); }
    TSock* Connection(int index) const;    // null when out of range
    int IndexOf(const TSock* sock) const;  // -1 when not owned

    // While a definition is being applied, SetListen and SetBlocking are only stored; EndLoading
    // applies Blocking and starts listening if Listen was stored as true.
    void BeginLoading() { loading_ = true; }
    void EndLoading();

  private:
    class EventScope;
    friend class TSockThread;
    friend class TSockStream;

    // Puts bytes taken but not wanted back in front of the receive buffer (the stream's reads).
    void Unreceive(const std::string& bytes) { receiveBuffer_.insert(0, bytes); }

    // Event registration for the current Blocking and Listen (accept only on a listener).
    void ApplyBlocking();
    void DropNotifiers();
    void UpdateWriteNotifier(bool platformFull);
    // Asks the readiness set (or, where it refused, the notifiers) for what is wanted now.
    void UpdateReadiness();
    void MakeNotifiers();
    void ReadinessReady(uint32_t events) override;
    // Closes the descriptor (under the lock that a destructor on another thread also takes).
    bool ReleaseHandle();

    void StartListening();
    void StopListening();

    // Entry points from the event loop.
    void ReadReady();
    void WriteReady();
    void AcceptEvent(EventScope& scope);
    void ReadEvent(EventScope& scope, size_t received);
    void CloseEvent(EventScope& scope, int error);
    void AcceptConnection(int fd, const sockaddr_in& peer);
    void PauseAccept(int milliseconds);

    std::string ReceiveBlocking(int count);
    void SendBlocking();
    void DisconnectWith(const std::string& text);

    void Notice(TSocketInfo info, const std::string& text);
    // Destruction asked for by Close with FreeOnClose: now, or when the running event returns.
    void DestroySelf();
    void DetachFromOwner();
    // Hands a failure that escaped a handler to the program's unhandled-failure report, on the
    // main thread.
    static void ReportFailure(std::exception_ptr failure);

    TSocketType socketType_ = stStream;
    std::string hostName_;
    std::string portName_;
    std::string listenAddress_;
    std::string localPortName_ = "-1";
    bool blocking_ = false;
    bool autoAccept_ = false;
    bool listen_ = false;
    TLineBreak lineBreak_ = lbSmart;
    int blockingTimeout_ = 0;

    int fd_ = -1;
    std::mutex fdLock_;  // Close on a worker thread against a wake-up from the main thread
    bool connected_ = false;
    std::string receiveBuffer_;
    std::string pendingOutput_;
    int lastSendError_ = 0;
    bool readPaused_ = false;
    sockaddr_in peer_{};
    bool freeOnClose_ = false;
    TSock* owner_ = nullptr;
    std::vector<TSock*> owned_;
    std::vector<char> receiveArea_;
    std::unique_ptr<TSockStream> stream_;
    TSockThread* worker_ = nullptr;  // blocking connection socket: the thread serving it

    QSocketNotifier* readNotifier_ = nullptr;  // accept event on a listener, read/close otherwise
    QSocketNotifier* writeNotifier_ = nullptr;
    // A connection's place in the readiness set (token 0: none); where the set refused it,
    // the two notifiers above serve instead.
    std::shared_ptr<TSockReadiness> readiness_;
    uint64_t readinessToken_ = 0;
    bool wantWrite_ = false;
    bool loading_ = false;

    // Re-entrancy: events of this component running now, a destruction waiting for them to
    // return, and a token that turns false when the destructor starts.
    int eventDepth_ = 0;
    bool destroyPending_ = false;
    std::shared_ptr<bool> life_ = std::make_shared<bool>(true);
};
