#pragma once

#include <functional>
#include <string>

#include "I2cDevAdapter.hpp"

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

  private:
    I2cDevAdapter& adapter_;
    std::string name_;
    std::function<void(const std::string&)> ready_;
};

}  // namespace CorvaneI2cDev
