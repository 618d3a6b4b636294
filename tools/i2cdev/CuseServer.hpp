// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "I2cDevAdapter.hpp"

struct fuse_session;

namespace CorvaneI2cDev {

// Serves an I2cDevAdapter as the character device /dev/NAME through CUSE
// (the kernel's cuse module, /dev/cuse). Requests are answered one at a time,
// in the order they come, whichever process sends them.
class CuseServer {
  public:
    CuseServer(I2cDevAdapter& adapter, std::string name);

    // Creates the node and serves it until SIGTERM, SIGINT or SIGHUP; the node
    // goes away when this returns. `ready` is called with the node's path once
    // it exists. Returns 0, or 1 after printing why the node could not be made.
    int Run(std::function<void(const std::string& path)> ready);

    I2cDevAdapter& Adapter() { return adapter_; }
    void NodeReady();

    // For a daemon that follows its bridge (FollowBridge.hpp). Files opened
    // before Retire() answer every request with ENODEV from then on, as a
    // kernel bus's files do once its adapter is gone; so do opens while the
    // bridge is away (SetPresent(false)).
    void Retire() { ++generation_; }
    void SetPresent(bool present) { present_ = present; }
    int OpenFiles() const { return openFiles_; }
    // Calls `tick` from the serving thread, between requests, at least every
    // `period`; serving ends, as after a signal, when it returns false
    // (StoppedByTick() tells the two apart).
    void EveryPeriod(std::chrono::milliseconds period, std::function<bool()> tick);
    bool StoppedByTick() const { return stoppedByTick_; }

    // The files' side of the above, for the request handlers.
    std::uint64_t OpenFile();
    void CloseFile() { --openFiles_; }
    bool Current(std::uint64_t generation) const { return present_ && generation == generation_; }

  private:
    int Serve(fuse_session* session);

    I2cDevAdapter& adapter_;
    std::string name_;
    std::function<void(const std::string&)> ready_;
    std::uint64_t generation_ = 0;
    bool present_ = true;
    int openFiles_ = 0;
    std::chrono::milliseconds period_{0};
    std::function<bool()> tick_;
    bool stoppedByTick_ = false;
};

}  // namespace CorvaneI2cDev
