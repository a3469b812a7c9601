// One epoll set for the connection sockets of a thread, watched by a single notifier.
#include "receiver/link/SockReadiness.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace {

// Ready descriptors taken in one pass at most; more wait for the next pass (level-triggered).
constexpr int kPorPassagem = 256;

thread_local std::weak_ptr<TSockReadiness> t_readiness;

}  // namespace

std::shared_ptr<TSockReadiness> TSockReadiness::ForThisThread() {
    if (auto existing = t_readiness.lock()) return existing;
    std::shared_ptr<TSockReadiness> made(new TSockReadiness());
    t_readiness = made;
    return made;
}

TSockReadiness::TSockReadiness() {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) return;
    notifier_ = new QSocketNotifier(epoll_, QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { Dispatch(); });
}

TSockReadiness::~TSockReadiness() {
    // The last socket may let go inside a dispatch of this very notifier, which guards
    // itself against being deleted from its own activation.
    delete notifier_;
    if (epoll_ >= 0) ::close(epoll_);
}

uint64_t TSockReadiness::Add(int fd, Client* client) {
    if (epoll_ < 0 || fd < 0) return 0;
    const uint64_t token = nextToken_++;
    entries_.emplace(token, Entry{fd, client, 0});
    return token;
}

bool TSockReadiness::Watch(uint64_t token, uint32_t events) {
    const auto found = entries_.find(token);
    if (found == entries_.end()) return false;
    Entry& e = found->second;
    if (e.events == events) return true;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = token;
    int r = 0;
    if (events == 0) {
        r = ::epoll_ctl(epoll_, EPOLL_CTL_DEL, e.fd, nullptr);
    } else if (e.events == 0) {
        r = ::epoll_ctl(epoll_, EPOLL_CTL_ADD, e.fd, &ev);
        // The descriptor number was closed and reused behind our back: take it over.
        if (r != 0 && errno == EEXIST) r = ::epoll_ctl(epoll_, EPOLL_CTL_MOD, e.fd, &ev);
    } else {
        r = ::epoll_ctl(epoll_, EPOLL_CTL_MOD, e.fd, &ev);
    }
    if (r != 0 && events != 0) return false;
    e.events = events;
    return true;
}

void TSockReadiness::Remove(uint64_t token) {
    const auto found = entries_.find(token);
    if (found == entries_.end()) return;
    if (found->second.events != 0) ::epoll_ctl(epoll_, EPOLL_CTL_DEL, found->second.fd, nullptr);
    entries_.erase(found);
}

void TSockReadiness::Dispatch() {
    // Kept alive until the pass is over, whatever the handlers destroy.
    const auto self = shared_from_this();
    epoll_event ready[kPorPassagem];
    int n = 0;
    do {
        n = ::epoll_wait(epoll_, ready, kPorPassagem, 0);
    } while (n < 0 && errno == EINTR);
    for (int i = 0; i < n; ++i) {
        const auto found = entries_.find(ready[i].data.u64);
        if (found == entries_.end()) continue;  // closed meanwhile
        // Only what is still asked for: a handler before this one (or a nested loop) may have
        // paused the reading or sent the pending output.
        uint32_t events = ready[i].events;
        const uint32_t asked = found->second.events;
        if (events & (EPOLLERR | EPOLLHUP)) events |= asked;
        events &= asked;
        if (events != 0) found->second.client->ReadinessReady(events);
    }
}
