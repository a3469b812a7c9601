// The module simulator, talked to over loopback with plain UDP sockets from inside a private
// network namespace, as the manager will talk to it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ModuleSim.h"
#include "ModuleArgs.h"
#include "PrivateNetwork.h"
#include "tests/support/RedePrivada.h"

using namespace modsim;
using namespace std::chrono_literals;
using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

namespace {

std::string semRedePrivada;  // why there is no private namespace; empty when there is one

struct Datagram {
    std::string text;
    std::string from;
    uint16_t port = 0;
    SteadyClock::time_point at;
};

// The manager's side: an unbound socket with broadcast permission, replies to its own port.
class Client {
  public:
    Client() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
    ~Client() { ::close(fd_); }

    void Send(const std::string& host, uint16_t port, const std::string& text) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ASSERT_EQ(::inet_pton(AF_INET, host.c_str(), &to.sin_addr), 1);
        ASSERT_EQ(
            ::sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(text.size()));
    }

    std::optional<Datagram> Receive(milliseconds timeout) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
        std::string buffer(65536, '\0');
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) return std::nullopt;
        buffer.resize(static_cast<std::size_t>(n));
        char address[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
        return Datagram{buffer, address, ntohs(from.sin_port), SteadyClock::now()};
    }

    // Everything that arrives until nothing has for `silence`.
    std::vector<Datagram> Collect(milliseconds silence = 150ms) {
        std::vector<Datagram> all;
        while (auto d = Receive(silence)) all.push_back(*d);
        return all;
    }

    // Sends and collects the answers.
    std::vector<Datagram> Ask(const std::string& host, uint16_t port, const std::string& text) {
        Send(host, port, text);
        return Collect();
    }

  private:
    int fd_ = -1;
};

std::vector<std::string> Texts(const std::vector<Datagram>& ds) {
    std::vector<std::string> texts;
    for (const auto& d : ds) texts.push_back(d.text);
    return texts;
}

TibboModule Tibbo(const std::string& ip, const std::string& mac, const std::string& rest) {
    TibboModule m;
    m.ip = ip;
    m.mac = mac;
    m.rest = rest;
    return m;
}

Modules ThreeTibbo() {
    Modules ms;
    ms.tibbo.push_back(Tibbo("127.0.0.5", "0.36.119.87.8.24", "Vexa gate 1"));
    ms.tibbo.push_back(Tibbo("127.0.0.6", "0.36.119.87.8.25", "Torvane 2"));
    ms.tibbo.push_back(Tibbo("127.0.0.7", "0.36.119.87.8.26", "Castrell 3"));
    ms.tibbo[1].flags = "ABCM";
    return ms;
}

class ModuleSimNet : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!semRedePrivada.empty())
            GTEST_SKIP() << "no private network namespace (" << semRedePrivada
                         << "); these tests never run on the machine's own network";
    }
};

TEST_F(ModuleSimNet, DiscoveryGetsOneReplyPerModuleFromItsOwnAddress) {
    ModuleSim sim(ThreeTibbo());
    sim.Start();
    Client manager;

    auto replies = manager.Ask("255.255.255.255", 65535, "X");
    std::map<std::string, std::string> byAddress;
    for (const auto& r : replies) {
        EXPECT_EQ(r.port, 65535);
        byAddress[r.from] = r.text;
    }
    EXPECT_EQ(replies.size(), 3u);
    EXPECT_EQ(byAddress["127.0.0.5"], "A0.36.119.87.8.24/1001/ABCI/x/Owner/Vexa gate 1");
    EXPECT_EQ(byAddress["127.0.0.6"], "A0.36.119.87.8.25/1001/ABCM/x/Owner/Torvane 2");
    EXPECT_EQ(byAddress["127.0.0.7"], "A0.36.119.87.8.26/1001/ABCI/x/Owner/Castrell 3");

    // A unicast reaches its module only; an address without a module gets nothing.
    replies = manager.Ask("127.0.0.6", 65535, "X");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].from, "127.0.0.6");
    EXPECT_TRUE(manager.Ask("127.0.0.8", 65535, "X").empty());

    const auto log = sim.Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].to, "255.255.255.255");
    EXPECT_EQ(log[1].to, "127.0.0.6");
    EXPECT_EQ(log[2].to, "127.0.0.8");
    for (const auto& r : log) {
        EXPECT_EQ(r.text, "X");
        EXPECT_EQ(r.toPort, 65535);
        EXPECT_NE(r.fromPort, 0);
    }
}

TEST_F(ModuleSimNet, LoginAndReadsAnswerAsTheModuleIsSet) {
    Modules ms = ThreeTibbo();
    ms.tibbo[0].netmask = "255.255.255.000";  // kept as given, not normalised
    ms.tibbo[0].gateway = "127.0.0.254";
    ms.tibbo[0].destino = "127.0.0.44";
    ModuleSim sim(ms);
    sim.Start();
    Client manager;

    const struct {
        std::string command, reply;
    } cases[] = {
        {"SNM255.0.0.0", "D"},  // no login yet
        {"L000000", "D"},        {"SGI127.0.0.1", "D"},
        {"L581947", "A"},        {"GNM", "A255.255.255.000"},
        {"GGI", "A127.0.0.254"}, {"GDI", "A127.0.0.44"},
        {"GNMX", "D"},           {"Q", "D"},
    };
    for (const auto& c : cases) {
        const auto replies = manager.Ask("127.0.0.5", 65535, c.command);
        ASSERT_EQ(replies.size(), 1u) << c.command;
        EXPECT_EQ(replies[0].text, c.reply) << c.command;
        EXPECT_EQ(replies[0].from, "127.0.0.5") << c.command;
    }
    // An unknown broadcast is answered by nobody.
    EXPECT_TRUE(manager.Ask("255.255.255.255", 65535, "Q").empty());
}

TEST_F(ModuleSimNet, AddressCommandMovesOnlyTheModuleWithThatMac) {
    ModuleSim sim(ThreeTibbo());
    sim.Start();
    Client manager;

    const struct {
        std::string command;
        std::vector<std::string> replies;
    } refused[] = {
        {"A0.36.119.87.8.99/581947/127.0.0.20", {}},       // nobody has that MAC
        {"A0.36.119.87.8.25/000000/127.0.0.20", {"D"}},    // wrong password
        {"A0.36.119.87.8.25/581947/192.168.0.20", {"D"}},  // not an address it can answer from
        {"A0.36.119.87.8.25/581947", {}},                  // no address at all
    };
    for (const auto& c : refused) {
        EXPECT_EQ(Texts(manager.Ask("255.255.255.255", 65535, c.command)), c.replies) << c.command;
        EXPECT_EQ(sim.Snapshot().tibbo[1].ip, "127.0.0.6") << c.command;
    }

    auto replies = manager.Ask("255.255.255.255", 65535, "A0.36.119.87.8.25/581947/127.0.0.20");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].text, "A");
    EXPECT_EQ(replies[0].from, "127.0.0.6");  // answered before it moved

    replies = manager.Ask("127.0.0.20", 65535, "GNM");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].from, "127.0.0.20");
    EXPECT_TRUE(manager.Ask("127.0.0.6", 65535, "GNM").empty());

    const auto now = sim.Snapshot();
    EXPECT_EQ(now.tibbo[0].ip, "127.0.0.5");
    EXPECT_EQ(now.tibbo[1].ip, "127.0.0.20");
    EXPECT_EQ(now.tibbo[2].ip, "127.0.0.7");
}

TEST_F(ModuleSimNet, RoutedModuleHearsOnlyWhatIsSentToIt) {
    Modules ms = ThreeTibbo();
    ms.tibbo[2].routed = true;
    ModuleSim sim(ms);
    sim.Start();
    Client manager;
    const std::string mover = "A0.36.119.87.8.26/581947/127.0.0.30";
    EXPECT_EQ(manager.Ask("255.255.255.255", 65535, "X").size(), 2u);
    EXPECT_TRUE(manager.Ask("255.255.255.255", 65535, mover).empty());
    EXPECT_EQ(sim.Snapshot().tibbo[2].ip, "127.0.0.7");
    EXPECT_EQ(Texts(manager.Ask("127.0.0.7", 65535, "X")),
              std::vector<std::string>{"A0.36.119.87.8.26/1001/ABCI/x/Owner/Castrell 3"});
    EXPECT_EQ(Texts(manager.Ask("127.0.0.7", 65535, mover)), std::vector<std::string>{"A"});
    EXPECT_EQ(sim.Snapshot().tibbo[2].ip, "127.0.0.30");
}

// A namespace this process made counts as private with veth ends in it (a test's routed
// segment), never with an interface of another kind, which could lead anywhere.
TEST_F(ModuleSimNet, NamespaceMadeHereHoldsOnlyLoopbackAndVeth) {
    EXPECT_TRUE(InNamespaceMadeHere());
    if (std::system("ip link add msA type veth peer name msB 2>/dev/null") != 0)
        GTEST_SKIP() << "cannot make veth pairs here";
    EXPECT_TRUE(InNamespaceMadeHere());
    // A bridge, as a container's own network has: it could join a real segment.
    const bool ponte = std::system("ip link add msP type bridge 2>/dev/null") == 0;
    if (ponte) {
        EXPECT_FALSE(InNamespaceMadeHere());
    }
    (void)std::system("ip link del msA; ip link del msP 2>/dev/null");
    if (!ponte) GTEST_SKIP() << "no bridges here";
}

TEST_F(ModuleSimNet, SettersWaitForEAndNeedALogin) {
    ModuleSim sim(ThreeTibbo());
    sim.Start();
    Client manager;
    sim.Modify([](Modules& ms) { ms.tibbo[0].behaviours["SDI"] = ParseBehaviour("deny", 0); });

    for (const std::string command :
         {"L581947", "SNM255.255.0.0", "SGI127.0.0.254", "SDH0", "SDH7", "SDI127.0.0.33"}) {
        const auto replies = manager.Ask("127.0.0.5", 65535, command);
        ASSERT_EQ(replies.size(), 1u) << command;
        EXPECT_EQ(replies[0].text, command == "SDH7" || command == "SDI127.0.0.33" ? "D" : "A")
            << command;
    }
    auto before = sim.Snapshot().tibbo[0];
    EXPECT_TRUE(before.loggedIn);
    EXPECT_EQ(before.netmask, "255.255.255.0");
    EXPECT_EQ(before.staged.netmask, "255.255.0.0");
    EXPECT_FALSE(before.staged.destino.has_value());  // denied
    EXPECT_EQ(Texts(manager.Ask("127.0.0.5", 65535, "GNM")),
              std::vector<std::string>{"A255.255.255.0"});

    EXPECT_EQ(Texts(manager.Ask("127.0.0.5", 65535, "E")), std::vector<std::string>{"A"});
    const auto after = sim.Snapshot().tibbo[0];
    EXPECT_EQ(after.netmask, "255.255.0.0");
    EXPECT_EQ(after.gateway, "127.0.0.254");
    EXPECT_EQ(after.destino, "127.0.0.1");
    EXPECT_EQ(after.Dhcp(), false);
    EXPECT_FALSE(after.loggedIn);
    EXPECT_FALSE(after.staged.netmask.has_value());
    EXPECT_EQ(Texts(manager.Ask("127.0.0.5", 65535, "X")),
              std::vector<std::string>{"A0.36.119.87.8.24/1001/ABCM/x/Owner/Vexa gate 1"});
    EXPECT_EQ(Texts(manager.Ask("127.0.0.5", 65535, "SNM255.0.0.0")),
              std::vector<std::string>{"D"});                     // the login ended with E
    EXPECT_EQ(sim.Snapshot().tibbo[1].netmask, "255.255.255.0");  // the others untouched
}

TEST_F(ModuleSimNet, BehavioursShapeWhatIsSent) {
    ModuleSim sim(ThreeTibbo());
    sim.Start();
    Client manager;
    const std::string value = "A255.255.255.0";
    const std::string big(kTibboOversize, 'Z');

    const struct {
        std::string key, behaviour;
        std::vector<std::string> texts;
        bool otherPort;
    } cases[] = {
        {"GNM", "silent", {}, false},
        {"GNM", "deny", {"D"}, false},
        {"GNM", "stray:C", {"C", value}, false},
        {"GNM", "otherport", {value}, true},
        {"GNM", "oversize", {big, value}, false},
        {"GNM", "oversize,silent", {big}, false},
        {"GNM", "late:60", {value, value}, false},
        {"GNM", "stray:C,oversize,otherport,late:1", {"C", big, value, value}, true},
        {"*", "silent", {}, false},
        {"GGI", "silent", {value}, false},
    };
    for (const auto& c : cases) {
        const Behaviour b = ParseBehaviour(c.behaviour, kTibboOversize);
        sim.Modify([&](Modules& ms) { ms.tibbo[0].behaviours = {{c.key, b}}; });
        const auto replies = manager.Ask("127.0.0.5", 65535, "GNM");
        const auto what = c.key + "=" + c.behaviour;
        EXPECT_EQ(Texts(replies), c.texts) << what;
        for (const auto& r : replies) {
            EXPECT_EQ(r.from, "127.0.0.5") << what;
            EXPECT_EQ(r.port != 65535, c.otherPort) << what;
        }
        if (b.late == 60ms && replies.size() == 2) {
            EXPECT_GE(replies[1].at - replies[0].at, 40ms) << what;
        }
    }
}

TEST_F(ModuleSimNet, ADelayedModuleHoldsNoOtherModule) {
    Modules ms = ThreeTibbo();
    ms.tibbo[0].behaviours["X"].delay = 300ms;
    ModuleSim sim(ms);
    sim.Start();
    Client manager;

    const auto sent = SteadyClock::now();
    manager.Send("255.255.255.255", 65535, "X");
    const auto replies = manager.Collect(400ms);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[2].from, "127.0.0.5");
    EXPECT_LT(replies[1].at - sent, 150ms);
    EXPECT_GE(replies[2].at - sent, 280ms);
}

TEST_F(ModuleSimNet, SecondFamilyAnswersTheQueryInEachForm) {
    Modules ms;
    auto add = [&](std::string ip, BrivantForm form, char sep, std::string reply = {}) {
        BrivantModule m;
        m.ip = std::move(ip);
        m.form = form;
        m.separator = sep;
        m.reply = std::move(reply);
        ms.brivant.push_back(m);
    };
    add("127.0.0.9", BrivantForm::Found, ';');
    add("127.0.0.10", BrivantForm::Found, ':');
    add("127.0.0.11", BrivantForm::Lines, ';');
    add("127.0.0.12", BrivantForm::Bare, ';');
    add("127.0.0.13", BrivantForm::Found, ';', "Found:;Gate 1;00-04-A3-11-22-33");
    ms.tibbo.push_back(Tibbo("127.0.0.9", "0.36.119.87.8.24", "Vexa gate 1"));  // same address
    ModuleSim sim(ms);
    sim.Start();
    Client manager;

    auto replies = manager.Ask("255.255.255.255", 30303, "Discovery: Who is out there?");
    std::map<std::string, std::string> byAddress;
    for (const auto& r : replies) {
        EXPECT_EQ(r.port, 30303);
        byAddress[r.from] = r.text;
    }
    const std::map<std::string, std::string> expected = {
        {"127.0.0.9", "Found:;Gate 1;00-04-A3-11-22-33;"},
        {"127.0.0.10", "Found::Gate 1:00-04-A3-11-22-33:"},
        {"127.0.0.11", "Gate 1\r\n00-04-A3-11-22-33\r\n"},
        {"127.0.0.12", "Found:"},
        {"127.0.0.13", "Found:;Gate 1;00-04-A3-11-22-33"},
    };
    EXPECT_EQ(replies.size(), expected.size());
    EXPECT_EQ(byAddress, expected);

    EXPECT_TRUE(manager.Ask("255.255.255.255", 30303, "Discovery: Who is out there").empty());
    EXPECT_TRUE(manager.Ask("255.255.255.255", 30303, "X").empty());

    sim.Modify([](Modules& m) {
        m.brivant.resize(1);
        m.brivant[0].behaviours["query"].oversize = kBrivantOversize;
    });
    replies = manager.Ask("127.0.0.9", 30303, "Discovery: Who is out there?");
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].text.size(), kBrivantOversize);
    EXPECT_EQ(replies[1].text, expected.at("127.0.0.9"));
}

TEST_F(ModuleSimNet, StartFailsWhenThePortIsTaken) {
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);  // without SO_REUSEADDR
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(65535);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ModuleSim sim(ThreeTibbo());
    try {
        sim.Start();
        ADD_FAILURE() << "started on a taken port";
    } catch (const SimError& e) {
        EXPECT_NE(std::string(e.what()).find("65535"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(sim.Running());
    ::close(holder);
    sim.Start();  // and once the port is free again, it starts
    EXPECT_TRUE(sim.Running());
}

TEST(ModuleSimGuard, NamespacesDifferOnlyWhenBothAreReadable) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("modsim_ns_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::create_symlink("net:[4026531833]", dir / "machine");
    fs::create_symlink("net:[4026531833]", dir / "same");
    fs::create_symlink("net:[4026532174]", dir / "other");
    const struct {
        std::string own, machine;
        bool private_;
    } cases[] = {
        {"other", "machine", true},
        {"same", "machine", false},
        {"other", "missing", false},
        {"missing", "machine", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DiffersFromMachineNamespace((dir / c.own).string(), (dir / c.machine).string()),
                  c.private_)
            << c.own << " vs " << c.machine;
    fs::remove_all(dir);
}

TEST(ModuleSimArgs, ModulesAndBehavioursFromTheCommandLine) {
    const auto t = ParseTibbo(
        "dhcp=0,ip=127.0.0.5,mac=0.36.119.87.8.24,flags=ABCI,rest=Vexa\\x2C gate 1,"
        "netmask=255.255.255.000,dest=127.0.0.44");
    EXPECT_EQ(DiscoveryReply(t), "A0.36.119.87.8.24/1001/ABCM/x/Owner/Vexa, gate 1");
    EXPECT_EQ(t.netmask, "255.255.255.000");
    EXPECT_EQ(t.destino, "127.0.0.44");
    EXPECT_FALSE(t.routed);
    EXPECT_TRUE(ParseTibbo("ip=127.0.1.5,routed=1").routed);

    const auto b = ParseBrivant("ip=127.0.0.9,name=Gate 7,form=lines,mac=00-04-A3-00-00-07");
    EXPECT_EQ(BrivantReply(b), "Gate 7\r\n00-04-A3-00-00-07\r\n");
    EXPECT_EQ(ParseBrivant("ip=127.0.0.9,sep=\\x2C,name=G").separator, ',');

    Modules ms;
    ms.tibbo.push_back(t);
    ms.brivant.push_back(b);
    ApplyBehave("127.0.0.5:GNM=delay:500,stray:\\r,otherport,late:20", ms);
    ApplyBehave("127.0.0.9:query=oversize", ms);
    const Behaviour& gnm = ms.tibbo[0].behaviours.at("GNM");
    EXPECT_EQ(gnm.delay, 500ms);
    EXPECT_EQ(gnm.stray, "\r");
    EXPECT_TRUE(gnm.otherPort);
    EXPECT_EQ(gnm.late, 20ms);
    EXPECT_FALSE(gnm.silent || gnm.deny || gnm.oversize);
    EXPECT_EQ(ms.brivant[0].behaviours.at("query").oversize, kBrivantOversize);

    const struct {
        std::string name;
        std::function<void()> parse;
    } refused[] = {
        {"no ip", [] { ParseTibbo("mac=1"); }},
        {"not loopback", [] { ParseTibbo("ip=192.168.0.5"); }},
        {"loopback network address", [] { ParseTibbo("ip=127.0.0.0"); }},
        {"unknown key", [] { ParseTibbo("ip=127.0.0.5,colour=red"); }},
        {"dhcp 2", [] { ParseTibbo("ip=127.0.0.5,dhcp=2"); }},
        {"routed yes", [] { ParseTibbo("ip=127.0.0.5,routed=yes"); }},
        {"bad escape", [] { ParseTibbo("ip=127.0.0.5,rest=\\q"); }},
        {"short hex escape", [] { ParseTibbo("ip=127.0.0.5,rest=\\x4"); }},
        {"unknown form", [] { ParseBrivant("ip=127.0.0.9,form=round"); }},
        {"long separator", [] { ParseBrivant("ip=127.0.0.9,sep=;;"); }},
        {"unknown command", [&] { ApplyBehave("127.0.0.5:GNX=silent", ms); }},
        {"no such module", [&] { ApplyBehave("127.0.0.8:GNM=silent", ms); }},
        {"wrong family", [&] { ApplyBehave("127.0.0.5:query=silent", ms); }},
        {"bad time", [&] { ApplyBehave("127.0.0.5:GNM=late:soon", ms); }},
        {"value on a flag", [&] { ApplyBehave("127.0.0.5:GNM=silent:yes", ms); }},
        {"datagram too big", [&] { ApplyBehave("127.0.0.5:X=oversize:70000", ms); }},
        {"no command", [&] { ApplyBehave("127.0.0.5=silent", ms); }},
    };
    for (const auto& c : refused) EXPECT_THROW(c.parse(), SimError) << c.name;
}

TEST(ModuleSimArgs, EscapesRoundTrip) {
    const struct {
        std::string bytes, shown;
    } cases[] = {
        {"Gate 1\r\nMAC\r\n", "Gate 1\\r\\nMAC\\r\\n"},
        {std::string("\x00\x7F\x80\xFF", 4), "\\x00\\x7F\\x80\\xFF"},
        {"a\\b\t", "a\\\\b\\t"},
        {"N\xE3o", "N\\xE3o"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Escape(c.bytes), c.shown);
        EXPECT_EQ(Unescape(c.shown), c.bytes);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Before gtest or anything else starts a thread: the namespace is per thread.
    semRedePrivada = lumora::teste::EntraEmRedePrivada();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
