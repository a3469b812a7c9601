// The module simulator: plays any number of first- and second-family modules on loopback
// addresses, answering the manager's UDP commands from one poll loop on its own thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Modules.h"

namespace modsim {

using WallClock = std::chrono::system_clock;

// One datagram that reached the simulator.
struct Received {
    WallClock::time_point at;
    std::string from;  // sender address
    uint16_t fromPort = 0;
    std::string to;  // destination address: 255.255.255.255 or a module's address
    uint16_t toPort = 0;
    std::string text;
};

struct SimOptions {
    uint16_t tibboPort = 65535;
    uint16_t brivantPort = 30303;
    // Every datagram received and sent is printed here, one line each; nullptr prints nothing.
    std::ostream* out = nullptr;
};

class ModuleSim {
  public:
    explicit ModuleSim(Modules modules, SimOptions options = {});
    ~ModuleSim();  // stops
    ModuleSim(const ModuleSim&) = delete;
    ModuleSim& operator=(const ModuleSim&) = delete;

    // Binds the two ports and starts the loop on a thread of its own. Throws SimError when
    // not in a private network namespace, when a module address is not loopback, or when a
    // port cannot be bound.
    void Start();
    // Stops the loop and closes the sockets; replies still waiting for their time are dropped.
    // Start may be called again afterwards.
    void Stop();
    bool Running() const { return thread_.joinable(); }

    // The modules as they are now (addresses, applied and staged settings, login state).
    Modules Snapshot() const;
    // Changes modules or behaviours between steps; takes effect from the next datagram.
    void Modify(const std::function<void(Modules&)>& change);

    std::vector<Received> Log() const;
    void ClearLog();

  private:
    struct Impl;
    void Loop();

    SimOptions options_;
    mutable std::mutex mutex_;
    Modules modules_;
    std::vector<Received> log_;
    std::unique_ptr<Impl> impl_;  // sockets and the send queue, while running
    std::thread thread_;
};

}  // namespace modsim
