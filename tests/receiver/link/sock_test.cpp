// The socket component against plain POSIX peers on loopback, driven by the Qt event loop.
#include "receiver/link/Sock.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <mutex>

#include "common/SockErrors.h"
#include "common/Unhandled.h"
#include "receiver/link/SockStream.h"
#include "tests/support/PortaLivre.h"

namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "test_sock";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until the condition holds; false after five seconds.
template <class F>
bool SpinUntil(F condition, int timeoutMs = 5000) {
    QTimer tick;  // wakes the loop so the condition is looked at again
    tick.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A terminal stand-in: a plain blocking client socket on 127.0.0.1.
struct Client {
    explicit Client(uint16_t port, int receiveBuffer = 0) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(int));
        const sockaddr_in a = Loopback(port);
        connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { Close(); }
    void Send(const std::string& s) {
        ASSERT_EQ(::send(fd, s.data(), s.size(), 0), ssize_t(s.size()));
    }
    // Takes what has arrived; false once the server has closed.
    bool Drain() {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0) return false;
            if (n < 0) return true;
            got.append(buf, size_t(n));
        }
    }
    void Reset() {  // closing with a zero linger sends RST instead of FIN
        const linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        Close();
    }
    void Close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int fd = -1;
    bool connected = false;
    std::string got;
};

// The text of the failure an operation raises, or "no failure".
template <class F>
std::string FailureOf(F operation) {
    try {
        operation();
    } catch (const common::Exception& e) {
        return e.Message();
    }
    return "no failure";
}

const char* KindName(TSocketInfo k) {
    static const char* names[] = {"siLookUp",  "siConnect", "siClose",  "siListen",
                                  "siReceive", "siSend",    "siAccept", "siError"};
    return names[k];
}

class SockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        port = lumora::teste::PortaLivre();
        sock = new TSock();
        sock->SetPortName(std::to_string(port));
        sock->SetAutoAccept(true);
        sock->OnInfo = [this](TSock* s, TSocketInfo k, const std::string& m) {
            Add(std::string(KindName(k)) + (s == sock ? " " : " [c] ") + m);
        };
        sock->OnAutoAccept = [this](TSock*, TSock* c) {
            accepted.push_back(c);
            Add("accept");
        };
        sock->OnRead = [this](TSock* s, int n) {
            Add("read " + std::to_string(n) + " " + s->Receive());
        };
        sock->OnDisconnect = [this](TSock* s) {
            Add("disconnect " + std::to_string(sock->IndexOf(s)) + " " + s->RemoteAddress());
        };
    }
    void TearDown() override { delete sock.data(); }

    void Add(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        log.push_back(line);
    }
    bool Logged(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(log, {});
    }
    // Waits until the listener has accepted this client too. Clients that connected together
    // may all be accepted in one event, so the count is kept here, not taken before waiting.
    void Accept(Client& c) {
        ASSERT_TRUE(c.connected);
        ++expectedAccepts;
        ASSERT_TRUE(SpinUntil([&] { return accepted.size() >= expectedAccepts; }));
    }

    uint16_t port = 0;
    QPointer<TSock> sock;
    std::vector<QPointer<TSock>> accepted;
    size_t expectedAccepts = 0;
    std::mutex mutex;  // the blocking mode raises events on worker threads
    std::vector<std::string> log;
};

using Lines = std::vector<std::string>;

TEST_F(SockTest, ListeningStartsStopsAndLeavesConnectionsOpen) {
    EXPECT_TRUE(sock->StartListen());
    EXPECT_EQ(Take(), (Lines{"siLookUp Lookup Of Port " + std::to_string(port),
                             "siListen Listening Started"}));
    EXPECT_TRUE(sock->StartListen());
    EXPECT_EQ(Take(), (Lines{"siListen Listening Already Running"}));

    Client a(port);
    Accept(a);
    Take();
    EXPECT_TRUE(sock->StopListen());
    EXPECT_EQ(Take(), (Lines{"siClose Socket Closed", "siListen Listening Stopped"}));
    EXPECT_FALSE(sock->Listen());
    EXPECT_EQ(sock->Handle(), -1);
    EXPECT_FALSE(Client(port).connected);

    // The connection outlives the listening socket and still delivers its data.
    ASSERT_EQ(sock->ConnectionCount(), 1);
    a.Send("01;21;\r");
    ASSERT_TRUE(SpinUntil([&] { return Logged("read 7 01;21;\r"); }));
}

TEST_F(SockTest, FailedStartLeavesTheComponentIdleAndRestartable) {
    // A port another program listens on, even one that allows address reuse itself.
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in any = Loopback(port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    EXPECT_EQ(FailureOf([&] { sock->StartListen(); }), "Listen - Error Binding Socket");
    ::close(holder);
    EXPECT_FALSE(sock->Listen());
    EXPECT_EQ(sock->Handle(), -1);

    sock->SetPortName("");
    EXPECT_EQ(FailureOf([&] { sock->StartListen(); }),
              "Port Lookup - Could Not Find Service Entry");
    EXPECT_FALSE(sock->Listen());
    EXPECT_EQ(sock->Handle(), -1);

    // Connections closed by this side sit in TIME_WAIT; a restart must still bind.
    sock->SetPortName(std::to_string(port));
    ASSERT_TRUE(sock->StartListen());
    Client c(port);
    Accept(c);
    accepted[0]->Close();
    ASSERT_TRUE(SpinUntil([&] { return !c.Drain(); }));
    c.Close();
    sock->StopListen();
    EXPECT_TRUE(sock->StartListen());
}

TEST_F(SockTest, PortNamesResolveToPorts) {
    const servent* x11 = ::getservbyname("x11", "tcp");
    const std::string noService = "Port Lookup - Could Not Find Service Entry";
    const std::pair<std::string, std::string> cases[] = {
        {"70000", "4464"},
        {"2050", "2050"},
        {"65536", "0"},
        {"x11", x11 ? std::to_string(ntohs(uint16_t(x11->s_port))) : noService},
        {"", noService},
        {" 2050", noService},
        {"12ab", "'12ab' is not a valid integer value"},
    };
    for (const auto& [name, expected] : cases) {
        Take();
        std::string found;
        const std::string failure =
            FailureOf([&] { found = std::to_string(sock->LookupPort(name)); });
        EXPECT_EQ(found.empty() ? failure : found, expected) << name;
        EXPECT_EQ(Take().front(), "siLookUp Lookup Of Port " + name);
    }
    // Listening really uses the low 16 bits.
    sock->SetPortName(std::to_string(port + 65536));
    ASSERT_TRUE(sock->StartListen());
    Client c(port);
    Accept(c);
}

TEST_F(SockTest, AcceptAnnouncesTheNewConnection) {
    sock->SetLineBreak(lbCR);
    sock->StartListen();
    Take();
    Client c(port);
    Accept(c);
    EXPECT_EQ(Take(),
              (Lines{"siLookUp [c] Setting PortName While Connected Has No Effect",
                     "siLookUp [c] Setting LocalPortName While Connected Has No Effect",
                     "siLookUp [c] Setting HostName While Connected Has No Effect", "accept"}));
    TSock* conn = accepted[0];
    EXPECT_EQ(conn->HostName(), "127.0.0.1");
    EXPECT_EQ(conn->RemoteAddress(), "127.0.0.1");
    EXPECT_EQ(sock->RemoteAddress(), "127.0.0.1");
    EXPECT_EQ(conn->PortName(), sock->PortName());
    EXPECT_EQ(conn->LocalPortName(), "-1");
    EXPECT_EQ(conn->LineBreak(), lbCR);
    EXPECT_TRUE(conn->Connected() && conn->FreeOnClose());
    EXPECT_EQ(conn->Owner(), sock);
    EXPECT_EQ(sock->Connection(0), conn);
    int nodelay = 0;
    socklen_t len = sizeof nodelay;
    ::getsockopt(conn->Handle(), IPPROTO_TCP, TCP_NODELAY, &nodelay, &len);
    EXPECT_NE(nodelay, 0);
}

TEST_F(SockTest, EveryWaitingConnectionIsTakenInOneAcceptEvent) {
    // A busy receiver passes through its loop rarely; terminals that connect meanwhile must
    // not each wait one pass behind all other traffic.
    sock->StartListen();
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 10; ++i) clients.push_back(std::make_unique<Client>(port));
    // All ten are waiting to be accepted now; one pass of the loop takes them all.
    QCoreApplication::processEvents();
    EXPECT_EQ(sock->ConnectionCount(), 10);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(sock->Connection(i)->RemoteAddress(), "127.0.0.1");
    }
}

TEST_F(SockTest, ReadEventsDeliverWhateverHasArrived) {
    sock->StartListen();
    Client c(port);
    Accept(c);
    Take();
    c.Send("01;2");
    ASSERT_TRUE(SpinUntil([&] { return Logged("read 4 01;2"); }));
    c.Send("1;\r");
    ASSERT_TRUE(SpinUntil([&] { return Logged("read 3 1;\r"); }));
    c.Send(std::string("A\rB\0\r", 5));
    ASSERT_TRUE(SpinUntil([&] { return Logged(std::string("read 5 A\rB\0\r", 12)); }));
    EXPECT_EQ(Take(), (Lines{"siReceive [c] Non-Blocking Incoming Data", "read 4 01;2",
                             "siReceive [c] Non-Blocking Incoming Data", "read 3 1;\r",
                             "siReceive [c] Non-Blocking Incoming Data",
                             std::string("read 5 A\rB\0\r", 12)}));

    // Left in the buffer: counted, taken in parts, and never more than 32768 per event.
    TSock* conn = accepted[0];
    std::vector<int> counts;
    conn->OnRead = [&](TSock*, int n) { counts.push_back(n); };
    c.Send(std::string(100000, 'x') + "end");
    ASSERT_TRUE(SpinUntil([&] { return !counts.empty() && counts.back() == 100003; }));
    for (size_t i = 0; i < counts.size(); ++i)
        EXPECT_LE(counts[i] - (i ? counts[i - 1] : 0), 32768);
    EXPECT_EQ(conn->ReceiveCount(99990).size(), 99990u);
    EXPECT_EQ(conn->ReceiveCount(0), "");
    char tail[8] = {};
    EXPECT_EQ(conn->Stream().Read(tail, 8), 8);
    EXPECT_EQ(std::string(tail, 8), "xxxxxxxx");
    EXPECT_EQ(conn->Receive(), "xxend");
    EXPECT_EQ(conn->Receive(), "");
}

TEST_F(SockTest, StreamReadsTakeNeverMoreThanAsked) {
    sock->StartListen();
    Client c(port);
    Accept(c);
    TSock* conn = accepted[0];
    int held = 0;
    conn->OnRead = [&](TSock*, int n) { held = n; };  // left in the component's buffer
    c.Send("abcdef");
    ASSERT_TRUE(SpinUntil([&] { return held == 6; }));

    char area[16];
    std::fill(std::begin(area), std::end(area), '#');
    EXPECT_EQ(conn->Stream().Read(area, -1), 0);
    EXPECT_EQ(conn->Stream().Read(area, 0), 0);
    EXPECT_EQ(std::string(area, 16), std::string(16, '#'));

    // A blocking receive hands back the bytes left from before together with the new ones.
    conn->SetBlocking(true);
    c.Send("ghij");
    Spin(50);
    std::string taken;
    for (int n; (n = conn->Stream().Read(area, 4)) > 0;) {
        ASSERT_LE(n, 4);
        EXPECT_EQ(area[4], '#');
        taken.append(area, size_t(n));
    }
    EXPECT_EQ(taken, "abcdefghij");
}

TEST_F(SockTest, PeerCloseAndResetEndTheConnectionAndLaterIndexesMoveDown) {
    sock->StartListen();
    Client a(port), b(port), c(port), d(port);
    for (Client* x : {&a, &b, &c, &d}) Accept(*x);
    Take();

    b.Close();
    ASSERT_TRUE(SpinUntil([&] { return sock->ConnectionCount() == 3; }));
    EXPECT_EQ(Take(), (Lines{"disconnect 1 127.0.0.1", "siClose [c] Socket Closed"}));
    EXPECT_TRUE(accepted[1].isNull());
    EXPECT_EQ(sock->IndexOf(accepted[2]), 1);

    c.Reset();
    ASSERT_TRUE(SpinUntil([&] { return sock->ConnectionCount() == 2; }));
    EXPECT_EQ(Take(), (Lines{"siError [c] Error #10054 (WSAECONNRESET)", "disconnect 1 127.0.0.1",
                             "siClose [c] Socket Closed"}));
    EXPECT_EQ(sock->Connection(1), accepted[3]);

    // Data and close arriving together: the data's read event comes first.
    a.Send("bye");
    a.Close();
    ASSERT_TRUE(SpinUntil([&] { return sock->ConnectionCount() == 1; }));
    EXPECT_EQ(Take(), (Lines{"siReceive [c] Non-Blocking Incoming Data", "read 3 bye",
                             "disconnect 0 127.0.0.1", "siClose [c] Socket Closed"}));

    // Closed by the program: no disconnect event, gone from the list, the peer sees the end.
    EXPECT_TRUE(accepted[3]->Close());
    EXPECT_EQ(Take(), (Lines{"siClose [c] Socket Closed"}));
    EXPECT_TRUE(accepted[3].isNull());
    EXPECT_EQ(sock->ConnectionCount(), 0);
    EXPECT_TRUE(SpinUntil([&] { return !d.Drain(); }));
}

// A venue's 256 terminals share the one readiness set: each one's bytes reach its own read
// event, a paused connection hears nothing (not even its peer's reset) until it reads again,
// and every way a connection ends takes it out of the set.
TEST_F(SockTest, TwoHundredFiftySixConnectionsShareOneReadinessSet) {
    sock->OnInfo = nullptr;
    sock->StartListen();
    constexpr int kTerminais = 256;
    std::vector<std::unique_ptr<Client>> clientes;
    for (int i = 0; i < kTerminais; ++i) {
        clientes.push_back(std::make_unique<Client>(port));
        ASSERT_TRUE(clientes.back()->connected) << i;
        // Accepted as they come, or the listen queue fills and the next connect waits.
        if (i % 32 == 31) {
            ASSERT_TRUE(SpinUntil([&] { return sock->ConnectionCount() == i + 1; }));
        }
    }
    const auto conjunto = TSockReadiness::ForThisThread();
    EXPECT_EQ(conjunto->Size(), size_t{kTerminais});
    Take();

    std::vector<std::string> lido(kTerminais);
    for (int i = 0; i < kTerminais; ++i) {
        accepted[size_t(i)]->OnRead = [&lido, i](TSock* s, int) {
            lido[size_t(i)] += s->Receive();
        };
    }
    accepted[7]->PauseReading(true);
    for (int i = 0; i < kTerminais; ++i) clientes[size_t(i)]->Send("m" + std::to_string(i) + "\r");
    ASSERT_TRUE(SpinUntil([&] {
        for (int i = 0; i < kTerminais; ++i)
            if (i != 7 && lido[size_t(i)] != "m" + std::to_string(i) + "\r") return false;
        return true;
    }));
    clientes[7]->Reset();
    Spin(50);
    EXPECT_EQ(lido[7], "");
    EXPECT_FALSE(accepted[7].isNull());
    accepted[7]->PauseReading(false);
    // Once it reads again, the reset ends it.
    ASSERT_TRUE(SpinUntil([&] { return accepted[7].isNull(); }));
    EXPECT_TRUE(Logged("disconnect 7 127.0.0.1"));

    // Peers closing, peers resetting, the program closing: all leave the set.
    for (int i = 0; i < kTerminais; ++i) {
        if (i == 7) continue;
        if (i % 3 == 0) clientes[size_t(i)]->Close();
        if (i % 3 == 1) clientes[size_t(i)]->Reset();
        if (i % 3 == 2) accepted[size_t(i)]->Close();
    }
    ASSERT_TRUE(SpinUntil([&] { return sock->ConnectionCount() == 0; }));
    EXPECT_EQ(conjunto->Size(), 0u);
    for (int i = 0; i < kTerminais; i += 3) EXPECT_TRUE(accepted[size_t(i)].isNull()) << i;
}

TEST_F(SockTest, OperationsInTheWrongStateRaise) {
    EXPECT_EQ(FailureOf([&] { sock->Send("x"); }), "Send - Socket Not Connected");
    EXPECT_EQ(FailureOf([&] { sock->Receive(); }), "Receive - Socket Not Connected");
    sock->SetSocketType(stDatagram);
    EXPECT_EQ(FailureOf([&] { sock->StartListen(); }),
              "Listen - Cannot Listen On A Datagram Socket");
    sock->SetSocketType(stStream);
    sock->StartListen();
    EXPECT_EQ(FailureOf([&] { sock->Send("x"); }), "Send - Cannot Send On A Listener Socket");
    EXPECT_EQ(FailureOf([&] { sock->Receive(); }), "Receive - Cannot Receive On A Listener Socket");
    EXPECT_EQ(FailureOf([&] { sock->SetSocketType(stStream); }),
              "SocketType - Can't Assign Socket Type While Listening");
    Client c(port);
    Accept(c);
    EXPECT_EQ(FailureOf([&] { accepted[0]->SetSocketType(stStream); }),
              "SocketType - Can't Assign Socket Type While Connected");
    EXPECT_EQ(FailureOf([&] { accepted[0]->StartListen(); }), "Listen - Socket Already In Use");
}

// Run under the sanitizers: each handler ends the life of the socket whose event is running.
TEST_F(SockTest, HandlersMayCloseOrDestroyTheirOwnSocket) {
    sock->StartListen();
    const std::vector<std::function<void(TSock*)>> endings = {
        [](TSock* s) { s->Close(); },
        [](TSock* s) { delete s; },
        [](TSock* s) {
            s->Close();
            s->Close();
        },
    };
    for (const auto& ending : endings) {
        Client c(port);
        Accept(c);
        // Uses its own captures afterwards: the handler must outlive the socket's copy of it.
        accepted.back()->OnRead = [this, ending](TSock* s, int) {
            ending(s);
            Add("ended");
        };
        c.Send("x");
        EXPECT_TRUE(SpinUntil([&] { return accepted.back().isNull(); }));
    }
    Client c(port);
    Accept(c);
    accepted.back()->OnDisconnect = [](TSock* s) { s->Close(); };
    c.Close();
    EXPECT_TRUE(SpinUntil([&] { return accepted.back().isNull(); }));

    // The listener itself, from inside a connection's event.
    Client last(port);
    Accept(last);
    accepted.back()->OnRead = [&](TSock*, int) { delete sock.data(); };
    last.Send("x");
    EXPECT_TRUE(SpinUntil([&] { return sock.isNull() && accepted.back().isNull(); }));
    EXPECT_TRUE(SpinUntil([&] { return !last.Drain(); }));
}

// A modal box inside a handler runs a nested loop; the socket may close in it.
TEST_F(SockTest, SocketClosedDuringItsOwnEventStaysUsableUntilTheEventReturns) {
    sock->StartListen();
    Client c(port);
    Accept(c);
    std::string afterwards;
    accepted[0]->OnRead = [&](TSock* s, int) {
        QEventLoop nested;
        QTimer::singleShot(0, [&] { c.Close(); });
        s->OnDisconnect = [&](TSock*) { nested.quit(); };
        nested.exec();
        afterwards = s->RemoteAddress() + " " + std::to_string(sock->IndexOf(s));
        try {
            s->Send("late");
        } catch (const ESockException& e) {
            afterwards += " " + e.Message();
        }
    };
    c.Send("x");
    ASSERT_TRUE(SpinUntil([&] { return accepted[0].isNull(); }));
    EXPECT_EQ(afterwards, "127.0.0.1 -1 Send - Socket Not Connected");
}

TEST_F(SockTest, PendingOutputIsSentOnWriteEvents) {
    sock->StartListen();
    Client c(port, 4096);
    Accept(c);
    TSock* conn = accepted[0];
    int writes = 0;
    conn->OnWrite = [&](TSock*) { ++writes; };
    const int small = 4096;
    ::setsockopt(conn->Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    std::string big(1 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char('a' + i % 26);
    Take();
    EXPECT_TRUE(conn->Send(big));
    EXPECT_EQ(Take(), (Lines{"siSend [c] Non-Blocking Outgoing Data"}));
    ASSERT_GT(conn->PendingOutputSize(), 0u);

    ASSERT_TRUE(SpinUntil([&] { return c.Drain() && c.got.size() == big.size(); }, 20000));
    EXPECT_TRUE(c.got == big);
    EXPECT_EQ(conn->PendingOutputSize(), 0u);
    EXPECT_GT(writes, 0);
    // With nothing left to send the write event stays quiet.
    const int settled = writes;
    Spin(200);
    EXPECT_EQ(writes, settled);
}

TEST_F(SockTest, BlockingListenerServesEachConnectionOnItsOwnThread) {
    sock->SetBlocking(true);
    sock->SetBlockingTimeout(1);
    sock->OnAutoAccept = [this](TSock*, TSock* conn) {
        Add(QThread::currentThread() == App().thread() ? "main thread" : "worker thread");
        const std::string first = conn->Receive();
        if (first.empty()) return Add("timed out");
        conn->Send("pong:" + first);
        Add("after close '" + conn->Receive() + "'");
    };
    sock->StartListen();

    Client quiet(port);
    ASSERT_TRUE(SpinUntil([&] { return Logged("timed out"); }));
    ASSERT_TRUE(SpinUntil([&] { return sock->ConnectionCount() == 0; }));  // destroyed at the end
    Take();

    Client c(port);
    c.Send("ping");
    ASSERT_TRUE(SpinUntil([&] {
        c.Drain();
        return c.got == "pong:ping";
    }));
    c.Close();
    ASSERT_TRUE(SpinUntil(
        [&] { return sock->ConnectionCount() == 0 && Logged("siClose [c] Socket Closed"); }));
    EXPECT_EQ(
        Take(),
        (Lines{"siLookUp [c] Setting PortName While Connected Has No Effect",
               "siLookUp [c] Setting LocalPortName While Connected Has No Effect",
               "siLookUp [c] Setting HostName While Connected Has No Effect", "worker thread",
               "siReceive [c] Blocking Incoming Data", "siSend [c] Blocking Outgoing Data",
               "siReceive [c] Blocking Incoming Data", "siClose [c] Socket Disconnected On Receive",
               "siClose [c] Socket Closed", "disconnect 0 127.0.0.1", "after close ''"}));

    // Destroying the listener wakes a worker that waits without limit, and waits for it.
    sock->SetBlockingTimeout(-1);
    Client silent(port);
    ASSERT_TRUE(SpinUntil([&] { return Logged("worker thread"); }));
    delete sock.data();
    EXPECT_TRUE(Logged("timed out"));
}

TEST_F(SockTest, FailuresInHandlersAreReportedAndTheConnectionLivesOn) {
    std::vector<std::string> reported;
    common::SetUnhandledFailureHandler([&](const std::string& t) { reported.push_back(t); });
    sock->OnAutoAccept = [&](TSock* l, TSock* c) {
        accepted.push_back(c);
        throw ESockException("Accept failed in " + l->PortName());
    };
    sock->OnDisconnect = [](TSock*) { throw ESockException("Disconnect failed"); };
    sock->StartListen();
    Client c(port);
    Accept(c);
    EXPECT_EQ(reported, (Lines{"Accept failed in " + std::to_string(port) + "."}));
    EXPECT_EQ(sock->ConnectionCount(), 1);
    c.Send("still here");
    EXPECT_TRUE(SpinUntil([&] { return Logged("read 10 still here"); }));
    c.Close();
    EXPECT_TRUE(SpinUntil([&] { return sock->ConnectionCount() == 0; }));
    EXPECT_EQ(reported.back(), "Disconnect failed.");
    common::SetUnhandledFailureHandler(nullptr);
}

TEST_F(SockTest, WithoutAutoAcceptTheConnectionIsLeftPendingAndAnnouncedOnce) {
    int announced = 0;
    sock->SetAutoAccept(false);
    sock->OnAccept = [&](TSock*) { ++announced; };
    sock->StartListen();
    Client c(port);
    ASSERT_TRUE(SpinUntil([&] { return announced == 1; }));
    Spin(100);
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(sock->ConnectionCount(), 0);
    sock->SetAutoAccept(true);
    Accept(c);
}

TEST_F(SockTest, DestroyingTheListenerDestroysItsConnections) {
    sock->BeginLoading();
    sock->SetListen(true);
    EXPECT_EQ(sock->Handle(), -1);
    sock->EndLoading();
    ASSERT_TRUE(sock->Listen());
    Client a(port), b(port);
    Accept(a);
    Accept(b);
    Take();
    delete sock.data();
    EXPECT_TRUE(accepted[0].isNull() && accepted[1].isNull());
    EXPECT_EQ(Take(), (Lines{"siClose [c] Socket Closed", "siClose [c] Socket Closed"}));
    EXPECT_TRUE(SpinUntil([&] { return !a.Drain() && !b.Drain(); }));
}

TEST(SockErrors, CodesAndNames) {
    EXPECT_EQ(SocketErrorNotice(WsaErrorFromErrno(ECONNRESET)), "Error #10054 (WSAECONNRESET)");
    const std::pair<int, int> mapped[] = {{EAGAIN, 10035},       {ETIMEDOUT, 10060},
                                          {ECONNREFUSED, 10061}, {EHOSTUNREACH, 10065},
                                          {EPIPE, 10058},        {0, 0}};
    for (auto [err, code] : mapped) EXPECT_EQ(WsaErrorFromErrno(err), code) << err;
    const std::pair<int, const char*> named[] = {
        {10004, "WSAEINTR"},      {10071, "WSAEREMOTE"},        {10091, "WSASYSNOTREADY"},
        {10101, "WSAEDISCON"},    {11001, "WSAHOST_NOT_FOUND"}, {11004, "WSANO_DATA"},
        {10072, "UNKNOWN ERROR"}, {10000, "UNKNOWN ERROR"}};
    for (auto [code, name] : named) EXPECT_EQ(SocketErrorName(code), name);
    int known = 0;
    for (int code = 9000; code < 12000; ++code) known += SocketErrorName(code) != "UNKNOWN ERROR";
    EXPECT_EQ(known, 51);
}

}  // namespace
