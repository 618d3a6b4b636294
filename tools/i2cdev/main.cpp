// SPDX-License-Identifier: MIT
// corvane-i2cdev: a Corvane bridge's I2C bus as /dev/i2c-N, the node every
// Linux I2C program (i2c-tools, smbus2, i2c-dev users) opens, served from user
// space through CUSE. With --sim it serves the virtual chip of `corvane --sim`.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <corvane/I2cBus.hpp>

#include <cstdio>
#include <iostream>
#include <string>

#include "../CommandLine.hpp"
#include "../Tool.hpp"
#include "CuseServer.hpp"
#include "FollowBridge.hpp"
#include "I2cDevAdapter.hpp"

namespace {

// The first bus number with no /dev/i2c-N: kernel buses keep theirs.
int FreeBusNumber() {
    for (int n = 0;; ++n) {
        struct stat node {};
        if (stat(("/dev/i2c-" + std::to_string(n)).c_str(), &node) != 0) return n;
    }
}

// Forks; the parent waits until the child reports the node's path (printed,
// exit 0) or ends without one (exit 1). Returns the write end in the child.
int Daemonise() {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return -1;
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child > 0) {
        close(pipeFds[1]);
        std::string line;
        char c;
        while (read(pipeFds[0], &c, 1) == 1) line += c;
        if (line.empty()) std::_Exit(1);
        std::cout << line << std::flush;
        std::_Exit(0);
    }
    close(pipeFds[0]);
    setsid();
    return pipeFds[1];
}

// Once the node exists the child no longer talks to whoever started it, so
// that a shell's $(corvane-i2cdev) returns.
void Detach(int readyFd, const std::string& path) {
    const std::string line = path + "\n";
    if (write(readyFd, line.data(), line.size()) < 0) std::_Exit(1);
    close(readyFd);
    const int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
    if (null > 2) close(null);
    if (chdir("/") != 0) std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    using CorvaneTool::Failure;
    using CorvaneTool::UsageError;

    CorvaneTool::Tool tool;
    CorvaneTool::GlobalOptions& options = tool.options;
    int bus = -1;
    bool foreground = false;

    CLI::App app{
        "Serves a Corvane bridge's I2C bus as /dev/i2c-N for i2c-tools, smbus2 and every "
        "i2c-dev program.",
        "corvane-i2cdev"};
    app.set_version_flag("--version", std::string("corvane-i2cdev ") + CORVANE_TOOL_VERSION);
    app.add_option("--bus", bus, "create /dev/i2c-N (default: the first N with no node)")
        ->type_name("N")
        ->check(CLI::Range(0, 1 << 20));
    app.add_option("--vid", options.vid, "USB vendor ID to search for (0x for hexadecimal)")
        ->type_name("ID")
        ->capture_default_str();
    app.add_option("--pid", options.pid, "USB product ID to search for (0x for hexadecimal)")
        ->type_name("ID")
        ->capture_default_str();
    auto* device =
        app.add_option("--device", options.device, "use device N of those found, numbered from 0")
            ->type_name("N");
    auto* serial =
        app.add_option("--serial", options.serial, "use the device with this USB serial number")
            ->type_name("TEXT")
            ->excludes(device);
    app.add_option("--path", options.path, "use the device at this path (see 'corvane list')")
        ->type_name("PATH")
        ->excludes(device)
        ->excludes(serial);
    app.add_option("--speed", options.speed, "I2C bus clock in Hz")
        ->type_name("HZ")
        ->capture_default_str();
    app.add_option("--pacing", options.pacing,
                   "bus-time: wait only for the bytes' wire time between reports; fixed: the "
                   "device's fixed pauses")
        ->check(CLI::IsMember({"fixed", "bus-time"}))
        ->capture_default_str();
    app.add_option("--busy-timeout", options.busyTimeout,
                   "wait at most MS while another program uses the bridge, then fail the "
                   "request with EBUSY")
        ->type_name("MS")
        ->capture_default_str();
    app.add_flag("--sim", options.sim, "serve the virtual chip of 'corvane --sim' instead");
    app.add_option("--sim-state", options.simState,
                   "the virtual chip's state file (default as for 'corvane --sim')")
        ->type_name("FILE");
    app.add_flag("--sim-reset", options.simReset, "start the virtual chip afresh");
    app.add_flag("-f,--foreground", foreground, "stay in the foreground (for systemd)");
    CorvaneI2cDev::FollowOptions follow;
    CorvaneI2cDev::AddFollowOptions(app, follow);
    app.footer(
        "Prints the node's path once it exists, serves until SIGTERM, SIGINT or SIGHUP, then\n"
        "removes the node. Needs the cuse kernel module and access to /dev/cuse (root).\n"
        "Exit status: 0 after a signal, 1 no bridge or no node, 2 a wrong command line.\n"
        "'man corvane-i2cdev' describes it all.");
    if (const auto status = CorvaneTool::ParseCommandLine(app, argc, argv)) return *status;

    // A wrong option ends the run here, with 2, before the daemon leaves.
    try {
        tool.CheckOptions();
    } catch (const UsageError& e) {
        std::cerr << "corvane-i2cdev: " << e.what() << '\n';
        return 2;
    }
    const int readyFd = foreground ? -1 : Daemonise();
    if (!foreground && readyFd < 0) {
        std::perror("corvane-i2cdev: cannot start in the background");
        return 1;
    }
    try {
        tool.Start();
        const auto announce = [&](const std::string& path) {
            if (foreground) {
                std::cout << path << std::endl;
            } else {
                Detach(readyFd, path);
            }
        };
        if (!follow.bridge.empty()) {
            const int status = CorvaneI2cDev::FollowBridge(follow, tool, bus, announce);
            tool.Finish();
            return status;
        }
        Corvane::I2cBus i2c(tool.Handle(CorvaneTool::Use::Change, false), tool.Speed());
        const std::string name = "i2c-" + std::to_string(bus >= 0 ? bus : FreeBusNumber());
        if (struct stat node{}; stat(("/dev/" + name).c_str(), &node) == 0) {
            throw UsageError("/dev/" + name + " exists already: choose another --bus");
        }
        CorvaneI2cDev::I2cDevAdapter adapter(i2c);
        CorvaneI2cDev::CuseServer server(adapter, name);
        const int status = server.Run(announce);
        tool.Finish();
        return status;
    } catch (const UsageError& e) {
        std::cerr << "corvane-i2cdev: " << e.what() << '\n';
        return 2;
    } catch (const Failure& e) {
        std::cerr << "corvane-i2cdev: " << e.what() << '\n';
        return 1;
    }
}
