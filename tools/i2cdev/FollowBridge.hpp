// SPDX-License-Identifier: MIT
#pragma once

// corvane-i2cdev --follow: one bridge, by serial number or device path, as
// /dev/i2c-N whenever it is plugged in. The daemon waits for the bridge and
// serves the node while it is present. When the bridge is pulled, files open
// on the node answer ENODEV from then on and the node goes; when it comes back
// the node returns under the same number and new opens reach it. The number
// is the same every time (BusNumbers.hpp).
//
// With --exit-when-gone the daemon ends once the bridge is gone and no file is
// open on the node: udev and systemd start one daemon per plugged bridge
// (udev/60-corvane-i2cdev-plug.rules, corvane-i2cdev@.service).

#include <functional>
#include <string>

namespace CLI {
class App;
}
namespace CorvaneTool {
class Tool;
}

namespace CorvaneI2cDev {

struct FollowOptions {
    std::string bridge;  // a serial number, or a device path (begins with '/')
    bool exitWhenGone = false;
    std::string config = "/etc/corvane/i2cdev.conf";
    std::string state = "/var/lib/corvane/i2cdev-buses";
};

// --follow, --exit-when-gone, --config, --state.
void AddFollowOptions(CLI::App& app, FollowOptions& options);

// Follows the bridge until SIGTERM, SIGINT or SIGHUP (or, with exitWhenGone,
// until it has gone). `bus` < 0 takes the number from the configuration.
// `ready` is called with the node's path the first time it exists. Returns
// the exit status; throws CorvaneTool::Failure when no number can be had.
int FollowBridge(const FollowOptions& options, CorvaneTool::Tool& tool, int bus,
                 const std::function<void(const std::string& path)>& ready);

}  // namespace CorvaneI2cDev
