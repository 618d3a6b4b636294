// SPDX-License-Identifier: MIT
#include "FollowBridge.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <corvane/BridgeHandle.hpp>
#include <corvane/I2cBus.hpp>
#include <corvane/ResultCodes.hpp>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <thread>

#include "../Tool.hpp"
#include "BusNumbers.hpp"
#include "CuseServer.hpp"
#include "I2cDevAdapter.hpp"

namespace CorvaneI2cDev {

namespace {

// How often the bridge's presence is checked: a client sees ENODEV, and a
// returning bridge its node, within this time.
constexpr std::chrono::milliseconds kPresencePeriod{200};

volatile std::sig_atomic_t stopSignal = 0;

void OnStopSignal(int signal) {
    stopSignal = signal;
}

// Ours for the whole run, so that libfuse leaves them alone (it installs its
// own only where nothing is) and no signal finds the default action between
// two sessions. No SA_RESTART: a wait or poll() returns at once.
void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool Exists(const std::string& path) {
    struct stat node {};
    return !path.empty() && stat(path.c_str(), &node) == 0;
}

bool NodeExists(int bus) {
    return Exists("/dev/i2c-" + std::to_string(bus));
}

// The node while its bridge is away: removed, and made again as it was (the
// owner and mode udev gave it) when the bridge returns to the same session.
class Node {
  public:
    explicit Node(std::string path) : path_(std::move(path)) {}

    void Remove() {
        if (stat(path_.c_str(), &saved_) != 0 || unlink(path_.c_str()) != 0) {
            std::cerr << "corvane-i2cdev: cannot remove " << path_ << ": " << std::strerror(errno)
                      << '\n';
            saved_.st_rdev = 0;
        }
    }

    void Restore() {
        if (saved_.st_rdev == 0) return;
        const mode_t mode = saved_.st_mode & 07777;
        if (mknod(path_.c_str(), S_IFCHR | mode, saved_.st_rdev) != 0 ||
            chown(path_.c_str(), saved_.st_uid, saved_.st_gid) != 0 ||
            chmod(path_.c_str(), mode) != 0) {
            std::cerr << "corvane-i2cdev: cannot make " << path_
                      << " again: " << std::strerror(errno) << '\n';
        }
    }

  private:
    std::string path_;
    struct stat saved_ {};
};

Corvane::BridgeChoice Choice(const FollowOptions& options, const CorvaneTool::Tool& tool) {
    Corvane::BridgeChoice choice;
    choice.vendorId = tool.Vid();
    choice.productId = tool.Pid();
    (options.bridge.starts_with('/') ? choice.path : choice.serial) = options.bridge;
    return choice;
}

// Waits until the bridge is there (a handle on it) or a stop signal came (null).
std::shared_ptr<Corvane::BridgeHandle> WaitForBridge(const Corvane::BridgeChoice& choice) {
    std::shared_ptr<Corvane::BridgeHandle> handle;
    while (stopSignal == 0 && Corvane::BridgeHandle::Open(choice, handle) != Corvane::SUCCESS) {
        std::this_thread::sleep_for(kPresencePeriod);
    }
    return stopSignal == 0 ? handle : nullptr;
}

}  // namespace

void AddFollowOptions(CLI::App& app, FollowOptions& options) {
    app.add_option("--follow", options.bridge,
                   "serve the bridge with this serial number (or at this device path) whenever "
                   "it is plugged in, under the same N every time")
        ->type_name("BRIDGE")
        ->excludes(app.get_option("--serial"))
        ->excludes(app.get_option("--device"));
    app.add_flag("--exit-when-gone", options.exitWhenGone,
                 "with --follow: end once the bridge is gone and no file is open (for udev and "
                 "systemd)");
    app.add_option("--config", options.config, "with --follow: the bus numbers' configuration")
        ->type_name("FILE")
        ->capture_default_str();
    app.add_option("--state", options.state, "with --follow: the bus numbers handed out")
        ->type_name("FILE")
        ->capture_default_str();
}

int FollowBridge(const FollowOptions& options, CorvaneTool::Tool& tool, int bus,
                 const std::function<void(const std::string& path)>& ready) {
    CatchStopSignals();
    try {
        if (bus < 0) {
            bus = BusNumberFor(options.bridge, ReadBusConfig(options.config), options.state,
                               NodeExists);
        }
    } catch (const std::runtime_error& e) {
        throw CorvaneTool::Failure(e.what());
    }
    const std::string name = "i2c-" + std::to_string(bus);
    const Corvane::BridgeChoice choice = Choice(options, tool);
    bool announced = false;

    while (const auto handle = WaitForBridge(choice)) {
        if (NodeExists(bus)) {
            std::cerr << "corvane-i2cdev: /dev/" << name
                      << " exists already (another daemon, or a kernel bus): choose another "
                         "number in "
                      << options.config << '\n';
            return 1;
        }
        Corvane::I2cBus i2c(handle, tool.Speed());
        I2cDevAdapter adapter(i2c);
        CuseServer server(adapter, name);
        Node node("/dev/" + name);
        bool present = true;
        // While it is there, its node tells: a discovery pass, which asks
        // each bridge for its serial number, only while it is away.
        const bool pathIsNode = Exists(handle->Path());
        server.EveryPeriod(kPresencePeriod, [&] {
            if (stopSignal != 0) return false;
            const bool now = present && pathIsNode ? Exists(handle->Path()) : handle->IsAttached();
            if (present && !now) {
                server.Retire();
                server.SetPresent(false);
                node.Remove();
                std::cerr << "corvane-i2cdev: " << options.bridge << " is gone\n";
            } else if (!present && now) {
                server.SetPresent(true);
                node.Restore();
                std::cerr << "corvane-i2cdev: " << options.bridge << " is back\n";
            }
            present = now;
            // Open files keep the session, and with it ENODEV for them.
            return present || server.OpenFiles() > 0;
        });
        const int status = server.Run([&](const std::string& path) {
            if (!announced) ready(path);
            announced = true;
        });
        if (!server.StoppedByTick()) return status;  // the node could not be made
        if (stopSignal != 0 || options.exitWhenGone) return 0;
    }
    return 0;
}

}  // namespace CorvaneI2cDev
