// Marks the changes a peer's traffic makes to the tables, as opposed to the operator's own.
#pragma once

namespace common {

// Held while a terminal's message is handled. Views may show the changes made meanwhile at a
// calmer pace than the operator's actions: at peak, a grid that selected and scrolled for
// every card read would spend more time painting than the replies take, for changes nobody
// can read at that speed anyway. Scopes nest; only the thread that holds one sees it.
class TrafficChanges {
  public:
    TrafficChanges() { ++depth_; }
    ~TrafficChanges() { --depth_; }
    TrafficChanges(const TrafficChanges&) = delete;
    TrafficChanges& operator=(const TrafficChanges&) = delete;

    static bool Active() { return depth_ > 0; }

  private:
    static inline thread_local int depth_ = 0;
};

}  // namespace common
