// One epoll set for the connection sockets of a thread, watched by a single notifier.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <unordered_map>

class QSocketNotifier;

// The event loop polls every descriptor that has a notifier at each of its passes, so with a
// notifier per connection a pass costs all connections even when one of them is ready. Here
// the connections share one epoll descriptor: the loop polls that one, and a pass reads only
// the ready ones from it.
//
// Level-triggered: whatever one pass leaves (a paused read, a batch too large) comes again at
// the next. A readiness handler may run a nested event loop (a message box) in which further
// readiness is dispatched, and may close or destroy sockets, its own included: every reported
// event is checked against the registration as it stands when its turn comes.
class TSockReadiness : public std::enable_shared_from_this<TSockReadiness> {
  public:
    // Told when its descriptor is ready; `events` are epoll's bits.
    class Client {
      public:
        virtual void ReadinessReady(uint32_t events) = 0;

      protected:
        ~Client() = default;
    };

    // The set of the calling thread, made when the first socket asks for it and closed when
    // the last one lets go.
    static std::shared_ptr<TSockReadiness> ForThisThread();
    ~TSockReadiness();
    TSockReadiness(const TSockReadiness&) = delete;
    TSockReadiness& operator=(const TSockReadiness&) = delete;

    // A registration for the descriptor, watching nothing yet; 0 when epoll refused (the
    // caller then has no readiness at all, which the first Watch reports).
    uint64_t Add(int fd, Client* client);
    // What the registration waits for (EPOLLIN, EPOLLOUT or both); nothing takes the
    // descriptor out of the set, so that a paused socket whose peer failed does not report
    // its error at every pass. False when epoll refused.
    bool Watch(uint64_t token, uint32_t events);
    // Before the descriptor closes.
    void Remove(uint64_t token);

    // Registrations held (tests).
    size_t Size() const { return entries_.size(); }

  private:
    TSockReadiness();
    void Dispatch();

    struct Entry {
        int fd;
        Client* client;
        uint32_t events;  // what is asked for; 0: out of the epoll set
    };
    int epoll_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::unordered_map<uint64_t, Entry> entries_;
    uint64_t nextToken_ = 1;
};
