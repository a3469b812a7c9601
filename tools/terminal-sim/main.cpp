// terminal-sim: plays one or more turnstile terminals against a running receiver on this
// machine, from a script or as a load generator.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "LoadDriver.h"
#include "Script.h"
#include "TerminalSim.h"

using namespace termsim;

namespace {

constexpr int kExitExpectFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitConnection = 3;

const char kHelp[] = R"(Usage: terminal-sim --port PORT [options] [--script FILE | --send STEP ...]
       terminal-sim --load --port PORT [options] (--duration SECONDS | --cycles N)

Plays turnstile terminals against a receiver on this machine. Only loopback
addresses (127.0.0.0/8) are accepted, for the receiver and for the sources
(any address inside a network namespace of a test's own, not the machine's).

Connection:
  --host ADDR             receiver address (default 127.0.0.1)
  --port PORT             receiver port (required)
  --source ADDR           local address to connect from, e.g. 127.0.0.5; the
                          receiver identifies terminals by this address
  --terminals N           play N terminals; their sources count up from
                          --source (127.0.0.5, 127.0.0.6, ...)
  --same-source           all terminals connect from --source itself
  --terminal-number T     first field of every message (default 01)
  --connect-timeout MS    (default 5000)
  --netns NAME            join the network namespace NAME (ip netns add NAME,
                          as root) first: there, being a network of a test's
                          own, any address may be used

Script (run on every terminal, step by step):
  --script FILE           steps from FILE, one per line ("-" reads stdin;
                          blank lines and lines starting with # are skipped)
  --send STEP             one step; may be repeated, runs in the given order
  --timeout MS            default wait of an expect step (default 3000)

  Steps:
    card NUMBER [dd/mm/yy hh:nn:ss]  card read (time fields: now if not given)
    turn [OUTCOME]                   turnstile result; G turned, else not
    release                          release request
    raw TEXT                         any bytes; escapes \r \n \t \\ \xHH
    wait MS                          show what arrives for MS milliseconds
    expect CODE [MS]                 the next message not yet checked has this
                                     code ($ or wake, 01, 02, 03, 20) and is
                                     well formed; fails otherwise
    expect none [MS]                 nothing arrives within MS
    close | abort                    orderly close, or close with a reset

  Without steps the terminals stay connected and show what arrives until the
  receiver closes them or Ctrl-C.

Load (one thread, poll() over all terminals):
  --load                  repeat card read -> reply -> turnstile result
  --duration SECONDS      for this long (decimals allowed), or
  --cycles N              this many cycles per terminal
  --interval MS           each terminal starts a cycle at most every MS
  --card NUMBER           card number sent (default 0000000000001234)
  --outcome TEXT          turnstile result outcome (default G)
  --await-greeting        wait for every terminal's wake and clock message
                          first (registered sources are greeted 1 s apart)
  --result-reply          the terminal number is not registered, so turnstile
                          results are answered with a refusal: await those too
  --reply-timeout MS      a terminal stops when a reply takes longer (5000)
  --terminal-numbers LIST terminal i sends as the i-th of these (01,02,...),
                          instead of --terminal-number
  --turn-delay MS         from a hand-in to its turnstile result (default 0)
  --reconnect             connect again when a connection drops or a reply is
                          later than --reply-timeout, as the modules do; the
                          reply due is lost, a turnstile result due goes out on
                          the new connection
  --reconnect-delay MS    first try this long after the loss (default 100);
                          each failed try doubles the wait
  --reconnect-max MS      up to this (default 1000)

Everything sent and received is printed with its time (hh:mm:ss.mmm), the bytes
made visible (CR as <CR>), and for replies what they say and how long after the
last send they came.

Exit status: 0 success, 1 a failed expect (or, under --load, failed terminals or
unexpected frames), 2 bad usage, 3 connection failure or a non-loopback address.
)";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string host = "127.0.0.1";
    long port = -1;
    std::string source;
    int terminals = 1;
    bool sameSource = false;
    std::string terminalNumber = "01";
    std::chrono::milliseconds connectTimeout{5000};
    std::vector<Step> steps;
    std::chrono::milliseconds expectTimeout{3000};
    bool load = false;
    double durationSeconds = 0;
    long cycles = 0;
    std::string card = "0000000000001234";
    std::string outcome = "G";
    bool awaitGreeting = false;
    bool resultReply = false;
    std::chrono::milliseconds replyTimeout{5000};
    std::chrono::milliseconds interval{0};
    std::vector<std::string> terminalNumbers;
    std::string netns;
    std::chrono::milliseconds turnDelay{0};
    bool reconnect = false;
    std::chrono::milliseconds reconnectDelay{100};
    std::chrono::milliseconds reconnectMax{1000};
};

long Number(const std::string& option, const std::string& text, long low, long high) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high)
        throw UsageError(option + " takes a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not '" + text + "'");
    return value;
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(arg + " needs a value");
            return argv[++i];
        };
        auto ms = [&] { return std::chrono::milliseconds(Number(arg, value(), 0, 86'400'000)); };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        } else if (arg == "--host") {
            o.host = value();
        } else if (arg == "--port") {
            o.port = Number(arg, value(), 1, 65535);
        } else if (arg == "--source") {
            o.source = value();
        } else if (arg == "--terminals") {
            o.terminals = static_cast<int>(Number(arg, value(), 1, 100'000));
        } else if (arg == "--same-source") {
            o.sameSource = true;
        } else if (arg == "--terminal-number") {
            o.terminalNumber = value();
        } else if (arg == "--connect-timeout") {
            o.connectTimeout = ms();
        } else if (arg == "--script") {
            std::string path = value();
            std::ifstream file;
            if (path != "-") {
                file.open(path);
                if (!file) throw UsageError("cannot read script " + path);
            }
            auto steps = ParseScript(path == "-" ? std::cin : file);
            o.steps.insert(o.steps.end(), steps.begin(), steps.end());
        } else if (arg == "--send") {
            o.steps.push_back(ParseStep(value()));
        } else if (arg == "--timeout") {
            o.expectTimeout = ms();
        } else if (arg == "--load") {
            o.load = true;
        } else if (arg == "--duration") {
            std::string text = value();
            char* end = nullptr;
            o.durationSeconds = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !(o.durationSeconds > 0))
                throw UsageError("--duration takes seconds, not '" + text + "'");
        } else if (arg == "--cycles") {
            o.cycles = Number(arg, value(), 1, 1'000'000'000);
        } else if (arg == "--card") {
            o.card = value();
        } else if (arg == "--outcome") {
            o.outcome = value();
        } else if (arg == "--await-greeting") {
            o.awaitGreeting = true;
        } else if (arg == "--result-reply") {
            o.resultReply = true;
        } else if (arg == "--reply-timeout") {
            o.replyTimeout = ms();
        } else if (arg == "--interval") {
            o.interval = ms();
        } else if (arg == "--terminal-numbers") {
            std::stringstream list(value());
            for (std::string number; std::getline(list, number, ',');)
                if (!number.empty()) o.terminalNumbers.push_back(number);
            if (o.terminalNumbers.empty()) throw UsageError("--terminal-numbers needs a list");
        } else if (arg == "--netns") {
            o.netns = value();
            if (o.netns.empty() || o.netns.find('/') != std::string::npos || o.netns == "." ||
                o.netns == "..")
                throw UsageError("--netns takes the name of a namespace in /run/netns");
        } else if (arg == "--turn-delay") {
            o.turnDelay = ms();
        } else if (arg == "--reconnect") {
            o.reconnect = true;
        } else if (arg == "--reconnect-delay") {
            o.reconnectDelay = ms();
        } else if (arg == "--reconnect-max") {
            o.reconnectMax = ms();
        } else {
            throw UsageError("unknown option " + arg + " (see --help)");
        }
    }
    if (o.port < 0) throw UsageError("--port is required (see --help)");
    if (o.load && o.durationSeconds <= 0 && o.cycles <= 0)
        throw UsageError("--load needs --duration or --cycles");
    if (o.load && !o.steps.empty()) throw UsageError("--load runs no script steps");
    return o;
}

std::string Clock(WallClock::time_point when) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms.count() % 1000));
    return text;
}

volatile std::sig_atomic_t interrupted = 0;

// Runs the steps on every terminal in lockstep, reading all of them with one poll() so
// that every frame is printed, and time-stamped, as it arrives.
class ScriptRunner {
  public:
    explicit ScriptRunner(const Options& options) : o_(options) {}

    int Run() {
        for (int i = 0; i < o_.terminals; ++i) {
            std::string from = o_.source;
            if (!from.empty() && !o_.sameSource) from = NthTerminalAddress(o_.source, i);
            SimTerminal terminal(o_.terminalNumber);
            terminal.Connect(o_.host, static_cast<uint16_t>(o_.port), from, o_.connectTimeout);
            std::string label = terminal.LocalAddress();
            if (o_.terminals > 1 && (from.empty() || o_.sameSource))
                label += "#" + std::to_string(i + 1);
            terms_.push_back(std::move(terminal));
            labels_.push_back(label);
            unchecked_.emplace_back();
            closedShown_.push_back(false);
            sent_.push_back(false);
            Event(i, "connected to " + o_.host + ":" + std::to_string(o_.port));
        }
        if (o_.steps.empty()) {
            Pump(SteadyClock::time_point::max(), [] { return false; });
            return 0;
        }
        for (const Step& step : o_.steps) {
            if (interrupted) return 0;
            if (!Do(step)) return kExitExpectFailed;
        }
        for (auto& t : terms_) t.Close();
        return 0;
    }

  private:
    bool Do(const Step& step) {
        switch (step.kind) {
            case Step::Card:
            case Step::Turn:
            case Step::Release:
            case Step::Raw:
                for (std::size_t i = 0; i < terms_.size(); ++i) Send(i, Message(step, i));
                return true;
            case Step::Wait:
                Pump(SteadyClock::now() + *step.ms, [] { return false; });
                return true;
            case Step::Expect:
                return Expect(step);
            case Step::ExpectNone:
                return ExpectNone(step);
            case Step::Close:
            case Step::Abort:
                for (std::size_t i = 0; i < terms_.size(); ++i) {
                    if (!terms_[i].Connected()) continue;
                    step.kind == Step::Close ? terms_[i].Close() : terms_[i].Abort();
                    Event(i, step.kind == Step::Close ? "closed" : "reset (abortive close)");
                }
                return true;
        }
        return true;
    }

    std::string Message(const Step& step, std::size_t i) {
        const std::string& number = terms_[i].TerminalNumber();
        switch (step.kind) {
            case Step::Card:
                return BuildCardRead(number, step.text, step.at.value_or(CardTime::Now()));
            case Step::Turn:
                return BuildTurnstileResult(number, step.text);
            case Step::Release:
                return BuildReleaseRequest(number);
            default:
                return step.text;
        }
    }

    void Send(std::size_t i, const std::string& bytes) {
        terms_[i].SendRaw(bytes);  // a failure ends the program as a connection failure
        sent_[i] = true;
        std::printf("%s %s -> %s\n", Clock(WallClock::now()).c_str(), labels_[i].c_str(),
                    Visible(bytes).c_str());
    }

    bool Expect(const Step& step) {
        auto deadline = SteadyClock::now() + step.ms.value_or(o_.expectTimeout);
        Pump(deadline, [&] {
            for (const auto& queue : unchecked_)
                if (queue.empty()) return false;
            return true;
        });
        bool ok = true;
        for (std::size_t i = 0; i < terms_.size(); ++i) {
            if (unchecked_[i].empty()) {
                ok = Failed(i, "expected " + step.text + ", nothing arrived");
                continue;
            }
            Reply reply = ParseReply(unchecked_[i].front().bytes);
            unchecked_[i].pop_front();
            if (reply.Code() != step.text)
                ok = Failed(i, "expected " + step.text + ", got " + Describe(reply));
            else if (!reply.WellFormed())
                ok = Failed(i, "expected " + step.text + ", got it malformed: " + reply.problem);
        }
        return ok;
    }

    bool ExpectNone(const Step& step) {
        Pump(SteadyClock::now() + step.ms.value_or(o_.expectTimeout), [] { return false; });
        bool ok = true;
        for (std::size_t i = 0; i < terms_.size(); ++i) {
            if (!unchecked_[i].empty())
                ok = Failed(i, "expected nothing, got " +
                                   Describe(ParseReply(unchecked_[i].front().bytes)));
            unchecked_[i].clear();
        }
        return ok;
    }

    bool Failed(std::size_t i, const std::string& why) {
        Event(i, "EXPECT FAILED: " + why);
        return false;
    }

    template <typename Done>
    void Pump(SteadyClock::time_point deadline, Done done) {
        std::vector<pollfd> fds;
        std::vector<std::size_t> which;
        while (!done() && !interrupted) {
            fds.clear();
            which.clear();
            for (std::size_t i = 0; i < terms_.size(); ++i) {
                if (!terms_[i].Connected() || terms_[i].PeerClosed()) continue;
                fds.push_back(pollfd{terms_[i].Fd(), POLLIN, 0});
                which.push_back(i);
            }
            if (fds.empty() && deadline == SteadyClock::time_point::max()) return;
            auto now = SteadyClock::now();
            if (now >= deadline) return;
            int wait = -1;
            if (deadline != SteadyClock::time_point::max())
                wait = static_cast<int>(
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
            if (::poll(fds.data(), fds.size(), wait) <= 0) continue;
            for (std::size_t k = 0; k < fds.size(); ++k) {
                if (fds[k].revents == 0) continue;
                std::size_t i = which[k];
                terms_[i].ReadAvailable();
                while (auto frame = terms_[i].PopMessage()) Show(i, *frame);
                if (terms_[i].PeerClosed() && !closedShown_[i]) {
                    closedShown_[i] = true;
                    std::string left = terms_[i].Pending();
                    Event(i, "connection closed by the receiver" +
                                 (left.empty() ? "" : ", leaving " + Visible(left)));
                }
            }
        }
    }

    void Show(std::size_t i, const Inbound& frame) {
        Reply reply = ParseReply(frame.bytes);
        std::string after;
        if (sent_[i]) {
            char text[48];
            std::snprintf(
                text, sizeof text, "  (+%.3f ms)",
                std::chrono::duration<double, std::milli>(frame.at - terms_[i].LastSend()).count());
            after = text;
        }
        std::printf("%s %s <- %s  [%s]%s\n", Clock(frame.wall).c_str(), labels_[i].c_str(),
                    Visible(frame.bytes).c_str(), Describe(reply).c_str(), after.c_str());
        unchecked_[i].push_back(frame);
    }

    void Event(std::size_t i, const std::string& text) {
        std::printf("%s %s %s\n", Clock(WallClock::now()).c_str(), labels_[i].c_str(),
                    text.c_str());
    }

    const Options& o_;
    std::vector<SimTerminal> terms_;
    std::vector<std::string> labels_;
    std::vector<std::deque<Inbound>> unchecked_;
    std::vector<bool> closedShown_, sent_;
};

void JoinNetwork(const std::string& name) {
    const std::string path = "/run/netns/" + name;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
        int error = errno;
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot join network namespace " + path + ": " +
                                 std::strerror(error));
    }
    ::close(fd);
}

int RunLoadMode(const Options& o) {
    LoadConfig config;
    config.host = o.host;
    config.port = static_cast<uint16_t>(o.port);
    config.terminals = o.terminals;
    config.source = o.source;
    config.sameSource = o.sameSource;
    config.terminalNumber = o.terminalNumber;
    config.card = o.card;
    config.outcome = o.outcome;
    config.duration = std::chrono::milliseconds(static_cast<long>(o.durationSeconds * 1000));
    config.cycles = o.cycles;
    config.awaitGreeting = o.awaitGreeting;
    config.resultGetsReply = o.resultReply;
    config.replyTimeout = o.replyTimeout;
    config.interval = o.interval;
    config.connectTimeout = o.connectTimeout;
    config.terminalNumbers = o.terminalNumbers;
    config.turnDelay = o.turnDelay;
    config.reconnect = o.reconnect;
    config.reconnectDelay = o.reconnectDelay;
    config.reconnectMaxDelay = std::max(o.reconnectMax, o.reconnectDelay);
    LoadSummary summary = RunLoad(config);
    std::fputs(summary.Format().c_str(), stdout);
    return summary.failedTerminals > 0 || summary.unexpected > 0 || !summary.problems.empty()
               ? kExitExpectFailed
               : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    try {
        options = ParseOptions(argc, argv);
        // Into the test's network before anything else, while this is the only thread: the
        // program then runs in a network other than the one it started in.
        if (!options.netns.empty()) JoinNetwork(options.netns);
        // Refuse a foreign address before anything else.
        TerminalAddress(options.host);
        if (!options.source.empty()) {
            TerminalAddress(options.source);
            if (!options.sameSource) NthTerminalAddress(options.source, options.terminals - 1);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "terminal-sim: %s\n", e.what());
        return kExitUsage;
    }

    struct sigaction action {};
    action.sa_handler = [](int) { interrupted = 1; };
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);  // no SA_RESTART: poll() returns at once
    sigaction(SIGTERM, &action, nullptr);

    try {
        if (options.load) return RunLoadMode(options);
        return ScriptRunner(options).Run();
    } catch (const SimError& e) {
        std::fprintf(stderr, "terminal-sim: %s\n", e.what());
        return kExitConnection;
    }
}
