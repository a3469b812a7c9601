// Load for benchmarks: many simulated terminals on one thread, each repeating
// card read -> reply -> turnstile result, with the latency of every reply.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TerminalSim.h"

namespace termsim {

struct LoadConfig {
    std::string host = "127.0.0.1";
    uint16_t port = 0;
    int terminals = 1;
    // Empty: every terminal connects from the address the kernel picks. Otherwise terminal i
    // connects from `source` + i, or from `source` itself when `sameSource` is set.
    std::string source;
    bool sameSource = false;
    std::string terminalNumber = "01";
    // Non-empty: terminal i sends as terminalNumbers[i % size] instead of terminalNumber, as
    // the terminals of a venue do, each with the number it was given.
    std::vector<std::string> terminalNumbers;
    std::string card = "0000000000001234";
    // Non-empty: every card read takes one of these cards at random instead of `card`.
    std::vector<std::string> cards;
    std::string outcome = "G";
    // Stop after `duration` when it is non-zero, else after `cycles` cycles per terminal.
    std::chrono::milliseconds duration{0};
    long cycles = 1;
    // Non-zero: each terminal starts a cycle at most this often (a busy exit rather than a
    // flood), so latencies can be measured at a realistic rate as well as at saturation.
    std::chrono::milliseconds interval{0};
    // With an interval: each terminal reads its cards at independent random moments, one per
    // interval on average (exponential gaps, as people reach an exit), instead of at most one
    // per interval spread evenly. A moment that comes while the terminal's cycle is still
    // running is served when the cycle ends; moments of the duration left unserved at its end
    // are counted in LoadSummary::offered. Needs a duration.
    bool randomMoments = false;
    uint64_t seed = 1;
    // Wait for every terminal's wake and clock message before the first card read. The
    // receiver greets registered addresses only: the wake at once, the clock message a second
    // later, and it holds that terminal's messages until then.
    bool awaitGreeting = false;
    std::chrono::milliseconds greetingTimeout{0};  // 0: 1.5 s per terminal, plus 2 s
    // The receiver answers a turnstile result only when the terminal number is not
    // registered (with a refusal); set this then, so that reply is awaited and measured too
    // instead of being taken for the answer to the next card read.
    bool resultGetsReply = false;
    std::chrono::milliseconds replyTimeout{5000};
    std::chrono::milliseconds connectTimeout{5000};
    // The time from a hand-in to its turnstile result (the visitor walking through); 0: at
    // once.
    std::chrono::milliseconds turnDelay{0};
    // Make a connection again when it drops (closed, reset, a send that fails, a reply later
    // than replyTimeout), as the gates' modules do: the first try reconnectDelay after the
    // loss, each failed try doubling the wait up to reconnectMaxDelay, an answer starting
    // the back-off over. A reply due on the lost connection is lost; a turnstile result due
    // goes out on the new one. Tries never wait longer than connectTimeout. With a duration
    // a terminal keeps trying to its end; with cycles, a lost reply uses up its cycle and a
    // terminal without a connection for connectTimeout fails. With awaitGreeting, a terminal
    // connected again awaits its greeting (greetingTimeout, else 3.5 s; the wake within
    // replyTimeout) before it goes on.
    bool reconnect = false;
    std::chrono::milliseconds reconnectDelay{100};
    std::chrono::milliseconds reconnectMaxDelay{1000};
    // Called once every terminal is connected (and greeted), just before the first card read,
    // so a benchmark can read the server's counters over the cycles alone.
    std::function<void()> onCyclesStart;
    // Non-null: counts the cycles as they complete, for a benchmark that samples the run
    // from another thread while it lasts.
    std::atomic<long>* cyclesSoFar = nullptr;
};

struct LoadSummary {
    int terminals = 0;
    int failedTerminals = 0;  // lost their connection or waited past replyTimeout
    long cycles = 0;          // card read answered (and turnstile result sent)
    long offered = 0;         // card reads due: cycles begun, plus unserved random moments
    long messagesSent = 0;
    long replies = 0;  // answers to requests, all measured
    long handIns = 0, refusals = 0;
    long greetings = 0;                 // wakes and clock messages
    long unexpected = 0;                // frames that answer nothing, malformed ones included
    std::vector<std::string> problems;  // first few malformed frames and failures
    long lost = 0;                      // replies due when their connection was lost (or timed out)
    long reconnections = 0;             // connections made again after a loss
    long failedReconnects = 0;          // tries that were refused, failed or timed out
    long resultsCarried = 0;  // turnstile results sent on a connection made since the hand-in
    std::vector<std::chrono::nanoseconds> latencies;  // in order of arrival
    // Per terminal, the longest time without an answer: between two answers, from the first
    // request to the first answer, or from the last answer to the end when a reply was lost
    // or due since (a terminal that never got an answer again).
    std::vector<std::chrono::nanoseconds> longestSilence;
    std::chrono::nanoseconds elapsed{0};    // first request sent .. last reply received
    std::chrono::nanoseconds scheduled{0};  // the duration of random moments, else 0

    double RepliesPerSecond() const;
    // Card reads due per second of the duration (random moments), else of the elapsed time.
    double OfferedPerSecond() const;
    // Messages in both directions, greetings left out.
    double MessagesPerSecond() const;
    // Nearest rank: the smallest latency with at least p percent of them at or below it.
    std::chrono::nanoseconds Percentile(double p) const;
    std::chrono::nanoseconds Max() const;
    // The longest silence of any terminal: after a failover, the time until every terminal
    // was answered again (plus at most one interval before the loss).
    std::chrono::nanoseconds LongestSilence() const;
    std::string Format() const;
};

// Connects every terminal, runs the cycles and closes them. Throws SimError when a terminal
// cannot connect; later failures are counted in the summary.
LoadSummary RunLoad(const LoadConfig& config);

}  // namespace termsim
