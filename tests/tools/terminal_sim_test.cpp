// The terminal simulator: message bytes, framing, reply checks, and its behaviour as a
// peer of a small fake receiver on a free loopback port.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "LoadDriver.h"
#include "Script.h"
#include "TerminalSim.h"

using namespace termsim;
using std::chrono::milliseconds;

namespace {

const std::string kClock = "01;01;25;12;24;14;30;00;04;\r";  // a Wednesday
const std::string kRelease = "01;02;S;05;     Saida      ;    Liberada    ;\r";
const std::string kHandIn = "01;20;03;Por Favor Libere;   a Comanda    ;\r";

// Listens on a free port of 127.0.0.1 and plays the receiver's side: wake, clock message a
// little later, a release message for every release request and a hand-in for every card
// read, optionally late and in two pieces.
class FakeReceiver {
  public:
    struct Options {
        milliseconds clockDelay{50};
        bool answerCards = true;
        milliseconds replyDelay{0};
        milliseconds splitGap{0};  // > 0: the hand-in goes out in two pieces this far apart
        // > 0: the closeAt-th card read of every connection is not answered; the connection
        // is closed instead (after answering it, with closeAfterHandIn).
        int closeAt = 0;
        bool closeAfterHandIn = false;
        uint16_t port = 0;  // 0: a free one
    };

    explicit FakeReceiver(Options options) : options_(options) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        at.sin_port = htons(options.port);
        // A fake started again on the port of one that is gone, whose connections it closed.
        int reuse = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        socklen_t length = sizeof at;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
            ::listen(listen_, 64) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&at), &length) != 0)
            throw std::runtime_error("fake receiver cannot listen");
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this] { Loop(); });
    }
    FakeReceiver() : FakeReceiver(Options{}) {}
    ~FakeReceiver() {
        stop_ = true;
        thread_.join();
        for (auto& c : conns_)
            if (c.fd >= 0) ::close(c.fd);
        ::close(listen_);
    }

    uint16_t Port() const { return port_; }
    std::vector<std::string> Peers() { return Locked(peers_); }
    std::vector<std::string> Received() { return Locked(received_); }
    // What each connection received, in the order they were accepted.
    std::vector<std::vector<std::string>> ReceivedBy() { return Locked(receivedBy_); }
    // How each connection ended, in order: 0 for an orderly close, else the errno.
    std::vector<int> Endings() { return Locked(endings_); }

    bool WaitUntil(const std::function<bool()>& done, milliseconds timeout = milliseconds(3000)) {
        auto deadline = SteadyClock::now() + timeout;
        while (!done()) {
            if (SteadyClock::now() > deadline) return false;
            std::this_thread::sleep_for(milliseconds(5));
        }
        return true;
    }

  private:
    struct Conn {
        int fd;
        std::string buffer;
        std::size_t index = 0;
        int cards = 0;
    };

    template <typename T>
    T Locked(const T& value) {
        std::lock_guard lock(mutex_);
        return value;
    }

    void Loop() {
        while (!stop_) {
            std::vector<pollfd> fds{{listen_, POLLIN, 0}};
            for (auto& c : conns_)
                fds.push_back({c.fd, static_cast<short>(c.fd < 0 ? 0 : POLLIN), 0});
            if (::poll(fds.data(), fds.size(), 10) <= 0) continue;
            if (fds[0].revents & POLLIN) Accept();
            for (std::size_t k = 1; k < fds.size(); ++k)
                if (fds[k].revents != 0) Read(conns_[k - 1]);
        }
    }

    void Accept() {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int fd = ::accept(listen_, reinterpret_cast<sockaddr*>(&peer), &length);
        if (fd < 0) return;
        {
            std::lock_guard lock(mutex_);
            peers_.push_back(inet_ntoa(peer.sin_addr));
            receivedBy_.emplace_back();
        }
        conns_.push_back({fd, {}, conns_.size()});
        Write(fd, "$");
        std::this_thread::sleep_for(options_.clockDelay);
        Write(fd, kClock);
    }

    void Read(Conn& c) {
        char buffer[1024];
        ssize_t got = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            std::lock_guard lock(mutex_);
            endings_.push_back(got == 0 ? 0 : errno);
            ::close(c.fd);
            c.fd = -1;
            return;
        }
        if (c.fd < 0) return;
        c.buffer.append(buffer, static_cast<std::size_t>(got));
        for (auto cr = c.buffer.find('\r'); cr != std::string::npos; cr = c.buffer.find('\r')) {
            std::string message = c.buffer.substr(0, cr + 1);
            c.buffer.erase(0, cr + 1);
            {
                std::lock_guard lock(mutex_);
                received_.push_back(message);
                receivedBy_[c.index].push_back(message);
            }
            if (message.starts_with("01;21;")) Write(c.fd, kRelease);
            if (!message.starts_with("01;09;")) continue;
            if (++c.cards == options_.closeAt) {
                if (options_.closeAfterHandIn) AnswerCard(c.fd);
                ::close(c.fd);
                c.fd = -1;
                return;
            }
            if (options_.answerCards) AnswerCard(c.fd);
        }
    }

    void AnswerCard(int fd) {
        std::this_thread::sleep_for(options_.replyDelay);
        if (options_.splitGap.count() == 0) return Write(fd, kHandIn);
        Write(fd, kHandIn.substr(0, 10));
        std::this_thread::sleep_for(options_.splitGap);
        Write(fd, kHandIn.substr(10));
    }

    static void Write(int fd, const std::string& bytes) {
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

    Options options_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::vector<Conn> conns_;  // the fake's own thread only
    std::mutex mutex_;
    std::vector<std::string> peers_, received_;
    std::vector<std::vector<std::string>> receivedBy_;
    std::vector<int> endings_;
};

TEST(TerminalMessages, BuildersWriteTheExactBytes) {
    struct Case {
        std::string built, bytes;
    } cases[] = {
        {BuildCardRead("01", "0000000000001234", {25, 12, 24, 14, 31, 5}),
         "01;09;;0000000000001234;;25;12;24;14;31;05;\r"},
        {BuildCardRead("7", "1234", {1, 2, 2003, 4, 5, 6}), "7;09;;1234;;01;02;03;04;05;06;\r"},
        {BuildTurnstileResult("01", "G"), "01;10;G;;\r"},
        {BuildTurnstileResult("01", ""), "01;10;;;\r"},
        {BuildReleaseRequest("01"), "01;21;\r"},
    };
    for (const auto& c : cases) EXPECT_EQ(Visible(c.built), Visible(c.bytes));
}

TEST(TerminalMessages, SplitterCutsFramesHoweverTheBytesArrive) {
    struct Case {
        std::vector<std::string> chunks;
        std::vector<std::vector<std::string>> framesAfterEach;
        std::string pending;
    } cases[] = {
        // The wake stands alone without CR, also when the clock message follows at once.
        {{"$"}, {{"$"}}, ""},
        {{"$" + kClock}, {{"$", kClock}}, ""},
        // A reply in pieces is one frame, complete only with its CR.
        {{"01;02;S;", "05;  ", "x;y;\r"}, {{}, {}, {"01;02;S;05;  x;y;\r"}}, ""},
        // Several in one read, the rest of a third kept for later.
        {{"01;21;\r01;03;05;a;b;\r01;2"}, {{"01;21;\r", "01;03;05;a;b;\r"}}, "01;2"},
        // A line feed after a CR belongs to the next frame.
        {{"ab\r\n01;\r"}, {{"ab\r", "\n01;\r"}}, ""},
    };
    for (const auto& c : cases) {
        FrameSplitter splitter;
        for (std::size_t i = 0; i < c.chunks.size(); ++i) {
            splitter.Feed(c.chunks[i]);
            std::vector<std::string> frames;
            while (auto frame = splitter.Next()) frames.push_back(*frame);
            EXPECT_EQ(frames, c.framesAfterEach[i])
                << "chunk " << i << " of " << Visible(c.chunks[0]);
        }
        EXPECT_EQ(splitter.Pending(), c.pending);
    }
}

TEST(TerminalMessages, RepliesAreCheckedAgainstTheFormat) {
    struct Case {
        std::string frame;
        ReplyKind kind;
        std::string problem;  // empty: well formed; else a piece of the complaint
    } cases[] = {
        {"$", ReplyKind::Wake, ""},
        {kClock, ReplyKind::Clock, ""},
        {"01;01;29;12;24;00;00;00;01;\r", ReplyKind::Clock, ""},  // Sunday
        {"01;01;28;12;24;23;59;59;07;\r", ReplyKind::Clock, ""},  // Saturday
        {"01;01;25;12;24;14;30;00;05;\r", ReplyKind::Clock, "does not match"},
        {"01;01;5;12;24;14;30;00;04;\r", ReplyKind::Clock, "dd;mm;yy"},
        {"01;01;31;02;24;14;30;00;05;\r", ReplyKind::Clock, "does not exist"},
        {"01;01;25;12;24;24;30;00;04;\r", ReplyKind::Clock, "hh;nn;ss"},
        {"01;01;25;12;24;14;30;00;\r", ReplyKind::Clock, "8 fields"},
        {kRelease, ReplyKind::Release, ""},
        {"01;02;S;5;     Saida      ;    Liberada    ;\r", ReplyKind::Release, "time value"},
        {"01;02;N;05;     Saida      ;    Liberada    ;\r", ReplyKind::Release, "'S'"},
        {"01;03;05;     Saida      ;   Bloqueada    ;\r", ReplyKind::Refusal, ""},
        {"01;03;05;     Saida     ;   Bloqueada    ;\r", ReplyKind::Refusal, "not 16"},
        {kHandIn, ReplyKind::HandIn, ""},
        {"01;20;300;Por Favor Libere;   a Comanda    ;\r", ReplyKind::HandIn, ""},
        {"01;20;03;Por Favor Libere;   a Comanda    \r", ReplyKind::HandIn, "';'"},
        {"01;20;03;Por Favor Libere;   a Comanda    ;", ReplyKind::HandIn, "no CR"},
        {"$01;20;03;Por Favor Libere;   a Comanda    ;\r", ReplyKind::HandIn, "'$'"},
        {"01;07;\r", ReplyKind::Other, "unknown code"},
    };
    for (const auto& c : cases) {
        Reply reply = ParseReply(c.frame);
        EXPECT_EQ(reply.kind, c.kind) << Visible(c.frame);
        if (c.problem.empty())
            EXPECT_TRUE(reply.WellFormed()) << Visible(c.frame) << ": " << reply.problem;
        else
            EXPECT_NE(reply.problem.find(c.problem), std::string::npos)
                << Visible(c.frame) << ": " << reply.problem;
    }

    auto clock = ParseClock(ParseReply(kClock));
    ASSERT_TRUE(clock);
    EXPECT_EQ(clock->equipment, "01");
    EXPECT_EQ((std::vector{clock->day, clock->month, clock->year, clock->hour, clock->minute,
                           clock->second, clock->dayOfWeek}),
              (std::vector{25, 12, 24, 14, 30, 0, 4}));
    auto release = ParseDisplayReply(ParseReply(kRelease));
    ASSERT_TRUE(release);
    EXPECT_EQ(release->seconds, 5);
    EXPECT_EQ(release->line2, "    Liberada    ");
    EXPECT_FALSE(ParseDisplayReply(ParseReply(kClock)));
}

TEST(TerminalMessages, ScriptStepsAndEscapes) {
    EXPECT_EQ(ParseStep("raw 01;21;\\r").text, "01;21;\r");
    EXPECT_EQ(ParseStep("raw \\x24\\x0d\\\\").text, "$\r\\");
    EXPECT_EQ(ParseStep("raw  two blanks ").text, " two blanks ");
    EXPECT_EQ(ParseStep("turn").text, "");
    EXPECT_EQ(ParseStep("expect wake").text, "$");
    EXPECT_EQ(ParseStep("expect 20 250").ms, milliseconds(250));
    EXPECT_EQ(ParseStep("expect none").kind, Step::ExpectNone);
    Step card = ParseStep("card 1234 25/12/24 14:31:05");
    ASSERT_TRUE(card.at);
    EXPECT_EQ(BuildCardRead("01", card.text, *card.at), "01;09;;1234;;25;12;24;14;31;05;\r");
    for (const char* bad : {"card", "card 1 25/12/24", "jump 3", "wait x", "raw \\q", "release 2"})
        EXPECT_THROW(ParseStep(bad), SimError) << bad;

    std::istringstream script("# greeting\nexpect $\n\n  expect 01\nrelease\nbogus\n");
    try {
        ParseScript(script);
        ADD_FAILURE() << "a bad line was accepted";
    } catch (const SimError& e) {
        EXPECT_NE(std::string(e.what()).find("line 6"), std::string::npos) << e.what();
    }
}

TEST(SimTerminalNetwork, OnlyLoopbackAddressesAreUsed) {
    for (const char* ok : {"127.0.0.1", "127.0.0.5", "127.255.255.254", "127.1.2.3"})
        EXPECT_EQ(AddressText(LoopbackAddress(ok)), ok);
    EXPECT_EQ(AddressText(LoopbackAddress("localhost")), "127.0.0.1");
    for (const char* bad : {"10.0.0.1", "0.0.0.0", "127.0.0.0", "127.255.255.255", "128.0.0.1",
                            "192.168.1.10", "255.255.255.255", "example.com", "127.1", ""})
        EXPECT_THROW(LoopbackAddress(bad), SimError) << bad;

    EXPECT_EQ(NthLoopbackAddress("127.0.0.5", 0), "127.0.0.5");
    EXPECT_EQ(NthLoopbackAddress("127.0.0.254", 2), "127.0.1.0");
    EXPECT_THROW(NthLoopbackAddress("127.255.255.253", 2), SimError);

    // Refused before any socket exists: nothing leaves the machine.
    SimTerminal terminal;
    EXPECT_THROW(terminal.Connect("192.0.2.1", 2050), SimError);
    EXPECT_THROW(terminal.Connect("127.0.0.1", 2050, "192.0.2.7"), SimError);
    EXPECT_FALSE(terminal.Connected());
}

TEST(SimTerminalNetwork, ConnectsFromItsSourceAndFramesTheGreeting) {
    FakeReceiver receiver;
    SimTerminal first, second;
    first.Connect("127.0.0.1", receiver.Port(), "127.0.0.5");
    auto wake = first.WaitMessage(milliseconds(2000));
    second.Connect("127.0.0.1", receiver.Port(), NthLoopbackAddress("127.0.0.5", 1));
    EXPECT_EQ(first.LocalAddress(), "127.0.0.5");
    ASSERT_TRUE(receiver.WaitUntil([&] { return receiver.Peers().size() == 2; }));
    EXPECT_EQ(receiver.Peers(), (std::vector<std::string>{"127.0.0.5", "127.0.0.6"}));

    // The wake is delivered on its own, before the clock message has even been sent.
    ASSERT_TRUE(wake);
    EXPECT_EQ(wake->bytes, "$");
    auto clock = first.WaitMessage(milliseconds(2000));
    ASSERT_TRUE(clock);
    EXPECT_EQ(clock->bytes, kClock);
    EXPECT_GE(clock->at - wake->at, milliseconds(40));

    auto sent = first.SendReleaseRequest();
    auto reply = first.WaitMessage(milliseconds(2000));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes, kRelease);
    EXPECT_GE(reply->at, sent);
    EXPECT_EQ(receiver.Received(), std::vector<std::string>{"01;21;\r"});

    auto before = SteadyClock::now();
    EXPECT_FALSE(first.WaitMessage(milliseconds(100)));
    EXPECT_GE(SteadyClock::now() - before, milliseconds(100));
    EXPECT_FALSE(first.PeerClosed());
}

TEST(SimTerminalNetwork, CloseEndsOrderlyAndAbortResets) {
    FakeReceiver receiver(FakeReceiver::Options{milliseconds(0)});
    SimTerminal orderly, abortive;
    // Both greet frames are taken first: a reset crossing the fake's own send would be
    // reported to that send instead of to its read.
    orderly.Connect("127.0.0.1", receiver.Port(), "127.0.0.7");
    ASSERT_TRUE(orderly.WaitMessage(milliseconds(2000)));
    ASSERT_TRUE(orderly.WaitMessage(milliseconds(2000)));
    orderly.Close();
    ASSERT_TRUE(receiver.WaitUntil([&] { return receiver.Endings().size() == 1; }));

    abortive.Connect("127.0.0.1", receiver.Port(), "127.0.0.8");
    ASSERT_TRUE(abortive.WaitMessage(milliseconds(2000)));
    ASSERT_TRUE(abortive.WaitMessage(milliseconds(2000)));
    abortive.Abort();
    ASSERT_TRUE(receiver.WaitUntil([&] { return receiver.Endings().size() == 2; }));
    EXPECT_EQ(receiver.Endings(), (std::vector<int>{0, ECONNRESET}));
    EXPECT_THROW(abortive.SendReleaseRequest(), SimError);
}

TEST(LoadDriver, TimesEveryReplyToItsLastByte) {
    FakeReceiver receiver(
        FakeReceiver::Options{milliseconds(5), true, milliseconds(10), milliseconds(20)});
    LoadConfig config;
    config.port = receiver.Port();
    config.terminals = 3;
    config.source = "127.0.0.21";
    config.cycles = 3;
    config.awaitGreeting = true;
    LoadSummary summary = RunLoad(config);

    EXPECT_EQ(summary.failedTerminals, 0) << summary.Format();
    EXPECT_EQ(summary.cycles, 9);
    EXPECT_EQ(summary.replies, 9);
    EXPECT_EQ(summary.handIns, 9);
    EXPECT_EQ(summary.messagesSent, 18);
    EXPECT_EQ(summary.greetings, 6);
    EXPECT_EQ(summary.unexpected, 0);
    ASSERT_EQ(summary.latencies.size(), 9u);
    // Each hand-in comes 10 ms after the card read, its last piece 20 ms later still.
    for (auto latency : summary.latencies) {
        EXPECT_GE(latency, milliseconds(30));
        EXPECT_LT(latency, milliseconds(1000));
    }
    EXPECT_GE(summary.elapsed, milliseconds(90));
    EXPECT_GT(summary.RepliesPerSecond(), 0);

    // The last turnstile results may still be on their way to the fake.
    auto results = [&] {
        auto received = receiver.Received();
        return std::count(received.begin(), received.end(), "01;10;G;;\r");
    };
    EXPECT_TRUE(receiver.WaitUntil([&] { return results() == 9; })) << results();
    auto received = receiver.Received();
    EXPECT_EQ(std::count_if(
                  received.begin(), received.end(),
                  [](const std::string& m) { return m.starts_with("01;09;;0000000000001234;;"); }),
              9);
    EXPECT_EQ(receiver.Peers(),
              (std::vector<std::string>{"127.0.0.21", "127.0.0.22", "127.0.0.23"}));
}

TEST(LoadDriver, AnIntervalPacesTheCyclesOfEachTerminal) {
    FakeReceiver receiver(FakeReceiver::Options{milliseconds(0), true});
    LoadConfig config;
    config.port = receiver.Port();
    config.terminals = 2;
    config.source = "127.0.0.31";
    config.cycles = 4;
    config.interval = milliseconds(80);
    const auto start = SteadyClock::now();
    LoadSummary summary = RunLoad(config);
    EXPECT_EQ(summary.failedTerminals, 0) << summary.Format();
    EXPECT_EQ(summary.cycles, 8);
    // Four cycles 80 ms apart take at least three intervals; replies themselves are quick.
    EXPECT_GE(SteadyClock::now() - start, milliseconds(240));
    for (auto latency : summary.latencies) EXPECT_LT(latency, milliseconds(80));
}

TEST(LoadDriver, SilentReceiverFailsTheTerminalAndPercentilesUseNearestRank) {
    FakeReceiver receiver(FakeReceiver::Options{milliseconds(0), false});
    LoadConfig config;
    config.port = receiver.Port();
    config.cycles = 5;
    config.replyTimeout = milliseconds(150);
    LoadSummary silent = RunLoad(config);
    EXPECT_EQ(silent.failedTerminals, 1);
    EXPECT_EQ(silent.replies, 0);
    EXPECT_EQ(silent.messagesSent, 1);
    EXPECT_EQ(silent.lost, 1);
    ASSERT_EQ(silent.longestSilence.size(), 1u);
    EXPECT_GE(silent.longestSilence[0], milliseconds(150));
    ASSERT_FALSE(silent.problems.empty());
    EXPECT_NE(silent.problems[0].find("no reply"), std::string::npos) << silent.problems[0];

    LoadSummary summary;
    for (int ms = 100; ms >= 1; --ms) summary.latencies.push_back(milliseconds(ms));
    EXPECT_EQ(summary.Percentile(50), milliseconds(50));
    EXPECT_EQ(summary.Percentile(99), milliseconds(99));
    EXPECT_EQ(summary.Max(), milliseconds(100));
    summary.latencies = {milliseconds(5), milliseconds(1), milliseconds(3)};
    EXPECT_EQ(summary.Percentile(50), milliseconds(3));
    EXPECT_EQ(summary.Percentile(99), milliseconds(5));
}

TEST(LoadDriver, AConnectionThatDropsIsMadeAgainOnlyWhenAsked) {
    // The fake closes every connection at its third card read instead of answering it.
    struct Case {
        bool reconnect;
        int failed;
        long cycles, lost, reconnections;
        std::size_t connections;
    } cases[] = {
        // Each terminal: two answered, the third lost, and there it stops.
        {false, 2, 4, 2, 0, 2},
        // Seven card reads each, over three connections: 2 + 2 + 1 answered, 2 lost.
        {true, 0, 10, 4, 4, 6},
    };
    for (const auto& c : cases) {
        FakeReceiver::Options options{milliseconds(0)};
        options.closeAt = 3;
        FakeReceiver receiver(options);
        LoadConfig config;
        config.port = receiver.Port();
        config.terminals = 2;
        config.source = "127.0.0.41";
        config.cycles = 7;
        config.reconnect = c.reconnect;
        config.reconnectDelay = milliseconds(10);
        LoadSummary summary = RunLoad(config);
        SCOPED_TRACE(c.reconnect ? "reconnecting" : "not reconnecting");
        EXPECT_EQ(summary.failedTerminals, c.failed) << summary.Format();
        EXPECT_EQ(summary.cycles, c.cycles);
        EXPECT_EQ(summary.lost, c.lost);
        EXPECT_EQ(summary.reconnections, c.reconnections);
        EXPECT_EQ(summary.unexpected, 0);
        ASSERT_TRUE(receiver.WaitUntil([&] { return receiver.Peers().size() == c.connections; }))
            << receiver.Peers().size();
        // A terminal comes back from its own address, which is how the receiver knows it.
        auto peers = receiver.Peers();
        EXPECT_EQ(std::count(peers.begin(), peers.end(), "127.0.0.41"),
                  static_cast<long>(c.connections / 2));
        // A lost reply counts in the terminal's time without an answer: to the end when
        // nothing came after it.
        ASSERT_EQ(summary.longestSilence.size(), 2u);
        EXPECT_GT(summary.LongestSilence(), milliseconds(0));
    }
}

TEST(LoadDriver, ATurnstileResultDueWhenTheConnectionDropsGoesOutOnTheNextOne) {
    // The first card read of every connection is answered, then the connection is closed,
    // while the visitor is still walking through.
    FakeReceiver::Options options{milliseconds(0)};
    options.closeAt = 1;
    options.closeAfterHandIn = true;
    FakeReceiver receiver(options);
    LoadConfig config;
    config.port = receiver.Port();
    config.source = "127.0.0.45";
    config.cycles = 3;
    config.turnDelay = milliseconds(100);
    config.reconnect = true;
    config.reconnectDelay = milliseconds(10);
    LoadSummary summary = RunLoad(config);
    EXPECT_EQ(summary.failedTerminals, 0) << summary.Format();
    EXPECT_EQ(summary.cycles, 3);
    EXPECT_EQ(summary.handIns, 3);
    EXPECT_EQ(summary.lost, 0);
    EXPECT_EQ(summary.reconnections, 3);
    EXPECT_EQ(summary.resultsCarried, 3);
    ASSERT_TRUE(receiver.WaitUntil([&] {
        auto by = receiver.ReceivedBy();
        return by.size() == 4 && !by[3].empty();
    }));
    auto by = receiver.ReceivedBy();
    EXPECT_EQ(by[0].size(), 1u);
    for (std::size_t k = 1; k < by.size(); ++k) {
        ASSERT_FALSE(by[k].empty()) << k;
        EXPECT_EQ(by[k][0], "01;10;G;;\r") << "connection " << k;
    }
}

TEST(LoadDriver, ReconnectionBacksOffWhileTheReceiverIsGone) {
    auto receiver = std::make_unique<FakeReceiver>(FakeReceiver::Options{milliseconds(0)});
    const uint16_t port = receiver->Port();
    LoadConfig config;
    config.port = port;
    config.source = "127.0.0.47";
    config.duration = milliseconds(1800);
    config.interval = milliseconds(20);
    config.reconnect = true;
    config.reconnectDelay = milliseconds(20);
    config.reconnectMaxDelay = milliseconds(160);
    LoadSummary summary;
    std::thread load([&] { summary = RunLoad(config); });

    std::this_thread::sleep_for(milliseconds(300));
    receiver.reset();  // killed: its connections closed, its port refusing
    const auto gone = SteadyClock::now();
    std::this_thread::sleep_for(milliseconds(700));
    FakeReceiver::Options again{milliseconds(0)};
    again.port = port;
    receiver = std::make_unique<FakeReceiver>(again);
    const auto back = SteadyClock::now();
    load.join();

    EXPECT_EQ(summary.failedTerminals, 0) << summary.Format();
    EXPECT_EQ(summary.reconnections, 1);
    EXPECT_LE(summary.lost, 1);
    // Tries 20, 40, 80, 160, 160 ... ms apart: a handful in 0.7 s, not one every 20 ms.
    EXPECT_GE(summary.failedReconnects, 3) << summary.Format();
    EXPECT_LE(summary.failedReconnects, 9) << summary.Format();
    // Answered again within one back-off step of the receiver's return.
    EXPECT_GE(summary.LongestSilence(), back - gone);
    EXPECT_LT(summary.LongestSilence(), back - gone + milliseconds(500)) << summary.Format();
    auto received = receiver->Received();
    EXPECT_GT(std::count_if(received.begin(), received.end(),
                            [](const std::string& m) { return m.starts_with("01;09;"); }),
              5);
}

}  // namespace
