#include "LoadDriver.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <random>
#include <utility>

namespace termsim {

namespace {

constexpr std::size_t kMaxProblems = 10;

enum class State {
    Idle,
    AwaitCard,
    AwaitResult,
    Turning,  // a hand-in came; its turnstile result goes out at turnAt
    Resting,
    Reconnecting,  // the connection was lost; the next try is at retryAt
    Connecting,    // a try under way
    Greeting,      // connected again, awaiting the wake and clock message (awaitGreeting)
    Done,
    Failed
};

bool Waiting(State s) { return s == State::AwaitCard || s == State::AwaitResult; }

bool Active(State s) { return s != State::Idle && s != State::Done && s != State::Failed; }

bool Disconnected(State s) { return s == State::Reconnecting || s == State::Connecting; }

struct Slot {
    SimTerminal terminal;
    std::string number;  // the terminal number its messages carry
    std::string from;    // its source address, for reconnecting
    State state = State::Idle;
    State resume = State::Idle;  // what a reconnected terminal goes back to
    SteadyClock::time_point sentAt{};
    SteadyClock::time_point cycleStart{};
    SteadyClock::time_point nextCycle{};  // when a resting terminal reads its next card
    SteadyClock::time_point turnAt{};     // when a turning terminal reports its result
    SteadyClock::time_point retryAt{}, tryStart{}, lostAt{}, greetBy{};
    SteadyClock::duration backoff{};
    SteadyClock::time_point lastAnswer{};
    SteadyClock::duration longestSilence{};
    bool owed = false;     // a reply was lost or is due since the last answer
    bool carried = false;  // its turnstile result is due on a connection made since the hand-in
    long cycles = 0, lost = 0;
    bool wake = false, clock = false;
};

class Driver {
  public:
    explicit Driver(const LoadConfig& config) : config_(config), random_(config.seed) {}

    LoadSummary Run() {
        if (config_.terminals < 1) throw SimError("load needs at least one terminal");
        if (config_.duration.count() <= 0 && config_.cycles < 1)
            throw SimError("load needs a duration or a number of cycles");
        if (RandomMoments() && config_.duration.count() <= 0)
            throw SimError("random moments need a duration");
        ConnectAll();
        if (config_.awaitGreeting) AwaitGreetings();
        if (config_.onCyclesStart) config_.onCyclesStart();

        start_ = SteadyClock::now();
        lastReply_ = start_;
        end_ = start_ + config_.duration;
        // Paced terminals start spread over one interval, as exits do, rather than in step.
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            slots_[i].lastAnswer = start_;
            slots_[i].backoff = config_.reconnectDelay;
            if (RandomMoments()) {
                slots_[i].state = State::Resting;
                slots_[i].nextCycle = start_ + RandomGap();
                if (slots_[i].nextCycle >= end_) slots_[i].state = State::Done;
            } else if (config_.interval.count() > 0) {
                slots_[i].state = State::Resting;
                slots_[i].nextCycle = start_ + config_.interval * static_cast<long>(i) /
                                                   static_cast<long>(slots_.size());
            } else {
                SendCard(slots_[i]);
            }
        }
        while (std::any_of(slots_.begin(), slots_.end(),
                           [](const Slot& s) { return Active(s.state); }))
            Turn();
        const auto finish = SteadyClock::now();

        summary_.elapsed = lastReply_ - start_;
        summary_.terminals = config_.terminals;
        if (RandomMoments()) summary_.scheduled = config_.duration;
        for (auto& slot : slots_) {
            summary_.cycles += slot.cycles;
            // Moments of the duration that the terminal never got to: it was still waiting.
            if (RandomMoments() && slot.state != State::Failed) {
                for (auto at = slot.nextCycle; at < end_; at += RandomGap()) ++summary_.offered;
            }
            if (slot.state == State::Failed) ++summary_.failedTerminals;
            if (slot.owed || slot.state == State::Failed)
                slot.longestSilence = std::max(slot.longestSilence, finish - slot.lastAnswer);
            summary_.longestSilence.push_back(slot.longestSilence);
            slot.terminal.Close();
        }
        return std::move(summary_);
    }

  private:
    void ConnectAll() {
        slots_.reserve(static_cast<std::size_t>(config_.terminals));
        for (int i = 0; i < config_.terminals; ++i) {
            std::string from = config_.source;
            if (!from.empty() && !config_.sameSource)
                from = NthTerminalAddress(config_.source, static_cast<unsigned>(i));
            const std::string& number =
                config_.terminalNumbers.empty()
                    ? config_.terminalNumber
                    : config_.terminalNumbers[static_cast<std::size_t>(i) %
                                              config_.terminalNumbers.size()];
            Slot slot{SimTerminal(number), number, from};
            slot.terminal.Connect(config_.host, config_.port, from, config_.connectTimeout);
            slots_.push_back(std::move(slot));
        }
    }

    void AwaitGreetings() {
        auto timeout = config_.greetingTimeout.count() > 0
                           ? config_.greetingTimeout
                           : std::chrono::milliseconds(1500 * config_.terminals + 2000);
        auto deadline = SteadyClock::now() + timeout;
        auto greeted = [&] {
            return std::all_of(slots_.begin(), slots_.end(),
                               [](const Slot& s) { return s.wake && s.clock; });
        };
        while (!greeted()) {
            auto left = deadline - SteadyClock::now();
            if (left <= std::chrono::nanoseconds::zero())
                throw SimError("not every terminal was greeted (wake and clock message) within " +
                               std::to_string(timeout.count()) + " ms");
            PollOnce(std::chrono::ceil<std::chrono::milliseconds>(left));
            for (auto& slot : slots_) {
                while (auto frame = slot.terminal.PopMessage()) Handle(slot, *frame);
                if (slot.terminal.PeerClosed())
                    throw SimError("the receiver closed the connection from " +
                                   slot.terminal.LocalAddress() + " before greeting it");
            }
        }
    }

    // Reads every terminal that has data, before anything is sent, so time stamps are
    // taken as close to arrival as one thread allows; completes connections under way.
    void PollOnce(std::chrono::milliseconds timeout) {
        fds_.clear();
        index_.clear();
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            const Slot& slot = slots_[i];
            if (slot.state == State::Connecting && slot.terminal.Connecting()) {
                fds_.push_back(pollfd{slot.terminal.Fd(), POLLOUT, 0});
                index_.push_back(i);
                continue;
            }
            if (slot.state == State::Failed || !slot.terminal.Connected() ||
                slot.terminal.PeerClosed())
                continue;
            fds_.push_back(pollfd{slot.terminal.Fd(), POLLIN, 0});
            index_.push_back(i);
        }
        int ready = ::poll(fds_.data(), fds_.size(), static_cast<int>(timeout.count()));
        if (ready < 0 && errno != EINTR) throw SimError("poll failed");
        for (std::size_t k = 0; ready > 0 && k < fds_.size(); ++k) {
            if (fds_[k].revents == 0) continue;
            Slot& slot = slots_[index_[k]];
            if (slot.state == State::Connecting) {
                try {
                    slot.terminal.FinishConnect();
                    Reconnected(slot);
                } catch (const SimError&) {
                    TryFailed(slot, SteadyClock::now());
                }
            } else {
                slot.terminal.ReadAvailable();
            }
        }
    }

    static std::chrono::milliseconds Until(SteadyClock::time_point at,
                                           SteadyClock::time_point now) {
        return std::chrono::ceil<std::chrono::milliseconds>(at - now);
    }

    void Turn() {
        auto now = SteadyClock::now();
        auto wait = config_.replyTimeout;
        for (const auto& slot : slots_) {
            switch (slot.state) {
                case State::AwaitCard:
                case State::AwaitResult:
                    wait = std::min(wait, Until(slot.sentAt + config_.replyTimeout, now));
                    break;
                case State::Resting:
                    wait = std::min(wait, Until(slot.nextCycle, now));
                    break;
                case State::Turning:
                    wait = std::min(wait, Until(slot.turnAt, now));
                    break;
                case State::Greeting:
                    wait = std::min(wait, Until(slot.greetBy, now));
                    break;
                case State::Reconnecting:
                    wait = std::min(wait, Until(slot.retryAt, now));
                    break;
                case State::Connecting:
                    wait = std::min(wait, Until(slot.tryStart + config_.connectTimeout, now));
                    break;
                default:
                    break;
            }
        }
        PollOnce(std::max(wait, std::chrono::milliseconds(0)));

        now = SteadyClock::now();
        for (auto& slot : slots_) {
            if (slot.state == State::Reconnecting) {
                if (now >= slot.retryAt) Try(slot, now);
                continue;
            }
            if (slot.state == State::Connecting) {
                if (now - slot.tryStart > config_.connectTimeout) {
                    slot.terminal.Abort();
                    TryFailed(slot, now);
                }
                continue;
            }
            while (Active(slot.state) && !Disconnected(slot.state)) {
                auto frame = slot.terminal.PopMessage();
                if (!frame) break;
                Handle(slot, *frame);
            }
            if (slot.state == State::Greeting) {
                if (slot.wake && slot.clock)
                    slot.state = slot.resume;
                else if (now >= slot.greetBy || slot.terminal.PeerClosed() ||
                         (!slot.wake && now - slot.tryStart > config_.replyTimeout))
                    Lost(slot, now);
                if (slot.state == State::Greeting || Disconnected(slot.state)) continue;
            }
            // A close seen in this pass comes before anything due now: a turnstile result
            // written into a connection the receiver has left would reach nobody.
            if (config_.reconnect && Active(slot.state) && slot.terminal.PeerClosed()) {
                Lost(slot, now);
                continue;
            }
            if (slot.state == State::Resting && now >= slot.nextCycle) SendCard(slot);
            if (slot.state == State::Turning && now >= slot.turnAt) SendResult(slot);
            if (!Active(slot.state) || Disconnected(slot.state)) continue;
            if (config_.reconnect) {
                if (Waiting(slot.state) && now - slot.sentAt > config_.replyTimeout)
                    Lost(slot, now);
                continue;
            }
            if (!Waiting(slot.state)) continue;
            if (slot.terminal.PeerClosed() || now - slot.sentAt > config_.replyTimeout) {
                ++summary_.lost;
                slot.owed = true;
            }
            if (slot.terminal.PeerClosed()) {
                Fail(slot, "the receiver closed the connection while a reply was due");
            } else if (now - slot.sentAt > config_.replyTimeout) {
                Fail(slot,
                     "no reply within " + std::to_string(config_.replyTimeout.count()) + " ms");
            }
        }
    }

    bool Over(const Slot& slot, SteadyClock::time_point now) const {
        return config_.duration.count() > 0 ? now - start_ >= config_.duration
                                            : slot.cycles + slot.lost >= config_.cycles;
    }

    // The connection is gone (or no longer trusted): drop it and try again after the
    // back-off. What was due on it decides what the terminal does once it is back.
    void Lost(Slot& slot, SteadyClock::time_point now) {
        if (Waiting(slot.state)) {
            ++slot.lost;
            ++summary_.lost;
            slot.owed = true;
            // The card read is over; the next one comes at its usual moment.
            slot.resume = State::Resting;
            if (!RandomMoments())
                slot.nextCycle =
                    config_.interval.count() > 0 ? slot.cycleStart + config_.interval : now;
        } else if (slot.state != State::Greeting) {
            slot.resume = slot.state;
        }
        slot.terminal.Abort();
        if (slot.resume == State::Resting && Over(slot, now)) {
            slot.state = State::Done;
            return;
        }
        slot.lostAt = now;
        slot.state = State::Reconnecting;
        slot.retryAt = now + slot.backoff;
    }

    void Try(Slot& slot, SteadyClock::time_point now) {
        slot.tryStart = now;
        try {
            slot.state = State::Connecting;
            if (slot.terminal.BeginConnect(config_.host, config_.port, slot.from))
                Reconnected(slot);
        } catch (const SimError&) {
            TryFailed(slot, now);
        }
    }

    void TryFailed(Slot& slot, SteadyClock::time_point now) {
        ++summary_.failedReconnects;
        slot.backoff = std::min<SteadyClock::duration>(slot.backoff * 2, config_.reconnectMaxDelay);
        if (config_.duration.count() > 0 ? now >= end_
                                         : now - slot.lostAt >= config_.connectTimeout) {
            if (config_.duration.count() > 0)
                slot.state = State::Done;
            else
                Fail(slot, "no connection again within " +
                               std::to_string(config_.connectTimeout.count()) + " ms");
            return;
        }
        slot.state = State::Reconnecting;
        slot.retryAt = now + slot.backoff;
    }

    void Reconnected(Slot& slot) {
        ++summary_.reconnections;
        slot.state = slot.resume;
        if (slot.resume == State::Turning) slot.carried = true;
        if (!config_.awaitGreeting) return;
        // The receiver holds a registered terminal's messages until its clock message, a
        // second after the wake: a card read sent before would wait that long for its reply.
        // The wake comes at once: without it within replyTimeout nobody serves the connection
        // (a frozen receiver's system still accepts it).
        slot.wake = slot.clock = false;
        slot.state = State::Greeting;
        slot.greetBy = SteadyClock::now() + (config_.greetingTimeout.count() > 0
                                                 ? config_.greetingTimeout
                                                 : std::chrono::milliseconds(3500));
    }

    bool Greeting(Slot& slot, const Inbound& frame) {
        Reply reply = ParseReply(frame.bytes);
        if (reply.kind != ReplyKind::Wake && reply.kind != ReplyKind::Clock) return false;
        ++summary_.greetings;
        (reply.kind == ReplyKind::Wake ? slot.wake : slot.clock) = true;
        if (!reply.WellFormed()) Note(slot, frame, reply);
        return true;
    }

    void Handle(Slot& slot, const Inbound& frame) {
        if (Greeting(slot, frame)) return;
        Reply reply = ParseReply(frame.bytes);
        bool answersCard = slot.state == State::AwaitCard &&
                           (reply.kind == ReplyKind::HandIn || reply.kind == ReplyKind::Refusal);
        bool answersResult = slot.state == State::AwaitResult && reply.kind == ReplyKind::Refusal;
        if (!answersCard && !answersResult) {
            ++summary_.unexpected;
            Note(slot, frame, reply);
            return;
        }
        if (!reply.WellFormed()) Note(slot, frame, reply);
        summary_.latencies.push_back(frame.at - slot.sentAt);
        ++summary_.replies;
        ++(reply.kind == ReplyKind::HandIn ? summary_.handIns : summary_.refusals);
        lastReply_ = std::max(lastReply_, frame.at);
        slot.longestSilence = std::max(slot.longestSilence, frame.at - slot.lastAnswer);
        slot.lastAnswer = frame.at;
        slot.owed = false;
        slot.backoff = config_.reconnectDelay;

        // A refused card never reaches the turnstile: a terminal reports a result only for a
        // card it took in. Unregistered traffic (--result-reply) sends its results anyway, to
        // time their refusals.
        if (answersCard && (reply.kind == ReplyKind::HandIn || config_.resultGetsReply)) {
            slot.state = State::Turning;
            slot.turnAt = frame.at + config_.turnDelay;
            if (config_.turnDelay.count() <= 0) SendResult(slot);
            return;
        }
        EndCycle(slot);
    }

    void SendResult(Slot& slot) {
        if (!Send(slot, BuildTurnstileResult(slot.number, config_.outcome))) return;
        if (std::exchange(slot.carried, false)) ++summary_.resultsCarried;
        if (config_.resultGetsReply)
            slot.state = State::AwaitResult;
        else
            EndCycle(slot);
    }

    void EndCycle(Slot& slot) {
        ++slot.cycles;
        if (config_.cyclesSoFar) config_.cyclesSoFar->fetch_add(1, std::memory_order_relaxed);
        bool more = !Over(slot, SteadyClock::now());
        if (RandomMoments()) {
            // The next moment was drawn when this cycle began; it may have passed already.
            slot.state = more && slot.nextCycle < end_ ? State::Resting : State::Done;
        } else if (more && config_.interval.count() > 0) {
            slot.state = State::Resting;
            slot.nextCycle = slot.cycleStart + config_.interval;
        } else if (more) {
            SendCard(slot);
        } else {
            slot.state = State::Done;
        }
    }

    void SendCard(Slot& slot) {
        const std::string& card = config_.cards.empty() ? config_.card : RandomCard();
        // Resting until the read is out: a send that fails leaves the card to be read again.
        slot.state = State::Resting;
        if (Send(slot, BuildCardRead(slot.number, card, CardTime::Now()))) {
            slot.state = State::AwaitCard;
            slot.cycleStart = slot.sentAt;
            slot.owed = true;
            ++summary_.offered;
            if (RandomMoments()) slot.nextCycle += RandomGap();
        }
    }

    const std::string& RandomCard() {
        std::uniform_int_distribution<std::size_t> pick(0, config_.cards.size() - 1);
        return config_.cards[pick(random_)];
    }

    bool RandomMoments() const { return config_.randomMoments && config_.interval.count() > 0; }

    SteadyClock::duration RandomGap() {
        const double mean = std::chrono::duration<double>(config_.interval).count();
        const double gap = std::exponential_distribution<double>(1.0 / mean)(random_);
        return std::chrono::duration_cast<SteadyClock::duration>(
            std::chrono::duration<double>(gap));
    }

    bool Send(Slot& slot, const std::string& message) {
        try {
            slot.sentAt = slot.terminal.SendRaw(message);
            ++summary_.messagesSent;
            return true;
        } catch (const SimError& e) {
            if (config_.reconnect)
                Lost(slot, SteadyClock::now());
            else
                Fail(slot, e.what());
            return false;
        }
    }

    void Fail(Slot& slot, const std::string& why) {
        slot.state = State::Failed;
        AddProblem((slot.terminal.Connected() ? slot.terminal.LocalAddress() : slot.from) + ": " +
                   why);
    }

    void Note(Slot& slot, const Inbound& frame, const Reply& reply) {
        AddProblem(slot.terminal.LocalAddress() + ": " + Visible(frame.bytes) + " (" +
                   (reply.WellFormed() ? "answers nothing" : reply.problem) + ")");
    }

    void AddProblem(std::string text) {
        if (summary_.problems.size() < kMaxProblems) summary_.problems.push_back(std::move(text));
    }

    const LoadConfig& config_;
    std::vector<Slot> slots_;
    std::vector<pollfd> fds_;
    std::vector<std::size_t> index_;
    std::mt19937_64 random_;
    SteadyClock::time_point start_{}, lastReply_{}, end_{};
    LoadSummary summary_;
};

double Seconds(std::chrono::nanoseconds span) {
    return std::chrono::duration<double>(span).count();
}

double Millis(std::chrono::nanoseconds span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

}  // namespace

LoadSummary RunLoad(const LoadConfig& config) { return Driver(config).Run(); }

double LoadSummary::RepliesPerSecond() const {
    double s = Seconds(elapsed);
    return s > 0 ? replies / s : 0.0;
}

double LoadSummary::OfferedPerSecond() const {
    double s = Seconds(scheduled.count() > 0 ? scheduled : elapsed);
    return s > 0 ? offered / s : 0.0;
}

double LoadSummary::MessagesPerSecond() const {
    double s = Seconds(elapsed);
    return s > 0 ? (messagesSent + replies + unexpected) / s : 0.0;
}

std::chrono::nanoseconds LoadSummary::Percentile(double p) const {
    if (latencies.empty()) return {};
    std::vector<std::chrono::nanoseconds> sorted(latencies);
    std::sort(sorted.begin(), sorted.end());
    auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

std::chrono::nanoseconds LoadSummary::Max() const {
    if (latencies.empty()) return {};
    return *std::max_element(latencies.begin(), latencies.end());
}

std::chrono::nanoseconds LoadSummary::LongestSilence() const {
    if (longestSilence.empty()) return {};
    return *std::max_element(longestSilence.begin(), longestSilence.end());
}

std::string LoadSummary::Format() const {
    char text[768];
    std::snprintf(text, sizeof text,
                  "terminals %d (%d failed), cycles %ld, messages sent %ld, replies %ld "
                  "(hand-in %ld, refusal %ld), greetings %ld, unexpected %ld\n"
                  "elapsed %.3f s, %.1f replies/s, %.1f messages/s\n"
                  "latency p50 %.3f ms, p99 %.3f ms, max %.3f ms\n"
                  "replies lost %ld, reconnections %ld (failed tries %ld), turnstile results "
                  "on a new connection %ld, longest without an answer %.3f s\n",
                  terminals, failedTerminals, cycles, messagesSent, replies, handIns, refusals,
                  greetings, unexpected, Seconds(elapsed), RepliesPerSecond(), MessagesPerSecond(),
                  Millis(Percentile(50)), Millis(Percentile(99)), Millis(Max()), lost,
                  reconnections, failedReconnects, resultsCarried, Seconds(LongestSilence()));
    std::string out = text;
    if (reconnections > 0 || lost > 0) {
        out += "without an answer, per terminal (s):";
        for (auto silence : longestSilence) {
            std::snprintf(text, sizeof text, " %.3f", Seconds(silence));
            out += text;
        }
        out += "\n";
    }
    for (const auto& problem : problems) out += "problem: " + problem + "\n";
    return out;
}

}  // namespace termsim
